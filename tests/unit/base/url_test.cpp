#include "base/url.h"

#include <gtest/gtest.h>

namespace quillon {
namespace {

TEST(Url, SplitsWebAddressesAndRefusesTheRest) {
    struct Case {
        const char* url;
        bool ok;
        const char* scheme;
        const char* host;
        uint16_t port;
        const char* path;
    };
    const Case cases[] = {
        {"https://example.com", true, "https", "example.com", 443, "/"},
        {"HTTP://example.com:8080/a/b?q=1#frag", true, "http", "example.com", 8080, "/a/b?q=1"},
        {"http://example.com?q=1", true, "http", "example.com", 80, "/?q=1"},
        {"http://example.com#top", true, "http", "example.com", 80, "/"},
        {"https://user:pw@host:8443/x", true, "https", "host", 8443, "/x"},
        {"http://host/a@b", true, "http", "host", 80, "/a@b"},
        {"http://[::1]:8080/", true, "http", "[::1]", 8080, "/"},
        {"https://[fe80::1]", true, "https", "[fe80::1]", 443, "/"},
        {"http://198.51.100.80:65535/x", true, "http", "198.51.100.80", 65535, "/x"},
        {"ftp://example.com/", false, "", "", 0, ""},
        {"example.com/path", false, "", "", 0, ""},
        {"http:///path", false, "", "", 0, ""},
        {"http://user@/", false, "", "", 0, ""},
        {"http://", false, "", "", 0, ""},
        {"http://host:/", false, "", "", 0, ""},
        {"http://host:0/", false, "", "", 0, ""},
        {"http://host:65536/", false, "", "", 0, ""},
        {"http://host:8o/", false, "", "", 0, ""},
        {"http://ex ample.com/", false, "", "", 0, ""},
        {"http://host\t/", false, "", "", 0, ""},
        {"http://[::1/", false, "", "", 0, ""},
        {"http://[]/", false, "", "", 0, ""},
        {"http://[::1]x/", false, "", "", 0, ""},
        {"http://[::1]8080/", false, "", "", 0, ""},
        {"http://[::1]:/", false, "", "", 0, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.url);
        const auto parts = SplitUrl(c.url);
        EXPECT_EQ(parts.has_value(), c.ok);
        if (!parts || !c.ok) continue;
        EXPECT_EQ(parts->scheme, c.scheme);
        EXPECT_EQ(parts->secure, parts->scheme == "https");
        EXPECT_EQ(parts->host, c.host);
        EXPECT_EQ(parts->port, c.port);
        EXPECT_EQ(parts->path, c.path);
    }

    auto parts = SplitUrl("HTTPS://user@host/a?b#c");
    ASSERT_TRUE(parts);
    parts->port = 8443;
    EXPECT_EQ(JoinUrl(*parts), "https://host:8443/a?b");
}

TEST(PathOfUrl, KeepsThePathAloneOfAnyScheme) {
    EXPECT_EQ(PathOfUrl("quillon://app/index.html?token=1#top"), "/index.html");
    EXPECT_EQ(PathOfUrl("http://127.0.0.1:8080"), "/");
    EXPECT_EQ(PathOfUrl("/assets/main.js?v=2"), "/assets/main.js");
}

}  // namespace
}  // namespace quillon
