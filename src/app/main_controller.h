// MainController: the main window's logic. It owns the switch between active mode (window
// shown, measurement every 5 s on mains or 15 s on battery) and chill mode (hidden, every
// 60 s), the tray icon and its menu, launch at startup, the measurement tick, the update
// notice, the network-change watcher's registrations and the reaction to a network change
// (a soft refresh for the same gateway, a full path reset for another one).
//
// The shell calls it on the UI thread for every window, timer, tray and page event; it acts
// through the Shell port. Work it starts on discovery workers comes back as posted messages.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "app/net_change_watcher.h"
#include "app/power_watcher.h"
#include "path/node_registry.h"
#include "platform/shell.h"

namespace quillon {

class Autostart;
class Clock;
class NetEvents;
class NetInfo;
class NetSubscription;
class PathMonitor;
class System;
class UiDispatcher;
class WebViewHost;

struct MainControllerPorts {
    Shell& shell;
    Clock& clock;
    System& system;
    NetInfo& netInfo;
    NetEvents* netEvents = nullptr;  // null: no network-change reaction
    Autostart* autostart = nullptr;  // null: launch at startup cannot be set
};

struct MainControllerOptions {
    bool startMinimized = false;
    std::vector<Destination> destinations;  // the first primary one leads discovery
};

// What the tray shows and the startup entry holds.
constexpr char kTrayTip[] = "Quillon";
constexpr char kAutostartOption[] = " --minimized";

class MainController final : public ShellListener {
public:
    MainController(MainControllerPorts ports, PathMonitor& monitor, WebViewHost& host,
                   UiDispatcher& dispatcher, MainControllerOptions options);
    ~MainController() override;

    void OnCreate() override;
    void OnClose() override;
    void OnCommand(int command) override;
    void OnTimer(int timerId) override;
    void OnTrayMouse(uint32_t mouseEvent) override;
    void OnPosted(uint32_t message) override;
    void OnResize(int width, int height) override;
    void OnDestroy() override;
    void OnSessionEnd() override;
    void OnPageReady() override;
    void OnPageGone() override;
    void OnPageArrived() override;
    void OnPageMessage(const std::string& text) override;

    bool Visible() const { return visible_; }
    NetChangeWatcher& Watcher() { return watcher_; }

private:
    void RegisterNetworkNotifications();
    void CancelNetworkNotifications();
    void ToggleVisibility(bool withLog);
    void ArmMeasurementTimer();
    void ShowTrayMenu();
    void ToggleLaunchAtStartup();
    void MeasurementTick();
    void UpdateNotice();
    void HandleNetworkChange();
    void PushNetworkState();
    void TellPageAboutTray();

    MainControllerPorts ports_;
    PathMonitor& monitor_;
    WebViewHost& host_;
    UiDispatcher& dispatcher_;
    MainControllerOptions options_;
    PowerWatcher power_;
    NetChangeWatcher watcher_;

    bool visible_ = true;
    bool hasTray_ = true;           // the shell could show the tray icon
    uint32_t regularPeriodMs_ = 0;  // the mode's measurement interval
    uint32_t tickPeriodMs_ = 0;     // the measurement timer's current period
    std::unique_ptr<NetSubscription> routeSubscription_;
    std::unique_ptr<NetSubscription> interfaceSubscription_;
};

}  // namespace quillon
