#include "platform/linux/bridge_rules.h"

#include <array>
#include <charconv>

#include "base/standard_numbers.h"
#include "base/utf8.h"

namespace quillon::lnx {

namespace {

char Lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (Lower(a[i]) != Lower(b[i])) return false;
    }
    return true;
}

std::string_view Trim(std::string_view s) {
    while (!s.empty() &&
           (s.front() == ' ' || s.front() == '\t' || s.front() == '\r' || s.front() == '\n')) {
        s.remove_prefix(1);
    }
    while (!s.empty() &&
           (s.back() == ' ' || s.back() == '\t' || s.back() == '\r' || s.back() == '\n')) {
        s.remove_suffix(1);
    }
    return s;
}

// Splits "host:port" or "[v6]:port"; the host keeps its brackets. Port text may be empty.
bool SplitHostPort(std::string_view text, std::string_view& host, std::string_view& port,
                   bool& hasPort) {
    hasPort = false;
    if (text.empty()) return false;
    size_t hostEnd;
    if (text.front() == '[') {
        const size_t close = text.find(']');
        if (close == std::string_view::npos) return false;
        hostEnd = close + 1;
    } else {
        const size_t colon = text.find(':');
        hostEnd = colon == std::string_view::npos ? text.size() : colon;
    }
    host = text.substr(0, hostEnd);
    if (hostEnd == text.size()) return !host.empty();
    if (text[hostEnd] != ':') return false;
    port = text.substr(hostEnd + 1);
    hasPort = true;
    return !host.empty();
}

// The port as a browser writes it: plain decimal without leading zeros.
bool PortMatches(std::string_view portText, bool hasPort, uint16_t port) {
    if (!hasPort) return port == 80;
    if (portText.empty() || portText.size() > 5) return false;
    if (portText.size() > 1 && portText.front() == '0') return false;
    unsigned value = 0;
    const auto [end, ec] =
        std::from_chars(portText.data(), portText.data() + portText.size(), value);
    return ec == std::errc() && end == portText.data() + portText.size() && value == port;
}

bool IsAllowedHostName(std::string_view host, const BridgeEndpoint& endpoint) {
    return EqualsNoCase(host, "127.0.0.1") || EqualsNoCase(host, "localhost") ||
           EqualsNoCase(host, UrlHost(endpoint.address));
}

bool ParseDottedQuad(std::string_view s, std::array<unsigned, 4>& parts) {
    for (size_t i = 0; i < 4; ++i) {
        const size_t dot = i < 3 ? s.find('.') : s.size();
        if (dot == std::string_view::npos || dot == 0 || dot > 3) return false;
        const auto [end, ec] = std::from_chars(s.data(), s.data() + dot, parts[i]);
        if (ec != std::errc() || end != s.data() + dot || parts[i] > 255) return false;
        s.remove_prefix(i < 3 ? dot + 1 : dot);
    }
    return s.empty();
}

bool ReadHex4(std::string_view s, size_t at, char32_t& out) {
    if (at + 4 > s.size()) return false;
    out = 0;
    for (size_t i = at; i < at + 4; ++i) {
        const int v = HexDigitValue(s[i]);
        if (v < 0) return false;
        out = out * 16 + static_cast<char32_t>(v);
    }
    return true;
}

// The media type without parameters, lower-cased: "Text/Plain; charset=utf-8" -> "text/plain".
std::string MediaType(std::string_view contentType) {
    const size_t semicolon = contentType.find(';');
    std::string out(Trim(contentType.substr(0, semicolon)));
    for (char& c : out) c = Lower(c);
    return out;
}

}  // namespace

bool IsLoopbackAddress(std::string_view address) {
    if (EqualsNoCase(address, "localhost") || address == "::1" || address == "[::1]") return true;
    std::array<unsigned, 4> parts{};
    return ParseDottedQuad(address, parts) && parts[0] == 127;
}

std::string UrlHost(std::string_view address) {
    std::string out;
    const bool bare6 = address.find(':') != std::string_view::npos && address.front() != '[';
    out.reserve(address.size() + 2);
    if (bare6) out += '[';
    out.append(address);
    if (bare6) out += ']';
    return out;
}

bool IsAllowedHost(std::string_view hostHeader, const BridgeEndpoint& endpoint) {
    std::string_view host, port;
    bool hasPort = false;
    if (!SplitHostPort(Trim(hostHeader), host, port, hasPort)) return false;
    return IsAllowedHostName(host, endpoint) && PortMatches(port, hasPort, endpoint.port);
}

bool IsAllowedOrigin(std::string_view originHeader, const BridgeEndpoint& endpoint) {
    std::string_view origin = Trim(originHeader);
    constexpr std::string_view kScheme = "http://";
    if (origin.size() <= kScheme.size() ||
        !EqualsNoCase(origin.substr(0, kScheme.size()), kScheme)) {
        return false;
    }
    origin.remove_prefix(kScheme.size());
    if (origin.find('/') != std::string_view::npos || origin.find('@') != std::string_view::npos) {
        return false;
    }
    std::string_view host, port;
    bool hasPort = false;
    if (!SplitHostPort(origin, host, port, hasPort)) return false;
    return IsAllowedHostName(host, endpoint) && PortMatches(port, hasPort, endpoint.port);
}

std::optional<std::string> UiRelativePath(std::string_view requestPath) {
    if (requestPath.empty() || requestPath.front() != '/') return std::nullopt;
    std::string relative(requestPath.substr(1));
    if (relative.empty() || relative.back() == '/') relative += "index.html";
    std::string_view rest = relative;
    while (true) {
        const size_t slash = rest.find('/');
        const std::string_view segment = rest.substr(0, slash);
        if (segment.empty() || segment.front() == '.') return std::nullopt;
        for (const char c : segment) {
            const auto u = static_cast<unsigned char>(c);
            if (u < 0x20 || u == 0x7f || c == '\\' || c == ':') return std::nullopt;
        }
        if (slash == std::string_view::npos) break;
        rest.remove_prefix(slash + 1);
    }
    if (!IsValidUtf8(relative)) return std::nullopt;
    return relative;
}

std::string_view ContentTypeFor(std::string_view fileName) {
    struct Entry {
        std::string_view extension;
        std::string_view type;
    };
    static constexpr Entry kTypes[] = {
        {".html", "text/html; charset=utf-8"},
        {".htm", "text/html; charset=utf-8"},
        {".js", "text/javascript; charset=utf-8"},
        {".mjs", "text/javascript; charset=utf-8"},
        {".css", "text/css; charset=utf-8"},
        {".json", "application/json"},
        {".map", "application/json"},
        {".txt", "text/plain; charset=utf-8"},
        {".svg", "image/svg+xml"},
        {".png", "image/png"},
        {".jpg", "image/jpeg"},
        {".jpeg", "image/jpeg"},
        {".gif", "image/gif"},
        {".webp", "image/webp"},
        {".ico", "image/x-icon"},
        {".woff", "font/woff"},
        {".woff2", "font/woff2"},
        {".ttf", "font/ttf"},
        {".wasm", "application/wasm"},
    };
    const size_t dot = fileName.rfind('.');
    const size_t slash = fileName.rfind('/');
    if (dot != std::string_view::npos && (slash == std::string_view::npos || dot > slash)) {
        const std::string_view extension = fileName.substr(dot);
        for (const Entry& e : kTypes) {
            if (EqualsNoCase(extension, e.extension)) return e.type;
        }
    }
    return "application/octet-stream";
}

bool TokensEqual(std::string_view a, std::string_view b) {
    unsigned char diff = a.size() == b.size() ? 0 : 1;
    const size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        diff |= static_cast<unsigned char>(a[i] ^ b[i]);
    }
    return diff == 0 && !a.empty();
}

std::string CookieValue(std::string_view cookieHeader, std::string_view name) {
    std::string_view rest = cookieHeader;
    while (!rest.empty()) {
        const size_t semicolon = rest.find(';');
        const std::string_view pair = Trim(rest.substr(0, semicolon));
        const size_t equals = pair.find('=');
        if (equals != std::string_view::npos && Trim(pair.substr(0, equals)) == name) {
            std::string_view value = Trim(pair.substr(equals + 1));
            if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
                value = value.substr(1, value.size() - 2);
            }
            return std::string(value);
        }
        if (semicolon == std::string_view::npos) break;
        rest.remove_prefix(semicolon + 1);
    }
    return {};
}

DecodedMessage DecodePageMessage(std::string_view contentType, std::string_view body) {
    const std::string type = MediaType(contentType);
    DecodedMessage out;
    if (type == "text/plain") {
        if (!IsValidUtf8(body)) return out;
        out.verdict = MessageVerdict::Deliver;
        out.text.assign(body);
        return out;
    }
    if (type != "application/json") {
        out.verdict = MessageVerdict::Unsupported;
        return out;
    }
    const std::string_view value = Trim(body);
    if (value.empty()) return out;
    if (value.front() != '"') {
        // An object, array, number, literal (or something unreadable): not a string, so the
        // application never sees it.
        out.verdict = MessageVerdict::NotAString;
        return out;
    }
    std::optional<std::string> text = DecodeJsonString(value);
    if (!text) return out;
    out.verdict = MessageVerdict::Deliver;
    out.text = std::move(*text);
    return out;
}

std::optional<std::string> DecodeJsonString(std::string_view text) {
    const std::string_view s = Trim(text);
    if (s.size() < 2 || s.front() != '"' || s.back() != '"') return std::nullopt;
    std::string out;
    out.reserve(s.size());
    size_t i = 1;
    const size_t end = s.size() - 1;
    while (i < end) {
        const char c = s[i];
        if (static_cast<unsigned char>(c) < 0x20) return std::nullopt;
        if (c == '"') return std::nullopt;  // an unescaped quote ends the literal early
        if (c != '\\') {
            out += c;
            ++i;
            continue;
        }
        if (i + 1 >= end) return std::nullopt;
        const char e = s[i + 1];
        i += 2;
        switch (e) {
            case '"':
                out += '"';
                break;
            case '\\':
                out += '\\';
                break;
            case '/':
                out += '/';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'u': {
                char32_t unit = 0;
                if (!ReadHex4(s.substr(0, end), i, unit)) return std::nullopt;
                i += 4;
                if (unit >= 0xDC00 && unit <= 0xDFFF) return std::nullopt;
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    char32_t low = 0;
                    if (i + 6 > end || s[i] != '\\' || s[i + 1] != 'u' ||
                        !ReadHex4(s.substr(0, end), i + 2, low) || low < 0xDC00 || low > 0xDFFF) {
                        return std::nullopt;
                    }
                    i += 6;
                    unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                }
                AppendUtf8(out, unit);
                break;
            }
            default:
                return std::nullopt;
        }
    }
    if (!IsValidUtf8(out)) return std::nullopt;
    return out;
}

std::string FrameEvent(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 16);
    size_t i = 0;
    while (true) {
        size_t lineEnd = i;
        while (lineEnd < text.size() && text[lineEnd] != '\n' && text[lineEnd] != '\r') ++lineEnd;
        out += "data: ";
        out.append(text.substr(i, lineEnd - i));
        out += '\n';
        if (lineEnd >= text.size()) break;
        // "\r\n" is one line end, as an event-stream reader sees it.
        i = lineEnd +
            ((text[lineEnd] == '\r' && lineEnd + 1 < text.size() && text[lineEnd + 1] == '\n') ? 2
                                                                                               : 1);
    }
    out += '\n';
    return out;
}

}  // namespace quillon::lnx
