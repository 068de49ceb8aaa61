#include "ui/update_bridge.h"

#include "backend/update_service.h"
#include "base/json_value.h"
#include "base/log.h"
#include "platform/shell.h"
#include "ui/webview_host.h"

namespace quillon {

std::string UpdateAvailableMessage(const std::string& version, const std::string& urgency,
                                   const std::string& downloadUrl,
                                   const std::string& releaseNotesUrl) {
    std::string out = R"({"type":"updateAvailable","payload":{"version":)" +
                      JsonValue::escapeString(version) +
                      ",\"urgency\":" + JsonValue::escapeString(urgency);
    if (!downloadUrl.empty()) out += ",\"downloadUrl\":" + JsonValue::escapeString(downloadUrl);
    if (!releaseNotesUrl.empty()) {
        out += ",\"releaseNotesUrl\":" + JsonValue::escapeString(releaseNotesUrl);
    }
    return out + "}}";
}

void UpdateBridge::Notice() {
    if (noticeShown_) return;
    const uint64_t changes = updates_.Changes();
    if (changes == lookedAt_) return;  // nothing new since the last look
    lookedAt_ = changes;
    if (!updates_.ShouldNotify()) return;
    noticeShown_ = true;
    const UpdateOffer offer = updates_.Offer();
    std::string title = "Update Available";
    std::string text = "Quillon v" + offer.targetVersion + " is available.";
    if (offer.urgency == UpdateUrgency::Required) {
        title = "Required Update";
        text += " This update is required.";
    } else if (offer.urgency == UpdateUrgency::Recommended) {
        text += " This update is recommended.";
    }
    shell_.ShowTrayBalloon(title.substr(0, 64), text.substr(0, 256));
    LogWrite(Info, "Showed update notification for v%s", offer.targetVersion.c_str());
    Push();
}

void UpdateBridge::PageArrived() {
    if (noticeShown_ && updates_.ShouldNotify()) Push();
}

void UpdateBridge::Push() {
    if (!host_.Ready()) return;
    const UpdateOffer offer = updates_.Offer();
    const char* urgency = UrgencyText(offer.urgency);
    host_.PostJson(UpdateAvailableMessage(offer.targetVersion, urgency, updates_.AnyDownloadUrl(),
                                          offer.releaseNotesUrl));
    LogWrite(Info, "Pushed update info to UI: v%s (%s)", offer.targetVersion.c_str(), urgency);
}

void UpdateBridge::Dismiss(const std::string& version) {
    updates_.Dismiss(version);
}

void UpdateBridge::Download() {
    updates_.OpenUpdateDownload();
}

}  // namespace quillon
