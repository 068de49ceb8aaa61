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

constexpr Ipv4Address kDest(1, 1, 1, 1);

TEST(Traceroute, LabelsFollowTheFirstRuleThatApplies) {
    const Ipv4Address transit(198, 51, 100, 9), cgnat = Ipv4Address(100, 64, 0, 1);
    const Ipv4Address lan(10, 1, 2, 3);
    struct Case {
        const char* name;
        int32_t ttl;
        Ipv4Address address;
        const char *asn, *destinationAsn, *ispAsn;
        HopLabel label;
    };
    const Case cases[] = {
        {"first hop, even public with AS data", 1, Ipv4Address(203, 0, 113, 1), "64500", "13335",
         "64500", HopLabel::Local},
        {"the destination itself", 4, kDest, "", "13335", "64500", HopLabel::Destination},
        {"the destination's AS", 3, transit, "13335", "13335", "64500", HopLabel::Destination},
        {"carrier-grade NAT without AS data", 2, cgnat, "", "13335", "", HopLabel::Local},
        {"private without AS data", 2, lan, "", "", "", HopLabel::Local},
        {"private with the ISP's AS", 2, lan, "64500", "", "64500", HopLabel::Isp},
        {"public with the ISP's AS", 5, transit, "64500", "", "64500", HopLabel::Isp},
        {"public without AS data", 5, transit, "", "", "64500", HopLabel::Unknown},
        {"another AS", 5, transit, "3356", "13335", "64500", HopLabel::Transit},
        {"empty AS never matches an empty destination AS", 5, transit, "", "", "",
         HopLabel::Unknown},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(LabelHop(c.ttl, c.address, kDest, c.asn, c.destinationAsn, c.ispAsn), c.label)
            << c.name;
    }
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
                                .Path(Ipv4Address(192, 168, 1, 1))
                                .Hop(sim::kHomeGateway, 2)
                                .Path(Ipv4Address(9, 9, 9, 9))
                                .Hop(sim::kHomeGateway, 2)
                                .Hop(Ipv4Address(203, 0, 113, 1), 9)
                                .As(64500, "EXAMPLE-NET, ZZ")
                                .Hop(Ipv4Address(9, 9, 9, 9), 12)
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
    EXPECT_EQ(registry.GetNode(Ipv4Address(203, 0, 113, 1))->info.asName, "EXAMPLE-NET, ZZ");

    hops = Trace("192.168.1.1");  // answers at hop 1: local, one record
    ASSERT_EQ(hops.size(), 1u);
    EXPECT_EQ(hops[0].label, HopLabel::Local);
    EXPECT_EQ(currentPath.Snapshot()->size(), 1u);

    Trace("9.9.9.9", Publish::None);  // a trace that does not publish leaves the path alone
    EXPECT_EQ(currentPath.Snapshot()->size(), 1u);
    EXPECT_EQ(registry.GetPath(Ipv4Address(9, 9, 9, 9))->hops.size(), 3u);
}

TEST_F(TracerouteWorld, UnansweredTimeToLiveIsTriedThreeTimesBeforeItIsAHole) {
    ASSERT_TRUE(prober.OpenSharedHandle());
    network.world().Apply(sim::HopSilent({Ipv4Address(203, 0, 113, 1)}));
    const HopList hops = Trace("9.9.9.9");
    ASSERT_EQ(hops.size(), 3u);
    EXPECT_EQ(hops[1].address, Ipv4Address());
    const Ipv4Address dest(9, 9, 9, 9);
    EXPECT_EQ(network.world().EchoesSent(dest, 1), 1);
    EXPECT_EQ(network.world().EchoesSent(dest, 2), 3);
    EXPECT_EQ(network.world().EchoesSent(dest, 3), 1);

    // A repeated trace shows the old path until it is done, then the new one at once.
    network.world().Apply(sim::HopAnswers({Ipv4Address(203, 0, 113, 1)}));
    TraceContext context{prober, lookups, registry, currentPath};
    prober.OpenSharedHandle();
    Traceroute(context, "9.9.9.9", {registry.Generation(), currentPath.Generation()},
               Publish::AtTheEnd);
    EXPECT_EQ((*currentPath.Snapshot())[1].address, Ipv4Address(203, 0, 113, 1));
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
        EXPECT_EQ(hop.address, Ipv4Address());
        EXPECT_EQ(hop.label, HopLabel::Unknown);
    }
    EXPECT_EQ(registry.NodeCount(), 0u);
}

}  // namespace
}  // namespace quillon
