// The gateway client against a gateway played by the test: what is sent, and how each answer
// is read (sign-in results, cookies, the CSRF token inside the session token, the session
// check), plus the plain readers the client is built on.
#include "gateway/gateway_client.h"

#include <gtest/gtest.h>

#include "base/base64.h"
#include "fakes/fake_service_ports.h"
#include "gateway/gateway_credentials.h"

namespace quillon {
namespace {

std::string Url64(const std::string& text) {
    std::string b = Base64Encode({text.begin(), text.end()});
    for (char& c : b) c = c == '+' ? '-' : c == '/' ? '_' : c;
    while (!b.empty() && b.back() == '=') b.pop_back();
    return b;
}

HttpOutcome WithCookies(std::vector<std::string> cookies, int status = 200) {
    HttpOutcome o = test::Answered(status, R"({"username":"admin"})");
    for (std::string& c : cookies) o.headers.emplace_back("set-cookie", std::move(c));
    o.certificate.sha256 = "ab12";
    return o;
}

std::string Header(const HttpExchange& e, const std::string& name) {
    for (const auto& [n, v] : e.headers) {
        if (n == name) return v;
    }
    return "(none)";
}

TEST(GatewayClient, ReadsWhatTheGatewaySays) {
    EXPECT_TRUE(IsUniFiMac("fc:ec:da:01:02:03"));
    EXPECT_TRUE(IsUniFiMac("74:AC:B9"));
    EXPECT_FALSE(IsUniFiMac("FC:EC:D"));
    EXPECT_FALSE(IsUniFiMac("A4:2B:B0:C1:7E:10"));

    const std::string system =
        R"({"hardware":{"shortname":"UDMPRO"},"name":"Home \"Console\"","mac":"74:ac:b9:00:00:01",)"
        R"("cloudConnected":false,"hasInternet": true,"uptime":12})";
    EXPECT_EQ(ExtractJsonValue(system, "mac"), "74:ac:b9:00:00:01");
    EXPECT_EQ(ExtractJsonValue(system, "name"), "Home \"Console\"");
    EXPECT_EQ(ExtractJsonValue(system, "hasInternet"), "true");
    EXPECT_EQ(ExtractJsonValue(system, "uptime"), "");
    EXPECT_EQ(ExtractJsonValue(system, "missing"), "");
    EXPECT_EQ(ExtractJsonValue(R"({"a":"open)", "a"), "");
    const auto info = ReadUniFiSystem(system);
    ASSERT_TRUE(info);
    EXPECT_EQ(info->model, "UDMPRO");
    EXPECT_TRUE(info->hasInternet);
    EXPECT_FALSE(info->cloudConnected);
    EXPECT_FALSE(ReadUniFiSystem(R"({"name":"FRITZ!Box 7590","mac":"3C:A6:2F:00:00:01"})"));

    EXPECT_EQ(GatewayLoginBody("admin", "pa\"ss\\word", ""),
              R"({"username":"admin","password":"pa\"ss\\word","rememberMe":true})");
    EXPECT_EQ(GatewayLoginBody("admin", "x", "123456"),
              R"({"username":"admin","password":"x","rememberMe":true,"token":"123456"})");

    const std::string jwt = Url64(R"({"alg":"HS256"})") + "." +
                            Url64(R"({"userId":"u1","csrfToken":"c5f1-77"})") + ".c2ln";
    EXPECT_EQ(CsrfTokenFromSessionToken(jwt), "c5f1-77");
    EXPECT_EQ(CsrfTokenFromSessionToken("opaque-session-id"), "");
    EXPECT_EQ(CsrfTokenFromSessionToken("a.!!!.b"), "");

    EXPECT_TRUE(IsGatewayHostText("192.168.1.1"));
    EXPECT_TRUE(IsGatewayHostText("unifi.localdomain"));
    for (const char* bad : {"", "evil.example/x?", "a@b", "1.2.3.4:8443", "host name"}) {
        EXPECT_FALSE(IsGatewayHostText(bad)) << bad;
    }
}

TEST(GatewayClient, SignInResultsFollowTheAnswer) {
    test::FakeHttp http;
    GatewayClient client(http);
    HttpOutcome next;
    http.answer = [&](const HttpExchange&) { return next; };
    ASSERT_TRUE(client.Connect("192.168.1.1"));

    struct Case {
        HttpOutcome answer;
        GatewayLogin expected;
    };
    const Case cases[] = {
        {HttpOutcome{}, GatewayLogin::NetworkError},
        {test::Answered(403, R"({"code":"MFA_TOKEN_REQUIRED"})"), GatewayLogin::BadCredentials},
        {test::Answered(499, "{}"), GatewayLogin::CodeRequired},
        {test::Answered(401, R"({"code":"UBIC_2FA_TOKEN"})"), GatewayLogin::CodeRequired},
        {test::Answered(401, "{}"), GatewayLogin::Failed},
        {test::Answered(429, "{}"), GatewayLogin::Locked},
        {test::Answered(200, "{}"), GatewayLogin::Failed},  // signed in, but no session cookie
    };
    for (const Case& c : cases) {
        next = c.answer;
        EXPECT_EQ(client.Login("admin", "pw", ""), c.expected) << c.answer.statusCode;
        EXPECT_FALSE(client.Authenticated());
    }
    const HttpExchange sent = http.Sent().back();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.url, "https://192.168.1.1/api/auth/login");
    EXPECT_TRUE(sent.ignoreCertificateErrors);
    EXPECT_FALSE(sent.followRedirects);  // the password goes nowhere else
    EXPECT_EQ(Header(sent, "X-Requested-With"), "XMLHttpRequest");
    EXPECT_EQ(Header(sent, "Cookie"), "(none)");

    // Too long to send whole: nothing is sent.
    const size_t before = http.Sent().size();
    EXPECT_EQ(client.Login(std::string(256, 'u'), "pw", ""), GatewayLogin::TooLong);
    EXPECT_EQ(client.Login("admin", "pw", "1234567890123456"), GatewayLogin::TooLong);
    EXPECT_EQ(http.Sent().size(), before);

    // Cookies without TOKEN: signed in, the token as it was; upper-case names sort first.
    next = WithCookies({"unifises=s1; path=/", "csrf_token=k9; path=/"});
    EXPECT_EQ(client.Login("admin", "pw", ""), GatewayLogin::Success);
    EXPECT_TRUE(client.Authenticated());
    EXPECT_EQ(client.Token(), "");
    EXPECT_EQ(client.CsrfToken(), "k9");
    next = WithCookies({"csrf_token=k10", "TOKEN=t.x.y; path=/; secure; httponly"});
    EXPECT_EQ(client.Login("admin", "pw", ""), GatewayLogin::Success);
    EXPECT_EQ(client.Token(), "t.x.y");
    EXPECT_EQ(client.CsrfToken(), "k10");
    client.Send("GET", "/api/users/self", "");
    EXPECT_EQ(Header(http.Sent().back(), "Cookie"), "TOKEN=t.x.y; csrf_token=k10");
    EXPECT_EQ(Header(http.Sent().back(), "X-CSRF-Token"), "k10");
    EXPECT_EQ(client.CertificateSha256(), "ab12");

    // Only the session token: the CSRF token comes out of it.
    ASSERT_TRUE(client.Connect("192.168.1.1"));
    const std::string jwt = Url64("{}") + "." + Url64(R"({"csrfToken":"from-jwt"})") + ".s";
    next = WithCookies({"TOKEN=" + jwt});
    EXPECT_EQ(client.Login("admin", "pw", "123456"), GatewayLogin::Success);
    EXPECT_EQ(client.CsrfToken(), "from-jwt");
    EXPECT_NE(http.Sent().back().body.find(R"("token":"123456")"), std::string::npos);
    EXPECT_FALSE(client.Connect("evil.example/x?"));
    EXPECT_FALSE(client.Connected());
}

TEST(GatewayClient, SessionCheckAsksOnlyWithBothTokens) {
    test::FakeHttp http;
    GatewayClient client(http);
    int status = 200;
    http.answer = [&](const HttpExchange&) { return test::Answered(status, "{}"); };
    ASSERT_TRUE(client.Connect("192.168.1.1"));
    GatewayCredentials saved;
    saved.token = "t1";
    EXPECT_FALSE(client.CheckSession(saved));  // no CSRF token: not asked
    EXPECT_TRUE(http.Sent().empty());

    saved.csrfToken = "c1";
    EXPECT_TRUE(client.CheckSession(saved));
    const HttpExchange sent = http.Sent().back();
    EXPECT_EQ(sent.url, "https://192.168.1.1/api/users/self");
    EXPECT_EQ(Header(sent, "Cookie"), "TOKEN=t1");
    EXPECT_EQ(Header(sent, "X-CSRF-Token"), "c1");
    EXPECT_TRUE(client.Authenticated());

    status = 401;
    EXPECT_FALSE(client.CheckSession(saved));
    EXPECT_FALSE(client.Authenticated());
    EXPECT_EQ(client.Token(), "");
    client.Send("GET", "/api/system", "");
    EXPECT_EQ(Header(http.Sent().back(), "Cookie"), "(none)");  // the refused session is gone
}

}  // namespace
}  // namespace quillon
