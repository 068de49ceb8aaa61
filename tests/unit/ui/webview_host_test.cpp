// The page host: what reaches the page and when, what reaches the dispatcher, the start page.
#include "ui/webview_host.h"

#include <gtest/gtest.h>

#include <thread>

#include "fakes/fake_shell.h"
#include "fakes/native_path.h"
#include "platform/shell_messages.h"
#include "platform/sim/sim_system.h"

namespace quillon::test {
namespace {

// The host's own shell events, without the main window's logic in between.
class HostListener final : public ShellListener {
public:
    explicit HostListener(WebViewHost& host) : host_(host) {}
    void OnCreate() override {}
    void OnClose() override {}
    void OnCommand(int) override {}
    void OnTimer(int) override {}
    void OnTrayMouse(uint32_t) override {}
    void OnPosted(uint32_t message) override {
        if (message == kPageOutboxMessage) host_.DeliverFromOtherThreads();
    }
    void OnResize(int, int) override {}
    void OnDestroy() override {}
    void OnPageReady() override { host_.OnPageReady(); }
    void OnPageGone() override { host_.OnPageGone(); }
    void OnPageMessage(const std::string& text) override { host_.OnPageMessage(text); }

private:
    WebViewHost& host_;
};

struct HostRig {
    HostRig() {
        system.executablePath = "/opt/quillon/bin/quillon";
        shell.Attach(listener, false);
    }
    sim::VirtualClock clock;
    sim::SimSystem system;
    FakeShell shell{clock};
    WebViewHost host{shell, system};
    HostListener listener{host};
};

TEST(WebViewHost, PostsBeforeReadyOrAfterThePageWentAreDroppedNotQueued) {
    HostRig rig;
    rig.host.Initialize({});
    rig.host.PostJson(R"({"type":"networkState","n":1})");
    EXPECT_FALSE(rig.host.Ready());
    rig.shell.PageReady();
    EXPECT_TRUE(rig.shell.pagePosts.empty());  // the early post is gone for good
    rig.host.PostJson(R"({"type":"networkState","n":2})");
    rig.shell.PageGone();
    rig.host.PostJson(R"({"type":"networkState","n":3})");
    rig.shell.PageReady();
    EXPECT_EQ(rig.shell.pagePosts, std::vector<std::string>{R"({"type":"networkState","n":2})"});
}

TEST(WebViewHost, ReadyActionRunsOnceAndLoadsTheStartPage) {
    HostRig rig;
    int runs = 0;
    rig.host.Initialize([&] {
        ++runs;
        rig.host.Navigate(StartPageUrl());
    });
    EXPECT_EQ(runs, 0);
    rig.shell.PageReady();
    rig.shell.PageGone();
    rig.shell.PageReady();
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(rig.shell.startedPages, std::vector<std::string>{"https://quillon.local/index.html"});
}

TEST(WebViewHost, PageStringsReachTheMessageActionUnchanged) {
    HostRig rig;
    rig.shell.PageSays(R"({"action":"triggerRefresh"})");  // no action yet: nothing happens
    std::vector<std::string> received;
    rig.host.SetMessageAction([&](const std::string& text) { received.push_back(text); });
    rig.shell.PageSays(R"({"action":"triggerRefresh"})");
    rig.shell.PageSays("caf\xC3\xA9 \"quoted\"");
    EXPECT_EQ(received, (std::vector<std::string>{R"({"action":"triggerRefresh"})",
                                                  "caf\xC3\xA9 \"quoted\""}));
}

TEST(WebViewHost, WorkerResultsAreCarriedToTheUiThreadBeforePosting) {
    HostRig rig;
    rig.shell.PageReady();
    std::thread worker([&] {
        rig.host.PostJsonFromAnyThread(R"({"type":"serviceMetrics","id":"a"})");
        rig.host.PostJsonFromAnyThread(R"({"type":"serviceMetrics","id":"b"})");
    });
    worker.join();
    EXPECT_TRUE(rig.shell.pagePosts.empty());  // nothing posted off the UI thread
    rig.shell.DeliverPosted();
    EXPECT_EQ(rig.shell.pagePosts.size(), 2u);

    // Still dropped when the page is gone by the time they arrive.
    rig.host.PostJsonFromAnyThread(R"({"type":"serviceMetrics","id":"c"})");
    rig.shell.PageGone();
    rig.shell.DeliverPosted();
    EXPECT_EQ(rig.shell.pagePosts.size(), 2u);
}

TEST(WebViewHost, UiFolderIsBesideTheExecutable) {
    sim::SimSystem system;
    system.executablePath = Native("/opt/quillon/bin/quillon");
    EXPECT_EQ(UiFolder(system), Native("/opt/quillon/bin/ui"));
    system.executablePath = "quillon";  // no folder known: no guess from the working folder
    EXPECT_EQ(UiFolder(system), "");
    system.executablePath.clear();
    EXPECT_EQ(UiFolder(system), "");
}

}  // namespace
}  // namespace quillon::test
