#include "platform/linux/bridge_rules.h"

#include "base/utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace quillon::lnx {
namespace {

const BridgeEndpoint kEndpoint{"127.0.0.1", 43117};

TEST(HeadlessBridgeRules, HostMustNameThisServer) {
    EXPECT_TRUE(IsAllowedHost("127.0.0.1:43117", kEndpoint));
    EXPECT_TRUE(IsAllowedHost("localhost:43117", kEndpoint));
    EXPECT_TRUE(IsAllowedHost("LocalHost:43117", kEndpoint));
    EXPECT_FALSE(IsAllowedHost("", kEndpoint));
    EXPECT_FALSE(IsAllowedHost("127.0.0.1", kEndpoint));  // port left out, ours is not 80
    EXPECT_FALSE(IsAllowedHost("127.0.0.1:4311", kEndpoint));
    EXPECT_FALSE(IsAllowedHost("127.0.0.1:043117", kEndpoint));
    // Leading zeros short enough to fit five digits are refused too.
    const BridgeEndpoint http{"127.0.0.1", 8080};
    EXPECT_TRUE(IsAllowedHost("localhost:8080", http));
    EXPECT_FALSE(IsAllowedHost("localhost:08080", http));
    EXPECT_FALSE(IsAllowedHost("127.0.0.1:00080", {"127.0.0.1", 80}));
    EXPECT_FALSE(IsAllowedOrigin("http://localhost:08080", http));
    EXPECT_FALSE(IsAllowedHost("127.0.0.1:43117x", kEndpoint));
    EXPECT_FALSE(IsAllowedHost("rebind.example:43117", kEndpoint));
    EXPECT_FALSE(IsAllowedHost("127.0.0.1.rebind.example:43117", kEndpoint));
    EXPECT_FALSE(IsAllowedHost("[::1]:43117", kEndpoint));

    const BridgeEndpoint v6{"::1", 80};
    EXPECT_TRUE(IsAllowedHost("[::1]:80", v6));
    EXPECT_TRUE(IsAllowedHost("[::1]", v6));
    EXPECT_TRUE(IsAllowedHost("localhost", v6));
    EXPECT_FALSE(IsAllowedHost("[::2]:80", v6));
}

TEST(HeadlessBridgeRules, OriginMustBeThisServer) {
    EXPECT_TRUE(IsAllowedOrigin("http://127.0.0.1:43117", kEndpoint));
    EXPECT_TRUE(IsAllowedOrigin("HTTP://localhost:43117", kEndpoint));
    EXPECT_FALSE(IsAllowedOrigin("null", kEndpoint));
    EXPECT_FALSE(IsAllowedOrigin("https://127.0.0.1:43117", kEndpoint));
    EXPECT_FALSE(IsAllowedOrigin("http://127.0.0.1:43118", kEndpoint));
    EXPECT_FALSE(IsAllowedOrigin("http://127.0.0.1:43117/", kEndpoint));
    EXPECT_FALSE(IsAllowedOrigin("http://evil@127.0.0.1:43117", kEndpoint));
    EXPECT_FALSE(IsAllowedOrigin("http://", kEndpoint));
}

TEST(HeadlessBridgeRules, OnlyLoopbackAddressesMayBeServed) {
    for (const char* address : {"127.0.0.1", "127.1.2.3", "::1", "[::1]", "localhost"}) {
        EXPECT_TRUE(IsLoopbackAddress(address)) << address;
    }
    for (const char* address : {"0.0.0.0", "192.168.1.10", "::", "128.0.0.1", "127.0.0",
                                "127.0.0.256", "127.0.0.1.example", ""}) {
        EXPECT_FALSE(IsLoopbackAddress(address)) << address;
    }
    EXPECT_EQ(UrlHost("::1"), "[::1]");
    EXPECT_EQ(UrlHost("127.0.0.1"), "127.0.0.1");
}

TEST(HeadlessBridgeRules, RequestPathsMapInsideTheUiFolder) {
    EXPECT_EQ(UiRelativePath("/"), "index.html");
    EXPECT_EQ(UiRelativePath("/index.html"), "index.html");
    EXPECT_EQ(UiRelativePath("/assets/"), "assets/index.html");
    EXPECT_EQ(UiRelativePath("/assets/app-1.2.js"), "assets/app-1.2.js");
    for (const char* bad : {"", "index.html", "/..", "/../x", "/a/../b", "/./a", "//etc/passwd",
                            "/a//b", "/.env", "/a\\..\\b", "/c:/x", "/a\nb", "/\xC0\xAF"}) {
        EXPECT_FALSE(UiRelativePath(bad).has_value()) << bad;
    }
    EXPECT_FALSE(UiRelativePath(std::string("/a\0b", 4)).has_value());
    EXPECT_EQ(ContentTypeFor("assets/app.JS"), "text/javascript; charset=utf-8");
    EXPECT_EQ(ContentTypeFor("index.html"), "text/html; charset=utf-8");
    EXPECT_EQ(ContentTypeFor("v1.0/LICENSE"), "application/octet-stream");
}

TEST(HeadlessBridgeRules, TokensAndCookies) {
    EXPECT_TRUE(TokensEqual("abc123", "abc123"));
    EXPECT_FALSE(TokensEqual("abc123", "abc124"));
    EXPECT_FALSE(TokensEqual("abc123", "abc1234"));
    EXPECT_FALSE(TokensEqual("", ""));  // no token never matches
    EXPECT_EQ(CookieValue("a=1; quillon_token_80=xyz; b=2", "quillon_token_80"), "xyz");
    EXPECT_EQ(CookieValue("quillon_token_8080=xyz", "quillon_token_80"), "");
    EXPECT_EQ(CookieValue("t=\"q\"", "t"), "q");
    EXPECT_EQ(CookieValue("", "t"), "");
}

TEST(HeadlessBridgeRules, PostedBodiesBecomeOneStringOrNothing) {
    auto decode = [](const char* type, const std::string& body) {
        return DecodePageMessage(type, body);
    };
    DecodedMessage text = decode("text/plain;charset=UTF-8", R"({"action":"x"})");
    EXPECT_EQ(text.verdict, MessageVerdict::Deliver);
    EXPECT_EQ(text.text, R"({"action":"x"})");
    EXPECT_EQ(decode("text/plain", "\xFF").verdict, MessageVerdict::Malformed);

    DecodedMessage json = decode("application/json", R"( "{\"a\":\"\\\"\"}\n\ud83d\ude00" )");
    EXPECT_EQ(json.verdict, MessageVerdict::Deliver);
    EXPECT_EQ(json.text, "{\"a\":\"\\\"\"}\n\xF0\x9F\x98\x80");
    for (const char* notString : {R"({"action":"x"})", "[]", "12", "true", "null"}) {
        EXPECT_EQ(decode("application/json", notString).verdict, MessageVerdict::NotAString)
            << notString;
    }
    for (const char* bad : {"", "\"open", R"("a"b")", "\"\\x\"", "\"\\ud83d\"", "\"\\udc00\"",
                            "\"tab\there\"", "\"\\u12\""}) {
        EXPECT_EQ(decode("application/json", bad).verdict, MessageVerdict::Malformed) << bad;
    }
    EXPECT_EQ(decode("", "x").verdict, MessageVerdict::Unsupported);
    EXPECT_EQ(decode("multipart/form-data; boundary=x", "x").verdict, MessageVerdict::Unsupported);
}

TEST(HeadlessBridgeRules, Utf8IsCheckedStrictly) {
    EXPECT_TRUE(IsValidUtf8("caf\xC3\xA9 \xF0\x9F\x98\x80"));
    EXPECT_FALSE(IsValidUtf8("\xC0\x80"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
    EXPECT_FALSE(IsValidUtf8("\xF4\x90\x80\x80"));  // above U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut short
}

TEST(HeadlessBridgeRules, EventsAreFramedLineByLine) {
    EXPECT_EQ(FrameEvent(R"({"type":"x"})"), "data: {\"type\":\"x\"}\n\n");
    EXPECT_EQ(FrameEvent("{\r\n\"a\":1\r}"), "data: {\ndata: \"a\":1\ndata: }\n\n");
    EXPECT_EQ(FrameEvent("a\n"), "data: a\ndata: \n\n");
}

}  // namespace
}  // namespace quillon::lnx
