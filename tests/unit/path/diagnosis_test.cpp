#include "path/diagnosis.h"

#include <gtest/gtest.h>

#include "base/log.h"
#include "discovery/address_text.h"
#include "fakes/segment_print.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

HopRecord Hop(int ttl, Ipv4Address address, HopLabel label) {
    HopRecord h;
    h.ttl = ttl;
    h.address = address;
    h.label = label;
    h.timedOut = address.IsZero();
    return h;
}

HopFigures Fig(float rtt, float loss, float jitter) {
    return {true, rtt, loss, jitter};
}

constexpr uint64_t kNow = 10'000'000;

// A hop's evidence: n echoes half a second apart (the pace while evidence is gathered) up to
// `now`, `lost` of them lost (spread evenly),
// the rest answered in rtt +- spread ms.
HopEvidence Ev(int n, int lost, double rtt = 10, double spread = 1, uint64_t now = kNow) {
    std::vector<Sample> samples;
    for (int i = 0; i < n; ++i) {
        const bool timedOut = (i * lost) / n != ((i + 1) * lost) / n;
        const double ms = rtt + (i % 2 == 0 ? spread : -spread);
        samples.push_back({now - uint64_t(n - 1 - i) * 500, timedOut ? 0 : uint32_t(ms), timedOut});
    }
    return ReduceEvidence(samples, now);
}
const HopEvidence kSilent{};

// gateway, CGNAT hop, two ISP hops, transit, destination
HopList HomePath() {
    return {Hop(1, Ipv4Address(192, 168, 1, 1), HopLabel::Local),
            Hop(2, Ipv4Address(100, 64, 0, 1), HopLabel::Local),
            Hop(3, Ipv4Address(203, 0, 113, 1), HopLabel::Isp),
            Hop(4, Ipv4Address(), HopLabel::Unknown),
            Hop(5, Ipv4Address(198, 51, 100, 7), HopLabel::Transit),
            Hop(6, Ipv4Address(1, 1, 1, 1), HopLabel::Destination)};
}

TEST(Diagnosis, AssessmentThresholdsAreInclusive) {
    using S = SegmentStatus;
    const std::pair<HopFigures, S> cases[] = {{Fig(149.9f, 2.9f, 29.9f), S::Healthy},
                                              {Fig(150, 0, 0), S::Warning},
                                              {Fig(0, 3, 0), S::Warning},
                                              {Fig(0, 0, 30), S::Warning},
                                              {Fig(300, 0, 0), S::Critical},
                                              {Fig(0, 10, 0), S::Critical},
                                              {Fig(0, 0, 100), S::Critical}};
    for (const auto& [figures, status] : cases) {
        const HealthAssessment a = AssessHealth(figures);
        EXPECT_EQ(a.status, status)
            << figures.rttMs << " " << figures.lossPercent << " " << figures.jitterMs;
        EXPECT_EQ(a.isHealthy, status == S::Healthy);
    }
    EXPECT_TRUE(AssessHealth(Fig(0, 3, 0)).highLoss);
}

TEST(Diagnosis, SegmentsOfHops) {
    const HopList path = HomePath();
    EXPECT_EQ(SegmentOfHop(path, 0), Segment::Connection);
    EXPECT_EQ(SegmentOfHop(path, 1), Segment::Isp);  // carrier-grade NAT belongs to the ISP
    EXPECT_EQ(SegmentOfHop(path, 2), Segment::Isp);
    EXPECT_EQ(SegmentOfHop(path, 3), Segment::Isp);
    EXPECT_EQ(SegmentOfHop(path, 5), Segment::Services);
    HopList lan = {Hop(1, Ipv4Address(10, 0, 0, 1), HopLabel::Local),
                   Hop(2, Ipv4Address(192, 168, 1, 1), HopLabel::Local)};
    EXPECT_EQ(SegmentOfHop(lan, 1), Segment::HomeNetwork);
}

TEST(Diagnosis, WilsonIntervalsNarrowWithSamples) {
    const Interval none = WilsonInterval(0, 0);
    EXPECT_EQ(none.low, 0);
    EXPECT_EQ(none.high, 1);
    // 0 of 20 cannot tell 0 % from 3 %; 0 of 200 can. 3 of 10 is surely above 3 %.
    EXPECT_GT(WilsonInterval(0, 20).high, 0.03);
    EXPECT_LT(WilsonInterval(0, 200).high, 0.03);
    EXPECT_NEAR(WilsonInterval(3, 10).low, 0.0964, 0.001);  // exact bound: 0.087
    EXPECT_NEAR(WilsonInterval(3, 10).high, 0.6044, 0.001);
    EXPECT_LT(WilsonInterval(1, 5).low, 0.03);   // one loss in five proves nothing either
    EXPECT_LT(WilsonInterval(1, 12).low, 0.03);  // one loss in a minute proves nothing
    EXPECT_EQ(CleanRunNeeded(0.2), 62);          // 0.8^62 < 1e-6 < 0.8^61
    EXPECT_EQ(CleanRunNeeded(0.001), kCleanRunCap);
}

TEST(Diagnosis, EvidenceWindowIsTheLastHalfMinuteOrTheLastTenEchoes) {
    std::vector<Sample> samples;
    for (int i = 0; i < 40; ++i) samples.push_back({kNow - uint64_t(39 - i) * 5000, 0, true});
    for (int i = 0; i < 5; ++i) samples[35 + i] = {samples[35 + i].timestampMs, 10, false};
    const HopEvidence slow = ReduceEvidence(samples, kNow);
    EXPECT_EQ(slow.samples, 10);  // 7 in the half minute, stretched to 10
    EXPECT_EQ(slow.losses, 5);
    EXPECT_EQ(slow.lastLossMs, kNow - 5 * 5000);
    EXPECT_EQ(slow.times.size(), 40u);
    const HopEvidence fast = Ev(90, 9, 20, 2);
    EXPECT_EQ(fast.samples, 61);  // the half minute, both ends included
    EXPECT_EQ(fast.rttCount + fast.losses, 61);
    // Echoes of an impairment proven over are history.
    EXPECT_EQ(ReduceEvidence(samples, kNow, kNow - 12000).samples, 3);
    EXPECT_NEAR(fast.rttMean, 20, 0.5);
    EXPECT_NEAR(fast.rttMad, 2, 0.1);
}

// gateway, CGNAT, ISP, silent, transit, destination
Diagnosis Judge(const std::vector<HopEvidence>& ev, const HopList& path = HomePath()) {
    sim::VirtualClock clock;
    Hysteresis memory(clock);
    return Diagnose(path, ev, true, memory);
}

TEST(Diagnosis, BlameWaitsUntilEveryPlaceBeforeTheRunIsProvenCleaner) {
    // Loss on the first link: early on the gateway's own echoes happened to pass, so the
    // impairment is proven but may start at the gateway or after it.
    Diagnosis d = Judge({Ev(12, 1), Ev(12, 3), Ev(12, 3), kSilent, Ev(12, 4), Ev(12, 3)});
    EXPECT_TRUE(d.hasIssue);
    EXPECT_EQ(d.endToEnd, EndToEnd::Impaired);
    EXPECT_EQ(d.culpritSegment, std::nullopt);
    EXPECT_EQ(d.firstCandidate, 0);
    // More echoes prove the gateway lossy too: the WiFi link.
    d = Judge({Ev(60, 12), Ev(60, 12), Ev(60, 13), kSilent, Ev(60, 12), Ev(60, 12)});
    ASSERT_TRUE(d.culpritSegment.has_value());
    EXPECT_EQ(d.culpritSegment, Segment::Connection);
    EXPECT_EQ(d.title, "WiFi Connection Issue");
    EXPECT_EQ(d.description, "Packet loss detected on your WiFi connection.");
    EXPECT_EQ(d.assessment.status, SegmentStatus::Critical);
    EXPECT_GT(d.lossLevel, 0.1);
    EXPECT_EQ(d.onsetMs, kNow - 27500);  // the first loss in the window, of any hop

    // Loss past the CGNAT hop: the CGNAT hop is still undecided, but it is the ISP's too.
    d = Judge({Ev(60, 0), Ev(8, 0), Ev(60, 18), kSilent, Ev(60, 18), Ev(60, 19)});
    ASSERT_TRUE(d.culpritSegment.has_value());
    EXPECT_EQ(d.culpritHop, 2);
    EXPECT_EQ(d.culpritSegment, Segment::Isp);
    EXPECT_EQ(d.title, "ISP Issue");

    // Loss at the destination alone needs the transit hop proven cleaner first.
    d = Judge({Ev(60, 0), Ev(60, 0), Ev(60, 0), kSilent, Ev(10, 0), Ev(60, 18)});
    EXPECT_FALSE(d.culpritSegment.has_value());
    d = Judge({Ev(60, 0), Ev(60, 0), Ev(60, 0), kSilent, Ev(60, 0), Ev(60, 18)});
    EXPECT_EQ(d.culpritSegment, Segment::Services);
    EXPECT_EQ(d.title, "Remote Server Issue");

    // A silent router before the run neither ends it nor is ever blamed.
    d = Judge({Ev(60, 0), Ev(60, 0), Ev(60, 0), kSilent, Ev(60, 15), Ev(60, 15)});
    EXPECT_EQ(d.culpritHop, 4);
    EXPECT_EQ(d.firstCandidate, 4);
    EXPECT_EQ(d.culpritSegment, Segment::Isp);
}

TEST(Diagnosis, RouterDroppingItsOwnAnswersIsNoIssueAndBreaksNoRun) {
    // A middle router rate-limits its answers; everything behind it is clean.
    Diagnosis d = Judge({Ev(60, 0), Ev(60, 0), Ev(60, 25), kSilent, Ev(60, 0), Ev(60, 0)});
    EXPECT_FALSE(d.hasIssue);
    // The same router in front of a real loss on the first link: skipped, not blamed.
    d = Judge({Ev(60, 12), Ev(60, 12), Ev(60, 40), kSilent, Ev(60, 12), Ev(60, 12)});
    EXPECT_EQ(d.ownLoss, (std::vector<int32_t>{2}));
    EXPECT_EQ(d.culpritSegment, Segment::Connection);
    // Too few echoes to say anything: no issue, but worth measuring more often.
    d = Judge({Ev(5, 0), Ev(5, 1), Ev(5, 1), kSilent, Ev(5, 0), Ev(5, 1)});
    EXPECT_FALSE(d.hasIssue);
    EXPECT_TRUE(d.suspected);
    EXPECT_FALSE(Judge({Ev(60, 0), Ev(60, 0), Ev(60, 0), kSilent, Ev(60, 0), Ev(60, 0)}).suspected);
}

TEST(Diagnosis, LatencyAndJitterRunsAndTheirTexts) {
    const HopList lan = {Hop(1, Ipv4Address(192, 168, 1, 254), HopLabel::Local),
                         Hop(2, Ipv4Address(192, 168, 0, 1), HopLabel::Local),
                         Hop(3, Ipv4Address(1, 1, 1, 1), HopLabel::Destination)};
    Diagnosis d = Judge({Ev(20, 0, 3), Ev(20, 0, 180, 5), Ev(20, 0, 190, 5)}, lan);
    EXPECT_EQ(d.latencyHop, 1);
    EXPECT_EQ(d.culpritSegment, Segment::HomeNetwork);
    EXPECT_EQ(d.description, "High latency at your router (possible bufferbloat).");
    // Latency too close to the threshold to prove either way proves nothing.
    d = Judge({Ev(20, 0, 3), Ev(20, 0, 150, 40), Ev(20, 0, 152, 40)}, lan);
    EXPECT_FALSE(d.hasIssue);
    // Jitter at the destination alone.
    d = Judge({Ev(20, 0, 3), Ev(20, 0, 5), Ev(30, 0, 60, 45)}, lan);
    EXPECT_EQ(d.jitterHop, 2);
    EXPECT_EQ(d.culpritSegment, Segment::Services);
    // Loss from the ISP, latency only further on: loss is earlier and names the texts.
    d = Judge(
        {Ev(60, 0), Ev(60, 0), Ev(60, 12, 20), kSilent, Ev(60, 12, 200, 5), Ev(60, 12, 210, 5)});
    EXPECT_EQ(d.lossHop, 2);
    EXPECT_EQ(d.latencyHop, 4);
    EXPECT_EQ(d.culpritSegment, Segment::Isp);
    EXPECT_EQ(d.description, "Packet loss detected in your ISP's network.");
}

TEST(Diagnosis, UnreachedDestinationIsCriticalAtOnce) {
    const HopList partial = {Hop(1, Ipv4Address(192, 168, 1, 1), HopLabel::Local),
                             Hop(2, Ipv4Address(), HopLabel::Unknown),
                             Hop(3, Ipv4Address(), HopLabel::Unknown)};
    sim::VirtualClock clock;
    Hysteresis memory(clock);
    const Diagnosis d = Diagnose(partial, {Ev(20, 0), kSilent, kSilent}, false, memory);
    EXPECT_TRUE(d.hasIssue);
    EXPECT_EQ(d.assessment.status, SegmentStatus::Critical);
    EXPECT_EQ(d.culpritSegment, std::nullopt);
    EXPECT_EQ(d.title, "Network Issue Detected");
    EXPECT_EQ(d.description, "Your connection is experiencing some degradation.");
    EXPECT_EQ(d.remedy, "Monitor the situation - it may resolve automatically.");
    EXPECT_FALSE(Diagnose({}, {}, false, memory).hasIssue);  // nothing traced yet
}

// The five segments' statuses: H healthy, W warning, C critical, ? unknown.
std::array<SegmentStatus, 5> Statuses(const char (&five)[6]) {
    std::array<SegmentStatus, 5> out{};
    for (size_t i = 0; i < 5; ++i) {
        out[i] = five[i] == 'H'   ? SegmentStatus::Healthy
                 : five[i] == 'W' ? SegmentStatus::Warning
                 : five[i] == 'C' ? SegmentStatus::Critical
                                  : SegmentStatus::Unknown;
    }
    return out;
}

class VerdictTest : public ::testing::Test {
protected:
    sim::VirtualClock clock;
    Hysteresis hysteresis{clock};
    const HopList path = HomePath();
    const LinkFacts wired{false, 0, true};

    // Every hop with n echoes up to now, `lost` lost; `gatewayLost` for the first hop.
    Verdict Build(int n, int lost, int gatewayLost, const LinkFacts& link) {
        const uint64_t now = clock.Tick64();
        std::vector<HopEvidence> ev = {Ev(n, gatewayLost, 3, 1, now), Ev(n, lost, 8, 1, now),
                                       Ev(n, lost, 20, 1, now),       kSilent,
                                       Ev(n, lost, 40, 1, now),       Ev(n, lost, 41, 1, now)};
        return BuildVerdict(Diagnose(path, ev, true, hysteresis), false, link, hysteresis);
    }
    Verdict Build(int n, int lost) { return Build(n, lost, lost, wired); }
};

TEST_F(VerdictTest, ProvenImpairmentIsNeverHealthyAndShowsAfterTheEntryDelayFromItsOnset) {
    // Proven, not yet placed: checking, not healthy.
    Verdict v = Build(40, 10, 2, wired);
    EXPECT_EQ(v.overall, SegmentStatus::Warning);
    EXPECT_EQ(v.callout.title, "Checking Your Connection");
    EXPECT_EQ(v.callout.segment, std::nullopt);
    EXPECT_EQ(v.segmentStatus, Statuses("HH???"));
    EXPECT_EQ(hysteresis.StateOf(Segment::Connection), Hysteresis::kNone);
    // Placed on the WiFi link; its first loss is 19 s old, so the entry delay has passed.
    clock.Advance(1000);
    v = Build(40, 10, 10, wired);
    EXPECT_EQ(hysteresis.StateOf(Segment::Connection), Hysteresis::kPending);
    EXPECT_EQ(v.callout.title, "Checking Your Connection");
    clock.Advance(1000);
    v = Build(40, 10, 10, wired);
    ASSERT_EQ(hysteresis.StateOf(Segment::Connection), Hysteresis::kConfirmed);
    EXPECT_EQ(v.callout.title, "WiFi Connection Issue");
    EXPECT_EQ(v.callout.severity, SegmentStatus::Critical);
    EXPECT_EQ(v.overall, SegmentStatus::Critical);
    EXPECT_EQ(v.segmentStatus, Statuses("HC???"));

    // Undecided evidence (the gateway looks clean for a while) moves nothing.
    clock.Advance(1000);
    v = Build(40, 10, 2, wired);
    EXPECT_EQ(v.callout.title, "WiFi Connection Issue");
    // Proven elsewhere: the ISP waits out its entry delay while the WiFi verdict stays.
    clock.Advance(1000);
    v = Build(60, 12, 0, wired);
    EXPECT_EQ(hysteresis.StateOf(Segment::Isp), Hysteresis::kPending);
    EXPECT_EQ(v.callout.segment, Segment::Connection);
}

TEST_F(VerdictTest, ClearingNeedsCleanEchoesTheLossCannotExplainThenStabilises) {
    for (int i = 0; i < 3; ++i) {
        Build(60, 15);
        clock.Advance(5000);
    }
    ASSERT_EQ(Build(60, 15).callout.segment, Segment::Connection);
    // A few clean echoes do not prove the end; what was shown stays.
    clock.Advance(1000);
    const auto evidenceWithCleanTail = [&](int clean) {
        const uint64_t now = clock.Tick64();
        std::vector<HopEvidence> ev(6);
        for (int hop : {0, 1, 2, 4, 5}) {
            std::vector<Sample> s;
            for (int i = 0; i < 60; ++i) {
                const bool lost = i < 60 - clean && i % 4 == 0;
                s.push_back({now - uint64_t(59 - i) * 1000, lost ? 0u : 10u, lost});
            }
            ev[size_t(hop)] = ReduceEvidence(s, now, hysteresis.memory.evidenceSince);
        }
        return BuildVerdict(Diagnose(path, ev, true, hysteresis), false, wired, hysteresis);
    };
    Verdict v = evidenceWithCleanTail(2);  // 5 hops x 3 clean echoes
    EXPECT_EQ(v.callout.segment, Segment::Connection) << v.callout.title;
    // 5 hops x 15 clean echoes in a row: a loss of 20 % or more would not allow that.
    clock.Advance(1000);
    v = evidenceWithCleanTail(12);
    EXPECT_EQ(v.callout.title, "Network Stabilizing");
    EXPECT_EQ(v.callout.severity, SegmentStatus::Warning);
    EXPECT_EQ(v.overall, SegmentStatus::Warning);
    clock.Advance(15000);
    v = evidenceWithCleanTail(40);
    EXPECT_FALSE(v.callout.show);
    EXPECT_EQ(v.overall, SegmentStatus::Healthy);
    EXPECT_EQ(v.segmentStatus, Statuses("HHHHH"));
}

TEST_F(VerdictTest, LinkStatusUnreachedAndIcmpNotPermitted) {
    EXPECT_EQ(Build(20, 0, 0, {true, 45, true}).StatusOf(Segment::Connection),
              SegmentStatus::Warning);
    EXPECT_EQ(Build(20, 0, 0, {true, 20, true}).StatusOf(Segment::Connection),
              SegmentStatus::Critical);
    EXPECT_EQ(Build(20, 0, 0, {true, 50, false}).StatusOf(Segment::Connection),
              SegmentStatus::Healthy);
    EXPECT_EQ(Build(20, 0, 0, {false, 0, false}).StatusOf(Segment::Connection),
              SegmentStatus::Unknown);

    // Unreached destination: critical at once, no segment, no hysteresis.
    const Verdict v = BuildVerdict(Diagnose(path, {}, false, hysteresis), false, wired, hysteresis);
    EXPECT_EQ(v.overall, SegmentStatus::Critical);
    EXPECT_EQ(v.callout.title, "Network Issue Detected");
    EXPECT_EQ(v.segmentStatus, Statuses("HH???"));

    const Verdict empty = BuildVerdict(Diagnose({}, {}, true, hysteresis), true, wired, hysteresis);
    EXPECT_EQ(empty.overall, SegmentStatus::Unknown);

    const Verdict blocked = NoIcmpVerdict(wired, "sudo setcap cap_net_raw+ep /opt/q");
    EXPECT_EQ(blocked.overall, SegmentStatus::Unknown);
    EXPECT_EQ(blocked.callout.severity, SegmentStatus::Unknown);
    EXPECT_EQ(blocked.callout.title, "Ping Not Permitted");
    EXPECT_EQ(blocked.callout.remedy, "sudo setcap cap_net_raw+ep /opt/q");
}

}  // namespace
}  // namespace quillon
