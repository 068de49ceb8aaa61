// Http: HTTPS and HTTP requests for the backend, the geolocation service, the vendor list
// download, web service probes and the gateway's local API. Error numbers keep the WinHTTP
// vocabulary (12002 time-out, 12007 name not resolved, 12029 cannot connect, 12175 secure
// channel failure, ...) so that the core turns them into the same texts on every platform.
// A session may be used from several threads; each Send is synchronous.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace quillon {

constexpr uint32_t kHttpErrorTimeout = 12002;
constexpr uint32_t kHttpErrorInternal = 12004;
constexpr uint32_t kHttpErrorInvalidUrl = 12005;
constexpr uint32_t kHttpErrorNameNotResolved = 12007;
constexpr uint32_t kHttpErrorCannotConnect = 12029;
constexpr uint32_t kHttpErrorConnectionError = 12030;
constexpr uint32_t kHttpErrorSecureFailure = 12175;

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpExchange {
    std::string method = "GET";
    std::string url;  // absolute http:// or https:// address
    HttpHeaders headers;
    std::string body;
    uint32_t timeoutMs = 30000;          // for each of resolve, connect, send and receive
    bool ignoreCertificateErrors = false;  // only for a gateway's self-signed certificate
};

// Milliseconds from the start of the request to the end of each phase; 0 when not reached.
struct HttpPhaseTimings {
    double nameResolvedMs = 0;
    double connectedMs = 0;
    double tlsDoneMs = 0;
    double firstByteMs = 0;
    double totalMs = 0;
};

struct TlsCertificateInfo {
    std::string subject;
    std::string issuer;
    int64_t notBeforeUnix = 0;
    int64_t notAfterUnix = 0;
};

struct HttpOutcome {
    bool received = false;  // a response arrived; false means error holds the reason
    uint32_t error = 0;     // one of the error numbers above (or another system number)
    int statusCode = 0;
    std::string rawHeaders;  // status line and header lines as received
    HttpHeaders headers;
    std::string body;
    HttpPhaseTimings timings;
    std::string tlsProtocol;  // e.g. "TLS 1.3"; empty for plain HTTP
    std::string tlsCipher;
    TlsCertificateInfo certificate;  // of the server, for HTTPS
};

class HttpSession {
public:
    virtual ~HttpSession() = default;
    // Sends one request and reads the whole response. Connections may be reused.
    virtual HttpOutcome Send(const HttpExchange& exchange) = 0;
};

class Http {
public:
    virtual ~Http() = default;
    // Opens a session with a user agent; HTTP/2 is used where the server offers it. Null on
    // failure with the system error in *error.
    virtual std::unique_ptr<HttpSession> OpenSession(const std::string& userAgent,
                                                     uint32_t* error) = 0;
};

}  // namespace quillon
