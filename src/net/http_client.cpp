#include "net/http_client.h"

#include "base/log.h"
#include "base/url.h"

namespace quillon {

namespace {

constexpr char kUserAgent[] = "QlnWin/1.0";

}  // namespace

std::string DescribeNetworkError(uint32_t code) {
    switch (code) {
        case 8:
            return "Out of memory";
        case 12002:
            return "Request timed out";
        case 12007:
            return "DNS lookup failed - check internet connection";
        case 12012:
            return "WinHTTP shutdown";
        case 12017:
            return "Operation cancelled";
        case 12029:
            return "Cannot connect to server - check internet connection";
        case 12030:
            return "Connection error - network may be unavailable";
        case 12037:
            return "Server certificate expired";
        case 12038:
            return "Server certificate name mismatch";
        case 12045:
            return "Server certificate from untrusted CA";
        case 12152:
            return "Invalid server response";
        case 12170:
            return "Server certificate revoked";
        case 12175:
            return "SSL/TLS error - certificate may be invalid";
        case 12179:
            return "Server certificate wrong usage";
        default:
            return "Network error " + std::to_string(code);
    }
}

std::string DescribeHttpStatus(int status) {
    switch (status) {
        case 400:
            return "Bad request";
        case 401:
            return "Unauthorized";
        case 403:
            return "Forbidden";
        case 404:
            return "Not found";
        case 408:
            return "Request timeout";
        case 429:
            return "Too many requests";
        case 500:
            return "Internal server error";
        case 501:
            return "Not implemented";
        case 502:
            return "Bad gateway";
        case 503:
            return "Service unavailable";
        case 504:
            return "Gateway timeout";
        default:
            return "HTTP " + std::to_string(status);
    }
}

bool HttpClient::Init() {
    std::lock_guard lock(mutex_);
    if (session_) return true;
    uint32_t error = 0;
    std::unique_ptr<HttpSession> session = http_.OpenSession(kUserAgent, &error);
    if (!session) {
        LogWrite(Error, "Failed to initialize WinHTTP: %lu", static_cast<unsigned long>(error));
        LogWrite(Warn, "Failed to initialize HTTP client - telemetry disabled");
        return false;
    }
    session_ = std::move(session);
    LogWrite(Debug, "HTTP client initialized");
    return true;
}

void HttpClient::Shutdown() {
    std::lock_guard lock(mutex_);
    if (!session_) return;
    session_.reset();
    LogWrite(Debug, "HTTP client shutdown");
}

std::shared_ptr<HttpSession> HttpClient::Session() {
    std::lock_guard lock(mutex_);
    return session_;
}

std::optional<HttpOutcome> HttpClient::Exchange(const HttpExchange& exchange) {
    const std::shared_ptr<HttpSession> session = Session();
    if (!session) return std::nullopt;
    return session->Send(exchange);
}

HttpResponse HttpClient::SendHttpRequest(const HttpRequest& request) {
    HttpResponse response;
    const std::shared_ptr<HttpSession> session = Session();
    if (!session) {
        response.error = "HTTP client not initialized";
        return response;
    }
    if (!SplitUrl(request.url)) {
        response.error = "Invalid URL: " + request.url;
        LogWrite(Error, "Failed to parse URL: %s", request.url.c_str());
        return response;
    }
    HttpExchange exchange;
    exchange.method = request.method;
    exchange.url = request.url;
    exchange.headers.assign(request.headers.begin(), request.headers.end());
    exchange.body = request.body;
    exchange.timeoutMs = request.timeoutMs;
    exchange.maxBodyBytes = request.maxBodyBytes;
    HttpOutcome outcome = session->Send(exchange);
    if (!outcome.received) {
        response.error = DescribeNetworkError(outcome.error);
        // The request never left when nothing was sent yet; otherwise the answer failed.
        const char* format = outcome.timings.requestSentMs > 0
                                 ? "WinHttpReceiveResponse failed: %s (%lu)"
                                 : "WinHttpSendRequest failed: %s (%lu)";
        LogWrite(Error, format, response.error.c_str(), static_cast<unsigned long>(outcome.error));
        return response;
    }
    response.statusCode = outcome.statusCode;
    response.body = std::move(outcome.body);
    response.success = response.statusCode >= 200 && response.statusCode <= 299;
    if (!response.success && response.statusCode != 0) {
        response.error = DescribeHttpStatus(response.statusCode);
    }
    LogWrite(Debug, "HTTP %s %s -> %d (%zu bytes)", request.method.c_str(), request.url.c_str(),
             response.statusCode, response.body.size());
    return response;
}

HttpResponse HttpClient::HttpPost(const std::string& url, const std::string& body,
                                  const std::string& contentType) {
    HttpRequest request;
    request.url = url;
    request.method = "POST";
    request.body = body;
    request.timeoutMs = 10000;
    request.headers["Content-Type"] = contentType;
    return SendHttpRequest(request);
}

}  // namespace quillon
