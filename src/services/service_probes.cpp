#include "services/service_probes.h"

#include <array>
#include <cmath>
#include <optional>
#include <vector>

#include "base/ipv4.h"
#include "base/url.h"
#include "base/utf8.h"
#include "net/http_client.h"
#include "platform/clock.h"
#include "platform/dns.h"
#include "platform/icmp_api.h"
#include "platform/sockets.h"

namespace quillon {

namespace {

constexpr int kIcmpEchoes = 3;
constexpr uint32_t kIcmpTimeoutMs = 3000;
constexpr uint32_t kIcmpPauseMs = 100;
constexpr uint32_t kTcpTimeoutMs = 5000;
constexpr uint32_t kWebPhaseTimeoutMs = 10000;
// Certificate names are shown in a line of the page; longer ones are cut.
constexpr size_t kCertificateNameUnits = 255;

// Whole microseconds, then milliseconds: the resolution every probe figure has.
float MsFromUs(int64_t us) {
    return static_cast<float>(static_cast<double>(us) / 1000.0);
}
float MsFromPhase(double ms) {
    return ms <= 0 ? 0.0f : MsFromUs(static_cast<int64_t>(ms * 1000.0));
}

std::string CutName(const std::string& name) {
    std::u16string wide = fromUtf8(name);
    if (wide.size() <= kCertificateNameUnits) return name;
    size_t keep = kCertificateNameUnits;
    if (wide[keep - 1] >= 0xD800 && wide[keep - 1] <= 0xDBFF) --keep;  // no half pairs
    wide.resize(keep);
    return toUtf8(wide);
}

// The port of a TCP target: the port field, or the digits after the first colon of the
// target (which then names the host before it).
struct TcpTarget {
    std::string host;
    std::optional<uint16_t> port;  // nothing: not a port number
    bool portGiven = true;
};

TcpTarget SplitTcpTarget(const ServiceDefinition& definition) {
    TcpTarget target{definition.target, std::nullopt, true};
    uint32_t port = definition.port;
    if (port == 0) {
        const size_t colon = definition.target.find(':');
        if (colon == std::string::npos) return {definition.target, std::nullopt, false};
        target.host = definition.target.substr(0, colon);
        const std::string digits = definition.target.substr(colon + 1);
        if (digits.empty() || digits.size() > 5 ||
            digits.find_first_not_of("0123456789") != std::string::npos) {
            return target;
        }
        port = static_cast<uint32_t>(std::stoul(digits));
    }
    if (port >= 1 && port <= 65535) target.port = static_cast<uint16_t>(port);
    return target;
}

}  // namespace

ServiceProbeResult ServiceProber::Start(const ServiceDefinition& definition, ProbeType type) {
    ServiceProbeResult result;
    result.serviceId = definition.id;
    result.probeType = type;
    result.timestamp = clock_.UnixSeconds();
    return result;
}

float ServiceProber::MsSince(int64_t startNs) {
    return MsFromUs((clock_.MonotonicNs() - startNs) / 1000);
}

ServiceProbeResult ServiceProber::Probe(const ServiceDefinition& definition) {
    switch (definition.probeType) {
        case ProbeType::Icmp:
            return ProbeIcmp(definition);
        case ProbeType::Dns:
            return ProbeDns(definition);
        case ProbeType::Tcp:
            return ProbeTcp(definition);
        case ProbeType::Http:
        case ProbeType::Https:
            return ProbeWeb(definition);
    }
    ServiceProbeResult result;  // an unknown kind probes nothing
    result.serviceId = definition.id;
    return result;
}

ServiceProbeResult ServiceProber::ProbeIcmp(const ServiceDefinition& definition) {
    ServiceProbeResult result = Start(definition, ProbeType::Icmp);
    std::optional<Ipv4Address> address;
    const ResolveResult resolved = sockets_.ResolveIpv4(definition.target);
    if (resolved.ok && !resolved.addresses.empty()) {
        address = resolved.addresses.front();
    } else {
        address = Ipv4Address::Parse(definition.target);
    }
    if (!address) {
        result.error = "Failed to resolve hostname";
        return result;
    }
    const std::unique_ptr<IcmpHandle> handle = icmp_.Open();
    if (!handle) {
        result.error = "Failed to create ICMP handle";
        return result;
    }
    std::array<uint8_t, 32> payload{};
    constexpr std::string_view kPayloadText = "QlnWin Probe";
    std::copy(kPayloadText.begin(), kPayloadText.end(), payload.begin());

    std::vector<uint32_t> rtts;
    for (int i = 0; i < kIcmpEchoes; ++i) {
        if (i > 0) clock_.Sleep(kIcmpPauseMs);
        EchoRequest request;
        request.destination = *address;
        request.payload = payload.data();
        request.payloadSize = payload.size();
        request.timeoutMs = kIcmpTimeoutMs;
        EchoReply reply;
        if (handle->Echo(request, reply) && reply.status == kIcmpStatusSuccess) {
            rtts.push_back(reply.rttMs);
        }
    }
    const auto answered = static_cast<int>(rtts.size());
    result.lossPercent = static_cast<float>(kIcmpEchoes - answered) * 100.0f / kIcmpEchoes;
    if (answered == 0) {
        result.error = "All probes failed";
        return result;
    }
    double sum = 0;
    for (const uint32_t rtt : rtts) sum += rtt;
    const double mean = sum / answered;
    result.latencyMs = static_cast<float>(mean);
    if (answered >= 2) {
        double squares = 0;
        for (const uint32_t rtt : rtts) squares += (rtt - mean) * (rtt - mean);
        result.jitterMs = static_cast<float>(std::sqrt(squares / answered));
    }
    result.success = true;
    return result;
}

ServiceProbeResult ServiceProber::ProbeDns(const ServiceDefinition& definition) {
    ServiceProbeResult result = Start(definition, ProbeType::Dns);
    const int64_t start = clock_.MonotonicNs();
    const DnsAnswer answer = dns_.Query(definition.target, DnsType::A, true);
    const float elapsed = MsSince(start);
    bool hasAddress = false;
    for (const DnsRecord& record : answer.records) hasAddress |= record.type == DnsType::A;
    if (answer.ok && hasAddress) {
        result.success = true;
        result.latencyMs = elapsed;
    } else {
        result.error = "DNS query failed";
    }
    return result;
}

ServiceProbeResult ServiceProber::ProbeTcp(const ServiceDefinition& definition) {
    ServiceProbeResult result = Start(definition, ProbeType::Tcp);
    const TcpTarget target = SplitTcpTarget(definition);
    if (!target.portGiven) {
        result.error = "No port specified for TCP probe";
        return result;
    }
    if (!target.port) {
        result.error = "Invalid port: not a number from 1 to 65535";
        return result;
    }
    const int64_t t1 = clock_.MonotonicNs();
    const ResolveResult resolved = sockets_.ResolveIpv4(target.host);
    result.dnsMs = MsSince(t1);
    if (!resolved.ok || resolved.addresses.empty()) {
        result.error = "DNS resolution failed";
        return result;
    }
    const int64_t t3 = clock_.MonotonicNs();
    const TcpConnectResult connect =
        sockets_.TcpConnect(resolved.addresses.front(), *target.port, kTcpTimeoutMs);
    result.connectMs = MsSince(t3);
    result.totalMs = result.latencyMs = result.dnsMs + result.connectMs;
    if (connect.connected) {
        result.success = true;
    } else {
        result.error = connect.timedOut ? "Connection timed out" : "Connection failed";
    }
    return result;
}

void MapWebTimings(const HttpOutcome& outcome, ServiceProbeResult& result) {
    const HttpPhaseTimings& t = outcome.timings;
    const double connected = t.tlsDoneMs > 0 ? t.tlsDoneMs : t.connectedMs;
    result.dnsMs = MsFromPhase(t.nameResolvedMs);
    result.connectMs = MsFromPhase(connected - t.nameResolvedMs);
    if (t.firstByteMs > 0) {
        result.ttfbMs = MsFromPhase(t.firstByteMs - t.requestSentMs);
        result.transferMs = MsFromPhase(t.totalMs - t.firstByteMs);
    }
    result.totalMs = result.latencyMs =
        result.dnsMs + result.connectMs + result.ttfbMs + result.transferMs;
}

TlsInfo MapTlsInfo(const HttpOutcome& outcome, int64_t nowUnix) {
    static constexpr std::array<std::string_view, 6> kKnown = {"SSL 2.0", "SSL 3.0", "TLS 1.0",
                                                               "TLS 1.1", "TLS 1.2", "TLS 1.3"};
    TlsInfo info;
    info.protocol = "TLS";
    for (const std::string_view known : kKnown) {
        if (outcome.tlsProtocol == known) info.protocol = known;
    }
    info.cipherSuite = outcome.tlsCipher;
    const TlsCertificateInfo& certificate = outcome.certificate;
    if (!certificate.present) return info;
    info.isValid = true;
    info.subject = CutName(certificate.subject);
    info.issuer = CutName(certificate.issuer);
    info.validFrom = certificate.notBeforeUnix;
    info.validTo = certificate.notAfterUnix;
    if (info.validTo > nowUnix) {
        info.daysUntilExpiry = static_cast<int32_t>((info.validTo - nowUnix) / 86400);
    }
    return info;
}

ServiceProbeResult ServiceProber::ProbeWeb(const ServiceDefinition& definition) {
    const bool https = definition.probeType == ProbeType::Https;
    ServiceProbeResult result = Start(definition, https ? ProbeType::Https : ProbeType::Http);
    std::string url = definition.target;
    if (url.find("://") == std::string::npos) url = (https ? "https://" : "http://") + url;
    std::optional<UrlParts> parts = SplitUrl(url);
    if (!parts || definition.port > 65535) {
        result.error = "Invalid URL";
        return result;
    }
    if (definition.port >= 1) {
        parts->port = static_cast<uint16_t>(definition.port);
        url = JoinUrl(*parts);
    }
    HttpExchange exchange;
    exchange.url = url;
    exchange.timeoutMs = kWebPhaseTimeoutMs;
    exchange.freshConnection = true;  // look-up, connect and handshake are measured each time
    exchange.maxBodyBytes = 0;        // counted, not kept
    const std::optional<HttpOutcome> outcome = http_.Exchange(exchange);
    if (!outcome) {
        result.error = "Failed to open HTTP session";
        return result;
    }
    MapWebTimings(*outcome, result);
    // The secure flag is the URL's own: an http:// target of kind https has no TLS to report.
    if (parts->secure) result.tlsInfo = MapTlsInfo(*outcome, clock_.UnixSeconds());
    if (!outcome->received) {
        // Nothing sent yet: the look-up, connect or handshake failed; otherwise the answer did.
        result.error = outcome->timings.requestSentMs > 0 ? "Failed to receive response"
                                                          : "Failed to send request";
        return result;
    }
    result.statusCode = outcome->statusCode;
    result.bytesReceived = outcome->bodyBytes;
    result.success = result.statusCode >= 200 && result.statusCode <= 399;
    if (!result.success && result.statusCode != 0) {
        result.error = "HTTP " + std::to_string(result.statusCode);
    }
    return result;
}

}  // namespace quillon
