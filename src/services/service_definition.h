// ServiceDefinition: one service the user asked to have probed, as the definitions store keeps
// it and the probes run it. Plain values; the store and the monitor copy them freely.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

enum class ProbeType : int32_t { Icmp = 0, Dns = 1, Tcp = 2, Http = 3, Https = 4 };

// "icmp", "dns", "tcp", "http" or "https"; a value out of range reads "icmp".
const char* ProbeTypeName(ProbeType type);
// The kind with that exact (case-sensitive) name; nothing for any other text.
std::optional<ProbeType> ProbeTypeFromName(std::string_view name);

struct ServiceDefinition {
    std::string id;      // unique key, also the file name stem
    std::string name;    // for people
    std::string target;  // host, IPv4 text, host:port or URL, by kind
    ProbeType probeType = ProbeType::Icmp;
    uint32_t port = 0;        // TCP port, or a port override for web probes; 0: none
    uint32_t intervalMs = 0;  // pause after each probe; below 1 (read as signed) means 5000
    bool enabled = true;

    bool operator==(const ServiceDefinition&) const = default;
};

// The pause after a probe: intervalMs, or 5000 when it reads below 1 as a signed number.
uint32_t PauseAfterProbeMs(const ServiceDefinition& definition);

}  // namespace quillon
