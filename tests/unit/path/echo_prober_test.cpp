#include "path/echo_prober.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "discovery/address_text.h"
#include "path/node_registry.h"
#include "platform/icmp_api.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

constexpr Ipv4Address kDest(1, 1, 1, 1);
constexpr Ipv4Address kRouter(192, 168, 1, 1);
constexpr Ipv4Address kIsp(203, 0, 113, 1);

// Scripted ICMP: blocking answers by (destination, ttl); overlapped answers by destination,
// completed when the test says so.
struct FakeIcmp : IcmpApi {
    struct Handle : IcmpHandle {
        explicit Handle(FakeIcmp& icmp) : icmp(icmp) {}
        bool Echo(const EchoRequest& request, EchoReply& reply) override {
            icmp.lastPayload.assign(request.payload, request.payload + request.payloadSize);
            icmp.lastTimeout = request.timeoutMs;
            const auto it = icmp.blocking.find({request.destination, request.ttl});
            if (it == icmp.blocking.end()) return false;
            reply = it->second;
            return true;
        }
        EchoStart StartEcho(const EchoRequest& request) override {
            ++icmp.sent[request.destination];
            destination = request.destination;
            if (icmp.failSends) return EchoStart::Failed;
            return EchoStart::Pending;
        }
        bool PollEcho(EchoReply& reply) override {
            const auto it = icmp.completed.find(destination);
            if (it == icmp.completed.end()) return false;
            reply = it->second;
            icmp.completed.erase(it);
            return true;
        }
        FakeIcmp& icmp;
        Ipv4Address destination;
    };
    std::unique_ptr<IcmpHandle> Open() override {
        if (unavailable) return nullptr;
        return std::make_unique<Handle>(*this);
    }

    bool unavailable = false;
    bool failSends = false;
    std::map<std::pair<Ipv4Address, uint8_t>, EchoReply> blocking;
    std::map<Ipv4Address, EchoReply> completed;
    std::map<Ipv4Address, int> sent;
    std::vector<uint8_t> lastPayload;
    uint32_t lastTimeout = 0;
};

TEST(EchoProber, ProbeHopAcceptsEchoAndTimeExceededOnly) {
    sim::VirtualClock clock;
    NodeRegistry registry(clock);
    FakeIcmp icmp;
    EchoProber prober(icmp, registry);

    EXPECT_TRUE(prober.ProbeHop(kDest, 1, 1000).timedOut);  // no shared handle yet
    ASSERT_TRUE(prober.OpenSharedHandle());

    icmp.blocking[{kDest, 1}] = {kIcmpStatusTtlExpiredTransit, kRouter, 3};
    icmp.blocking[{kDest, 2}] = {11003, kIsp, 9};  // destination host unreachable
    icmp.blocking[{kDest, 3}] = {kIcmpStatusSuccess, kDest, 14};

    ProbeResult r = prober.ProbeHop(kDest, 1, 1000);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.address, kRouter);
    EXPECT_EQ(r.rttMs, 3u);
    EXPECT_EQ(r.ttl, 1);
    EXPECT_EQ(std::string(icmp.lastPayload.begin(), icmp.lastPayload.end()),
              std::string("QlnWin\0", 7));
    EXPECT_EQ(icmp.lastTimeout, 1000u);

    r = prober.ProbeHop(kDest, 2, 1000);
    EXPECT_TRUE(r.timedOut);
    EXPECT_EQ(r.address, Ipv4Address());
    EXPECT_EQ(r.rttMs, 0u);

    r = prober.ProbeHop(kDest, 3, 10000);
    EXPECT_EQ(r.address, kDest);
    EXPECT_EQ(icmp.lastTimeout, 10000u);

    prober.CloseSharedHandle();
    EXPECT_TRUE(prober.ProbeHop(kDest, 3, 1000).timedOut);
}

TEST(EchoProber, SweepKeepsOneEchoPerNodeAndRecordsWhatCompleted) {
    sim::VirtualClock clock;
    NodeRegistry registry(clock);
    FakeIcmp icmp;
    EchoProber prober(icmp, registry);
    registry.StorePath(kDest, {kRouter, Ipv4Address(), kIsp}, registry.Generation());

    std::vector<std::tuple<Ipv4Address, uint32_t, bool>> recorded;
    const EchoRecorder record = [&](Ipv4Address a, uint32_t rtt, bool lost, uint64_t) {
        recorded.emplace_back(a, rtt, lost);
    };

    prober.SendEchoSweep();
    EXPECT_EQ(prober.TargetCount(), 2u);  // the silent hop gets none
    EXPECT_EQ(icmp.sent[kRouter], 1);

    // Only the router answered by the next tick; the ISP hop stays pending, not resent.
    icmp.completed[kRouter] = {kIcmpStatusSuccess, kRouter, 4};
    prober.CollectEchoReplies(record);
    prober.SendEchoSweep();
    EXPECT_EQ(recorded,
              (std::vector<std::tuple<Ipv4Address, uint32_t, bool>>{{kRouter, 4, false}}));
    EXPECT_EQ(icmp.sent[kRouter], 2);
    EXPECT_EQ(icmp.sent[kIsp], 1);

    icmp.completed[kIsp] = {kIcmpStatusTimedOut, Ipv4Address(), 0};
    icmp.completed[kRouter] = {11003, kRouter, 7};  // an error answer is a lost sample
    recorded.clear();
    prober.CollectEchoReplies(record);
    EXPECT_EQ(recorded.size(), 2u);
    for (const auto& [address, rtt, lost] : recorded) {
        EXPECT_TRUE(lost);
        EXPECT_EQ(rtt, 0u);
    }

    // A node added later is taken in only after the table is invalidated.
    const Ipv4Address late(198, 51, 100, 1);
    registry.GetOrCreateNode(late, {}, registry.Generation());
    prober.SendEchoSweep();
    EXPECT_EQ(icmp.sent[late], 0);
    prober.InvalidateTargets();
    prober.SendEchoSweep();
    EXPECT_EQ(icmp.sent[late], 1);

    // A send that fails stays idle and is tried again by the next sweep.
    prober.CloseEchoTargets();
    EXPECT_EQ(prober.TargetCount(), 0u);
    icmp.failSends = true;
    prober.SendEchoSweep();
    const int before = icmp.sent[kRouter];
    recorded.clear();
    prober.CollectEchoReplies(record);
    EXPECT_TRUE(recorded.empty());
    icmp.failSends = false;
    prober.SendEchoSweep();
    EXPECT_EQ(icmp.sent[kRouter], before + 1);
}

}  // namespace
}  // namespace quillon
