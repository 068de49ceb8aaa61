// LinuxNetInfo: the NetInfo port over getifaddrs, /sys/class/net, /proc/net/route and
// /proc/net/arp of the process's network namespace. Adapters come in getifaddrs order with
// index, hardware address and state from getifaddrs, type, MTU and speed from sysfs and a
// description that names virtual devices as such; routes come in kernel order; neighbours
// from the ARP table. Resolving a missing neighbour sends one UDP datagram to its discard port
// (which makes the kernel ask for its hardware address) and watches the ARP table for up to a
// second.
//
// Pinning (--interface NAME): automatic adapter selection passes over adapters described as
// virtual, yet a person may deliberately name one — a veth in a network namespace, a bridge
// that really carries the traffic. The entry point passes that name here as well as to the
// core's interface choice; the pinned interface is then described without the word "virtual"
// so that the selection keeps it. Everything else is reported unchanged.
//
// What a device is (its kind, driver, whether it is wireless: a dozen sysfs files) cannot
// change while it exists, so it is read once per device and kept by name and index, which a
// device created again does not share; the rest is read on every call. Any thread may call.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <utility>

#include "platform/linux/linux_net_parse.h"
#include "platform/net_info.h"

namespace quillon::lnx {

struct LinuxNetInfoOptions {
    std::string pinnedInterface;  // empty: none
    std::string sysClassNet = "/sys/class/net";
    std::string procNet = "/proc/net";
    uint32_t resolveWaitMs = 1000;
};

class LinuxNetInfo final : public NetInfo {
public:
    LinuxNetInfo() = default;
    explicit LinuxNetInfo(LinuxNetInfoOptions options) : options_(std::move(options)) {}

    bool ListAdapters(std::vector<NetAdapter>& out) override;
    bool ListRoutes(std::vector<Ipv4Route>& out) override;
    bool ListNeighbors(std::vector<NeighborEntry>& out) override;
    std::optional<MacAddress> ResolveNeighbor(Ipv4Address address) override;

private:
    using DeviceKey = std::pair<std::string, uint32_t>;  // name, index

    LinuxNetInfoOptions options_;
    std::mutex devicesMutex_;
    std::map<DeviceKey, DeviceFacts> devices_;  // the devices of the last listing
};

}  // namespace quillon::lnx
