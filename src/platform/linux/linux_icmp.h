// LinuxIcmp: the IcmpApi port over IPv4 ICMP sockets. It prefers an unprivileged ICMP datagram
// socket (allowed when the user's group is inside net.ipv4.ping_group_range of the network
// namespace), falls back to a raw socket (root or CAP_NET_RAW), and otherwise has no handles to
// give: Open() returns null and one log line says why.
//
// Each handle owns one socket, used by its overlapped echo; every blocking echo opens a socket
// of its own, so that concurrent blocking echoes on one handle never read each other's answers.
// Answers are matched on the socket's identifier (raw) or the socket itself (datagram: the
// kernel rewrites the identifier and delivers only this socket's answers) plus the sequence
// number and the destination. Time-exceeded and other ICMP errors come from the error queue
// (IP_RECVERR) on datagram sockets and from the quoted header on raw sockets. Round trips run
// to the kernel's arrival stamp of the answer, so an overlapped echo polled late is timed right
// and one answered after its time-out counts as timed out.
// The entry point creates one for the process; Open() may be called from any thread.
#pragma once

#include <atomic>
#include <memory>

#include "platform/icmp_api.h"

namespace quillon::lnx {

enum class IcmpSocketKind { Datagram, Raw, None };

class LinuxIcmp final : public IcmpApi {
public:
    // Automatic choice: datagram when permitted, else raw. `forced` restricts the choice to one
    // kind (tests use it to reach both paths).
    // Both wait a moment (a few ms, at most about 0.6 s) until the kernel stamps arrivals.
    LinuxIcmp();
    explicit LinuxIcmp(IcmpSocketKind forced);
    ~LinuxIcmp() override;
    LinuxIcmp(const LinuxIcmp&) = delete;
    LinuxIcmp& operator=(const LinuxIcmp&) = delete;

    std::unique_ptr<IcmpHandle> Open() override;
    std::string PermissionHint() const override;

    // The kind a new handle gets, probed once and then remembered.
    IcmpSocketKind Kind();

private:
    IcmpSocketKind forced_ = IcmpSocketKind::None;
    bool choiceForced_ = false;
    std::atomic<int> kind_{-1};
    std::atomic<bool> unavailableLogged_{false};
    int stampKeeper_ = -1;  // keeps arrival stamping on (see linux_icmp.cpp)
};

}  // namespace quillon::lnx
