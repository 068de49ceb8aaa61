#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <thread>
#include <vector>

#include "platform/sim/sim_network.h"
#include "platform/sim/sim_scenario.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::sim {
namespace {

constexpr Ipv4Address kGame(203, 0, 113, 50);
constexpr Ipv4Address kWeb(198, 51, 100, 80);
constexpr Ipv4Address kDest(1, 1, 1, 1);

// A home with one path (to 1.1.1.1, itself a service host) and hosts on no path: a game server
// and a web site answering http and https.
WorldBuilder ServiceWorld() {
    WorldBuilder b;
    b.Home()
        .Path(kDest)
        .Hop(kHomeGateway, 2)
        .Hop(kDest, 14)
        .ServiceHost("dns.example.test", kDest)
        .TcpPort(53)
        .ServiceHost("game.example.test", kGame, 30, 7)
        .TcpPort(27015, 35)
        .ServiceHost("www.example.test", kWeb, 30, 5)
        .TcpPort(80)
        .TcpPort(443)
        .Web("/", 200, 5000, 40, 25)
        .Redirect("/old", "/", 301)
        .Redirect("/a", "http://www.example.test/b")
        .Redirect("/b", "/a")
        .Web("/text")
        .Tls("TLS 1.2", "ECDHE-RSA-AES128-GCM-SHA256");
    b.config().serviceHosts.back().web.back().body = "hello";
    return b;
}

struct Net {
    explicit Net(WorldConfig config) : network(std::move(config), clock) {}
    // The outcome and how long it took on the clock.
    std::pair<HttpOutcome, uint64_t> Get(std::string url, HttpExchange exchange = {}) {
        exchange.url = std::move(url);
        const uint64_t before = clock.Elapsed();
        HttpOutcome outcome = network.http().OpenSession("test", nullptr)->Send(exchange);
        return {outcome, clock.Elapsed() - before};
    }
    bool Echo(Ipv4Address destination, EchoReply& reply) {
        EchoRequest request;
        request.destination = destination;
        return network.icmp().Open()->Echo(request, reply);
    }
    VirtualClock clock;
    SimNetwork network;
};

TEST(SimServices, SocketsAndDnsAnswerFromTheHosts) {
    Net net(ServiceWorld().Build());
    Sockets& sockets = net.network.sockets();
    VirtualClock& clock = net.clock;

    ResolveResult resolved = sockets.ResolveIpv4("203.0.113.9");
    EXPECT_TRUE(resolved.ok);
    EXPECT_EQ(resolved.addresses, std::vector<Ipv4Address>{Ipv4Address(203, 0, 113, 9)});
    EXPECT_EQ(clock.Elapsed(), 0u);
    resolved = sockets.ResolveIpv4("GAME.example.test");
    EXPECT_TRUE(resolved.ok);
    EXPECT_EQ(resolved.addresses, std::vector<Ipv4Address>{kGame});
    EXPECT_EQ(clock.Elapsed(), 7u);
    resolved = sockets.ResolveIpv4("nowhere.example.test");
    EXPECT_FALSE(resolved.ok);
    EXPECT_EQ(resolved.error, kDnsNameError);

    const DnsAnswer a = net.network.dns().Query("game.example.test", DnsType::A, true);
    ASSERT_TRUE(a.ok);
    ASSERT_EQ(a.records.size(), 1u);
    EXPECT_EQ(a.records[0].a, kGame);
    EXPECT_EQ(clock.Elapsed(), 14u);
    EXPECT_FALSE(net.network.dns().Query("nowhere.example.test", DnsType::A, true).ok);
    // A host's reverse name comes with it.
    EXPECT_EQ(
        net.network.dns().Query("50.113.0.203.in-addr.arpa", DnsType::Ptr, false).records.at(0).ptr,
        "game.example.test");

    // Connected after the port's connect time; a closed port refuses after one round trip; an
    // address where nothing lives, or an answer later than the time-out, times out; a host on a
    // path takes its hop's round trip; with the adapter down nothing is reachable at once.
    struct Case {
        Ipv4Address address;
        uint16_t port;
        uint32_t timeoutMs;
        bool connected, timedOut;
        int error;
        uint64_t elapsedMs;
    };
    for (const Case& c :
         std::vector<Case>{{kGame, 27015, 5000, true, false, 0, 35},
                           {kGame, 27016, 5000, false, false, ECONNREFUSED, 30},
                           {Ipv4Address(203, 0, 113, 99), 80, 5000, false, true, -1, 5000},
                           {kGame, 27015, 20, false, true, -1, 20},
                           {kDest, 53, 5000, true, false, 0, 14},
                           {kGame, 27015, 5000, false, false, ENETUNREACH, 0}}) {
        if (c.error == ENETUNREACH) net.network.world().Apply(AdapterDown(kHomeIfIndex));
        const uint64_t before = clock.Elapsed();
        const TcpConnectResult result = sockets.TcpConnect(c.address, c.port, c.timeoutMs);
        EXPECT_EQ(result.connected, c.connected) << c.address.Text() << ":" << c.port;
        EXPECT_EQ(result.timedOut, c.timedOut) << c.port;
        if (c.error >= 0) {
            EXPECT_EQ(result.error, c.error) << c.port;
        }
        EXPECT_EQ(clock.Elapsed() - before, c.elapsedMs) << c.port;
    }
}

TEST(SimServices, EchoesReachHostsOnAndOffPaths) {
    WorldBuilder b = ServiceWorld();
    b.ServiceHost("", Ipv4Address(203, 0, 113, 51));
    b.config().serviceHosts.back().answersEcho = false;
    Net net(b.Build());
    EchoReply reply;
    ASSERT_TRUE(net.Echo(kGame, reply));
    EXPECT_EQ(reply.status, kIcmpStatusSuccess);
    EXPECT_EQ(reply.address, kGame);
    EXPECT_EQ(reply.rttMs, 30u);
    EXPECT_FALSE(net.Echo(Ipv4Address(203, 0, 113, 51), reply));
    ASSERT_TRUE(net.Echo(kDest, reply));
    EXPECT_EQ(reply.rttMs, 14u);

    // Slower: every round trip, on a path too; down: no echo either.
    net.network.world().Apply(HostLatency(kGame, 100));
    net.network.world().Apply(HostLatency(kDest, 50));
    ASSERT_TRUE(net.Echo(kGame, reply));
    EXPECT_EQ(reply.rttMs, 130u);
    ASSERT_TRUE(net.Echo(kDest, reply));
    EXPECT_EQ(reply.rttMs, 64u);
    net.network.world().Apply(HostDown(kDest));
    net.network.world().Apply(HostRefuses(kGame));
    EXPECT_FALSE(net.Echo(kDest, reply));
    EXPECT_TRUE(net.Echo(kGame, reply));  // refusing connections, still there
}

TEST(SimServices, WebAnswersWithTimingsOfTheWorld) {
    Net net(ServiceWorld().Build());
    HttpExchange small;
    small.maxBodyBytes = 100;
    auto [https, httpsMs] = net.Get("https://WWW.example.test/", small);
    ASSERT_TRUE(https.received) << https.error;
    EXPECT_EQ(https.statusCode, 200);
    EXPECT_EQ(https.bodyBytes, 5000u);
    EXPECT_EQ(https.body.size(), 100u);
    EXPECT_NE(https.rawHeaders.find("HTTP/1.1 200 OK\r\n"), std::string::npos);
    // dns 5, connect 30, TLS 1.2 two round trips, first byte 40, transfer 25.
    const HttpPhaseTimings& t = https.timings;
    EXPECT_EQ(t.redirectMs, 0);
    EXPECT_EQ(t.nameResolvedMs, 5);
    EXPECT_EQ(t.connectedMs, 35);
    EXPECT_EQ(t.tlsDoneMs, 95);
    EXPECT_EQ(t.requestSentMs, 95);
    EXPECT_EQ(t.firstByteMs, 135);
    EXPECT_EQ(t.totalMs, 160);
    EXPECT_EQ(httpsMs, 160u);
    EXPECT_EQ(https.tlsProtocol, "TLS 1.2");
    EXPECT_EQ(https.tlsCipher, "ECDHE-RSA-AES128-GCM-SHA256");
    EXPECT_TRUE(https.certificate.present);
    EXPECT_EQ(https.certificate.subject, "www.example.test");
    EXPECT_EQ(https.certificate.issuer, "Simulated Issuing CA");
    const int64_t now = net.clock.UnixSeconds();
    EXPECT_LT(https.certificate.notBeforeUnix, now);
    EXPECT_EQ(https.certificate.notAfterUnix - now, 60 * 86400);

    // Plain http: no TLS; an unknown path is 404; a given body is kept as written.
    auto [http, httpMs] = net.Get("http://www.example.test/missing?x=1");
    ASSERT_TRUE(http.received);
    EXPECT_EQ(http.statusCode, 404);
    EXPECT_EQ(http.timings.tlsDoneMs, 0);
    EXPECT_EQ(http.timings.requestSentMs, http.timings.connectedMs);
    EXPECT_TRUE(http.tlsProtocol.empty());
    EXPECT_FALSE(http.certificate.present);
    EXPECT_EQ(net.Get("http://198.51.100.80/text").first.body, "hello");
    EXPECT_EQ(net.Get("http://guest@198.51.100.80/text#end").first.body, "hello");

    // A redirect is followed; the timings describe the last request, after redirectMs.
    auto [moved, movedMs] = net.Get("http://www.example.test/old");
    ASSERT_TRUE(moved.received);
    EXPECT_EQ(moved.statusCode, 200);
    EXPECT_EQ(moved.timings.redirectMs, 5 + 30 + 30);
    EXPECT_EQ(moved.timings.totalMs, moved.timings.redirectMs + 5 + 30 + 40 + 25);
    EXPECT_EQ(double(movedMs), moved.timings.totalMs);
    for (const HttpOutcome& o : {https, http, moved}) {
        const HttpPhaseTimings& p = o.timings;
        EXPECT_LE(p.redirectMs, p.nameResolvedMs);
        EXPECT_LE(p.nameResolvedMs, p.connectedMs);
        EXPECT_LE(std::max(p.connectedMs, p.tlsDoneMs), p.requestSentMs);
        EXPECT_LE(p.requestSentMs, p.firstByteMs);
        EXPECT_LE(p.firstByteMs, p.totalMs);
    }
    HttpExchange noFollow;
    noFollow.followRedirects = false;
    const HttpOutcome redirect = net.Get("http://www.example.test/old", noFollow).first;
    EXPECT_EQ(redirect.statusCode, 301);
    EXPECT_NE(redirect.rawHeaders.find("Location: /\r\n"), std::string::npos);
}

TEST(SimServices, WebFailuresCarryThePortsErrorNumbers) {
    WorldBuilder b = ServiceWorld();
    b.ServiceHost("old.example.test", Ipv4Address(198, 51, 100, 81))
        .TcpPort(443)
        .Web("")
        .Tls()
        .CertificateDays(-400, -10)
        .ServiceHost("nas.home.test", Ipv4Address(192, 168, 1, 10), 3)
        .TcpPort(443)
        .Web("")
        .Tls()
        .SelfSigned()
        .ServiceHost("plain.example.test", Ipv4Address(198, 51, 100, 82))
        .TcpPort(443)
        .TcpPort(80)
        .Web("/slow", 200, 0, 3000)
        .Web("/trickle", 200, 0, -1, 60000);
    Net net(b.Build());

    HttpExchange quick;
    quick.timeoutMs = 1000;
    struct Case {
        std::string url;
        uint32_t error;
        uint64_t elapsedMs;
    };
    for (const Case& c : std::vector<Case>{
             {"ftp://www.example.test/", kHttpErrorInvalidUrl, 0},
             {"https://www.example.test:0/", kHttpErrorInvalidUrl, 0},
             {"https://nowhere.example.test/", kHttpErrorNameNotResolved, 0},
             {"http://game.example.test:8080/", kHttpErrorCannotConnect, 7 + 30},
             {"http://203.0.113.99/", kHttpErrorTimeout, 1000},
             {"https://plain.example.test/", kHttpErrorSecureFailure, 20 + 20},
             {"http://game.example.test:27015/", kHttpErrorInvalidResponse, 7 + 35 + 30},
             {"http://plain.example.test/slow", kHttpErrorTimeout, 20 + 1000},
             {"http://plain.example.test/trickle", kHttpErrorTimeout, 4000},
             {"http://www.example.test/a", kHttpErrorRedirectFailed, 11 * (5 + 30 + 30)},
             {"https://old.example.test/", kHttpErrorCertificateDate, 20 + 20},
             {"https://nas.home.test/", kHttpErrorCertificateAuthority, 3 + 3}}) {
        auto [outcome, elapsed] = net.Get(c.url, quick);
        EXPECT_FALSE(outcome.received) << c.url;
        EXPECT_EQ(outcome.error, c.error) << c.url;
        EXPECT_EQ(elapsed, c.elapsedMs) << c.url;
    }
    // Certificate problems still report the certificate; ignoring them gets the answer.
    const HttpOutcome old = net.Get("https://old.example.test/").first;
    EXPECT_TRUE(old.certificate.present);
    EXPECT_LT(old.certificate.notAfterUnix, net.clock.UnixSeconds());
    const HttpOutcome nas = net.Get("https://nas.home.test/").first;
    EXPECT_EQ(nas.certificate.issuer, nas.certificate.subject);
    HttpExchange lenient;
    lenient.ignoreCertificateErrors = true;
    const HttpOutcome accepted = net.Get("https://old.example.test/", lenient).first;
    EXPECT_TRUE(accepted.received);
    EXPECT_EQ(accepted.statusCode, 200);
    EXPECT_EQ(accepted.tlsProtocol, "TLS 1.3");
}

TEST(SimServices, TimelineChangesTakeEffectAtTheirTime) {
    WorldBuilder b = ServiceWorld();
    b.config().serviceHosts.back().tlsConfig.notAfter.days = 1;
    b.At(10'000, HostDown(kGame))
        .At(20'000, HostUp(kGame))
        .At(30'000, HostLatency(kWeb, 200))
        .At(40'000, WebStatus(kWeb, 503))
        .At(40'000, WebStatus(kWeb, 200, "/text"))
        .At(50'000, HostRefuses(kWeb));
    Net net(b.Build());
    Sockets& sockets = net.network.sockets();
    const auto at = [&](uint64_t ms) { net.clock.Advance(ms - net.clock.Elapsed()); };

    at(9'000);
    EXPECT_TRUE(sockets.TcpConnect(kGame, 27015, 3000).connected);
    at(10'000);
    EXPECT_TRUE(sockets.TcpConnect(kGame, 27015, 3000).timedOut);
    EchoReply reply;
    EXPECT_FALSE(net.Echo(kGame, reply));
    at(20'000);
    EXPECT_TRUE(sockets.TcpConnect(kGame, 27015, 3000).connected);

    at(29'000);
    EXPECT_EQ(net.Get("https://www.example.test/").first.timings.totalMs, 160);
    at(30'000);
    EXPECT_EQ(net.Get("https://www.example.test/").first.timings.totalMs,
              160 + 200 /*connect*/ + 2 * 200 /*TLS*/ + 200 /*first byte*/);
    at(40'000);
    EXPECT_EQ(net.Get("https://www.example.test/").first.statusCode, 503);
    EXPECT_EQ(net.Get("https://www.example.test/text").first.statusCode, 200);
    at(50'000);
    EXPECT_EQ(net.Get("https://www.example.test/").first.error, kHttpErrorCannotConnect);
    EXPECT_TRUE(net.Echo(kWeb, reply));

    // The certificate ran for a day from the start.
    net.network.world().Apply(HostUp(kWeb));
    at(86'400'000 + 1'000);
    EXPECT_EQ(net.Get("https://www.example.test/").first.error, kHttpErrorCertificateDate);
}

TEST(SimServices, ProbesFromSeveralThreadsAtOnce) {
    Net net(ServiceWorld().Build());
    std::vector<std::thread> threads;
    std::vector<int> good(4, 0);
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            auto session = net.network.http().OpenSession("test", nullptr);
            for (int n = 0; n < 25; ++n) {
                HttpExchange exchange;
                exchange.url = "https://www.example.test/";
                const bool web = session->Send(exchange).statusCode == 200;
                const bool tcp = net.network.sockets().TcpConnect(kGame, 27015, 5000).connected;
                const bool dns = net.network.dns().Query("game.example.test", DnsType::A, true).ok;
                EchoReply reply;
                good[size_t(i)] += web && tcp && dns && net.Echo(kGame, reply) ? 1 : 0;
            }
        });
    }
    for (std::thread& thread : threads) thread.join();
    EXPECT_EQ(good, std::vector<int>(4, 25));
}

TEST(SimServices, ShippedWorldsShowServices) {
    const std::filesystem::path worlds = QUILLON_SCENARIO_DIR;
    const ScenarioLoad home = LoadScenarioFile((worlds / "healthy_home.json").string());
    ASSERT_TRUE(home.ok) << home.error;
    Net healthy(home.world);
    const HttpOutcome site = healthy.Get("https://www.example.com/").first;
    EXPECT_EQ(site.statusCode, 200);
    EXPECT_EQ(site.tlsProtocol, "TLS 1.3");
    const ResolveResult game = healthy.network.sockets().ResolveIpv4("play.game.example");
    ASSERT_TRUE(game.ok);
    EXPECT_TRUE(healthy.network.sockets().TcpConnect(game.addresses[0], 27015, 5000).connected);
    const DnsAnswer resolver =
        healthy.network.dns().Query("dns1.anycast.example", DnsType::A, true);
    ASSERT_TRUE(resolver.ok);
    EXPECT_EQ(resolver.records.at(0).a, kDest);

    const ScenarioLoad trouble = LoadScenarioFile((worlds / "service_trouble.json").string());
    ASSERT_TRUE(trouble.ok) << trouble.error;
    Net net(trouble.world);
    Sockets& sockets = net.network.sockets();
    const Ipv4Address server = sockets.ResolveIpv4("play.game.example").addresses.at(0);
    const auto at = [&](uint64_t s) { net.clock.Advance(s * 1000 - net.clock.Elapsed()); };
    const HttpOutcome shop = net.Get("https://shop.example.net/").first;
    EXPECT_EQ(shop.error, kHttpErrorCertificateDate);
    EXPECT_TRUE(shop.certificate.present);
    EXPECT_EQ(net.Get("https://nas.home.example/").first.error, kHttpErrorCertificateAuthority);
    EXPECT_TRUE(sockets.TcpConnect(server, 27015, 5000).connected);
    EXPECT_EQ(net.Get("https://status.example.org/").first.statusCode, 200);
    at(60);
    EXPECT_TRUE(sockets.TcpConnect(server, 27015, 5000).timedOut);
    at(90);
    EXPECT_EQ(net.Get("https://status.example.org/").first.statusCode, 503);
    at(120);
    EXPECT_TRUE(sockets.TcpConnect(server, 27015, 5000).connected);
    at(150);
    EXPECT_GT(net.Get("https://status.example.org/").first.timings.firstByteMs, 400 * 3);
}

TEST(SimServices, ScenarioHostsLoadAndBadEntriesAreNamed) {
    const std::string path =
        R"("paths": [{"destination": "1.1.1.1", "hops": [{"address": "1.1.1.1", "rttMs": 9}]}])";
    const auto world = [&](const std::string& hosts, const std::string& timeline = "[]") {
        return "{" + path + ", \"serviceHosts\": [" + hosts + "], \"timeline\": " + timeline + "}";
    };
    const std::string good =
        R"({"name": "shop.example.test", "address": "198.51.100.7", "dnsMs": 4, "rttMs": 25,
            "tcpPorts": [443, {"port": 8443, "connectMs": 40}],
            "web": [{"path": "/", "bodyBytes": 900, "firstByteMs": 50},
                    {"path": "/go", "redirectTo": "/"}, {"status": 404}],
            "tls": {"protocol": "TLS 1.2", "notBefore": "2026-01-01",
                    "notAfter": "2027-01-01T12:00:00Z"}})";
    const ScenarioLoad load = LoadScenarioText(
        world(good, R"([{"at": 5, "change": "webStatus", "host": "SHOP.example.test", "status": 503,
                   "path": "/"}, {"at": 6, "change": "hostLatency", "host": "198.51.100.7",
                   "ms": 80}])"));
    ASSERT_TRUE(load.ok) << load.error;
    const ServiceHostConfig& shop = load.world.serviceHosts.at(0);
    EXPECT_EQ(shop.tcpPorts.at(1).connectMs, 40);
    EXPECT_EQ(shop.web.at(1).status, 302);
    EXPECT_EQ(shop.web.at(1).location, "/");
    EXPECT_TRUE(shop.tlsConfig.notAfter.fixed);
    EXPECT_EQ(shop.tlsConfig.notAfter.unixSeconds, 1798804800);
    EXPECT_EQ(load.world.timeline.at(0).kind, ChangeKind::WebStatus);
    EXPECT_EQ(load.world.timeline.at(0).address, Ipv4Address(198, 51, 100, 7));
    EXPECT_EQ(load.world.timeline.at(0).path, "/");

    const std::string host = R"({"name": "h.example.test", "address": "198.51.100.9")";
    for (const auto& [text, expected] : std::vector<std::pair<std::string, std::string>>{
             {world(R"({"name": "bad name", "address": "198.51.100.9"})"),
              "serviceHosts[0].name: \"bad name\" is not a host name"},
             {world(host + "}, " + host + "}"),
              "serviceHosts[1].address: another service host has the address 198.51.100.9"},
             {world(R"({"address": "1.1.1.1", "rttMs": 5})"),
              "serviceHosts[0].rttMs: the host is on the path to 1.1.1.1"},
             {world(host + R"(, "tcpPorts": [80, 80]})"),
              "serviceHosts[0].tcpPorts[1]: port 80 is listed twice"},
             {world(host + R"(, "tcpPorts": [70000]})"), "tcpPorts[0]: 70000 is not a port"},
             {world(host + R"(, "tcpPorts": ["80"]})"), "expected a port number or an object"},
             {world(host + R"(, "web": [{"path": "x"}]})"), "web[0].path: \"x\" does not start"},
             {world(host + R"(, "web": [{"redirectTo": "/", "status": 200}]})"),
              "web[0].redirectTo: needs a 3xx status, not 200"},
             {world(host + R"(, "web": [{"body": "x", "bodyBytes": 1}]})"),
              "give either \"body\" or \"bodyBytes\""},
             {world(host + R"(, "web": [{}, {"status": 500}]})"),
              "web[1]: a second answer for any path"},
             {world(host + R"(, "tls": {"protocol": "TLS 2.0"}})"),
              "tls.protocol: \"TLS 2.0\" is not"},
             {world(host + R"(, "tls": {"notAfter": "2027-02-30"}})"),
              "tls.notAfter: \"2027-02-30\" is not a date"},
             {world(host + R"(, "tls": {"notAfter": "2027-01-01", "notAfterDays": 3}})"),
              "give either \"notAfter\" or \"notAfterDays\""},
             {world(host + R"(, "tls": {"expired": true, "notAfterDays": 3}})"),
              "tls.expired: give either \"expired\" or the end of validity"},
             {world(host + R"(, "tls": {"notBeforeDays": 5, "notAfterDays": 3}})"),
              "tls: the certificate ends before it begins"},
             {world(host + R"(, "tls": {"selfSigned": true, "issuer": "CA"}})"),
              "tls.issuer: a self-signed certificate is issued by its subject"},
             {world(host + "}", R"([{"at": 1, "change": "hostDown", "host": "x.test"}])"),
              "timeline[0].host: no service host is \"x.test\""},
         }) {
        const ScenarioLoad bad = LoadScenarioText(text);
        EXPECT_FALSE(bad.ok) << text;
        EXPECT_NE(bad.error.find(expected), std::string::npos)
            << "input: " << text << "\nerror: " << bad.error;
    }
}

}  // namespace
}  // namespace quillon::sim
