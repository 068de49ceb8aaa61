#include "platform/linux/linux_net_info.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "platform/linux/linux_net_parse.h"

namespace quillon::lnx {

namespace {

namespace fs = std::filesystem;

std::optional<std::string> ReadText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string FirstLine(const fs::path& path) {
    const auto text = ReadText(path);
    if (!text) return "";
    return text->substr(0, text->find('\n'));
}

uint32_t ReadNumber(const fs::path& path) {
    try {
        return static_cast<uint32_t>(std::stoul(FirstLine(path)));
    } catch (const std::exception&) {
        return 0;
    }
}

DeviceFacts FactsOf(const fs::path& dir, const std::string& name) {
    std::error_code ec;
    DeviceFacts facts;
    facts.name = name;
    facts.arpType = ReadNumber(dir / "type");
    facts.hasDevice = fs::exists(dir / "device", ec);
    facts.wireless = fs::exists(dir / "wireless", ec) || fs::exists(dir / "phy80211", ec);
    facts.bridge = fs::exists(dir / "bridge", ec);
    facts.tun = fs::exists(dir / "tun_flags", ec);
    facts.devType = DevTypeOfUevent(ReadText(dir / "uevent").value_or(""));
    const fs::path driver = fs::read_symlink(dir / "device" / "driver", ec);
    if (!ec) facts.driver = driver.filename().string();
    facts.linkedToPeer = ReadNumber(dir / "iflink") != ReadNumber(dir / "ifindex");
    return facts;
}

uint32_t IndexOf(const std::string& name) {
    return if_nametoindex(name.c_str());
}

}  // namespace

bool LinuxNetInfo::ListAdapters(std::vector<NetAdapter>& out) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    std::vector<NetAdapter> adapters;
    std::vector<unsigned> running;  // per adapter: the kernel says it carries traffic
    auto adapterFor = [&](const char* name) -> size_t {
        for (size_t i = 0; i < adapters.size(); ++i) {
            if (adapters[i].friendlyName == name) return i;
        }
        adapters.push_back(NetAdapter{});
        adapters.back().friendlyName = name;
        running.push_back(0);
        return adapters.size() - 1;
    };
    for (ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name == nullptr) continue;
        const size_t index = adapterFor(entry->ifa_name);
        NetAdapter& adapter = adapters[index];
        running[index] |= entry->ifa_flags & IFF_RUNNING;
        if (entry->ifa_addr == nullptr) continue;
        if (entry->ifa_addr->sa_family == AF_PACKET) {
            // The link itself: its index and hardware address.
            const auto* link = reinterpret_cast<const sockaddr_ll*>(entry->ifa_addr);
            adapter.ifIndex = static_cast<uint32_t>(link->sll_ifindex);
            if (link->sll_halen == 6) {
                adapter.physicalAddress.assign(link->sll_addr, link->sll_addr + 6);
            }
        } else if (entry->ifa_addr->sa_family == AF_INET) {
            adapter.ipv4Unicast.push_back(Ipv4Address::FromNetworkOrder(
                reinterpret_cast<const sockaddr_in*>(entry->ifa_addr)->sin_addr.s_addr));
        } else if (entry->ifa_addr->sa_family == AF_INET6) {
            char text[INET6_ADDRSTRLEN] = {};
            const auto* in6 = reinterpret_cast<const sockaddr_in6*>(entry->ifa_addr);
            if (inet_ntop(AF_INET6, &in6->sin6_addr, text, sizeof(text)) != nullptr) {
                adapter.ipv6Unicast.push_back(text);
            }
        }
    }
    freeifaddrs(list);

    std::vector<Ipv4Route> routes;
    const bool haveRoutes = ListRoutes(routes);
    std::lock_guard lock(devicesMutex_);
    std::map<DeviceKey, DeviceFacts> present;
    for (size_t index = 0; index < adapters.size(); ++index) {
        NetAdapter& adapter = adapters[index];
        if (adapter.ifIndex == 0) adapter.ifIndex = IndexOf(adapter.friendlyName);
        const fs::path dir = fs::path(options_.sysClassNet) / adapter.friendlyName;
        const DeviceKey key{adapter.friendlyName, adapter.ifIndex};
        const auto known = devices_.find(key);
        const DeviceFacts facts =
            known != devices_.end() ? known->second : FactsOf(dir, adapter.friendlyName);
        present.emplace(key, facts);
        adapter.ifType = InterfaceTypeOf(facts);
        adapter.description =
            DescribeDevice(facts, adapter.friendlyName == options_.pinnedInterface);
        adapter.mtu = ReadNumber(dir / "mtu");
        adapter.transmitLinkSpeed = ParseLinkSpeed(FirstLine(dir / "speed"));
        // The kernel marks a device running exactly when it is up and its operational state
        // is "up" or "unknown" (loopback and most tunnels never claim "up").
        adapter.operStatusUp = running[index] != 0;
        if (haveRoutes) {
            for (const Ipv4Route& route : routes) {
                if (route.destination.IsZero() && route.mask.IsZero() && !route.nextHop.IsZero() &&
                    route.ifIndex == adapter.ifIndex) {
                    adapter.ipv4Gateways.push_back(route.nextHop);
                }
            }
        }
    }
    devices_ = std::move(present);  // devices gone are forgotten
    out = std::move(adapters);
    return true;
}

bool LinuxNetInfo::ListRoutes(std::vector<Ipv4Route>& out) {
    const auto text = ReadText(fs::path(options_.procNet) / "route");
    if (!text) return false;
    out.clear();
    for (const RouteRow& row : ParseProcNetRoute(*text)) {
        out.push_back(Ipv4Route{row.destination, row.mask, row.nextHop, IndexOf(row.interfaceName),
                                row.metric});
    }
    return true;
}

bool LinuxNetInfo::ListNeighbors(std::vector<NeighborEntry>& out) {
    const auto text = ReadText(fs::path(options_.procNet) / "arp");
    if (!text) return false;
    out.clear();
    for (const ArpRow& row : ParseProcNetArp(*text)) {
        out.push_back(
            NeighborEntry{row.address, IndexOf(row.interfaceName), row.mac, row.complete});
    }
    return true;
}

std::optional<MacAddress> LinuxNetInfo::ResolveNeighbor(Ipv4Address address) {
    if (address.IsZero()) return std::nullopt;
    auto lookup = [&]() -> std::optional<MacAddress> {
        std::vector<NeighborEntry> table;
        if (!ListNeighbors(table)) return std::nullopt;
        for (const NeighborEntry& entry : table) {
            if (entry.address == address && entry.complete) return entry.mac;
        }
        return std::nullopt;
    };
    if (auto known = lookup()) return known;

    // A datagram to the discard port needs the neighbour's hardware address first, so the
    // kernel asks for it; whether anything listens on the port does not matter.
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd >= 0) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(9);
        to.sin_addr.s_addr = address.NetworkOrder();
        const char byte = 0;
        sendto(fd, &byte, 1, MSG_DONTWAIT, reinterpret_cast<const sockaddr*>(&to), sizeof(to));
        close(fd);
    }
    const auto deadline =
        std::chrono::steady_clock::now() + std::chrono::milliseconds(options_.resolveWaitMs);
    while (std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        if (auto found = lookup()) return found;
    }
    return std::nullopt;
}

}  // namespace quillon::lnx
