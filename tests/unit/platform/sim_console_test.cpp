// The simulated gateway console: what it answers, over the simulated Http port, to the requests
// the gateway client makes, its sessions, lockout and certificate, and its scenario entry.
#include <gtest/gtest.h>

#include <cerrno>
#include <utility>
#include <vector>

#include "gateway/gateway_client.h"
#include "gateway/gateway_credentials.h"
#include "platform/sim/sim_network.h"
#include "platform/sim/sim_scenario.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::sim {
namespace {

// The home whose gateway is a console with a one-time code; the gateway hop answers in 3 ms.
WorldConfig ConsoleHome() {
    WorldBuilder b;
    b.Home().Path(Ipv4Address(1, 1, 1, 1)).Hop(kHomeGateway, 3).Hop(Ipv4Address(1, 1, 1, 1), 9);
    b.config().neighbors.at(0).mac = {0x74, 0xAC, 0xB9, 0x12, 0x34, 0x56};
    b.config().console = {kHomeGateway, "UDR", "Maple Street", "admin", "maple", "123456", -1};
    return b.Build();
}

struct ConsoleRig {
    ConsoleRig() : network(ConsoleHome(), clock), client(network.http()) {}
    HttpOutcome Send(const std::string& method, const std::string& path, HttpHeaders headers = {},
                     std::string body = {}) {
        HttpExchange e;
        e.method = method;
        e.url = "https://192.168.1.1" + path;
        e.headers = std::move(headers);
        e.body = std::move(body);
        e.ignoreCertificateErrors = true;
        e.timeoutMs = 10000;
        return network.http().OpenSession("test", nullptr)->Send(e);
    }
    VirtualClock clock;
    SimNetwork network;
    GatewayClient client;
};

TEST(SimConsole, SignsInWithACodeAndKeepsTheSessionsItIssued) {
    ConsoleRig c;
    // Anyone may read the description; it takes connect, handshake and answer: 3 round trips.
    const uint64_t before = c.clock.Elapsed();
    const HttpOutcome system = c.Send("GET", "/api/system");
    EXPECT_EQ(c.clock.Elapsed() - before, 9u);
    ASSERT_TRUE(system.received) << system.error;
    EXPECT_EQ(system.statusCode, 200);
    const auto info = ReadUniFiSystem(system.body);
    ASSERT_TRUE(info.has_value()) << system.body;
    EXPECT_EQ(info->model, "UDR");
    EXPECT_EQ(info->name, "Maple Street");
    EXPECT_EQ(info->mac, "74:ac:b9:12:34:56");
    EXPECT_EQ(system.certificate.issuer, system.certificate.subject);  // self-signed
    EXPECT_EQ(system.certificate.sha256, c.network.world().ConsoleFingerprint());
    EXPECT_EQ(system.certificate.sha256.size(), 64u);
    HttpExchange strict;
    strict.url = "https://192.168.1.1/api/system";
    EXPECT_EQ(c.network.http().OpenSession("t", nullptr)->Send(strict).error,
              kHttpErrorCertificateAuthority);
    EXPECT_EQ(c.Send("GET", "/api/auth/login").statusCode, 404);
    EXPECT_EQ(c.Send("POST", "/api/auth/login", {}, "not json").statusCode, 400);

    // The client's sign-in: wrong password, then the code it asks for, a wrong code, the right one.
    ASSERT_TRUE(c.client.Connect("192.168.1.1"));
    EXPECT_EQ(c.client.Login("admin", "wrong", ""), GatewayLogin::BadCredentials);
    EXPECT_EQ(c.client.Login("admin", "maple", ""), GatewayLogin::CodeRequired);
    EXPECT_EQ(c.client.Login("admin", "maple", "000000"), GatewayLogin::CodeRequired);
    EXPECT_EQ(c.client.Login("admin", "maple", "123456"), GatewayLogin::Success);
    EXPECT_EQ(c.client.CertificateSha256(), system.certificate.sha256);
    // The CSRF token comes from the payload of the session token.
    EXPECT_FALSE(c.client.CsrfToken().empty());
    EXPECT_EQ(CsrfTokenFromSessionToken(c.client.Token()), c.client.CsrfToken());

    GatewayCredentials saved;
    saved.token = c.client.Token();
    saved.csrfToken = c.client.CsrfToken();
    EXPECT_TRUE(c.client.CheckSession(saved));
    // The session needs its CSRF token; a token the console never issued is refused.
    const HttpHeaders cookie{{"Cookie", "other=1; TOKEN=" + saved.token}};
    EXPECT_EQ(c.Send("GET", "/api/users/self", cookie).statusCode, 401);
    HttpHeaders both = cookie;
    both.emplace_back("x-csrf-token", saved.csrfToken);
    EXPECT_EQ(c.Send("GET", "/api/users/self", both).statusCode, 200);
    GatewayCredentials forged = saved;
    forged.token.back() = forged.token.back() == 'A' ? 'B' : 'A';
    EXPECT_FALSE(c.client.CheckSession(forged));

    // A second sign-in is a second session; expiring them ends both. Two hours end one too.
    ASSERT_EQ(c.client.Login("admin", "maple", "123456"), GatewayLogin::Success);
    EXPECT_NE(c.client.Token(), saved.token);
    EXPECT_TRUE(c.client.CheckSession(saved));
    c.network.world().Apply(ConsoleSessionsExpire());
    EXPECT_FALSE(c.client.CheckSession(saved));
    ASSERT_EQ(c.client.Login("admin", "maple", "123456"), GatewayLogin::Success);
    saved.token = c.client.Token();
    saved.csrfToken = c.client.CsrfToken();
    c.clock.Advance(7200 * 1000);
    EXPECT_FALSE(c.client.CheckSession(saved));
}

TEST(SimConsole, LocksOutCertificateChangesAndGoesAway) {
    ConsoleRig c;
    ASSERT_TRUE(c.client.Connect("192.168.1.1"));
    for (int i = 0; i < 5; ++i)
        EXPECT_EQ(c.client.Login("admin", "x", ""), GatewayLogin::BadCredentials);
    EXPECT_EQ(c.client.Login("admin", "maple", ""), GatewayLogin::Locked);
    c.clock.Advance(299 * 1000);
    EXPECT_EQ(c.client.Login("admin", "maple", ""), GatewayLogin::Locked);
    c.clock.Advance(1000);
    EXPECT_EQ(c.client.Login("admin", "maple", ""), GatewayLogin::CodeRequired);

    const std::string first = c.network.world().ConsoleFingerprint();
    c.network.world().Apply(ConsoleCertificate());
    const HttpOutcome renewed = c.Send("GET", "/api/system");
    EXPECT_NE(renewed.certificate.sha256, first);
    EXPECT_EQ(renewed.certificate.sha256, c.network.world().ConsoleFingerprint());

    // Gone: the connection is never accepted, so the client waits its whole time-out.
    c.network.world().Apply(ConsoleGone());
    const uint64_t before = c.clock.Elapsed();
    EXPECT_EQ(c.client.Login("admin", "maple", "123456"), GatewayLogin::NetworkError);
    EXPECT_EQ(c.clock.Elapsed() - before, uint64_t(kGatewayTimeoutMs));
    c.network.world().Apply(ConsoleBack());
    EXPECT_EQ(c.client.Login("admin", "maple", "123456"), GatewayLogin::Success);
    // Other ports are closed; the gateway still routes and answers echoes as a hop.
    EXPECT_EQ(c.network.sockets().TcpConnect(kHomeGateway, 80, 1000).error, ECONNREFUSED);
}

TEST(SimConsole, ScenarioEntryDefaultsToTheGatewayAndBadOnesAreNamed) {
    const std::string home =
        R"("adapters": [{"name": "eth0", "ifIndex": 2, "type": "ethernet", "ipv4": ["192.168.1.5"]}],
           "routes": [{"destination": "0.0.0.0/0", "nextHop": "192.168.1.1", "ifIndex": 2}],
           "paths": [{"destination": "1.1.1.1", "hops": [{"address": "192.168.1.1", "rttMs": 4}]}])";
    const auto world = [&](const std::string& rest) { return "{" + home + rest + "}"; };
    const ScenarioLoad load = LoadScenarioText(world(R"(, "console": {"password": "p"},
                 "timeline": [{"at": 5, "change": "consoleSessionsExpire"},
                              {"at": 6, "change": "consoleGone"}])"));
    ASSERT_TRUE(load.ok) << load.error;
    EXPECT_EQ(load.world.console.address, Ipv4Address(192, 168, 1, 1));
    EXPECT_EQ(load.world.console.username, "admin");
    EXPECT_EQ(load.world.console.model, "UDR");
    EXPECT_EQ(load.world.timeline.at(1).kind, ChangeKind::ConsoleGone);

    for (
        const auto& [text, expected] : std::vector<std::pair<std::string, std::string>>{
            {world(R"(, "console": {"model": "UDR"})"), "console: missing member \"password\""},
            {world(R"(, "console": {"password": "p", "pin": 1})"), "console: unknown member"},
            {"{" + std::string(R"("console": {"password": "p"})") + "}",
             "console: no default route names the gateway"},
            {world(
                 R"(, "serviceHosts": [{"address": "192.168.1.1"}], "console": {"password": "p"})"),
             "console.address: a service host has the address 192.168.1.1"},
            {world(R"(, "timeline": [{"at": 1, "change": "consoleCertificate"}])"),
             "timeline[0]: the world has no \"console\""},
        }) {
        const ScenarioLoad bad = LoadScenarioText(text);
        EXPECT_FALSE(bad.ok) << text;
        EXPECT_NE(bad.error.find(expected), std::string::npos) << bad.error;
    }
}

}  // namespace
}  // namespace quillon::sim
