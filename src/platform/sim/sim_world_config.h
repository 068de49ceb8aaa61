// WorldConfig: the description of a simulated network as plain values: the computer's adapters,
// route and neighbour tables, the paths to destinations hop by hop, the hosts that service probes
// reach (names, open ports, web answers, certificates), extra DNS answers and a timeline of
// changes. Scenario files and WorldBuilder produce one; SimWorld runs it. Plain data with no
// behaviour; copy freely, no thread concerns.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "base/ipv4.h"
#include "platform/dns.h"
#include "platform/net_info.h"

namespace quillon::sim {

// A router or host on a path. RTT and loss are what a probe to this hop experiences; loss set
// here is lost on the link leading to the hop, so later hops inherit it.
struct HopConfig {
    Ipv4Address address;           // 0.0.0.0: a hop that never answers anything
    std::string name;              // PTR name; empty: no reverse record
    uint32_t asn = 0;              // 0: no AS records
    std::string asName;            // the holder's name in the AS-name record
    std::string asPrefix;          // origin prefix text; empty: the address's /24
    std::string country = "ZZ";    // country field of both AS records
    double rttMs = 1;              // mean round trip to this hop
    double jitterMs = 0;           // standard deviation of the round trip
    double lossPercent = 0;        // loss on the link leading to this hop
    double answerLossPercent = 0;  // of its own answers, dropped (an ICMP rate limit)
    bool answersTtlExpired = true;
    bool answersEcho = true;
};

struct PathConfig {
    Ipv4Address destination;
    // In time-to-live order. The destination answers only if one of them carries its address.
    std::vector<HopConfig> hops;
    // Reverse name and AS of the destination, used when no hop carries its address.
    std::string destinationName;
    uint32_t destinationAsn = 0;
    std::string destinationAsName;
};

// A neighbour on a local link: its row in the ARP table and whether it answers resolution.
struct NeighborConfig {
    Ipv4Address address;
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

// One open TCP port of a service host.
struct TcpPortConfig {
    uint16_t port = 0;
    double connectMs = -1;  // time to accept a connection; < 0: the host's connectMs
};

// What a service host's web server answers for one URL path (the query included), or for every
// path without an entry of its own.
struct WebResponseConfig {
    std::string path;  // "": any other path
    int status = 200;
    uint64_t bodyBytes = 0;   // ignored when body is set (its size counts)
    std::string body;         // empty: bodyBytes of generated text
    double firstByteMs = -1;  // from the request sent to the first byte; < 0: one round trip
    double transferMs = 0;    // from the first byte to the last
    std::string location;     // redirect target of a 3xx: an absolute URL or a path on the host
};

// A certificate time: days relative to the world's start, or a fixed Unix time.
struct CertificateTime {
    bool fixed = false;
    double days = 0;
    int64_t unixSeconds = 0;
};

// The TLS side of a service host's HTTPS answers.
struct TlsConfig {
    std::string protocol = "TLS 1.3";
    std::string cipher = "TLS_AES_128_GCM_SHA256";
    std::string subject;  // empty: the host's name (or address text)
    std::string issuer = "Simulated Issuing CA";
    CertificateTime notBefore{false, -30, 0};
    CertificateTime notAfter{false, 60, 0};
    bool selfSigned = false;  // issued by itself: the issuer is the subject, nobody trusts it
};

// A host that service probes reach: by name (an A record) or by address. Round trips: on a path
// the hop carrying the address decides echoes and gives rttMs and jitterMs; off every path the
// members below do.
struct ServiceHostConfig {
    std::string name;  // DNS name; empty: reached by address only
    Ipv4Address address;
    double dnsMs = 0;         // how long resolving the name takes
    double rttMs = -1;        // < 0: the hop's on a path, else 20
    double jitterMs = -1;     // < 0: the hop's on a path, else 0
    double lossPercent = 0;   // of echoes, off every path
    bool answersEcho = true;  // off every path
    double connectMs = -1;    // TCP handshake; < 0: rttMs
    std::vector<TcpPortConfig> tcpPorts;
    std::vector<WebResponseConfig> web;  // empty: no web server behind the open ports
    bool tls = false;                    // answers HTTPS with tlsConfig
    TlsConfig tlsConfig;
};

// The home gateway's console: the maker's local web API on port 443 of an address on the LAN
// (the system description, sign-in with an optional one-time code, the signed-in user), behind
// a self-signed certificate. One user may sign in. Recognition also needs the hardware address
// the neighbour table gives the address to carry one of the maker's prefixes.
struct ConsoleConfig {
    Ipv4Address address;        // 0.0.0.0: the world has no console
    std::string model = "UDR";  // the description's short name
    std::string name;           // the console's own name; empty: the model
    std::string username = "admin";
    std::string password;
    std::string code;   // the one-time code asked for after the password; empty: none
    double rttMs = -1;  // connect and answer time; < 0: the hop's at the address, else 2
};

// The STUN server of the simulated internet: it answers Binding requests to name:port with
// the public address (and a mapped port). A world without a public address has none: requests
// go unanswered, as where UDP is blocked.
struct StunConfig {
    Ipv4Address publicAddress;  // what the server reports; 0.0.0.0: no server answers
    uint16_t mappedPort = 40000;
    std::string name = "stun.cloudflare.com";  // the program's default server
    Ipv4Address address{198, 51, 100, 53};
    uint16_t port = 3478;
    double rttMs = 20;
};

// Another access point the computer hears.
struct WifiNeighborConfig {
    std::string ssid;
    MacAddress bssid{};
    uint32_t frequencyMhz = 2412;
    int32_t rssiDbm = -75;
};

// The wireless side of a wifi adapter: the network it is joined to, the access point and what
// its beacon advertises (given as raw elements, or as facts the simulation encodes), and the
// other access points heard. Numbers use the Windows WLAN vocabulary of the Wlan port.
struct WifiConfig {
    uint32_t ifIndex = 0;  // the adapter this describes
    bool connected = true;
    std::string ssid;
    MacAddress bssid{};
    uint32_t signalQuality = 80;  // 0..100
    int32_t rssiDbm = -55;
    uint32_t frequencyMhz = 5180;
    uint32_t channelWidth = 20;    // MHz: 20, 40, 80, 160 (320 only with raw elements)
    uint32_t phyType = 10;         // DOT11_PHY_TYPE: 7 n, 8 ac, 10 ax, 11 be
    uint32_t authAlgorithm = 7;    // WPA2-Personal
    uint32_t cipherAlgorithm = 4;  // CCMP
    uint32_t rxRateKbps = 0;
    uint32_t txRateKbps = 0;
    // Beacon facts, encoded as elements unless rawElements is set.
    int32_t stationCount = -1;        // -1: no BSS Load element
    int32_t channelUtilization = -1;  // percent
    uint32_t spatialStreams = 2;
    bool muMimo = false;
    std::string countryCode;  // empty: no Country element
    bool hasRawElements = false;
    std::vector<uint8_t> rawElements;
    std::vector<WifiNeighborConfig> neighbors;
};

// Names a hop: by address (every hop with that address on every path) or by path and ttl.
struct HopRef {
    Ipv4Address address{};
    Ipv4Address pathDestination{};  // with ttl
    int ttl = 0;                    // 0: by address
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
    HostDown,          // address of a service host: nothing there answers any more
    HostRefuses,       // address: the host answers echoes but refuses every connection
    HostUp,            // address: it answers as described again
    HostLatency,       // address, value: extra ms on every round trip to the host (0 clears)
    WebStatus,         // address, value: the status of its web answers for path (every: "")
    PublicAddress,     // address: what the STUN server reports from now on (0.0.0.0: no answers)
    WifiSignal,        // ifIndex, value: link quality 0..100 (rssi: the access point's dBm)
    WifiNeighbors,     // ifIndex, wifiNeighbors: the access points heard from now on
    WifiDisconnect,    // ifIndex: the adapter leaves its network
    WifiConnect,       // ifIndex: it joins again
    ConsoleSessionsExpire,  // every session the console issued stops being valid
    ConsoleCertificate,     // the console shows a new certificate (another fingerprint)
    ConsoleGone,            // the console's web server answers nothing (connections time out)
    ConsoleBack,            // it answers again
};

struct TimelineEvent {
    uint64_t atMs = 0;  // since the world started
    ChangeKind kind = ChangeKind::HopLoss;
    HopRef hop;
    double value = 0;
    Ipv4Address address;  // NeighborMac: 0.0.0.0 means the gateway of the first default route
    MacAddress mac{};
    uint32_t ifIndex = 0;
    std::string path;                               // WebStatus
    int32_t rssiDbm = 0;                            // WifiSignal; 0: unchanged
    std::vector<WifiNeighborConfig> wifiNeighbors;  // WifiNeighbors
};

struct WorldConfig {
    std::string name;
    uint64_t seed = 1;
    bool icmpAvailable = true;
    std::vector<NetAdapter> adapters;  // ipv4Gateways is derived from the routes
    std::vector<Ipv4Route> routes;     // in the system's order
    std::vector<NeighborConfig> neighbors;
    std::vector<PathConfig> paths;
    std::vector<ServiceHostConfig> serviceHosts;
    StunConfig stun;
    ConsoleConfig console;
    std::string originZone = "origin.asn.cymru.com";
    std::string asNameZone = "asn.cymru.com";
    std::vector<DnsAnswerConfig> dnsAnswers;
    std::vector<WifiConfig> wifi;  // one per wifi adapter that has a "wifi" section
    std::vector<TimelineEvent> timeline;
    // Table reads that fail, to exercise callers' fallbacks.
    bool adapterListFails = false;
    bool routeListFails = false;
    bool neighborListFails = false;
};

}  // namespace quillon::sim
