// CheckIn: the installation's check-in with the backend. It posts the identity (client id,
// version, platform, channel, registration) to "<base>/v1/check-in" and takes from the answer
// the telemetry endpoint, bearer token and its expiry (stored through the credential store),
// the log-upload endpoint, and hands the whole answer to whoever reads update offers from it.
//
// Run is synchronous (one HTTPS request, 10 s time-outs): the application calls it on a worker
// at start-up, and telemetry calls it again when the backend rejects the token. It may run on
// two threads at once; the credential store has its own lock and the rest is under mutex_.
#pragma once

#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "backend/app_config.h"
#include "backend/identity.h"

namespace quillon {

class Clock;
class HttpClient;

// What a check-in answer says, read without acting on it. Values that could not be used are
// absent: an endpoint that is not an http(s) URL, a token with characters a bearer token
// cannot have (it goes into a request header), any text longer than kMaxValueBytes.
struct CheckInAnswer {
    bool valid = false;         // the answer is a JSON object
    bool hasTelemetry = false;  // it carries config.telemetry
    std::optional<std::string> endpoint;
    std::optional<std::string> token;
    std::optional<int64_t> tokenExpiresAt;  // Unix seconds; 0 when given but not a time
    std::optional<std::string> logUploadEndpoint;
};
CheckInAnswer ReadCheckInAnswer(std::string_view body);

class CheckIn {
public:
    CheckIn(HttpClient& http, Clock& clock, AppConfig config, ClientIdentity identity,
            TelemetryCredentialStore& credentials);

    // True when the backend answered with a success status and a JSON object.
    bool Run();

    // The check-in's body: compact JSON, members in key order, mspId/orgId only when set.
    std::string RequestBody() const;

    std::string LogUploadEndpoint();
    // Called with every accepted answer's text (update offers are read from it).
    void SetAnswerHandler(std::function<void(const std::string&)> handler);

    const AppConfig& Config() const { return config_; }
    const ClientIdentity& Identity() const { return identity_; }

    // An answer is a few kilobytes; far more is not one.
    static constexpr size_t kMaxAnswerBytes = 256 * 1024;
    // Longer values are not an endpoint or a token.
    static constexpr size_t kMaxValueBytes = 4096;

private:
    HttpClient& http_;
    Clock& clock_;
    const AppConfig config_;
    const ClientIdentity identity_;
    TelemetryCredentialStore& credentials_;

    std::mutex mutex_;
    std::string logUploadEndpoint_;
    std::function<void(const std::string&)> onAnswer_;
};

}  // namespace quillon
