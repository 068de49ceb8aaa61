#include "backend/identity.h"

#include <array>
#include <chrono>
#include <cstdio>
#include <random>

#include "base/log.h"
#include "platform/secrets.h"
#include "platform/settings.h"
#include "platform/system.h"

namespace quillon {

namespace {

std::optional<std::string> ReadString(Settings* settings, const std::string& name) {
    if (settings == nullptr) return std::nullopt;
    const std::optional<SettingValue> value = settings->Read(name);
    if (!value || value->type != SettingType::String || value->text.empty()) return std::nullopt;
    return value->text;
}

SettingValue StringValue(const std::string& text) {
    SettingValue value;
    value.type = SettingType::String;
    value.text = text;
    return value;
}

}  // namespace

std::string NewClientId() {
    std::random_device device;
    std::array<uint8_t, 16> b{};
    for (uint8_t& byte : b) byte = static_cast<uint8_t>(device() & 0xFF);
    b[6] = static_cast<uint8_t>((b[6] & 0x0F) | 0x40);  // version 4: random
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    std::array<char, 40> text{};
    std::snprintf(text.data(), text.size(),
                  "%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13],
                  b[14], b[15]);
    return text.data();
}

ClientIdentity InitIdentity(Settings* settings, System& system) {
    ClientIdentity identity;
    if (const auto stored = ReadString(settings, "ClientId")) {
        identity.clientId = *stored;
        LogWrite(Debug, "Loaded existing client ID: %s", identity.clientId.c_str());
    } else {
        identity.clientId = NewClientId();
        if (settings != nullptr && settings->Write("ClientId", StringValue(identity.clientId))) {
            LogWrite(Info, "Generated new client ID: %s", identity.clientId.c_str());
        }
    }
    const OsVersion os = system.GetOsVersion();
    identity.os = os.name;
    identity.osVersion = os.version;
    identity.arch = system.Architecture();
    identity.computerName = system.ComputerName();
    if (identity.computerName.empty()) identity.computerName = "unknown";
    LogWrite(Info, "Identity initialized: %s %s on %s %s (%s)", identity.os.c_str(),
             identity.osVersion.c_str(), identity.arch.c_str(), identity.computerName.c_str(),
             identity.clientId.c_str());
    return identity;
}

void TelemetryCredentialStore::Load() {
    TelemetryCredentials loaded;
    if (settings_ != nullptr) {
        if (const auto token = settings_->Read("TelemetryToken");
            token && token->type == SettingType::Binary && !token->bytes.empty() &&
            secrets_ != nullptr) {
            if (const auto plain = secrets_->Unprotect(token->bytes)) {
                loaded.token.assign(plain->begin(), plain->end());
            }
        }
        if (const auto endpoint = ReadString(settings_, "TelemetryEndpoint")) {
            loaded.endpoint = *endpoint;
        }
        if (const auto expires = settings_->Read("TokenExpires");
            expires && expires->type == SettingType::Dword) {
            loaded.tokenExpires = expires->dword;
        }
    }
    loaded.active = !loaded.token.empty() && !loaded.endpoint.empty();
    if (loaded.active) {
        LogWrite(Debug, "Loaded telemetry config: endpoint=%s, expires=%lu",
                 loaded.endpoint.c_str(), static_cast<unsigned long>(loaded.tokenExpires));
    }
    std::lock_guard lock(mutex_);
    credentials_ = std::move(loaded);
}

void TelemetryCredentialStore::Save(const TelemetryCredentials& credentials) {
    {
        std::lock_guard lock(mutex_);
        credentials_ = credentials;
    }
    if (settings_ == nullptr) {
        LogWrite(Error, "Failed to create registry key for token storage");
        return;
    }
    if (secrets_ != nullptr) {
        const std::vector<uint8_t> plain(credentials.token.begin(), credentials.token.end());
        if (const auto sealed = secrets_->Protect(plain, "")) {
            SettingValue value;
            value.type = SettingType::Binary;
            value.bytes = *sealed;
            settings_->Write("TelemetryToken", value);
        }
    }
    settings_->Write("TelemetryEndpoint", StringValue(credentials.endpoint));
    SettingValue expires;
    expires.type = SettingType::Dword;
    expires.dword = credentials.tokenExpires;
    settings_->Write("TokenExpires", expires);
    LogWrite(Debug, "Saved telemetry token (expires %lu)",
             static_cast<unsigned long>(credentials.tokenExpires));
}

void TelemetryCredentialStore::SetActive(bool active) {
    std::lock_guard lock(mutex_);
    credentials_.active = active;
}

TelemetryCredentials TelemetryCredentialStore::Get() {
    std::lock_guard lock(mutex_);
    return credentials_;
}

int64_t ParseIso8601(std::string_view text) {
    if (text.empty()) return 0;
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0;
    const std::string copy(text.substr(0, 64));
    if (std::sscanf(copy.c_str(), "%d-%d-%dT%d:%d:%d", &y, &mo, &d, &h, &mi, &s) != 6) {
        LogWrite(Warn, "Failed to parse ISO8601 timestamp: %s", copy.c_str());
        return 0;
    }
    using namespace std::chrono;
    const year_month_day date{year{y}, month{static_cast<unsigned>(mo)},
                              day{static_cast<unsigned>(d)}};
    if (!date.ok() || y < 1970 || y > 9999 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 ||
        s > 60) {
        LogWrite(Warn, "Failed to convert ISO8601 to timestamp");
        return 0;
    }
    return sys_days(date).time_since_epoch().count() * int64_t{86400} + h * 3600 + mi * 60 + s;
}

}  // namespace quillon
