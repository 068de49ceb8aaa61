// The whole application on the simulated platform: start-up and shutdown order read back from
// the log, the fatal start-up failures, and shutdown while a discovery worker is mid-trace.
#include <gtest/gtest.h>

#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/application.h"
#include "fakes/controller_rig.h"
#include "platform/platform.h"
#include "platform/shell_messages.h"

namespace quillon::test {
namespace {

// Blocking echoes wait at a gate the test opens; overlapped ones pass straight through.
class GatedIcmp final : public IcmpApi {
public:
    explicit GatedIcmp(IcmpApi& inner) : inner_(inner) {}

    std::unique_ptr<IcmpHandle> Open() override {
        auto handle = inner_.Open();
        if (!handle) return nullptr;
        return std::make_unique<Handle>(*this, std::move(handle));
    }
    void WaitUntilBlocked() {
        std::unique_lock lock(mutex_);
        changed_.wait(lock, [this] { return blocked_ > 0; });
    }
    void Open(bool open) {
        std::lock_guard lock(mutex_);
        open_ = open;
        changed_.notify_all();
    }
    int BlockingEchoes() {
        std::lock_guard lock(mutex_);
        return echoes_;
    }

private:
    class Handle final : public IcmpHandle {
    public:
        Handle(GatedIcmp& owner, std::unique_ptr<IcmpHandle> inner)
            : owner_(owner), inner_(std::move(inner)) {}
        bool Echo(const EchoRequest& request, EchoReply& reply) override {
            {
                std::unique_lock lock(owner_.mutex_);
                ++owner_.echoes_;
                ++owner_.blocked_;
                owner_.changed_.notify_all();
                owner_.changed_.wait(lock, [this] { return owner_.open_; });
                --owner_.blocked_;
            }
            return inner_->Echo(request, reply);
        }
        EchoStart StartEcho(const EchoRequest& request) override {
            return inner_->StartEcho(request);
        }
        bool PollEcho(EchoReply& reply) override { return inner_->PollEcho(reply); }

    private:
        GatedIcmp& owner_;
        std::unique_ptr<IcmpHandle> inner_;
    };

    IcmpApi& inner_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int blocked_ = 0;
    int echoes_ = 0;
};

struct AppRig {
    explicit AppRig(sim::ThreadMode mode = sim::ThreadMode::Inline, bool withUi = true)
        : threads(mode), network(SmallHome(), clock), icmp(network.icmp()) {
        system.executablePath = system.Root() + "/bin/quillon";
        if (withUi) {
            std::filesystem::create_directories(system.Root() + "/bin/ui");
            std::ofstream(system.Root() + "/bin/ui/index.html") << "<!doctype html>";
        }
        platform.clock = &clock;
        platform.threads = &threads;
        platform.system = &system;
        platform.icmp = &icmp;
        platform.netInfo = &network.netInfo();
        platform.netEvents = &netEvents;
        platform.dns = &network.dns();
        platform.autostart = &autostart;
        platform.shell = &shell;
    }

    // Lines of the log that contain any of `marks`, in file order.
    std::vector<std::string> Lines(const std::vector<std::string>& marks) {
        std::vector<std::string> out;
        std::istringstream in(ReadLog());
        for (std::string line; std::getline(in, line);) {
            for (const std::string& mark : marks) {
                if (line.find(mark) != std::string::npos) {
                    out.push_back(line.substr(line.find("] [") + 2));
                    break;
                }
            }
        }
        return out;
    }

    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads;
    sim::SimNetwork network;
    GatedIcmp icmp;
    FakeShell shell{clock};
    FakeNetEvents netEvents;
    FakeAutostart autostart;
    Platform platform;
};

const std::vector<std::string> kOrderMarks = {
    "Logging initialized",      "QlnWin starting",      "default destinations",
    "notifications registered", "Main window created",  "WebView2 ready",
    "Handling network change",  "QlnWin shutting down", "Logging shutdown"};

TEST(Application, StartsAndShutsDownInOrder) {
    AppRig rig;
    rig.shell.whileRunning = [&](FakeShell& shell) {
        shell.PageReady();
        shell.Advance(12000);
        rig.netEvents.Fire(NetChangeKind::Route, NetChangeType::Add);
        shell.Advance(1000);
        shell.Command(kCommandExit);
    };
    Application app(rig.platform, ApplicationOptions{});
    EXPECT_EQ(app.Run(), 0);
    EXPECT_FALSE(rig.shell.startedHidden);
    EXPECT_GE(rig.shell.StatePosts(), 2);
    EXPECT_EQ(rig.Lines(kOrderMarks),
              (std::vector<std::string>{
                  "[INFO] Logging initialized - log directory: " + rig.system.Root() + "/Logs\r",
                  "[INFO] QlnWin starting\r",
                  "[INFO] Initialized 2 default destinations\r",
                  "[INFO] Route change notifications registered\r",
                  "[INFO] Interface change notifications registered\r",
                  "[INFO] Main window created\r",
                  "[INFO] WebView2 ready\r",
                  "[INFO] WebView2 ready, loading React UI\r",
                  "[INFO] Handling network change notification\r",
                  "[INFO] QlnWin shutting down\r",
                  "[INFO] Logging shutdown\r",
              }));
    EXPECT_EQ(CountOf(ReadLog(), "[INFO] Loading UI from: https://quillon.local/index.html\r\n"),
              1);
    EXPECT_FALSE(app.WorkersLeftRunning());
    EXPECT_EQ(app.Monitor(), nullptr);
}

TEST(Application, MinimizedStartsHiddenAndSaysSo) {
    AppRig rig;
    Application app(rig.platform, ApplicationOptions{true, {}, ""});
    EXPECT_EQ(app.Run(), 0);  // the script is empty: the window is closed through Exit
    EXPECT_TRUE(rig.shell.startedHidden);
    EXPECT_EQ(CountOf(ReadLog(), "[INFO] QlnWin starting (minimized)\r\n"), 1);
    EXPECT_EQ(rig.shell.armed.front(), std::make_pair(kMeasurementTimer, 60000u));
}

TEST(Application, GivenDestinationsReplaceTheDefaults) {
    AppRig rig;
    std::vector<Destination> seen;
    Application app(rig.platform,
                    ApplicationOptions{false, {{Ipv4(8, 8, 8, 8), "8.8.8.8", true}}, ""});
    rig.shell.whileRunning = [&](FakeShell&) {
        seen = app.Monitor()->Registry().GetDestinations();
    };
    EXPECT_EQ(app.Run(), 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].isPrimary);
    EXPECT_EQ(CountOf(ReadLog(), "[INFO] Initialized 1 default destinations\r\n"), 1);
}

TEST(Application, AChosenInterfaceIsTheOnlyAdapterTheApplicationSees) {
    for (const std::string name : {"Wi-Fi", "eth9"}) {
        AppRig rig;
        std::string gatewayMac = "unset";
        Application app(rig.platform, ApplicationOptions{false, {}, name});
        rig.shell.whileRunning = [&](FakeShell& shell) {
            rig.netEvents.Fire(NetChangeKind::Interface, NetChangeType::Add);
            shell.Advance(1000);
            gatewayMac = app.Monitor()->Discovery().RecordedGatewayMac();
        };
        testing::internal::CaptureStderr();
        EXPECT_EQ(app.Run(), 0);
        const std::string said = testing::internal::GetCapturedStderr();
        const bool known = name == "Wi-Fi";
        EXPECT_EQ(gatewayMac, known ? "00:11:22:33:44:55" : "") << name;
        EXPECT_EQ(CountOf(ReadLog(), "[WARN] Interface eth9 not found\r\n"), known ? 0 : 1);
        // Not there (yet): the application runs on and says so where it was started.
        EXPECT_EQ(said, known ? ""
                              : "quillon: --interface eth9: no such adapter (present: Wi-Fi); "
                                "running on, it is used once it appears\n");
    }
}

TEST(Application, TheSimulatedNetworkAnnouncesItsChanges) {
    AppRig rig;
    rig.platform.netEvents = &rig.network.netEvents();
    rig.shell.whileRunning = [&](FakeShell& shell) {
        shell.PageReady();
        shell.Advance(12000);
        rig.network.world().Apply(sim::DefaultRouteGone());
        shell.Advance(1000);
    };
    Application app(rig.platform, ApplicationOptions{});
    EXPECT_EQ(app.Run(), 0);
    const std::string log = ReadLog();
    EXPECT_EQ(CountOf(log, "[INFO] Interface change notifications registered\r\n"), 1);
    EXPECT_EQ(CountOf(log, "[INFO] Handling network change notification\r\n"), 1);
    EXPECT_EQ(CountOf(log, "[ERROR]"), 0);
}

TEST(Application, MissingUiAssetsStopStartUpWithExitCode1) {
    AppRig rig(sim::ThreadMode::Inline, false);
    Application app(rig.platform, ApplicationOptions{});
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(rig.shell.runCalls, 0);
    const std::string index = rig.system.Root() + "/bin/ui/index.html";
    EXPECT_NE(app.FatalMessage().find(index + " not found"), std::string::npos);
    EXPECT_NE(app.FatalMessage().find("make run"), std::string::npos);
    EXPECT_EQ(rig.Lines({"[INFO]", "[WARN]", "[ERROR]"}),
              (std::vector<std::string>{
                  "[INFO] Logging initialized - log directory: " + rig.system.Root() + "/Logs\r",
                  "[INFO] QlnWin starting\r",
                  "[ERROR] UI assets not available: " + index + " not found\r",
                  "[INFO] Logging shutdown\r",
              }));
}

TEST(Application, WindowThatCannotBeCreatedEndsWithExitCode1) {
    AppRig rig;
    rig.shell.failCreate = true;
    Application app(rig.platform, ApplicationOptions{});
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(CountOf(ReadLog(), "[ERROR] Failed to create main window\r\n"), 1);
    EXPECT_EQ(CountOf(ReadLog(), "QlnWin shutting down"), 0);
    EXPECT_EQ(app.FatalMessage(), "Quillon cannot start: the main window could not be created.");
}

TEST(Application, AShellThatSaysWhyItCouldNotStartIsQuoted) {
    AppRig rig;
    rig.shell.failCreate = true;
    rig.shell.startFailure = "the page's address 127.0.0.1:8080 cannot be listened on";
    Application app(rig.platform, ApplicationOptions{});
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(CountOf(ReadLog(),
                      "[ERROR] Failed to start: the page's address 127.0.0.1:8080 "
                      "cannot be listened on\r\n"),
              1);
    EXPECT_EQ(app.FatalMessage(),
              "Quillon cannot start: the page's address 127.0.0.1:8080 cannot be listened on");
}

TEST(Application, RunsWithoutALogWhenItsFolderIsUnknown) {
    AppRig rig;
    rig.system.SetAppFolder(AppFolder::State, "");
    Application app(rig.platform, ApplicationOptions{});
    testing::internal::CaptureStderr();
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Warning: Failed to initialize logging\n");
    EXPECT_EQ(rig.shell.runCalls, 1);
}

// Shutdown while a discovery worker waits inside a probe of its first traceroute.
class ShutdownMidTrace : public ::testing::Test {
protected:
    // Runs the application until a worker is blocked in a probe, then chooses Exit.
    int RunUntilBlockedThenExit(Application& app) {
        rig.shell.whileRunning = [&](FakeShell& shell) {
            rig.icmp.Open(false);
            shell.Advance(5000);  // the first tick starts discovery on a worker
            rig.icmp.WaitUntilBlocked();
            shell.Command(kCommandExit);
        };
        return app.Run();
    }
    AppRig rig{sim::ThreadMode::Threaded};
};

TEST_F(ShutdownMidTrace, TheWorkerStopsBeforeItsNextProbeWithinTheBound) {
    Application app(rig.platform, ApplicationOptions{});
    std::thread opener([&] {
        rig.icmp.WaitUntilBlocked();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        rig.icmp.Open(true);
    });
    EXPECT_EQ(RunUntilBlockedThenExit(app), 0);
    opener.join();
    EXPECT_FALSE(app.WorkersLeftRunning());
    EXPECT_EQ(rig.icmp.BlockingEchoes(), 1);  // the probe in flight, none after the stop
    const std::string log = ReadLog();
    EXPECT_EQ(CountOf(log, "still running at shutdown"), 0);
    EXPECT_EQ(CountOf(log, "Traceroute complete"), 0);
    EXPECT_EQ(CountOf(log, "Primary path discovered"), 0);
}

TEST_F(ShutdownMidTrace, AWorkerPastTheBoundIsLeftAloneAndStillStops) {
    Application app(rig.platform, ApplicationOptions{});
    app.SetWorkerStopBound(std::chrono::milliseconds(50));
    EXPECT_EQ(RunUntilBlockedThenExit(app), 0);
    EXPECT_TRUE(app.WorkersLeftRunning());
    EXPECT_EQ(rig.Lines({"still running", "Logging shutdown"}),
              (std::vector<std::string>{
                  "[WARN] Path discovery worker still running at shutdown - left to process "
                  "exit\r",
                  "[INFO] Logging shutdown\r",
              }));
    const std::string before = ReadLog();
    rig.icmp.Open(true);
    rig.threads.WaitIdle();
    EXPECT_EQ(rig.icmp.BlockingEchoes(), 1);
    EXPECT_EQ(ReadLog(), before);  // nothing written after the log closed
}

}  // namespace
}  // namespace quillon::test
