// UpdateService: the update offer the backend makes in its check-in answer, whether the person
// is to be told (newer than the running version and, unless required, not dismissed), the
// versions they dismissed (the "DismissedUpdates" setting, comma-separated), and opening the
// download in their browser. The versions the backend blocks are kept but decide nothing.
//
// Threads: the check-in worker replaces the offer while the UI thread reads it; one mutex
// guards it.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

class Settings;
class System;

struct UpdateArtifact {
    std::string platform;  // e.g. "windows", "windows-x64", "linux-x64"
    std::string url;
    std::string signature;
};

enum class UpdateUrgency : uint32_t { Optional = 0, Recommended = 1, Required = 2 };
const char* UrgencyText(UpdateUrgency urgency);

struct UpdateOffer {
    bool available = false;
    std::string targetVersion;
    UpdateUrgency urgency = UpdateUrgency::Optional;
    std::string releaseNotes;
    std::string releaseNotesUrl;
    std::vector<UpdateArtifact> artifacts;
};

struct UpdateNews {
    UpdateOffer offer;
    std::vector<std::string> blockedVersions;
};

// The offer and blocked versions of a check-in answer; nothing when it is not a JSON object.
std::optional<UpdateNews> ReadUpdateNews(std::string_view body);
// Compares "major.minor.patch" texts numerically (missing or unreadable parts are 0): <0, 0, >0.
int CompareVersions(std::string_view a, std::string_view b);

class UpdateService {
public:
    // os and arch name the running build's download ("linux-x64", else "linux").
    UpdateService(Settings* settings, System& system, std::string appVersion, std::string os,
                  std::string arch);

    // Replaces the offer with the answer's (an answer that is not an object keeps it).
    void ApplyCheckInResponse(std::string_view body);
    bool ShouldNotify();
    UpdateOffer Offer();
    // The download for this computer: the first artifact for "<os>-<arch>" or "<os>", else the
    // release notes; empty when there is neither.
    std::string DownloadUrl();
    // The download of the first artifact whose platform names this system at all (page link).
    std::string AnyDownloadUrl();
    void OpenUpdateDownload();

    std::vector<std::string> LoadDismissedUpdates();
    void SaveDismissedUpdates(const std::vector<std::string>& versions);
    // Remembers a dismissed version (once).
    void Dismiss(const std::string& version);
    // Moves when the offer is replaced or a version dismissed: the notice is looked at again.
    uint64_t Changes();

private:
    Settings* settings_;
    System& system_;
    const std::string appVersion_;
    const std::string os_;  // lower case
    const std::string arch_;

    std::mutex mutex_;
    UpdateNews news_;
    uint64_t changes_ = 0;
};

}  // namespace quillon
