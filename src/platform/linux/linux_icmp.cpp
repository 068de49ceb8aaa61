#include "platform/linux/linux_icmp.h"

#include <arpa/inet.h>
#include <errno.h>
#include <linux/errqueue.h>
#include <linux/icmp.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <random>
#include <vector>

#include "base/log.h"
#include "platform/linux/linux_icmp_parse.h"

namespace quillon::lnx {

namespace {

constexpr size_t kReceiveBufferSize = 1500;

int64_t NowNs() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

int64_t Nanoseconds(const timespec& t) {
    return static_cast<int64_t>(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

// The clock the kernel stamps received packets with (SO_TIMESTAMPNS).
int64_t RealtimeNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return Nanoseconds(t);
}

// The kernel's receive time of a message, when it came with one.
std::optional<int64_t> ReceiveTimeNs(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SCM_TIMESTAMPNS) continue;
        timespec t;
        std::memcpy(&t, CMSG_DATA(c), sizeof(t));
        return Nanoseconds(t);
    }
    return std::nullopt;
}

// One message read without waiting: its bytes, sender, control messages (arrival stamp, queued
// ICMP error) and the wall-clock time just before the read.
struct Incoming {
    uint8_t data[kReceiveBufferSize];
    sockaddr_in from{};
    alignas(cmsghdr) uint8_t control[512];
    msghdr message{};
    int64_t readAt = 0;

    ssize_t Read(int fd, int flags) {
        iovec iov{data, sizeof(data)};
        message = msghdr{};
        message.msg_name = &from;
        message.msg_namelen = sizeof(from);
        message.msg_iov = &iov;
        message.msg_iovlen = 1;
        message.msg_control = control;
        message.msg_controllen = sizeof(control);
        readAt = RealtimeNs();
        const ssize_t n = recvmsg(fd, &message, flags | MSG_DONTWAIT);
        message.msg_iov = nullptr;  // iov lived for the call only
        return n;
    }
};

// Holds receive stamping on for the whole machine. The kernel turns it on lazily, a moment
// after the first socket asks, and off when the last one closes; packets that arrive while it
// is off are stamped when they are read, which would make a late poll look like a slow answer.
// So one socket keeps it on, and start-up waits (briefly) until a datagram sent to itself over
// loopback comes back stamped before it was read. Returns the socket, or -1.
int KeepReceiveStampsOn() {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return -1;
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(self);
    if (bind(fd, reinterpret_cast<sockaddr*>(&self), sizeof(self)) != 0 ||
        getsockname(fd, reinterpret_cast<sockaddr*>(&self), &length) != 0) {
        return fd;  // no loopback: stamping stays on, unchecked
    }
    for (int attempt = 0; attempt < 40; ++attempt) {
        const char probe = 's';
        if (sendto(fd, &probe, 1, 0, reinterpret_cast<sockaddr*>(&self), sizeof(self)) != 1) break;
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 10);
        Incoming in;
        if (in.Read(fd, 0) == 1) {
            const std::optional<int64_t> stamp = ReceiveTimeNs(in.message);
            if (stamp && *stamp < in.readAt) break;
        }
        timespec pause{0, 5'000'000};
        nanosleep(&pause, nullptr);
    }
    return fd;
}

uint32_t WholeMs(int64_t ns) {
    return ns <= 0 ? 0 : static_cast<uint32_t>(ns / 1'000'000);
}

int OpenSocket(IcmpSocketKind kind) {
    const int type = kind == IcmpSocketKind::Datagram ? SOCK_DGRAM : SOCK_RAW;
    const int fd = socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_ICMP);
    if (fd < 0) return -1;
    // Answers carry their arrival time, so the round trip does not depend on when the
    // overlapped echo is polled.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_TIMESTAMPNS, &on, sizeof(on));
    if (kind == IcmpSocketKind::Raw) {
        // A raw socket sees every ICMP packet the host receives; let only the answer types
        // through, so that other traffic never wakes a poll.
        icmp_filter filter{};
        filter.data =
            ~((1u << ICMP_ECHOREPLY) | (1u << ICMP_DEST_UNREACH) | (1u << ICMP_SOURCE_QUENCH) |
              (1u << ICMP_TIME_EXCEEDED) | (1u << ICMP_PARAMETERPROB));
        setsockopt(fd, SOL_RAW, ICMP_FILTER, &filter, sizeof(filter));
    }
    if (kind == IcmpSocketKind::Datagram) {
        if (setsockopt(fd, IPPROTO_IP, IP_RECVERR, &on, sizeof(on)) != 0) {
            close(fd);
            return -1;
        }
    }
    return fd;
}

// Identifiers for raw sockets: a random start so that two instances of the program differ,
// then one per socket so that handles of this process differ.
uint16_t NextIdentifier() {
    static std::atomic<uint32_t> next{std::random_device{}()};
    return static_cast<uint16_t>(next.fetch_add(1));
}

// One socket and its request in flight. Not thread-safe on its own: the overlapped handle is
// used by one thread at a time and a blocking echo owns its probe.
class IcmpProbe {
public:
    IcmpProbe(int fd, IcmpSocketKind kind) : fd_(fd), kind_(kind), identifier_(NextIdentifier()) {}
    ~IcmpProbe() {
        if (fd_ >= 0) close(fd_);
    }
    IcmpProbe(const IcmpProbe&) = delete;
    IcmpProbe& operator=(const IcmpProbe&) = delete;

    bool outstanding() const { return outstanding_; }

    // Sends the request: Pending once sent, Completed when the kernel refuses it for want of
    // a route (the outcome is then an unreachable status), Failed when nothing was sent.
    EchoStart Send(const EchoRequest& request) {
        outstanding_ = false;
        answer_.reset();
        destination_ = request.destination;
        ++sequence_;
        const int ttl = request.ttl == 0 ? -1 : request.ttl;  // -1: the route's default
        // A socket keeps its time-to-live: set only when it changes (an echo target's socket
        // sends with the same one every sweep).
        if (ttl != ttl_) {
            if (setsockopt(fd_, IPPROTO_IP, IP_TTL, &ttl, sizeof(ttl)) != 0) {
                return EchoStart::Failed;
            }
            ttl_ = ttl;
        }
        const std::vector<uint8_t> packet =
            BuildEchoRequest(identifier_, sequence_, request.payload, request.payloadSize);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_addr.s_addr = request.destination.NetworkOrder();
        sentNs_ = NowNs();
        sentRealtimeNs_ = RealtimeNs();
        timeoutNs_ = static_cast<int64_t>(request.timeoutMs) * 1'000'000;
        for (int attempt = 0; attempt < 2; ++attempt) {
            const ssize_t n = sendto(fd_, packet.data(), packet.size(), MSG_DONTWAIT,
                                     reinterpret_cast<const sockaddr*>(&to), sizeof(to));
            if (n == static_cast<ssize_t>(packet.size())) {
                outstanding_ = true;
                return EchoStart::Pending;
            }
            if (n >= 0 || (errno != EHOSTUNREACH && errno != ENETUNREACH)) break;
            // An unreachable error may be left over from an earlier answer on this socket;
            // only a second one in a row is about this request.
            if (attempt == 1) {
                outstanding_ = true;
                answer_ = EchoReply{
                    errno == ENETUNREACH ? kIcmpStatusNetUnreachable : kIcmpStatusHostUnreachable,
                    Ipv4Address(), 0};
                return EchoStart::Completed;
            }
        }
        return EchoStart::Failed;
    }

    // Reads whatever is waiting without blocking. True once the request has an outcome. The
    // regular queue first: an echo reply, the usual answer, comes there; the error queue
    // (datagram sockets) only holds ICMP errors, so it is read only when the reply is not in.
    bool Drain() {
        if (!outstanding_) return false;
        if (answer_) return true;
        Incoming in;
        int socketErrors = 0;
        while (!answer_) {
            const ssize_t n = in.Read(fd_, 0);
            if (n < 0) {
                if (errno == EINTR) continue;
                if (errno == EAGAIN || errno == EWOULDBLOCK) {
                    if (kind_ == IcmpSocketKind::Datagram) DrainErrorQueue();
                    break;
                }
                if (++socketErrors > 8) break;
                // A pending socket error: an ICMP error reported once as errno. The packet
                // itself (raw) or the queue entry (datagram) still holds the details.
                if (kind_ == IcmpSocketKind::Datagram) DrainErrorQueue();
                continue;
            }
            const auto answer =
                kind_ == IcmpSocketKind::Raw
                    ? ParseRawIcmpPacket(in.data, static_cast<size_t>(n), destination_, identifier_,
                                         sequence_)
                    : ParseDatagramEchoReply(in.data, static_cast<size_t>(n),
                                             Ipv4Address::FromNetworkOrder(in.from.sin_addr.s_addr),
                                             destination_, sequence_);
            if (answer) Complete(*answer, ReceiveTimeNs(in.message), in.readAt);
        }
        return answer_.has_value();
    }

    // The outcome once known, or the time-out once the deadline has passed.
    std::optional<EchoReply> Outcome(int64_t nowNs) {
        if (!outstanding_) return std::nullopt;
        if (!answer_ && nowNs >= Deadline()) {
            answer_ = EchoReply{kIcmpStatusTimedOut, Ipv4Address(), 0};
        }
        if (!answer_) return std::nullopt;
        outstanding_ = false;
        return answer_;
    }

    // Waits until the socket has something to read or the deadline passes.
    void WaitReadable() {
        const int64_t leftNs = Deadline() - NowNs();
        if (leftNs <= 0) return;
        pollfd p{fd_, POLLIN, 0};
        poll(&p, 1, static_cast<int>((leftNs + 999'999) / 1'000'000));
    }

private:
    int64_t Deadline() const { return sentNs_ + timeoutNs_; }

    // The round trip runs from the send to the answer's arrival; an answer that arrived after
    // the request's time-out makes it a time-out, however soon it is read. The arrival stamp
    // counts when it was made before the read began (not at the read, for want of stamping)
    // and agrees with the steady clock (no step of the wall clock in between); otherwise the
    // answer is timed as read.
    void Complete(const IcmpAnswer& answer, std::optional<int64_t> arrivalRealtimeNs,
                  int64_t readRealtimeNs) {
        const int64_t asReadNs = NowNs() - sentNs_;
        const bool stamped = arrivalRealtimeNs && *arrivalRealtimeNs < readRealtimeNs &&
                             *arrivalRealtimeNs >= sentRealtimeNs_ &&
                             *arrivalRealtimeNs - sentRealtimeNs_ <= asReadNs + 1'000'000;
        if (!stamped) {
            answer_ = EchoReply{answer.status, answer.address, WholeMs(asReadNs)};
            return;
        }
        const int64_t elapsedNs = *arrivalRealtimeNs - sentRealtimeNs_;
        if (elapsedNs > timeoutNs_) {
            answer_ = EchoReply{kIcmpStatusTimedOut, Ipv4Address(), 0};
            return;
        }
        answer_ = EchoReply{answer.status, answer.address, WholeMs(elapsedNs)};
    }

    void DrainErrorQueue() {
        Incoming in;
        while (!answer_) {
            const ssize_t n = in.Read(fd_, MSG_ERRQUEUE);
            if (n < 0) {
                if (errno == EINTR) continue;
                return;
            }
            msghdr& message = in.message;
            for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
                if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_RECVERR) continue;
                sock_extended_err error;
                std::memcpy(&error, CMSG_DATA(c), sizeof(error));
                QueuedIcmpError queued;
                queued.originIcmp = error.ee_origin == SO_EE_ORIGIN_ICMP;
                queued.type = error.ee_type;
                queued.code = error.ee_code;
                const auto* offender =
                    reinterpret_cast<const sockaddr_in*>(CMSG_DATA(c) + sizeof(sock_extended_err));
                if (offender->sin_family == AF_INET) {
                    queued.offender = Ipv4Address::FromNetworkOrder(offender->sin_addr.s_addr);
                }
                queued.erroredDestination = Ipv4Address::FromNetworkOrder(in.from.sin_addr.s_addr);
                const auto answer = ParseQueuedIcmpError(queued, in.data, static_cast<size_t>(n),
                                                         destination_, sequence_);
                if (answer) Complete(*answer, ReceiveTimeNs(message), in.readAt);
            }
        }
    }

    int fd_;
    IcmpSocketKind kind_;
    uint16_t identifier_;
    uint16_t sequence_ = 0;
    int ttl_ = 0;  // last set on the socket; 0: not yet
    Ipv4Address destination_;
    bool outstanding_ = false;
    std::optional<EchoReply> answer_;
    int64_t sentNs_ = 0;          // steady clock
    int64_t sentRealtimeNs_ = 0;  // the receive stamps' clock
    int64_t timeoutNs_ = 0;
};

class LinuxIcmpHandle final : public IcmpHandle {
public:
    LinuxIcmpHandle(int fd, IcmpSocketKind kind) : kind_(kind), overlapped_(fd, kind) {}

    bool Echo(const EchoRequest& request, EchoReply& reply) override {
        const int fd = OpenSocket(kind_);
        if (fd < 0) return false;
        IcmpProbe probe(fd, kind_);
        if (probe.Send(request) == EchoStart::Failed) return false;
        for (;;) {
            probe.Drain();
            if (auto outcome = probe.Outcome(NowNs())) {
                reply = *outcome;
                return outcome->status != kIcmpStatusTimedOut;
            }
            probe.WaitReadable();
        }
    }

    EchoStart StartEcho(const EchoRequest& request) override {
        if (overlapped_.outstanding()) return EchoStart::Failed;
        return overlapped_.Send(request);
    }

    bool PollEcho(EchoReply& reply) override {
        overlapped_.Drain();
        auto outcome = overlapped_.Outcome(NowNs());
        if (!outcome) return false;
        reply = *outcome;
        return true;
    }

private:
    IcmpSocketKind kind_;
    IcmpProbe overlapped_;
};

}  // namespace

LinuxIcmp::LinuxIcmp() : stampKeeper_(KeepReceiveStampsOn()) {}

LinuxIcmp::LinuxIcmp(IcmpSocketKind forced)
    : forced_(forced), choiceForced_(true), stampKeeper_(KeepReceiveStampsOn()) {}

LinuxIcmp::~LinuxIcmp() {
    if (stampKeeper_ >= 0) close(stampKeeper_);
}

IcmpSocketKind LinuxIcmp::Kind() {
    // A kind found is kept; none found is probed again, as permission may be granted later.
    int known = kind_.load();
    if (known >= 0 && known != static_cast<int>(IcmpSocketKind::None)) {
        return static_cast<IcmpSocketKind>(known);
    }
    IcmpSocketKind kind = IcmpSocketKind::None;
    for (IcmpSocketKind candidate : {IcmpSocketKind::Datagram, IcmpSocketKind::Raw}) {
        if (choiceForced_ && candidate != forced_) continue;
        const int fd = OpenSocket(candidate);
        if (fd >= 0) {
            close(fd);
            kind = candidate;
            break;
        }
    }
    kind_.store(static_cast<int>(kind));
    return kind;
}

std::unique_ptr<IcmpHandle> LinuxIcmp::Open() {
    const IcmpSocketKind kind = Kind();
    const int fd = kind == IcmpSocketKind::None ? -1 : OpenSocket(kind);
    if (fd < 0) {
        if (!unavailableLogged_.exchange(true)) {
            LogWrite(LogLevel::Error,
                     "ICMP unavailable: no ICMP datagram socket (net.ipv4.ping_group_range does "
                     "not include this user's group) and no raw socket (needs root or "
                     "CAP_NET_RAW); nothing can be measured until one is allowed");
        }
        return nullptr;
    }
    return std::make_unique<LinuxIcmpHandle>(fd, kind);
}

std::string LinuxIcmp::PermissionHint() const {
    char exe[4096];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe - 1);
    const std::string program = n > 0 ? std::string(exe, size_t(n)) : std::string("quillon");
    return "Allow ping for every user of this computer: sudo sysctl -w "
           "net.ipv4.ping_group_range=\"0 2147483647\" (add the setting to /etc/sysctl.d/ to "
           "keep it), or allow this program alone: sudo setcap cap_net_raw+ep " +
           program;
}

}  // namespace quillon::lnx
