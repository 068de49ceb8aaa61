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
constexpr uint32_t kHttpErrorCertificateDate = 12037;       // expired or not yet valid
constexpr uint32_t kHttpErrorCertificateName = 12038;       // not issued for this host
constexpr uint32_t kHttpErrorCertificateAuthority = 12045;  // untrusted or self-signed
constexpr uint32_t kHttpErrorInvalidResponse = 12152;
constexpr uint32_t kHttpErrorRedirectFailed = 12156;  // too many redirects, or a loop
constexpr uint32_t kHttpErrorSecureFailure = 12175;

using HttpHeaders = std::vector<std::pair<std::string, std::string>>;

struct HttpExchange {
    std::string method = "GET";
    std::string url;  // absolute http:// or https:// address
    HttpHeaders headers;
    std::string body;
    uint32_t timeoutMs = 30000;  // for each of resolve, connect, send and receive
    // Upper bound for the whole exchange, so a server that trickles forever still ends it.
    // 0: four times timeoutMs.
    uint32_t totalTimeoutMs = 0;
    bool ignoreCertificateErrors = false;  // only for a gateway's self-signed certificate
    bool followRedirects = true;           // at most 10, as the system client does
    // A new connection, name look-up and TLS handshake for this request alone (probes that
    // measure them); otherwise connections and look-ups may be reused across requests.
    bool freshConnection = false;
    // Body bytes kept in the outcome; the rest is read and counted, then dropped. A probe
    // keeps none.
    size_t maxBodyBytes = 16 * 1024 * 1024;
};

// Milliseconds from the start of the request to the end of each phase; 0 when not reached.
// After redirects every phase, the total included, is counted from the start of the last
// request (the one whose answer is the outcome), and redirectMs is the time spent before it.
struct HttpPhaseTimings {
    double redirectMs = 0;
    double nameResolvedMs = 0;
    double connectedMs = 0;    // TCP connection established
    double tlsDoneMs = 0;      // TLS handshake done; 0 for plain HTTP
    double requestSentMs = 0;  // about to send the request (after connect and TLS)
    double firstByteMs = 0;    // first byte of the response
    double totalMs = 0;        // last byte of the body
};

// The server's own certificate. Names are display names: the common name, or the organisation
// when there is no common name.
struct TlsCertificateInfo {
    bool present = false;  // a certificate was received (also when it failed verification)
    std::string subject;
    std::string issuer;
    int64_t notBeforeUnix = 0;
    int64_t notAfterUnix = 0;
    std::string sha256;  // fingerprint of the certificate's DER bytes, lower-case hex
};

struct HttpOutcome {
    bool received = false;  // a response arrived; false means error holds the reason
    uint32_t error = 0;     // one of the error numbers above (or another system number)
    int statusCode = 0;
    std::string rawHeaders;  // status line and header lines as received
    HttpHeaders headers;
    std::string body;        // at most maxBodyBytes of it
    uint64_t bodyBytes = 0;  // every body byte read, kept or not
    HttpPhaseTimings timings;
    std::string tlsProtocol;  // e.g. "TLS 1.3"; empty for plain HTTP
    std::string tlsCipher;
    TlsCertificateInfo certificate;  // of the server, for HTTPS; also on a certificate error
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
