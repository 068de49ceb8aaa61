#include "platform/sim/sim_sockets.h"

#include <cerrno>

#include "base/ipv4.h"

namespace quillon::sim {

ResolveResult SimSockets::ResolveIpv4(const std::string& host) {
    if (const auto literal = Ipv4Address::Parse(host)) return ResolveResult{true, 0, {*literal}};
    if (const uint32_t delay = world_.NameDelayMs(host)) world_.clock().Sleep(delay);
    return world_.ResolveName(host);
}

UdpExchangeResult SimSockets::UdpExchange(Ipv4Address address, uint16_t port,
                                          const std::vector<uint8_t>& request, uint32_t timeoutMs) {
    UdpExchangeResult result;
    result.sent = world_.Routable(address);
    if (!result.sent) return result;
    SimWorld::UdpReply reply = world_.UdpRequest(address, port, request);
    if (!reply.answered || reply.ms > timeoutMs) {
        world_.clock().Sleep(timeoutMs);
        return result;
    }
    world_.clock().Sleep(uint32_t(reply.ms));
    result.received = true;
    result.answer = std::move(reply.answer);
    return result;
}

TcpConnectResult SimSockets::TcpConnect(Ipv4Address address, uint16_t port, uint32_t timeoutMs) {
    TcpConnectResult result;
    const ConnectOutcome outcome = world_.ConnectTcp(address, port);
    if (outcome.kind == ConnectKind::Unreachable) {
        result.error = ENETUNREACH;
        return result;
    }
    if (outcome.kind == ConnectKind::NoAnswer || outcome.ms > timeoutMs) {
        world_.clock().Sleep(timeoutMs);
        result.timedOut = true;
        return result;
    }
    world_.clock().Sleep(uint32_t(outcome.ms));
    result.connected = outcome.kind == ConnectKind::Accepted;
    if (!result.connected) result.error = ECONNREFUSED;
    return result;
}

}  // namespace quillon::sim
