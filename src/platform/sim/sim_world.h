// SimWorld: a running simulated network built from a WorldConfig. It owns the live tables
// (adapters, routes, neighbours), the paths with their current loss, latency and silence, the
// service hosts with their state, the gateway's console with its sessions, the DNS records
// generated from the hops and hosts, the random source of round-trip times and losses, the
// timeline of changes, and a record of the traffic sent into it. SimIcmp, SimNetInfo, SimDns,
// SimSockets and SimHttp are thin ports over it; tests also drive it directly (Apply) and read its
// traffic counters.
//
// Time is the given Clock's: the world starts at the tick of its construction, and timeline
// changes apply once due, checked on every use by an adapter and by ApplyDue(). With a
// VirtualClock a test runs minutes in milliseconds; with the system clock it runs in real time.
//
// Thread-safe: one mutex guards everything and is never held while the clock sleeps or the
// change listener runs. The world must outlive the adapters and handles made over it.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "platform/clock.h"
#include "platform/dns.h"
#include "platform/icmp_api.h"
#include "platform/net_info.h"
#include "platform/sim/sim_console.h"
#include "platform/sim/sim_dns_records.h"
#include "platform/sim/sim_service_hosts.h"
#include "platform/sim/sim_world_config.h"
#include "platform/sockets.h"

namespace quillon::sim {

// What became of one echo request, decided when it is sent.
struct EchoOutcome {
    bool sent = false;      // false: no route (or no usable adapter); nothing left the computer
    bool answered = false;  // an answer arrives within the time-out
    EchoReply reply;        // filled in when answered
};

// One echo that left the computer.
struct SentEcho {
    uint64_t atMs = 0;  // since the world started
    Ipv4Address destination;
    int ttl = 0;  // the time-to-live used (a request's 0 is sent as 64)
};

class SimWorld {
public:
    SimWorld(WorldConfig config, Clock& clock);
    SimWorld(const SimWorld&) = delete;
    SimWorld& operator=(const SimWorld&) = delete;

    Clock& clock() { return clock_; }
    // Milliseconds since the world started.
    uint64_t ElapsedMs();
    // Applies every timeline change that is due now; returns how many were applied.
    int ApplyDue();
    // Applies one change at once, as if the timeline had it now.
    void Apply(const TimelineEvent& change);
    // Called (on the thread that applied them) after changes to adapters, routes or neighbours,
    // so that a network-change notifier can be built on top.
    void SetChangeListener(std::function<void()> listener);

    // ICMP: availability and the outcome of one echo, recorded as traffic when sent.
    bool IcmpAvailable();
    void SetIcmpAvailable(bool available);
    EchoOutcome SendEcho(Ipv4Address destination, uint8_t ttl, uint32_t timeoutMs);
    // Called (without the world's lock) before every echo is decided: tests look at what the
    // program shows while its probes are out.
    void SetEchoObserver(std::function<void()> observer);

    // The computer's tables as the system would list them; false when set to fail.
    bool ListAdapters(std::vector<NetAdapter>& out);
    bool ListRoutes(std::vector<Ipv4Route>& out);
    bool ListNeighbors(std::vector<NeighborEntry>& out);
    // Whether a neighbour answers resolution now (and learns it into the ARP table). Does not
    // wait; the port adapter lets the time pass.
    std::optional<MacAddress> ResolveNeighbor(Ipv4Address address);

    // DNS: generated and extra records; unknown names fail.
    DnsAnswer QueryDns(const std::string& name, DnsType type);
    // How long resolving a name takes: a service host's dnsMs, else nothing.
    uint32_t NameDelayMs(const std::string& name);

    // Whether a route leads to the address now (a world without adapters routes everything).
    bool Routable(Ipv4Address address);
    // Service hosts. The addresses of a name's A records; without any, the DNS answer's error
    // (kDnsNameError for a name nobody knows).
    ResolveResult ResolveName(const std::string& name);
    // A TCP connection attempt: unreachable without a route, else what the host does.
    ConnectOutcome ConnectTcp(Ipv4Address address, uint16_t port);
    // The TLS handshake with a host that accepted a connection, checked against the clock now.
    TlsOutcome TlsHandshake(Ipv4Address address);
    // The web answer for a path on a connected host, keeping at most the request's maxBodyBytes
    // of the body. Service hosts answer by path alone; the console reads the method, headers
    // and body too.
    WebReply WebRequest(Ipv4Address address, const std::string& path, const HttpExchange& request);
    // The fingerprint of the certificate the console shows now (empty without a console).
    std::string ConsoleFingerprint();
    // One UDP request: the STUN server's Binding answer when it is addressed (and a route leads
    // there), and how long the answer takes; nothing for anything else.
    struct UdpReply {
        bool answered = false;
        double ms = 0;
        std::vector<uint8_t> answer;
    };
    UdpReply UdpRequest(Ipv4Address address, uint16_t port, const std::vector<uint8_t>& request);
    int StunRequests();

    // The wireless side of each wifi adapter as it is now (a down adapter is not connected),
    // and the scans asked of it.
    std::vector<WifiConfig> Wifi();
    void CountWifiScan();
    int WifiScans();

    // Traffic seen so far.
    std::vector<SentEcho> SentEchoes();
    int EchoesSent(Ipv4Address destination);
    int EchoesSent(Ipv4Address destination, int ttl);
    int DnsQueries(const std::string& name, DnsType type);
    int ResolutionRequests(Ipv4Address address);

private:
    struct LiveHop {
        HopConfig config;
        double extraLatencyMs = 0;
        bool silent = false;
    };
    struct LivePath {
        Ipv4Address destination;
        std::vector<LiveHop> hops;
    };
    struct LiveRoute {
        Ipv4Route route;
        bool present = true;
    };

    template <class F>
    auto Locked(F&& f);
    int ApplyDueLocked(uint64_t elapsed, bool& tablesChanged);
    bool ApplyLocked(const TimelineEvent& change);  // true when tables changed
    template <class F>
    void ForEachHop(const HopRef& ref, F&& f);
    NetAdapter* FindAdapterLocked(uint32_t ifIndex);
    bool AdapterUpLocked(uint32_t ifIndex);
    bool RouteVisibleLocked(const LiveRoute& live);
    bool RoutableLocked(Ipv4Address destination);
    const LivePath* PathToLocked(Ipv4Address address, size_t& position) const;
    double DrawUnit();
    double DrawNormal();

    Clock& clock_;
    const uint64_t startTick_;
    std::mutex mutex_;
    std::mt19937_64 random_;
    bool icmpAvailable_;
    std::vector<NetAdapter> adapters_;
    std::vector<LiveRoute> routes_;
    std::vector<NeighborConfig> neighbors_;
    std::vector<LivePath> paths_;
    const DnsRecords dns_;
    ServiceHosts hosts_;
    Console console_;
    StunConfig stun_;
    int stunRequests_ = 0;
    std::vector<WifiConfig> wifi_;
    int wifiScans_ = 0;
    std::vector<TimelineEvent> timeline_;  // sorted by time, stable
    size_t nextEvent_ = 0;
    bool adapterListFails_, routeListFails_, neighborListFails_;
    std::function<void()> changeListener_;
    std::function<void()> echoObserver_;

    std::vector<SentEcho> sent_;
    std::map<DnsRecords::Key, int> dnsQueries_;
    std::map<Ipv4Address, int> resolutions_;
};

}  // namespace quillon::sim
