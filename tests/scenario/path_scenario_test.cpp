// Whole-path behaviour over minutes of virtual time on simulated networks.
#include <gtest/gtest.h>

#include "discovery/address_text.h"
#include "path_harness.h"
#include "platform/sim/sim_world_builder.h"

namespace quillon::test {
namespace {

using sim::Ipv4;
using sim::kHomeGateway;

// A home whose every round trip is exact: figures can be compared byte for byte.
sim::WorldBuilder SteadyHome() {
    sim::WorldBuilder b;
    b.Seed(1).Home()
        .Path(Ipv4(1, 1, 1, 1))
        .Hop(kHomeGateway, 2).Named("router.home")
        .Hop(Ipv4(100, 64, 0, 1), 8)
        .Hop(Ipv4(203, 0, 113, 1), 10).Named("bras1.isp.example").As(64500, "EXAMPLE-NET, ZZ")
        .NoAnswerHop()
        .Hop(Ipv4(198, 51, 100, 9), 13).As(64510, "TRANSIT-EXAMPLE, ZZ")
        .Hop(Ipv4(1, 1, 1, 1), 14).Named("one.one.one.one").As(13335, "CLOUDFLARENET, US")
        .Path(Ipv4(8, 8, 8, 8))
        .SameHopsAs(Ipv4(1, 1, 1, 1), 3)
        .Hop(Ipv4(8, 8, 8, 8), 16).As(15169, "GOOGLE, US");
    return b;
}

TEST(PathScenario, HealthyHomeIsDiscoveredStageByStageAndMeasured) {
    PathHarness h(SteadyHome().Build());
    h.Tick();  // primary stage
    EXPECT_TRUE(h.monitor.Discovery().PrimaryDone());
    EXPECT_FALSE(h.monitor.Discovery().SecondaryDone());
    EXPECT_EQ(h.Overall(), "healthy");
    h.Tick();  // secondary stage
    EXPECT_TRUE(h.monitor.Discovery().SecondaryDone());
    h.Ticks(4);  // re-probe stage, then measurement only
    EXPECT_TRUE(h.monitor.Discovery().AllStagesDone());

    EXPECT_NE(h.state.find(
                  R"("hops":[{"hopNumber":1,"ip":"192.168.1.1","hostname":"router.home",)"
                  R"("rttMs":2.0,"loss":0.0,"jitter":0.0,"segment":"LOCAL"},)"
                  R"({"hopNumber":2,"ip":"100.64.0.1","rttMs":8.0,"loss":0.0,"jitter":0.0,)"
                  R"("segment":"LOCAL"},)"
                  R"({"hopNumber":3,"ip":"203.0.113.1","hostname":"bras1.isp.example",)"
                  R"("asn":"64500","asnName":"EXAMPLE-NET, ZZ","rttMs":10.0,"loss":0.0,)"
                  R"("jitter":0.0,"segment":"ISP"},)"
                  R"({"hopNumber":4,"ip":"*","rttMs":0,"loss":100,"jitter":0,"segment":"?"},)"
                  R"({"hopNumber":5,"ip":"198.51.100.9","asn":"64510",)"
                  R"("asnName":"TRANSIT-EXAMPLE, ZZ","rttMs":13.0,"loss":0.0,"jitter":0.0,)"
                  R"("segment":"TRANS"},)"
                  R"({"hopNumber":6,"ip":"1.1.1.1","hostname":"one.one.one.one","asn":"13335",)"
                  R"("asnName":"CLOUDFLARENET, US","rttMs":14.0,"loss":0.0,"jitter":0.0,)"
                  R"("segment":"DEST"}])"),
              std::string::npos)
        << h.state;
    EXPECT_EQ(h.Overall(), "healthy");
    EXPECT_FALSE(h.State().contains("culpritCallout"));

    // The secondary path filled the registry but the current path stayed the primary one.
    EXPECT_TRUE(h.monitor.Registry().GetNode(Ipv4(8, 8, 8, 8)));
    EXPECT_EQ(h.monitor.Path().Snapshot()->back().address, Ipv4(1, 1, 1, 1));

    // One measurement report with every hop.
    ASSERT_EQ(h.events.size(), 1u);
    EXPECT_EQ(h.events[0].first, "network.measurement");
    EXPECT_EQ(h.events[0].second.substr(0, 82),
              R"({"hops":[{"hop":1,"ip":"192.168.1.1","rttMs":2.0,"loss":0.0,"jitter":0.0,"segment")");
    EXPECT_NE(h.events[0].second.find(
                  R"({"hop":4,"ip":"*","rttMs":0.0,"loss":0.0,"jitter":0.0,"segment":"?"})"),
              std::string::npos);

    const std::string log = h.Log();
    EXPECT_NE(log.find("[INFO] NodeRegistry: Added destination Cloudflare DNS (0x01010101)\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("[INFO] NodeRegistry: Added destination Google DNS (0x08080808)\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("[INFO] Initialized 2 default destinations\r\n"), std::string::npos);
    EXPECT_NE(log.find("[INFO] Running traceroute to primary destination Cloudflare DNS "
                       "(1.1.1.1)\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("[INFO] Starting traceroute to 1.1.1.1 (max 15 hops)\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("[INFO] Traceroute complete: 6 hops discovered, 5 nodes in registry\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("[INFO] Primary path discovered: 5 nodes in registry\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("[INFO] Running traceroute to secondary destination Google DNS "
                       "(8.8.8.8)\r\n"),
              std::string::npos);
    EXPECT_NE(log.find("[INFO] All paths discovered: 6 unique nodes\r\n"), std::string::npos);
}

// Runs ticks until the message satisfies `done` or `limitMs` of virtual time passed; returns
// the virtual time of that tick.
template <typename Pred>
uint64_t TickUntil(PathHarness& h, Pred done, uint64_t limitMs) {
    const uint64_t end = h.clock.Elapsed() + limitMs;
    while (h.clock.Elapsed() < end) {
        const uint64_t at = h.clock.Elapsed();
        h.Tick();
        if (done()) return at;
    }
    ADD_FAILURE() << "condition not reached; last state: " << h.state;
    return end;
}

TEST(PathScenario, WifiLossIsConfirmedAfterTenSecondsAndStabilisesAfterItClears) {
    sim::WorldBuilder b = SteadyHome();
    b.At(60'000, sim::HopLoss({kHomeGateway}, 30)).At(180'000, sim::HopLoss({kHomeGateway}, 0));
    PathHarness h(b.Build());
    h.Ticks(12);  // discovered and measured for a minute
    EXPECT_EQ(h.Overall(), "healthy");

    // The first build that sees the loss only starts the entry delay.
    const uint64_t pending = TickUntil(
        h, [&] { return h.monitor.HysteresisTable().StateOf("connection") != 0; }, 60'000);
    EXPECT_EQ(h.Overall(), "healthy");
    const uint64_t shown = TickUntil(h, [&] { return h.State().contains("culpritCallout"); },
                                     30'000);
    EXPECT_GE(shown - pending, 10'000u);
    EXPECT_LE(shown - pending, 10'000u + PathHarness::kTickMs);
    const JsonValue callout = h.State().member("culpritCallout");
    EXPECT_EQ(callout.member("title").asString(), "WiFi Connection Issue");
    EXPECT_EQ(callout.member("description").asString(),
              "Packet loss detected on your WiFi connection.");
    EXPECT_EQ(callout.member("segmentId").asString(), "connection");
    EXPECT_NE(h.Overall(), "healthy");

    // Once the window's loss falls under 3 %, the stabilising notice holds for 15 s.
    const uint64_t stabilising =
        TickUntil(h, [&] { return h.CalloutTitle() == "Network Stabilizing"; }, 30 * 60'000);
    EXPECT_EQ(h.Overall(), "warning");
    const uint64_t healthy = TickUntil(h, [&] { return h.Overall() == "healthy"; }, 60'000);
    EXPECT_GE(healthy - stabilising, 15'000u);
    EXPECT_LE(healthy - stabilising, 15'000u + PathHarness::kTickMs);
    EXPECT_EQ(h.LogCount("[INFO] Hysteresis[connection]: PENDING -> CONFIRMED (entry delay "
                         "elapsed)\r\n"),
              1);
    EXPECT_EQ(h.LogCount("[INFO] Hysteresis[connection]: CLEARING -> NONE (exit delay "
                         "elapsed)\r\n"),
              1);
}

TEST(PathScenario, LatencyFromAnIspHopBlamesTheIspButOneSlowRouterDoesNot) {
    sim::WorldBuilder b = SteadyHome();
    b.At(30'000, sim::HopLatency({Ipv4(203, 0, 113, 1)}, 400));
    PathHarness h(b.Build());
    TickUntil(h, [&] { return h.State().contains("culpritCallout"); }, 120'000);
    EXPECT_EQ(h.CalloutTitle(), "ISP Issue");
    const JsonValue state = h.State();
    EXPECT_EQ(state.member("culpritCallout").member("description").asString(),
              "High latency in your ISP's network.");

    // A router that answers slowly itself while the path beyond it is fast: no culprit.
    sim::WorldBuilder slow;
    slow.Seed(2).Home()
        .Path(Ipv4(1, 1, 1, 1))
        .Hop(kHomeGateway, 2)
        .Hop(Ipv4(203, 0, 113, 1), 250).As(64500, "EXAMPLE-NET, ZZ")
        .Hop(Ipv4(1, 1, 1, 1), 14).As(13335, "CLOUDFLARENET, US");
    PathHarness s(slow.Build());
    s.Ticks(30);
    EXPECT_EQ(s.Overall(), "healthy");
    EXPECT_FALSE(s.State().contains("culpritCallout"));
}

TEST(PathScenario, UnreachedDestinationIsCriticalAtOnceAndTracedAgainEachMinute) {
    PathHarness h(LoadWorld("no_answer_destination.json"));
    h.Tick();
    const std::shared_ptr<const HopList> path = h.monitor.Path().Snapshot();
    ASSERT_EQ(path->size(), 15u);
    EXPECT_EQ(h.Overall(), "critical");
    EXPECT_EQ(h.CalloutTitle(), "Network Issue Detected");
    const JsonValue state = h.State();
    EXPECT_EQ(state.member("culpritCallout").member("segmentId").asString(), "");
    EXPECT_NE(h.state.find(R"({"hopNumber":15,"ip":"*","rttMs":0,"loss":100,"jitter":0,)"
                           R"("segment":"?"})"),
              std::string::npos);

    // The later stages wait; the primary trace is repeated no more than once a minute.
    h.Ticks(20);
    EXPECT_FALSE(h.monitor.Discovery().SecondaryDone());
    const int traces = h.LogCount("Starting traceroute to 1.1.1.1 (max 15 hops)");
    EXPECT_GE(traces, 2);
    EXPECT_LE(traces, 1 + static_cast<int>(h.clock.Elapsed() / 60'000));
    EXPECT_EQ(h.Overall(), "critical");
    // Hops that answered are measured meanwhile.
    const auto gateway = h.monitor.Registry().GetNodeFigures(Ipv4(10, 0, 0, 1));  // this world's
    ASSERT_TRUE(gateway.has_value());
    EXPECT_GT(gateway->count, 5);
}

TEST(PathScenario, GatewayChangeBetweenStagesRediscoversInTheSameCycle) {
    sim::WorldBuilder b = SteadyHome();
    b.At(7'000, sim::GatewayMac({0x00, 0x99, 0x88, 0x77, 0x66, 0x55}));
    PathHarness h(b.Build());
    h.Tick();  // primary stage
    h.Tick();  // the gateway is recorded by the first check; secondary stage
    EXPECT_EQ(h.monitor.Discovery().RecordedGatewayMac(), "00:11:22:33:44:55");
    EXPECT_TRUE(h.monitor.Discovery().SecondaryDone());
    h.Tick();  // the MAC changed at 7 s: reset and a new primary trace in this cycle
    EXPECT_EQ(h.LogCount("Gateway MAC changed"), 1);
    EXPECT_EQ(h.LogCount("[INFO] Gateway MAC changed: 00:11:22:33:44:55 -> 00:99:88:77:66:55 - "
                         "rediscovering path\r\n"),
              1);
    const std::string log = h.Log();
    const size_t change = log.find("Gateway MAC changed");
    const size_t reset = log.find("[INFO] Resetting path discovery\r\n", change);
    const size_t retrace = log.find("Running traceroute to primary destination", change);
    ASSERT_NE(reset, std::string::npos);
    ASSERT_NE(retrace, std::string::npos);
    EXPECT_LT(reset, retrace);
    EXPECT_TRUE(h.monitor.Discovery().PrimaryDone());
    EXPECT_FALSE(h.monitor.Discovery().SecondaryDone());
    EXPECT_EQ(h.monitor.Path().Snapshot()->size(), 6u);
    h.Ticks(3);
    EXPECT_EQ(h.LogCount("Gateway MAC changed"), 1);
    EXPECT_TRUE(h.monitor.Discovery().AllStagesDone());
}

TEST(PathScenario, SilentHopThatAnswersLaterIsFoundByTheReprobe) {
    const uint32_t shy = Ipv4(203, 0, 113, 65);
    sim::WorldBuilder b;
    b.Seed(4).Home()
        .Path(Ipv4(1, 1, 1, 1))
        .Hop(kHomeGateway, 2)
        .Hop(Ipv4(203, 0, 113, 1), 9).As(64500, "EXAMPLE-NET, ZZ")
        .Hop(shy, 10).Named("core1.isp.example").As(64500, "EXAMPLE-NET, ZZ")
        .Hop(Ipv4(1, 1, 1, 1), 14).As(13335, "CLOUDFLARENET, US")
        .At(0, sim::HopSilent({shy}))
        .At(7'000, sim::HopAnswers({shy}));
    PathHarness h(b.Build());
    h.Ticks(2);  // primary (hop 3 silent) and secondary
    EXPECT_EQ((*h.monitor.Path().Snapshot())[2].address, 0u);
    const size_t sentBefore = h.network.world().EchoesSent(Ipv4(1, 1, 1, 1), 3);
    h.Tick();  // re-probe towards the last answering hop with ttl 3
    EXPECT_EQ(h.network.world().EchoesSent(Ipv4(1, 1, 1, 1), 3), sentBefore + 1);
    EXPECT_TRUE(h.monitor.Discovery().ReprobeDone());
    const HopRecord hop = (*h.monitor.Path().Snapshot())[2];
    EXPECT_EQ(hop.address, shy);
    EXPECT_EQ(hop.hostname, "core1.isp.example");
    EXPECT_EQ(hop.segment, "TRANS");  // re-probed hops with AS data are labelled transit
    EXPECT_EQ(h.LogCount("[INFO] Discovered previously unknown hop 3: 203.0.113.65 "
                         "(core1.isp.example)\r\n"),
              1);
    h.Ticks(2);  // the new node is in the next sweep and gets samples
    EXPECT_GE(h.monitor.Registry().GetNodeFigures(shy)->count, 1);
}

// The destination's answer at its own distance was lost during the traceroute, so the path
// runs one hop past it with a hole. Re-probing the hole towards the destination reaches the
// destination itself: that says nothing about a router there, and the hole must not become a
// second copy of the destination labelled as transit.
TEST(PathScenario, ReprobeReachingTheTargetItselfLeavesTheHoleUnknown) {
    const uint32_t destination = Ipv4(1, 1, 1, 1);
    sim::WorldBuilder b;
    b.Seed(4).Home()
        .Path(destination)
        .Hop(kHomeGateway, 2)
        .Hop(Ipv4(203, 0, 113, 1), 9).As(64500, "EXAMPLE-NET, ZZ")
        .Hop(destination, 14).As(13335, "CLOUDFLARENET, US")
        .At(0, sim::HopSilent({destination}))
        .At(500, sim::HopAnswers({destination}));
    PathHarness h(b.Build());
    h.Ticks(2);  // primary (hop 3 lost, hop 4 is the destination) and secondary
    const HopList traced = *h.monitor.Path().Snapshot();
    ASSERT_EQ(traced.size(), 4u);
    ASSERT_EQ(traced[2].address, 0u);
    ASSERT_EQ(traced[3].address, destination);

    h.Tick();  // re-probe of hop 3 towards the destination: answered by the destination
    EXPECT_TRUE(h.monitor.Discovery().ReprobeDone());
    const HopList after = *h.monitor.Path().Snapshot();
    EXPECT_EQ(after[2].address, 0u);
    EXPECT_NE(after[2].segment, "TRANS");
    EXPECT_EQ(h.LogCount("Discovered previously unknown hop"), 0);
}

TEST(PathScenario, NoDefaultGatewayReportsAnUnreachableInternet) {
    sim::WorldBuilder b = SteadyHome();
    b.At(0, sim::DefaultRouteGone());
    PathHarness h(b.Build());
    h.Ticks(2);
    EXPECT_EQ(h.Overall(), "critical");
    EXPECT_EQ(h.monitor.Path().Snapshot()->size(), 15u);
    EXPECT_EQ(h.state.find(R"("id":"homeNetwork")"), std::string::npos);
}

}  // namespace
}  // namespace quillon::test
