#include "platform/sim/sim_world.h"

#include <algorithm>
#include <cmath>

#include "platform/sim/sim_address.h"
#include "platform/sim/sim_stun.h"

namespace quillon::sim {

namespace {

constexpr int kDefaultTtl = 64;
constexpr double kPi = 3.14159265358979323846;

bool IsDefaultRoute(const Ipv4Route& route) {
    return route.destination.IsZero() && route.mask.IsZero();
}

}  // namespace

SimWorld::SimWorld(WorldConfig config, Clock& clock)
    : clock_(clock),
      startTick_(clock.Tick64()),
      random_(config.seed),
      icmpAvailable_(config.icmpAvailable),
      adapters_(std::move(config.adapters)),
      neighbors_(std::move(config.neighbors)),
      dns_(config),
      hosts_(config, clock.UnixSeconds()),
      console_(config, clock.UnixSeconds()),
      stun_(config.stun),
      wifi_(std::move(config.wifi)),
      timeline_(std::move(config.timeline)),
      adapterListFails_(config.adapterListFails),
      routeListFails_(config.routeListFails),
      neighborListFails_(config.neighborListFails) {
    Ipv4Address gateway;
    for (const Ipv4Route& route : config.routes) {
        if (gateway.IsZero() && IsDefaultRoute(route)) gateway = route.nextHop;
        routes_.push_back({route, true});
    }
    for (const PathConfig& path : config.paths) {
        LivePath live{path.destination, {}};
        for (const HopConfig& hop : path.hops) live.hops.push_back({hop, 0, false});
        paths_.push_back(std::move(live));
    }
    for (TimelineEvent& event : timeline_) {
        if (event.kind == ChangeKind::NeighborMac && event.address.IsZero()) {
            event.address = gateway;
        }
    }
    std::stable_sort(
        timeline_.begin(), timeline_.end(),
        [](const TimelineEvent& a, const TimelineEvent& b) { return a.atMs < b.atMs; });
}

uint64_t SimWorld::ElapsedMs() {
    return clock_.Tick64() - startTick_;
}

int SimWorld::ApplyDue() {
    int applied;
    std::function<void()> listener;  // set when the tables changed
    {
        std::lock_guard lock(mutex_);
        bool tablesChanged = false;
        applied = ApplyDueLocked(ElapsedMs(), tablesChanged);
        if (tablesChanged) listener = changeListener_;
    }
    if (listener) listener();
    return applied;
}

// Every use of the world first catches up with its timeline.
template <class F>
auto SimWorld::Locked(F&& f) {
    ApplyDue();
    std::lock_guard lock(mutex_);
    return f();
}

void SimWorld::Apply(const TimelineEvent& change) {
    std::function<void()> listener;
    {
        std::lock_guard lock(mutex_);
        TimelineEvent event = change;
        if (event.kind == ChangeKind::NeighborMac && event.address.IsZero()) {
            for (const LiveRoute& live : routes_) {
                if (IsDefaultRoute(live.route)) {
                    event.address = live.route.nextHop;
                    break;
                }
            }
        }
        if (ApplyLocked(event)) listener = changeListener_;
    }
    if (listener) listener();
}

void SimWorld::SetChangeListener(std::function<void()> listener) {
    std::lock_guard lock(mutex_);
    changeListener_ = std::move(listener);
}

int SimWorld::ApplyDueLocked(uint64_t elapsed, bool& tablesChanged) {
    int applied = 0;
    while (nextEvent_ < timeline_.size() && timeline_[nextEvent_].atMs <= elapsed) {
        if (ApplyLocked(timeline_[nextEvent_])) tablesChanged = true;
        ++nextEvent_;
        ++applied;
    }
    return applied;
}

template <class F>
void SimWorld::ForEachHop(const HopRef& ref, F&& f) {
    for (LivePath& path : paths_) {
        if (ref.ttl > 0) {
            if (path.destination != ref.pathDestination) continue;
            if (size_t(ref.ttl) <= path.hops.size()) f(path.hops[size_t(ref.ttl) - 1]);
            return;
        }
        for (LiveHop& hop : path.hops) {
            if (!ref.address.IsZero() && hop.config.address == ref.address) f(hop);
        }
    }
}

bool SimWorld::ApplyLocked(const TimelineEvent& change) {
    switch (change.kind) {
        case ChangeKind::HopLoss:
            ForEachHop(change.hop, [&](LiveHop& hop) {
                hop.config.lossPercent = std::clamp(change.value, 0.0, 100.0);
            });
            return false;
        case ChangeKind::HopLatency:
            ForEachHop(change.hop,
                       [&](LiveHop& hop) { hop.extraLatencyMs = std::max(0.0, change.value); });
            return false;
        case ChangeKind::HopSilent:
        case ChangeKind::HopAnswers:
            ForEachHop(change.hop,
                       [&](LiveHop& hop) { hop.silent = change.kind == ChangeKind::HopSilent; });
            return false;
        case ChangeKind::NeighborMac: {
            if (change.address.IsZero()) return false;
            for (NeighborConfig& neighbor : neighbors_) {
                if (neighbor.address != change.address) continue;
                neighbor.mac = change.mac;
                neighbor.tableMac = change.mac;
                return true;
            }
            // A gateway nobody knew yet: it appears on the link of its route.
            NeighborConfig added;
            added.address = change.address;
            for (const LiveRoute& live : routes_) {
                if (live.route.nextHop == change.address) {
                    added.ifIndex = live.route.ifIndex;
                    break;
                }
            }
            added.mac = added.tableMac = change.mac;
            neighbors_.push_back(added);
            return true;
        }
        case ChangeKind::DefaultRouteGone:
        case ChangeKind::DefaultRouteBack: {
            bool changed = false;
            for (LiveRoute& live : routes_) {
                if (!IsDefaultRoute(live.route)) continue;
                if (change.ifIndex != 0 && live.route.ifIndex != change.ifIndex) continue;
                const bool present = change.kind == ChangeKind::DefaultRouteBack;
                changed = changed || live.present != present;
                live.present = present;
            }
            return changed;
        }
        case ChangeKind::AdapterDown:
        case ChangeKind::AdapterUp: {
            NetAdapter* adapter = FindAdapterLocked(change.ifIndex);
            const bool up = change.kind == ChangeKind::AdapterUp;
            if (!adapter || adapter->operStatusUp == up) return false;
            adapter->operStatusUp = up;
            return true;
        }
        case ChangeKind::HostDown:
        case ChangeKind::HostRefuses:
        case ChangeKind::HostUp:
        case ChangeKind::HostLatency:
        case ChangeKind::WebStatus:
            hosts_.Apply(change);
            return false;
        case ChangeKind::ConsoleSessionsExpire:
        case ChangeKind::ConsoleCertificate:
        case ChangeKind::ConsoleGone:
        case ChangeKind::ConsoleBack:
            console_.Apply(change);
            return false;
        case ChangeKind::PublicAddress:
            stun_.publicAddress = change.address;
            return false;
        case ChangeKind::WifiSignal:
        case ChangeKind::WifiNeighbors:
        case ChangeKind::WifiDisconnect:
        case ChangeKind::WifiConnect:
            for (WifiConfig& wifi : wifi_) {
                if (wifi.ifIndex != change.ifIndex) continue;
                if (change.kind == ChangeKind::WifiSignal) {
                    wifi.signalQuality = uint32_t(change.value);
                    if (change.rssiDbm != 0) wifi.rssiDbm = change.rssiDbm;
                } else if (change.kind == ChangeKind::WifiNeighbors) {
                    wifi.neighbors = change.wifiNeighbors;
                } else {
                    wifi.connected = change.kind == ChangeKind::WifiConnect;
                }
            }
            return false;
    }
    return false;
}

std::vector<WifiConfig> SimWorld::Wifi() {
    return Locked([&] {
        std::vector<WifiConfig> out = wifi_;
        // A radio that is switched off hears nothing and is joined to nothing.
        for (WifiConfig& wifi : out) {
            if (!AdapterUpLocked(wifi.ifIndex)) {
                wifi.connected = false;
                wifi.neighbors.clear();
            }
        }
        return out;
    });
}

void SimWorld::CountWifiScan() {
    std::lock_guard lock(mutex_);
    ++wifiScans_;
}

int SimWorld::WifiScans() {
    std::lock_guard lock(mutex_);
    return wifiScans_;
}

NetAdapter* SimWorld::FindAdapterLocked(uint32_t ifIndex) {
    for (NetAdapter& adapter : adapters_) {
        if (adapter.ifIndex == ifIndex) return &adapter;
    }
    return nullptr;
}

// A world without adapters models only its paths: nothing local can fail.
bool SimWorld::AdapterUpLocked(uint32_t ifIndex) {
    if (adapters_.empty()) return true;
    const NetAdapter* adapter = FindAdapterLocked(ifIndex);
    return adapter && adapter->operStatusUp;
}

// Routes through a down adapter leave the table, as they do when a link goes away.
bool SimWorld::RouteVisibleLocked(const LiveRoute& live) {
    return live.present && AdapterUpLocked(live.route.ifIndex);
}

bool SimWorld::RoutableLocked(Ipv4Address destination) {
    if (adapters_.empty()) return true;
    return std::any_of(routes_.begin(), routes_.end(), [&](const LiveRoute& live) {
        return RouteVisibleLocked(live) &&
               (destination & live.route.mask) == (live.route.destination & live.route.mask);
    });
}

double SimWorld::DrawUnit() {
    return double(random_() >> 11) * 0x1.0p-53;
}

// Box-Muller on the engine's raw output, so the sequence is the same with every standard
// library (the standard distributions are not specified bit for bit).
double SimWorld::DrawNormal() {
    const double u1 = 1.0 - DrawUnit();  // (0, 1]
    const double u2 = DrawUnit();
    return std::sqrt(-2.0 * std::log(u1)) * std::cos(2.0 * kPi * u2);
}

bool SimWorld::IcmpAvailable() {
    return Locked([&] { return icmpAvailable_; });
}

void SimWorld::SetIcmpAvailable(bool available) {
    std::lock_guard lock(mutex_);
    icmpAvailable_ = available;
}

// The first path to the address, else the first path through it; position is the address's
// index among the hops (the hop count when no hop carries it).
const SimWorld::LivePath* SimWorld::PathToLocked(Ipv4Address address, size_t& position) const {
    const auto indexOf = [&](const LivePath& path) {
        size_t i = 0;
        while (i < path.hops.size() && path.hops[i].config.address != address) ++i;
        return i;
    };
    for (const LivePath& path : paths_) {
        if (path.destination != address) continue;
        position = indexOf(path);
        return &path;
    }
    if (address.IsZero()) return nullptr;
    for (const LivePath& path : paths_) {
        position = indexOf(path);
        if (position < path.hops.size()) return &path;
    }
    return nullptr;
}

void SimWorld::SetEchoObserver(std::function<void()> observer) {
    std::lock_guard lock(mutex_);
    echoObserver_ = std::move(observer);
}

EchoOutcome SimWorld::SendEcho(Ipv4Address destination, uint8_t ttl, uint32_t timeoutMs) {
    std::function<void()> observer;
    {
        std::lock_guard lock(mutex_);
        observer = echoObserver_;
    }
    if (observer) observer();
    return Locked([&] {
        EchoOutcome outcome;
        const int usedTtl = ttl == 0 ? kDefaultTtl : ttl;
        if (!RoutableLocked(destination)) return outcome;
        outcome.sent = true;
        sent_.push_back({ElapsedMs(), destination, usedTtl});
        // Both draws are made for every echo, so one echo's fate never shifts the next's.
        const double lossDraw = DrawUnit();
        const double jitterDraw = std::clamp(DrawNormal(), -3.0, 3.0);

        size_t position = 0;  // where the destination sits on its path
        const LivePath* path = PathToLocked(destination, position);
        if (!path) {
            // A service host on no path answers for itself.
            const HostEcho echo = hosts_.Echo(destination, lossDraw, jitterDraw, timeoutMs);
            outcome.answered = echo.answered;
            if (echo.answered) outcome.reply = echo.reply;
            return outcome;
        }

        size_t responder;
        uint32_t status;
        if (size_t(usedTtl) <= position) {
            responder = size_t(usedTtl) - 1;
            status = kIcmpStatusTtlExpiredTransit;
            const LiveHop& hop = path->hops[responder];
            if (hop.config.address.IsZero() || !hop.config.answersTtlExpired || hop.silent) {
                return outcome;
            }
        } else {
            if (position >= path->hops.size()) return outcome;  // the destination never answers
            responder = position;
            status = kIcmpStatusSuccess;
            const LiveHop& hop = path->hops[responder];
            if (!hop.config.answersEcho || hop.silent) return outcome;
        }

        // Loss and added latency on every link up to the responder count.
        double answerChance = 1.0;
        double extraMs = 0;
        for (size_t i = 0; i <= responder; ++i) {
            answerChance *= 1.0 - path->hops[i].config.lossPercent / 100.0;
            extraMs += path->hops[i].extraLatencyMs;
        }
        if (lossDraw >= answerChance) return outcome;
        const LiveHop& hop = path->hops[responder];
        // Drawn only where a hop limits its answers, so other worlds keep their sequences.
        if (hop.config.answerLossPercent > 0 && DrawUnit() < hop.config.answerLossPercent / 100.0) {
            return outcome;
        }
        const double rtt = hop.config.rttMs + extraMs + hop.config.jitterMs * jitterDraw;
        EchoReply reply{status, hop.config.address, uint32_t(std::max(1.0, std::round(rtt)))};
        // A service host on the path may be down or slower than its hop.
        if (status == kIcmpStatusSuccess && !hosts_.AdjustPathEcho(reply.address, reply)) {
            return outcome;
        }
        if (reply.rttMs > timeoutMs) return outcome;
        outcome.answered = true;
        outcome.reply = reply;
        return outcome;
    });
}

bool SimWorld::ListAdapters(std::vector<NetAdapter>& out) {
    return Locked([&] {
        if (adapterListFails_) return false;
        out = adapters_;
        for (NetAdapter& adapter : out) {
            adapter.ipv4Gateways.clear();
            for (const LiveRoute& live : routes_) {
                if (RouteVisibleLocked(live) && IsDefaultRoute(live.route) &&
                    live.route.ifIndex == adapter.ifIndex && !live.route.nextHop.IsZero()) {
                    adapter.ipv4Gateways.push_back(live.route.nextHop);
                }
            }
        }
        return true;
    });
}

bool SimWorld::ListRoutes(std::vector<Ipv4Route>& out) {
    return Locked([&] {
        if (routeListFails_) return false;
        out.clear();
        for (const LiveRoute& live : routes_) {
            if (RouteVisibleLocked(live)) out.push_back(live.route);
        }
        return true;
    });
}

bool SimWorld::ListNeighbors(std::vector<NeighborEntry>& out) {
    return Locked([&] {
        if (neighborListFails_) return false;
        out.clear();
        for (const NeighborConfig& neighbor : neighbors_) {
            if (neighbor.inTable) {
                out.push_back(
                    {neighbor.address, neighbor.ifIndex, neighbor.tableMac, neighbor.complete});
            }
        }
        return true;
    });
}

std::optional<MacAddress> SimWorld::ResolveNeighbor(Ipv4Address address) {
    return Locked([&]() -> std::optional<MacAddress> {
        ++resolutions_[address];
        for (NeighborConfig& neighbor : neighbors_) {
            if (neighbor.address != address || !neighbor.answersResolution) continue;
            if (!AdapterUpLocked(neighbor.ifIndex)) continue;
            // The system keeps what it learned, as a real resolution does.
            neighbor.inTable = true;
            neighbor.tableMac = neighbor.mac;
            neighbor.complete = true;
            return neighbor.mac;
        }
        return std::nullopt;
    });
}

DnsAnswer SimWorld::QueryDns(const std::string& name, DnsType type) {
    return Locked([&] {
        ++dnsQueries_[DnsRecords::KeyOf(name, type)];
        return dns_.Answer(name, type);
    });
}

uint32_t SimWorld::NameDelayMs(const std::string& name) {
    return Locked([&] { return hosts_.NameDelayMs(name); });
}

ResolveResult SimWorld::ResolveName(const std::string& name) {
    return Locked([&] {
        ResolveResult result;
        const DnsAnswer answer = dns_.Answer(name, DnsType::A);
        for (const DnsRecord& record : answer.records) {
            if (record.type == DnsType::A) result.addresses.push_back(record.a);
        }
        result.ok = answer.ok && !result.addresses.empty();
        if (!result.ok) result.error = answer.ok ? kDnsNameError : answer.error;
        return result;
    });
}

bool SimWorld::Routable(Ipv4Address address) {
    return Locked([&] { return RoutableLocked(address); });
}

ConnectOutcome SimWorld::ConnectTcp(Ipv4Address address, uint16_t port) {
    return Locked([&] {
        if (!RoutableLocked(address)) return ConnectOutcome{ConnectKind::Unreachable, 0};
        if (console_.At(address)) return console_.Connect(port);
        return hosts_.Connect(address, port, std::clamp(DrawNormal(), -3.0, 3.0));
    });
}

TlsOutcome SimWorld::TlsHandshake(Ipv4Address address) {
    const int64_t now = clock_.UnixSeconds();
    return Locked([&] {
        return console_.At(address) ? console_.Handshake() : hosts_.Handshake(address, now);
    });
}

WebReply SimWorld::WebRequest(Ipv4Address address, const std::string& path,
                              const HttpExchange& request) {
    const int64_t now = clock_.UnixSeconds();
    return Locked([&] {
        if (!console_.At(address)) return hosts_.Respond(address, path, request.maxBodyBytes);
        // The console tells its own hardware address as the neighbour table knows it.
        std::string mac = "00:00:00:00:00:00";
        for (const NeighborConfig& neighbor : neighbors_) {
            if (neighbor.address == address) mac = FormatMac(neighbor.mac);
        }
        std::transform(mac.begin(), mac.end(), mac.begin(),
                       [](char c) { return c >= 'A' && c <= 'F' ? char(c - 'A' + 'a') : c; });
        WebReply reply = console_.Respond(path, request, mac, now);
        if (reply.body.size() > request.maxBodyBytes) reply.body.resize(request.maxBodyBytes);
        return reply;
    });
}

std::string SimWorld::ConsoleFingerprint() {
    std::lock_guard lock(mutex_);
    return console_.Address().IsZero() ? std::string() : console_.Fingerprint();
}

SimWorld::UdpReply SimWorld::UdpRequest(Ipv4Address address, uint16_t port,
                                        const std::vector<uint8_t>& request) {
    return Locked([&] {
        UdpReply reply;
        if (stun_.publicAddress.IsZero() || address != stun_.address || port != stun_.port ||
            !RoutableLocked(address)) {
            return reply;
        }
        ++stunRequests_;
        if (auto answer = StunBindingAnswer(request, stun_.publicAddress, stun_.mappedPort)) {
            reply.answered = true;
            reply.answer = std::move(*answer);
            reply.ms = std::max(0.0, stun_.rttMs);
        }
        return reply;
    });
}

int SimWorld::StunRequests() {
    std::lock_guard lock(mutex_);
    return stunRequests_;
}

std::vector<SentEcho> SimWorld::SentEchoes() {
    std::lock_guard lock(mutex_);
    return sent_;
}

int SimWorld::EchoesSent(Ipv4Address destination) {
    std::lock_guard lock(mutex_);
    return int(std::count_if(sent_.begin(), sent_.end(),
                             [&](const SentEcho& e) { return e.destination == destination; }));
}

int SimWorld::EchoesSent(Ipv4Address destination, int ttl) {
    std::lock_guard lock(mutex_);
    return int(std::count_if(sent_.begin(), sent_.end(), [&](const SentEcho& e) {
        return e.destination == destination && e.ttl == ttl;
    }));
}

int SimWorld::DnsQueries(const std::string& name, DnsType type) {
    std::lock_guard lock(mutex_);
    const auto it = dnsQueries_.find(DnsRecords::KeyOf(name, type));
    return it == dnsQueries_.end() ? 0 : it->second;
}

int SimWorld::ResolutionRequests(Ipv4Address address) {
    std::lock_guard lock(mutex_);
    const auto it = resolutions_.find(address);
    return it == resolutions_.end() ? 0 : it->second;
}

}  // namespace quillon::sim
