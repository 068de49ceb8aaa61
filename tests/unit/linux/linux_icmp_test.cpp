// Live echoes over loopback and inside a private network namespace of a child process (which
// disappears with the child); nothing leaves this machine. Needs root or CAP_NET_RAW for the
// raw socket and for the namespace; skipped otherwise.
#include "platform/linux/linux_icmp.h"

#include <gtest/gtest.h>

#include <unistd.h>
#include "base/ipv4.h"

#include <chrono>
#include <thread>

#include "platform/linux/linux_icmp_parse.h"
#include "private_namespace.h"

namespace quillon::lnx {
namespace {

const uint8_t kPayload[] = {'Q', 'l', 'n', 'W', 'i', 'n', 0};

EchoRequest Request(Ipv4Address destination, uint32_t timeoutMs = 1000, uint8_t ttl = 0) {
    EchoRequest r;
    r.destination = destination;
    r.ttl = ttl;
    r.payload = kPayload;
    r.payloadSize = sizeof(kPayload);
    r.timeoutMs = timeoutMs;
    return r;
}

// Polls like the measurement timer does, without ever waiting inside the handle.
bool PollUntilDone(IcmpHandle& handle, EchoReply& reply, int maxMs) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxMs);
    while (std::chrono::steady_clock::now() < end) {
        if (handle.PollEcho(reply)) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return false;
}

void ExpectLoopbackEchoes(LinuxIcmp& icmp) {
    auto handle = icmp.Open();
    ASSERT_NE(handle, nullptr);
    const Ipv4Address loopback(127, 0, 0, 1);

    EchoReply blocking;
    ASSERT_TRUE(handle->Echo(Request(loopback, 1000, 64), blocking));
    EXPECT_EQ(blocking.status, 0u);
    EXPECT_EQ(blocking.address, loopback);
    EXPECT_LT(blocking.rttMs, 1000u);

    EchoReply reply;
    EXPECT_FALSE(handle->PollEcho(reply)) << "nothing outstanding yet";
    ASSERT_EQ(handle->StartEcho(Request(loopback)), EchoStart::Pending);
    EXPECT_EQ(handle->StartEcho(Request(loopback)), EchoStart::Failed) << "one at a time";
    ASSERT_TRUE(PollUntilDone(*handle, reply, 2000));
    EXPECT_EQ(reply.status, 0u);
    EXPECT_EQ(reply.address, loopback);
    EXPECT_FALSE(handle->PollEcho(reply)) << "collected once";

    // A second round on the same socket is matched on its own sequence number. It is polled
    // only after its time-out has passed, as a slow measurement tick would: the answer came in
    // time, so it counts, with the round trip of its arrival, not of the poll.
    ASSERT_EQ(handle->StartEcho(Request(loopback, 100)), EchoStart::Pending);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(handle->PollEcho(reply));
    EXPECT_EQ(reply.status, 0u);
    EXPECT_LT(reply.rttMs, 50u);
}

bool IsRoot() {
    return geteuid() == 0;
}

TEST(LinuxIcmp, RawSocketEchoesLoopbackBlockingAndOverlapped) {
    if (!IsRoot()) GTEST_SKIP() << "raw ICMP needs root";
    LinuxIcmp icmp(IcmpSocketKind::Raw);
    EXPECT_EQ(icmp.Kind(), IcmpSocketKind::Raw);
    ExpectLoopbackEchoes(icmp);
}

TEST(LinuxIcmp, HandlesOfOneProcessNeverTakeEachOthersReplies) {
    if (!IsRoot()) GTEST_SKIP() << "raw ICMP needs root";
    LinuxIcmp icmp(IcmpSocketKind::Raw);
    auto a = icmp.Open();
    auto b = icmp.Open();
    ASSERT_TRUE(a && b);
    ASSERT_EQ(a->StartEcho(Request(Ipv4Address(127, 0, 0, 1))), EchoStart::Pending);
    ASSERT_EQ(b->StartEcho(Request(Ipv4Address(127, 0, 0, 2))), EchoStart::Pending);
    EchoReply ra, rb;
    ASSERT_TRUE(PollUntilDone(*a, ra, 2000));
    ASSERT_TRUE(PollUntilDone(*b, rb, 2000));
    EXPECT_EQ(ra.address, Ipv4Address(127, 0, 0, 1));
    EXPECT_EQ(rb.address, Ipv4Address(127, 0, 0, 2));
}

void ExpectTimeoutsAndUnreachables(LinuxIcmp& icmp) {
    auto handle = icmp.Open();
    ASSERT_NE(handle, nullptr);
    // Routed on the veth, but nothing answers for the neighbour: the deadline decides.
    const auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(handle->StartEcho(Request(Ipv4Address(10, 9, 9, 2), 1000)), EchoStart::Pending);
    EchoReply reply;
    ASSERT_TRUE(PollUntilDone(*handle, reply, 3000));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(reply.status, kIcmpStatusTimedOut);
    EXPECT_GE(elapsed, std::chrono::milliseconds(1000));
    EXPECT_LT(elapsed, std::chrono::milliseconds(2500));  // well before ARP gives up (~3 s)

    EchoReply blocking;
    EXPECT_FALSE(handle->Echo(Request(Ipv4Address(10, 9, 9, 2), 300), blocking));
    EXPECT_EQ(blocking.status, kIcmpStatusTimedOut);

    // No route at all in this namespace: a non-success outcome, never a reply.
    const EchoStart noRoute = handle->StartEcho(Request(Ipv4Address(192, 0, 2, 1), 500));
    ASSERT_NE(noRoute, EchoStart::Failed);
    ASSERT_TRUE(PollUntilDone(*handle, reply, 2000));
    EXPECT_NE(reply.status, 0u);
}

TEST(LinuxIcmp, DatagramSocketWorksWhereThePingGroupRangeAllowsIt) {
    if (!IsRoot()) GTEST_SKIP() << "creating a network namespace needs root";
    testing::InPrivateNamespace("", [] {
        LinuxIcmp automatic;
        EXPECT_EQ(automatic.Kind(), IcmpSocketKind::Datagram);
        LinuxIcmp icmp(IcmpSocketKind::Datagram);
        ExpectLoopbackEchoes(icmp);
        ExpectTimeoutsAndUnreachables(icmp);
    });
}

TEST(LinuxIcmp, RawSocketTimesOutAtTheDeadlineAndReportsNoRoute) {
    if (!IsRoot()) GTEST_SKIP() << "creating a network namespace needs root";
    testing::InPrivateNamespace("", [] {
        LinuxIcmp icmp(IcmpSocketKind::Raw);
        ExpectTimeoutsAndUnreachables(icmp);
    });
}

void ExpectTimeExceeded(IcmpSocketKind kind) {
    LinuxIcmp icmp(kind);
    auto handle = icmp.Open();
    ASSERT_NE(handle, nullptr);
    const Ipv4Address router(10, 9, 9, 2);

    EchoReply reply;
    ASSERT_TRUE(handle->Echo(Request(Ipv4Address(10, 8, 8, 8), 1000, /*ttl=*/1), reply));
    EXPECT_EQ(reply.status, kIcmpStatusTtlExpiredTransit);
    EXPECT_EQ(reply.address, router);
    EXPECT_LT(reply.rttMs, 1000u);

    ASSERT_EQ(handle->StartEcho(Request(Ipv4Address(10, 8, 8, 9), 1000, 1)), EchoStart::Pending);
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    ASSERT_TRUE(handle->PollEcho(reply));
    EXPECT_EQ(reply.status, kIcmpStatusTtlExpiredTransit);
    EXPECT_EQ(reply.address, router);
    EXPECT_LT(reply.rttMs, 50u) << "timed from the answer's arrival, not from the poll";

    // With the same time-to-live the router's own echo reaches it and is answered.
    ASSERT_TRUE(handle->Echo(Request(router, 1000, 1), reply));
    EXPECT_EQ(reply.status, 0u);
    EXPECT_EQ(reply.address, router);
}

void ExpectUnreachable(IcmpSocketKind kind) {
    LinuxIcmp icmp(kind);
    auto handle = icmp.Open();
    ASSERT_NE(handle, nullptr);
    EchoReply reply;
    ASSERT_TRUE(handle->Echo(Request(Ipv4Address(10, 7, 7, 7), 1000), reply));
    EXPECT_EQ(reply.status, kIcmpStatusHostUnreachable);
    EXPECT_EQ(reply.address, Ipv4Address(10, 9, 9, 2));
}

TEST(LinuxIcmp, RoutersOnTheWayAnswerWithTimeExceededAndUnreachable) {
    if (!IsRoot()) GTEST_SKIP() << "creating network namespaces needs root";
    testing::InPrivateNamespace(
        "",
        [] {
            // The router's unreachable answers draw on a per-source token bucket (about one a
            // second) that every time-exceeded answer empties when icmp_ratelimit is 0: ask
            // for them first, while the bucket is full.
            ExpectUnreachable(IcmpSocketKind::Raw);
            ExpectUnreachable(IcmpSocketKind::Datagram);
            ExpectTimeExceeded(IcmpSocketKind::Raw);
            ExpectTimeExceeded(IcmpSocketKind::Datagram);
        },
        /*withRouter=*/true);
}

}  // namespace
}  // namespace quillon::lnx
