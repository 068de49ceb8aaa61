#include "backend/update_service.h"

#include <gtest/gtest.h>

#include "fakes/fake_shell.h"
#include "fakes/fake_store_ports.h"
#include "fakes/log_capture.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"
#include "ui/update_bridge.h"
#include "ui/webview_host.h"

namespace quillon {
namespace {

std::string Answer(const std::string& version, const std::string& urgency,
                   const std::string& artifacts = "[]", const std::string& notes = "") {
    return R"({"update":{"available":true,"targetVersion":")" + version + R"(","urgency":")" +
           urgency + R"(","releaseNotesUrl":")" + notes + R"(","artifacts":)" + artifacts + "}}";
}

struct UpdateRig {
    sim::VirtualClock clock;
    sim::SimSystem system;
    test::TestLog log{system, clock};
    test::MemorySettings settings;
    UpdateService updates{&settings, system, "1.0.0", "Linux", "x64"};
};

TEST(UpdateService, NewerOffersAreShownUnlessDismissedAndNotRequired) {
    EXPECT_LT(CompareVersions("1.9.0", "1.10.0"), 0);  // numbers, not text
    EXPECT_EQ(CompareVersions("2.0", "2.0.0"), 0);
    EXPECT_GT(CompareVersions("1.0.1", "1.0"), 0);

    UpdateRig rig;
    for (const auto& [version, shown] : std::vector<std::pair<std::string, bool>>{
             {"1.0.1", true}, {"1.0.0", false}, {"0.9.9", false}, {"1.10.0", true}}) {
        rig.updates.ApplyCheckInResponse(Answer(version, "optional"));
        EXPECT_EQ(rig.updates.ShouldNotify(), shown) << version;
    }
    rig.updates.ApplyCheckInResponse(Answer("1.2.0", "recommended"));
    rig.settings.Write("DismissedUpdates", {SettingType::String, ",1.2.0,,1.3.0,", {}, 0});
    EXPECT_EQ(rig.updates.LoadDismissedUpdates(), (std::vector<std::string>{"1.2.0", "1.3.0"}));
    EXPECT_FALSE(rig.updates.ShouldNotify());
    rig.updates.ApplyCheckInResponse(Answer("1.2.0", "required"));
    EXPECT_TRUE(rig.updates.ShouldNotify());  // dismissed or not

    // Dismissing twice stores it once; a version with a comma is not one.
    rig.updates.Dismiss("1.4.0");
    rig.updates.Dismiss("1.4.0");
    rig.updates.Dismiss("1.5.0,1.0.0");
    EXPECT_EQ(rig.settings.values["DismissedUpdates"].text, "1.2.0,1.3.0,1.4.0");

    // An answer without an offer clears it; one that is not an object keeps it.
    rig.updates.ApplyCheckInResponse("not json");
    EXPECT_TRUE(rig.updates.Offer().available);
    rig.updates.ApplyCheckInResponse(R"({"blockedVersions":["0.9.0",5]})");
    EXPECT_FALSE(rig.updates.Offer().available);
}

TEST(UpdateService, OpensThisSystemsDownloadOrTheNotesOnly) {
    UpdateRig rig;
    rig.updates.ApplyCheckInResponse(Answer(
        "1.1.0", "optional",
        R"([{"platform":"linux-arm64","url":"https://d/arm"},{"platform":"linux","url":"https://d/any"},)"
        R"({"platform":"linux-x64","url":"https://d/x64"}])"));
    rig.updates.OpenUpdateDownload();
    rig.updates.ApplyCheckInResponse(Answer("1.1.0", "optional", "[]", "https://d/notes"));
    rig.updates.OpenUpdateDownload();
    rig.updates.ApplyCheckInResponse(Answer("1.1.0", "optional"));
    rig.updates.OpenUpdateDownload();
    rig.updates.ApplyCheckInResponse(
        Answer("1.1.0", "optional", R"([{"platform":"linux","url":"file:///bin/sh"}])"));
    rig.updates.OpenUpdateDownload();
    EXPECT_EQ(rig.system.openedUrls,
              (std::vector<std::string>{"https://d/any", "https://d/notes"}));
    EXPECT_EQ(rig.log.Count("[WARN] No download URL available for update"), 1);
    EXPECT_EQ(rig.log.Count("not a web address"), 1);
}

TEST(UpdateBridge, NoticeOnceWhenTheOfferArrivesAndEveryPageIsTold) {
    UpdateRig rig;
    test::FakeShell shell{rig.clock};
    WebViewHost host{shell, rig.system};
    UpdateBridge bridge{host, shell, rig.updates};
    host.OnPageReady();
    bridge.Notice();  // no offer yet: nothing, and looked at again later
    rig.updates.ApplyCheckInResponse(Answer(
        "1.2.0", "required", R"([{"platform":"linux-x64","url":"https://d/x64"}])", "https://d/n"));
    bridge.Notice();
    bridge.Notice();
    EXPECT_EQ(shell.balloons, (std::vector<std::string>{
                                  "Required Update|Quillon v1.2.0 is available. This update is "
                                  "required."}));
    const std::string message =
        R"({"type":"updateAvailable","payload":{"version":"1.2.0","urgency":"required",)"
        R"("downloadUrl":"https://d/x64","releaseNotesUrl":"https://d/n"}})";
    EXPECT_EQ(shell.pagePosts, std::vector<std::string>{message});
    bridge.PageArrived();  // a reloaded page
    EXPECT_EQ(shell.pagePosts.size(), 2u);
    EXPECT_EQ(UpdateAvailableMessage("1.2.0", "optional", "", ""),
              R"({"type":"updateAvailable","payload":{"version":"1.2.0","urgency":"optional"}})");
}

}  // namespace
}  // namespace quillon
