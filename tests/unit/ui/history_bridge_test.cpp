// The page's history commands: replies for what cannot be done, the export's file, and the
// worker's stop at shutdown.
#include "ui/history_bridge.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "base/json_value.h"
#include "fakes/fake_shell.h"
#include "fakes/native_path.h"
#include "path/ping_archive.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/virtual_clock.h"
#include "ui/webview_host.h"

namespace quillon {
namespace {

struct HistoryRig {
    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads;  // inline: a request is answered before it returns
    test::FakeShell shell{clock};
    WebViewHost host{shell, system};
    PingArchive archive{clock};
    HistoryBridge bridge{host, archive, HistoryPorts{clock, threads, system}};

    HistoryRig() { host.OnPageReady(); }
    // The last reply, once the UI thread has delivered what the worker posted.
    JsonValue Reply() {
        host.DeliverFromOtherThreads();
        return JsonValue::parse(shell.pagePosts.back()).member("payload");
    }
};

TEST(HistoryBridge, SaysWhatItCannotDo) {
    HistoryRig rig;
    rig.bridge.RequestHistory("day");
    EXPECT_NE(rig.Reply().member("error").asString().find("not being recorded"), std::string::npos);
    ASSERT_TRUE(rig.archive.Init(rig.system.Root() + "/Data"));
    rig.bridge.RequestHistory("fortnight");
    EXPECT_EQ(rig.Reply().member("error").asString(), "Unknown period \"fortnight\".");
    rig.bridge.RequestExport("day", "xml");
    EXPECT_EQ(rig.Reply().member("ok").asBool(), false);
    rig.bridge.RequestExport("day", "csv");  // no downloads folder
    EXPECT_EQ(rig.Reply().member("error").asString(), "There is no downloads folder to save to.");
}

TEST(HistoryBridge, ReadsWhatWaitsInMemoryAndExportsUnderANewName) {
    HistoryRig rig;
    ASSERT_TRUE(rig.archive.Init(rig.system.Root() + "/Data"));
    rig.system.downloadsFolder = rig.system.Root() + test::Native("/Downloads");
    rig.archive.AddSample("192.168.1.1", 1, 3, false);
    rig.clock.Advance(1000);
    rig.bridge.RequestHistory("hour");
    EXPECT_EQ(rig.Reply().member("records").asInteger(), 1);
    for (const char* name :
         {"quillon-history-20261205-0742.csv", "quillon-history-20261205-0742-2.csv"}) {
        rig.bridge.RequestExport("hour", "csv");
        const JsonValue reply = rig.Reply();
        EXPECT_TRUE(reply.member("ok").asBool());
        EXPECT_EQ(reply.member("path").asString(),
                  rig.system.Root() + test::Native("/Downloads/") + name);
        EXPECT_EQ(reply.member("records").asInteger(), 1);
    }
    EXPECT_TRUE(rig.bridge.Stop(std::chrono::milliseconds(100)));
    const size_t replies = rig.shell.pagePosts.size();
    rig.bridge.RequestHistory("hour");  // after the stop: nothing more
    rig.host.DeliverFromOtherThreads();
    EXPECT_EQ(rig.shell.pagePosts.size(), replies);
}

}  // namespace
}  // namespace quillon
