// Reading of the scenario's "serviceHosts": the hosts that service probes reach, with their
// ports, web answers and certificates, checked against each other and against the paths read
// before them. Used only by the scenario loader. Pure function; any thread.
#pragma once

#include <string>

#include "base/json_value.h"
#include "platform/sim/sim_world_config.h"

namespace quillon::sim {

// Reads the array at root's "serviceHosts" (when present) into world.serviceHosts; false with
// "where: what" in error.
bool ReadServiceHosts(const JsonValue& root, WorldConfig& world, std::string& error);

// The address of the service host a timeline entry names by its DNS name or its address text;
// false with a message when no host (or more than one) fits.
bool FindServiceHost(const WorldConfig& world, const std::string& reference, Ipv4Address& address,
                     std::string& problem);

}  // namespace quillon::sim
