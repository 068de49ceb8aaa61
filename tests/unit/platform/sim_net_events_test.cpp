#include "platform/sim/sim_net_events.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::sim {
namespace {

using Heard = std::vector<std::pair<NetChangeKind, NetChangeType>>;

TEST(SimNetEvents, TableChangesReachEverySubscriptionUntilItEnds) {
    VirtualClock clock;
    SimWorld world(WorldBuilder()
                       .Home()
                       .Path(Ipv4Address(1, 1, 1, 1))
                       .Hop(kHomeGateway, 2)
                       .At(5'000, HopLoss({kHomeGateway}, 50))
                       .At(10'000, DefaultRouteGone())
                       .At(10'000, AdapterDown(kHomeIfIndex))
                       .Build(),
                   clock);
    auto events = std::make_unique<SimNetEvents>(world);
    Heard heard;
    const auto record = [&](NetChangeKind kind, NetChangeType type) {
        heard.emplace_back(kind, type);
    };
    uint32_t error = 99;
    auto routes = events->Subscribe(NetChangeKind::Route, record, &error);
    EXPECT_EQ(error, 0u);
    auto interfaces = events->Subscribe(NetChangeKind::Interface, record, &error);
    ASSERT_TRUE(routes && interfaces);
    EXPECT_EQ(heard, (Heard{{NetChangeKind::Route, NetChangeType::Initial},
                            {NetChangeKind::Interface, NetChangeType::Initial}}));

    heard.clear();
    clock.Advance(5'000);
    world.SendEcho(kHomeGateway, 0, 1000);  // a hop's loss is no table change
    EXPECT_TRUE(heard.empty());
    clock.Advance(5'000);
    std::vector<Ipv4Route> table;
    world.ListRoutes(table);  // both changes of the moment, announced once
    EXPECT_EQ(heard, (Heard{{NetChangeKind::Route, NetChangeType::Parameter},
                            {NetChangeKind::Interface, NetChangeType::Parameter}}));

    heard.clear();
    interfaces.reset();
    world.Apply(AdapterUp(kHomeIfIndex));
    EXPECT_EQ(heard, (Heard{{NetChangeKind::Route, NetChangeType::Parameter}}));

    // A subscription may outlive the adapter; the world no longer calls either.
    heard.clear();
    events.reset();
    world.Apply(AdapterDown(kHomeIfIndex));
    routes.reset();
    EXPECT_TRUE(heard.empty());
}

}  // namespace
}  // namespace quillon::sim
