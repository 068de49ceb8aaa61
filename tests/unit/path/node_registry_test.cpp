#include "path/node_registry.h"

#include <gtest/gtest.h>

#include "discovery/address_text.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

constexpr Ipv4Address kA(192, 168, 1, 1);
constexpr Ipv4Address kB(203, 0, 113, 5);

TEST(NodeRegistry, PathsDestinationsAndSamples) {
    sim::VirtualClock clock;
    NodeRegistry registry(clock);
    registry.AddDestination({Ipv4Address(1, 1, 1, 1), "Cloudflare DNS", true});
    registry.AddDestination({Ipv4Address(8, 8, 8, 8), "Google DNS", false});
    registry.AddDestination({Ipv4Address(1, 1, 1, 1), "Renamed", false});  // in place
    auto destinations = registry.GetDestinations();
    ASSERT_EQ(destinations.size(), 2u);
    EXPECT_EQ(destinations[0].name, "Renamed");
    EXPECT_FALSE(destinations[0].isPrimary);

    const uint64_t generation = registry.Generation();
    clock.Advance(1234);
    ASSERT_TRUE(registry.StorePath(Ipv4Address(8, 8, 8, 8), {Ipv4Address(), kA, Ipv4Address(), kB},
                                   generation));
    EXPECT_EQ(registry.NodeCount(), 2u);  // no node for the silent hops
    EXPECT_FALSE(registry.GetNode(Ipv4Address()));
    EXPECT_EQ(registry.GetPath(Ipv4Address(8, 8, 8, 8))->recordedAt, clock.Tick64());

    ASSERT_TRUE(registry.GetOrCreateNode(kA, {"gw.lan", "", "", HopLabel::Local}, generation));
    EXPECT_EQ(registry.GetNode(kA)->info.hostname, "gw.lan");
    registry.RecordSample(kA, 10, false);
    registry.RecordSample(kA, 20, false);
    registry.RecordSample(kA, 0, true);
    registry.RecordSample(Ipv4Address(9, 9, 9, 9), 5, false);  // no node: ignored
    EXPECT_EQ(registry.NodeCount(), 2u);
    const NodeFigures figures = *registry.GetNodeFigures(kA);
    EXPECT_EQ(figures.count, 3);
    EXPECT_EQ(figures.averageRtt, 15u);
    EXPECT_NEAR(figures.lossPercent, 33.33f, 0.01f);
    EXPECT_EQ(registry.GetNodeFigures(kB)->count, 0);

    registry.Clear();
    EXPECT_EQ(registry.NodeCount(), 0u);
    EXPECT_FALSE(registry.GetPath(Ipv4Address(8, 8, 8, 8)));
    EXPECT_EQ(registry.GetDestinations().size(), 2u);

    // Writes of a cycle that began before the clear are dropped.
    EXPECT_FALSE(registry.GetOrCreateNode(kA, {}, generation));
    EXPECT_FALSE(registry.StorePath(Ipv4Address(8, 8, 8, 8), {kA}, generation));
    EXPECT_EQ(registry.NodeCount(), 0u);
    EXPECT_TRUE(registry.GetOrCreateNode(kA, {}, registry.Generation()));
}

}  // namespace
}  // namespace quillon
