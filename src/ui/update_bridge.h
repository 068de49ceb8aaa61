// UpdateBridge: between the update service and the person: the notice (a tray balloon, which
// the headless front end prints) and the page's "updateAvailable" message, and the page's
// "dismiss_update" and "download_update" commands.
//
// The check-in runs on a worker and its answer may come long after start-up, so the notice is
// looked at on every measurement tick until it was shown once; every page that connects while
// the offer is to be shown is told about it (a reloaded page too).
//
// UI thread only.
#pragma once

#include <cstdint>
#include <string>

namespace quillon {

class Shell;
class UpdateService;
class WebViewHost;

// {"type":"updateAvailable","payload":{"version":...,"urgency":...,"downloadUrl"?,
// "releaseNotesUrl"?}}
std::string UpdateAvailableMessage(const std::string& version, const std::string& urgency,
                                   const std::string& downloadUrl,
                                   const std::string& releaseNotesUrl);

class UpdateBridge {
public:
    UpdateBridge(WebViewHost& host, Shell& shell, UpdateService& updates)
        : host_(host), shell_(shell), updates_(updates) {}

    // The balloon and the page message, once per run, when an offer is to be shown.
    void Notice();
    void PageArrived();
    void Dismiss(const std::string& version);
    void Download();

private:
    void Push();

    WebViewHost& host_;
    Shell& shell_;
    UpdateService& updates_;
    bool noticeShown_ = false;
    uint64_t lookedAt_ = 0;  // the service's changes when the notice was last considered
};

}  // namespace quillon
