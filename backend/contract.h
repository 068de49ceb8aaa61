// The wire formats of the backend's endpoints as pure functions (text in, records out and back),
// so that the request handlers stay thin and every rule here is testable without a socket.
//
//   POST /v1/check-in   body: the installation's facts         answer: BuildCheckInAnswer
//   POST /v1/telemetry  body: {"clientId", "events": [...]}     answer: {"accepted": N}
//   POST /v1/logs       body: the log itself (any content type) answer: {"id": N, "bytes": N}
// Errors answer {"error": CODE, "message": TEXT}.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "store.h"

namespace quillon::server {

// A version read the way the desktop app reads one: up to three numbers separated by dots,
// missing parts 0 ("2.0" is 2.0.0), so that both sides agree on what is newer.
struct Version {
    int64_t major = 0;
    int64_t minor = 0;
    int64_t patch = 0;
    auto operator<=>(const Version&) const = default;
};

// Accepts "N", "N.N" or "N.N.N" (each part at most 9 digits), optionally followed by a suffix
// starting with '-' or '+' ("1.2.0-beta"), which does not take part in comparisons.
std::optional<Version> ParseVersion(std::string_view text);
// Only "N.N.N": the form offers and blocked versions are published in.
bool IsReleaseVersion(std::string_view text);

// "2030-01-01T00:00:00Z" for 1893456000.
std::string FormatIso8601Utc(int64_t unixSeconds);

// Reads a check-in body; false and a one-line `problem` when it is not acceptable.
bool ParseCheckIn(std::string_view body, ClientFacts& facts, std::string& problem);

// Reads a telemetry batch; each event's "data" (an Object or a String) is kept as compact JSON.
bool ParseTelemetryBatch(std::string_view body, std::string& clientId,
                         std::vector<TelemetryEventRecord>& events, std::string& problem);

struct CheckInAnswerInputs {
    ClientFacts facts;
    std::string token;
    int64_t tokenExpiresAt = 0;
    std::string telemetryEndpoint;
    std::string logUploadEndpoint;
    std::optional<UpdateOfferRecord> offer;  // the channel's offer, if any
    std::vector<std::string> blockedVersions;
    int64_t now = 0;
};

// Whether `offer` is for a newer version than `appVersion` (which must parse).
bool OfferIsNewer(const UpdateOfferRecord& offer, std::string_view appVersion);

// The check-in answer; "update" only when the offer is newer than the client's version.
std::string BuildCheckInAnswer(const CheckInAnswerInputs& in);

std::string ErrorBody(std::string_view code, std::string_view message);

}  // namespace quillon::server
