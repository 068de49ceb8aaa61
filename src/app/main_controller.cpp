#include "app/main_controller.h"

#include "base/log.h"
#include "discovery/adapter_discovery.h"
#include "path/path_monitor.h"
#include "platform/autostart.h"
#include "platform/net_events.h"
#include "platform/shell_messages.h"
#include "platform/system.h"
#include "ui/ui_dispatch.h"
#include "ui/webview_host.h"

namespace quillon {

MainController::MainController(MainControllerPorts ports, PathMonitor& monitor, WebViewHost& host,
                               UiDispatcher& dispatcher, MainControllerOptions options)
    : ports_(ports),
      monitor_(monitor),
      host_(host),
      dispatcher_(dispatcher),
      options_(std::move(options)),
      power_(ports.clock, ports.system),
      watcher_(ports.clock, ports.shell) {}

// Subscriptions end before the watcher their callbacks call into.
MainController::~MainController() {
    CancelNetworkNotifications();
}

void MainController::OnCreate() {
    monitor_.Prober().OpenSharedHandle();
    monitor_.AddDestinations(options_.destinations);

    host_.Initialize([this] {
        LogWrite(Info, "WebView2 ready, loading React UI");
        const std::string start = StartPageUrl();
        LogWrite(Info, "Loading UI from: %s", start.c_str());
        host_.Navigate(start);
    });
    host_.SetMessageAction([this](const std::string& text) { dispatcher_.HandleUiMessage(text); });

    hasTray_ = ports_.shell.AddTrayIcon(kTrayTip);
    RegisterNetworkNotifications();

    visible_ = !options_.startMinimized;
    if (!hasTray_ && !visible_) {
        // Nothing but a tray icon could bring a hidden window back.
        LogWrite(Warn, "No tray icon: the window is shown although a hidden start was asked for");
        ports_.shell.ShowWindow(true);
        visible_ = true;
    }
    ArmMeasurementTimer();
    ports_.shell.SetTimer(kUpdateNoticeTimer, kUpdateNoticeDelayMs);
    LogWrite(Info, "Main window created");
}

void MainController::RegisterNetworkNotifications() {
    watcher_.SetTarget(true);
    auto callback = [this](NetChangeKind kind, NetChangeType type) {
        watcher_.HandleNetworkChange(NetChangeKindName(kind),
                                     NetChangeTypeName(static_cast<int>(type)));
    };
    uint32_t error = 0;
    if (ports_.netEvents != nullptr) {
        routeSubscription_ = ports_.netEvents->Subscribe(NetChangeKind::Route, callback, &error);
    }
    if (!routeSubscription_) {
        // Without route changes the interface ones alone are not asked for.
        LogWrite(Error, "Failed to register route change notification: %lu",
                 static_cast<unsigned long>(error));
        return;
    }
    LogWrite(Info, "Route change notifications registered");
    error = 0;
    interfaceSubscription_ =
        ports_.netEvents->Subscribe(NetChangeKind::Interface, callback, &error);
    if (interfaceSubscription_) {
        LogWrite(Info, "Interface change notifications registered");
    } else {
        LogWrite(Error, "Failed to register interface change notification: %lu",
                 static_cast<unsigned long>(error));
    }
    watcher_.SetRegistered(true);
}

void MainController::CancelNetworkNotifications() {
    if (routeSubscription_) {
        routeSubscription_.reset();
        LogWrite(Debug, "Route change notifications cancelled");
    }
    if (interfaceSubscription_) {
        interfaceSubscription_.reset();
        LogWrite(Debug, "Interface change notifications cancelled");
    }
}

void MainController::ArmMeasurementTimer() {
    ports_.shell.KillTimer(kMeasurementTimer);
    regularPeriodMs_ = tickPeriodMs_ = power_.GetMeasurementInterval(visible_);
    ports_.shell.SetTimer(kMeasurementTimer, tickPeriodMs_);
}

void MainController::OnClose() {
    if (!hasTray_) {
        // A window hidden without a tray icon could never be shown again: closing it ends the
        // program, as the tray's Exit does.
        LogWrite(Info, "No tray icon: closing the window ends the program");
        ports_.shell.DestroyWindow();
        return;
    }
    LogWrite(Debug, "Window minimized to tray (chill mode)");
    ports_.shell.ShowWindow(false);
    visible_ = false;
    ArmMeasurementTimer();
}

void MainController::ToggleVisibility(bool withLog) {
    if (visible_) {
        if (withLog) LogWrite(Debug, "Window hidden (chill mode)");
        ports_.shell.ShowWindow(false);
        visible_ = false;
        ArmMeasurementTimer();
        return;
    }
    if (withLog) LogWrite(Debug, "Window shown (active mode)");
    ports_.shell.ShowWindow(true);
    visible_ = true;
    ArmMeasurementTimer();
    PushNetworkState();
}

void MainController::OnCommand(int command) {
    switch (command) {
        case kCommandShowHide:
            ToggleVisibility(false);
            break;
        case kCommandLaunchAtStartup:
            ToggleLaunchAtStartup();
            break;
        case kCommandExit:
            ports_.shell.DestroyWindow();
            break;
        default:
            break;
    }
}

void MainController::OnTimer(int timerId) {
    switch (timerId) {
        case kMeasurementTimer:
            MeasurementTick();
            break;
        case kUpdateNoticeTimer:
            UpdateNotice();
            break;
        case kNetChangeSettleTimer:
            watcher_.OnSettleTimer();
            break;
        default:
            break;
    }
}

void MainController::OnTrayMouse(uint32_t mouseEvent) {
    switch (mouseEvent) {
        case kTrayLeftButtonUp:
        case kTrayLeftDoubleClick:
            ToggleVisibility(true);
            break;
        case kTrayRightButtonUp:
            ShowTrayMenu();
            break;
        default:
            break;
    }
}

void MainController::OnPosted(uint32_t message) {
    switch (message) {
        case kNetChangeMessage:
            HandleNetworkChange();
            break;
        case kMeasurementTickMessage:
            MeasurementTick();
            break;
        case kNetChangeArrivedMessage:
            watcher_.OnBurstStarted();
            break;
        case kPageOutboxMessage:
            host_.DeliverFromOtherThreads();
            break;
        default:
            break;
    }
}

// The shell fits the page to the window itself.
void MainController::OnResize(int, int) {}

void MainController::OnPageReady() {
    host_.OnPageReady();
    // A page that opens on a shown window gets the picture at once, as showing the window
    // does, rather than a measurement tick later. (On a hidden one, showing it pushes.)
    if (visible_) PushNetworkState();
    TellPageAboutTray();
    dispatcher_.PageArrived();
}
// A reloaded or second page gets the picture at once, not a tick later.
void MainController::OnPageArrived() {
    PushNetworkState();
    TellPageAboutTray();
    dispatcher_.PageArrived();
}

// Without a tray icon the window cannot be hidden: the page tells the person what closing it
// does (until they have read it, which the page remembers).
void MainController::TellPageAboutTray() {
    if (!hasTray_) host_.PostJson(R"({"type":"noTray"})");
}

void MainController::OnPageGone() {
    host_.OnPageGone();
}
void MainController::OnPageMessage(const std::string& text) {
    host_.OnPageMessage(text);
}

void MainController::ShowTrayMenu() {
    const bool entryExists = ports_.autostart != nullptr && ports_.autostart->Read().has_value();
    ports_.shell.ShowTrayMenu({
        {kCommandShowHide, visible_ ? "Hide" : "Show", false},
        {0, "", false},
        {kCommandLaunchAtStartup, "Launch at startup", entryExists, true},
        {0, "", false},
        {kCommandExit, "Exit", false},
    });
}

void MainController::ToggleLaunchAtStartup() {
    if (ports_.autostart == nullptr) {
        LogWrite(Warn, "Launch at startup is not available");
        return;
    }
    Autostart& autostart = *ports_.autostart;
    if (autostart.Read().has_value()) {
        if (autostart.Remove()) {
            LogWrite(Info, "Launch at startup disabled");
        } else {
            LogWrite(Warn, "Failed to disable launch at startup");
        }
        return;
    }
    const std::string executable = ports_.system.ExecutablePath();
    if (executable.empty() || !autostart.Write("\"" + executable + "\"" + kAutostartOption)) {
        LogWrite(Warn, "Failed to enable launch at startup");
        return;
    }
    LogWrite(Info, "Launch at startup enabled");
}

void MainController::MeasurementTick() {
    if (std::optional<std::string> state = monitor_.MeasurementTick(regularPeriodMs_)) {
        host_.PostJson(*state);
    }
    // The check-in's answer may come after the notice timer: looked at again until shown.
    dispatcher_.UpdateNotice();
    // Faster ticks while the verdict gathers evidence, the mode's pace otherwise.
    const uint32_t next = monitor_.NextTickDelayMs(regularPeriodMs_);
    if (next != tickPeriodMs_) {
        tickPeriodMs_ = next;
        ports_.shell.SetTimer(kMeasurementTimer, next);
    }
}

void MainController::PushNetworkState() {
    host_.PostJson(monitor_.StateBuilder().BuildNetworkState());
}

void MainController::UpdateNotice() {
    ports_.shell.KillTimer(kUpdateNoticeTimer);
    dispatcher_.UpdateNotice();
}

void MainController::HandleNetworkChange() {
    LogWrite(Info, "Handling network change notification");
    monitor_.StateBuilder().NetworkChanged();
    const std::string mac = DiscoverPrimaryAdapter(ports_.netInfo).gatewayMac;
    // One record of the gateway, kept by path discovery, which seeds it when it first runs.
    PathDiscovery& discovery = monitor_.Discovery();
    const std::string recorded = discovery.RecordedGatewayMac();

    if (!recorded.empty() && !mac.empty()) {
        if (mac == recorded) {
            LogWrite(Debug, "Same gateway — soft UI refresh");
            PushNetworkState();
            return;
        }
        LogWrite(Info, "Gateway MAC changed: %s -> %s", recorded.c_str(), mac.c_str());
    }
    // A gateway that vanished is forgotten, so the next one counts as new again.
    discovery.RecordGatewayMac(mac);

    LogWrite(Info, "Gateway changed — full path reset");
    LogWrite(Info, "Hysteresis: Resetting all segment states (network change)");
    monitor_.HysteresisTable().ResetHysteresis();
    discovery.ResetPathDiscovery();
    PushNetworkState();
    Shell& shell = ports_.shell;
    monitor_.StartDiscoveryCycle([&shell] { shell.PostToSelf(kMeasurementTickMessage); });
}

void MainController::OnDestroy() {
    ports_.shell.KillTimer(kMeasurementTimer);
    ports_.shell.KillTimer(kNetChangeSettleTimer);
    CancelNetworkNotifications();
    watcher_.SetTarget(false);
    ports_.shell.RemoveTrayIcon();
    monitor_.Prober().CloseEchoTargets();
    monitor_.Prober().CloseSharedHandle();
    ports_.shell.Quit(0);
}

// The last minute of echoes waits in memory: it goes to disk, with the mark that nothing was
// watched from here on, as at exit. Measuring goes on unrecorded for the moments left.
void MainController::OnSessionEnd() {
    LogWrite(Info, "Session ending - archive written");
    if (PingArchive* archive = monitor_.Archive()) {
        monitor_.SetArchive(nullptr);
        archive->Shutdown();
    }
}

}  // namespace quillon
