#include "platform/linux/linux_net_events.h"

#include <errno.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "base/log.h"
#include "platform/linux/linux_netlink_parse.h"
#include "platform/linux/netlink_receive.h"

namespace quillon::lnx {

namespace {

// Notifications fit in a page each; a datagram holds one. Room for far more, so that a cut
// datagram (MSG_TRUNC) means something is badly off rather than a big message.
constexpr size_t kReceiveBufferSize = 64 * 1024;

// The listener re-checks its stop flag this often even if a wake-up were somehow lost.
constexpr int kWaitForever = -1;  // the wake-up eventfd ends the wait at cancellation

const char* KindName(NetChangeKind kind) {
    return kind == NetChangeKind::Route ? "route" : "interface";
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1) : fd_(fd) {}
    ~FileDescriptor() {
        if (fd_ >= 0) close(fd_);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return fd_; }
    int release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

class LinuxNetSubscription final : public NetSubscription {
public:
    LinuxNetSubscription(NetChangeKind kind, NetChangeCallback callback, int socket, int wake)
        : kind_(kind), callback_(std::move(callback)), socket_(socket), wake_(wake) {}

    ~LinuxNetSubscription() override {
        stopping_.store(true);
        Release();
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(wake_.get(), &one, sizeof(one));
        if (thread_.joinable()) thread_.join();
    }

    // Starts the listener; it reads nothing until Release(). 0 or the error number.
    int Start() {
        try {
            thread_ = std::thread([this] { Listen(); });
        } catch (const std::system_error& e) {
            return e.code().value() != 0 ? e.code().value() : EAGAIN;
        }
        return 0;
    }

    void DeliverInitial() { callback_(kind_, NetChangeType::Initial); }

    // Lets the listener begin, so that its callbacks never overlap the initial one.
    void Release() {
        std::lock_guard lock(gateMutex_);
        released_ = true;
        gate_.notify_all();
    }

private:
    void Listen() {
        {
            std::unique_lock lock(gateMutex_);
            gate_.wait(lock, [this] { return released_; });
        }
        std::vector<uint8_t> buffer(kReceiveBufferSize);
        while (!stopping_.load()) {
            pollfd fds[2] = {{socket_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}};
            const int ready = poll(fds, 2, kWaitForever);
            if (ready < 0) {
                if (errno == EINTR) continue;
                LogWrite(Error, "Network %s notifications stopped: poll failed (%d)",
                         KindName(kind_), errno);
                return;
            }
            if (fds[1].revents != 0) return;
            if (fds[0].revents != 0 && !Drain(buffer)) return;
        }
    }

    // Reads every queued datagram. False when the socket broke and listening has to end.
    bool Drain(std::vector<uint8_t>& buffer) {
        while (!stopping_.load()) {
            const NetlinkDatagram datagram = ReceiveNetlink(socket_.get(), buffer);
            if (datagram.size < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) return true;
                if (errno == ENOBUFS) {
                    // The queue overflowed and notifications were dropped: we cannot say
                    // which, only that something changed.
                    LogWrite(Debug, "Network %s notifications overran", KindName(kind_));
                    callback_(kind_, NetChangeType::Parameter);
                    continue;
                }
                LogWrite(Error, "Network %s notifications stopped: receive failed (%d)",
                         KindName(kind_), errno);
                return false;
            }
            if (datagram.truncated) {
                callback_(kind_, NetChangeType::Parameter);
                continue;
            }
            // Only the kernel speaks for the routing tables.
            if (!datagram.fromKernel) continue;
            for (const NetlinkChange& change :
                 ParseNetlinkChanges(buffer.data(), static_cast<size_t>(datagram.size))) {
                if (stopping_.load()) return true;
                if (change.kind == kind_) callback_(kind_, change.type);
            }
        }
        return true;
    }

    const NetChangeKind kind_;
    const NetChangeCallback callback_;
    FileDescriptor socket_;
    FileDescriptor wake_;
    std::atomic<bool> stopping_{false};
    std::mutex gateMutex_;
    std::condition_variable gate_;
    bool released_ = false;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<NetSubscription> LinuxNetEvents::Subscribe(NetChangeKind kind,
                                                           NetChangeCallback callback,
                                                           uint32_t* error) {
    auto fail = [error](int code) {
        if (error != nullptr) *error = static_cast<uint32_t>(code);
        return nullptr;
    };
    if (!callback) return fail(EINVAL);

    const int socketFd = socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE);
    if (socketFd < 0) return fail(errno);
    FileDescriptor socketOwner(socketFd);
    if (receiveBufferBytes_ > 0) {
        // Best effort: a smaller queue only means earlier overruns, which are reported.
        setsockopt(socketFd, SOL_SOCKET, SO_RCVBUF, &receiveBufferBytes_,
                   sizeof(receiveBufferBytes_));
    }
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = kind == NetChangeKind::Route
                          ? RTMGRP_IPV4_ROUTE
                          : static_cast<uint32_t>(RTMGRP_LINK | RTMGRP_IPV4_IFADDR);
    if (bind(socketFd, reinterpret_cast<const sockaddr*>(&local), sizeof(local)) != 0) {
        return fail(errno);
    }

    const int wakeFd = eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
    if (wakeFd < 0) return fail(errno);

    auto subscription = std::make_unique<LinuxNetSubscription>(kind, std::move(callback),
                                                               socketOwner.release(), wakeFd);
    if (const int started = subscription->Start(); started != 0) return fail(started);
    // Changes since the bind wait in the socket while the initial call runs.
    subscription->DeliverInitial();
    subscription->Release();
    return subscription;
}

}  // namespace quillon::lnx
