#include "discovery/adapter_discovery.h"

#include <gtest/gtest.h>

#include <vector>

#include "discovery/address_text.h"
#include "fakes/fake_net_info.h"

namespace quillon {
namespace {

using test::FakeNetInfo;

NetAdapter Adapter(std::string name, std::string description, uint32_t ifIndex,
                   uint32_t ifType = kIfTypeEthernet, bool up = true) {
    NetAdapter a;
    a.friendlyName = std::move(name);
    a.description = std::move(description);
    a.ifIndex = ifIndex;
    a.ifType = ifType;
    a.operStatusUp = up;
    a.ipv4Unicast = {Ipv4Address(192, 168, 1, static_cast<uint8_t>(ifIndex))};
    return a;
}

Ipv4Route DefaultRoute(uint32_t ifIndex, Ipv4Address nextHop) {
    return Ipv4Route{Ipv4Address(), Ipv4Address(), nextHop, ifIndex, 25};
}

const Ipv4Address kGw(192, 168, 1, 254);
const Ipv4Address kOtherGw(10, 0, 0, 1);
const MacAddress kGwMac{0x00, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E};

TEST(DiscoverPrimaryAdapterTest, FillsEveryFieldOfTheChosenAdapter) {
    FakeNetInfo net;
    NetAdapter a = Adapter("Ethernet 2", "Intel(R) Ethernet I219-V", 7);
    a.mtu = 1500;
    a.transmitLinkSpeed = 10'000'000'000ULL;
    a.physicalAddress = {0xa0, 0xb1, 0xc2, 0xd3, 0xe4, 0xf5, 0x01, 0x02};
    a.ipv4Unicast = {Ipv4Address(192, 168, 1, 20), Ipv4Address(192, 168, 1, 21)};
    a.ipv6Unicast = {"FE80::1c2d:3e4f", "fe80::1", "2001:db8::20", "2001:db8::21"};
    net.adapters = {a};
    net.routes = {
        Ipv4Route{Ipv4Address(192, 168, 1, 0), Ipv4Address(255, 255, 255, 0), Ipv4Address(), 7, 1},
        DefaultRoute(7, kGw)};
    net.neighbors = {{kGw, 7, kGwMac, true}};

    const AdapterInfo info = DiscoverPrimaryAdapter(net);
    EXPECT_TRUE(info.found);
    EXPECT_EQ(info.name, "Ethernet 2");
    EXPECT_EQ(info.description, "Intel(R) Ethernet I219-V");
    EXPECT_EQ(info.ipv4, "192.168.1.20");
    EXPECT_EQ(info.ipv6, "2001:db8::20");
    EXPECT_EQ(info.mac, "A0:B1:C2:D3:E4:F5");
    EXPECT_EQ(info.gatewayIp, "192.168.1.254");
    EXPECT_EQ(info.gatewayMac, "00:1A:2B:3C:4D:5E");
    EXPECT_EQ(info.ifIndex, 7u);
    EXPECT_EQ(info.ifType, kIfTypeEthernet);
    EXPECT_EQ(info.mtu, 1500u);
    EXPECT_EQ(info.linkSpeed, 10'000'000'000ULL);
    EXPECT_TRUE(info.isUp);

    // Five address bytes are no hardware address; link-local-only IPv6 is no IPv6.
    net.adapters[0].physicalAddress.resize(5);
    net.adapters[0].ipv6Unicast = {"fe80::1"};
    const AdapterInfo shorter = DiscoverPrimaryAdapter(net);
    EXPECT_TRUE(shorter.found);
    EXPECT_EQ(shorter.mac, "");
    EXPECT_EQ(shorter.ipv6, "");
}

TEST(DiscoverPrimaryAdapterTest, SkipsVirtualAdaptersByDescriptionNameTypeAndAddresses) {
    const char* descriptions[] = {
        "Microsoft HYPER-V Network Adapter",
        "Some Virtual NIC",
        "Contoso VPN Client",
        "TAP-Windows Adapter V9",
        "VMware Adapter",
        "VirtualBox Host-Only",
        "VMnet8",
        "vEthernet (WSL)",
        "Docker NAT",
        "WSL bridge",
        "Software Loopback",
        "Pseudo-Interface",
        "Teredo Tunneling",
        "Microsoft 6to4 Adapter",
        "isatap.{guid}",
        "Teredo",
    };
    for (const char* description : descriptions) {
        FakeNetInfo net;
        // The excluded adapter is listed first and carries the only default route.
        net.adapters = {Adapter("Uplink", description, 3), Adapter("Ethernet", "Realtek GbE", 4)};
        net.routes = {DefaultRoute(3, kOtherGw)};
        const AdapterInfo info = DiscoverPrimaryAdapter(net);
        EXPECT_EQ(info.ifIndex, 4u) << description;
        EXPECT_EQ(info.gatewayIp, "") << description;
    }

    FakeNetInfo net;
    NetAdapter noAddress = Adapter("Ethernet 9", "Realtek GbE", 1);
    noAddress.ipv4Unicast.clear();
    NetAdapter ipv6Only = Adapter("Ethernet 8", "Realtek GbE", 8, kIfTypeEthernet, false);
    ipv6Only.ipv4Unicast.clear();
    ipv6Only.ipv6Unicast = {"2001:db8::8"};
    net.adapters = {Adapter("vEthernet (Default Switch)", "Realtek GbE", 2),
                    Adapter("Docker Desktop", "Realtek GbE", 3),
                    Adapter("My wsl", "Realtek GbE", 4), Adapter("VIRTUAL 1", "Realtek GbE", 5),
                    Adapter("Tunnel", "Realtek GbE", 6, 131), noAddress, ipv6Only,
                    // Only four words are checked against the name; "VPN" is not one of them.
                    Adapter("Office VPN", "Realtek GbE", 9, kIfTypeWireless)};
    net.routes = {DefaultRoute(2, kGw), DefaultRoute(5, kGw), DefaultRoute(6, kGw),
                  DefaultRoute(1, kGw), DefaultRoute(8, kGw)};
    EXPECT_EQ(DiscoverPrimaryAdapter(net).ifIndex, 9u);
    net.adapters.back().operStatusUp = false;  // every candidate left is down
    EXPECT_FALSE(DiscoverPrimaryAdapter(net).found);
    net.adapters[6].operStatusUp = true;
    EXPECT_EQ(DiscoverPrimaryAdapter(net).ipv6, "2001:db8::8");
}

TEST(DiscoverPrimaryAdapterTest, PrefersUpWithGatewayThenUpThenNothing) {
    FakeNetInfo net;
    // WiFi is listed first, is up and has no default route of its own.
    net.adapters = {Adapter("Wi-Fi", "Wireless-AC 9560", 3, kIfTypeWireless),
                    Adapter("Ethernet", "Realtek GbE", 4), Adapter("Ethernet 2", "Realtek GbE", 5)};
    net.routes = {DefaultRoute(4, kGw), DefaultRoute(5, kOtherGw)};
    EXPECT_EQ(DiscoverPrimaryAdapter(net).ifIndex, 4u);  // first listed of the two with gateways

    net.adapters[1].operStatusUp = false;
    EXPECT_EQ(DiscoverPrimaryAdapter(net).gatewayIp, "10.0.0.1");

    net.adapters[2].operStatusUp = false;
    const AdapterInfo wifi = DiscoverPrimaryAdapter(net);
    EXPECT_EQ(wifi.ifIndex, 3u);
    EXPECT_EQ(wifi.gatewayIp, "");

    net.adapters[0].operStatusUp = false;
    const AdapterInfo none = DiscoverPrimaryAdapter(net);
    EXPECT_FALSE(none.found);
    EXPECT_EQ(none.name, "");
    EXPECT_EQ(none.ifIndex, 0u);

    net.adapters[0].operStatusUp = true;
    net.adaptersOk = false;
    EXPECT_FALSE(DiscoverPrimaryAdapter(net).found);
    net.adaptersOk = true;
    net.routesOk = false;  // no route table: still an adapter, without gateway
    EXPECT_EQ(DiscoverPrimaryAdapter(net).ifIndex, 3u);
}

TEST(DefaultGatewayTest, OwnInterfaceFirstThenFirstDefaultRouteAnywhere) {
    FakeNetInfo net;
    net.routes = {
        Ipv4Route{Ipv4Address(10, 0, 0, 0), Ipv4Address(255, 0, 0, 0), Ipv4Address(9, 9, 9, 9), 5},
        DefaultRoute(3, Ipv4Address(192, 168, 3, 1)), DefaultRoute(4, Ipv4Address(192, 168, 4, 1)),
        // Mask and metric are not looked at: destination 0 makes a default route.
        Ipv4Route{Ipv4Address(), Ipv4Address(255, 255, 255, 255), Ipv4Address(192, 168, 5, 1), 5,
                  9000}};
    EXPECT_EQ(GetDefaultGateway(net, 5), Ipv4Address(192, 168, 5, 1));
    EXPECT_EQ(GetDefaultGateway(net, 4), Ipv4Address(192, 168, 4, 1));
    EXPECT_EQ(GetDefaultGateway(net, 7), Ipv4Address(192, 168, 3, 1));
    EXPECT_EQ(GetDefaultGateway(net, 0), Ipv4Address(192, 168, 3, 1));

    net.routes.resize(1);
    EXPECT_EQ(GetDefaultGateway(net, 5), Ipv4Address());
    net.routes = {DefaultRoute(3, kGw)};
    net.routesOk = false;
    EXPECT_EQ(GetDefaultGateway(net, 3), Ipv4Address());
}

TEST(GatewayMacTest, TableEntryFirstThenResolution) {
    FakeNetInfo net;
    std::string out = "unchanged";
    EXPECT_FALSE(GetGatewayMac(net, Ipv4Address(), &out));
    EXPECT_FALSE(GetGatewayMac(net, kGw, nullptr));
    EXPECT_EQ(out, "unchanged");
    EXPECT_EQ(net.neighborReads, 0);
    EXPECT_TRUE(net.resolved.empty());

    const MacAddress zero{};
    const MacAddress resolvedMac{0x02, 0, 0, 0, 0, 0x01};
    net.neighbors = {{kOtherGw, 1, kGwMac, true},
                     {kGw, 1, zero, true},
                     {kGw, 1, MacAddress{9, 9, 9, 9, 9, 9}, false},
                     {kGw, 1, kGwMac, true}};
    ASSERT_TRUE(GetGatewayMac(net, kGw, &out));
    EXPECT_EQ(out, "00:1A:2B:3C:4D:5E");
    EXPECT_TRUE(net.resolved.empty());

    // Only the all-zero entry: the network is asked, and only an answer that is not zero counts.
    net.neighbors.resize(2);
    net.resolvable[kGw] = resolvedMac;
    ASSERT_TRUE(GetGatewayMac(net, kGw, &out));
    EXPECT_EQ(out, "02:00:00:00:00:01");
    EXPECT_EQ(net.resolved, std::vector<Ipv4Address>{kGw});

    net.neighborsOk = false;
    ASSERT_TRUE(GetGatewayMac(net, kGw, &out));
    net.resolvable[kGw] = zero;
    out = "unchanged";
    EXPECT_FALSE(GetGatewayMac(net, kGw, &out));
    net.resolvable.clear();
    EXPECT_FALSE(GetGatewayMac(net, kGw, &out));
    EXPECT_EQ(out, "unchanged");
}

TEST(Ipv6LinkLocalTextTest, OnlyTheFe80Group) {
    for (const char* text : {"fe80::1", "FE80::", "Fe80:0:0:0:a:b:c:d", "fe80::1%12"}) {
        EXPECT_TRUE(IsIpv6LinkLocalText(text)) << text;
    }
    for (const char* text : {"fe81::1", "febf::1", "fec0::1", "fe8::1", "::fe80:1",
                             "2001:db8::fe80", "::", "::ffff:192.168.1.1"}) {
        EXPECT_FALSE(IsIpv6LinkLocalText(text)) << text;
    }
}

}  // namespace
}  // namespace quillon
