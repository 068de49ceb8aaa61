// Fuzzes the headless bridge's request rules: Host and Origin checks, request path to ui file
// mapping, token comparison, cookie reading, posted-message decoding and event framing.
//
// Input: the first byte picks where the bridge listens (address and port); the rest is split
// at '\n' into fields, and every rule is tried on every field. With bit 0x80 of the first byte
// set, the first field is taken as the listen address when it is a loopback address.
//
// Beyond not crashing: the Host and Origin checks accept exactly the texts a plain reference
// (lower-cased, spaces trimmed, set membership) accepts; an accepted Origin's host part is an
// accepted Host; a mapped path is the request path without its "/" (plus "index.html" after a
// trailing "/"), and holds no empty, dot-led, backslash, colon or control-character segment;
// a decoded JSON string encodes back to a literal that decodes to the same text; a framed
// event reads back, as an event-stream reader joins data lines, to the text with its line ends
// made "\n".
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "base/utf8.h"
#include "fuzz_check.h"
#include "platform/linux/bridge_rules.h"

namespace {

using namespace quillon::lnx;

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

std::string_view TrimBlanks(std::string_view s) {
    auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
    while (!s.empty() && blank(s.front())) s.remove_prefix(1);
    while (!s.empty() && blank(s.back())) s.remove_suffix(1);
    return s;
}

// Every spelling of this server's host, as a browser writes it (port in plain decimal).
std::vector<std::string> AllowedHosts(const BridgeEndpoint& endpoint) {
    std::vector<std::string> out;
    for (const std::string& name :
         {std::string("127.0.0.1"), std::string("localhost"), UrlHost(endpoint.address)}) {
        out.push_back(LowerAscii(name) + ":" + std::to_string(endpoint.port));
        if (endpoint.port == 80) out.push_back(LowerAscii(name));
    }
    return out;
}

bool ReferenceHost(std::string_view header, const std::vector<std::string>& allowed) {
    const std::string text = LowerAscii(TrimBlanks(header));
    for (const std::string& a : allowed) {
        if (text == a) return true;
    }
    return false;
}

bool ReferenceOrigin(std::string_view header, const std::vector<std::string>& allowed) {
    const std::string text = LowerAscii(TrimBlanks(header));
    for (const std::string& a : allowed) {
        if (text == "http://" + a) return true;
    }
    return false;
}

void CheckPath(std::string_view path) {
    const std::optional<std::string> relative = UiRelativePath(path);
    bool acceptable = !path.empty() && path.front() == '/';
    std::string expected;
    if (acceptable) {
        expected.assign(path.substr(1));
        if (expected.empty() || expected.back() == '/') expected += "index.html";
        size_t start = 0;
        while (acceptable) {
            const size_t slash = expected.find('/', start);
            const std::string_view segment = std::string_view(expected).substr(
                start, slash == std::string::npos ? std::string::npos : slash - start);
            if (segment.empty() || segment.front() == '.') acceptable = false;
            for (const char c : segment) {
                const auto u = static_cast<unsigned char>(c);
                if (u < 0x20 || u == 0x7f || c == '\\' || c == ':') acceptable = false;
            }
            if (slash == std::string::npos) break;
            start = slash + 1;
        }
        if (!quillon::IsValidUtf8(expected)) acceptable = false;
    }
    Check(relative.has_value() == acceptable);
    if (relative) Check(*relative == expected);
}

// A JSON string literal for UTF-8 text, escaping what must be escaped.
std::string EncodeJsonString(std::string_view text) {
    static const char kHex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : text) {
        const auto u = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (u < 0x20) {
            out += "\\u00";
            out += kHex[u >> 4];
            out += kHex[u & 0xF];
        } else {
            out += c;
        }
    }
    out += '"';
    return out;
}

void CheckJsonString(std::string_view field) {
    const std::optional<std::string> text = DecodeJsonString(field);
    if (text) {
        Check(quillon::IsValidUtf8(*text));
        const std::optional<std::string> again = DecodeJsonString(EncodeJsonString(*text));
        Check(again.has_value() && *again == *text);
    }
    const DecodedMessage json = DecodePageMessage("application/json", field);
    switch (json.verdict) {
        case MessageVerdict::Deliver:
            Check(text.has_value() && json.text == *text);
            break;
        case MessageVerdict::NotAString: {
            const std::string_view trimmed = TrimBlanks(field);
            Check(!trimmed.empty() && trimmed.front() != '"');
            break;
        }
        case MessageVerdict::Malformed:
            Check(!text.has_value());
            break;
        case MessageVerdict::Unsupported:
            Check(false);
    }
    const DecodedMessage plain = DecodePageMessage("Text/Plain; charset=utf-8", field);
    Check(plain.verdict ==
          (quillon::IsValidUtf8(field) ? MessageVerdict::Deliver : MessageVerdict::Malformed));
    if (plain.verdict == MessageVerdict::Deliver) Check(plain.text == field);
    // The field as a Content-Type: only the two media types are understood.
    const DecodedMessage typed = DecodePageMessage(field, "\"x\"");
    const std::string media = LowerAscii(TrimBlanks(field.substr(0, field.find(';'))));
    if (media == "text/plain" || media == "application/json") {
        Check(typed.verdict == MessageVerdict::Deliver);
    } else {
        Check(typed.verdict == MessageVerdict::Unsupported);
    }
}

void CheckFraming(std::string_view text) {
    const std::string event = FrameEvent(text);
    Check(event.size() >= 2 && event.compare(event.size() - 2, 2, "\n\n") == 0);
    // Read it back: lines end at "\n" (FrameEvent writes no "\r"), each is "data: " + payload.
    std::string joined;
    size_t at = 0;
    bool first = true;
    while (at < event.size() - 1) {
        const size_t end = event.find('\n', at);
        Check(end != std::string::npos);
        const std::string_view line = std::string_view(event).substr(at, end - at);
        Check(line.substr(0, 6) == "data: ");
        Check(line.find('\r') == std::string_view::npos);
        if (!first) joined += '\n';
        joined.append(line.substr(6));
        first = false;
        at = end + 1;
    }
    std::string expected;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            expected += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else {
            expected += text[i];
        }
    }
    Check(joined == expected);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    static const char* const kAddresses[] = {"127.0.0.1", "localhost", "::1",
                                             "[::1]",     "127.1.2.3", "LocalHost"};
    static const uint16_t kPorts[] = {43117, 80, 8080, 1};
    const uint8_t selector = data[0];
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);

    std::vector<std::string_view> fields;
    for (size_t start = 0;;) {
        const size_t newline = rest.find('\n', start);
        fields.push_back(rest.substr(
            start, newline == std::string_view::npos ? std::string_view::npos : newline - start));
        if (newline == std::string_view::npos) break;
        start = newline + 1;
    }

    BridgeEndpoint endpoint;
    endpoint.address = kAddresses[(selector & 0x0F) % 6];
    endpoint.port = kPorts[(selector >> 4) & 0x03];
    if ((selector & 0x80) && IsLoopbackAddress(fields.front())) {
        endpoint.address.assign(fields.front());
    }
    const std::vector<std::string> allowed = AllowedHosts(endpoint);
    const std::string cookieName = "quillon_token_" + std::to_string(endpoint.port);

    for (const std::string_view field : fields) {
        const bool host = IsAllowedHost(field, endpoint);
        Check(host == ReferenceHost(field, allowed));
        const bool origin = IsAllowedOrigin(field, endpoint);
        Check(origin == ReferenceOrigin(field, allowed));
        if (origin) Check(IsAllowedHost(TrimBlanks(field).substr(7), endpoint));

        CheckPath(field);
        ContentTypeFor(field);

        Check(TokensEqual(field, field) == !field.empty());
        for (const std::string_view other : fields) {
            Check(TokensEqual(field, other) == (!field.empty() && field == other));
        }

        const std::string cookie = CookieValue(field, cookieName);
        Check(cookie.find(';') == std::string::npos);
        Check(cookie.empty() || field.find(cookie) != std::string_view::npos);
        // A cookie set the way the bridge sets it reads back after any other cookies.
        if (!field.empty() && field.find(';') == std::string_view::npos &&
            TrimBlanks(field) == field && field.front() != '"') {
            Check(CookieValue("a=1; " + cookieName + "=" + std::string(field) + "; b=2",
                              cookieName) == field);
        }

        CheckJsonString(field);
        CheckFraming(field);
    }
    CheckJsonString(rest);
    CheckFraming(rest);
    return 0;
}
