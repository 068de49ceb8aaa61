#include "platform/sim/sim_net_info.h"

namespace quillon::sim {

namespace {
constexpr uint32_t kResolutionAnswerMs = 1;
constexpr uint32_t kResolutionGiveUpMs = 1000;
}  // namespace

std::optional<MacAddress> SimNetInfo::ResolveNeighbor(Ipv4Address address) {
    const std::optional<MacAddress> mac = world_.ResolveNeighbor(address);
    world_.clock().Sleep(mac ? kResolutionAnswerMs : kResolutionGiveUpMs);
    return mac;
}

}  // namespace quillon::sim
