// Reading of scenario timeline entries: when a change happens and what it is, with the hops and
// adapters it names checked against the world read so far. Used only by the scenario loader.
// Pure function; any thread.
#pragma once

#include <string>

#include "base/json_value.h"
#include "platform/sim/sim_world_config.h"

namespace quillon::sim {

// Reads one entry of "timeline" found at `at`; false with "where: what" in error.
bool ReadTimelineChange(const JsonValue& value, const std::string& at, const WorldConfig& world,
                        TimelineEvent& event, std::string& error);

}  // namespace quillon::sim
