// Scenario files: a simulated world written as JSON (the format is described in
// docs/scenarios.md). Loading checks the whole file and reports the first problem with where it
// is ("paths[0].hops[2].address: ...") instead of loading a partial world; no input, however
// malformed, makes it crash or throw. Used by tests and by the simulate command line mode.
// Pure functions apart from reading the file; any thread.
#pragma once

#include <string>
#include <string_view>

#include "platform/sim/sim_world_config.h"

namespace quillon::sim {

struct ScenarioLoad {
    bool ok = false;
    WorldConfig world;  // when ok
    std::string error;  // when not ok: where and what
};

ScenarioLoad LoadScenarioText(std::string_view json);
// Errors start with the file's path.
ScenarioLoad LoadScenarioFile(const std::string& path);

}  // namespace quillon::sim
