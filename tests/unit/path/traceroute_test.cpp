#include "path/traceroute.h"

#include <gtest/gtest.h>

#include "discovery/address_text.h"
#include "discovery/name_lookups.h"
#include "fakes/log_capture.h"
#include "fakes/segment_print.h"
#include "path/echo_prober.h"
#include "path/node_registry.h"
#include "platform/sim/sim_network.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

constexpr uint32_t kDest = Ipv4(1, 1, 1, 1);

TEST(Traceroute, LabelsFollowTheFirstRuleThatApplies) {
    // The first hop is local even when public with AS data.
    EXPECT_EQ(LabelHop(1, Ipv4(203, 0, 113, 1), kDest, "64500", "13335", "64500"), HopLabel::Local);
    // The destination itself, or its AS.
    EXPECT_EQ(LabelHop(4, kDest, kDest, "", "13335", "64500"), HopLabel::Destination);
    EXPECT_EQ(LabelHop(3, Ipv4(198, 51, 100, 1), kDest, "13335", "13335", "64500"),
              HopLabel::Destination);
    // Private without AS data, carrier-grade NAT included.
    EXPECT_EQ(LabelHop(2, Ipv4(100, 64, 0, 1), kDest, "", "13335", ""), HopLabel::Local);
    EXPECT_EQ(LabelHop(2, Ipv4(10, 1, 2, 3), kDest, "", "", ""), HopLabel::Local);
    // Private with AS data is judged by the AS.
    EXPECT_EQ(LabelHop(2, Ipv4(10, 1, 2, 3), kDest, "64500", "", "64500"), HopLabel::Isp);
    EXPECT_EQ(LabelHop(5, Ipv4(198, 51, 100, 9), kDest, "64500", "", "64500"), HopLabel::Isp);
    EXPECT_EQ(LabelHop(5, Ipv4(198, 51, 100, 9), kDest, "", "", "64500"), HopLabel::Unknown);
    EXPECT_EQ(LabelHop(5, Ipv4(198, 51, 100, 9), kDest, "3356", "13335", "64500"),
              HopLabel::Transit);
    // An empty destination AS never matches an empty hop AS.
    EXPECT_EQ(LabelHop(5, Ipv4(198, 51, 100, 9), kDest, "", "", ""), HopLabel::Unknown);
}

// Traceroutes over a small simulated network.
class TracerouteWorld : public ::testing::Test {
protected:
    HopList Trace(const std::string& destination, Publish publish = Publish::HopByHop) {
        TraceContext context{prober, lookups, registry, currentPath};
        return Traceroute(context, destination, {registry.Generation(), currentPath.Generation()},
                          publish);
    }
    sim::VirtualClock clock;
    sim::SimSystem system;
    test::TestLog log{system, clock};
    sim::SimNetwork network{sim::WorldBuilder()
                                .Home()
                                .Path(Ipv4(192, 168, 1, 1))
                                .Hop(sim::kHomeGateway, 2)
                                .Path(Ipv4(9, 9, 9, 9))
                                .Hop(sim::kHomeGateway, 2)
                                .Hop(Ipv4(203, 0, 113, 1), 9)
                                .As(64500, "EXAMPLE-NET, ZZ")
                                .Hop(Ipv4(9, 9, 9, 9), 12)
                                .As(19281, "QUAD9, ZZ")
                                .Build(),
                            clock};
    NodeRegistry registry{clock};
    CurrentPath currentPath;
    EchoProber prober{network.icmp(), registry};
    NameLookups lookups{network.dns()};
};

TEST_F(TracerouteWorld, StopsAtTheDestinationAndPublishesTheLatestTrace) {
    ASSERT_TRUE(prober.OpenSharedHandle());
    HopList hops = Trace("9.9.9.9");
    ASSERT_EQ(hops.size(), 3u);
    EXPECT_EQ(hops[1].label, HopLabel::Isp);
    EXPECT_EQ(hops[2].label, HopLabel::Destination);
    EXPECT_EQ(registry.GetNode(Ipv4(203, 0, 113, 1))->info.asName, "EXAMPLE-NET, ZZ");

    hops = Trace("192.168.1.1");  // answers at hop 1: local, one record
    ASSERT_EQ(hops.size(), 1u);
    EXPECT_EQ(hops[0].label, HopLabel::Local);
    EXPECT_EQ(currentPath.Snapshot()->size(), 1u);

    Trace("9.9.9.9", Publish::None);  // a trace that does not publish leaves the path alone
    EXPECT_EQ(currentPath.Snapshot()->size(), 1u);
    EXPECT_EQ(registry.GetPath(Ipv4(9, 9, 9, 9))->hops.size(), 3u);
}

TEST_F(TracerouteWorld, UnansweredTimeToLiveIsTriedThreeTimesBeforeItIsAHole) {
    ASSERT_TRUE(prober.OpenSharedHandle());
    network.world().Apply(sim::HopSilent({Ipv4(203, 0, 113, 1)}));
    const HopList hops = Trace("9.9.9.9");
    ASSERT_EQ(hops.size(), 3u);
    EXPECT_EQ(hops[1].address, 0u);
    const uint32_t dest = Ipv4(9, 9, 9, 9);
    EXPECT_EQ(network.world().EchoesSent(dest, 1), 1);
    EXPECT_EQ(network.world().EchoesSent(dest, 2), 3);
    EXPECT_EQ(network.world().EchoesSent(dest, 3), 1);

    // A repeated trace shows the old path until it is done, then the new one at once.
    network.world().Apply(sim::HopAnswers({Ipv4(203, 0, 113, 1)}));
    TraceContext context{prober, lookups, registry, currentPath};
    prober.OpenSharedHandle();
    Traceroute(context, "9.9.9.9", {registry.Generation(), currentPath.Generation()},
               Publish::AtTheEnd);
    EXPECT_EQ((*currentPath.Snapshot())[1].address, Ipv4(203, 0, 113, 1));
    EXPECT_EQ(IspAsnOf(*currentPath.Snapshot()), "64500");
}

TEST_F(TracerouteWorld, RefusesWhatIsNotADottedQuad) {
    ASSERT_TRUE(prober.OpenSharedHandle());
    Trace("9.9.9.9");
    for (const char* bad : {"256.1.1.1", "dns.example", "1.2.3", ""}) {
        EXPECT_TRUE(Trace(bad).empty()) << bad;
    }
    EXPECT_EQ(currentPath.Snapshot()->size(), 3u);  // left as it was
    EXPECT_EQ(log.Count("[ERROR] Invalid destination address: 256.1.1.1\r\n"), 1);
    EXPECT_EQ(log.Count("[INFO] Starting traceroute to dns.example (max 15 hops)\r\n"), 1);
}

TEST_F(TracerouteWorld, WithoutTheIcmpHandleEveryHopIsSilent) {
    const HopList hops = Trace("9.9.9.9");
    ASSERT_EQ(hops.size(), 15u);
    for (const HopRecord& hop : hops) {
        EXPECT_EQ(hop.address, 0u);
        EXPECT_EQ(hop.label, HopLabel::Unknown);
    }
    EXPECT_EQ(registry.NodeCount(), 0u);
}

}  // namespace
}  // namespace quillon
