// The whole application on the simulated platform: start-up and shutdown order read back from
// the log, the fatal start-up failures, and shutdown while a discovery worker is mid-trace.
#include <gtest/gtest.h>

#include <algorithm>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <thread>

#include "app/application.h"
#include "fakes/controller_rig.h"
#include "fakes/fake_service_ports.h"
#include "fakes/fake_store_ports.h"
#include "fakes/file_text.h"
#include "fakes/hooked_icmp.h"
#include "fakes/native_path.h"
#include "platform/platform.h"
#include "platform/shell_messages.h"
#include "platform/sim/sim_scenario.h"

namespace quillon::test {
namespace {

// Holds blocking echoes while closed; counts them.
class EchoGate {
public:
    void Pass() {
        std::unique_lock lock(mutex_);
        ++echoes_;
        ++blocked_;
        changed_.notify_all();
        changed_.wait(lock, [this] { return open_; });
        --blocked_;
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
    int Echoes() {
        std::lock_guard lock(mutex_);
        return echoes_;
    }

private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = true;
    int blocked_ = 0;
    int echoes_ = 0;
};

struct AppRig {
    explicit AppRig(sim::ThreadMode mode = sim::ThreadMode::Inline, bool withUi = true,
                    sim::WorldConfig world = SmallHome())
        : threads(mode), network(std::move(world), clock), icmp(network.icmp()) {
        icmp.beforeEcho = [this] { gate.Pass(); };
        system.executablePath = system.Root() + Native("/bin/quillon");
        if (withUi) {
            std::filesystem::create_directories(system.Root() + Native("/bin/ui"));
            std::ofstream(system.Root() + Native("/bin/ui/index.html")) << "<!doctype html>";
        }
        platform.clock = &clock;
        platform.threads = &threads;
        platform.system = &system;
        platform.icmp = &icmp;
        platform.netInfo = &network.netInfo();
        platform.netEvents = &netEvents;
        platform.dns = &network.dns();
        platform.sockets = &network.sockets();
        platform.http = &network.http();
        platform.autostart = &autostart;
        platform.shell = &shell;
    }

    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads;
    sim::SimNetwork network;
    EchoGate gate;
    HookedIcmp icmp;
    FakeShell shell{clock};
    FakeNetEvents netEvents;
    sim::SimAutostart autostart;
    Platform platform;
    LogCapture log;
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
    EXPECT_EQ(
        rig.log.Lines(kOrderMarks),
        (std::vector<std::string>{
            "[INFO] Logging initialized - log directory: " + rig.system.Root() + Native("/Logs"),
            "[INFO] QlnWin starting",
            "[INFO] Initialized 2 default destinations",
            "[INFO] Route change notifications registered",
            "[INFO] Interface change notifications registered",
            "[INFO] Main window created",
            "[INFO] WebView2 ready",
            "[INFO] WebView2 ready, loading React UI",
            "[INFO] Handling network change notification",
            "[INFO] QlnWin shutting down",
            "[INFO] Logging shutdown",
        }));
    EXPECT_EQ(rig.log.Count("[INFO] Loading UI from: https://quillon.local/index.html\r\n"), 1);
    EXPECT_FALSE(app.WorkersLeftRunning());
    EXPECT_EQ(app.Monitor(), nullptr);
}

// Everything in the archive's files, in the order of their names.
std::string ArchiveText(const std::string& folder) {
    std::vector<std::filesystem::path> files;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) files.push_back(entry);
    std::sort(files.begin(), files.end());
    std::string text;
    for (const auto& file : files) text += ReadFileText(file);
    return text;
}

TEST(Application, TheEchoesWaitingInMemoryAreWrittenWhenTheSessionEnds) {
    AppRig rig;
    const std::string data = rig.system.Root() + Native("/Data");
    size_t written = 0;
    rig.shell.whileRunning = [&](FakeShell& shell) {
        shell.PageReady();
        shell.Advance(30000);  // half the archive's flush interval: nothing on disk yet
        EXPECT_EQ(ArchiveText(data).find("\"rtt\""), std::string::npos);
        shell.SessionEnds();
        // The process may be ended now: the echoes are on disk, with the end of watching.
        const std::string text = ArchiveText(data);
        EXPECT_NE(text.find("\"rtt\""), std::string::npos);
        EXPECT_NE(text.find("\"status\":\"stopped\""), std::string::npos);
        written = text.size();
        shell.Advance(70000);  // it was not: what follows goes nowhere, and nothing breaks
    };
    Application app(rig.platform, ApplicationOptions{});
    EXPECT_EQ(app.Run(), 0);
    EXPECT_EQ(ArchiveText(data).size(), written);
    EXPECT_EQ(rig.log.Count("[INFO] Session ending - archive written\r\n"), 1);
    EXPECT_EQ(rig.log.Count("Archiver shutdown"), 1);
}

TEST(Application, MinimizedStartsHiddenAndSaysSo) {
    AppRig rig;
    Application app(rig.platform, ApplicationOptions{true, {}, ""});
    EXPECT_EQ(app.Run(), 0);  // the script is empty: the window is closed through Exit
    EXPECT_TRUE(rig.shell.startedHidden);
    EXPECT_EQ(rig.log.Count("[INFO] QlnWin starting (minimized)\r\n"), 1);
    EXPECT_EQ(rig.shell.armed.front(), std::make_pair(kMeasurementTimer, 60000u));
}

TEST(Application, GivenDestinationsReplaceTheDefaults) {
    AppRig rig;
    std::vector<Destination> seen;
    Application app(rig.platform,
                    ApplicationOptions{false, {{Ipv4Address(8, 8, 8, 8), "8.8.8.8", true}}, ""});
    rig.shell.whileRunning = [&](FakeShell&) {
        seen = app.Monitor()->Registry().GetDestinations();
    };
    EXPECT_EQ(app.Run(), 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_TRUE(seen[0].isPrimary);
    EXPECT_EQ(rig.log.Count("[INFO] Initialized 1 default destinations\r\n"), 1);
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
        EXPECT_EQ(rig.log.Count("[WARN] Interface eth9 not found\r\n"), known ? 0 : 1);
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
    EXPECT_EQ(rig.log.Count("[INFO] Interface change notifications registered\r\n"), 1);
    EXPECT_EQ(rig.log.Count("[INFO] Handling network change notification\r\n"), 1);
    EXPECT_EQ(rig.log.Count("[ERROR]"), 0);
}

TEST(Application, MakersOfTheComputerAndTheGatewayReachThePage) {
    AppRig rig;
    FakeFiles files;
    rig.platform.files = &files;  // a download may be stored: one is tried, and fails offline
    rig.shell.whileRunning = [&](FakeShell& shell) {
        shell.PageReady();
        shell.Advance(12000);
    };
    Application app(rig.platform,
                    ApplicationOptions{false, {}, "", {QUILLON_SCENARIO_DIR "/vendors.txt"}});
    EXPECT_EQ(app.Run(), 0);
    ASSERT_GE(rig.shell.StatePosts(), 1);
    const std::string state = rig.shell.LastState();
    // The gateway 00:11:22:... is listed as it is; the computer's locally administered
    // 02:1A:2B:... by its maker's universally administered prefix 00:1A:2B.
    EXPECT_NE(state.find(R"("gatewayManufacturer":"Example Router Works")"), std::string::npos)
        << state;
    EXPECT_NE(state.find(R"("displayName":"Example Router Works")"), std::string::npos);
    EXPECT_NE(state.find(R"("clientManufacturer":"Example Laptop Company")"), std::string::npos);
    EXPECT_EQ(rig.log.Count("[INFO] Downloading OUI database from Wireshark..."), 1);
    EXPECT_EQ(rig.log.Count("[ERROR] WinHttpSendRequest failed: 12007"), 1);
    EXPECT_FALSE(app.WorkersLeftRunning());
}

TEST(Application, WhereThePublicAddressIsReachesThePageAndIsKeptForTheNextRun) {
    const sim::ScenarioLoad home = sim::LoadScenarioFile(QUILLON_SCENARIO_DIR "/healthy_home.json");
    ASSERT_TRUE(home.ok) << home.error;
    AppRig rig(sim::ThreadMode::Inline, true, home.world);
    FakeFiles files;
    rig.platform.files = &files;
    for (const char* run : {"first", "second"}) {
        SCOPED_TRACE(run);
        FakeShell shell{rig.clock};  // each run its own window
        rig.platform.shell = &shell;
        shell.whileRunning = [&](FakeShell& running) {
            running.PageReady();
            running.Advance(20000);
        };
        Application app(rig.platform, ApplicationOptions{});
        EXPECT_EQ(app.Run(), 0);
        const std::string state = shell.LastState();
        EXPECT_NE(state.find(R"("location":"Portland, Oregon, US","latitude":45.5152,)"
                             R"("longitude":-122.6784,"latencyMs")"),
                  std::string::npos)
            << state;
        // The provider's first router is in Seattle, about 145 miles away.
        EXPECT_NE(state.find(R"("ispDistanceMiles":145})"), std::string::npos);
    }
    // The second run found both places in the file the first one left.
    EXPECT_EQ(rig.log.Count("[INFO] GeoIP service initialized with 0 cached entries"), 1);
    EXPECT_EQ(rig.log.Count("[INFO] GeoIP service initialized with 2 cached entries"), 1);
}

TEST(Application, AnUpdateOfferFromTheBackendIsShownOnceAndDismissedForGood) {
    // The simulated internet holds the backend: its check-in answers with an offer.
    sim::WorldConfig world = SmallHome();
    sim::ServiceHostConfig backend;
    backend.name = "c2.example";
    backend.address = Ipv4Address(198, 51, 100, 90);
    backend.tcpPorts = {{443}};
    backend.tls = true;
    sim::WebResponseConfig answer;
    answer.path = "/v1/check-in";
    answer.body =
        R"({"update":{"available":true,"targetVersion":"1.2.0","urgency":"recommended",)"
        R"("artifacts":[{"platform":"linux","url":"https://c2.example/q-1.2.0.tar.gz"}]}})";
    backend.web = {answer};
    world.serviceHosts.push_back(backend);
    AppRig rig(sim::ThreadMode::Inline, true, world);
    MemorySettings settings;
    rig.platform.settings = &settings;
    std::ofstream(rig.system.Root() + Native("/config.json"))
        << R"({"c2":{"c2_base_url":"https://c2.example"}})";

    for (const char* run : {"first", "second"}) {
        SCOPED_TRACE(run);
        FakeShell shell{rig.clock};
        rig.platform.shell = &shell;
        shell.whileRunning = [&](FakeShell& running) {
            running.PageReady();
            running.Advance(12000);
            running.PageSays(R"({"action":"dismiss_update","version":"1.2.0"})");
        };
        Application app(rig.platform, ApplicationOptions{});
        EXPECT_EQ(app.Run(), 0);
        const bool first = std::string(run) == "first";
        EXPECT_EQ(shell.balloons.size(), first ? 1u : 0u);
        EXPECT_EQ(std::count(shell.pagePosts.begin(), shell.pagePosts.end(),
                             R"({"type":"updateAvailable","payload":{"version":"1.2.0",)"
                             R"("urgency":"recommended",)"
                             R"("downloadUrl":"https://c2.example/q-1.2.0.tar.gz"}})"),
                  first ? 1 : 0);
    }
    EXPECT_EQ(settings.values["DismissedUpdates"].text, "1.2.0");
    EXPECT_EQ(rig.log.Count("[INFO] Update available: v1.2.0 (urgency: 1)"), 2);
}

TEST(Application, MissingUiAssetsStopStartUpWithExitCode1) {
    AppRig rig(sim::ThreadMode::Inline, false);
    Application app(rig.platform, ApplicationOptions{});
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(rig.shell.runCalls, 0);
    const std::string index = rig.system.Root() + Native("/bin/ui/index.html");
    EXPECT_NE(app.FatalMessage().find(index + " not found"), std::string::npos);
    EXPECT_NE(app.FatalMessage().find("make run"), std::string::npos);
    EXPECT_EQ(
        rig.log.Lines({"[INFO]", "[WARN]", "[ERROR]"}),
        (std::vector<std::string>{
            "[INFO] Logging initialized - log directory: " + rig.system.Root() + Native("/Logs"),
            "[INFO] QlnWin starting",
            "[ERROR] UI assets not available: " + index + " not found",
            "[INFO] Logging shutdown",
        }));
}

TEST(Application, WithoutTheWebViewRuntimeNothingStartsAndItsDownloadIsOffered) {
    for (const MessageBoxResult answer : {MessageBoxResult::Ok, MessageBoxResult::Cancel}) {
        AppRig rig;
        rig.shell.runtimeAvailable = false;
        rig.system.messageBoxAnswer = answer;
        Application app(rig.platform, ApplicationOptions{});
        EXPECT_EQ(app.Run(), 1);
        EXPECT_EQ(rig.shell.runCalls, 0);
        ASSERT_EQ(rig.system.shownMessages.size(), 1u);
        const sim::SimSystem::ShownMessage& shown = rig.system.shownMessages[0];
        EXPECT_EQ(shown.caption, "WebView2 Runtime Required");
        EXPECT_EQ(shown.text.find("Quillon requires the Microsoft Edge WebView2 Runtime, which is "
                                  "not installed on this system.\n\nWebView2 is included"),
                  0u);
        EXPECT_EQ(shown.buttons, MessageBoxButtons::OkCancel);
        EXPECT_EQ(shown.kind, MessageBoxKind::Information);
        EXPECT_EQ(rig.system.openedUrls.size(), answer == MessageBoxResult::Ok ? 1u : 0u);
        // Nothing after the check ran: no archive folder, nothing logged but these lines.
        EXPECT_FALSE(std::filesystem::exists(rig.system.Root() + Native("/Data")));
        EXPECT_EQ(rig.log.Lines({"[INFO]", "[WARN]", "[ERROR]"}),
                  (std::vector<std::string>{
                      "[INFO] Logging initialized - log directory: " + rig.system.Root() +
                          Native("/Logs"),
                      "[INFO] QlnWin starting",
                      "[ERROR] WebView2 runtime not available",
                      "[INFO] Logging shutdown",
                  }));
    }
}

TEST(Application, WindowThatCannotBeCreatedEndsWithExitCode1) {
    AppRig rig;
    rig.shell.failCreate = true;
    Application app(rig.platform, ApplicationOptions{});
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(rig.log.Count("[ERROR] Failed to create main window\r\n"), 1);
    EXPECT_EQ(rig.log.Count("QlnWin shutting down"), 0);
    EXPECT_EQ(app.FatalMessage(), "Quillon cannot start: the main window could not be created.");
}

TEST(Application, AShellThatSaysWhyItCouldNotStartIsQuoted) {
    AppRig rig;
    rig.shell.failCreate = true;
    rig.shell.startFailure = "the page's address 127.0.0.1:8080 cannot be listened on";
    Application app(rig.platform, ApplicationOptions{});
    EXPECT_EQ(app.Run(), 1);
    EXPECT_EQ(rig.log.Count("[ERROR] Failed to start: the page's address 127.0.0.1:8080 cannot be "
                            "listened on\r\n"),
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
            rig.gate.Open(false);
            shell.Advance(5000);  // the first tick starts discovery on a worker
            rig.gate.WaitUntilBlocked();
            shell.Command(kCommandExit);
        };
        return app.Run();
    }
    AppRig rig{sim::ThreadMode::Threaded};
};

TEST_F(ShutdownMidTrace, TheWorkerStopsBeforeItsNextProbeWithinTheBound) {
    Application app(rig.platform, ApplicationOptions{});
    std::thread opener([&] {
        rig.gate.WaitUntilBlocked();
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        rig.gate.Open(true);
    });
    EXPECT_EQ(RunUntilBlockedThenExit(app), 0);
    opener.join();
    EXPECT_FALSE(app.WorkersLeftRunning());
    EXPECT_EQ(rig.gate.Echoes(), 1);  // the probe in flight, none after the stop
    EXPECT_EQ(rig.log.Lines(
                  {"still running at shutdown", "Traceroute complete", "Primary path discovered"}),
              std::vector<std::string>{});
}

TEST_F(ShutdownMidTrace, AWorkerPastTheBoundIsLeftAloneAndStillStops) {
    Application app(rig.platform, ApplicationOptions{});
    app.SetWorkerStopBound(std::chrono::milliseconds(50));
    EXPECT_EQ(RunUntilBlockedThenExit(app), 0);
    EXPECT_TRUE(app.WorkersLeftRunning());
    EXPECT_EQ(rig.log.Lines({"still running", "Logging shutdown"}),
              (std::vector<std::string>{
                  "[WARN] Path discovery worker still running at shutdown - left to process "
                  "exit",
                  "[INFO] Logging shutdown",
              }));
    const std::string before = rig.log.Text();
    rig.gate.Open(true);
    rig.threads.WaitIdle();
    EXPECT_EQ(rig.gate.Echoes(), 1);
    EXPECT_EQ(rig.log.Text(), before);  // nothing written after the log closed
}

}  // namespace
}  // namespace quillon::test
