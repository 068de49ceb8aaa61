#include "path/diagnosis.h"

#include <gtest/gtest.h>

#include "app/log.h"
#include "discovery/address_text.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

HopRecord Hop(int ttl, uint32_t address, const char* label) {
    HopRecord h;
    h.ttl = ttl;
    h.address = address;
    h.segment = label;
    h.timedOut = address == 0;
    return h;
}

HopFigures Fig(float rtt, float loss, float jitter) { return {true, rtt, loss, jitter}; }
const HopFigures kSilent{};

// gateway, CGNAT hop, two ISP hops, transit, destination
HopList HomePath() {
    return {Hop(1, MakeIpv4(192, 168, 1, 1), kLabelLocal), Hop(2, MakeIpv4(100, 64, 0, 1), kLabelLocal),
            Hop(3, MakeIpv4(203, 0, 113, 1), kLabelIsp), Hop(4, 0, kLabelUnknown),
            Hop(5, MakeIpv4(198, 51, 100, 7), kLabelTransit), Hop(6, MakeIpv4(1, 1, 1, 1), kLabelDestination)};
}

TEST(Diagnosis, AssessmentThresholdsAreInclusive) {
    EXPECT_EQ(AssessHealth(Fig(149.9f, 2.9f, 29.9f)).status, kStatusHealthy);
    EXPECT_TRUE(AssessHealth(Fig(149.9f, 2.9f, 29.9f)).isHealthy);
    EXPECT_EQ(AssessHealth(Fig(150, 0, 0)).status, kStatusWarning);
    EXPECT_TRUE(AssessHealth(Fig(0, 3, 0)).highLoss);
    EXPECT_EQ(AssessHealth(Fig(0, 0, 30)).status, kStatusWarning);
    EXPECT_EQ(AssessHealth(Fig(300, 0, 0)).status, kStatusCritical);
    EXPECT_EQ(AssessHealth(Fig(0, 10, 0)).status, kStatusCritical);
    EXPECT_EQ(AssessHealth(Fig(0, 0, 100)).status, kStatusCritical);
    EXPECT_FALSE(AssessHealth(Fig(0, 10, 0)).isHealthy);
    EXPECT_STREQ(StatusText(7), "unknown");
}

TEST(Diagnosis, SustainedStartSkipsSilentHopsAndIgnoresImpairmentsThatClear) {
    // High at 1, normal at 2, high from 4 to the end: the run starts at 4.
    std::vector<HopFigures> f = {Fig(10, 0, 0), Fig(200, 0, 0), Fig(10, 0, 0), Fig(10, 0, 0),
                                 Fig(200, 0, 0), Fig(210, 0, 0)};
    EXPECT_EQ(SustainedStart(f, Metric::Latency), 4);
    EXPECT_EQ(SustainedStart(f, Metric::Loss), -1);

    // A silent router neither starts nor breaks a run of loss from the first hop.
    f = {Fig(2, 20, 0), kSilent, Fig(12, 20, 0), kSilent, Fig(15, 21, 0), Fig(16, 20, 0)};
    EXPECT_EQ(SustainedStart(f, Metric::Loss), 0);
    f = {kSilent, Fig(2, 20, 0), Fig(12, 20, 0)};
    EXPECT_EQ(SustainedStart(f, Metric::Loss), 1);
}

TEST(Diagnosis, SegmentsOfHops) {
    const HopList path = HomePath();
    EXPECT_EQ(SegmentIdForHop(path, 0), "connection");
    EXPECT_EQ(SegmentIdForHop(path, 1), "isp");  // carrier-grade NAT belongs to the ISP
    EXPECT_EQ(SegmentIdForHop(path, 2), "isp");
    EXPECT_EQ(SegmentIdForHop(path, 3), "isp");
    EXPECT_EQ(SegmentIdForHop(path, 5), "services");
    EXPECT_EQ(SegmentIdForHop(path, 6), "unknown");
    EXPECT_EQ(SegmentIdForHop(path, -1), "unknown");
    HopList lan = {Hop(1, MakeIpv4(10, 0, 0, 1), kLabelLocal), Hop(2, MakeIpv4(192, 168, 1, 1), kLabelLocal)};
    EXPECT_EQ(SegmentIdForHop(lan, 1), "homeNetwork");
}

TEST(Diagnosis, CulpritIsTheEarliestSustainedMetricWithItsTexts) {
    const HopList path = HomePath();
    // Loss from hop index 2 (ISP), latency only from index 4: loss wins, ISP loss texts.
    std::vector<HopFigures> f = {Fig(3, 0, 1), Fig(8, 0, 1), Fig(20, 4, 2), kSilent,
                                 Fig(160, 5, 2), Fig(170, 5, 2)};
    Diagnosis d = Diagnose(path, f, true);
    ASSERT_TRUE(d.hasIssue);
    EXPECT_EQ(d.lossHop, 2);
    EXPECT_EQ(d.latencyHop, 4);
    EXPECT_EQ(d.culpritHop, 2);
    EXPECT_EQ(d.culpritSegment, "isp");
    EXPECT_EQ(d.latencySegment, "isp");
    EXPECT_EQ(d.assessment.status, kStatusWarning);
    EXPECT_EQ(d.title, "ISP Issue");
    EXPECT_EQ(d.description, "Packet loss detected in your ISP's network.");
    EXPECT_EQ(d.remedy, "This is likely a temporary ISP issue. Contact them if it persists.");

    // WiFi loss behind a silent router is still a WiFi issue.
    f = {Fig(3, 12, 1), Fig(8, 12, 1), Fig(20, 12, 2), kSilent, Fig(40, 13, 2), Fig(41, 12, 2)};
    d = Diagnose(path, f, true);
    EXPECT_EQ(d.culpritSegment, "connection");
    EXPECT_EQ(d.title, "WiFi Connection Issue");
    EXPECT_EQ(d.description, "Packet loss detected on your WiFi connection.");
    EXPECT_EQ(d.assessment.status, kStatusCritical);

    // Latency at the router only.
    const HopList lan = {Hop(1, MakeIpv4(192, 168, 1, 254), kLabelLocal),
                         Hop(2, MakeIpv4(192, 168, 0, 1), kLabelLocal),
                         Hop(3, MakeIpv4(1, 1, 1, 1), kLabelDestination)};
    d = Diagnose(lan, {Fig(3, 0, 0), Fig(180, 0, 0), Fig(190, 0, 0)}, true);
    EXPECT_EQ(d.culpritSegment, "homeNetwork");
    EXPECT_EQ(d.description, "High latency at your router (possible bufferbloat).");

    // Jitter alone at the destination.
    d = Diagnose(lan, {Fig(3, 0, 0), Fig(5, 0, 0), Fig(50, 0, 40)}, true);
    EXPECT_EQ(d.culpritSegment, "services");
    EXPECT_EQ(d.title, "Remote Server Issue");

    // Loss only at the destination blames the destination.
    d = Diagnose(lan, {Fig(3, 0, 0), Fig(5, 0, 0), Fig(5, 3, 0)}, true);
    EXPECT_EQ(d.lossHop, 2);
    EXPECT_EQ(d.culpritSegment, "services");
    d = Diagnose(lan, {Fig(3, 0, 0), Fig(5, 0, 0), Fig(5, 0, 0)}, true);
    EXPECT_FALSE(d.hasIssue);
}

TEST(Diagnosis, EndToEndUsesTheLastHopWithFiguresAndAnUnreachedDestinationIsCritical) {
    const HopList partial = {Hop(1, MakeIpv4(192, 168, 1, 1), kLabelLocal), Hop(2, 0, kLabelUnknown),
                             Hop(3, 0, kLabelUnknown)};
    Diagnosis d = Diagnose(partial, {Fig(4, 15, 0), kSilent, kSilent}, true);
    EXPECT_TRUE(d.hasIssue);
    EXPECT_EQ(d.culpritSegment, "connection");

    d = Diagnose(partial, {Fig(4, 0, 0), kSilent, kSilent}, false);
    EXPECT_TRUE(d.hasIssue);
    EXPECT_EQ(d.assessment.status, kStatusCritical);
    EXPECT_EQ(d.culpritSegment, "");
    EXPECT_EQ(d.title, "Network Issue Detected");
    EXPECT_EQ(d.description, "Your connection is experiencing some degradation.");
    EXPECT_EQ(d.remedy, "Monitor the situation - it may resolve automatically.");

    EXPECT_FALSE(Diagnose({}, {}, false).hasIssue);  // nothing traced yet
}

class VerdictTest : public ::testing::Test {
protected:
    sim::VirtualClock clock;
    Hysteresis hysteresis{clock};
    const HopList path = HomePath();
    const LinkFacts wired{false, 0, true};

    Verdict Build(const std::vector<HopFigures>& f, const LinkFacts& link) {
        return BuildVerdict(Diagnose(path, f, true), false, link, hysteresis);
    }
};

TEST_F(VerdictTest, ImpairmentShowsAfterTheEntryDelayAndStabilisesForTheExitDelay) {
    const std::vector<HopFigures> lossy = {Fig(3, 20, 1), Fig(8, 20, 1), Fig(20, 20, 2),
                                           kSilent, Fig(40, 20, 2), Fig(41, 20, 2)};
    const std::vector<HopFigures> fine = {Fig(3, 0, 1), Fig(8, 0, 1), Fig(20, 0, 2),
                                          kSilent, Fig(40, 0, 2), Fig(41, 0, 2)};
    Verdict v = Build(lossy, wired);
    EXPECT_FALSE(v.callout.show);
    EXPECT_EQ(v.overallStatus, "healthy");
    EXPECT_EQ(hysteresis.StateOf("connection"), Hysteresis::kPending);
    clock.Advance(9999);
    EXPECT_FALSE(Build(lossy, wired).callout.show);
    clock.Advance(1);
    v = Build(lossy, wired);
    ASSERT_TRUE(v.callout.show);
    EXPECT_EQ(v.callout.severity, kStatusCritical);
    EXPECT_EQ(v.callout.segmentId, "connection");
    EXPECT_EQ(v.callout.title, "WiFi Connection Issue");
    EXPECT_EQ(v.overallStatus, "critical");
    EXPECT_EQ(v.segmentStatus, (std::array<int32_t, 5>{0, 2, 3, 3, 3}));

    clock.Advance(5000);
    v = Build(fine, wired);  // resolved: stabilising
    ASSERT_TRUE(v.callout.show);
    EXPECT_EQ(v.callout.severity, kStatusWarning);
    EXPECT_EQ(v.callout.title, "Network Stabilizing");
    EXPECT_EQ(v.callout.description, "Recent network issues are resolving.");
    EXPECT_EQ(v.callout.remedy, "Monitoring for stability.");
    EXPECT_EQ(v.callout.segmentId, "");
    EXPECT_EQ(v.overallStatus, "warning");
    clock.Advance(14999);
    EXPECT_EQ(Build(fine, wired).overallStatus, "warning");
    clock.Advance(1);
    v = Build(fine, wired);
    EXPECT_FALSE(v.callout.show);
    EXPECT_EQ(v.overallStatus, "healthy");
    EXPECT_EQ(v.segmentStatus, (std::array<int32_t, 5>{0, 0, 0, 0, 0}));
}

TEST_F(VerdictTest, PendingThatClearsIsForgottenAndReturningImpairmentReconfirms) {
    const std::vector<HopFigures> lossy = {Fig(3, 0, 1), Fig(8, 0, 1), Fig(20, 5, 2), kSilent,
                                           Fig(40, 5, 2), Fig(41, 5, 2)};
    const std::vector<HopFigures> fine = {Fig(3, 0, 1), Fig(8, 0, 1), Fig(20, 0, 2), kSilent,
                                          Fig(40, 0, 2), Fig(41, 0, 2)};
    Build(lossy, wired);
    clock.Advance(5000);
    EXPECT_FALSE(Build(fine, wired).callout.show);
    EXPECT_EQ(hysteresis.StateOf("isp"), Hysteresis::kNone);

    Build(lossy, wired);
    clock.Advance(10000);
    EXPECT_EQ(Build(lossy, wired).callout.severity, kStatusWarning);
    clock.Advance(5000);
    Build(fine, wired);
    EXPECT_EQ(hysteresis.StateOf("isp"), Hysteresis::kClearing);
    Verdict v = Build(lossy, wired);  // back at once, no new entry delay
    EXPECT_TRUE(v.callout.show);
    EXPECT_EQ(v.callout.title, "ISP Issue");
    EXPECT_EQ(v.segmentStatus[3], kStatusWarning);

    hysteresis.ResetHysteresis();
    EXPECT_EQ(hysteresis.StateOf("isp"), Hysteresis::kNone);
}

TEST_F(VerdictTest, LinkStatusAndUndampedGenericIssue) {
    const std::vector<HopFigures> fine(6, Fig(5, 0, 0));
    EXPECT_EQ(Build(fine, {true, 45, true}).segmentStatus[1], kStatusWarning);
    EXPECT_EQ(Build(fine, {true, 20, true}).segmentStatus[1], kStatusCritical);
    EXPECT_EQ(Build(fine, {true, 50, false}).segmentStatus[1], kStatusHealthy);
    EXPECT_EQ(Build(fine, {false, 0, false}).segmentStatus[1], kStatusUnknown);

    // Unreached destination: critical at once, no segment, no hysteresis.
    const Verdict v = BuildVerdict(Diagnose(path, fine, false), false, wired, hysteresis);
    EXPECT_TRUE(v.callout.show);
    EXPECT_EQ(v.overallStatus, "critical");
    EXPECT_EQ(v.callout.title, "Network Issue Detected");
    EXPECT_EQ(v.segmentStatus, (std::array<int32_t, 5>{0, 0, 3, 3, 3}));

    const Verdict empty = BuildVerdict(Diagnose({}, {}, true), true, wired, hysteresis);
    EXPECT_EQ(empty.overallStatus, "unknown");
    EXPECT_EQ(empty.segmentStatus, (std::array<int32_t, 5>{0, 0, 3, 3, 3}));
}

}  // namespace
}  // namespace quillon
