// Reading of the "wifi" section of a scenario's wifi adapter, and of the access point lists the
// timeline's WiFi changes carry. Used only by the scenario loader; pure, any thread.
#pragma once

#include <string>
#include <vector>

#include "base/json_value.h"
#include "platform/sim/sim_world_config.h"

namespace quillon::sim {

// Reads the section found at `at`; false with "where: what" in error.
bool ReadWifiSection(const JsonValue& value, const std::string& at, WifiConfig& wifi,
                     std::string& error);
bool ReadWifiNeighbors(const JsonValue& list, const std::string& at,
                       std::vector<WifiNeighborConfig>& neighbors, std::string& error);

}  // namespace quillon::sim
