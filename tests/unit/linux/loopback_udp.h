// Sockets of a test's own on loopback: BoundSocket holds an ephemeral loopback port;
// UdpResponder answers the datagrams that reach one from a thread of its own until destroyed,
// however its handler says (from its own port or from another, any number of times).
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <thread>
#include <vector>

#include "base/ipv4.h"

namespace quillon::lnx::testing {

using Bytes = std::vector<uint8_t>;
inline constexpr Ipv4Address kLoopback(127, 0, 0, 1);

class BoundSocket {
public:
    explicit BoundSocket(int type) : fd_(socket(AF_INET, type | SOCK_CLOEXEC, 0)) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_addr.s_addr = kLoopback.NetworkOrder();
        socklen_t size = sizeof(local);
        if (fd_ < 0 || bind(fd_, reinterpret_cast<sockaddr*>(&local), size) != 0 ||
            getsockname(fd_, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
            ADD_FAILURE() << "cannot bind a loopback socket";
        }
        port_ = ntohs(local.sin_port);
    }
    ~BoundSocket() { Close(); }
    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }
    int fd() const { return fd_; }
    uint16_t port() const { return port_; }

private:
    int fd_;
    uint16_t port_ = 0;
};

class UdpResponder {
public:
    // Sends one answer to the asker, from the responder's port or from another one.
    using Send = std::function<void(const Bytes& answer, bool fromOtherPort)>;
    using Handler = std::function<void(const Bytes& request, const Send& send)>;

    explicit UdpResponder(Handler handler)
        : handler_(std::move(handler)), thread_([this] { Serve(); }) {}
    ~UdpResponder() {
        stop_ = true;
        thread_.join();
    }
    uint16_t port() const { return socket_.port(); }

private:
    void Serve() {
        while (!stop_) {
            pollfd entry{socket_.fd(), POLLIN, 0};
            if (poll(&entry, 1, 20) <= 0) continue;
            uint8_t buffer[1500];
            sockaddr_in from{};
            socklen_t fromSize = sizeof(from);
            const ssize_t size = recvfrom(socket_.fd(), buffer, sizeof(buffer), 0,
                                          reinterpret_cast<sockaddr*>(&from), &fromSize);
            if (size < 0) continue;
            handler_(Bytes(buffer, buffer + size), [&](const Bytes& answer, bool fromOtherPort) {
                sendto(fromOtherPort ? other_.fd() : socket_.fd(), answer.data(), answer.size(), 0,
                       reinterpret_cast<sockaddr*>(&from), fromSize);
            });
        }
    }

    const Handler handler_;
    BoundSocket socket_{SOCK_DGRAM};
    BoundSocket other_{SOCK_DGRAM};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

}  // namespace quillon::lnx::testing
