#include "platform/sim/sim_world_builder.h"

#include <stdexcept>

namespace quillon::sim {

namespace {

TimelineEvent Change(ChangeKind kind) {
    TimelineEvent event;
    event.kind = kind;
    return event;
}

TimelineEvent HopChange(ChangeKind kind, HopRef hop, double value) {
    TimelineEvent event = Change(kind);
    event.hop = hop;
    event.value = value;
    return event;
}

TimelineEvent AdapterChange(ChangeKind kind, uint32_t ifIndex) {
    TimelineEvent event = Change(kind);
    event.ifIndex = ifIndex;
    return event;
}

}  // namespace

TimelineEvent HopLoss(HopRef hop, double percent) {
    return HopChange(ChangeKind::HopLoss, hop, percent);
}
TimelineEvent HopLatency(HopRef hop, double extraMs) {
    return HopChange(ChangeKind::HopLatency, hop, extraMs);
}
TimelineEvent HopSilent(HopRef hop) {
    return HopChange(ChangeKind::HopSilent, hop, 0);
}
TimelineEvent HopAnswers(HopRef hop) {
    return HopChange(ChangeKind::HopAnswers, hop, 0);
}

TimelineEvent GatewayMac(MacAddress mac, Ipv4Address gateway) {
    TimelineEvent event = Change(ChangeKind::NeighborMac);
    event.mac = mac;
    event.address = gateway;
    return event;
}

TimelineEvent DefaultRouteGone(uint32_t ifIndex) {
    return AdapterChange(ChangeKind::DefaultRouteGone, ifIndex);
}
TimelineEvent DefaultRouteBack(uint32_t ifIndex) {
    return AdapterChange(ChangeKind::DefaultRouteBack, ifIndex);
}
TimelineEvent ConsoleSessionsExpire() {
    return Change(ChangeKind::ConsoleSessionsExpire);
}
TimelineEvent ConsoleCertificate() {
    return Change(ChangeKind::ConsoleCertificate);
}
TimelineEvent ConsoleGone() {
    return Change(ChangeKind::ConsoleGone);
}
TimelineEvent ConsoleBack() {
    return Change(ChangeKind::ConsoleBack);
}
TimelineEvent AdapterDown(uint32_t ifIndex) {
    return AdapterChange(ChangeKind::AdapterDown, ifIndex);
}
TimelineEvent AdapterUp(uint32_t ifIndex) {
    return AdapterChange(ChangeKind::AdapterUp, ifIndex);
}

TimelineEvent HostDown(Ipv4Address address) {
    TimelineEvent event = Change(ChangeKind::HostDown);
    event.address = address;
    return event;
}
TimelineEvent HostRefuses(Ipv4Address address) {
    TimelineEvent event = HostDown(address);
    event.kind = ChangeKind::HostRefuses;
    return event;
}
TimelineEvent HostUp(Ipv4Address address) {
    TimelineEvent event = HostDown(address);
    event.kind = ChangeKind::HostUp;
    return event;
}
TimelineEvent HostLatency(Ipv4Address address, double extraMs) {
    TimelineEvent event = HostDown(address);
    event.kind = ChangeKind::HostLatency;
    event.value = extraMs;
    return event;
}
TimelineEvent WebStatus(Ipv4Address address, int status, std::string path) {
    TimelineEvent event = HostDown(address);
    event.kind = ChangeKind::WebStatus;
    event.value = status;
    event.path = std::move(path);
    return event;
}

TimelineEvent PublicAddress(Ipv4Address address) {
    TimelineEvent event;
    event.kind = ChangeKind::PublicAddress;
    event.address = address;
    return event;
}

WorldBuilder& WorldBuilder::Name(std::string name) {
    config_.name = std::move(name);
    return *this;
}

WorldBuilder& WorldBuilder::Seed(uint64_t seed) {
    config_.seed = seed;
    return *this;
}

WorldBuilder& WorldBuilder::IcmpUnavailable() {
    config_.icmpAvailable = false;
    return *this;
}

WorldBuilder& WorldBuilder::Home() {
    NetAdapter wifi;
    wifi.friendlyName = "Wi-Fi";
    wifi.description = "Wireless LAN adapter";
    wifi.ifIndex = kHomeIfIndex;
    wifi.ifType = kIfTypeWireless;
    wifi.operStatusUp = true;
    wifi.mtu = 1500;
    wifi.transmitLinkSpeed = 866'700'000;
    wifi.physicalAddress.assign(kHomeAdapterMac.begin(), kHomeAdapterMac.end());
    wifi.ipv4Unicast = {kHomeAddress};
    Adapter(std::move(wifi));
    Route(Ipv4Address(), 0, kHomeGateway, kHomeIfIndex, 25);
    Route(Ipv4Address(192, 168, 1, 0), 24, Ipv4Address(), kHomeIfIndex, 281);
    NeighborConfig gateway;
    gateway.address = kHomeGateway;
    gateway.ifIndex = kHomeIfIndex;
    gateway.mac = gateway.tableMac = kHomeGatewayMac;
    return Neighbor(gateway);
}

WorldBuilder& WorldBuilder::Adapter(NetAdapter adapter) {
    config_.adapters.push_back(std::move(adapter));
    return *this;
}

WorldBuilder& WorldBuilder::Route(Ipv4Address destination, int prefixLength, Ipv4Address nextHop,
                                  uint32_t ifIndex, uint32_t metric) {
    const Ipv4Address mask = PrefixMask(prefixLength);
    config_.routes.push_back({destination & mask, mask, nextHop, ifIndex, metric});
    return *this;
}

WorldBuilder& WorldBuilder::Neighbor(NeighborConfig neighbor) {
    config_.neighbors.push_back(neighbor);
    return *this;
}

WorldBuilder& WorldBuilder::Path(Ipv4Address destination) {
    config_.paths.push_back(PathConfig{destination, {}, "", 0, ""});
    return *this;
}

WorldBuilder& WorldBuilder::Hop(Ipv4Address address, double rttMs, double jitterMs) {
    HopConfig hop;
    hop.address = address;
    hop.rttMs = rttMs;
    hop.jitterMs = jitterMs;
    CurrentPath().hops.push_back(hop);
    return *this;
}

WorldBuilder& WorldBuilder::NoAnswerHop() {
    return Hop(Ipv4Address(), 1);
}

WorldBuilder& WorldBuilder::SameHopsAs(Ipv4Address destination, size_t count) {
    PathConfig& path = CurrentPath();
    for (const PathConfig& other : config_.paths) {
        if (other.destination != destination || &other == &path) continue;
        if (count > other.hops.size()) break;
        path.hops.insert(path.hops.end(), other.hops.begin(), other.hops.begin() + long(count));
        return *this;
    }
    throw std::logic_error("SameHopsAs: no earlier path with that many hops");
}

WorldBuilder& WorldBuilder::DestinationInfo(std::string name, uint32_t asn, std::string asName) {
    PathConfig& path = CurrentPath();
    path.destinationName = std::move(name);
    path.destinationAsn = asn;
    path.destinationAsName = std::move(asName);
    return *this;
}

WorldBuilder& WorldBuilder::Named(std::string ptrName) {
    CurrentHop().name = std::move(ptrName);
    return *this;
}

WorldBuilder& WorldBuilder::As(uint32_t asn, std::string asName, std::string prefix) {
    HopConfig& hop = CurrentHop();
    hop.asn = asn;
    hop.asName = std::move(asName);
    hop.asPrefix = std::move(prefix);
    return *this;
}

WorldBuilder& WorldBuilder::Loss(double percent) {
    CurrentHop().lossPercent = percent;
    return *this;
}

WorldBuilder& WorldBuilder::AnswerLoss(double percent) {
    CurrentHop().answerLossPercent = percent;
    return *this;
}

WorldBuilder& WorldBuilder::NoTtlExpired() {
    CurrentHop().answersTtlExpired = false;
    return *this;
}

WorldBuilder& WorldBuilder::NoEcho() {
    CurrentHop().answersEcho = false;
    return *this;
}

WorldBuilder& WorldBuilder::ServiceHost(std::string name, Ipv4Address address, double rttMs,
                                        double dnsMs) {
    ServiceHostConfig host;
    host.name = std::move(name);
    host.address = address;
    host.rttMs = rttMs;
    host.dnsMs = dnsMs;
    config_.serviceHosts.push_back(std::move(host));
    return *this;
}

WorldBuilder& WorldBuilder::TcpPort(uint16_t port, double connectMs) {
    CurrentHost().tcpPorts.push_back({port, connectMs});
    return *this;
}

WorldBuilder& WorldBuilder::Web(std::string path, int status, uint64_t bodyBytes,
                                double firstByteMs, double transferMs) {
    WebResponseConfig response;
    response.path = std::move(path);
    response.status = status;
    response.bodyBytes = bodyBytes;
    response.firstByteMs = firstByteMs;
    response.transferMs = transferMs;
    CurrentHost().web.push_back(std::move(response));
    return *this;
}

WorldBuilder& WorldBuilder::Redirect(std::string path, std::string location, int status) {
    Web(std::move(path), status);
    CurrentHost().web.back().location = std::move(location);
    return *this;
}

WorldBuilder& WorldBuilder::Tls(std::string protocol, std::string cipher) {
    ServiceHostConfig& host = CurrentHost();
    host.tls = true;
    host.tlsConfig.protocol = std::move(protocol);
    host.tlsConfig.cipher = std::move(cipher);
    return *this;
}

WorldBuilder& WorldBuilder::CertificateDays(double notBeforeDays, double notAfterDays) {
    TlsConfig& tls = CurrentHost().tlsConfig;
    tls.notBefore = {false, notBeforeDays, 0};
    tls.notAfter = {false, notAfterDays, 0};
    return *this;
}

WorldBuilder& WorldBuilder::SelfSigned() {
    CurrentHost().tlsConfig.selfSigned = true;
    return *this;
}

WorldBuilder& WorldBuilder::Stun(Ipv4Address publicAddress, uint16_t mappedPort) {
    config_.stun.publicAddress = publicAddress;
    config_.stun.mappedPort = mappedPort;
    return *this;
}

WorldBuilder& WorldBuilder::Zones(std::string originZone, std::string asNameZone) {
    config_.originZone = std::move(originZone);
    config_.asNameZone = std::move(asNameZone);
    return *this;
}

WorldBuilder& WorldBuilder::Answer(std::string name, DnsType type, DnsAnswer answer) {
    config_.dnsAnswers.push_back({std::move(name), type, std::move(answer)});
    return *this;
}

WorldBuilder& WorldBuilder::TxtAnswer(std::string name, std::vector<std::string> strings) {
    DnsRecord record;
    record.type = DnsType::Txt;
    record.name = name;
    record.strings = std::move(strings);
    return Answer(std::move(name), DnsType::Txt, DnsAnswer{true, 0, {record}});
}

WorldBuilder& WorldBuilder::At(uint64_t atMs, TimelineEvent change) {
    change.atMs = atMs;
    config_.timeline.push_back(change);
    return *this;
}

PathConfig& WorldBuilder::CurrentPath() {
    if (config_.paths.empty()) throw std::logic_error("a hop needs a path: call Path() first");
    return config_.paths.back();
}

HopConfig& WorldBuilder::CurrentHop() {
    PathConfig& path = CurrentPath();
    if (path.hops.empty()) throw std::logic_error("a hop setting needs a hop: call Hop() first");
    return path.hops.back();
}

ServiceHostConfig& WorldBuilder::CurrentHost() {
    if (config_.serviceHosts.empty()) {
        throw std::logic_error("a host setting needs a host: call ServiceHost() first");
    }
    return config_.serviceHosts.back();
}

}  // namespace quillon::sim
