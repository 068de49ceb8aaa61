#include "contract.h"

#include <ctime>
#include <nlohmann/json.hpp>

namespace quillon::server {
namespace {

using Json = nlohmann::json;

constexpr size_t kMaxFactBytes = 256;
constexpr size_t kMaxIdBytes = 128;
constexpr size_t kMaxEventTypeBytes = 128;

// Answers must not fail on text a client sent: invalid UTF-8 cannot reach here (the parser
// rejects it), but replacing rather than throwing keeps that a non-question.
std::string Dump(const Json& j) {
    return j.dump(-1, ' ', false, Json::error_handler_t::replace);
}

bool ReadDigits(std::string_view text, size_t& pos, int64_t& value) {
    size_t start = pos;
    value = 0;
    while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && pos - start < 9) {
        value = value * 10 + (text[pos] - '0');
        ++pos;
    }
    return pos > start && (pos == text.size() || text[pos] < '0' || text[pos] > '9');
}

bool IsIdCharacter(char c) {
    return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || c == '-' ||
           c == '_' || c == '.';
}

// A String member; `required` ones must be present and, when `nonEmpty`, not empty.
bool ReadString(const Json& object, const char* key, bool required, bool nonEmpty, size_t maxBytes,
                std::string& out, std::string& problem) {
    auto it = object.find(key);
    if (it == object.end()) {
        if (!required) return true;
        problem = std::string("\"") + key + "\" is missing";
        return false;
    }
    if (!it->is_string()) {
        problem = std::string("\"") + key + "\" is not a string";
        return false;
    }
    out = it->get<std::string>();
    if (nonEmpty && out.empty()) {
        problem = std::string("\"") + key + "\" is empty";
        return false;
    }
    if (out.size() > maxBytes) {
        problem =
            std::string("\"") + key + "\" is longer than " + std::to_string(maxBytes) + " bytes";
        return false;
    }
    return true;
}

Json OfferJson(const UpdateOfferRecord& offer) {
    Json artifacts = Json::array();
    for (const auto& a : offer.artifacts) {
        artifacts.push_back({{"platform", a.platform}, {"url", a.url}, {"signature", a.signature}});
    }
    return {{"available", true},
            {"targetVersion", offer.version},
            {"urgency", offer.urgency},
            {"releaseNotes", offer.releaseNotes},
            {"releaseNotesUrl", offer.releaseNotesUrl},
            {"artifacts", std::move(artifacts)},
            {"publishedAt", FormatIso8601Utc(offer.publishedAt)}};
}

}  // namespace

std::optional<Version> ParseVersion(std::string_view text) {
    Version v;
    int64_t* parts[] = {&v.major, &v.minor, &v.patch};
    size_t pos = 0;
    for (int i = 0; i < 3; ++i) {
        if (!ReadDigits(text, pos, *parts[i])) return std::nullopt;
        if (pos == text.size() || text[pos] != '.' || i == 2) break;
        ++pos;
    }
    if (pos == text.size()) return v;
    if (text[pos] != '-' && text[pos] != '+') return std::nullopt;
    return pos + 1 < text.size() ? std::optional(v) : std::nullopt;
}

bool IsReleaseVersion(std::string_view text) {
    size_t pos = 0;
    int64_t ignored;
    for (int i = 0; i < 3; ++i) {
        if (!ReadDigits(text, pos, ignored)) return false;
        if (i < 2) {
            if (pos == text.size() || text[pos] != '.') return false;
            ++pos;
        }
    }
    return pos == text.size();
}

std::string FormatIso8601Utc(int64_t unixSeconds) {
    std::time_t t = static_cast<std::time_t>(unixSeconds);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

bool ParseCheckIn(std::string_view body, ClientFacts& f, std::string& problem) {
    Json root = Json::parse(body, nullptr, false);
    if (root.is_discarded()) {
        problem = "the body is not JSON";
        return false;
    }
    if (!root.is_object()) {
        problem = "the body is not a JSON object";
        return false;
    }
    if (!ReadString(root, "clientId", true, true, kMaxIdBytes, f.clientId, problem) ||
        !ReadString(root, "appVersion", true, true, kMaxFactBytes, f.appVersion, problem) ||
        !ReadString(root, "os", true, false, kMaxFactBytes, f.os, problem) ||
        !ReadString(root, "osVersion", true, false, kMaxFactBytes, f.osVersion, problem) ||
        !ReadString(root, "arch", true, false, kMaxFactBytes, f.arch, problem) ||
        !ReadString(root, "channel", true, true, kMaxFactBytes, f.channel, problem) ||
        !ReadString(root, "mspId", false, false, kMaxIdBytes, f.mspId, problem) ||
        !ReadString(root, "orgId", false, false, kMaxIdBytes, f.orgId, problem)) {
        return false;
    }
    for (char c : f.clientId) {
        if (!IsIdCharacter(c)) {
            problem = "\"clientId\" holds characters other than letters, digits, '-', '_', '.'";
            return false;
        }
    }
    if (!ParseVersion(f.appVersion)) {
        problem = "\"appVersion\" is not a version such as 1.2.0";
        return false;
    }
    return true;
}

bool ParseTelemetryBatch(std::string_view body, std::string& clientId,
                         std::vector<TelemetryEventRecord>& events, std::string& problem) {
    Json root = Json::parse(body, nullptr, false);
    if (root.is_discarded() || !root.is_object()) {
        problem = "the body is not a JSON object";
        return false;
    }
    if (!ReadString(root, "clientId", true, true, kMaxIdBytes, clientId, problem)) return false;
    auto list = root.find("events");
    if (list == root.end() || !list->is_array()) {
        problem = "\"events\" is missing or not an array";
        return false;
    }
    events.clear();
    events.reserve(list->size());
    for (size_t i = 0; i < list->size(); ++i) {
        const Json& e = (*list)[i];
        std::string where = "event " + std::to_string(i) + ": ";
        if (!e.is_object()) {
            problem = where + "not an object";
            return false;
        }
        TelemetryEventRecord record;
        if (!ReadString(e, "type", true, true, kMaxEventTypeBytes, record.type, problem)) {
            problem = where + problem;
            return false;
        }
        auto ts = e.find("timestamp");
        if (ts == e.end() || !ts->is_number_integer() ||
            (ts->is_number_unsigned() ? ts->get<uint64_t>() > INT64_MAX : ts->get<int64_t>() < 0)) {
            problem = where + "\"timestamp\" is not a non-negative integer";
            return false;
        }
        record.timestamp = ts->get<int64_t>();
        auto data = e.find("data");
        if (data == e.end() || !(data->is_object() || data->is_string())) {
            problem = where + "\"data\" is missing or neither an object nor a string";
            return false;
        }
        record.dataJson = Dump(*data);
        events.push_back(std::move(record));
    }
    return true;
}

bool OfferIsNewer(const UpdateOfferRecord& offer, std::string_view appVersion) {
    auto offered = ParseVersion(offer.version);
    auto running = ParseVersion(appVersion);
    return offered && running && *running < *offered;
}

std::string BuildCheckInAnswer(const CheckInAnswerInputs& in) {
    Json answer = {
        {"clientId", in.facts.clientId},
        {"serverTime", FormatIso8601Utc(in.now)},
        {"config",
         {{"telemetry",
           {{"endpoint", in.telemetryEndpoint},
            {"token", in.token},
            {"tokenExpiresAt", FormatIso8601Utc(in.tokenExpiresAt)}}},
          {"logUpload", {{"endpoint", in.logUploadEndpoint}}}}},
        {"blockedVersions", in.blockedVersions},
    };
    if (!in.facts.mspId.empty()) answer["mspId"] = in.facts.mspId;
    if (!in.facts.orgId.empty()) answer["orgId"] = in.facts.orgId;
    if (in.offer && OfferIsNewer(*in.offer, in.facts.appVersion)) {
        answer["update"] = OfferJson(*in.offer);
    }
    return Dump(answer);
}

std::string ErrorBody(std::string_view code, std::string_view message) {
    return Dump(Json{{"error", std::string(code)}, {"message", std::string(message)}});
}

}  // namespace quillon::server
