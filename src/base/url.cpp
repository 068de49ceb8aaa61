#include "base/url.h"

namespace quillon {

namespace {

std::string LowerAscii(std::string_view text) {
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::optional<uint16_t> ParsePort(std::string_view text) {
    if (text.empty() || text.size() > 5) return std::nullopt;
    uint32_t value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        value = value * 10 + static_cast<uint32_t>(c - '0');
    }
    if (value < 1 || value > 65535) return std::nullopt;
    return static_cast<uint16_t>(value);
}

bool HostCharactersOk(std::string_view host) {
    for (const char c : host) {
        const auto u = static_cast<unsigned char>(c);
        if (u <= 0x20 || u == 0x7f) return false;
    }
    return true;
}

}  // namespace

std::optional<UrlParts> SplitUrl(std::string_view url) {
    const size_t schemeEnd = url.find("://");
    if (schemeEnd == std::string_view::npos) return std::nullopt;
    UrlParts parts;
    parts.scheme = LowerAscii(url.substr(0, schemeEnd));
    if (parts.scheme != "http" && parts.scheme != "https") return std::nullopt;
    parts.secure = parts.scheme == "https";

    std::string_view rest = url.substr(schemeEnd + 3);
    rest = rest.substr(0, rest.find('#'));
    const size_t pathStart = rest.find_first_of("/?");
    std::string_view authority = rest.substr(0, pathStart);
    parts.path = pathStart == std::string_view::npos ? "/" : std::string(rest.substr(pathStart));
    // A bare query still asks for the root. (insert here trips GCC 12 -O3 -Wrestrict.)
    if (parts.path.front() == '?') parts.path = "/" + parts.path;

    if (const size_t at = authority.rfind('@'); at != std::string_view::npos) {
        authority.remove_prefix(at + 1);
    }
    if (authority.empty()) return std::nullopt;
    // A bracketed IPv6 literal keeps its colons; only a port may follow it.
    size_t colon = authority.find(':');
    if (authority.front() == '[') {
        const size_t close = authority.find(']');
        if (close == std::string_view::npos || close == 1) return std::nullopt;
        if (close + 1 < authority.size() && authority[close + 1] != ':') return std::nullopt;
        colon = close + 1 < authority.size() ? close + 1 : std::string_view::npos;
    }
    const std::string_view host = authority.substr(0, colon);
    if (host.empty() || !HostCharactersOk(host)) return std::nullopt;
    parts.host = std::string(host);
    if (colon == std::string_view::npos) {
        parts.port = parts.secure ? 443 : 80;
    } else {
        const auto port = ParsePort(authority.substr(colon + 1));
        if (!port) return std::nullopt;
        parts.port = *port;
    }
    return parts;
}

std::string JoinUrl(const UrlParts& parts) {
    return parts.scheme + "://" + parts.host + ":" + std::to_string(parts.port) + parts.path;
}

std::string PathOfUrl(const std::string& url) {
    std::string path = url;
    const size_t scheme = path.find("://");
    if (scheme != std::string::npos) {
        const size_t slash = path.find('/', scheme + 3);
        path = slash == std::string::npos ? "/" : path.substr(slash);
    }
    return path.substr(0, path.find_first_of("?#"));
}

}  // namespace quillon
