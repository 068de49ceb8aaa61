// What the tests of both HTTP adapters do alike: open a session (checked), describe a GET, find
// a header of the reply, and check the answers both adapters' plain test servers give.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/http.h"

namespace quillon::test {

inline std::unique_ptr<HttpSession> Open(Http& http) {
    uint32_t error = 1;
    auto session = http.OpenSession("QuillonTest/1.0", &error);
    EXPECT_NE(session, nullptr);
    EXPECT_EQ(error, 0u);
    return session;
}

inline HttpExchange Get(const std::string& url, uint32_t timeoutMs = 5000) {
    HttpExchange exchange;
    exchange.url = url;
    exchange.timeoutMs = timeoutMs;
    return exchange;
}

// "<none>" when the reply has no such header (names compared exactly).
inline std::string HeaderValue(const HttpHeaders& headers, const std::string& name) {
    for (const auto& [key, value] : headers) {
        if (key == name) return value;
    }
    return "<none>";
}

// "/hello" over plain HTTP as both test servers answer it: 200, "hello", the header "X-Answer:
// 42" parsed and raw, no TLS, no redirect. The outcome is the caller's to check further.
inline HttpOutcome ExpectPlainHello(HttpSession& session, const std::string& url) {
    const HttpOutcome out = session.Send(Get(url));
    EXPECT_TRUE(out.received) << out.error;
    EXPECT_EQ(out.error, 0u);
    EXPECT_EQ(out.statusCode, 200);
    EXPECT_EQ(out.body, "hello");
    EXPECT_EQ(out.bodyBytes, 5u);
    EXPECT_EQ(HeaderValue(out.headers, "X-Answer"), "42");
    EXPECT_EQ(out.rawHeaders.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << out.rawHeaders;
    EXPECT_NE(out.rawHeaders.find("X-Answer: 42\r\n"), std::string::npos);
    EXPECT_TRUE(out.tlsProtocol.empty() && out.tlsCipher.empty());
    EXPECT_FALSE(out.certificate.present);
    EXPECT_EQ(out.timings.redirectMs, 0);
    return out;
}

// Error statuses are answers like any other: "/status/N" (urlOf gives its address) answers N
// with "status body".
template <class UrlOf>
void ExpectStatusAnswers(HttpSession& session, UrlOf urlOf) {
    for (const int status : {404, 429, 503}) {
        const HttpOutcome out = session.Send(Get(urlOf("/status/" + std::to_string(status))));
        EXPECT_TRUE(out.received);
        EXPECT_EQ(out.statusCode, status);
        EXPECT_EQ(out.body, "status body");
    }
}

}  // namespace quillon::test
