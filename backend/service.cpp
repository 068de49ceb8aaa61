#include "service.h"

#include <httplib.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "contract.h"
#include "tokens.h"

namespace quillon::server {
namespace {

constexpr const char* kJson = "application/json";

void Fail(httplib::Response& res, int status, std::string_view code, std::string_view message) {
    res.status = status;
    res.set_content(ErrorBody(code, message), kJson);
}

void StorageFailed(httplib::Response& res, const std::string& error) {
    std::fprintf(stderr, "storage error: %s\n", error.c_str());
    Fail(res, 500, "internal", "the server could not reach its storage");
}

void TooLarge(httplib::Response& res, size_t limit) {
    Fail(res, 413, "payload_too_large",
         "the body is larger than " + std::to_string(limit) + " bytes");
}

// A Host header fit to be put into a URL: a name or address and an optional port.
bool IsPlainHost(const std::string& host) {
    if (host.empty() || host.size() > 255) return false;
    return std::all_of(host.begin(), host.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
               c == '.' || c == '-' || c == ':' || c == '[' || c == ']';
    });
}

}  // namespace

BackendService::BackendService(Store& store, ServiceOptions options)
    : store_(store), options_(std::move(options)) {
    while (!options_.publicUrl.empty() && options_.publicUrl.back() == '/') {
        options_.publicUrl.pop_back();
    }
}

int64_t BackendService::Now() const {
    return options_.now ? options_.now() : static_cast<int64_t>(std::time(nullptr));
}

void BackendService::Install(httplib::Server& server) const {
    // httplib reads a body up to the largest limit (a longer one it skips and answers 413
    // itself); each endpoint then holds it to its own. Refusing a declared length before
    // reading would leave the body in the connection, to be misread as the next request.
    server.set_payload_max_length(
        std::max({options_.maxCheckInBytes, options_.maxTelemetryBytes, options_.maxLogBytes}));
    // httplib's own refusals (unknown path, oversized body of unknown length, unreadable
    // request) answer in the same JSON form as the handlers' errors.
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (!res.body.empty()) return;
        switch (res.status) {
            case 404:
                return Fail(res, 404, "not_found", "no such endpoint");
            case 405:
                return Fail(res, 405, "method_not_allowed", "method not allowed");
            case 413:
                return Fail(res, 413, "payload_too_large", "the body is too large");
            default:
                return Fail(res, res.status, "bad_request", "the request was refused");
        }
    });

    server.Post(kCheckInPath, [this](const auto& req, auto& res) { CheckIn(req, res); });
    server.Post(kTelemetryPath, [this](const auto& req, auto& res) { Telemetry(req, res); });
    server.Post(kLogUploadPath, [this](const auto& req, auto& res) { LogUpload(req, res); });
    server.Get(kHealthPath, [](const httplib::Request&, httplib::Response& res) {
        res.set_content(R"({"status":"ok"})", kJson);
    });
}

std::string BackendService::BaseUrl(const httplib::Request& req) const {
    if (!options_.publicUrl.empty()) return options_.publicUrl;
    std::string host = req.get_header_value("Host");
    if (!IsPlainHost(host)) {
        bool v6 = req.local_addr.find(':') != std::string::npos;
        host = (v6 ? "[" + req.local_addr + "]" : req.local_addr) + ":" +
               std::to_string(req.local_port);
    }
    return (options_.tls ? "https://" : "http://") + host;
}

void BackendService::CheckIn(const httplib::Request& req, httplib::Response& res) const {
    if (req.body.size() > options_.maxCheckInBytes) return TooLarge(res, options_.maxCheckInBytes);
    ClientFacts facts;
    std::string problem;
    if (!ParseCheckIn(req.body, facts, problem)) return Fail(res, 400, "invalid_request", problem);

    auto token = NewToken();
    if (!token) return Fail(res, 500, "internal", "no random bytes for a token");
    int64_t now = Now();
    TokenRecord record{Sha256Hex(*token), facts.clientId, now, now + options_.tokenLifetimeSeconds};
    CheckInAnswerInputs answer;
    std::string error;
    if (!store_.RecordCheckIn(facts, record, now, error) ||
        !store_.CurrentUpdate(facts.channel, answer.offer, error) ||
        !store_.BlockedVersions(answer.blockedVersions, error)) {
        return StorageFailed(res, error);
    }
    std::string base = BaseUrl(req);
    answer.facts = std::move(facts);
    answer.token = std::move(*token);
    answer.tokenExpiresAt = record.expiresAt;
    answer.telemetryEndpoint = base + kTelemetryPath;
    answer.logUploadEndpoint = base + kLogUploadPath;
    answer.now = now;
    res.set_content(BuildCheckInAnswer(answer), kJson);
}

bool BackendService::Authorize(const httplib::Request& req, httplib::Response& res,
                               std::string& clientId) const {
    auto reject = [&](std::string_view message) {
        res.set_header("WWW-Authenticate", R"(Bearer error="invalid_token")");
        Fail(res, 401, "unauthorized", message);
        return false;
    };
    std::string header = req.get_header_value("Authorization");
    constexpr std::string_view kScheme = "Bearer ";
    if (header.size() <= kScheme.size() ||
        !std::equal(
            kScheme.begin(), kScheme.end(), header.begin(),
            [](unsigned char a, unsigned char b) { return std::tolower(a) == std::tolower(b); })) {
        return reject("a bearer token is required");
    }
    std::optional<TokenRecord> token;
    std::string error;
    if (!store_.FindToken(Sha256Hex(header.substr(kScheme.size())), token, error)) {
        StorageFailed(res, error);
        return false;
    }
    if (!token) return reject("the token is not known");
    if (Now() >= token->expiresAt) return reject("the token has expired");
    clientId = token->clientId;
    return true;
}

void BackendService::Telemetry(const httplib::Request& req, httplib::Response& res) const {
    std::string clientId;
    if (!Authorize(req, res, clientId)) return;
    if (req.body.size() > options_.maxTelemetryBytes) {
        return TooLarge(res, options_.maxTelemetryBytes);
    }
    std::string batchClient, problem;
    std::vector<TelemetryEventRecord> events;
    if (!ParseTelemetryBatch(req.body, batchClient, events, problem)) {
        return Fail(res, 400, "invalid_request", problem);
    }
    if (batchClient != clientId) {
        return Fail(res, 403, "client_mismatch", "the token was issued to another client");
    }
    std::string error;
    if (!store_.AddEvents(clientId, events, Now(), error)) return StorageFailed(res, error);
    res.set_content(R"({"accepted":)" + std::to_string(events.size()) + "}", kJson);
}

void BackendService::LogUpload(const httplib::Request& req, httplib::Response& res) const {
    std::string clientId;
    if (!Authorize(req, res, clientId)) return;
    if (req.body.size() > options_.maxLogBytes) return TooLarge(res, options_.maxLogBytes);
    if (req.body.empty()) return Fail(res, 400, "invalid_request", "the log is empty");
    std::string type = req.get_header_value("Content-Type");
    LogUploadRecord upload{
        clientId, type.empty() ? "application/octet-stream" : type.substr(0, 128), req.body, Now()};
    int64_t id = 0;
    std::string error;
    if (!store_.AddLogUpload(upload, id, error)) return StorageFailed(res, error);
    res.set_content(
        R"({"id":)" + std::to_string(id) + R"(,"bytes":)" + std::to_string(req.body.size()) + "}",
        kJson);
}

}  // namespace quillon::server
