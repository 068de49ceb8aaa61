#include "net/http_client.h"

#include <gtest/gtest.h>

#include "fakes/fake_service_ports.h"
#include "fakes/log_capture.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

HttpRequest Get(std::string url) {
    HttpRequest request;
    request.url = std::move(url);
    return request;
}

TEST(HttpClientTexts, StatusesAndErrorNumbers) {
    EXPECT_EQ(DescribeHttpStatus(429), "Too many requests");
    EXPECT_EQ(DescribeHttpStatus(302), "HTTP 302");
    EXPECT_EQ(DescribeNetworkError(12029), "Cannot connect to server - check internet connection");
    EXPECT_EQ(DescribeNetworkError(99), "Network error 99");
}

TEST(HttpClientTest, RequestsAndTheirOutcomes) {
    sim::SimSystem system;
    sim::VirtualClock clock;
    test::TestLog log(system, clock);
    test::FakeHttp http;
    HttpClient client(http);

    EXPECT_EQ(client.SendHttpRequest(Get("https://backend.example/x")).error,
              "HTTP client not initialized");
    EXPECT_TRUE(http.Sent().empty());

    ASSERT_TRUE(client.Init());
    http.answer = [](const HttpExchange& e) {
        HttpOutcome o;
        o.received = e.url.find("refused") == std::string::npos;
        o.error = o.received ? 0 : kHttpErrorCannotConnect;
        o.statusCode = o.received ? (e.method == "POST" ? 201 : 429) : 0;
        o.body = o.received ? "slow down" : "";
        return o;
    };
    HttpResponse r = client.HttpPost("https://backend.example/t", "{}", "application/json");
    EXPECT_TRUE(r.success);
    EXPECT_EQ(r.error, "");
    const HttpExchange sent = http.Sent().back();
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.timeoutMs, 10000u);
    EXPECT_EQ(sent.headers, (HttpHeaders{{"Content-Type", "application/json"}}));

    r = client.SendHttpRequest(Get("https://backend.example/"));
    EXPECT_FALSE(r.success);
    EXPECT_EQ(r.statusCode, 429);
    EXPECT_EQ(r.error, "Too many requests");
    EXPECT_EQ(r.body, "slow down");

    r = client.SendHttpRequest(Get("https://refused.example/"));
    EXPECT_EQ(r.error, "Cannot connect to server - check internet connection");
    EXPECT_EQ(log.Count("[ERROR] WinHttpSendRequest failed: Cannot connect to server - check "
                        "internet connection (12029)"),
              1);

    const size_t before = http.Sent().size();
    r = client.SendHttpRequest(Get("not a url"));
    EXPECT_EQ(r.error, "Invalid URL: not a url");
    EXPECT_EQ(http.Sent().size(), before);
    EXPECT_EQ(log.Count("[ERROR] Failed to parse URL: not a url"), 1);
    for (const char* bad : {"ftp://backend.example/", "https://backend.example:0/"}) {
        EXPECT_EQ(client.SendHttpRequest(Get(bad)).error, std::string("Invalid URL: ") + bad);
    }
    EXPECT_EQ(http.Sent().size(), before);

    HttpClient broken(http);
    http.failOpen = true;
    EXPECT_FALSE(broken.Init());
    EXPECT_EQ(log.Count("[WARN] Failed to initialize HTTP client - telemetry disabled"), 1);
}

}  // namespace
}  // namespace quillon
