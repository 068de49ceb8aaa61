// What the tests of both HTTP adapters do alike: open a session (checked), describe a GET and
// find a header of the reply.
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

}  // namespace quillon::test
