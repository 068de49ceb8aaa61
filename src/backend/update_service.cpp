#include "backend/update_service.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <charconv>

#include "base/json_value.h"
#include "base/log.h"
#include "platform/settings.h"
#include "platform/system.h"

namespace quillon {

namespace {

std::string StringOf(const JsonValue& object, std::string_view key) {
    const JsonValue& value = object.member(key);
    return value.type() == JsonType::String ? value.asString() : std::string();
}

// "1.2.3" as three numbers; parts missing or not numbers are 0.
std::array<long long, 3> VersionParts(std::string_view text) {
    std::array<long long, 3> parts{};
    for (long long& part : parts) {
        const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), part);
        if (error != std::errc()) part = 0;
        const size_t dot = text.find('.', static_cast<size_t>(end - text.data()));
        if (dot == std::string_view::npos) break;
        text.remove_prefix(dot + 1);
    }
    return parts;
}

std::string LowerCase(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

}  // namespace

const char* UrgencyText(UpdateUrgency urgency) {
    switch (urgency) {
        case UpdateUrgency::Required:
            return "required";
        case UpdateUrgency::Recommended:
            return "recommended";
        case UpdateUrgency::Optional:
            break;
    }
    return "optional";
}

int CompareVersions(std::string_view a, std::string_view b) {
    const auto x = VersionParts(a);
    const auto y = VersionParts(b);
    return x < y ? -1 : (x == y ? 0 : 1);
}

std::optional<UpdateNews> ReadUpdateNews(std::string_view body) {
    JsonValue root;
    try {
        root = JsonValue::parse(body);
    } catch (const std::exception&) {
        return std::nullopt;
    }
    if (root.type() != JsonType::Object) return std::nullopt;
    UpdateNews news;
    const JsonValue& blocked = root.member("blockedVersions");
    if (blocked.type() == JsonType::Array) {
        for (const JsonValue& version : blocked.asArray()) {
            if (version.type() == JsonType::String)
                news.blockedVersions.push_back(version.asString());
        }
    }
    const JsonValue& update = root.member("update");
    if (update.type() == JsonType::Object) {
        UpdateOffer& offer = news.offer;
        const JsonValue& available = update.member("available");
        offer.available = available.type() == JsonType::Bool && available.asBool();
        offer.targetVersion = StringOf(update, "targetVersion");
        const std::string urgency = StringOf(update, "urgency");
        offer.urgency = urgency == "required"      ? UpdateUrgency::Required
                        : urgency == "recommended" ? UpdateUrgency::Recommended
                                                   : UpdateUrgency::Optional;
        offer.releaseNotes = StringOf(update, "releaseNotes");
        offer.releaseNotesUrl = StringOf(update, "releaseNotesUrl");
        const JsonValue& artifacts = update.member("artifacts");
        if (artifacts.type() == JsonType::Array) {
            for (const JsonValue& item : artifacts.asArray()) {
                if (item.type() != JsonType::Object) continue;
                offer.artifacts.push_back({StringOf(item, "platform"), StringOf(item, "url"),
                                           StringOf(item, "signature")});
            }
        }
    }
    return news;
}

UpdateService::UpdateService(Settings* settings, System& system, std::string appVersion,
                             std::string os, std::string arch)
    : settings_(settings),
      system_(system),
      appVersion_(std::move(appVersion)),
      os_(LowerCase(std::move(os))),
      arch_(std::move(arch)) {
    LogWrite(Debug, "Update service initialized");
}

void UpdateService::ApplyCheckInResponse(std::string_view body) {
    std::optional<UpdateNews> news = ReadUpdateNews(body);
    if (!news) return;
    if (news->offer.available) {
        LogWrite(Info, "Update available: v%s (urgency: %d)", news->offer.targetVersion.c_str(),
                 static_cast<int>(news->offer.urgency));
    }
    std::lock_guard lock(mutex_);
    news_ = std::move(*news);
    ++changes_;
}

uint64_t UpdateService::Changes() {
    std::lock_guard lock(mutex_);
    return changes_;
}

UpdateOffer UpdateService::Offer() {
    std::lock_guard lock(mutex_);
    return news_.offer;
}

bool UpdateService::ShouldNotify() {
    const UpdateOffer offer = Offer();
    if (!offer.available || CompareVersions(appVersion_, offer.targetVersion) >= 0) return false;
    if (offer.urgency == UpdateUrgency::Required) return true;
    const std::vector<std::string> dismissed = LoadDismissedUpdates();
    return std::find(dismissed.begin(), dismissed.end(), offer.targetVersion) == dismissed.end();
}

std::string UpdateService::DownloadUrl() {
    const UpdateOffer offer = Offer();
    const std::string exact = os_ + "-" + arch_;
    for (const UpdateArtifact& artifact : offer.artifacts) {
        if (artifact.platform == exact || artifact.platform == os_) {
            if (!artifact.url.empty()) return artifact.url;
            break;
        }
    }
    return offer.releaseNotesUrl;
}

std::string UpdateService::AnyDownloadUrl() {
    const UpdateOffer offer = Offer();
    for (const UpdateArtifact& artifact : offer.artifacts) {
        if (artifact.platform.find(os_) != std::string::npos) {
            return artifact.url;
        }
    }
    return {};
}

void UpdateService::OpenUpdateDownload() {
    const std::string url = DownloadUrl();
    if (url.empty()) {
        LogWrite(Warn, "No download URL available for update");
        return;
    }
    // Only web addresses are handed to the system's opener, never a file or a program.
    if (url.rfind("https://", 0) != 0 && url.rfind("http://", 0) != 0) {
        LogWrite(Warn, "Update download address is not a web address - not opened");
        return;
    }
    system_.OpenUrl(url);
    LogWrite(Info, "Opened update download: %s", url.c_str());
}

std::vector<std::string> UpdateService::LoadDismissedUpdates() {
    std::vector<std::string> versions;
    if (settings_ == nullptr) return versions;
    const std::optional<SettingValue> value = settings_->Read("DismissedUpdates");
    if (!value || value->type != SettingType::String || value->text.size() > 2048) return versions;
    size_t start = 0;
    const std::string& text = value->text;
    while (start <= text.size()) {
        const size_t comma = std::min(text.find(',', start), text.size());
        if (comma > start) versions.push_back(text.substr(start, comma - start));
        start = comma + 1;
    }
    return versions;
}

void UpdateService::SaveDismissedUpdates(const std::vector<std::string>& versions) {
    if (settings_ == nullptr) return;
    SettingValue value;
    value.type = SettingType::String;
    for (const std::string& version : versions) {
        if (!value.text.empty()) value.text += ',';
        value.text += version;
    }
    settings_->Write("DismissedUpdates", value);
}

void UpdateService::Dismiss(const std::string& version) {
    // The list is comma-separated: a version with a comma (or a very long one) is not one.
    if (version.empty() || version.size() > 64 || version.find(',') != std::string::npos) return;
    std::vector<std::string> dismissed = LoadDismissedUpdates();
    if (std::find(dismissed.begin(), dismissed.end(), version) == dismissed.end()) {
        dismissed.push_back(version);
        SaveDismissedUpdates(dismissed);
        LogWrite(Debug, "Dismissed update to v%s", version.c_str());
        std::lock_guard lock(mutex_);
        ++changes_;
    }
    LogWrite(Info, "Update dismissed: v%s", version.c_str());
}

}  // namespace quillon
