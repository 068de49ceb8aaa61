// Absolute web addresses split into what a request needs: scheme, host, port and the path with
// its query. One splitter for the HTTP client, the service probes and the simulated platform,
// so they agree on which addresses are valid. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

struct UrlParts {
    std::string scheme;  // "http" or "https", lower case
    std::string host;    // as written; an IPv6 literal keeps its brackets
    uint16_t port = 0;   // explicit, or the scheme's default
    std::string path;    // with the query; "/" when the URL has none
    bool secure = false;
};

// Splits an absolute http:// or https:// URL. Nothing for another scheme, an empty host, a host
// with blanks or control characters, an unclosed or trailing-junk IPv6 literal, or a port that
// is not a number from 1 to 65535. User info ("user:pw@") and the fragment are dropped: neither
// is ever sent.
std::optional<UrlParts> SplitUrl(std::string_view url);

// The URL again, with its explicit port (user info and fragment are gone).
std::string JoinUrl(const UrlParts& parts);

// The path alone, without query and fragment, of any scheme's URL:
// "quillon://app/index.html?x#y" -> "/index.html"; a bare path keeps its path.
std::string PathOfUrl(const std::string& url);

}  // namespace quillon
