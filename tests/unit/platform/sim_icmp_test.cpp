#include "platform/sim/sim_icmp.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "platform/sim/sim_world.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::sim {
namespace {

constexpr Ipv4Address kDest(1, 1, 1, 1);
constexpr Ipv4Address kIsp(203, 0, 113, 1);
constexpr Ipv4Address kTransit(198, 51, 100, 9);

struct Probe {
    bool answered = false;
    EchoReply reply;
};

Probe Send(IcmpHandle& handle, Ipv4Address destination, uint8_t ttl, uint32_t timeoutMs = 1000) {
    Probe probe;
    EchoRequest request;
    request.destination = destination;
    request.ttl = ttl;
    request.timeoutMs = timeoutMs;
    probe.answered = handle.Echo(request, probe.reply);
    return probe;
}

// Share of echoes answered out of n.
double AnswerRate(IcmpHandle& handle, Ipv4Address destination, int n) {
    int answered = 0;
    for (int i = 0; i < n; ++i) answered += Send(handle, destination, 0).answered ? 1 : 0;
    return double(answered) / n;
}

TEST(SimEcho, TimeToLiveDecidesWhoAnswers) {
    VirtualClock clock;
    SimWorld world(WorldBuilder()
                       .Home()
                       .Path(kDest)
                       .Hop(kHomeGateway, 2)
                       .NoAnswerHop()
                       .Hop(kIsp, 9)
                       .Hop(kTransit, 12)
                       .NoTtlExpired()
                       .Hop(kDest, 14)
                       .Path(Ipv4Address(9, 9, 9, 9))
                       .Hop(kHomeGateway, 2)
                       .Hop(Ipv4Address(192, 0, 2, 200), 5)
                       .NoEcho()
                       .Build(),
                   clock);
    SimIcmp icmp(world);
    auto handle = icmp.Open();
    ASSERT_TRUE(handle);

    // Routers before the destination answer time-exceeded with their own address.
    Probe first = Send(*handle, kDest, 1);
    ASSERT_TRUE(first.answered);
    EXPECT_EQ(first.reply.status, kIcmpStatusTtlExpiredTransit);
    EXPECT_EQ(first.reply.address, kHomeGateway);
    EXPECT_EQ(first.reply.rttMs, 2u);
    EXPECT_EQ(clock.Elapsed(), 2u);  // a blocking echo lets its round trip pass

    Probe third = Send(*handle, kDest, 3);
    ASSERT_TRUE(third.answered);
    EXPECT_EQ(third.reply.status, kIcmpStatusTtlExpiredTransit);
    EXPECT_EQ(third.reply.address, kIsp);
    EXPECT_EQ(third.reply.rttMs, 9u);

    // A hop with address 0 and a router that keeps time-exceeded to itself: nothing, and the
    // whole time-out passes.
    const uint64_t before = clock.Elapsed();
    EXPECT_FALSE(Send(*handle, kDest, 2).answered);
    EXPECT_FALSE(Send(*handle, kDest, 4, 700).answered);
    EXPECT_EQ(clock.Elapsed() - before, 1700u);

    // From the destination's own position on, the destination answers the echo.
    for (uint8_t ttl : {uint8_t(5), uint8_t(30), uint8_t(0)}) {
        Probe last = Send(*handle, kDest, ttl);
        ASSERT_TRUE(last.answered) << int(ttl);
        EXPECT_EQ(last.reply.status, kIcmpStatusSuccess);
        EXPECT_EQ(last.reply.address, kDest);
        EXPECT_EQ(last.reply.rttMs, 14u);
    }

    // An echo to a router is an echo along the path up to it, answered by the router itself;
    // the router that answers no time-exceeded still answers echoes.
    Probe direct = Send(*handle, kTransit, 0);
    ASSERT_TRUE(direct.answered);
    EXPECT_EQ(direct.reply.status, kIcmpStatusSuccess);
    EXPECT_EQ(direct.reply.address, kTransit);
    EXPECT_EQ(Send(*handle, kIsp, 1).reply.address, kHomeGateway);
    EXPECT_FALSE(Send(*handle, Ipv4Address(192, 0, 2, 200), 0).answered);  // drops echoes
    EXPECT_EQ(Send(*handle, Ipv4Address(192, 0, 2, 200), 1).reply.address, kHomeGateway);

    // An answer slower than the time-out is no answer; an address on no path never answers.
    EXPECT_FALSE(Send(*handle, kDest, 0, 13).answered);
    EXPECT_FALSE(Send(*handle, Ipv4Address(192, 0, 2, 99), 0).answered);

    // Traffic is counted per destination and time-to-live (0 goes out as 64).
    EXPECT_EQ(world.EchoesSent(kDest), 8);
    EXPECT_EQ(world.EchoesSent(kDest, 64), 2);
    EXPECT_EQ(world.EchoesSent(kDest, 5), 1);
    EXPECT_EQ(world.EchoesSent(kTransit, 64), 1);
    EXPECT_EQ(world.EchoesSent(Ipv4Address(192, 0, 2, 99)), 1);
}

TEST(SimEcho, LossOnALinkCarriesToEveryLaterHop) {
    VirtualClock clock;
    constexpr Ipv4Address kSecond(100, 64, 0, 1);
    SimWorld world(WorldBuilder()
                       .Seed(11)
                       .Path(kDest)
                       .Hop(kHomeGateway, 2)
                       .Loss(20)
                       .Hop(kSecond, 5)
                       .Hop(kIsp, 9)
                       .Loss(10)
                       .Hop(kDest, 14)
                       .Path(Ipv4Address(8, 8, 8, 8))
                       .Hop(Ipv4Address(10, 9, 9, 9), 3)
                       .Loss(100)
                       .Hop(Ipv4Address(8, 8, 8, 8), 4)
                       .Build(),
                   clock);
    SimIcmp icmp(world);
    auto handle = icmp.Open();
    constexpr int kProbes = 4000;
    // Answer chance is the product of (1 - loss) over the links up to the answering hop:
    // 0.8, 0.8, 0.72, 0.72. Three standard deviations here are about 0.02.
    EXPECT_NEAR(AnswerRate(*handle, kHomeGateway, kProbes), 0.80, 0.03);
    EXPECT_NEAR(AnswerRate(*handle, kSecond, kProbes), 0.80, 0.03);
    EXPECT_NEAR(AnswerRate(*handle, kIsp, kProbes), 0.72, 0.03);
    EXPECT_NEAR(AnswerRate(*handle, kDest, kProbes), 0.72, 0.03);
    int expired = 0;
    for (int i = 0; i < kProbes; ++i) expired += Send(*handle, kDest, 3).answered ? 1 : 0;
    EXPECT_NEAR(double(expired) / kProbes, 0.72, 0.03);  // time-exceeded answers lose alike
    EXPECT_EQ(AnswerRate(*handle, Ipv4Address(8, 8, 8, 8), 200), 0.0);
}

TEST(SimEcho, RoundTripTimesFollowTheSeed) {
    const auto draw = [](uint64_t seed) {
        VirtualClock clock;
        SimWorld world(
            WorldBuilder().Seed(seed).Path(kDest).Hop(kHomeGateway, 3, 1).Hop(kDest, 20, 4).Build(),
            clock);
        SimIcmp icmp(world);
        auto handle = icmp.Open();
        std::vector<uint32_t> rtts;
        for (int i = 0; i < 2000; ++i) {
            const Probe probe = Send(*handle, i % 2 ? kDest : kHomeGateway, 0);
            EXPECT_TRUE(probe.answered);
            rtts.push_back(probe.reply.rttMs);
        }
        return rtts;
    };
    const std::vector<uint32_t> a = draw(5);
    EXPECT_EQ(a, draw(5));
    EXPECT_NE(a, draw(6));

    // Destination: mean 20, spread 4, cut at three spreads; gateway: never under 1 ms.
    double sum = 0, squares = 0;
    for (size_t i = 1; i < a.size(); i += 2) {
        EXPECT_GE(a[i], 8u);
        EXPECT_LE(a[i], 32u);
        sum += a[i];
        squares += double(a[i]) * a[i];
    }
    const double n = double(a.size() / 2);
    const double mean = sum / n;
    EXPECT_NEAR(mean, 20.0, 0.5);
    EXPECT_NEAR(std::sqrt(squares / n - mean * mean), 4.0, 0.5);
    for (size_t i = 0; i < a.size(); i += 2) {
        EXPECT_GE(a[i], 1u);
        EXPECT_LE(a[i], 6u);
    }
}

TEST(SimEcho, OverlappedEchoCompletesOnTheClock) {
    VirtualClock clock;
    SimWorld world(WorldBuilder()
                       .Path(kDest)
                       .Hop(kHomeGateway, 2)
                       .Hop(kDest, 14)
                       .At(5, HopSilent({kDest}))
                       .Build(),
                   clock);
    SimIcmp icmp(world);
    auto handle = icmp.Open();
    EchoRequest request;
    request.destination = kDest;
    request.timeoutMs = 1000;
    EchoReply reply;

    EXPECT_FALSE(handle->PollEcho(reply));  // nothing outstanding
    ASSERT_EQ(handle->StartEcho(request), EchoStart::Pending);
    EXPECT_EQ(handle->StartEcho(request), EchoStart::Failed);  // one at a time
    EXPECT_FALSE(handle->PollEcho(reply));
    // The outcome was fixed when sent: the destination going silent at 5 ms changes nothing.
    clock.Advance(13);
    EXPECT_FALSE(handle->PollEcho(reply));
    clock.Advance(1);
    ASSERT_TRUE(handle->PollEcho(reply));
    EXPECT_EQ(reply.status, kIcmpStatusSuccess);
    EXPECT_EQ(reply.address, kDest);
    EXPECT_EQ(reply.rttMs, 14u);
    EXPECT_FALSE(handle->PollEcho(reply));  // collected once

    // Now silent: the request completes as timed out after the whole time-out.
    ASSERT_EQ(handle->StartEcho(request), EchoStart::Pending);
    clock.Advance(999);
    EXPECT_FALSE(handle->PollEcho(reply));
    clock.Advance(1);
    ASSERT_TRUE(handle->PollEcho(reply));
    EXPECT_EQ(reply.status, kIcmpStatusTimedOut);
    EXPECT_EQ(reply.address, Ipv4Address());

    // Handles are independent; polling never moves the clock.
    auto other = icmp.Open();
    request.destination = kHomeGateway;
    ASSERT_EQ(other->StartEcho(request), EchoStart::Pending);
    ASSERT_EQ(handle->StartEcho(request), EchoStart::Pending);
    const uint64_t now = clock.Elapsed();
    EXPECT_FALSE(other->PollEcho(reply));
    EXPECT_EQ(clock.Elapsed(), now);
    clock.Advance(2);
    EXPECT_TRUE(other->PollEcho(reply));
    EXPECT_TRUE(handle->PollEcho(reply));
    EXPECT_EQ(world.EchoesSent(kDest), 2);
    EXPECT_EQ(world.EchoesSent(kHomeGateway), 2);
}

TEST(SimEcho, NothingIsSentWithoutIcmpOrARoute) {
    VirtualClock clock;
    SimWorld world(WorldBuilder().Home().Path(kDest).Hop(kHomeGateway, 2).Hop(kDest, 14).Build(),
                   clock);
    SimIcmp icmp(world);
    auto handle = icmp.Open();
    ASSERT_TRUE(handle);

    world.Apply(DefaultRouteGone());
    EchoRequest request;
    request.destination = kDest;
    EchoReply reply;
    EXPECT_FALSE(handle->Echo(request, reply));
    EXPECT_EQ(handle->StartEcho(request), EchoStart::Failed);
    EXPECT_EQ(clock.Elapsed(), 0u);  // fails at once, like a send with no route
    EXPECT_EQ(world.EchoesSent(kDest), 0);
    EXPECT_TRUE(Send(*handle, kHomeGateway, 0).answered);  // the local link still works

    world.Apply(DefaultRouteBack());
    EXPECT_TRUE(Send(*handle, kDest, 0).answered);
    world.Apply(AdapterDown(kHomeIfIndex));
    EXPECT_FALSE(Send(*handle, kHomeGateway, 0).answered);
    EXPECT_EQ(world.EchoesSent(kHomeGateway), 1);

    world.SetIcmpAvailable(false);
    EXPECT_EQ(icmp.Open(), nullptr);
    SimWorld closed(WorldBuilder().IcmpUnavailable().Build(), clock);
    EXPECT_EQ(SimIcmp(closed).Open(), nullptr);
}

}  // namespace
}  // namespace quillon::sim
