#include "services/service_definition.h"

#include <array>

namespace quillon {

namespace {

constexpr std::array<const char*, 5> kNames = {"icmp", "dns", "tcp", "http", "https"};

}  // namespace

const char* ProbeTypeName(ProbeType type) {
    const auto index = static_cast<int32_t>(type);
    return index >= 1 && index <= 4 ? kNames[static_cast<size_t>(index)] : kNames[0];
}

std::optional<ProbeType> ProbeTypeFromName(std::string_view name) {
    for (size_t i = 0; i < kNames.size(); ++i) {
        if (name == kNames[i]) return static_cast<ProbeType>(i);
    }
    return std::nullopt;
}

uint32_t PauseAfterProbeMs(const ServiceDefinition& definition) {
    return static_cast<int32_t>(definition.intervalMs) < 1 ? 5000 : definition.intervalMs;
}

}  // namespace quillon
