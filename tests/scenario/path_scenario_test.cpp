// Whole-path behaviour over minutes of virtual time on simulated networks.
#include <gtest/gtest.h>

#include "fakes/segment_print.h"

#include <map>

#include "discovery/address_text.h"
#include "path_harness.h"
#include "platform/sim/sim_world_builder.h"

namespace quillon::test {
namespace {

using sim::kHomeGateway;

// A home whose every round trip is exact: figures can be compared byte for byte.
sim::WorldBuilder SteadyHome() {
    sim::WorldBuilder b;
    b.Seed(1)
        .Home()
        .Path(Ipv4Address(1, 1, 1, 1))
        .Hop(kHomeGateway, 2)
        .Named("router.home")
        .Hop(Ipv4Address(100, 64, 0, 1), 8)
        .Hop(Ipv4Address(203, 0, 113, 1), 10)
        .Named("bras1.isp.example")
        .As(64500, "EXAMPLE-NET, ZZ")
        .NoAnswerHop()
        .Hop(Ipv4Address(198, 51, 100, 9), 13)
        .As(64510, "TRANSIT-EXAMPLE, ZZ")
        .Hop(Ipv4Address(1, 1, 1, 1), 14)
        .Named("one.one.one.one")
        .As(13335, "CLOUDFLARENET, US")
        .Path(Ipv4Address(8, 8, 8, 8))
        .SameHopsAs(Ipv4Address(1, 1, 1, 1), 3)
        .Hop(Ipv4Address(8, 8, 8, 8), 16)
        .As(15169, "GOOGLE, US");
    return b;
}

TEST(PathScenario, HealthyHomeIsDiscoveredStageByStageAndMeasured) {
    PathHarness h(SteadyHome().Build());
    h.Tick();  // primary stage
    EXPECT_TRUE(h.monitor.Discovery().PrimaryDone());
    EXPECT_FALSE(h.monitor.Discovery().SecondaryDone());
    EXPECT_EQ(h.Overall(), "healthy");
    h.Ticks(2);  // the first sweep's echoes, then the secondary stage
    EXPECT_TRUE(h.monitor.Discovery().SecondaryDone());
    h.RunFor(20'000);  // re-probe stage, then measurement only
    EXPECT_TRUE(h.monitor.Discovery().AllStagesDone());

    EXPECT_NE(
        h.state.find(
            R"("hops":[{"hopNumber":1,"ip":"192.168.1.1","hostname":"router.home",)"
            R"("rttMs":2.0,"loss":0.0,"jitter":0.0,"segment":"LOCAL","segmentId":"connection",)"
            R"("recentLoss":0.0,"recentSamples":5},)"
            R"({"hopNumber":2,"ip":"100.64.0.1","rttMs":8.0,"loss":0.0,"jitter":0.0,)"
            R"("segment":"LOCAL","segmentId":"isp","recentLoss":0.0,"recentSamples":5},)"
            R"({"hopNumber":3,"ip":"203.0.113.1","hostname":"bras1.isp.example",)"
            R"("asn":"64500","asnName":"EXAMPLE-NET, ZZ","rttMs":10.0,"loss":0.0,)"
            R"("jitter":0.0,"segment":"ISP","segmentId":"isp","recentLoss":0.0,)"
            R"("recentSamples":5},)"
            R"({"hopNumber":4,"ip":"*","rttMs":0,"loss":100,"jitter":0,"segment":"?",)"
            R"("segmentId":"isp"},)"
            R"({"hopNumber":5,"ip":"198.51.100.9","asn":"64510",)"
            R"("asnName":"TRANSIT-EXAMPLE, ZZ","rttMs":13.0,"loss":0.0,"jitter":0.0,)"
            R"("segment":"TRANS","segmentId":"isp","recentLoss":0.0,"recentSamples":5},)"
            R"({"hopNumber":6,"ip":"1.1.1.1","hostname":"one.one.one.one","asn":"13335",)"
            R"("asnName":"CLOUDFLARENET, US","rttMs":14.0,"loss":0.0,"jitter":0.0,)"
            R"("segment":"DEST","segmentId":"services","recentLoss":0.0,"recentSamples":5}])"),
        std::string::npos)
        << h.state;
    EXPECT_EQ(h.Overall(), "healthy");
    EXPECT_FALSE(h.State().contains("culpritCallout"));

    // The secondary path filled the registry but the current path stayed the primary one.
    EXPECT_TRUE(h.monitor.Registry().GetNode(Ipv4Address(8, 8, 8, 8)));
    EXPECT_EQ(h.monitor.Path().Snapshot()->back().address, Ipv4Address(1, 1, 1, 1));

    // One measurement report with every hop.
    ASSERT_EQ(h.events.size(), 1u);
    EXPECT_EQ(h.events[0].first, "network.measurement");
    EXPECT_EQ(
        h.events[0].second.substr(0, 82),
        R"({"hops":[{"hop":1,"ip":"192.168.1.1","rttMs":2.0,"loss":0.0,"jitter":0.0,"segment")");
    EXPECT_NE(h.events[0].second.find(
                  R"({"hop":4,"ip":"*","rttMs":0.0,"loss":0.0,"jitter":0.0,"segment":"?"})"),
              std::string::npos);

    EXPECT_EQ(h.log.Lines({"destination", "raceroute", "discovered"}),
              (std::vector<std::string>{
                  "[INFO] NodeRegistry: Added destination Cloudflare DNS (0x01010101)",
                  "[INFO] NodeRegistry: Added destination Google DNS (0x08080808)",
                  "[INFO] Initialized 2 default destinations",
                  "[INFO] Running traceroute to primary destination Cloudflare DNS (1.1.1.1)",
                  "[INFO] Starting traceroute to 1.1.1.1 (max 15 hops)",
                  "[INFO] Traceroute complete: 6 hops discovered, 5 nodes in registry",
                  "[INFO] Primary path discovered: 5 nodes in registry",
                  "[INFO] Running traceroute to secondary destination Google DNS (8.8.8.8)",
                  "[INFO] Starting traceroute to 8.8.8.8 (max 15 hops)",
                  "[INFO] Traceroute complete: 4 hops discovered, 6 nodes in registry",
                  "[INFO] All paths discovered: 6 unique nodes",
              }));
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

// Ticks until `endMs` of virtual time. From the first proof of an impairment on, the overall
// status must never be "healthy". Returns the segments named and when each was first named.
std::map<std::string, uint64_t> WatchImpairment(PathHarness& h, uint64_t endMs) {
    bool proven = false;
    std::map<std::string, uint64_t> named;
    while (h.clock.Elapsed() < endMs) {
        h.Tick();
        proven = proven || h.monitor.StateBuilder().LastDiagnosis().hasIssue;
        if (proven) {
            EXPECT_NE(h.Overall(), "healthy") << h.clock.Elapsed();
        }
        const std::string segment = h.CalloutSegment();
        if (!segment.empty()) named.emplace(segment, h.clock.Elapsed());
    }
    return named;
}

TEST(PathScenario, WifiLossIsPlacedQuicklyNeverLooksHealthyAndClearsWithinAMinute) {
    sim::WorldBuilder b = SteadyHome();
    b.At(60'000, sim::HopLoss({kHomeGateway}, 30)).At(180'000, sim::HopLoss({kHomeGateway}, 0));
    PathHarness h(b.Build());
    h.RunFor(60'000);  // discovered and measured for a minute
    EXPECT_EQ(h.Overall(), "healthy");
    EXPECT_FALSE(h.monitor.GatheringEvidence());  // nothing suspected: the regular pace

    // Only the WiFi link is ever named, within about 20 s of the onset.
    const auto named = WatchImpairment(h, 180'000);
    ASSERT_EQ(named.size(), 1u);
    ASSERT_EQ(named.begin()->first, "connection");
    EXPECT_LE(named.begin()->second, 60'000u + 25'000u);
    const JsonValue callout = h.State().member("culpritCallout");
    EXPECT_EQ(callout.member("title").asString(), "WiFi Connection Issue");
    EXPECT_EQ(callout.member("description").asString(),
              "Packet loss detected on your WiFi connection.");
    EXPECT_EQ(h.log.Count("[INFO] Hysteresis[connection]: PENDING -> CONFIRMED (entry delay "
                          "elapsed)\r\n"),
              1);

    // Over: stabilising for 15 s, healthy within a minute of the end, then the regular pace.
    const uint64_t stabilising = TickUntil(
        h, [&] { return h.CalloutTitle() == "Network Stabilizing"; }, 60'000);
    EXPECT_EQ(h.Overall(), "warning");
    const uint64_t healthy = TickUntil(
        h, [&] { return h.Overall() == "healthy"; }, 60'000);
    EXPECT_GE(healthy - stabilising, 15'000u);
    EXPECT_LE(healthy, 180'000u + 60'000u);
    EXPECT_EQ(h.log.Count("[INFO] Hysteresis[connection]: CLEARING -> NONE (exit delay "
                          "elapsed)\r\n"),
              1);
    h.RunFor(30'000);
    EXPECT_EQ(h.Overall(), "healthy");
    EXPECT_FALSE(h.monitor.GatheringEvidence());
    // The page's long window took one sample per regular tick only.
    EXPECT_LE(h.monitor.Registry().GetNodeFigures(kHomeGateway)->count,
              static_cast<int32_t>(h.clock.Elapsed() / 5000) + 1);
}

// The shipped demo: WiFi loss of 20 % from 30 s to 120 s.
TEST(PathScenario, DemoWifiLossWorldNamesOnlyTheWifiLinkAndClears) {
    PathHarness h(LoadWorld("wifi_loss.json"));
    const auto named = WatchImpairment(h, 120'000);
    ASSERT_EQ(named.size(), 1u);
    EXPECT_EQ(named.begin()->first, "connection");
    TickUntil(
        h, [&] { return h.Overall() == "healthy"; }, 60'000);
}

TEST(PathScenario, LatencyFromAnIspHopBlamesTheIspButOneSlowRouterDoesNot) {
    sim::WorldBuilder b = SteadyHome();
    b.At(30'000, sim::HopLatency({Ipv4Address(203, 0, 113, 1)}, 400));
    PathHarness h(b.Build());
    TickUntil(
        h, [&] { return h.CalloutTitle() == "ISP Issue"; }, 120'000);
    TickUntil(
        h,
        [&] {
            return h.State().member("culpritCallout").member("description").asString() ==
                   "High latency in your ISP's network.";
        },
        60'000);
    EXPECT_EQ(h.CalloutSegment(), "isp");

    // A router that answers slowly itself while the path beyond it is fast: no culprit.
    sim::WorldBuilder slow;
    slow.Seed(2)
        .Home()
        .Path(Ipv4Address(1, 1, 1, 1))
        .Hop(kHomeGateway, 2)
        .Hop(Ipv4Address(203, 0, 113, 1), 250)
        .As(64500, "EXAMPLE-NET, ZZ")
        .Hop(Ipv4Address(1, 1, 1, 1), 14)
        .As(13335, "CLOUDFLARENET, US");
    PathHarness s(slow.Build());
    s.Ticks(30);
    EXPECT_EQ(s.Overall(), "healthy");
    EXPECT_FALSE(s.State().contains("culpritCallout"));
}

TEST(PathScenario, DestinationThatNeverAnswersPingIsJudgedByTheHopsBeforeIt) {
    PathHarness h(LoadWorld("no_answer_destination.json"));
    h.Tick();
    ASSERT_EQ(h.monitor.Path().Snapshot()->size(), 15u);
    // At first it cannot be told from an outage: critical, no place.
    EXPECT_EQ(h.Overall(), "critical");
    EXPECT_EQ(h.CalloutTitle(), "Network Issue Detected");
    EXPECT_EQ(h.CalloutSegment(), "");
    EXPECT_NE(h.state.find(R"({"hopNumber":15,"ip":"*","rttMs":0,"loss":100,"jitter":0,)"
                           R"("segment":"?","segmentId":"isp"})"),
              std::string::npos);
    h.RunFor(60'000);
    EXPECT_FALSE(h.monitor.Discovery().SecondaryDone());
    EXPECT_EQ(h.Overall(), "critical");
    // Hops that answered are measured meanwhile.
    EXPECT_GT(h.monitor.Registry().GetNodeFigures(Ipv4Address(10, 0, 0, 1))->count, 5);

    // Silent for minutes while its path and 8.8.8.8 answer: a host that does not answer ping.
    TickUntil(
        h, [&] { return h.monitor.Discovery().DestinationSilent(); }, 5 * 60'000);
    EXPECT_LE(h.log.Count("Starting traceroute to 1.1.1.1 (max 15 hops)"), 3);
    EXPECT_EQ(h.log.Count("[INFO] Destination 1.1.1.1 does not answer ping - judging the path up "
                          "to hop 3\r\n"),
              1);
    h.RunFor(30'000);
    EXPECT_EQ(h.monitor.Path().Snapshot()->size(), 3u);
    EXPECT_TRUE(h.monitor.Discovery().AllStagesDone());
    EXPECT_EQ(h.Overall(), "healthy");
    EXPECT_NE(h.state.find(R"("details":{"hostname":"1.1.1.1","answersPing":false})"),
              std::string::npos);
    // Both destinations are listed: the silent primary, and 8.8.8.8 with its own figures.
    const JsonValue destinations = h.State().member("destinations");
    ASSERT_EQ(destinations.asArray().size(), 2u);
    const JsonValue& primary = destinations.asArray()[0];
    EXPECT_EQ(primary.member("ip").asString(), "1.1.1.1");
    EXPECT_TRUE(primary.member("isPrimary").asBool());
    EXPECT_FALSE(primary.member("reached").asBool());
    EXPECT_FALSE(primary.member("answersPing").asBool());
    EXPECT_FALSE(primary.contains("rttMs"));
    const JsonValue& other = destinations.asArray()[1];
    EXPECT_EQ(other.member("ip").asString(), "8.8.8.8");
    EXPECT_TRUE(other.member("reached").asBool() && other.member("answersPing").asBool());
    EXPECT_NEAR(other.member("rttMs").asDouble(), 12, 3);
    EXPECT_GT(other.member("recentSamples").asInteger(), 0);

    // Its path is still watched: loss from the ISP on is blamed there, and the callout says
    // at which hop and how much.
    h.network.world().Apply(sim::HopLoss({Ipv4Address(203, 0, 113, 1)}, 40));
    TickUntil(
        h, [&] { return h.CalloutTitle() == "ISP Issue"; }, 60'000);
    const JsonValue callout = h.State().member("culpritCallout");
    EXPECT_EQ(callout.member("culpritHopNumber").asInteger(), 2);
    EXPECT_EQ(callout.member("culpritIp").asString(), "203.0.113.1");
    EXPECT_EQ(callout.member("trigger").asString(), "loss");
    EXPECT_GT(callout.member("triggerValue").asDouble(), 20.0);
    EXPECT_EQ(callout.member("since").asInteger(), h.monitor.StateBuilder().LastReason().sinceUnix);
    EXPECT_LE(callout.member("since").asInteger(), h.clock.UnixSeconds());
}

TEST(PathScenario, OutageRetriesKeepTheOldPathUntilTheNewOneIsTraced) {
    // The destination answered once, so its silence is an outage, retried once a minute.
    sim::WorldBuilder b = SteadyHome();
    b.At(0, sim::HopSilent({Ipv4Address(1, 1, 1, 1)}))
        .At(0, sim::HopSilent({Ipv4Address(198, 51, 100, 9)}));
    b.At(0, sim::HopSilent({Ipv4Address(8, 8, 8, 8)}));  // nothing past the ISP answers
    PathHarness h(b.Build());
    h.Tick();
    ASSERT_TRUE(h.monitor.Discovery().DestinationUnreached());
    const size_t traced = h.monitor.Path().Snapshot()->size();
    ASSERT_EQ(traced, 15u);
    // Every probe of the repeated traces sees the whole old path.
    size_t smallest = traced;
    h.network.world().SetEchoObserver(
        [&] { smallest = std::min(smallest, h.monitor.Path().Snapshot()->size()); });
    h.RunFor(240'000);
    h.network.world().SetEchoObserver({});
    EXPECT_GE(h.log.Count("Starting traceroute to 1.1.1.1 (max 15 hops)"), 3);
    EXPECT_EQ(smallest, traced);
    EXPECT_EQ(h.Overall(), "critical");
}

TEST(PathScenario, NoIcmpPermissionSaysSoInsteadOfAnOutageAndRecovers) {
    sim::WorldBuilder b = SteadyHome();
    b.IcmpUnavailable();
    PathHarness h(b.Build());
    h.Ticks(3);
    EXPECT_EQ(h.Overall(), "unknown");
    EXPECT_EQ(h.CalloutTitle(), "Ping Not Permitted");
    const JsonValue callout = h.State().member("culpritCallout");
    EXPECT_EQ(callout.member("severity").asString(), "unknown");
    EXPECT_EQ(callout.member("segmentId").asString(), "");
    EXPECT_FALSE(callout.member("remedy").asString().empty());
    EXPECT_TRUE(h.monitor.Path().Snapshot()->empty());  // no trace of fifteen silent hops
    EXPECT_EQ(h.log.Count("Starting traceroute"), 0);

    // Allowed later: found within a minute and measured.
    h.network.world().SetIcmpAvailable(true);
    TickUntil(
        h, [&] { return h.Overall() == "healthy"; }, 90'000);
    EXPECT_EQ(h.monitor.Path().Snapshot()->size(), 6u);
}

TEST(PathScenario, GatewayChangeBetweenStagesRediscoversInTheSameCycle) {
    sim::WorldBuilder b = SteadyHome();
    b.At(7'000, sim::GatewayMac({0x00, 0x99, 0x88, 0x77, 0x66, 0x55}));
    PathHarness h(b.Build());
    h.Tick();  // primary stage; the first discovery records the gateway
    EXPECT_EQ(h.monitor.Discovery().RecordedGatewayMac(), "00:11:22:33:44:55");
    TickUntil(
        h, [&] { return h.monitor.Discovery().SecondaryDone(); }, 7'000);
    // The MAC changed at 7 s: the next cycle (the re-probe stage, or the minute's pass over
    // the holes) resets and traces the primary path again.
    TickUntil(
        h, [&] { return h.log.Count("Gateway MAC changed") > 0; }, 70'000);
    EXPECT_EQ(h.log.Count("Gateway MAC changed"), 1);
    EXPECT_EQ(h.log.Count("[INFO] Gateway MAC changed: 00:11:22:33:44:55 -> 00:99:88:77:66:55 - "
                          "rediscovering path\r\n"),
              1);
    // Reset first, then the primary path again.
    EXPECT_EQ(h.log.Lines({"Gateway MAC changed", "Resetting path", "primary destination"}),
              (std::vector<std::string>{
                  "[INFO] Running traceroute to primary destination Cloudflare DNS (1.1.1.1)",
                  "[INFO] Gateway MAC changed: 00:11:22:33:44:55 -> 00:99:88:77:66:55 - "
                  "rediscovering path",
                  "[INFO] Resetting path discovery",
                  "[INFO] Running traceroute to primary destination Cloudflare DNS (1.1.1.1)",
              }));
    EXPECT_TRUE(h.monitor.Discovery().PrimaryDone());
    EXPECT_FALSE(h.monitor.Discovery().SecondaryDone());
    EXPECT_EQ(h.monitor.Path().Snapshot()->size(), 6u);
    h.RunFor(30'000);
    EXPECT_EQ(h.log.Count("Gateway MAC changed"), 1);
    EXPECT_TRUE(h.monitor.Discovery().AllStagesDone());
}

TEST(PathScenario, SilentHopThatAnswersLaterIsFoundByTheReprobe) {
    const Ipv4Address shy(203, 0, 113, 65);
    sim::WorldBuilder b;
    b.Seed(4)
        .Home()
        .Path(Ipv4Address(1, 1, 1, 1))
        .Hop(kHomeGateway, 2)
        .Hop(Ipv4Address(203, 0, 113, 1), 9)
        .As(64500, "EXAMPLE-NET, ZZ")
        .Hop(shy, 10)
        .Named("core1.isp.example")
        .As(64500, "EXAMPLE-NET, ZZ")
        .Hop(Ipv4Address(1, 1, 1, 1), 14)
        .As(13335, "CLOUDFLARENET, US")
        .At(0, sim::HopSilent({shy}))
        .At(7'000, sim::HopAnswers({shy}));
    PathHarness h(b.Build());
    h.Ticks(2);  // primary (hop 3 silent) and secondary
    EXPECT_EQ((*h.monitor.Path().Snapshot())[2].address, Ipv4Address());
    const size_t sentBefore = h.network.world().EchoesSent(Ipv4Address(1, 1, 1, 1), 3);
    h.Tick();  // re-probe towards the last answering hop with ttl 3
    EXPECT_EQ(h.network.world().EchoesSent(Ipv4Address(1, 1, 1, 1), 3), sentBefore + 1);
    EXPECT_TRUE(h.monitor.Discovery().ReprobeDone());
    const HopRecord hop = (*h.monitor.Path().Snapshot())[2];
    EXPECT_EQ(hop.address, shy);
    EXPECT_EQ(hop.hostname, "core1.isp.example");
    EXPECT_EQ(hop.label, HopLabel::Isp);  // labelled as the traceroute labels: the ISP's AS
    EXPECT_EQ(h.log.Count("[INFO] Discovered previously unknown hop 3: 203.0.113.65 "
                          "(core1.isp.example)\r\n"),
              1);
    h.Ticks(2);  // the new node is in the next sweep and gets samples
    EXPECT_GE(h.monitor.Registry().GetNodeFigures(shy)->count, 1);
}

// The destination's answers at its own distance were lost during the traceroute, so the path
// runs one hop past it with a hole. Re-probing the hole towards the destination reaches the
// destination itself: it is that close, so it takes that row and the rows past it go.
TEST(PathScenario, DestinationAnsweringCloserShortensThePath) {
    const Ipv4Address destination(1, 1, 1, 1);
    sim::WorldBuilder b;
    b.Seed(4)
        .Home()
        .Path(destination)
        .Hop(kHomeGateway, 2)
        .Hop(Ipv4Address(203, 0, 113, 1), 9)
        .As(64500, "EXAMPLE-NET, ZZ")
        .Hop(destination, 14)
        .As(13335, "CLOUDFLARENET, US")
        .At(0, sim::HopSilent({destination}))
        .At(3'500, sim::HopAnswers({destination}));
    PathHarness h(b.Build());
    h.Ticks(2);  // primary (three probes at ttl 3 lost, the destination at ttl 4), secondary
    const HopList traced = *h.monitor.Path().Snapshot();
    ASSERT_EQ(traced.size(), 4u);
    ASSERT_EQ(traced[2].address, Ipv4Address());
    ASSERT_EQ(traced[3].address, destination);

    h.Tick();  // re-probe of hop 3 towards the destination: answered by the destination
    EXPECT_TRUE(h.monitor.Discovery().ReprobeDone());
    const HopList after = *h.monitor.Path().Snapshot();
    ASSERT_EQ(after.size(), 3u);
    EXPECT_EQ(after[2].address, destination);
    EXPECT_EQ(after[2].ttl, 3);
    EXPECT_EQ(after[2].label, HopLabel::Destination);
    EXPECT_EQ(h.log.Count("[INFO] Hop 3 answered by 1.1.1.1 itself - the path ends there\r\n"), 1);
    EXPECT_EQ(h.log.Count("Discovered previously unknown hop"), 0);
}

TEST(PathScenario, HolesAreProbedAgainEachMinuteUntilTheyAnswer) {
    const Ipv4Address shy(203, 0, 113, 65);
    sim::WorldBuilder b = SteadyHome();
    b.At(0, sim::HopSilent({shy}));
    // SteadyHome's hop 4 never answers; a hop that starts answering after five minutes.
    b.config().paths[0].hops[3].address = shy;
    b.config().paths[0].hops[3].asn = 64500;
    b.At(300'000, sim::HopAnswers({shy}));
    PathHarness h(b.Build());
    h.RunFor(290'000);
    const int probes = h.network.world().EchoesSent(Ipv4Address(1, 1, 1, 1), 4);
    EXPECT_GE(probes, 3 + 4);  // the trace's three, then about one a minute
    EXPECT_LE(probes, 3 + 6);
    EXPECT_EQ((*h.monitor.Path().Snapshot())[3].address, Ipv4Address());
    h.RunFor(70'000);
    EXPECT_EQ((*h.monitor.Path().Snapshot())[3].address, shy);
    EXPECT_EQ((*h.monitor.Path().Snapshot())[3].label, HopLabel::Isp);
    const int after = h.network.world().EchoesSent(Ipv4Address(1, 1, 1, 1), 4);
    h.RunFor(180'000);
    EXPECT_EQ(h.network.world().EchoesSent(Ipv4Address(1, 1, 1, 1), 4), after);  // found: no more
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

// The ISP segment's details of the last message.
JsonValue IspDetails(const PathHarness& h) {
    const JsonValue state = h.State();
    for (const JsonValue& segment : state.member("segments").asArray()) {
        if (segment.member("id").asString() == "isp") return segment.member("details");
    }
    return JsonValue();
}

TEST(PathScenario, IspIsNamedFromThePathWhileUdpIsBlockedThenFromThePublicAddress) {
    sim::WorldConfig world = LoadWorld("healthy_home.json");
    world.timeline.insert(world.timeline.begin(), sim::PublicAddress(Ipv4Address()));
    sim::TimelineEvent back = sim::PublicAddress(Ipv4Address(203, 0, 113, 45));
    back.atMs = 60'000;
    world.timeline.push_back(back);
    PathHarness h(world);

    h.Ticks(2);
    JsonValue isp = IspDetails(h);
    EXPECT_EQ(isp.member("asn").asString(), "AS64500");
    EXPECT_EQ(isp.member("provider").asString(), "EXAMPLE-NET, ZZ");
    EXPECT_EQ(isp.member("providerSource").asString(), "path");
    EXPECT_TRUE(isp.contains("latencyMs"));  // of the ISP hop the name came from
    EXPECT_FALSE(isp.contains("publicIp") || isp.contains("status"));
    EXPECT_FALSE(h.State().contains("publicIpInfo"));

    h.RunFor(65'000);  // the server answers again; the next retry learns the address
    isp = IspDetails(h);
    EXPECT_EQ(isp.member("publicIp").asString(), "203.0.113.45");
    EXPECT_EQ(isp.member("publicHostname").asString(), "cpe-203-0-113-45.city.isp.example");
    EXPECT_EQ(isp.member("asn").asString(), "AS64500");
    EXPECT_EQ(isp.member("provider").asString(), "EXAMPLE-NET, ZZ");
    EXPECT_EQ(isp.member("providerSource").asString(), "stun");
    EXPECT_EQ(h.State().member("publicIpInfo").member("port").asInteger(), 51234);
    EXPECT_EQ(h.log.Count("[INFO] Public address learned: 203.0.113.45 (port 51234)"), 1);
}

}  // namespace
}  // namespace quillon::test
