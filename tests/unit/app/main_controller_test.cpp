// The main window's logic in virtual time: modes and timers, the tray, launch at startup,
// network changes and the window's end.
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "fakes/controller_rig.h"
#include "platform/shell_messages.h"

namespace quillon::test {
namespace {

constexpr MacAddress kOtherGatewayMac{0x00, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE};

TEST(MainController, CreationArmsTimersAddsTrayAndRegistersForChanges) {
    ControllerRig rig;
    rig.Create();
    EXPECT_EQ(rig.shell.TimerPeriod(kMeasurementTimer), 5000u);
    EXPECT_EQ(rig.shell.TimerPeriod(kUpdateNoticeTimer), 5000u);
    EXPECT_TRUE(rig.shell.trayShown);
    EXPECT_EQ(rig.shell.trayTip, "Quillon");
    EXPECT_TRUE(rig.shell.visible);
    EXPECT_EQ(rig.netEvents.Live(), 2);
    EXPECT_EQ(rig.monitor.Registry().GetDestinations().size(), 2u);

    EXPECT_EQ(rig.log.Lines({"destinations", "registered", "window"}),
              (std::vector<std::string>{"[INFO] Initialized 2 default destinations",
                                        "[INFO] Route change notifications registered",
                                        "[INFO] Interface change notifications registered",
                                        "[INFO] Main window created"}));
    // The initial notifications came before registration ended: skipped, nothing handled.
    rig.shell.Advance(1000);
    EXPECT_EQ(rig.log.Count("change detected"), 0);
    EXPECT_EQ(rig.log.Count("Handling network change notification"), 0);
}

// One rig at a time: the log is process-wide.
TEST(MainController, RouteRegistrationFailureSkipsInterfaceAndNeverReacts) {
    {
        ControllerRig rig;
        rig.netEvents.failRoute = true;
        rig.Create();
        EXPECT_EQ(rig.log.Count("[ERROR] Failed to register route change notification: 5\r\n"), 1);
        EXPECT_EQ(rig.log.Count("Interface change notifications"), 0);
        EXPECT_EQ(rig.netEvents.Live(), 0);
    }
    ControllerRig other;
    other.netEvents.failInterface = true;
    other.Create();
    EXPECT_EQ(other.log.Count("[ERROR] Failed to register interface change notification: 5"), 1);
    // Route changes still count once both attempts are over.
    other.netEvents.Fire(NetChangeKind::Route, NetChangeType::Add);
    other.shell.Advance(600);
    EXPECT_EQ(other.log.Count("[INFO] Handling network change notification"), 1);
}

TEST(MainController, ClosingHidesToTrayAndSlowsMeasurementTo60s) {
    ControllerRig rig;
    rig.Create();
    rig.shell.Close();
    EXPECT_FALSE(rig.shell.visible);
    EXPECT_FALSE(rig.controller.Visible());
    EXPECT_EQ(rig.shell.TimerPeriod(kMeasurementTimer), 60000u);
    EXPECT_FALSE(rig.shell.destroyed);
    EXPECT_FALSE(rig.shell.quit);

    rig.shell.Click(kTrayRightButtonUp);
    ASSERT_EQ(rig.shell.menus.size(), 1u);
    EXPECT_EQ(rig.shell.menus[0][0].label, "Show");

    // Measurement goes on, slowly: one tick a minute.
    rig.shell.PageReady();
    const size_t before = rig.shell.pagePosts.size();
    rig.shell.Advance(59000);
    EXPECT_EQ(rig.shell.pagePosts.size(), before);
    rig.shell.Advance(1000);
    EXPECT_EQ(rig.shell.StatePosts(), static_cast<int>(before) + 1);
}

struct PowerSupply {
    const char* name;
    uint8_t acLineStatus;
    uint32_t activePeriodMs;
};
class MinimizedStart : public ::testing::TestWithParam<PowerSupply> {};

TEST_P(MinimizedStart, TrayClickShowsRearmsForThePowerSupplyAndPushesAtOnce) {
    ControllerRig rig(true);
    rig.system.power.acLineStatus = GetParam().acLineStatus;
    rig.Create();
    EXPECT_TRUE(rig.shell.startedHidden);
    EXPECT_FALSE(rig.controller.Visible());
    EXPECT_EQ(rig.shell.TimerPeriod(kMeasurementTimer), 60000u);

    rig.shell.PageReady();
    rig.shell.Click(kTrayLeftButtonUp);
    EXPECT_TRUE(rig.shell.visible);
    EXPECT_EQ(rig.shell.TimerPeriod(kMeasurementTimer), GetParam().activePeriodMs);
    ASSERT_EQ(rig.shell.StatePosts(), 1);  // no time passed: pushed by the click itself

    rig.shell.Click(kTrayLeftDoubleClick);
    EXPECT_FALSE(rig.shell.visible);
    EXPECT_EQ(rig.shell.TimerPeriod(kMeasurementTimer), 60000u);
    EXPECT_EQ(rig.shell.StatePosts(), 1);  // hiding pushes nothing
}

// Each period the power watcher can give (its other supplies map to these two).
INSTANTIATE_TEST_SUITE_P(PowerSupplies, MinimizedStart,
                         ::testing::Values(PowerSupply{"Mains", 1, 5000},
                                           PowerSupply{"Battery", 0, 15000}),
                         [](const auto& info) { return info.param.name; });

TEST(MainController, WithoutATrayTheWindowStaysWithinReach) {
    ControllerRig rig(true);
    rig.shell.trayAvailable = false;
    rig.Create();
    EXPECT_TRUE(rig.shell.visible);  // a hidden start would leave nothing to show it with
    EXPECT_TRUE(rig.controller.Visible());
    rig.shell.PageReady();
    rig.shell.PageArrived();
    int notices = 0;
    for (const std::string& post : rig.shell.pagePosts) notices += post == R"({"type":"noTray"})";
    EXPECT_EQ(notices, 2);  // every page is told what closing does
    rig.shell.Close();
    EXPECT_TRUE(rig.shell.destroyed);  // closing ends the program instead of hiding it
    EXPECT_EQ(rig.log.Count("No tray icon: closing the window ends the program"), 1);
}

TEST(MainController, MenuItemAndTrayEventsOutsideTheTableDoNothing) {
    ControllerRig rig;
    rig.Create();
    rig.shell.Click(0x200);  // mouse move
    rig.shell.Command(2999);
    EXPECT_TRUE(rig.shell.visible);
    EXPECT_TRUE(rig.shell.menus.empty());

    rig.shell.Command(kCommandShowHide);
    EXPECT_FALSE(rig.shell.visible);
    EXPECT_EQ(rig.shell.TimerPeriod(kMeasurementTimer), 60000u);
    rig.shell.Click(kTrayRightButtonUp);
    using Item = std::tuple<int, std::string, bool>;
    std::vector<Item> menu;
    for (const TrayMenuItem& i : rig.shell.menus.back()) {
        menu.emplace_back(i.command, i.label, i.checked);
    }
    EXPECT_EQ(menu, (std::vector<Item>{{kCommandShowHide, "Show", false},
                                       {0, "", false},  // separators
                                       {kCommandLaunchAtStartup, "Launch at startup", false},
                                       {0, "", false},
                                       {kCommandExit, "Exit", false}}));
}

TEST(MainController, LaunchAtStartupToggledTwiceLeavesNoEntry) {
    ControllerRig rig;
    rig.system.executablePath = "/opt/quillon bin/quillon";
    rig.Create();
    rig.shell.Command(kCommandLaunchAtStartup);
    ASSERT_TRUE(rig.autostart.entry.has_value());
    EXPECT_EQ(*rig.autostart.entry, "\"/opt/quillon bin/quillon\" --minimized");
    rig.shell.Click(kTrayRightButtonUp);
    EXPECT_TRUE(rig.shell.menus.back()[2].checked);

    rig.shell.Command(kCommandLaunchAtStartup);
    EXPECT_FALSE(rig.autostart.entry.has_value());
    rig.shell.Click(kTrayRightButtonUp);
    EXPECT_FALSE(rig.shell.menus.back()[2].checked);
    EXPECT_EQ(rig.log.Count("[INFO] Launch at startup enabled\r\n"), 1);
    EXPECT_EQ(rig.log.Count("[INFO] Launch at startup disabled\r\n"), 1);
}

TEST(MainController, LaunchAtStartupFailuresWarnAndTheMenuShowsTheRealState) {
    {
        ControllerRig rig;
        rig.Create();
        rig.autostart.failWrite = true;
        rig.shell.Command(kCommandLaunchAtStartup);
        EXPECT_EQ(rig.log.Count("[WARN] Failed to enable launch at startup\r\n"), 1);
        EXPECT_EQ(rig.log.Count("Launch at startup enabled"), 0);
        rig.shell.Click(kTrayRightButtonUp);
        EXPECT_FALSE(rig.shell.menus.back()[2].checked);

        rig.autostart.failWrite = false;
        rig.shell.Command(kCommandLaunchAtStartup);
        rig.autostart.failRemove = true;
        rig.shell.Command(kCommandLaunchAtStartup);
        EXPECT_EQ(rig.log.Count("[WARN] Failed to disable launch at startup\r\n"), 1);
        EXPECT_EQ(rig.log.Count("Launch at startup disabled"), 0);
        rig.shell.Click(kTrayRightButtonUp);
        EXPECT_TRUE(rig.shell.menus.back()[2].checked);
    }
    // With no known executable there is nothing to start: no entry is written.
    ControllerRig nameless;
    nameless.system.executablePath.clear();
    nameless.Create();
    nameless.shell.Command(kCommandLaunchAtStartup);
    EXPECT_FALSE(nameless.autostart.entry.has_value());
    EXPECT_EQ(nameless.log.Count("[WARN] Failed to enable launch at startup"), 1);
}

TEST(MainController, MeasurementTicksPostTheStateOnlyOnceThePageIsReady) {
    ControllerRig rig;
    rig.Create();
    rig.shell.Advance(10000);  // two ticks, page not there: built and dropped
    EXPECT_TRUE(rig.shell.pagePosts.empty());
    EXPECT_TRUE(rig.monitor.Discovery().PrimaryDone());

    rig.shell.PageReady();
    EXPECT_EQ(rig.shell.startedPages, std::vector<std::string>{"https://quillon.local/index.html"});
    EXPECT_EQ(rig.shell.StatePosts(), 1);  // the page on the shown window gets it at once
    // Each sweep's echoes are shown by the tick that collects them; the sweep's own tick
    // brings nothing new and posts nothing: one post a regular interval.
    rig.shell.Advance(15000);
    EXPECT_EQ(rig.shell.StatePosts(), 4);
    EXPECT_EQ(rig.shell.pagePosts.size(), 4u);

    // A reloaded or second page gets the state at once.
    rig.shell.PageArrived();
    EXPECT_EQ(rig.shell.StatePosts(), 5);

    rig.shell.PageGone();
    rig.shell.Advance(5000);
    EXPECT_EQ(rig.shell.pagePosts.size(), 5u);
}

TEST(MainController, UpdateNoticeTimerFiresOnceAndShowsNothingWithoutAnOffer) {
    ControllerRig rig;
    rig.Create();
    rig.shell.Advance(5000);
    EXPECT_FALSE(rig.shell.TimerPeriod(kUpdateNoticeTimer).has_value());
    rig.shell.Advance(20000);
    EXPECT_TRUE(rig.shell.balloons.empty());
}

TEST(MainController, ExitTearsDownInOrderAndQuitsWithZero) {
    ControllerRig rig;
    rig.Create();
    rig.shell.Advance(5000);
    EXPECT_TRUE(rig.monitor.Prober().SharedHandleOpen());
    rig.shell.Command(kCommandExit);
    EXPECT_TRUE(rig.shell.destroyed);
    EXPECT_TRUE(rig.shell.quit);
    EXPECT_EQ(rig.shell.exitCode, 0);
    EXPECT_FALSE(rig.shell.TimerPeriod(kMeasurementTimer).has_value());
    EXPECT_FALSE(rig.shell.trayShown);
    EXPECT_EQ(rig.netEvents.Live(), 0);
    EXPECT_FALSE(rig.monitor.Prober().SharedHandleOpen());
    EXPECT_EQ(rig.monitor.Prober().TargetCount(), 0u);
}

constexpr Ipv4Address kHomeGatewayAddress = sim::kHomeGateway;

// Network changes: the watcher's debounce and the controller's reaction.
class NetworkChange : public ::testing::Test {
protected:
    void SetUp() override {
        rig.Create();
        rig.shell.PageReady();
    }
    // One notification, then the quiet time after which it is handled.
    void Change(NetChangeKind kind = NetChangeKind::Route) {
        rig.netEvents.Fire(kind, NetChangeType::Parameter);
        rig.shell.Advance(500);
    }
    ControllerRig rig;
};

TEST_F(NetworkChange, SameGatewayTwiceOnlyRefreshesTheSecondTime) {
    Change();
    EXPECT_EQ(rig.log.Count("[INFO] Route change detected: parameter\r\n"), 1);
    EXPECT_EQ(rig.log.Count("[INFO] Handling network change notification\r\n"), 1);
    EXPECT_EQ(rig.log.Count("[INFO] Gateway changed — full path reset\r\n"), 1);
    EXPECT_EQ(rig.log.Count("[INFO] Hysteresis: Resetting all segment states (network change)"), 1);
    EXPECT_EQ(rig.monitor.Discovery().RecordedGatewayMac(), "00:11:22:33:44:55");
    // The reset's discovery cycle ran and its follow-up tick measured at once.
    EXPECT_TRUE(rig.monitor.Discovery().PrimaryDone());
    EXPECT_GE(rig.shell.StatePosts(), 2);

    const int threads = rig.threads.StartedCount();
    const int posts = rig.shell.StatePosts();
    const size_t nodes = rig.monitor.Registry().NodeCount();
    Change(NetChangeKind::Interface);
    EXPECT_EQ(rig.log.Count("[INFO] Handling network change notification\r\n"), 2);
    EXPECT_EQ(rig.log.Count("Gateway changed — full path reset"), 1);
    EXPECT_EQ(rig.log.Count("Resetting all segment states"), 1);
    EXPECT_EQ(rig.threads.StartedCount(), threads);
    EXPECT_EQ(rig.shell.StatePosts(), posts + 1);
    EXPECT_EQ(rig.monitor.Registry().NodeCount(), nodes);
}

TEST_F(NetworkChange, FirstNotificationAfterStartOnTheSameGatewayKeepsTheMeasurements) {
    // The first discovery recorded the gateway: a DHCP renewal later is a soft refresh.
    rig.shell.Advance(20000);
    ASSERT_EQ(rig.monitor.Discovery().RecordedGatewayMac(), "00:11:22:33:44:55");
    const size_t nodes = rig.monitor.Registry().NodeCount();
    const auto before = rig.monitor.Registry().GetNodeFigures(kHomeGatewayAddress);
    ASSERT_TRUE(before.has_value());
    Change(NetChangeKind::Interface);
    EXPECT_EQ(rig.log.Count("Handling network change notification"), 1);
    EXPECT_EQ(rig.log.Count("Gateway changed"), 0);
    EXPECT_EQ(rig.log.Count("Resetting path discovery"), 0);
    EXPECT_EQ(rig.monitor.Registry().NodeCount(), nodes);
    EXPECT_GE(rig.monitor.Registry().GetNodeFigures(kHomeGatewayAddress)->count, before->count);
}

TEST_F(NetworkChange, AnotherGatewayResetsAndIsRemembered) {
    Change();
    rig.network.world().Apply(sim::GatewayMac(kOtherGatewayMac));
    Change();
    EXPECT_EQ(
        rig.log.Count("[INFO] Gateway MAC changed: 00:11:22:33:44:55 -> 00:AA:BB:CC:DD:EE\r\n"), 1);
    EXPECT_EQ(rig.log.Count("Gateway changed — full path reset"), 2);
    EXPECT_EQ(rig.monitor.Discovery().RecordedGatewayMac(), "00:AA:BB:CC:DD:EE");
}

TEST(MainController, AnotherGatewayNeverShowsTheOldPublicAddressAndLearnsTheNewOne) {
    sim::WorldConfig world = SmallHome();
    world.stun.publicAddress = Ipv4Address(203, 0, 113, 45);
    ControllerRig rig(false, world);
    rig.Create();
    rig.shell.PageReady();
    rig.shell.Advance(10000);
    ASSERT_NE(rig.shell.pagePosts.back().find(R"("publicIp":"203.0.113.45")"), std::string::npos);

    // Another network behind another gateway, with another public address.
    rig.network.world().Apply(sim::PublicAddress(Ipv4Address(198, 51, 100, 77)));
    rig.network.world().Apply(sim::GatewayMac(kOtherGatewayMac));
    rig.netEvents.Fire(NetChangeKind::Route, NetChangeType::Parameter);
    rig.shell.Advance(10000);
    // From the first message that shows the new gateway on, the old address is gone.
    const auto& posts = rig.shell.pagePosts;
    auto first = std::find_if(posts.begin(), posts.end(), [](const std::string& p) {
        return p.find(R"("gatewayMAC":"00:AA:BB:CC:DD:EE")") != std::string::npos;
    });
    ASSERT_NE(first, posts.end());
    for (auto it = first; it != posts.end(); ++it) {
        EXPECT_EQ(it->find("203.0.113.45"), std::string::npos) << *it;
    }
    EXPECT_NE(posts.back().find(R"("publicIp":"198.51.100.77")"), std::string::npos);
    EXPECT_EQ(rig.network.world().StunRequests(), 2);
}

TEST_F(NetworkChange, EmptyGatewayAfterAKnownOneResetsAndTheNextOneResetsAgain) {
    Change();
    rig.network.world().Apply(sim::DefaultRouteGone());
    Change();
    EXPECT_EQ(rig.log.Count("Gateway changed — full path reset"), 2);
    EXPECT_EQ(rig.log.Count("Gateway MAC changed"), 0);
    EXPECT_EQ(rig.monitor.Discovery().RecordedGatewayMac(), "");

    rig.network.world().Apply(sim::DefaultRouteBack());
    Change();
    EXPECT_EQ(rig.log.Count("Gateway changed — full path reset"), 3);
    EXPECT_EQ(rig.monitor.Discovery().RecordedGatewayMac(), "00:11:22:33:44:55");
}

TEST_F(NetworkChange, ARouteBackSeenFirstByADiscoveryCycleTracesAgainAtOnce) {
    Change();
    rig.network.world().Apply(sim::DefaultRouteGone());
    Change();
    rig.shell.Advance(10000);  // the reset's trace found no network
    ASSERT_TRUE(rig.monitor.Discovery().DestinationUnreached());
    ASSERT_EQ(rig.monitor.Registry().NodeCount(), 0u);

    // The route returns and a measurement tick's cycle sees the gateway before the handler.
    rig.network.world().Apply(sim::DefaultRouteBack());
    rig.shell.Advance(5000);
    EXPECT_EQ(rig.monitor.Discovery().RecordedGatewayMac(), "00:11:22:33:44:55");
    EXPECT_FALSE(rig.monitor.Discovery().DestinationUnreached());
    EXPECT_EQ(rig.monitor.Path().Snapshot()->size(), 3u);
    const int resets = rig.log.Count("Resetting path discovery");
    Change();  // the late notification: the same gateway, nothing more to do
    EXPECT_EQ(rig.log.Count("Resetting path discovery"), resets);
}

TEST_F(NetworkChange, ABurstIsHandledOnce500msAfterItsLastNotification) {
    Change();  // the first gateway is known
    const int handled = rig.log.Count("Handling network change notification");
    const int resets = rig.log.Count("[INFO] Resetting path discovery");

    rig.netEvents.Fire(NetChangeKind::Route, NetChangeType::Delete);
    rig.shell.Advance(300);
    rig.netEvents.Fire(NetChangeKind::Interface, NetChangeType::Add);
    rig.shell.Advance(300);
    // The new gateway appears with the last notification of the burst.
    rig.network.world().Apply(sim::GatewayMac(kOtherGatewayMac));
    rig.netEvents.Fire(NetChangeKind::Route, NetChangeType::Add);
    rig.shell.Advance(499);
    EXPECT_EQ(rig.log.Count("Handling network change notification"), handled);
    rig.shell.Advance(1);
    EXPECT_EQ(rig.log.Count("Handling network change notification"), handled + 1);
    // The new gateway was seen once, by whoever looked first (a discovery cycle or the
    // handler, which read the tables after the burst), and caused one reset.
    EXPECT_EQ(rig.log.Count("Gateway MAC changed: 00:11:22:33:44:55 -> 00:AA:BB:CC:DD:EE"), 1);
    EXPECT_EQ(rig.log.Count("[INFO] Resetting path discovery"), resets + 1);
    EXPECT_EQ(rig.monitor.Discovery().RecordedGatewayMac(), "00:AA:BB:CC:DD:EE");
    EXPECT_EQ(rig.log.Count("[INFO] Route change detected: delete\r\n"), 1);
    EXPECT_EQ(rig.log.Count("change detected: add"), 0);  // folded into the burst

    rig.shell.Advance(5000);
    EXPECT_EQ(rig.log.Count("Handling network change notification"), handled + 1);
}

TEST_F(NetworkChange, NotificationsAfterTheWindowIsGonePostNothing) {
    rig.shell.Command(kCommandExit);
    rig.controller.Watcher().HandleNetworkChange("Route", "add");
    rig.shell.DeliverPosted();
    EXPECT_EQ(rig.log.Count("[INFO] Route change detected: add"), 1);
    EXPECT_EQ(rig.log.Count("Handling network change notification"), 0);
}

}  // namespace
}  // namespace quillon::test
