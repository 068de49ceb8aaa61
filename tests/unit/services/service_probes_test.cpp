#include "services/service_probes.h"

#include <gtest/gtest.h>

#include <deque>

#include "fakes/fake_service_ports.h"
#include "net/http_client.h"
#include "platform/icmp_api.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

// Echo answers in order: a round trip in ms, or -1 for an echo that goes unanswered.
class ScriptedIcmp final : public IcmpApi {
public:
    std::deque<int> answers;
    std::vector<EchoRequest> sent;
    bool failOpen = false;

    std::unique_ptr<IcmpHandle> Open() override {
        if (failOpen) return nullptr;
        return std::make_unique<Handle>(*this);
    }

private:
    struct Handle final : IcmpHandle {
        explicit Handle(ScriptedIcmp& owner) : owner(owner) {}
        bool Echo(const EchoRequest& request, EchoReply& reply) override {
            owner.sent.push_back(request);
            const int rtt = owner.answers.empty() ? -1 : owner.answers.front();
            if (!owner.answers.empty()) owner.answers.pop_front();
            if (rtt < 0) return false;
            reply.status = kIcmpStatusSuccess;
            reply.rttMs = static_cast<uint32_t>(rtt);
            return true;
        }
        EchoStart StartEcho(const EchoRequest&) override { return EchoStart::Failed; }
        bool PollEcho(EchoReply&) override { return false; }
        ScriptedIcmp& owner;
    };
};

struct ProbeRig {
    sim::VirtualClock clock;
    ScriptedIcmp icmp;
    test::FakeDnsA dns{clock, 12};
    test::FakeSockets sockets;
    test::FakeHttp http;
    HttpClient client{http};
    ServiceProber prober{clock, icmp, dns, sockets, client};
    ProbeRig() { client.Init(); }
};

ServiceDefinition Service(ProbeType type, std::string target, uint32_t port = 0) {
    return {"s1", "S", std::move(target), type, port, 5000, true};
}

TEST(ServiceProbes, IcmpEchoesLossAndJitter) {
    ProbeRig rig;
    rig.sockets.names["game.example"] = Ipv4Address(203, 0, 113, 7);
    rig.icmp.answers = {-1, 20, -1};
    const auto start = rig.clock.Elapsed();
    ServiceProbeResult r = rig.prober.Probe(Service(ProbeType::Icmp, "game.example"));
    EXPECT_TRUE(r.success);
    EXPECT_FLOAT_EQ(r.lossPercent, 66.666664f);
    EXPECT_FLOAT_EQ(r.latencyMs, 20.0f);
    EXPECT_EQ(r.jitterMs, 0.0f);
    EXPECT_EQ(rig.clock.Elapsed() - start, 200u);  // two pauses between three echoes
    ASSERT_EQ(rig.icmp.sent.size(), 3u);
    EXPECT_EQ(rig.icmp.sent[0].destination, Ipv4Address(203, 0, 113, 7));
    EXPECT_EQ(rig.icmp.sent[0].timeoutMs, 3000u);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(rig.icmp.sent[0].payload), 13),
              std::string("QlnWin Probe\0", 13));
    EXPECT_EQ(rig.icmp.sent[0].payloadSize, 32u);

    rig.icmp.answers = {10, 20, 40};  // population standard deviation
    r = rig.prober.Probe(Service(ProbeType::Icmp, "192.0.2.1"));
    EXPECT_EQ(r.lossPercent, 0.0f);
    EXPECT_NEAR(r.latencyMs, 23.3333, 1e-3);
    EXPECT_NEAR(r.jitterMs, 12.4722, 1e-3);

    rig.icmp.answers = {-1, -1, -1};
    r = rig.prober.Probe(Service(ProbeType::Icmp, "192.0.2.1"));
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.lossPercent, 100.0f);
    EXPECT_EQ(r.error, "All probes failed");

    EXPECT_EQ(rig.prober.Probe(Service(ProbeType::Icmp, "nowhere.invalid")).error,
              "Failed to resolve hostname");
    rig.icmp.failOpen = true;
    EXPECT_EQ(rig.prober.Probe(Service(ProbeType::Icmp, "192.0.2.1")).error,
              "Failed to create ICMP handle");
}

TEST(ServiceProbes, DnsAndTcp) {
    ProbeRig rig;
    rig.dns.Answer("example.com", Ipv4Address(93, 184, 216, 34));
    ServiceProbeResult r = rig.prober.Probe(Service(ProbeType::Dns, "example.com"));
    EXPECT_TRUE(r.success);
    EXPECT_FLOAT_EQ(r.latencyMs, 12.0f);
    EXPECT_EQ(r.timestamp, rig.clock.UnixSeconds());
    r = rig.prober.Probe(Service(ProbeType::Dns, "missing.example"));
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.error, "DNS query failed");

    rig.sockets.names["example"] = Ipv4Address(192, 0, 2, 10);
    rig.sockets.openPorts = {443};
    rig.sockets.silentPorts = {25};
    struct Case {
        const char* target;
        uint32_t port;
        bool success;
        const char* error;
    };
    const Case cases[] = {
        {"example:443", 0, true, ""},
        {"example", 443, true, ""},
        {"example", 0, false, "No port specified for TCP probe"},
        {"example:https", 0, false, "Invalid port: not a number from 1 to 65535"},
        {"example:70000", 0, false, "Invalid port: not a number from 1 to 65535"},
        {"example:", 0, false, "Invalid port: not a number from 1 to 65535"},
        {"example:25", 0, false, "Connection timed out"},
        {"example:80", 0, false, "Connection failed"},
        {"nowhere:80", 0, false, "DNS resolution failed"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.target);
        r = rig.prober.Probe(Service(ProbeType::Tcp, c.target, c.port));
        EXPECT_EQ(r.success, c.success);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.totalMs, r.dnsMs + r.connectMs);
    }
}

HttpOutcome Answer(int status, HttpPhaseTimings timings) {
    HttpOutcome o = test::Answered(status, std::string(1256, 'x'));
    o.timings = timings;
    return o;
}

TEST(ServiceProbes, WebTimingsReadAsTheirNamesSay) {
    ProbeRig rig;
    // Look-up done at 4 ms, TCP at 10, TLS at 30, request sent at 31, first byte 81, body 90.
    rig.http.answer = [](const HttpExchange&) {
        HttpOutcome o = Answer(200, {0, 4.0015, 10, 30, 31, 81, 90});
        o.tlsProtocol = "TLS 1.3";
        o.tlsCipher = "TLS_AES_128_GCM_SHA256";
        o.certificate = {true, "example.com", "Example CA", 0, 0, ""};
        return o;
    };
    const int64_t now = rig.clock.UnixSeconds();
    rig.http.answer = [inner = rig.http.answer, now](const HttpExchange& e) {
        HttpOutcome o = inner(e);
        o.certificate.notBeforeUnix = now - 86400;
        o.certificate.notAfterUnix = now + 41 * 86400 + 5;
        return o;
    };
    ServiceProbeResult r = rig.prober.Probe(Service(ProbeType::Https, "example.com/status?x=1"));
    EXPECT_TRUE(r.success);
    EXPECT_EQ(r.probeType, ProbeType::Https);
    EXPECT_FLOAT_EQ(r.dnsMs, 4.001f);       // whole microseconds
    EXPECT_FLOAT_EQ(r.connectMs, 25.998f);  // 25.9985 cut, not rounded
    EXPECT_FLOAT_EQ(r.ttfbMs, 50.0f);
    EXPECT_FLOAT_EQ(r.transferMs, 9.0f);
    EXPECT_FLOAT_EQ(r.totalMs, r.dnsMs + r.connectMs + r.ttfbMs + r.transferMs);
    EXPECT_EQ(r.latencyMs, r.totalMs);
    EXPECT_EQ(r.bytesReceived, 1256u);
    EXPECT_EQ(r.tlsInfo.protocol, "TLS 1.3");
    EXPECT_EQ(r.tlsInfo.subject, "example.com");
    EXPECT_EQ(r.tlsInfo.daysUntilExpiry, 41);
    const HttpExchange sent = rig.http.Sent().back();
    EXPECT_EQ(sent.url, "https://example.com/status?x=1");
    EXPECT_TRUE(sent.freshConnection);
    EXPECT_EQ(sent.maxBodyBytes, 0u);
    EXPECT_EQ(sent.timeoutMs, 10000u);

    // A port override keeps the path; an http:// target of kind https has no TLS to report.
    rig.prober.Probe(Service(ProbeType::Https, "https://example.com/a", 8443));
    EXPECT_EQ(rig.http.Sent().back().url, "https://example.com:8443/a");
    r = rig.prober.Probe(Service(ProbeType::Https, "http://example.com/"));
    EXPECT_FALSE(r.tlsInfo.isValid);
    EXPECT_EQ(r.tlsInfo.protocol, "");
}

TEST(ServiceProbes, WebOutcomesAndTheirTexts) {
    ProbeRig rig;
    struct Case {
        const char* name;
        HttpOutcome outcome;
        bool success;
        const char* error;
    };
    HttpOutcome refused;
    refused.error = kHttpErrorCannotConnect;
    HttpOutcome silent;
    silent.error = kHttpErrorTimeout;
    silent.timings.requestSentMs = 12;
    HttpOutcome expired;
    expired.error = kHttpErrorCertificateDate;
    expired.certificate = {true, "old.example", "Old CA", 0, rig.clock.UnixSeconds() - 86400, ""};
    const Case cases[] = {
        {"redirect status", Answer(302, {}), true, ""},
        {"not found", Answer(404, {}), false, "HTTP 404"},
        {"server error", Answer(503, {}), false, "HTTP 503"},
        {"refused", refused, false, "Failed to send request"},
        {"no answer after the request", silent, false, "Failed to receive response"},
        {"expired certificate", expired, false, "Failed to send request"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        rig.http.answer = [&](const HttpExchange&) { return c.outcome; };
        const ServiceProbeResult r = rig.prober.Probe(Service(ProbeType::Https, "example.com"));
        EXPECT_EQ(r.success, c.success);
        EXPECT_EQ(r.error, c.error);
        EXPECT_EQ(r.statusCode, c.outcome.statusCode);
    }
    // The expired certificate is still shown, with no days left.
    const ServiceProbeResult r = rig.prober.Probe(Service(ProbeType::Https, "example.com"));
    EXPECT_TRUE(r.tlsInfo.isValid);
    EXPECT_EQ(r.tlsInfo.subject, "old.example");
    EXPECT_EQ(r.tlsInfo.daysUntilExpiry, 0);

    EXPECT_EQ(rig.prober.Probe(Service(ProbeType::Http, "ftp://example.com/")).error,
              "Invalid URL");
    EXPECT_EQ(rig.prober.Probe(Service(ProbeType::Http, "example.com", 70000)).error,
              "Invalid URL");
    rig.client.Shutdown();
    EXPECT_EQ(rig.prober.Probe(Service(ProbeType::Http, "example.com")).error,
              "Failed to open HTTP session");
}

}  // namespace
}  // namespace quillon
