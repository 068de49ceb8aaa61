// Sockets: the few plain socket operations the core needs: resolving a host name, one UDP
// request/response exchange (the public address learned over STUN) and a timed TCP connect
// (service probes). Blocking with explicit time-outs; any thread may call.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/ipv4.h"

namespace quillon {

struct ResolveResult {
    bool ok = false;
    int error = 0;
    std::vector<Ipv4Address> addresses;  // in the resolver's order
};

struct UdpExchangeResult {
    bool sent = false;      // the request left the machine
    bool received = false;  // an answer arrived in time
    std::vector<uint8_t> answer;
};

struct TcpConnectResult {
    bool connected = false;
    bool timedOut = false;
    int error = 0;  // system error when neither connected nor timed out
};

class Sockets {
public:
    virtual ~Sockets() = default;

    // IPv4 addresses of a host name (or a literal address).
    virtual ResolveResult ResolveIpv4(const std::string& host) = 0;

    // Sends one datagram to address:port and waits up to timeoutMs for one datagram back.
    virtual UdpExchangeResult UdpExchange(Ipv4Address address, uint16_t port,
                                          const std::vector<uint8_t>& request,
                                          uint32_t timeoutMs) = 0;

    // Opens a TCP connection to address:port within timeoutMs and closes it again.
    virtual TcpConnectResult TcpConnect(Ipv4Address address, uint16_t port, uint32_t timeoutMs) = 0;
};

}  // namespace quillon
