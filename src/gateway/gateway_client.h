// GatewayClient: the home gateway's local web API, for a console whose maker we recognise.
// Recognition asks "/api/system" unauthenticated; sign-in posts the user's name and password
// (and a one-time code when the gateway asks for one) to "/api/auth/login", keeps the session
// cookie and the CSRF token carried in the session token; the session check asks
// "/api/users/self". Everything goes over HTTPS to port 443 of the gateway's address, and the
// gateway's own certificate is accepted although no authority vouches for it: instead its
// SHA-256 fingerprint is reported with every answer, so a caller can notice when it changes.
//
// Blocking; one thread at a time per client (the gateway bridge's worker). No lock.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "path/state_sources.h"

namespace quillon {

class Http;
class HttpSession;
struct HttpOutcome;
struct GatewayCredentials;

enum class GatewayLogin {
    Success = 0,
    BadCredentials = 1,
    CodeRequired = 2,
    NetworkError = 3,  // no answer
    Failed = 4,        // any other answer
    Locked = 5,        // too many attempts: the gateway refuses for a while
    TooLong = 6,       // a name, password or code too long to send whole; nothing was sent
};

struct GatewayResponse {
    uint32_t statusCode = 0;  // 0: no answer
    std::string body;
    std::string certificateSha256;  // of the certificate the gateway showed; empty for none
};

// Requests to the gateway wait this long for each step.
inline constexpr uint32_t kGatewayTimeoutMs = 10000;
// Recognition asks every gateway with a matching maker prefix, so it gives up sooner.
inline constexpr uint32_t kGatewayDetectTimeoutMs = 5000;
// Limits of what is sent at sign-in, in UTF-8 bytes.
inline constexpr size_t kMaxGatewayNameBytes = 255;
inline constexpr size_t kMaxGatewayCodeBytes = 15;

// The hardware address (any letter case) starts with one of the maker's prefixes.
bool IsUniFiMac(std::string_view mac);
// A plain reader of one field of a gateway's JSON answer: the first `"key"` anywhere in the
// text, then its string value (decoded) or "true"/"false"; empty for anything else.
std::string ExtractJsonValue(std::string_view text, std::string_view key);
// The CSRF token a session token (a web token) carries in its payload; empty when it is not a
// web token or carries none.
std::string CsrfTokenFromSessionToken(std::string_view token);
// The sign-in body: the compact JSON object of the user name, password, rememberMe and, when
// not empty, the one-time code.
std::string GatewayLoginBody(std::string_view username, std::string_view password,
                             std::string_view code);
// The gateway's description when `body` (its "/api/system" answer) is a UniFi console's.
std::optional<UnifiSystemInfo> ReadUniFiSystem(std::string_view body);
// Asks the gateway at this address to describe itself; the description when it answers as a
// UniFi console. Opens a session of its own; blocks for up to the detection time-outs.
std::optional<UnifiSystemInfo> DetectUniFiGateway(Http& http, const std::string& address);
// A host text fit for a gateway's address: a name or an IPv4 address, nothing that could
// change the meaning of the request's address.
bool IsGatewayHostText(std::string_view host);

class GatewayClient {
public:
    explicit GatewayClient(Http& http);
    ~GatewayClient();
    GatewayClient(const GatewayClient&) = delete;
    GatewayClient& operator=(const GatewayClient&) = delete;

    // A fresh session to `host`: earlier connections, cookies and tokens are dropped. False when
    // no session could be opened or the host text is not an address.
    bool Connect(const std::string& host);
    bool Connected() const { return session_ != nullptr; }
    const std::string& Host() const { return host_; }

    GatewayLogin Login(const std::string& username, const std::string& password,
                       const std::string& code);
    // Whether the saved session still holds; false without a request when it lacks a token or
    // CSRF token. A refused session's tokens are dropped.
    bool CheckSession(const GatewayCredentials& saved);
    // One request with the session's cookie and CSRF token; status 0 without a connection.
    GatewayResponse Send(const std::string& verb, const std::string& path, const std::string& body);

    bool Authenticated() const { return authenticated_; }
    const std::string& Token() const { return token_; }
    const std::string& CsrfToken() const { return csrfToken_; }
    // The fingerprint of the certificate of the latest answer; empty before one.
    const std::string& CertificateSha256() const { return certificateSha256_; }
    // Whether the latest request got an answer at all (any status): false when the gateway
    // could not be reached or did not answer in time.
    bool Answered() const { return answered_; }

private:
    HttpOutcome Exchange(const std::string& verb, const std::string& path, const std::string& body);

    Http& http_;
    std::unique_ptr<HttpSession> session_;
    std::string host_;
    std::string csrfToken_;
    std::string cookieHeader_;
    std::string token_;
    std::string certificateSha256_;
    bool authenticated_ = false;
    bool answered_ = false;
};

}  // namespace quillon
