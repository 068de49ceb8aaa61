#include "platform/linux/linux_net_parse.h"

#include <charconv>

namespace quillon::lnx {

namespace {

constexpr uint32_t kArpEther = 1;
constexpr uint32_t kArpLoopback = 772;
constexpr uint32_t kArpNone = 65534;  // tun and WireGuard: no link-layer header

std::string_view Trim(std::string_view s) {
    while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
        s.remove_prefix(1);
    }
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

std::vector<std::string_view> Fields(std::string_view line) {
    std::vector<std::string_view> out;
    size_t i = 0;
    while (i < line.size()) {
        while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
        const size_t start = i;
        while (i < line.size() && line[i] != ' ' && line[i] != '\t' && line[i] != '\r') ++i;
        if (i > start) out.push_back(line.substr(start, i - start));
        if (i < line.size() && line[i] == '\r') ++i;
    }
    return out;
}

template <class F>
void ForEachLine(std::string_view text, F&& f) {
    while (!text.empty()) {
        const size_t end = text.find('\n');
        f(text.substr(0, end));
        if (end == std::string_view::npos) break;
        text.remove_prefix(end + 1);
    }
}

template <class T>
std::optional<T> Number(std::string_view s, int base) {
    T value{};
    const auto [ptr, ec] = std::from_chars(s.data(), s.data() + s.size(), value, base);
    if (ec != std::errc() || ptr != s.data() + s.size() || s.empty()) return std::nullopt;
    return value;
}

bool StartsWith(std::string_view s, std::string_view prefix) {
    return s.substr(0, prefix.size()) == prefix;
}

}  // namespace

std::vector<RouteRow> ParseProcNetRoute(std::string_view text) {
    std::vector<RouteRow> rows;
    ForEachLine(text, [&](std::string_view line) {
        // Iface Destination Gateway Flags RefCnt Use Metric Mask MTU Window IRTT
        const auto f = Fields(line);
        if (f.size() < 8) return;
        const auto destination = Number<uint32_t>(f[1], 16);
        const auto nextHop = Number<uint32_t>(f[2], 16);
        const auto metric = Number<uint32_t>(f[6], 10);
        const auto mask = Number<uint32_t>(f[7], 16);
        if (!destination || !nextHop || !metric || !mask) return;  // the header, or damage
        rows.push_back(RouteRow{std::string(f[0]), Ipv4Address::FromNetworkOrder(*destination),
                                Ipv4Address::FromNetworkOrder(*nextHop),
                                Ipv4Address::FromNetworkOrder(*mask), *metric});
    });
    return rows;
}

std::optional<std::array<uint8_t, 6>> ParseMacText(std::string_view text) {
    if (text.size() != 17) return std::nullopt;
    std::array<uint8_t, 6> mac{};
    for (size_t i = 0; i < 6; ++i) {
        if (i < 5 && text[i * 3 + 2] != ':') return std::nullopt;
        const auto byte = Number<uint8_t>(text.substr(i * 3, 2), 16);
        if (!byte) return std::nullopt;
        mac[i] = *byte;
    }
    return mac;
}

std::vector<ArpRow> ParseProcNetArp(std::string_view text) {
    std::vector<ArpRow> rows;
    ForEachLine(text, [&](std::string_view line) {
        // IP address  HW type  Flags  HW address  Mask  Device
        const auto f = Fields(line);
        if (f.size() < 6) return;
        const auto address = Ipv4Address::Parse(f[0]);
        const auto flags =
            StartsWith(f[2], "0x") ? Number<uint32_t>(f[2].substr(2), 16) : std::nullopt;
        const auto mac = ParseMacText(f[3]);
        if (!address || !flags || !mac) return;
        rows.push_back(ArpRow{std::string(f[5]), *address, *mac, (*flags & 0x2) != 0});
    });
    return rows;
}

uint64_t ParseLinkSpeed(std::string_view text) {
    const auto mbps = Number<int64_t>(Trim(text), 10);
    if (!mbps || *mbps <= 0) return 0;
    return static_cast<uint64_t>(*mbps) * 1'000'000;
}

std::string DevTypeOfUevent(std::string_view uevent) {
    std::string out;
    ForEachLine(uevent, [&](std::string_view line) {
        if (StartsWith(line, "DEVTYPE=")) out = std::string(Trim(line.substr(8)));
    });
    return out;
}

uint32_t InterfaceTypeOf(const DeviceFacts& facts) {
    if (facts.wireless || facts.devType == "wlan") return 71;
    if (facts.arpType == kArpEther) return 6;
    if (facts.arpType == kArpLoopback) return 24;
    return 1;
}

std::string DescribeDevice(const DeviceFacts& f, bool pinned) {
    const std::string v = pinned ? "" : "virtual ";
    const std::string driver = f.driver.empty() ? "" : " (" + f.driver + ")";
    if (f.arpType == kArpLoopback) return v + "loopback interface";
    if (f.wireless || f.devType == "wlan") {
        return f.hasDevice ? "Wireless network adapter" + driver : v + "wireless interface";
    }
    if (f.devType == "wireguard" || StartsWith(f.name, "wg")) return v + "WireGuard tunnel";
    if (f.tun) {
        return f.arpType == kArpEther ? v + "Ethernet tap (tap)" : v + "IP tunnel (tun)";
    }
    if (f.bridge || f.devType == "bridge") {
        return StartsWith(f.name, "docker") || StartsWith(f.name, "br-") ? v + "bridge (docker)"
                                                                         : v + "bridge";
    }
    if (StartsWith(f.name, "docker")) return v + "Ethernet (docker)";
    if (f.devType == "vlan") return v + "VLAN interface";
    if (f.arpType == kArpNone || StartsWith(f.name, "tun") || StartsWith(f.name, "ppp") ||
        StartsWith(f.name, "vpn")) {
        return v + "tunnel (VPN)";
    }
    if (f.hasDevice && f.arpType == kArpEther) return "Ethernet adapter" + driver;
    if (StartsWith(f.name, "veth") || (f.arpType == kArpEther && f.linkedToPeer)) {
        return v + "Ethernet pair (veth)";
    }
    if (f.arpType == kArpEther) return v + "Ethernet device";
    return v + "network interface";
}

}  // namespace quillon::lnx
