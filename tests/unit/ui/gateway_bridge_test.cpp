// The page's gateway sign-in against a gateway played by the test: each command's reply, what
// is saved, what is never logged or sent back, and what a changed certificate does.
#include "ui/gateway_bridge.h"

#include <gtest/gtest.h>

#include "base/json_value.h"
#include "fakes/fake_net_info.h"
#include "fakes/fake_service_ports.h"
#include "fakes/fake_shell.h"
#include "fakes/fake_store_ports.h"
#include "fakes/file_text.h"
#include "fakes/log_capture.h"
#include "fakes/temp_dir.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/virtual_clock.h"
#include "ui/webview_host.h"

namespace quillon {
namespace {

// A console at 192.168.1.1 with user admin / pass"word and, when `code` is set, a one-time code.
struct Gateway {
    std::string code;
    std::string certificate = "c0ffee";
    bool sessionValid = true;
    std::vector<std::string> paths;

    HttpOutcome Answer(const HttpExchange& e) {
        paths.push_back(e.url.substr(e.url.find("/api")));
        HttpOutcome o = test::Answered(404, "{}");
        if (e.url == "https://192.168.1.1/api/system") {
            o = test::Answered(200,
                               R"({"hardware":{"shortname":"UDMPRO"},"mac":"fc:ec:da:1:2:3"})");
        } else if (e.url == "https://192.168.1.1/api/auth/login") {
            const bool right = e.body.find(R"("password":"pass\"word")") != std::string::npos;
            const bool coded = e.body.find(R"("token":")") != std::string::npos;
            if (!right) {
                o = test::Answered(403, "{}");
            } else if (!code.empty() &&
                       e.body.find("\"token\":\"" + code + "\"") == std::string::npos) {
                o = test::Answered(499, coded ? R"({"code":"MFA_TOKEN_INVALID"})" : "{}");
            } else {
                o = test::Answered(200, "{}");
                o.headers = {{"Set-Cookie", "TOKEN=t1; path=/"}, {"Set-Cookie", "csrf_token=c1"}};
            }
        } else if (e.url == "https://192.168.1.1/api/users/self") {
            o = test::Answered(sessionValid ? 200 : 401, "{}");
        }
        o.certificate.sha256 = certificate;
        return o;
    }
};

struct GatewayRig {
    sim::VirtualClock clock;
    sim::SimSystem system;
    test::TestLog log{system, clock};
    sim::SimThreads threads;
    test::FakeShell shell{clock};
    WebViewHost host{shell, system};
    test::FakeNetInfo net;
    test::FakeHttp http;
    test::FakeFiles files;
    test::FakeSecrets secrets;
    test::TempDir dir;
    std::string path = (dir.path() / "gateway_credentials.ini").string();
    GatewayBridge bridge{host, GatewayPorts{http, net, files, &secrets, threads}, path};
    Gateway gateway;

    GatewayRig() {
        http.answer = [this](const HttpExchange& e) { return gateway.Answer(e); };
        NetAdapter eth0;
        eth0.friendlyName = "eth0";
        eth0.ifIndex = 2;
        eth0.ifType = 6;
        eth0.operStatusUp = true;
        eth0.ipv4Unicast = {Ipv4Address(192, 168, 1, 20)};
        net.adapters = {eth0};
        net.routes = {{Ipv4Address(), Ipv4Address(), Ipv4Address(192, 168, 1, 1), 2, 25}};
        net.neighbors = {{Ipv4Address(192, 168, 1, 1), 2, {0xFC, 0xEC, 0xDA, 1, 2, 3}, true}};
    }
    std::string Say(GatewayCommand command) { return bridge.Handle(command); }
};

TEST(GatewayBridge, SignsInWithACodeAndSavesTheSession) {
    GatewayRig rig;
    rig.gateway.code = "123456";
    EXPECT_EQ(
        rig.Say({"unifi_login", "", "admin", "wrong", ""}),
        R"({"type":"unifiLoginResult","success":false,"error":"Invalid username or password"})");
    EXPECT_EQ(rig.Say({"unifi_login", "", "admin", "pass\"word", ""}),
              R"({"type":"unifiLoginResult","success":false,"requiresMfa":true})");
    EXPECT_EQ(rig.Say({"unifi_mfa", "", "admin", "pass\"word", "000000"}),
              R"({"type":"unifiMfaResult","success":false,"error":"Invalid MFA code"})");
    EXPECT_EQ(rig.Say({"unifi_mfa", "", "admin", "pass\"word", "123456"}),
              R"({"type":"unifiMfaResult","success":true})");
    EXPECT_EQ(rig.http.sessionsOpened, 2);  // the code went over the sign-in's connection

    const std::string file = test::ReadFileText(rig.path);
    EXPECT_NE(file.find("[FC:EC:DA:01:02:03]\nhost=192.168.1.1\nusername=admin\npassword="),
              std::string::npos)
        << file;
    EXPECT_NE(file.find("token=t1\ncsrf=c1\ncert=c0ffee\n"), std::string::npos);
    EXPECT_EQ(file.find("pass"), file.find("password="));  // only as the key
    EXPECT_EQ(rig.log.Count("pass\"word"), 0);
    EXPECT_EQ(rig.log.Count("UniFi login attempt for host: , user: admin"), 2);
    EXPECT_EQ(rig.log.Count("UniFi MFA login successful"), 1);

    EXPECT_EQ(rig.Say({"unifi_check_session", "", "", "", ""}),
              R"({"type":"unifiSessionStatus","authenticated":true,"host":"192.168.1.1",)"
              R"("username":"admin"})");
    // Not answering is not refusing: the page is told the gateway could not be reached.
    rig.http.answer = [](const HttpExchange&) { return HttpOutcome{}; };
    EXPECT_EQ(rig.Say({"unifi_check_session", "", "", "", ""}),
              R"({"type":"unifiSessionStatus","authenticated":false,"host":"192.168.1.1",)"
              R"("username":"admin","reachable":false})");
    rig.http.answer = [&rig](const HttpExchange& e) { return rig.gateway.Answer(e); };
    rig.gateway.sessionValid = false;
    EXPECT_EQ(rig.Say({"unifi_check_session", "", "", "", ""}),
              R"({"type":"unifiSessionStatus","authenticated":false,"host":"192.168.1.1",)"
              R"("username":"admin"})");

    EXPECT_EQ(rig.Say({"unifi_forget", "", "", "", ""}),
              R"({"type":"unifiForgetResult","success":true})");
    EXPECT_EQ(rig.Say({"unifi_check_session", "", "", "", ""}),
              R"({"type":"unifiSessionStatus","authenticated":false})");
}

TEST(GatewayBridge, AChangedCertificateKeepsTheSessionTokenHome) {
    GatewayRig rig;
    ASSERT_EQ(rig.Say({"unifi_login", "192.168.1.1", "admin", "pass\"word", ""}),
              R"({"type":"unifiLoginResult","success":true,"requiresMfa":false})");
    rig.gateway.certificate = "bad0";
    rig.gateway.paths.clear();
    EXPECT_EQ(rig.Say({"unifi_check_session", "", "", "", ""}),
              R"({"type":"unifiSessionStatus","authenticated":false,"host":"192.168.1.1",)"
              R"("username":"admin","certificateChanged":true})");
    EXPECT_EQ(rig.gateway.paths, std::vector<std::string>{"/api/system"});
    for (const HttpExchange& e : rig.http.Sent()) {
        if (e.url.ends_with("/api/system")) {
            for (const auto& [name, value] : e.headers) EXPECT_NE(name, "Cookie");
        }
    }
    // Signing in again says so, and trusts the new certificate from then on.
    EXPECT_EQ(rig.Say({"unifi_login", "", "admin", "pass\"word", ""}),
              R"({"type":"unifiLoginResult","success":true,"requiresMfa":false,)"
              R"("certificateChanged":true})");
    EXPECT_NE(rig.Say({"unifi_check_session", "", "", "", ""}).find(R"("authenticated":true)"),
              std::string::npos);
}

TEST(GatewayBridge, SaysWhyItCouldNotSignIn) {
    GatewayRig rig;
    rig.net.routes.clear();  // no default gateway
    EXPECT_EQ(rig.Say({"unifi_login", "", "admin", "x", ""}),
              R"({"type":"unifiLoginResult","success":false,"error":"No gateway found"})");
    EXPECT_EQ(
        rig.Say({"unifi_login", "10.0.0.1/evil", "admin", "x", ""}),
        R"({"type":"unifiLoginResult","success":false,"error":"Failed to connect to gateway"})");
    rig.http.answer = [](const HttpExchange&) { return HttpOutcome{}; };  // gone
    EXPECT_EQ(
        rig.Say({"unifi_login", "192.168.1.1", "admin", "x", ""}),
        R"({"type":"unifiLoginResult","success":false,"error":"Network error - check connection"})");
    EXPECT_EQ(rig.log.Count("[ERROR] UniFi login failed: network error"), 1);
    rig.http.answer = [](const HttpExchange&) { return test::Answered(429, "{}"); };
    EXPECT_NE(rig.Say({"unifi_login", "192.168.1.1", "admin", "x", ""}).find("Too many sign-in"),
              std::string::npos);

    // Through the worker: the reply reaches the page; after Stop nothing more is taken.
    rig.host.OnPageReady();
    rig.bridge.Request({"unifi_check_session", "", "", "", ""});
    rig.host.DeliverFromOtherThreads();
    EXPECT_EQ(rig.shell.pagePosts.back(), R"({"type":"unifiSessionStatus","authenticated":false})");
    EXPECT_TRUE(rig.bridge.Stop(std::chrono::milliseconds(100)));
    const size_t posts = rig.shell.pagePosts.size();
    rig.bridge.Request({"unifi_check_session", "", "", "", ""});
    rig.host.DeliverFromOtherThreads();
    EXPECT_EQ(rig.shell.pagePosts.size(), posts);
}

}  // namespace
}  // namespace quillon
