#include "backend/app_config.h"

#include "base/fs_path.h"
#include "base/json_value.h"
#include "base/log.h"
#include "base/small_file.h"
#include "base/url.h"
#include "platform/system.h"

namespace quillon {

namespace {

// A configuration file is a few hundred bytes.
constexpr uintmax_t kMaxConfigBytes = 64 * 1024;

bool TakeString(const JsonValue& object, std::string_view key, std::string& into) {
    const JsonValue& value = object.member(key);
    if (value.type() != JsonType::String) return false;
    into = value.asString();
    return true;
}

bool IsChannelName(std::string_view text) {
    if (text.empty() || text.size() > 32) return false;
    for (const char c : text) {
        const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.';
        if (!ok) return false;
    }
    return true;
}

}  // namespace

bool ApplyConfigJson(std::string_view text, AppConfig& config) {
    if (text.empty()) return false;
    JsonValue root;
    try {
        root = JsonValue::parse(text);
    } catch (const std::exception&) {
        return false;
    }
    if (root.type() != JsonType::Object) {
        LogWrite(Warn, "Config file is not valid JSON");
        return false;
    }
    if (root.asObject().empty()) {
        LogWrite(Warn, "Config file appears empty or malformed");
        return false;
    }
    const JsonValue& c2 = root.member("c2");
    if (c2.type() == JsonType::Object) {
        std::string channel;
        if (TakeString(c2, "channel", channel)) {
            if (IsChannelName(channel)) {
                config.channel = channel;
            } else {
                LogWrite(Warn, "Config: channel '%s' is not a channel name - keeping %s",
                         channel.c_str(), config.channel.c_str());
            }
        }
        std::string url;
        if (TakeString(c2, "c2_base_url", url)) {
            while (!url.empty() && url.back() == '/') url.pop_back();
            const std::optional<UrlParts> parts = SplitUrl(url);
            if (parts && url.find_first_of("?# ") == std::string::npos) {
                config.c2BaseUrl = url;
            } else {
                LogWrite(Warn, "Config: c2_base_url '%s' is not an http(s) URL - ignored",
                         url.c_str());
            }
        }
    }
    const JsonValue& registration = root.member("registration");
    if (registration.type() == JsonType::Object) {
        TakeString(registration, "mspId", config.mspId);
        TakeString(registration, "orgId", config.orgId);
    }
    return true;
}

AppConfig LoadConfiguration(System& system) {
    AppConfig config;
    const std::string folder = system.AppFolderPath(AppFolder::Config);
    if (folder.empty()) {
        LogWrite(Warn, "Could not determine config path, using defaults");
        return config;
    }
    const std::string path = folder + kPathSeparator + kConfigFileName;
    const SmallFile file = ReadSmallFile(path, kMaxConfigBytes);
    std::string_view text = file.text ? std::string_view(*file.text) : std::string_view();
    if (text.substr(0, 3) == "\xEF\xBB\xBF") text.remove_prefix(3);
    if (file.error == SmallFileError::TooLarge) {
        LogWrite(Warn, "Config file %s is too large - using defaults", path.c_str());
        return config;
    }
    if (text.empty()) {
        LogWrite(Debug, "No config file found at %s, using defaults", path.c_str());
        return config;
    }
    AppConfig applied = config;
    if (!ApplyConfigJson(text, applied)) {
        LogWrite(Warn, "Failed to parse config file, using defaults");
        return config;
    }
    LogWrite(Info, "Loaded configuration from %s", path.c_str());
    LogWrite(Debug, "C2 base URL: %s, channel: %s",
             applied.c2BaseUrl.empty() ? "(none)" : applied.c2BaseUrl.c_str(),
             applied.channel.c_str());
    return applied;
}

std::string CheckInUrl(const AppConfig& config) {
    if (config.c2BaseUrl.empty()) return {};
    std::string base = config.c2BaseUrl;
    if (base.back() == '/') base.pop_back();
    return base + "/v1/check-in";
}

}  // namespace quillon
