#include "platform/linux/linux_sockets.h"

#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <limits>

namespace quillon::lnx {

namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr size_t kLargestDatagram = 65535;

class Socket {
public:
    explicit Socket(int type) : fd_(socket(AF_INET, type | SOCK_CLOEXEC, 0)) {}
    ~Socket() {
        if (fd_ >= 0) close(fd_);
    }
    Socket(const Socket&) = delete;
    Socket& operator=(const Socket&) = delete;
    int get() const { return fd_; }

private:
    int fd_;
};

sockaddr_in Ipv4Endpoint(Ipv4Address address, uint16_t port) {
    sockaddr_in endpoint{};
    endpoint.sin_family = AF_INET;
    endpoint.sin_port = htons(port);
    endpoint.sin_addr.s_addr = address.NetworkOrder();
    return endpoint;
}

// What is left of the time-out, rounded up so that a poll never wakes just short of the end.
int RemainingMs(SteadyClock::time_point deadline) {
    const auto left = deadline - SteadyClock::now();
    if (left <= SteadyClock::duration::zero()) return 0;
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
    return static_cast<int>(std::min<int64_t>(ms, std::numeric_limits<int>::max()));
}

// Waits for `events` on fd until the deadline: 1 ready, 0 timed out, -1 failed (errno set).
int WaitFor(int fd, short events, SteadyClock::time_point deadline) {
    for (;;) {
        pollfd entry{fd, events, 0};
        const int ready = poll(&entry, 1, RemainingMs(deadline));
        if (ready >= 0) return ready > 0 ? 1 : 0;
        if (errno != EINTR) return -1;
    }
}

}  // namespace

ResolveResult LinuxSockets::ResolveIpv4(const std::string& host) {
    ResolveResult result;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;  // one entry per address rather than one per socket type
    addrinfo* list = nullptr;
    const int status = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (status != 0) {
        result.error = status == EAI_SYSTEM ? errno : status;
        return result;
    }
    for (const addrinfo* entry = list; entry != nullptr; entry = entry->ai_next) {
        if (entry->ai_family != AF_INET || entry->ai_addrlen < sizeof(sockaddr_in)) continue;
        result.addresses.push_back(Ipv4Address::FromNetworkOrder(
            reinterpret_cast<const sockaddr_in*>(entry->ai_addr)->sin_addr.s_addr));
    }
    freeaddrinfo(list);
    result.ok = !result.addresses.empty();
    if (!result.ok) result.error = EAI_NONAME;
    return result;
}

UdpExchangeResult LinuxSockets::UdpExchange(Ipv4Address address, uint16_t port,
                                            const std::vector<uint8_t>& request,
                                            uint32_t timeoutMs) {
    UdpExchangeResult result;
    const Socket udp(SOCK_DGRAM | SOCK_NONBLOCK);
    if (udp.get() < 0) return result;
    // Connected, the socket only takes datagrams from the peer.
    const sockaddr_in peer = Ipv4Endpoint(address, port);
    if (connect(udp.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) != 0) {
        return result;
    }
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    if (send(udp.get(), request.data(), request.size(), 0) !=
        static_cast<ssize_t>(request.size())) {
        return result;
    }
    result.sent = true;

    std::vector<uint8_t> buffer(kLargestDatagram);
    while (WaitFor(udp.get(), POLLIN, deadline) == 1) {
        sockaddr_in from{};
        socklen_t fromSize = sizeof(from);
        const ssize_t size = recvfrom(udp.get(), buffer.data(), buffer.size(), 0,
                                      reinterpret_cast<sockaddr*>(&from), &fromSize);
        if (size < 0) {
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) continue;
            return result;  // refused (port unreachable) or broken: no answer will come
        }
        if (from.sin_family != AF_INET || from.sin_addr.s_addr != peer.sin_addr.s_addr ||
            from.sin_port != peer.sin_port) {
            continue;
        }
        result.received = true;
        result.answer.assign(buffer.begin(), buffer.begin() + size);
        return result;
    }
    return result;
}

TcpConnectResult LinuxSockets::TcpConnect(Ipv4Address address, uint16_t port, uint32_t timeoutMs) {
    TcpConnectResult result;
    const auto deadline = SteadyClock::now() + std::chrono::milliseconds(timeoutMs);
    const Socket tcp(SOCK_STREAM | SOCK_NONBLOCK);
    if (tcp.get() < 0) {
        result.error = errno;
        return result;
    }
    const sockaddr_in peer = Ipv4Endpoint(address, port);
    if (connect(tcp.get(), reinterpret_cast<const sockaddr*>(&peer), sizeof(peer)) == 0) {
        result.connected = true;
        return result;
    }
    if (errno != EINPROGRESS) {
        result.error = errno;
        return result;
    }
    const int ready = WaitFor(tcp.get(), POLLOUT, deadline);
    if (ready == 0) {
        result.timedOut = true;
        return result;
    }
    if (ready < 0) {
        result.error = errno;
        return result;
    }
    int outcome = 0;
    socklen_t outcomeSize = sizeof(outcome);
    if (getsockopt(tcp.get(), SOL_SOCKET, SO_ERROR, &outcome, &outcomeSize) != 0) {
        result.error = errno;
    } else if (outcome != 0) {
        result.error = outcome;
    } else {
        result.connected = true;
    }
    return result;
}

}  // namespace quillon::lnx
