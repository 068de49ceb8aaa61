#include "platform/sim/sim_console.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <vector>

#include "base/base64.h"
#include "base/json_value.h"
#include "base/time_text.h"

namespace quillon::sim {

namespace {

constexpr double kDefaultRttMs = 2;
constexpr uint16_t kHttpsPort = 443;
constexpr int kWrongPasswordsBeforeLockout = 5;
constexpr int64_t kLockoutSeconds = 300;
constexpr int64_t kSessionSeconds = 7200;

bool EqualNoCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) ==
                      std::tolower(static_cast<unsigned char>(y));
           });
}

std::string Header(const HttpHeaders& headers, const std::string& name) {
    for (const auto& [key, value] : headers) {
        if (EqualNoCase(key, name)) return value;
    }
    return {};
}

// The value of one cookie of a Cookie header ("a=1; TOKEN=x").
std::string CookieValue(const std::string& header, const std::string& name) {
    size_t at = 0;
    while (at < header.size()) {
        size_t end = header.find(';', at);
        if (end == std::string::npos) end = header.size();
        std::string pair = header.substr(at, end - at);
        pair.erase(0, pair.find_first_not_of(' '));
        const size_t equals = pair.find('=');
        if (equals != std::string::npos && pair.substr(0, equals) == name) {
            return pair.substr(equals + 1);
        }
        at = end + 1;
    }
    return {};
}

// 32 bytes that depend on every byte of the text: a stand-in for a digest, enough to tell
// certificates and tokens apart (nothing here has to resist an attacker).
std::vector<uint8_t> Digest(const std::string& text) {
    std::vector<uint8_t> out;
    for (uint64_t lane = 0; lane < 4; ++lane) {
        uint64_t h = 14695981039346656037ull ^ (lane * 0x9E3779B97F4A7C15ull);
        for (const char c : text) {
            h ^= static_cast<unsigned char>(c);
            h *= 1099511628211ull;
        }
        h ^= h >> 29;
        h *= 0xBF58476D1CE4E5B9ull;
        h ^= h >> 32;
        for (int i = 0; i < 8; ++i) out.push_back(static_cast<uint8_t>(h >> (8 * i)));
    }
    return out;
}

std::string Hex(const std::vector<uint8_t>& bytes) {
    static const char* kDigits = "0123456789abcdef";
    std::string out;
    for (const uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 15];
    }
    return out;
}

// Identifiers in the usual 8-4-4-4-12 form.
std::string Uuid(const std::string& seed) {
    const std::string hex = Hex(Digest(seed)).substr(0, 32);
    return hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" +
           hex.substr(16, 4) + "-" + hex.substr(20);
}

std::string Base64Url(const std::string& text) {
    std::string out = Base64Encode(std::vector<uint8_t>(text.begin(), text.end()));
    out.erase(std::remove(out.begin(), out.end(), '='), out.end());
    std::replace(out.begin(), out.end(), '+', '-');
    std::replace(out.begin(), out.end(), '/', '_');
    return out;
}

std::string Text(const JsonValue& value) {
    return value.type() == JsonType::String ? value.asString() : std::string();
}

std::string ErrorJson(const char* code, const char* message) {
    return std::string(R"({"code":")") + code + R"(","message":")" + message + "\"}";
}

}  // namespace

Console::Console(const WorldConfig& config, int64_t startUnix)
    : config_(config.console), rttMs_(config.console.rttMs), startUnix_(startUnix) {
    if (rttMs_ >= 0) return;
    rttMs_ = kDefaultRttMs;
    for (const PathConfig& path : config.paths) {
        for (const HopConfig& hop : path.hops) {
            if (hop.address == config_.address) {
                rttMs_ = hop.rttMs;
                return;
            }
        }
    }
}

bool Console::At(Ipv4Address address) const {
    return !config_.address.IsZero() && address == config_.address;
}

void Console::Apply(const TimelineEvent& change) {
    switch (change.kind) {
        case ChangeKind::ConsoleSessionsExpire:
            sessions_.clear();
            break;
        case ChangeKind::ConsoleCertificate:
            ++certificate_;
            break;
        case ChangeKind::ConsoleGone:
        case ChangeKind::ConsoleBack:
            gone_ = change.kind == ChangeKind::ConsoleGone;
            break;
        default:
            break;
    }
}

ConnectOutcome Console::Connect(uint16_t port) const {
    if (gone_) return {ConnectKind::NoAnswer, 0};
    return {port == kHttpsPort ? ConnectKind::Accepted : ConnectKind::Refused, std::round(rttMs_)};
}

std::string Console::Fingerprint() const {
    return Hex(Digest("certificate " + std::to_string(certificate_) + " of " + config_.name));
}

TlsOutcome Console::Handshake() const {
    TlsOutcome outcome;
    outcome.offered = true;
    outcome.ms = std::round(rttMs_);
    outcome.protocol = "TLS 1.3";
    outcome.cipher = "TLS_AES_128_GCM_SHA256";
    // Issued by itself, so nobody vouches for it: the gateway client accepts it anyway.
    outcome.error = kHttpErrorCertificateAuthority;
    TlsCertificateInfo& certificate = outcome.certificate;
    certificate.present = true;
    certificate.subject = config_.name.empty() ? config_.model : config_.name;
    certificate.issuer = certificate.subject;
    certificate.notBeforeUnix = startUnix_ - 30 * kSecondsPerDay;
    certificate.notAfterUnix = startUnix_ + 3650 * kSecondsPerDay;
    certificate.sha256 = Fingerprint();
    return outcome;
}

WebReply Console::Answer(int status, std::string body) const {
    WebReply reply;
    reply.answered = true;
    reply.web = true;
    reply.status = status;
    reply.bodyBytes = body.size();
    reply.body = std::move(body);
    reply.firstByteMs = std::round(rttMs_);
    reply.headers.emplace_back("Content-Type", "application/json; charset=utf-8");
    return reply;
}

std::string Console::UserJson() const {
    return R"({"unique_id":")" + Uuid("user " + config_.username) + R"(","username":)" +
           JsonValue::escapeString(config_.username) + R"(,"status":"ACTIVE","isOwner":true})";
}

WebReply Console::Respond(const std::string& path, const HttpExchange& request,
                          const std::string& mac, int64_t nowUnix) {
    if (gone_) return {};  // nothing comes back
    const std::string bare = path.substr(0, path.find('?'));
    if (request.method == "GET" && bare == "/api/system") {
        const std::string name = config_.name.empty() ? config_.model : config_.name;
        return Answer(200, R"({"hardware":{"shortname":)" + JsonValue::escapeString(config_.model) +
                               R"(},"name":)" + JsonValue::escapeString(name) + R"(,"mac":")" +
                               mac +
                               R"(","deviceState":"setup","cloudConnected":false,)"
                               R"("hasInternet":true})");
    }
    if (request.method == "POST" && bare == "/api/auth/login") return Login(request.body, nowUnix);
    if (request.method == "GET" && bare == "/api/users/self") return Self(request.headers, nowUnix);
    return Answer(404, ErrorJson("NOT_FOUND", "Not found"));
}

WebReply Console::Login(const std::string& text, int64_t nowUnix) {
    JsonValue body;
    try {
        body = JsonValue::parse(text);
    } catch (const std::exception&) {
    }
    if (body.type() != JsonType::Object) {
        return Answer(400, ErrorJson("INVALID_PAYLOAD", "The request body is not JSON"));
    }
    if (wrongPasswords_ >= kWrongPasswordsBeforeLockout) {
        if (nowUnix < lockedUntilUnix_) {
            return Answer(429, ErrorJson("AUTHENTICATION_FAILED_LIMIT_REACHED",
                                         "Too many failed attempts, try again later"));
        }
        wrongPasswords_ = 0;
    }
    if (Text(body.member("username")) != config_.username ||
        Text(body.member("password")) != config_.password) {
        if (++wrongPasswords_ == kWrongPasswordsBeforeLockout) {
            lockedUntilUnix_ = nowUnix + kLockoutSeconds;
        }
        return Answer(403, ErrorJson("AUTHENTICATION_FAILED_INVALID_CREDENTIALS",
                                     "Invalid username or password"));
    }
    wrongPasswords_ = 0;
    if (!config_.code.empty()) {
        const JsonValue& code = body.member("token");
        if (code.type() == JsonType::Null) {
            return Answer(499,
                          ErrorJson("MFA_AUTH_REQUIRED", "Two-factor authentication required"));
        }
        if (Text(code) != config_.code) {
            return Answer(499, ErrorJson("MFA_TOKEN_INVALID", "Invalid two-factor code"));
        }
    }

    const std::string number = std::to_string(++issued_);
    Session session{Uuid("csrf " + number + " " + config_.name), nowUnix + kSessionSeconds};
    const std::string payload =
        R"({"userId":")" + Uuid("user " + config_.username) + R"(","isRemembered":)" +
        (body.member("rememberMe").type() == JsonType::Bool && body.member("rememberMe").asBool()
             ? "true"
             : "false") +
        R"(,"csrfToken":")" + session.csrfToken + R"(","jti":")" + Uuid("session " + number) +
        R"(","iat":)" + std::to_string(nowUnix) + R"(,"exp":)" +
        std::to_string(session.expiresUnix) + "}";
    const std::string signedPart =
        Base64Url(R"({"alg":"HS256","typ":"JWT"})") + "." + Base64Url(payload);
    const std::vector<uint8_t> signature = Digest("signed " + signedPart);
    const std::string token =
        signedPart + "." + Base64Url(std::string(signature.begin(), signature.end()));
    WebReply reply = Answer(200, UserJson());
    reply.headers.emplace_back("Set-Cookie",
                               "TOKEN=" + token + "; path=/; samesite=strict; secure; httponly");
    reply.headers.emplace_back("X-CSRF-Token", session.csrfToken);
    sessions_[token] = std::move(session);
    return reply;
}

WebReply Console::Self(const HttpHeaders& headers, int64_t nowUnix) const {
    const auto session = sessions_.find(CookieValue(Header(headers, "Cookie"), "TOKEN"));
    if (session == sessions_.end() || nowUnix >= session->second.expiresUnix ||
        Header(headers, "X-CSRF-Token") != session->second.csrfToken) {
        return Answer(401, ErrorJson("AUTHENTICATION_FAILED_INVALID_CREDENTIALS", "Not signed in"));
    }
    return Answer(200, UserJson());
}

}  // namespace quillon::sim
