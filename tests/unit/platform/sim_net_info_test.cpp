#include "platform/sim/sim_net_info.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_world.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::sim {
namespace {

TEST(SimNetInfo, ListsTheTablesAndResolvesNeighbours) {
    VirtualClock clock;
    NetAdapter wired;
    wired.friendlyName = "Ethernet";
    wired.ifIndex = 7;
    wired.ifType = kIfTypeEthernet;
    wired.operStatusUp = true;
    wired.physicalAddress = {0x02, 0xAA, 0xBB};
    wired.ipv4Unicast = {Ipv4Address(10, 0, 0, 5)};
    NeighborConfig printer;  // answers resolution but is not in the table yet
    printer.address = Ipv4Address(192, 168, 1, 50);
    printer.ifIndex = kHomeIfIndex;
    printer.mac = {2, 0, 0, 0, 0, 0x50};
    printer.inTable = false;
    NeighborConfig stale;  // an incomplete row that answers nothing
    stale.address = Ipv4Address(192, 168, 1, 77);
    stale.ifIndex = kHomeIfIndex;
    stale.complete = false;
    stale.answersResolution = false;
    SimWorld world(WorldBuilder()
                       .Home()
                       .Adapter(wired)
                       .Route(Ipv4Address(), 0, Ipv4Address(10, 0, 0, 1), 7, 50)
                       .Route(Ipv4Address(10, 0, 0, 0), 24, Ipv4Address(), 7)
                       .Neighbor(printer)
                       .Neighbor(stale)
                       .Build(),
                   clock);
    SimNetInfo net(world);

    std::vector<NetAdapter> adapters;
    ASSERT_TRUE(net.ListAdapters(adapters));
    ASSERT_EQ(adapters.size(), 2u);
    EXPECT_EQ(adapters[0].friendlyName, "Wi-Fi");
    EXPECT_EQ(adapters[0].ifType, kIfTypeWireless);
    EXPECT_EQ(adapters[0].ipv4Unicast, std::vector<Ipv4Address>{kHomeAddress});
    EXPECT_EQ(adapters[0].ipv4Gateways, std::vector<Ipv4Address>{kHomeGateway});  // from routes
    EXPECT_EQ(adapters[1].physicalAddress.size(), 3u);
    EXPECT_EQ(adapters[1].ipv4Gateways, std::vector<Ipv4Address>{Ipv4Address(10, 0, 0, 1)});

    std::vector<Ipv4Route> routes;
    ASSERT_TRUE(net.ListRoutes(routes));
    ASSERT_EQ(routes.size(), 4u);  // the order given, not sorted
    EXPECT_EQ(routes[0].nextHop, kHomeGateway);
    EXPECT_EQ(routes[1].destination, Ipv4Address(192, 168, 1, 0));
    EXPECT_EQ(routes[1].mask, Ipv4Address(255, 255, 255, 0));
    EXPECT_EQ(routes[2].ifIndex, 7u);
    EXPECT_EQ(routes[2].metric, 50u);

    std::vector<NeighborEntry> neighbors;
    ASSERT_TRUE(net.ListNeighbors(neighbors));
    ASSERT_EQ(neighbors.size(), 2u);
    EXPECT_EQ(neighbors[0].address, kHomeGateway);
    EXPECT_EQ(neighbors[0].mac, kHomeGatewayMac);
    EXPECT_TRUE(neighbors[0].complete);
    EXPECT_FALSE(neighbors[1].complete);

    // An answer takes a moment and is learnt into the table; silence takes the whole second.
    EXPECT_EQ(net.ResolveNeighbor(printer.address), printer.mac);
    EXPECT_EQ(clock.Elapsed(), 1u);
    EXPECT_EQ(net.ResolveNeighbor(stale.address), std::nullopt);
    EXPECT_EQ(net.ResolveNeighbor(Ipv4Address(192, 168, 1, 99)), std::nullopt);
    EXPECT_EQ(clock.Elapsed(), 2001u);
    EXPECT_EQ(world.ResolutionRequests(printer.address), 1);
    ASSERT_TRUE(net.ListNeighbors(neighbors));
    ASSERT_EQ(neighbors.size(), 3u);
    EXPECT_EQ(neighbors[1].address, printer.address);
    EXPECT_EQ(neighbors[1].mac, printer.mac);
    EXPECT_TRUE(neighbors[1].complete);

    // A down adapter's routes leave the table and its neighbours stop answering.
    world.Apply(AdapterDown(kHomeIfIndex));
    ASSERT_TRUE(net.ListRoutes(routes));
    ASSERT_EQ(routes.size(), 2u);
    EXPECT_EQ(routes[0].ifIndex, 7u);
    EXPECT_EQ(net.ResolveNeighbor(kHomeGateway), std::nullopt);
    ASSERT_TRUE(net.ListAdapters(adapters));
    EXPECT_FALSE(adapters[0].operStatusUp);
    EXPECT_TRUE(adapters[0].ipv4Gateways.empty());

    // Unreadable tables.
    WorldBuilder failing;
    failing.Home().config().routeListFails = true;
    failing.config().neighborListFails = true;
    SimWorld broken(failing.Build(), clock);
    SimNetInfo brokenNet(broken);
    EXPECT_TRUE(brokenNet.ListAdapters(adapters));
    EXPECT_FALSE(brokenNet.ListRoutes(routes));
    EXPECT_FALSE(brokenNet.ListNeighbors(neighbors));
}

TEST(SimTimeline, ChangesApplyWhenDue) {
    VirtualClock clock;
    constexpr Ipv4Address kDest(1, 1, 1, 1);
    constexpr Ipv4Address kIsp(203, 0, 113, 1);
    const MacAddress newMac{0x02, 0xDE, 0xAD, 0, 0, 1};
    SimWorld world(WorldBuilder()
                       .Home()
                       .Path(kDest)
                       .Hop(kHomeGateway, 2)
                       .Hop(kIsp, 9)
                       .Hop(kDest, 14)
                       .At(20'000, HopLoss({kIsp}, 100))
                       .At(10'000, HopLatency({kIsp}, 30))  // listed out of order on purpose
                       .At(30'000, HopLoss({kIsp}, 0))
                       .At(40'000, HopSilent(HopOnPath(kDest, 3)))
                       .At(50'000, HopAnswers(HopOnPath(kDest, 3)))
                       .At(90'000, GatewayMac(newMac))
                       .At(100'000, DefaultRouteGone())
                       .At(110'000, DefaultRouteBack())
                       .Build(),
                   clock);
    SimNetInfo net(world);
    int notified = 0;
    world.SetChangeListener([&] { ++notified; });
    EchoReply reply;
    const auto echo = [&](Ipv4Address to) {
        const EchoOutcome outcome = world.SendEcho(to, 0, 1000);
        reply = outcome.reply;
        return outcome.answered;
    };

    EXPECT_EQ(world.ApplyDue(), 0);
    clock.Advance(9'999);
    ASSERT_TRUE(echo(kDest));
    EXPECT_EQ(reply.rttMs, 14u);
    clock.Advance(1);
    ASSERT_TRUE(echo(kDest));
    EXPECT_EQ(reply.rttMs, 44u);  // the latency added at the ISP hop counts from there on
    ASSERT_TRUE(echo(kHomeGateway));
    EXPECT_EQ(reply.rttMs, 2u);

    clock.Advance(10'000);
    EXPECT_EQ(world.ApplyDue(), 1);
    EXPECT_FALSE(echo(kIsp));
    EXPECT_FALSE(echo(kDest));  // loss before a hop is loss for every later hop
    EXPECT_TRUE(echo(kHomeGateway));
    clock.Advance(10'000);
    EXPECT_TRUE(echo(kDest));
    clock.Advance(10'000);
    EXPECT_FALSE(echo(kDest));
    EXPECT_TRUE(echo(kIsp));  // silence is the hop's own, it still forwards
    clock.Advance(10'000);
    EXPECT_TRUE(echo(kDest));
    EXPECT_EQ(notified, 0);  // path changes are no table changes

    // Several due changes at once apply in time order.
    clock.Advance(50'000);
    std::vector<NeighborEntry> neighbors;
    ASSERT_TRUE(net.ListNeighbors(neighbors));
    EXPECT_EQ(neighbors.at(0).mac, newMac);
    EXPECT_EQ(world.ResolveNeighbor(kHomeGateway), newMac);
    std::vector<Ipv4Route> routes;
    ASSERT_TRUE(net.ListRoutes(routes));
    ASSERT_EQ(routes.size(), 1u);  // the default route is gone
    EXPECT_FALSE(echo(kDest));
    EXPECT_EQ(notified, 1);

    clock.Advance(10'000);
    ASSERT_TRUE(net.ListRoutes(routes));
    ASSERT_EQ(routes.size(), 2u);
    EXPECT_EQ(routes[0].destination, Ipv4Address());  // back in its old place
    EXPECT_EQ(notified, 2);
    EXPECT_EQ(world.ApplyDue(), 0);
}

TEST(SimBuilder, MisuseIsRefused) {
    EXPECT_THROW(WorldBuilder().Hop(Ipv4Address(1, 2, 3, 4), 1), std::logic_error);
    EXPECT_THROW(WorldBuilder().Path(Ipv4Address(1, 1, 1, 1)).Loss(5), std::logic_error);
    EXPECT_THROW(WorldBuilder()
                     .Path(Ipv4Address(1, 1, 1, 1))
                     .Hop(Ipv4Address(10, 0, 0, 1), 1)
                     .Path(Ipv4Address(2, 2, 2, 2))
                     .SameHopsAs(Ipv4Address(1, 1, 1, 1), 2),
                 std::logic_error);
    const WorldConfig config = WorldBuilder()
                                   .Path(Ipv4Address(1, 1, 1, 1))
                                   .Hop(kHomeGateway, 2)
                                   .Loss(3)
                                   .Hop(Ipv4Address(1, 1, 1, 1), 9)
                                   .Path(Ipv4Address(8, 8, 8, 8))
                                   .SameHopsAs(Ipv4Address(1, 1, 1, 1), 1)
                                   .Hop(Ipv4Address(8, 8, 8, 8), 10)
                                   .Build();
    ASSERT_EQ(config.paths[1].hops.size(), 2u);
    EXPECT_EQ(config.paths[1].hops[0].address, kHomeGateway);
    EXPECT_EQ(config.paths[1].hops[0].lossPercent, 3);
}

}  // namespace
}  // namespace quillon::sim
