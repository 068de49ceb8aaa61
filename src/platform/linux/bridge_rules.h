// Bridge rules: the decisions the headless page bridge makes about each HTTP request, kept as
// pure functions (text in, verdict out) so that tests and fuzzers reach them without a socket.
// The page bridge calls them on its server threads; they hold no state.
//
// What they decide: which Host and Origin headers name this server (against DNS rebinding and
// cross-site requests), which request paths map to a file inside the ui folder, how a posted
// body becomes the one string handed to the application, and how a JSON text is framed as a
// Server-Sent Event.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon::lnx {

// Where the bridge listens: the address as given (127.0.0.1, localhost, ::1, ...) and the port.
struct BridgeEndpoint {
    std::string address;
    uint16_t port = 0;
};

// True for the addresses the bridge may listen on: 127.0.0.0/8, ::1 and localhost.
bool IsLoopbackAddress(std::string_view address);

// The host part of a URL for the address: IPv6 in brackets.
std::string UrlHost(std::string_view address);

// A Host header names this server when its host is the listen address, 127.0.0.1 or localhost
// (any letter case) and its port is ours; the port may be left out only when ours is 80.
bool IsAllowedHost(std::string_view hostHeader, const BridgeEndpoint& endpoint);

// An Origin header names this server when it is exactly "http://" + an allowed host + ":" + our
// port (no path). "null" and every other origin are cross-site.
bool IsAllowedOrigin(std::string_view originHeader, const BridgeEndpoint& endpoint);

// Maps a decoded request path ("/", "/index.html", "/assets/app.js") to a path relative to the
// ui folder ("index.html", "assets/app.js"). A path ending in "/" names its index.html. Empty
// when the path cannot name a file there: not starting with "/", empty segments ("//etc"),
// segments starting with a dot (".." and hidden files), backslashes, control characters.
std::optional<std::string> UiRelativePath(std::string_view requestPath);

// The Content-Type served for a file name, by its extension.
std::string_view ContentTypeFor(std::string_view fileName);

// Compares two tokens in time that does not depend on where they differ.
bool TokensEqual(std::string_view a, std::string_view b);

// The value of one cookie in a Cookie header; empty when absent.
std::string CookieValue(std::string_view cookieHeader, std::string_view name);

// What a POST /bridge/message body means.
enum class MessageVerdict {
    Deliver,      // text holds the one string to hand to the application
    NotAString,   // a JSON value other than a string: ignored, as the page contract says
    Malformed,    // a JSON body that is not one valid JSON value, or text that is not UTF-8
    Unsupported,  // a Content-Type other than text/plain or application/json
};

struct DecodedMessage {
    MessageVerdict verdict = MessageVerdict::Malformed;
    std::string text;
};

// text/plain: the body is the string itself (UTF-8). application/json: the body is the JSON
// encoding of the value the page posted; only a string value is delivered, decoded.
DecodedMessage DecodePageMessage(std::string_view contentType, std::string_view body);

// Decodes one JSON string literal (surrounding blanks allowed) to UTF-8; empty when the text is
// anything else or an invalid literal (raw control characters, bad escapes, lone surrogates).
std::optional<std::string> DecodeJsonString(std::string_view text);

// One Server-Sent Event carrying the text: a "data:" line per line of the text, then a blank
// line. A reader joins the data lines with "\n", which for JSON text is the same value.
std::string FrameEvent(std::string_view text);

}  // namespace quillon::lnx
