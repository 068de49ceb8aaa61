#include "platform/win32/win32_sockets.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
// clang-format on

#include <algorithm>
#include <chrono>

namespace quillon::win32 {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr size_t kLargestDatagram = 65535;

class Socket {
public:
    explicit Socket(int type) : socket_(::socket(AF_INET, type, 0)) {}
    ~Socket() {
        if (socket_ != INVALID_SOCKET) closesocket(socket_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    SOCKET get() const { return socket_; }
    bool valid() const { return socket_ != INVALID_SOCKET; }

private:
    SOCKET socket_;
};

sockaddr_in Ipv4Endpoint(Ipv4Address address, uint16_t port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    endpoint.sin_addr.s_addr = address.NetworkOrder();
    return endpoint;
}

// What is left of the time-out, rounded up so that a wait never wakes just short of the end.
timeval Remaining(SteadyClock::time_point deadline) {
    const auto left = deadline - SteadyClock::now();
    const int64_t us = left <= SteadyClock::duration::zero()
                           ? 0
                           : std::chrono::ceil<std::chrono::microseconds>(left).count();
    return timeval{static_cast<long>(us / 1'000'000), static_cast<long>(us % 1'000'000)};
}

}  // namespace

Win32Sockets::Win32Sockets() {
    WSADATA data;
    started_ = WSAStartup(MAKEWORD(2, 2), &data) == 0;
}

Win32Sockets::~Win32Sockets() {
    if (started_) WSACleanup();
}

ResolveResult Win32Sockets::ResolveIpv4(const std::string& host) {
    ResolveResult result;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address rather than one per socket type
    addrinfo* list = nullptr;
    const int status = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (status != 0) {
        result.error = status;
        return result;
    }
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
        result.addresses.push_back(Ipv4Address::FromNetworkOrder(
            reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr));
    }
    freeaddrinfo(list);
    result.ok = !result.addresses.empty();
    if (!result.ok) result.error = WSAHOST_NOT_FOUND;
    return result;
}

UdpExchangeResult Win32Sockets::UdpExchange(Ipv4Address address, uint16_t port,
                                            const std::vector<uint8_t>& request,
                                            uint32_t timeoutMs) {
    UdpExchangeResult result;
    const Socket udp(SOCK_DGRAM);
    if (!udp.valid() || request.size() > kLargestDatagram) return result;
    // Connected, the socket only takes datagrams from the peer.
    const sockaddr_in peer = Ipv4Endpoint(address, port);
    if (connect(udp.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) != 0) {
        return result;
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    if (send(udp.get(), reinterpret_cast<const char*>(request.data()),
             static_cast<int>(request.size()), 0) != static_cast<int>(request.size())) {
        return result;
    }
    result.sent = true;

    std::vector<char> buffer(kLargestDatagram);
    for (;;) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(udp.get(), &readable);
        timeval wait = Remaining(deadline);
        if (select(0, &readable, nullptr, nullptr, &wait) != 1) return result;
        const int size = recv(udp.get(), buffer.data(), static_cast<int>(buffer.size()), 0);
        if (size < 0) {
            // Refused (a port-unreachable answer) or broken: no answer will come.
            if (WSAGetLastError() == WSAEWOULDBLOCK) continue;
            return result;
        }
        result.received = true;
        result.answer.assign(buffer.begin(), buffer.begin() + size);
        return result;
    }
}

TcpConnectResult Win32Sockets::TcpConnect(Ipv4Address address, uint16_t port, uint32_t timeoutMs) {
    TcpConnectResult result;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    const Socket tcp(SOCK_STREAM);
    u_long nonBlocking = 1;
    if (!tcp.valid() || ioctlsocket(tcp.get(), FIONBIO, &nonBlocking) != 0) {
        result.error = WSAGetLastError();
        return result;
    }
    const sockaddr_in peer = Ipv4Endpoint(address, port);
    if (connect(tcp.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) == 0) {
        result.connected = true;
        return result;
    }
    if (WSAGetLastError() != WSAEWOULDBLOCK) {
        result.error = WSAGetLastError();
        return result;
    }
    // A connection made shows as writable, a failed one in the exception set.
    fd_set writable, failed;
    FD_ZERO(&writable);
    FD_ZERO(&failed);
    FD_SET(tcp.get(), &writable);
    FD_SET(tcp.get(), &failed);
    timeval wait = Remaining(deadline);
    const int ready = select(0, nullptr, &writable, &failed, &wait);
    if (ready == 0) {
        result.timedOut = true;
        return result;
    }
    if (ready < 0) {
        result.error = WSAGetLastError();
        return result;
    }
    int outcome = 0;
    int outcomeSize = sizeof(outcome);
    if (getsockopt(tcp.get(), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&outcome),
                   &outcomeSize) != 0) {
        result.error = WSAGetLastError();
    } else if (outcome != 0) {
        result.error = outcome;
    } else {
        result.connected = true;
    }
    return result;
}

}  // namespace quillon::win32
