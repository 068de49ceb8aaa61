#include "platform/sim/sim_service_hosts.h"

#include <algorithm>
#include <cmath>

#include "base/ipv4.h"
#include "base/time_text.h"

namespace quillon::sim {

namespace {

constexpr double kOffPathRttMs = 20;

bool SameName(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               const auto lower = [](char c) {
                   return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c;
               };
               return lower(x) == lower(y);
           });
}

// Whole milliseconds, as the adapters let them pass on the clock.
double WholeMs(double ms) {
    return std::max(0.0, std::round(ms));
}

std::string GeneratedBody(size_t size) {
    static const std::string kLine = "Simulated response body of a service host.\n";
    std::string body;
    body.reserve(size);
    while (body.size() < size) body.append(kLine, 0, std::min(kLine.size(), size - body.size()));
    return body;
}

}  // namespace

ServiceHosts::ServiceHosts(const WorldConfig& config, int64_t startUnix) : startUnix_(startUnix) {
    for (const ServiceHostConfig& host : config.serviceHosts) {
        LiveHost live;
        live.config = host;
        const HopConfig* hop = nullptr;
        for (const PathConfig& path : config.paths) {
            live.onPath = live.onPath || path.destination == host.address;
            for (const HopConfig& candidate : path.hops) {
                if (candidate.address != host.address || hop) continue;
                hop = &candidate;
                live.onPath = true;
            }
        }
        ServiceHostConfig& c = live.config;
        if (c.rttMs < 0) c.rttMs = hop ? hop->rttMs : kOffPathRttMs;
        if (c.jitterMs < 0) c.jitterMs = hop ? hop->jitterMs : 0;
        if (c.connectMs < 0) c.connectMs = c.rttMs;
        hosts_.push_back(std::move(live));
    }
}

const ServiceHosts::LiveHost* ServiceHosts::Find(Ipv4Address address) const {
    for (const LiveHost& host : hosts_) {
        if (host.config.address == address) return &host;
    }
    return nullptr;
}

ServiceHosts::LiveHost* ServiceHosts::Find(Ipv4Address address) {
    return const_cast<LiveHost*>(std::as_const(*this).Find(address));
}

double ServiceHosts::RoundTripMs(const LiveHost& host) const {
    return WholeMs(host.config.rttMs + host.extraMs);
}

void ServiceHosts::Apply(const TimelineEvent& change) {
    LiveHost* host = Find(change.address);
    if (!host) return;
    switch (change.kind) {
        case ChangeKind::HostDown:
            host->state = State::Down;
            break;
        case ChangeKind::HostRefuses:
            host->state = State::Refusing;
            break;
        case ChangeKind::HostUp:
            host->state = State::Up;
            break;
        case ChangeKind::HostLatency:
            host->extraMs = std::max(0.0, change.value);
            break;
        case ChangeKind::WebStatus: {
            auto& statuses = host->statuses;
            std::erase_if(statuses, [&](const auto& s) { return s.first == change.path; });
            statuses.emplace_back(change.path, int(change.value));
            break;
        }
        default:
            break;
    }
}

uint32_t ServiceHosts::NameDelayMs(const std::string& name) const {
    for (const LiveHost& host : hosts_) {
        if (!host.config.name.empty() && SameName(host.config.name, name)) {
            return uint32_t(WholeMs(host.config.dnsMs));
        }
    }
    return 0;
}

ConnectOutcome ServiceHosts::Connect(Ipv4Address address, uint16_t port, double jitterDraw) const {
    const LiveHost* host = Find(address);
    if (!host || host->state == State::Down) return {ConnectKind::NoAnswer, 0};
    const auto open = std::find_if(host->config.tcpPorts.begin(), host->config.tcpPorts.end(),
                                   [&](const TcpPortConfig& p) { return p.port == port; });
    // A closed port answers the handshake with a reset, one round trip later.
    if (host->state == State::Refusing || open == host->config.tcpPorts.end()) {
        return {ConnectKind::Refused, RoundTripMs(*host)};
    }
    const double base = open->connectMs >= 0 ? open->connectMs : host->config.connectMs;
    return {ConnectKind::Accepted,
            WholeMs(base + host->extraMs + host->config.jitterMs * jitterDraw)};
}

TlsOutcome ServiceHosts::Handshake(Ipv4Address address, int64_t nowUnix) const {
    TlsOutcome outcome;
    const LiveHost* host = Find(address);
    if (!host) return outcome;
    outcome.ms = RoundTripMs(*host);
    if (!host->config.tls) return outcome;
    const TlsConfig& tls = host->config.tlsConfig;
    outcome.offered = true;
    // TLS 1.3 needs one round trip before the request, earlier versions two.
    if (tls.protocol != "TLS 1.3") outcome.ms *= 2;
    outcome.protocol = tls.protocol;
    outcome.cipher = tls.cipher;
    TlsCertificateInfo& certificate = outcome.certificate;
    certificate.present = true;
    certificate.subject = !tls.subject.empty()         ? tls.subject
                          : !host->config.name.empty() ? host->config.name
                                                       : address.Text();
    certificate.issuer = tls.selfSigned ? certificate.subject : tls.issuer;
    const auto unixOf = [&](const CertificateTime& t) {
        return t.fixed ? t.unixSeconds
                       : startUnix_ + int64_t(std::llround(t.days * double(kSecondsPerDay)));
    };
    certificate.notBeforeUnix = unixOf(tls.notBefore);
    certificate.notAfterUnix = unixOf(tls.notAfter);
    // An untrusted issuer is reported before the dates, as chain building fails first.
    if (tls.selfSigned) {
        outcome.error = kHttpErrorCertificateAuthority;
    } else if (nowUnix < certificate.notBeforeUnix || nowUnix > certificate.notAfterUnix) {
        outcome.error = kHttpErrorCertificateDate;
    }
    return outcome;
}

WebReply ServiceHosts::Respond(Ipv4Address address, const std::string& path,
                               size_t keepBytes) const {
    WebReply reply;
    const LiveHost* host = Find(address);
    if (!host || host->state != State::Up) return reply;
    reply.answered = true;
    if (host->config.web.empty()) {
        reply.firstByteMs = RoundTripMs(*host);  // whatever it sends back is not HTTP
        return reply;
    }
    reply.web = true;
    const std::string bare = path.substr(0, path.find('?'));
    const auto matches = [&](const std::string& wanted) {
        return wanted == path || wanted == bare;
    };
    const WebResponseConfig* chosen = nullptr;
    for (const WebResponseConfig& response : host->config.web) {
        if (!response.path.empty() && matches(response.path)) chosen = &response;
    }
    for (const WebResponseConfig& response : host->config.web) {
        if (!chosen && response.path.empty()) chosen = &response;
    }
    static const WebResponseConfig kNotFound{"", 404, 0, "", -1, 0, ""};
    if (!chosen) chosen = &kNotFound;

    reply.status = chosen->status;
    const std::pair<std::string, int>* all = nullptr;
    const std::pair<std::string, int>* own = nullptr;
    for (const auto& status : host->statuses) {
        if (status.first.empty()) all = &status;
        if (!status.first.empty() && matches(status.first)) own = &status;
    }
    if (own) {
        reply.status = own->second;
    } else if (all) {
        reply.status = all->second;
    }
    if (reply.status >= 300 && reply.status < 400) reply.location = chosen->location;

    if (!chosen->body.empty()) {
        reply.bodyBytes = chosen->body.size();
        reply.body = chosen->body.substr(0, keepBytes);
    } else {
        reply.bodyBytes = chosen->bodyBytes;
        reply.body = GeneratedBody(size_t(std::min<uint64_t>(chosen->bodyBytes, keepBytes)));
    }
    reply.firstByteMs = WholeMs(
        (chosen->firstByteMs >= 0 ? chosen->firstByteMs : host->config.rttMs) + host->extraMs);
    reply.transferMs = WholeMs(chosen->transferMs);
    return reply;
}

HostEcho ServiceHosts::Echo(Ipv4Address address, double lossDraw, double jitterDraw,
                            uint32_t timeoutMs) const {
    HostEcho echo;
    const LiveHost* host = Find(address);
    if (!host || host->onPath) return echo;
    echo.isHost = true;
    if (host->state == State::Down || !host->config.answersEcho) return echo;
    if (lossDraw < host->config.lossPercent / 100.0) return echo;
    const double rtt = host->config.rttMs + host->extraMs + host->config.jitterMs * jitterDraw;
    const uint32_t rttMs = uint32_t(std::max(1.0, std::round(rtt)));
    if (rttMs > timeoutMs) return echo;
    echo.answered = true;
    echo.reply = EchoReply{kIcmpStatusSuccess, address, rttMs};
    return echo;
}

bool ServiceHosts::AdjustPathEcho(Ipv4Address address, EchoReply& reply) const {
    const LiveHost* host = Find(address);
    if (!host) return true;
    if (host->state == State::Down) return false;
    reply.rttMs += uint32_t(WholeMs(host->extraMs));
    return true;
}

}  // namespace quillon::sim
