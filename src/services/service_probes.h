// ServiceProber: runs one probe of a monitored service (ICMP echoes, DNS A query, TCP connect,
// HTTP or HTTPS GET) and reports it as one ServiceProbeResult, with the failure texts people
// see. Probes block for at most their time-outs and never throw; every failure is a result.
//
// Stateless apart from the ports it is given: several worker threads probe through one prober.
#pragma once

#include <cstdint>
#include <string>

#include "services/service_definition.h"

namespace quillon {

class Clock;
class Dns;
class HttpClient;
class IcmpApi;
class Sockets;
struct HttpOutcome;

struct TlsInfo {
    std::string protocol;  // "TLS 1.3", ..., or "TLS" when unknown
    std::string cipherSuite;
    std::string issuer;
    std::string subject;
    int64_t validFrom = 0;  // Unix seconds
    int64_t validTo = 0;
    int32_t daysUntilExpiry = 0;  // 0 once expired
    bool isValid = false;         // a server certificate was received
};

// Times are milliseconds with microsecond resolution. For web probes: dnsMs the name look-up,
// connectMs the TCP connect and TLS handshake, ttfbMs from the request sent to the first byte
// of the answer, transferMs reading the body, totalMs their sum. For TCP: dnsMs the look-up,
// connectMs the connect.
struct ServiceProbeResult {
    std::string serviceId;
    ProbeType probeType = ProbeType::Icmp;
    float latencyMs = 0;
    float lossPercent = 0;  // ICMP: share of the three echoes unanswered
    float jitterMs = 0;     // ICMP: standard deviation of the answered round trips
    float dnsMs = 0;
    float connectMs = 0;
    float ttfbMs = 0;
    float transferMs = 0;
    float totalMs = 0;
    TlsInfo tlsInfo;
    int32_t statusCode = 0;
    uint64_t bytesReceived = 0;
    std::string error;      // empty, or what failed
    int64_t timestamp = 0;  // Unix seconds when the probe started
    bool success = false;
};

class ServiceProber {
public:
    ServiceProber(Clock& clock, IcmpApi& icmp, Dns& dns, Sockets& sockets, HttpClient& http)
        : clock_(clock), icmp_(icmp), dns_(dns), sockets_(sockets), http_(http) {}

    // The probe of the definition's kind.
    ServiceProbeResult Probe(const ServiceDefinition& definition);

    ServiceProbeResult ProbeIcmp(const ServiceDefinition& definition);
    ServiceProbeResult ProbeDns(const ServiceDefinition& definition);
    ServiceProbeResult ProbeTcp(const ServiceDefinition& definition);
    ServiceProbeResult ProbeWeb(const ServiceDefinition& definition);

private:
    ServiceProbeResult Start(const ServiceDefinition& definition, ProbeType type);
    float MsSince(int64_t startNs);

    Clock& clock_;
    IcmpApi& icmp_;
    Dns& dns_;
    Sockets& sockets_;
    HttpClient& http_;
};

// The web probe's figures from the platform's phase times (see ServiceProbeResult).
void MapWebTimings(const HttpOutcome& outcome, ServiceProbeResult& result);
// TLS details from the platform's answer, with days to expiry counted from nowUnix.
TlsInfo MapTlsInfo(const HttpOutcome& outcome, int64_t nowUnix);

}  // namespace quillon
