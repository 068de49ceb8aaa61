#include "platform/linux/linux_net_parse.h"

#include <gtest/gtest.h>

#include "base/ipv4.h"

namespace quillon::lnx {
namespace {

// As the kernel prints it on a little-endian machine.
constexpr char kRoute[] =
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
    "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
    "eth0\t00000000\t01000A0A\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
    "wlan0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n"
    "broken line\n"
    "eth0\tZZZZ\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n";

TEST(LinuxNetParse, RouteTableKeepsKernelOrderAndNetworkByteOrder) {
    const auto rows = ParseProcNetRoute(kRoute);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].interfaceName, "wlan0");
    EXPECT_EQ(rows[0].destination, Ipv4Address());
    EXPECT_EQ(rows[0].nextHop, Ipv4Address(192, 168, 1, 1));
    EXPECT_EQ(rows[0].metric, 600u);
    EXPECT_EQ(rows[1].interfaceName, "eth0");
    EXPECT_EQ(rows[1].nextHop, Ipv4Address(10, 10, 0, 1));
    EXPECT_EQ(rows[2].destination, Ipv4Address(192, 168, 1, 0));
    EXPECT_EQ(rows[2].mask, Ipv4Address(255, 255, 255, 0));
    EXPECT_TRUE(ParseProcNetRoute("").empty());
    EXPECT_TRUE(ParseProcNetRoute("Iface\tDestination\n").empty());
}

TEST(LinuxNetParse, ArpTableReadsAddressesMacsAndCompleteness) {
    const char text[] =
        "IP address       HW type     Flags       HW address            Mask     Device\n"
        "192.168.1.1      0x1         0x2         aa:bb:cc:0d:0e:0f     *        wlan0\n"
        "192.168.1.7      0x1         0x0         00:00:00:00:00:00     *        wlan0\n"
        "10.0.0.300       0x1         0x2         aa:bb:cc:0d:0e:0f     *        eth0\n"
        "10.0.0.2         0x1         0x6         AA:BB:CC:DD:EE:FF     *        eth0\n";
    const auto rows = ParseProcNetArp(text);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].address, Ipv4Address(192, 168, 1, 1));
    EXPECT_EQ(rows[0].mac, (std::array<uint8_t, 6>{0xaa, 0xbb, 0xcc, 0x0d, 0x0e, 0x0f}));
    EXPECT_TRUE(rows[0].complete);
    EXPECT_EQ(rows[0].interfaceName, "wlan0");
    EXPECT_FALSE(rows[1].complete);
    EXPECT_EQ(rows[2].interfaceName, "eth0");
    EXPECT_TRUE(rows[2].complete) << "0x6: complete and permanent";
    EXPECT_EQ(rows[2].mac[5], 0xFF);
}

TEST(LinuxNetParse, MacTextsAreStrict) {
    EXPECT_TRUE(ParseMacText("00:11:22:aa:BB:cc"));
    EXPECT_FALSE(ParseMacText("00:11:22:aa:BB"));
    EXPECT_FALSE(ParseMacText("00-11-22-aa-bb-cc"));
    EXPECT_FALSE(ParseMacText("00:11:22:aa:bb:cg"));
}

TEST(LinuxNetParse, LinkSpeedIsBitsPerSecondAndUnknownIsZero) {
    EXPECT_EQ(ParseLinkSpeed("1000\n"), 1'000'000'000u);
    EXPECT_EQ(ParseLinkSpeed("10"), 10'000'000u);
    EXPECT_EQ(ParseLinkSpeed("-1\n"), 0u);
    EXPECT_EQ(ParseLinkSpeed(""), 0u);
    EXPECT_EQ(ParseLinkSpeed("fast"), 0u);
    EXPECT_EQ(DevTypeOfUevent("INTERFACE=br0\nIFINDEX=4\nDEVTYPE=bridge\n"), "bridge");
    EXPECT_EQ(DevTypeOfUevent("INTERFACE=eth0\nIFINDEX=2\n"), "");
}

DeviceFacts Facts(std::string name, uint32_t arpType) {
    DeviceFacts f;
    f.name = std::move(name);
    f.arpType = arpType;
    return f;
}

TEST(LinuxNetParse, DevicesAreTypedAndVirtualOnesSayVirtual) {
    DeviceFacts nic = Facts("enp3s0", 1);
    nic.hasDevice = true;
    nic.driver = "e1000e";
    EXPECT_EQ(InterfaceTypeOf(nic), 6u);
    EXPECT_EQ(DescribeDevice(nic, false), "Ethernet adapter (e1000e)");

    DeviceFacts wifi = Facts("wlp2s0", 1);
    wifi.hasDevice = wifi.wireless = true;
    wifi.devType = "wlan";
    EXPECT_EQ(InterfaceTypeOf(wifi), 71u);
    EXPECT_EQ(DescribeDevice(wifi, false).find("virtual"), std::string::npos);

    DeviceFacts veth = Facts("lab0", 1);
    veth.linkedToPeer = true;
    DeviceFacts bridge = Facts("br0", 1);
    bridge.bridge = true;
    DeviceFacts docker = Facts("docker0", 1);
    docker.bridge = true;
    DeviceFacts tun = Facts("tun0", 65534);
    tun.tun = true;
    DeviceFacts tap = Facts("tap0", 1);
    tap.tun = true;
    DeviceFacts wg = Facts("wg0", 65534);
    wg.devType = "wireguard";
    DeviceFacts dummy = Facts("dummy0", 1);
    const DeviceFacts loopback = Facts("lo", 772);
    for (const DeviceFacts& f : {veth, bridge, docker, tun, tap, wg, dummy, loopback}) {
        EXPECT_EQ(DescribeDevice(f, false).rfind("virtual ", 0), 0u) << f.name;
        EXPECT_EQ(DescribeDevice(f, true).find("virtual"), std::string::npos) << f.name;
    }
    EXPECT_EQ(DescribeDevice(veth, false), "virtual Ethernet pair (veth)");
    EXPECT_NE(DescribeDevice(docker, false).find("docker"), std::string::npos);
    EXPECT_NE(DescribeDevice(wg, false).find("WireGuard"), std::string::npos);
    EXPECT_EQ(InterfaceTypeOf(veth), 6u);
    EXPECT_EQ(InterfaceTypeOf(loopback), 24u);
    EXPECT_EQ(InterfaceTypeOf(tun), 1u);
}

}  // namespace
}  // namespace quillon::lnx
