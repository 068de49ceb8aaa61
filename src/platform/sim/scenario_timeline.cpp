#include "platform/sim/scenario_timeline.h"

#include <cmath>
#include <initializer_list>
#include <string_view>
#include <vector>

#include "platform/sim/scenario_fields.h"
#include "platform/sim/scenario_services.h"
#include "platform/sim/scenario_wifi.h"
#include "platform/sim/sim_address.h"

namespace quillon::sim {

namespace {

class TimelineReader : public FieldReader {
public:
    bool ReadChange(const JsonValue& value, const std::string& at, const WorldConfig& world,
                    TimelineEvent& event);

private:
    bool ReadHopRef(const JsonValue& value, const std::string& at, const WorldConfig& world,
                    HopRef& ref);
    bool ReadAdapterRef(const JsonValue& object, std::string_view key, const std::string& at,
                        const WorldConfig& world, uint32_t& ifIndex);
    bool ReadHostRef(const JsonValue& object, const std::string& at, const WorldConfig& world,
                     Ipv4Address& address);
    bool ReadWebStatus(const JsonValue& object, const std::string& at, TimelineEvent& event);
};

bool TimelineReader::ReadHostRef(const JsonValue& object, const std::string& at,
                                 const WorldConfig& world, Ipv4Address& address) {
    std::string reference, problem;
    if (!String(object, "host", at, reference)) return false;
    if (FindServiceHost(world, reference, address, problem)) return true;
    return Fail(Join(at, "host"), problem);
}

bool TimelineReader::ReadWebStatus(const JsonValue& object, const std::string& at,
                                   TimelineEvent& event) {
    int status = 0;
    if (!Whole(object, "status", at, status, 100, 599) || !String(object, "path", at, event.path)) {
        return false;
    }
    if (object.contains("path") && (event.path.empty() || event.path[0] != '/')) {
        return Fail(Join(at, "path"), Quoted(event.path) + " does not start with /");
    }
    event.value = status;
    return true;
}

bool TimelineReader::ReadHopRef(const JsonValue& value, const std::string& at,
                                const WorldConfig& world, HopRef& ref) {
    if (value.type() == JsonType::String) {
        const auto address = Ipv4Address::Parse(value.asString());
        if (!address || address->IsZero()) {
            return Fail(at, Quoted(value.asString()) + " is not a hop address");
        }
        for (const PathConfig& path : world.paths) {
            for (const HopConfig& hop : path.hops) {
                if (hop.address == *address) {
                    ref.address = *address;
                    return true;
                }
            }
        }
        return Fail(at, "no path has a hop with address " + value.asString());
    }
    if (!Shape(value, at, {"path", "ttl"}, {"path", "ttl"}) ||
        !Address(value, "path", at, ref.pathDestination) ||
        !Whole(value, "ttl", at, ref.ttl, 1, 255)) {
        return false;
    }
    for (const PathConfig& path : world.paths) {
        if (path.destination != ref.pathDestination) continue;
        if (size_t(ref.ttl) <= path.hops.size()) return true;
        return Fail(Join(at, "ttl"), "the path to " + ref.pathDestination.Text() + " has only " +
                                         std::to_string(path.hops.size()) + " hops");
    }
    return Fail(Join(at, "path"), "no path goes to " + ref.pathDestination.Text());
}

bool TimelineReader::ReadAdapterRef(const JsonValue& object, std::string_view key,
                                    const std::string& at, const WorldConfig& world,
                                    uint32_t& ifIndex) {
    const JsonValue& value = object.member(key);
    const std::string where = Join(at, key);
    for (const NetAdapter& adapter : world.adapters) {
        if ((value.type() == JsonType::String && value.asString() == adapter.friendlyName) ||
            (value.type() == JsonType::Integer && value.asInteger() == adapter.ifIndex)) {
            ifIndex = adapter.ifIndex;
            return true;
        }
    }
    if (value.type() != JsonType::String && value.type() != JsonType::Integer) {
        return Fail(where, std::string("expected an adapter name or ifIndex, found ") +
                               KindName(value.type()));
    }
    return Fail(where, "no adapter is " + (value.type() == JsonType::String
                                               ? Quoted(value.asString())
                                               : "ifIndex " + std::to_string(value.asInteger())));
}

bool TimelineReader::ReadChange(const JsonValue& value, const std::string& at,
                                const WorldConfig& world, TimelineEvent& event) {
    if (!Kind(value, JsonType::Object, at)) return false;
    std::string change;
    if (!value.contains("change")) return Fail(at, "missing member \"change\"");
    if (!String(value, "change", at, change)) return false;
    const auto when = [&](std::initializer_list<std::string_view> members,
                          std::initializer_list<std::string_view> required) {
        std::vector<std::string_view> allowed{"at", "atMs", "change"};
        allowed.insert(allowed.end(), members.begin(), members.end());
        for (const auto& [key, member] : value.asObject()) {
            bool known = false;
            for (std::string_view name : allowed) known = known || name == key;
            if (!known) return Fail(at, "unknown member " + Quoted(key) + " for " + change);
        }
        for (std::string_view name : required) {
            if (!value.contains(name)) return Fail(at, "missing member " + Quoted(name));
        }
        if (value.contains("at") == value.contains("atMs")) {
            return Fail(at, "give the time as either \"at\" (seconds) or \"atMs\"");
        }
        double seconds = 0;
        if (value.contains("at")) {
            if (!Number(value, "at", at, seconds, 0, 1e9)) return false;
            event.atMs = uint64_t(std::llround(seconds * 1000));
            return true;
        }
        return Whole(value, "atMs", at, event.atMs, 0, uint64_t(1e12));
    };
    if (change == "hopLoss" || change == "hopLatency") {
        const bool loss = change == "hopLoss";
        event.kind = loss ? ChangeKind::HopLoss : ChangeKind::HopLatency;
        const char* amount = loss ? "percent" : "ms";
        return when({"hop", amount}, {"hop", amount}) &&
               ReadHopRef(value.member("hop"), Join(at, "hop"), world, event.hop) &&
               Number(value, amount, at, event.value, 0, loss ? 100 : 60000);
    }
    if (change == "hopSilent" || change == "hopAnswers") {
        event.kind = change == "hopSilent" ? ChangeKind::HopSilent : ChangeKind::HopAnswers;
        return when({"hop"}, {"hop"}) &&
               ReadHopRef(value.member("hop"), Join(at, "hop"), world, event.hop);
    }
    if (change == "gatewayMac") {
        event.kind = ChangeKind::NeighborMac;
        if (!when({"mac", "gateway"}, {"mac"}) || !Mac(value, "mac", at, event.mac) ||
            !Address(value, "gateway", at, event.address)) {
            return false;
        }
        for (const Ipv4Route& route : world.routes) {
            if (!event.address.IsZero()) break;
            if (route.destination.IsZero() && route.mask.IsZero()) event.address = route.nextHop;
        }
        if (event.address.IsZero()) {
            return Fail(at, "no default route names the gateway; give \"gateway\"");
        }
        return true;
    }
    if (change == "gatewayGone" || change == "gatewayBack") {
        event.kind =
            change == "gatewayGone" ? ChangeKind::DefaultRouteGone : ChangeKind::DefaultRouteBack;
        if (!when({"adapter"}, {})) return false;
        return !value.contains("adapter") ||
               ReadAdapterRef(value, "adapter", at, world, event.ifIndex);
    }
    if (change == "adapterDown" || change == "adapterUp") {
        event.kind = change == "adapterDown" ? ChangeKind::AdapterDown : ChangeKind::AdapterUp;
        return when({"adapter"}, {"adapter"}) &&
               ReadAdapterRef(value, "adapter", at, world, event.ifIndex);
    }
    if (change == "hostDown" || change == "hostRefuses" || change == "hostUp" ||
        change == "hostLatency" || change == "webStatus") {
        event.kind = change == "hostDown"      ? ChangeKind::HostDown
                     : change == "hostRefuses" ? ChangeKind::HostRefuses
                     : change == "hostUp"      ? ChangeKind::HostUp
                     : change == "hostLatency" ? ChangeKind::HostLatency
                                               : ChangeKind::WebStatus;
        const bool latency = event.kind == ChangeKind::HostLatency;
        const bool status = event.kind == ChangeKind::WebStatus;
        if (!(latency  ? when({"host", "ms"}, {"host", "ms"})
              : status ? when({"host", "status", "path"}, {"host", "status"})
                       : when({"host"}, {"host"}))) {
            return false;
        }
        return ReadHostRef(value, at, world, event.address) &&
               (!latency || Number(value, "ms", at, event.value, 0, 60000)) &&
               (!status || ReadWebStatus(value, at, event));
    }
    if (change == "wifiSignal" || change == "wifiNeighbors" || change == "wifiDisconnect" ||
        change == "wifiConnect") {
        const bool signal = change == "wifiSignal";
        const bool neighbors = change == "wifiNeighbors";
        event.kind = signal                       ? ChangeKind::WifiSignal
                     : neighbors                  ? ChangeKind::WifiNeighbors
                     : change == "wifiDisconnect" ? ChangeKind::WifiDisconnect
                                                  : ChangeKind::WifiConnect;
        if (!(signal      ? when({"adapter", "signal", "rssi"}, {"signal"})
              : neighbors ? when({"adapter", "neighbors"}, {"neighbors"})
                          : when({"adapter"}, {}))) {
            return false;
        }
        if (value.contains("adapter") &&
            !ReadAdapterRef(value, "adapter", at, world, event.ifIndex)) {
            return false;
        }
        const WifiConfig* wifi = nullptr;
        for (const WifiConfig& candidate : world.wifi) {
            if (event.ifIndex == 0 || candidate.ifIndex == event.ifIndex) {
                wifi = &candidate;
                break;
            }
        }
        if (wifi == nullptr) return Fail(at, "no adapter with a \"wifi\" section is named");
        event.ifIndex = wifi->ifIndex;
        double rssi = 0;
        if (signal && (!Number(value, "signal", at, event.value, 0, 100) ||
                       !Number(value, "rssi", at, rssi, -120, 0))) {
            return false;
        }
        event.rssiDbm = int32_t(std::lround(rssi));
        std::string problem;
        if (neighbors && !ReadWifiNeighbors(value.member("neighbors"), Join(at, "neighbors"),
                                            event.wifiNeighbors, problem)) {
            return Fail("", problem);
        }
        return true;
    }
    if (change == "consoleSessionsExpire" || change == "consoleCertificate" ||
        change == "consoleGone" || change == "consoleBack") {
        event.kind = change == "consoleSessionsExpire" ? ChangeKind::ConsoleSessionsExpire
                     : change == "consoleCertificate"  ? ChangeKind::ConsoleCertificate
                     : change == "consoleGone"         ? ChangeKind::ConsoleGone
                                                       : ChangeKind::ConsoleBack;
        if (!when({}, {})) return false;
        if (world.console.address.IsZero()) return Fail(at, "the world has no \"console\"");
        return true;
    }
    if (change == "publicAddress") {
        event.kind = ChangeKind::PublicAddress;
        return when({"address"}, {"address"}) && Address(value, "address", at, event.address);
    }
    return Fail(Join(at, "change"),
                Quoted(change) +
                    " is not one of hopLoss, hopLatency, hopSilent, hopAnswers, gatewayMac, "
                    "gatewayGone, gatewayBack, adapterDown, adapterUp, hostDown, hostRefuses, "
                    "hostUp, hostLatency, webStatus, publicAddress, wifiSignal, wifiNeighbors, "
                    "wifiDisconnect, wifiConnect, consoleSessionsExpire, consoleCertificate, "
                    "consoleGone, consoleBack");
}

}  // namespace

bool ReadTimelineChange(const JsonValue& value, const std::string& at, const WorldConfig& world,
                        TimelineEvent& event, std::string& error) {
    TimelineReader reader;
    if (reader.ReadChange(value, at, world, event)) return true;
    error = reader.error();
    return false;
}

}  // namespace quillon::sim
