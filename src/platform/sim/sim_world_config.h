// WorldConfig: the description of a simulated network as plain values: the computer's adapters,
// route and neighbour tables, the paths to destinations hop by hop, extra DNS answers and a
// timeline of changes. Scenario files and WorldBuilder produce one; SimWorld runs it. Plain
// data with no behaviour; copy freely, no thread concerns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/dns.h"
#include "platform/net_info.h"

namespace quillon::sim {

// A router or host on a path. RTT and loss are what a probe to this hop experiences; loss set
// here is lost on the link leading to the hop, so later hops inherit it.
struct HopConfig {
    uint32_t address = 0;        // 0: a hop that never answers anything
    std::string name;            // PTR name; empty: no reverse record
    uint32_t asn = 0;            // 0: no AS records
    std::string asName;          // the holder's name in the AS-name record
    std::string asPrefix;        // origin prefix text; empty: the address's /24
    std::string country = "ZZ";  // country field of both AS records
    double rttMs = 1;            // mean round trip to this hop
    double jitterMs = 0;         // standard deviation of the round trip
    double lossPercent = 0;      // loss on the link leading to this hop
    double answerLossPercent = 0;  // of its own answers, dropped (an ICMP rate limit)
    bool answersTtlExpired = true;
    bool answersEcho = true;
};

struct PathConfig {
    uint32_t destination = 0;
    // In time-to-live order. The destination answers only if one of them carries its address.
    std::vector<HopConfig> hops;
    // Reverse name and AS of the destination, used when no hop carries its address.
    std::string destinationName;
    uint32_t destinationAsn = 0;
    std::string destinationAsName;
};

// A neighbour on a local link: its row in the ARP table and whether it answers resolution.
struct NeighborConfig {
    uint32_t address = 0;
    uint32_t ifIndex = 0;
    MacAddress mac{};       // what resolution answers
    bool inTable = true;    // listed in the ARP table
    MacAddress tableMac{};  // the table's hardware address (usually mac)
    bool complete = true;   // the table row is complete
    bool answersResolution = true;
};

// Extra DNS answer for one name and query type; replaces whatever the hops generate.
struct DnsAnswerConfig {
    std::string name;
    DnsType type = DnsType::Txt;
    DnsAnswer answer;  // ok=false gives a failed query with answer.error
};

// CNAME records appear in answers only as odd first records; their target is in DnsRecord::ptr.
constexpr DnsType kDnsTypeCname = static_cast<DnsType>(5);

// Names a hop: by address (every hop with that address on every path) or by path and ttl.
struct HopRef {
    uint32_t address = 0;
    uint32_t pathDestination = 0;  // with ttl
    int ttl = 0;                   // 0: by address
};

enum class ChangeKind {
    HopLoss,           // value: loss percent
    HopLatency,        // value: extra ms added to the hop and every later hop (0 clears)
    HopSilent,         // the hop stops answering anything (it still forwards)
    HopAnswers,        // the hop answers again as configured
    NeighborMac,       // address, mac: the ARP row and resolution answer change
    DefaultRouteGone,  // ifIndex (0: every adapter): default routes leave the table
    DefaultRouteBack,  // ifIndex (0: every adapter): they come back in their old places
    AdapterDown,       // ifIndex
    AdapterUp,         // ifIndex
};

struct TimelineEvent {
    uint64_t atMs = 0;  // since the world started
    ChangeKind kind = ChangeKind::HopLoss;
    HopRef hop;
    double value = 0;
    uint32_t address = 0;  // NeighborMac: 0 means the gateway of the first default route
    MacAddress mac{};
    uint32_t ifIndex = 0;
};

struct WorldConfig {
    std::string name;
    uint64_t seed = 1;
    bool icmpAvailable = true;
    std::vector<NetAdapter> adapters;  // ipv4Gateways is derived from the routes
    std::vector<Ipv4Route> routes;     // in the system's order
    std::vector<NeighborConfig> neighbors;
    std::vector<PathConfig> paths;
    std::string originZone = "origin.asn.cymru.com";
    std::string asNameZone = "asn.cymru.com";
    std::vector<DnsAnswerConfig> dnsAnswers;
    std::vector<TimelineEvent> timeline;
    // Table reads that fail, to exercise callers' fallbacks.
    bool adapterListFails = false;
    bool routeListFails = false;
    bool neighborListFails = false;
};

}  // namespace quillon::sim
