// SimAutostart: the simulated computer's launch-at-startup entry, kept in memory for the run.
// A simulated run never touches the real desktop's startup entries (one would start the real
// program at the next log-on); tests set the failure flags to see the core's reaction.
#pragma once

#include <optional>
#include <string>

#include "platform/autostart.h"

namespace quillon::sim {

class SimAutostart final : public Autostart {
public:
    std::optional<std::string> Read() override { return entry; }
    bool Write(const std::string& commandLine) override {
        if (failWrite) return false;
        entry = commandLine;
        return true;
    }
    bool Remove() override {
        if (failRemove) return false;
        entry.reset();
        return true;
    }

    std::optional<std::string> entry;
    bool failWrite = false;
    bool failRemove = false;
};

}  // namespace quillon::sim
