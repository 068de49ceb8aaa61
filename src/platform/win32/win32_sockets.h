// Win32Sockets: the Sockets port over Winsock. Host names go through getaddrinfo (the hosts
// file and the system resolver; literal addresses resolve without a query); the UDP exchange
// uses a connected socket, so only the peer's datagrams are taken (and a port-unreachable
// answer ends the wait at once); the TCP connect is non-blocking and waited for with select.
//
// Winsock is started when the object is made and released with it. Every call opens and
// closes its own socket, so any number of threads may call at once. Calls block for at most
// their time-out (name resolution for as long as the resolver takes).
//
// Errors: ResolveIpv4 and TcpConnect report Winsock's codes (WSAHOST_NOT_FOUND,
// WSAECONNREFUSED, WSAENETUNREACH, ...).
#pragma once

#include "platform/sockets.h"

namespace quillon::win32 {

class Win32Sockets final : public Sockets {
public:
    Win32Sockets();
    ~Win32Sockets() override;
    Win32Sockets(const Win32Sockets&) = delete;
    Win32Sockets& operator=(const Win32Sockets&) = delete;

    ResolveResult ResolveIpv4(const std::string& host) override;
    UdpExchangeResult UdpExchange(Ipv4Address address, uint16_t port,
                                  const std::vector<uint8_t>& request, uint32_t timeoutMs) override;
    TcpConnectResult TcpConnect(Ipv4Address address, uint16_t port, uint32_t timeoutMs) override;

private:
    bool started_ = false;
};

}  // namespace quillon::win32
