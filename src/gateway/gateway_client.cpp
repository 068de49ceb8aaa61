#include "gateway/gateway_client.h"

#include <array>
#include <cctype>
#include <map>

#include "base/base64.h"
#include "base/json_value.h"
#include "gateway/gateway_credentials.h"
#include "path/json_text.h"
#include "platform/http.h"

namespace quillon {

namespace {

constexpr const char* kUserAgent = "QlnWin/1.0";
constexpr std::array<const char*, 25> kUniFiPrefixes = {
    "00:27:22", "04:18:D6", "18:E8:29", "24:5A:4C", "24:A4:3C", "44:D9:E7", "60:22:32",
    "68:72:51", "70:A7:41", "74:83:C2", "74:AC:B9", "78:45:58", "78:8A:20", "80:2A:A8",
    "9C:05:D6", "AC:8B:A9", "B4:FB:E4", "D0:21:F9", "DC:9F:DB", "E0:63:DA", "E4:38:83",
    "F0:9F:C2", "F4:92:BF", "F4:E2:C6", "FC:EC:DA"};
// Gateway answers are small; a larger one is cut here rather than held whole.
constexpr size_t kMaxAnswerBytes = 1024 * 1024;
constexpr size_t kMaxCsrfTokenChars = 255;

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(a[i])) !=
            std::toupper(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

bool Contains(std::string_view text, std::string_view part) {
    return text.find(part) != std::string_view::npos;
}

HttpExchange GatewayExchange(const std::string& verb, const std::string& host,
                             const std::string& path, uint32_t timeoutMs) {
    HttpExchange exchange;
    exchange.method = verb;
    exchange.url = "https://" + host + path;
    exchange.timeoutMs = timeoutMs;
    exchange.totalTimeoutMs = 3 * timeoutMs;
    exchange.ignoreCertificateErrors = true;
    // A password is never carried to wherever a redirect points.
    exchange.followRedirects = false;
    exchange.maxBodyBytes = kMaxAnswerBytes;
    return exchange;
}

GatewayResponse ResponseOf(const HttpOutcome& outcome) {
    GatewayResponse response;
    response.certificateSha256 = outcome.certificate.sha256;
    if (!outcome.received) return response;
    response.statusCode = static_cast<uint32_t>(outcome.statusCode);
    response.body = outcome.body;
    return response;
}

// The answer's cookies by name (a later one of a name replaces the earlier); whether it set any.
bool ReadCookies(const HttpHeaders& headers, std::map<std::string, std::string>& cookies) {
    bool any = false;
    for (const auto& [name, value] : headers) {
        // HTTP/2 answers name their headers in lower case.
        if (!EqualNoCase(name, "Set-Cookie")) continue;
        any = true;
        const std::string pair = value.substr(0, value.find(';'));
        const size_t equals = pair.find('=');
        if (equals == std::string::npos) continue;
        cookies[pair.substr(0, equals)] = pair.substr(equals + 1);
    }
    return any;
}

}  // namespace

bool IsUniFiMac(std::string_view mac) {
    if (mac.size() < 8) return false;
    for (const char* prefix : kUniFiPrefixes) {
        if (EqualNoCase(mac.substr(0, 8), prefix)) return true;
    }
    return false;
}

std::string ExtractJsonValue(std::string_view text, std::string_view key) {
    std::string quoted;  // appended piece by piece: GCC 12 at -O3 mistakes "+" here for overlap
    quoted.reserve(key.size() + 2);
    quoted.append(1, '"').append(key).append(1, '"');
    size_t at = text.find(quoted);
    if (at == std::string_view::npos) return {};
    at = text.find(':', at + quoted.size());
    if (at == std::string_view::npos) return {};
    while (at < text.size() && (text[at] == ':' || text[at] == ' ')) ++at;
    if (at >= text.size()) return {};
    if (text[at] == '"') {
        // The string as JSON writes it: an escaped quote does not end it, escapes are decoded.
        size_t close = at + 1;
        while (close < text.size() && text[close] != '"') close += text[close] == '\\' ? 2 : 1;
        if (close >= text.size()) return {};
        try {
            const JsonValue value = JsonValue::parse(text.substr(at, close - at + 1));
            return value.type() == JsonType::String ? value.asString() : std::string();
        } catch (const std::exception&) {
            return {};  // a broken escape
        }
    }
    if (text.substr(at, 4) == "true") return "true";
    if (text.substr(at, 5) == "false") return "false";
    return {};
}

std::string CsrfTokenFromSessionToken(std::string_view token) {
    const size_t first = token.find('.');
    if (first == std::string_view::npos) return {};
    const size_t second = token.find('.', first + 1);
    if (second == std::string_view::npos) return {};
    const auto payload = Base64UrlDecode(token.substr(first + 1, second - first - 1));
    if (!payload) return {};
    const std::string text(payload->begin(), payload->end());
    std::string csrf = ExtractJsonValue(text, "csrfToken");
    if (csrf.size() > kMaxCsrfTokenChars) csrf.resize(kMaxCsrfTokenChars);
    return csrf;
}

std::string GatewayLoginBody(std::string_view username, std::string_view password,
                             std::string_view code) {
    JsonText w;
    w.BeginObject().Member("username", username).Member("password", password);
    w.Member("rememberMe", true);
    if (!code.empty()) w.Member("token", code);
    w.EndObject();
    return w.Take();
}

std::optional<UnifiSystemInfo> ReadUniFiSystem(std::string_view body) {
    const bool hardware = Contains(body, "\"hardware\"");
    if (!hardware && !Contains(body, "UDMPRO") && !Contains(body, "UDM") &&
        !Contains(body, "UniFi")) {
        return std::nullopt;
    }
    UnifiSystemInfo info;
    info.name = ExtractJsonValue(body, "name");
    info.mac = ExtractJsonValue(body, "mac");
    info.model = ExtractJsonValue(body, "shortname");
    if (info.model.empty() && hardware) {
        const size_t key = body.find("\"hardware\"");
        const size_t open = body.find('{', key);
        const size_t close = open == std::string_view::npos ? open : body.find('}', open);
        if (close != std::string_view::npos) {
            info.model = ExtractJsonValue(body.substr(open, close - open + 1), "shortname");
        }
    }
    info.cloudConnected = ExtractJsonValue(body, "cloudConnected") == "true";
    info.hasInternet = ExtractJsonValue(body, "hasInternet") == "true";
    return info;
}

std::optional<UnifiSystemInfo> DetectUniFiGateway(Http& http, const std::string& address) {
    if (!IsGatewayHostText(address)) return std::nullopt;
    uint32_t error = 0;
    const std::unique_ptr<HttpSession> session = http.OpenSession(kUserAgent, &error);
    if (!session) return std::nullopt;
    const HttpOutcome outcome =
        session->Send(GatewayExchange("GET", address, "/api/system", kGatewayDetectTimeoutMs));
    if (!outcome.received) return std::nullopt;
    return ReadUniFiSystem(outcome.body);
}

bool IsGatewayHostText(std::string_view host) {
    if (host.empty() || host.size() > 253) return false;
    for (const char c : host) {
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-') return false;
    }
    return true;
}

GatewayClient::GatewayClient(Http& http) : http_(http) {}
GatewayClient::~GatewayClient() = default;

bool GatewayClient::Connect(const std::string& host) {
    session_.reset();
    authenticated_ = false;
    cookieHeader_.clear();
    host_ = host;
    if (!IsGatewayHostText(host)) return false;
    uint32_t error = 0;
    session_ = http_.OpenSession(kUserAgent, &error);
    return session_ != nullptr;
}

HttpOutcome GatewayClient::Exchange(const std::string& verb, const std::string& path,
                                    const std::string& body) {
    answered_ = false;
    if (!session_) return {};
    HttpExchange exchange = GatewayExchange(verb, host_, path, kGatewayTimeoutMs);
    exchange.headers = {{"Accept", "application/json"}, {"Content-Type", "application/json"}};
    if (!cookieHeader_.empty()) exchange.headers.emplace_back("Cookie", cookieHeader_);
    if (!csrfToken_.empty()) exchange.headers.emplace_back("X-CSRF-Token", csrfToken_);
    exchange.headers.emplace_back("X-Requested-With", "XMLHttpRequest");
    exchange.body = body;
    HttpOutcome outcome = session_->Send(exchange);
    answered_ = outcome.received;
    if (!outcome.certificate.sha256.empty()) certificateSha256_ = outcome.certificate.sha256;
    return outcome;
}

GatewayResponse GatewayClient::Send(const std::string& verb, const std::string& path,
                                    const std::string& body) {
    return ResponseOf(Exchange(verb, path, body));
}

GatewayLogin GatewayClient::Login(const std::string& username, const std::string& password,
                                  const std::string& code) {
    // A text cut to fit would sign in as somebody else, or with another password.
    if (username.size() > kMaxGatewayNameBytes || password.size() > kMaxGatewayNameBytes ||
        code.size() > kMaxGatewayCodeBytes) {
        return GatewayLogin::TooLong;
    }
    const HttpOutcome outcome =
        Exchange("POST", "/api/auth/login", GatewayLoginBody(username, password, code));
    const int status = outcome.received ? outcome.statusCode : 0;
    switch (status) {
        case 0:
            return GatewayLogin::NetworkError;
        case 403:
            return GatewayLogin::BadCredentials;
        case 499:
            return GatewayLogin::CodeRequired;
        case 429:
            return GatewayLogin::Locked;
        default:
            break;
    }
    if (Contains(outcome.body, "MFA_TOKEN_REQUIRED") || Contains(outcome.body, "UBIC_2FA_TOKEN")) {
        return GatewayLogin::CodeRequired;
    }
    if (status != 200) return GatewayLogin::Failed;

    std::map<std::string, std::string> cookies;
    if (!ReadCookies(outcome.headers, cookies)) return GatewayLogin::Failed;
    if (const auto t = cookies.find("TOKEN"); t != cookies.end()) token_ = t->second;
    cookieHeader_.clear();
    for (const auto& [name, value] : cookies) {
        if (!cookieHeader_.empty()) cookieHeader_ += "; ";
        cookieHeader_ += name + "=" + value;
    }
    if (const auto c = cookies.find("csrf_token"); c != cookies.end()) {
        csrfToken_ = c->second;
    } else if (const auto t = cookies.find("TOKEN"); t != cookies.end()) {
        if (std::string csrf = CsrfTokenFromSessionToken(t->second); !csrf.empty()) {
            csrfToken_ = std::move(csrf);
        }
    }
    authenticated_ = true;
    return GatewayLogin::Success;
}

bool GatewayClient::CheckSession(const GatewayCredentials& saved) {
    if (saved.token.empty() || saved.csrfToken.empty()) return false;
    token_ = saved.token;
    csrfToken_ = saved.csrfToken;
    cookieHeader_ = "TOKEN=" + saved.token;
    if (Send("GET", "/api/users/self", "").statusCode == 200) {
        authenticated_ = true;
        return true;
    }
    token_.clear();
    csrfToken_.clear();
    cookieHeader_.clear();
    authenticated_ = false;
    return false;
}

}  // namespace quillon
