#include "platform/sim/sim_scenario.h"

#include <exception>
#include <fstream>
#include <limits>
#include <map>
#include <sstream>

#include "base/json_value.h"
#include "platform/sim/json_syntax.h"
#include "platform/sim/scenario_fields.h"
#include "platform/sim/scenario_services.h"
#include "platform/sim/scenario_timeline.h"
#include "platform/sim/scenario_wifi.h"
#include "platform/sim/sim_address.h"

namespace quillon::sim {

namespace {

constexpr uint64_t kMaxUint32 = std::numeric_limits<uint32_t>::max();
constexpr uint64_t kMaxInt32 = std::numeric_limits<int32_t>::max();
constexpr uint64_t kMaxInt64 = std::numeric_limits<int64_t>::max();

// Reads one scenario document; the first problem found is kept and ends the reading.
class ScenarioReader : private FieldReader {
public:
    ScenarioLoad Read(const JsonValue& root) {
        ScenarioLoad load;
        load.ok = ReadWorld(root, load.world);
        if (!load.ok) load.error = error();
        return load;
    }

private:
    bool ReadWorld(const JsonValue& root, WorldConfig& world);
    bool ReadAdapter(const JsonValue& value, const std::string& at, NetAdapter& adapter);
    bool ReadRoute(const JsonValue& value, const std::string& at, WorldConfig& world);
    bool ReadNeighbor(const JsonValue& value, const std::string& at, NeighborConfig& neighbor);
    bool ReadPath(const JsonValue& value, const std::string& at, PathConfig& path);
    bool ReadHop(const JsonValue& value, const std::string& at, HopConfig& hop);
    bool ReadDns(const JsonValue& value, const std::string& at, WorldConfig& world);
    bool ReadStun(const JsonValue& value, const std::string& at, StunConfig& stun);
    bool ReadConsole(const JsonValue& value, const std::string& at, WorldConfig& world);
    bool ReadRecord(const JsonValue& value, const std::string& at, const std::string& owner,
                    DnsRecord& record);

    std::map<Ipv4Address, HopConfig> hopsByAddress_;  // hops defined so far, for references
};

bool ScenarioReader::ReadWorld(const JsonValue& root, WorldConfig& world) {
    if (!Shape(root, "",
               {"name", "description", "seed", "icmpAvailable", "adapters", "routes", "neighbors",
                "paths", "serviceHosts", "stun", "console", "dns", "timeline"})) {
        return false;
    }
    std::string description;
    if (!String(root, "name", "", world.name) || !String(root, "description", "", description) ||
        !Whole(root, "seed", "", world.seed, 0, kMaxInt64) ||
        !Bool(root, "icmpAvailable", "", world.icmpAvailable)) {
        return false;
    }
    if (!Each(root, "adapters", "", [&](const JsonValue& value, const std::string& at) {
            NetAdapter adapter;
            if (!ReadAdapter(value, at, adapter)) return false;
            for (const NetAdapter& other : world.adapters) {
                if (other.ifIndex == adapter.ifIndex) {
                    return Fail(Join(at, "ifIndex"),
                                "another adapter has ifIndex " + std::to_string(adapter.ifIndex));
                }
            }
            if (value.contains("wifi")) {
                if (adapter.ifType != kIfTypeWireless) {
                    return Fail(Join(at, "wifi"), "only a wifi adapter has a \"wifi\" section");
                }
                WifiConfig wifi;
                wifi.ifIndex = adapter.ifIndex;
                std::string problem;
                if (!ReadWifiSection(value.member("wifi"), Join(at, "wifi"), wifi, problem)) {
                    return Fail("", problem);
                }
                world.wifi.push_back(std::move(wifi));
            }
            world.adapters.push_back(std::move(adapter));
            return true;
        })) {
        return false;
    }
    const auto knownIfIndex = [&](const JsonValue& value, const std::string& at) {
        const uint32_t ifIndex = uint32_t(value.member("ifIndex").asInteger());
        for (const NetAdapter& adapter : world.adapters) {
            if (adapter.ifIndex == ifIndex) return true;
        }
        return Fail(Join(at, "ifIndex"), "no adapter has ifIndex " + std::to_string(ifIndex));
    };
    if (!Each(root, "routes", "", [&](const JsonValue& value, const std::string& at) {
            return ReadRoute(value, at, world) && knownIfIndex(value, at);
        })) {
        return false;
    }
    if (!Each(root, "neighbors", "", [&](const JsonValue& value, const std::string& at) {
            NeighborConfig neighbor;
            if (!ReadNeighbor(value, at, neighbor) || !knownIfIndex(value, at)) return false;
            world.neighbors.push_back(neighbor);
            return true;
        })) {
        return false;
    }
    if (!Each(root, "paths", "", [&](const JsonValue& value, const std::string& at) {
            PathConfig path;
            if (!ReadPath(value, at, path)) return false;
            for (const PathConfig& other : world.paths) {
                if (other.destination == path.destination) {
                    return Fail(Join(at, "destination"),
                                "a path to " + path.destination.Text() + " is already described");
                }
            }
            world.paths.push_back(std::move(path));
            return true;
        })) {
        return false;
    }
    std::string hostProblem;
    if (!ReadServiceHosts(root, world, hostProblem)) return Fail("", hostProblem);
    if (root.contains("stun") && !ReadStun(root.member("stun"), "stun", world.stun)) return false;
    if (root.contains("console") && !ReadConsole(root.member("console"), "console", world)) {
        return false;
    }
    if (root.contains("dns") && !ReadDns(root.member("dns"), "dns", world)) return false;
    return Each(root, "timeline", "", [&](const JsonValue& value, const std::string& at) {
        TimelineEvent event;
        std::string problem;
        if (!ReadTimelineChange(value, at, world, event, problem)) return Fail("", problem);
        world.timeline.push_back(event);
        return true;
    });
}

bool ScenarioReader::ReadAdapter(const JsonValue& value, const std::string& at,
                                 NetAdapter& adapter) {
    if (!Shape(value, at,
               {"name", "description", "ifIndex", "type", "mtu", "linkSpeedBps", "up", "mac",
                "ipv4", "ipv6", "wifi"},
               {"name", "ifIndex", "type"})) {
        return false;
    }
    adapter.mtu = 1500;
    adapter.operStatusUp = true;
    if (!String(value, "name", at, adapter.friendlyName) ||
        !String(value, "description", at, adapter.description) ||
        !Whole(value, "ifIndex", at, adapter.ifIndex, 1, kMaxUint32) ||
        !Whole(value, "mtu", at, adapter.mtu, 0, 65535) ||
        !Whole(value, "linkSpeedBps", at, adapter.transmitLinkSpeed, 0, kMaxInt64) ||
        !Bool(value, "up", at, adapter.operStatusUp)) {
        return false;
    }
    const JsonValue& type = value.member("type");
    if (type.type() == JsonType::String) {
        if (type.asString() == "wifi") {
            adapter.ifType = kIfTypeWireless;
        } else if (type.asString() == "ethernet") {
            adapter.ifType = kIfTypeEthernet;
        } else {
            return Fail(Join(at, "type"), Quoted(type.asString()) +
                                              " is not \"wifi\", \"ethernet\" or a type number");
        }
    } else if (!Whole(value, "type", at, adapter.ifType, 1, kMaxUint32)) {
        return false;
    }
    // Any number of octets: some adapters report fewer than six.
    std::string mac;
    if (!String(value, "mac", at, mac)) return false;
    const auto octets = ParseHardwareAddress(mac);
    if (!octets) {
        return Fail(Join(at, "mac"), Quoted(mac) + " is not hexadecimal octets like 00:11:22");
    }
    adapter.physicalAddress = *octets;
    if (!Each(value, "ipv4", at, [&](const JsonValue& item, const std::string& where) {
            if (!Kind(item, JsonType::String, where)) return false;
            const auto address = Ipv4Address::Parse(item.asString());
            if (!address) return Fail(where, Quoted(item.asString()) + " is not an IPv4 address");
            adapter.ipv4Unicast.push_back(*address);
            return true;
        })) {
        return false;
    }
    return Each(value, "ipv6", at, [&](const JsonValue& item, const std::string& where) {
        if (!Kind(item, JsonType::String, where)) return false;
        if (item.asString().find(':') == std::string::npos) {
            return Fail(where, Quoted(item.asString()) + " is not an IPv6 address");
        }
        adapter.ipv6Unicast.push_back(item.asString());
        return true;
    });
}

bool ScenarioReader::ReadRoute(const JsonValue& value, const std::string& at, WorldConfig& world) {
    if (!Shape(value, at, {"destination", "nextHop", "ifIndex", "metric"},
               {"destination", "ifIndex"})) {
        return false;
    }
    Ipv4Route route;
    std::string destination;
    if (!String(value, "destination", at, destination) ||
        !Address(value, "nextHop", at, route.nextHop) ||
        !Whole(value, "ifIndex", at, route.ifIndex, 1, kMaxUint32) ||
        !Whole(value, "metric", at, route.metric, 0, kMaxUint32)) {
        return false;
    }
    const auto prefix = ParseIpv4Prefix(destination);
    if (!prefix) {
        return Fail(Join(at, "destination"),
                    Quoted(destination) + " is not a prefix like 192.168.1.0/24 or 0.0.0.0/0");
    }
    route.destination = prefix->address;
    route.mask = prefix->mask;
    world.routes.push_back(route);
    return true;
}

bool ScenarioReader::ReadNeighbor(const JsonValue& value, const std::string& at,
                                  NeighborConfig& neighbor) {
    if (!Shape(
            value, at,
            {"address", "ifIndex", "mac", "inTable", "tableMac", "complete", "answersResolution"},
            {"address", "ifIndex", "mac"})) {
        return false;
    }
    if (!Address(value, "address", at, neighbor.address) ||
        !Whole(value, "ifIndex", at, neighbor.ifIndex, 1, kMaxUint32) ||
        !Mac(value, "mac", at, neighbor.mac)) {
        return false;
    }
    neighbor.tableMac = neighbor.mac;
    return Mac(value, "tableMac", at, neighbor.tableMac) &&
           Bool(value, "inTable", at, neighbor.inTable) &&
           Bool(value, "complete", at, neighbor.complete) &&
           Bool(value, "answersResolution", at, neighbor.answersResolution);
}

bool ScenarioReader::ReadPath(const JsonValue& value, const std::string& at, PathConfig& path) {
    if (!Shape(value, at, {"destination", "name", "asn", "asName", "hops"},
               {"destination", "hops"})) {
        return false;
    }
    if (!Address(value, "destination", at, path.destination) ||
        !String(value, "name", at, path.destinationName) ||
        !Whole(value, "asn", at, path.destinationAsn, 1, kMaxUint32) ||
        !String(value, "asName", at, path.destinationAsName)) {
        return false;
    }
    return Each(value, "hops", at, [&](const JsonValue& item, const std::string& where) {
        HopConfig hop;
        if (item.type() == JsonType::String) {
            // "*" is a hop that never answers; an address names a hop described earlier.
            if (item.asString() != "*") {
                const auto address = Ipv4Address::Parse(item.asString());
                if (!address) {
                    return Fail(where, Quoted(item.asString()) + " is not an IPv4 address or *");
                }
                const auto known = hopsByAddress_.find(*address);
                if (known == hopsByAddress_.end()) {
                    return Fail(where, "no hop with address " + item.asString() +
                                           " is described earlier; describe it with an object");
                }
                hop = known->second;
            }
        } else if (!ReadHop(item, where, hop)) {
            return false;
        }
        path.hops.push_back(hop);
        return true;
    });
}

bool ScenarioReader::ReadHop(const JsonValue& value, const std::string& at, HopConfig& hop) {
    if (!Shape(value, at,
               {"address", "name", "asn", "asName", "asPrefix", "country", "rttMs", "jitterMs",
                "lossPercent", "answerLossPercent", "answersTtlExpired", "answersEcho"},
               {"address"})) {
        return false;
    }
    const JsonValue& address = value.member("address");
    if (!Kind(address, JsonType::String, Join(at, "address"))) return false;
    if (address.asString() != "*" && !Address(value, "address", at, hop.address)) return false;
    if (!hop.address.IsZero()) {
        if (!value.contains("rttMs")) return Fail(at, "missing member \"rttMs\"");
        if (hopsByAddress_.count(hop.address)) {
            return Fail(Join(at, "address"),
                        "the hop " + address.asString() +
                            " is already described; name it by its address text alone");
        }
    }
    if (!String(value, "name", at, hop.name) || !Whole(value, "asn", at, hop.asn, 1, kMaxUint32) ||
        !String(value, "asName", at, hop.asName) || !String(value, "asPrefix", at, hop.asPrefix) ||
        !String(value, "country", at, hop.country) ||
        !Number(value, "rttMs", at, hop.rttMs, 0, 60000) ||
        !Number(value, "jitterMs", at, hop.jitterMs, 0, 60000) ||
        !Number(value, "lossPercent", at, hop.lossPercent, 0, 100) ||
        !Number(value, "answerLossPercent", at, hop.answerLossPercent, 0, 100) ||
        !Bool(value, "answersTtlExpired", at, hop.answersTtlExpired) ||
        !Bool(value, "answersEcho", at, hop.answersEcho)) {
        return false;
    }
    if (!hop.asPrefix.empty() && !ParseIpv4Prefix(hop.asPrefix)) {
        return Fail(Join(at, "asPrefix"), Quoted(hop.asPrefix) + " is not a prefix");
    }
    if (!hop.address.IsZero()) hopsByAddress_[hop.address] = hop;
    return true;
}

bool ScenarioReader::ReadStun(const JsonValue& value, const std::string& at, StunConfig& stun) {
    if (!Shape(value, at, {"publicAddress", "mappedPort", "server", "address", "port", "rttMs"},
               {"publicAddress"}) ||
        !Address(value, "publicAddress", at, stun.publicAddress) ||
        !Whole(value, "mappedPort", at, stun.mappedPort, 1, 65535) ||
        !String(value, "server", at, stun.name) || !Address(value, "address", at, stun.address) ||
        !Whole(value, "port", at, stun.port, 1, 65535) ||
        !Number(value, "rttMs", at, stun.rttMs, 0, 60000)) {
        return false;
    }
    if (stun.publicAddress.IsZero()) {
        return Fail(Join(at, "publicAddress"), "0.0.0.0 reports nothing");
    }
    if (stun.name.empty()) return Fail(Join(at, "server"), "the server needs a name");
    return true;
}

bool ScenarioReader::ReadConsole(const JsonValue& value, const std::string& at,
                                 WorldConfig& world) {
    ConsoleConfig& console = world.console;
    if (!Shape(value, at, {"address", "model", "name", "username", "password", "code", "rttMs"},
               {"password"}) ||
        !Address(value, "address", at, console.address) ||
        !String(value, "model", at, console.model) || !String(value, "name", at, console.name) ||
        !String(value, "username", at, console.username) ||
        !String(value, "password", at, console.password) ||
        !String(value, "code", at, console.code) ||
        !Number(value, "rttMs", at, console.rttMs, 0, 60000)) {
        return false;
    }
    // Without an address it is the gateway: the next hop of the first default route.
    for (const Ipv4Route& route : world.routes) {
        if (!console.address.IsZero()) break;
        if (route.destination.IsZero() && route.mask.IsZero()) console.address = route.nextHop;
    }
    if (console.address.IsZero()) {
        return Fail(at, "no default route names the gateway; give \"address\"");
    }
    if (console.model.empty()) return Fail(Join(at, "model"), "the console needs a model");
    for (const ServiceHostConfig& host : world.serviceHosts) {
        if (host.address == console.address) {
            return Fail(Join(at, "address"),
                        "a service host has the address " + console.address.Text());
        }
    }
    return true;
}

bool ScenarioReader::ReadDns(const JsonValue& value, const std::string& at, WorldConfig& world) {
    if (!Shape(value, at, {"originZone", "asNameZone", "answers"})) return false;
    if (!String(value, "originZone", at, world.originZone) ||
        !String(value, "asNameZone", at, world.asNameZone)) {
        return false;
    }
    return Each(value, "answers", at, [&](const JsonValue& item, const std::string& where) {
        if (!Shape(item, where, {"name", "type", "records", "error"}, {"name", "type"})) {
            return false;
        }
        DnsAnswerConfig answer;
        std::string type;
        if (!String(item, "name", where, answer.name) || !String(item, "type", where, type)) {
            return false;
        }
        if (type == "A") {
            answer.type = DnsType::A;
        } else if (type == "PTR") {
            answer.type = DnsType::Ptr;
        } else if (type == "TXT") {
            answer.type = DnsType::Txt;
        } else {
            return Fail(Join(where, "type"), Quoted(type) + " is not \"A\", \"PTR\" or \"TXT\"");
        }
        if (item.contains("error") == item.contains("records")) {
            return Fail(where, "give either \"records\" or \"error\"");
        }
        answer.answer.ok = !item.contains("error");
        if (!Whole(item, "error", where, answer.answer.error, 1, kMaxInt32)) {
            return false;
        }
        if (!Each(item, "records", where, [&](const JsonValue& r, const std::string& rAt) {
                DnsRecord record;
                if (!ReadRecord(r, rAt, answer.name, record)) return false;
                answer.answer.records.push_back(std::move(record));
                return true;
            })) {
            return false;
        }
        world.dnsAnswers.push_back(std::move(answer));
        return true;
    });
}

bool ScenarioReader::ReadRecord(const JsonValue& value, const std::string& at,
                                const std::string& owner, DnsRecord& record) {
    if (!Shape(value, at, {"type", "name", "address", "target", "strings"}, {"type"})) {
        return false;
    }
    std::string type;
    record.name = owner;
    if (!String(value, "type", at, type) || !String(value, "name", at, record.name)) return false;
    const auto only = [&](std::string_view member) {
        for (std::string_view other : {"address", "target", "strings"}) {
            if (other != member && value.contains(other)) {
                return Fail(at, Quoted(other) + " does not belong to a " + type + " record");
            }
        }
        if (!value.contains(member)) return Fail(at, "missing member " + Quoted(member));
        return true;
    };
    if (type == "A") {
        record.type = DnsType::A;
        return only("address") && Address(value, "address", at, record.a);
    }
    if (type == "PTR" || type == "CNAME") {
        record.type = type == "PTR" ? DnsType::Ptr : kDnsTypeCname;
        return only("target") && String(value, "target", at, record.ptr);
    }
    if (type == "TXT") {
        record.type = DnsType::Txt;
        return only("strings") &&
               Each(value, "strings", at, [&](const JsonValue& s, const std::string& sAt) {
                   if (!Kind(s, JsonType::String, sAt)) return false;
                   record.strings.push_back(s.asString());
                   return true;
               });
    }
    return Fail(Join(at, "type"), Quoted(type) + " is not \"A\", \"PTR\", \"TXT\" or \"CNAME\"");
}

}  // namespace

ScenarioLoad LoadScenarioText(std::string_view json) {
    if (const auto syntax = FindJsonSyntaxError(json)) {
        ScenarioLoad load;
        load.error = "not valid JSON: " + *syntax;
        return load;
    }
    try {
        return ScenarioReader().Read(JsonValue::parse(json));
    } catch (const std::exception& e) {
        // Numbers beyond what a double or an integer can hold.
        ScenarioLoad load;
        load.error = std::string("unreadable value: ") + e.what();
        return load;
    }
}

ScenarioLoad LoadScenarioFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    if (in.is_open()) text << in.rdbuf();
    if (!in.is_open() || in.bad()) {
        ScenarioLoad load;
        load.error = path + ": cannot be read";
        return load;
    }
    ScenarioLoad load = LoadScenarioText(text.str());
    if (!load.ok) load.error = path + ": " + load.error;
    return load;
}

}  // namespace quillon::sim
