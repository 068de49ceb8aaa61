// LinuxSockets: the Sockets port over BSD sockets. Host names go through getaddrinfo (so
// /etc/hosts and the system resolver; literal addresses resolve without a query); the UDP
// exchange uses a connected socket, so the kernel itself drops datagrams from any other address
// or port; the TCP connect is non-blocking and waited for with poll.
//
// No state: every call opens and closes its own socket, and any number of threads may call at
// once. Calls block for at most their time-out (name resolution for as long as the resolver
// takes).
//
// Errors: ResolveIpv4 reports the getaddrinfo code (EAI_*, negative here) or, for EAI_SYSTEM,
// errno; TcpConnect reports errno (ECONNREFUSED, ENETUNREACH, ...).
#pragma once

#include "platform/sockets.h"

namespace quillon::lnx {

class LinuxSockets final : public Sockets {
public:
    ResolveResult ResolveIpv4(const std::string& host) override;
    // Not received when the destination refused the datagram (ICMP port unreachable): that
    // answer ends the wait early.
    UdpExchangeResult UdpExchange(Ipv4Address address, uint16_t port,
                                  const std::vector<uint8_t>& request, uint32_t timeoutMs) override;
    TcpConnectResult TcpConnect(Ipv4Address address, uint16_t port, uint32_t timeoutMs) override;
};

}  // namespace quillon::lnx
