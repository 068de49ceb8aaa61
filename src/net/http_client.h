// HttpClient: the application's one HTTP session, shared by everything that talks HTTP (web
// service probes, and later the backend, the geolocation service and the gateway). It opens
// the session once at start-up, sends synchronous requests on it from any thread, and turns
// the platform's error numbers and HTTP statuses into the short texts callers log and show.
//
// Init and Shutdown run on the UI thread at start-up and shutdown; requests may come from any
// thread between them (a request racing Shutdown finishes on the session it started with).
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/http.h"

namespace quillon {

struct HttpRequest {
    std::string url;  // absolute
    std::string method = "GET";
    std::map<std::string, std::string> headers;  // sent in key order
    std::string body;
    uint32_t timeoutMs = 30000;  // for each of resolve, connect, send and receive
    size_t maxBodyBytes = 16 * 1024 * 1024;  // body bytes kept; the rest is dropped
};

struct HttpResponse {
    int statusCode = 0;  // 0 when no response arrived
    std::string body;
    bool success = false;  // status 200..299
    std::string error;     // empty, or what went wrong in a few words
};

// The text for a platform error number of the Http port ("Request timed out", ...).
std::string DescribeNetworkError(uint32_t code);
// The text for a status outside 200..299 ("Not found", "HTTP 302", ...).
std::string DescribeHttpStatus(int status);

class HttpClient {
public:
    explicit HttpClient(Http& http) : http_(http) {}

    // Opens the session (once); false when the platform could not, and every request then
    // fails with "HTTP client not initialized".
    bool Init();
    void Shutdown();

    HttpResponse SendHttpRequest(const HttpRequest& request);
    HttpResponse HttpPost(const std::string& url, const std::string& body,
                          const std::string& contentType);

    // One exchange with every detail the platform gives (timings, TLS, certificate), for
    // callers that measure rather than fetch. Nothing when the session is not open.
    std::optional<HttpOutcome> Exchange(const HttpExchange& exchange);

private:
    std::shared_ptr<HttpSession> Session();

    Http& http_;
    std::mutex mutex_;
    std::shared_ptr<HttpSession> session_;
};

}  // namespace quillon
