// Readers of the kernel's network texts for the Linux NetInfo adapter: /proc/net/route,
// /proc/net/arp and the facts under /sys/class/net that say what a device is. Pure functions
// (text in, values out) so that unit tests reach them without a network; any thread.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/ipv4.h"

namespace quillon::lnx {

// One row of /proc/net/route, interface still by name.
struct RouteRow {
    std::string interfaceName;
    Ipv4Address destination;
    Ipv4Address nextHop;
    Ipv4Address mask;
    uint32_t metric = 0;
};

// Rows in the kernel's order; the header line and malformed lines are skipped. The kernel
// prints each address as the hexadecimal value of its in-memory (network order) 32 bits, so
// the parsed number is already in network byte order.
std::vector<RouteRow> ParseProcNetRoute(std::string_view text);

// One row of /proc/net/arp.
struct ArpRow {
    std::string interfaceName;
    Ipv4Address address;
    std::array<uint8_t, 6> mac{};
    bool complete = false;  // flag 0x2 (ATF_COM): the hardware address is known
};

std::vector<ArpRow> ParseProcNetArp(std::string_view text);

// "aa:bb:cc:dd:ee:ff" (either case).
std::optional<std::array<uint8_t, 6>> ParseMacText(std::string_view text);

// /sys/class/net/<if>/speed in Mb/s as bits per second; -1, empty or unreadable give 0.
uint64_t ParseLinkSpeed(std::string_view text);

// What /sys/class/net/<if> tells about a device.
struct DeviceFacts {
    std::string name;
    uint32_t arpType = 0;       // "type": ARPHRD_* (1 Ethernet, 772 loopback, 65534 none...)
    bool hasDevice = false;     // a "device" link: backed by hardware (or a hypervisor's NIC)
    bool wireless = false;      // "wireless" or "phy80211" present
    bool bridge = false;        // "bridge" directory present
    bool tun = false;           // "tun_flags" present (tun or tap)
    std::string devType;        // DEVTYPE= of "uevent" (bridge, wlan, vlan, wireguard, ...)
    std::string driver;         // name of the driver behind "device/driver", if any
    bool linkedToPeer = false;  // "iflink" differs from "ifindex": a veth pair or a stacked device
};

// The interface type the core knows: 6 for Ethernet-framed devices, 71 for wireless, 24 for
// loopback, 1 ("other") for the rest.
uint32_t InterfaceTypeOf(const DeviceFacts& facts);

// A human description. Virtual devices (veth, bridges, tun/tap, WireGuard and other tunnels,
// container bridges, VLANs, loopback) say "virtual" so that automatic adapter selection passes
// over them; `pinned` (the person named this interface) leaves that word out.
std::string DescribeDevice(const DeviceFacts& facts, bool pinned);

// The DEVTYPE value of a uevent text, empty when absent.
std::string DevTypeOfUevent(std::string_view uevent);

}  // namespace quillon::lnx
