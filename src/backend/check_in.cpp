#include "backend/check_in.h"

#include "base/json_value.h"
#include "base/log.h"
#include "base/url.h"
#include "net/http_client.h"
#include "platform/clock.h"

namespace quillon {

namespace {

// The member's text when it is a string of sane length; nothing otherwise.
std::optional<std::string> Text(const JsonValue& object, std::string_view key) {
    const JsonValue& value = object.member(key);
    if (value.type() != JsonType::String || value.asString().size() > CheckIn::kMaxValueBytes) {
        return std::nullopt;
    }
    return value.asString();
}

std::optional<std::string> Url(const JsonValue& object, std::string_view key) {
    std::optional<std::string> text = Text(object, key);
    if (text && !text->empty() &&
        (!SplitUrl(*text) || text->find_first_of(" \r\n") != std::string::npos)) {
        return std::nullopt;
    }
    return text;
}

// The characters of a bearer token: letters, digits, - . _ ~ + / and trailing '='.
bool IsBearerToken(std::string_view token) {
    if (token.empty()) return false;
    size_t end = token.size();
    while (end > 0 && token[end - 1] == '=') --end;
    for (size_t i = 0; i < end; ++i) {
        const char c = token[i];
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '.' || c == '_' || c == '~' ||
                        c == '+' || c == '/';
        if (!ok) return false;
    }
    return end > 0;
}

}  // namespace

CheckInAnswer ReadCheckInAnswer(std::string_view body) {
    CheckInAnswer answer;
    JsonValue root;
    try {
        if (body.size() <= CheckIn::kMaxAnswerBytes) root = JsonValue::parse(body);
    } catch (const std::exception&) {
        return answer;
    }
    if (root.type() != JsonType::Object) return answer;
    answer.valid = true;
    const JsonValue& config = root.member("config");
    const JsonValue& telemetry = config.member("telemetry");
    if (telemetry.type() == JsonType::Object) {
        answer.hasTelemetry = true;
        answer.endpoint = Url(telemetry, "endpoint");
        answer.token = Text(telemetry, "token");
        if (answer.token && !answer.token->empty() && !IsBearerToken(*answer.token)) {
            answer.token.reset();
        }
        if (const auto at = Text(telemetry, "tokenExpiresAt")) {
            answer.tokenExpiresAt = ParseIso8601(*at);
        }
    }
    answer.logUploadEndpoint = Url(config.member("logUpload"), "endpoint");
    return answer;
}

CheckIn::CheckIn(HttpClient& http, Clock& clock, AppConfig config, ClientIdentity identity,
                 TelemetryCredentialStore& credentials)
    : http_(http),
      clock_(clock),
      config_(std::move(config)),
      identity_(std::move(identity)),
      credentials_(credentials) {}

std::string CheckIn::RequestBody() const {
    JsonValue body;
    body["appVersion"] = identity_.appVersion;
    body["arch"] = identity_.arch;
    body["channel"] = config_.channel;
    body["clientId"] = identity_.clientId;
    if (!config_.mspId.empty()) body["mspId"] = config_.mspId;
    if (!config_.orgId.empty()) body["orgId"] = config_.orgId;
    body["os"] = identity_.os;
    body["osVersion"] = identity_.osVersion;
    return body.dump();
}

bool CheckIn::Run() {
    const std::string url = CheckInUrl(config_);
    if (url.empty()) return false;
    LogWrite(Info, "Performing C2 check-in to %s", url.c_str());
    HttpRequest request;
    request.url = url;
    request.method = "POST";
    request.body = RequestBody();
    request.headers["Content-Type"] = "application/json";
    request.timeoutMs = 10000;
    request.maxBodyBytes = kMaxAnswerBytes + 1;
    const HttpResponse response = http_.SendHttpRequest(request);
    if (!response.success) {
        LogWrite(Warn, "Check-in failed: %s (status %d)", response.error.c_str(),
                 response.statusCode);
        return false;
    }
    const CheckInAnswer answer = ReadCheckInAnswer(response.body);
    if (!answer.valid) {
        LogWrite(Warn, "Check-in response is not valid JSON");
        return false;
    }

    if (answer.hasTelemetry) {
        TelemetryCredentials next = credentials_.Get();
        if (answer.endpoint) next.endpoint = *answer.endpoint;
        if (answer.token) next.token = *answer.token;
        if (const auto at = answer.tokenExpiresAt) {
            if (*at <= 0 || *at > UINT32_MAX) {
                next.tokenExpires = static_cast<uint32_t>(clock_.UnixSeconds() + 86400);
            } else {
                next.tokenExpires = static_cast<uint32_t>(*at);
                LogWrite(Debug, "Token expires at %lu (parsed from ISO8601)",
                         static_cast<unsigned long>(next.tokenExpires));
            }
        }
        next.active = !next.endpoint.empty() && !next.token.empty();
        if (next.active) {
            credentials_.Save(next);
            LogWrite(Info, "Check-in successful, telemetry enabled");
        } else {
            credentials_.SetActive(false);
        }
    } else {
        credentials_.SetActive(false);
        LogWrite(Info, "Check-in successful, telemetry disabled");
    }

    if (const auto& endpoint = answer.logUploadEndpoint) {
        {
            std::lock_guard lock(mutex_);
            logUploadEndpoint_ = *endpoint;
        }
        if (endpoint->empty()) {
            LogWrite(Debug, "Log upload disabled");
        } else {
            LogWrite(Debug, "Log upload endpoint set: %s", endpoint->c_str());
        }
        LogWrite(Debug, "Log upload endpoint configured");
    }

    std::function<void(const std::string&)> handler;
    {
        std::lock_guard lock(mutex_);
        handler = onAnswer_;
    }
    if (handler) handler(response.body);
    return true;
}

std::string CheckIn::LogUploadEndpoint() {
    std::lock_guard lock(mutex_);
    return logUploadEndpoint_;
}

void CheckIn::SetAnswerHandler(std::function<void(const std::string&)> handler) {
    std::lock_guard lock(mutex_);
    onAnswer_ = std::move(handler);
}

}  // namespace quillon
