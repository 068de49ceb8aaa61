// The real tables of a private network namespace (see private_namespace.h).
#include "platform/linux/linux_net_info.h"

#include <gtest/gtest.h>

#include <net/if.h>
#include <unistd.h>
#include "base/ipv4.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>

#include "private_namespace.h"

namespace quillon::lnx {
namespace {

const NetAdapter* Find(const std::vector<NetAdapter>& adapters, const std::string& name) {
    for (const NetAdapter& a : adapters) {
        if (a.friendlyName == name) return &a;
    }
    return nullptr;
}

void CheckTables() {
    LinuxNetInfoOptions options;
    options.resolveWaitMs = 400;
    LinuxNetInfo net(options);
    std::vector<NetAdapter> adapters;
    ASSERT_TRUE(net.ListAdapters(adapters));
    const NetAdapter* qla = Find(adapters, "qla");
    const NetAdapter* lo = Find(adapters, "lo");
    ASSERT_TRUE(qla && lo && Find(adapters, "qlb"));
    EXPECT_EQ(qla->ifIndex, if_nametoindex("qla"));
    EXPECT_EQ(qla->ifType, 6u);
    EXPECT_EQ(qla->description, "virtual Ethernet pair (veth)");
    EXPECT_EQ(qla->mtu, 1400u);
    EXPECT_EQ(qla->physicalAddress, (std::vector<uint8_t>{0x02, 0x51, 0, 0, 0, 1}));
    EXPECT_EQ(qla->ipv4Unicast, std::vector<Ipv4Address>{Ipv4Address(10, 9, 9, 1)});
    EXPECT_EQ(qla->ipv4Gateways, std::vector<Ipv4Address>{Ipv4Address(10, 9, 9, 254)});
    EXPECT_TRUE(std::find(qla->ipv6Unicast.begin(), qla->ipv6Unicast.end(), "fd00::1") !=
                qla->ipv6Unicast.end());
    EXPECT_TRUE(qla->operStatusUp);
    EXPECT_EQ(lo->ifType, 24u);
    EXPECT_TRUE(lo->operStatusUp);
    EXPECT_TRUE(lo->ipv4Gateways.empty());

    LinuxNetInfoOptions pinned = options;
    pinned.pinnedInterface = "qla";
    std::vector<NetAdapter> pinnedList;
    ASSERT_TRUE(LinuxNetInfo(pinned).ListAdapters(pinnedList));
    ASSERT_TRUE(Find(pinnedList, "qla"));
    EXPECT_EQ(Find(pinnedList, "qla")->description, "Ethernet pair (veth)");
    EXPECT_EQ(Find(pinnedList, "qlb")->description, "virtual Ethernet pair (veth)");

    std::vector<Ipv4Route> routes;
    ASSERT_TRUE(net.ListRoutes(routes));
    ASSERT_FALSE(routes.empty());
    EXPECT_EQ(routes[0].destination, Ipv4Address())
        << "the default route comes first, as the kernel lists";
    EXPECT_EQ(routes[0].nextHop, Ipv4Address(10, 9, 9, 254));
    EXPECT_EQ(routes[0].ifIndex, qla->ifIndex);
    EXPECT_EQ(routes[0].metric, 5u);

    std::vector<NeighborEntry> neighbors;
    ASSERT_TRUE(net.ListNeighbors(neighbors));
    const auto known = std::find_if(neighbors.begin(), neighbors.end(), [](const auto& n) {
        return n.address == Ipv4Address(10, 9, 9, 254);
    });
    ASSERT_NE(known, neighbors.end());
    EXPECT_TRUE(known->complete);
    EXPECT_EQ(known->ifIndex, qla->ifIndex);
    EXPECT_EQ(known->mac, (MacAddress{0x02, 0, 0, 0, 0, 0xFE}));

    EXPECT_EQ(net.ResolveNeighbor(Ipv4Address(10, 9, 9, 254)),
              (MacAddress{0x02, 0, 0, 0, 0, 0xFE}));
    // Nobody owns 10.9.9.2 (the peer has no address): the wait ends empty, on time.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(net.ResolveNeighbor(Ipv4Address(10, 9, 9, 2)));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(400));
    EXPECT_LT(waited, std::chrono::milliseconds(1400));

    // What a device is, is kept between listings: one created again under the same name as
    // another kind is described afresh, and what may change is read every time.
    ASSERT_EQ(std::system("ip link add qlc type bridge && ip link set qla mtu 1300 && "
                          "ip link set qla address 02:51:00:00:00:02"),
              0);
    std::vector<NetAdapter> later;
    ASSERT_TRUE(net.ListAdapters(later));
    ASSERT_TRUE(Find(later, "qlc"));
    EXPECT_EQ(Find(later, "qlc")->description, "virtual bridge");
    EXPECT_EQ(Find(later, "qla")->mtu, 1300u);
    EXPECT_EQ(Find(later, "qla")->physicalAddress, (std::vector<uint8_t>{0x02, 0x51, 0, 0, 0, 2}));
    ASSERT_EQ(std::system("ip link del qlc && ip link add qlc type veth peer name qld"), 0);
    ASSERT_TRUE(net.ListAdapters(later));
    ASSERT_TRUE(Find(later, "qlc"));
    EXPECT_EQ(Find(later, "qlc")->description, "virtual Ethernet pair (veth)");
    EXPECT_EQ(Find(later, "qlc")->ifIndex, if_nametoindex("qlc"));
    EXPECT_FALSE(Find(later, "qlc")->operStatusUp);  // never set up
}

TEST(LinuxNetInfo, ReadsAdaptersRoutesAndNeighboursOfANamespace) {
    if (geteuid() != 0) GTEST_SKIP() << "creating a network namespace needs root";
    testing::InPrivateNamespace(
        "ip link set qla mtu 1400 && ip link set qla address 02:51:00:00:00:01 && "
        "ip -6 addr add fd00::1/64 dev qla nodad && "
        "ip route add default via 10.9.9.254 dev qla metric 5 && "
        "ip neigh add 10.9.9.254 lladdr 02:00:00:00:00:fe dev qla nud permanent",
        CheckTables);
}

}  // namespace
}  // namespace quillon::lnx
