// SimSockets: the Sockets port over a SimWorld's service hosts. Names resolve from the world's A
// records (a service host's name takes its dnsMs); literal addresses resolve at once. A TCP
// connect lets its time pass on the world's clock: the host's connect time when it accepts, one
// round trip for a refusal, the whole time-out when nothing answers or the answer would come
// too late.
//
// Errors, as <cerrno> numbers them: ECONNREFUSED for a closed port or a refusing host,
// ENETUNREACH (at once) when no route leads to the address. ResolveIpv4 fails with the DNS
// answer's code (kDnsNameError for a name nobody knows).
//
// UDP: the world's STUN server answers a Binding request after its round trip; any other
// exchange is sent when a route exists and waits its whole time-out unanswered.
//
// No state of its own; any thread; the world outlives the adapter.
#pragma once

#include "platform/sim/sim_world.h"
#include "platform/sockets.h"

namespace quillon::sim {

class SimSockets final : public Sockets {
public:
    explicit SimSockets(SimWorld& world) : world_(world) {}

    ResolveResult ResolveIpv4(const std::string& host) override;
    UdpExchangeResult UdpExchange(Ipv4Address address, uint16_t port,
                                  const std::vector<uint8_t>& request, uint32_t timeoutMs) override;
    TcpConnectResult TcpConnect(Ipv4Address address, uint16_t port, uint32_t timeoutMs) override;

private:
    SimWorld& world_;
};

}  // namespace quillon::sim
