// GtkShell: the desktop front end on Linux. A GTK 3 window of 850 x 750 titled "Quillon" holds
// a WebKitGTK web view that shows the page from the ui folder beside the executable, served
// through the quillon:// scheme (quillon://app/index.html), so the page finds its assets by the
// same relative paths as under the headless bridge. The entry point creates one, hands it to the
// application as its Shell, and the application calls Run on the main thread, which becomes the
// UI thread (GTK's): every ShellListener event is delivered there. PostToSelf may be called from
// any thread; every other call belongs to the UI thread.
//
// The page's message channel is the one the page looks for in a desktop front end:
// window.chrome.webview (set up in gtk_page.*). The page posts strings to the application (any
// other value reaches nothing) and receives parsed JSON values as "message" events.
//
// Page events: the shell loads the start page itself when Run starts; OnPageReady follows when
// it has finished loading (StartPage then finds it there and loads nothing again). A reload, or
// a crash of the web process (after which the start page is loaded again), is OnPageGone first,
// OnPageReady once the new page is loaded.
//
// Window: the close box is OnClose (the core decides: hide or exit); ShowWindow shows and raises
// or hides; DestroyWindow destroys the window, OnDestroy running before it returns.
// SIGINT and SIGTERM end the application as the tray's Exit does; a second signal kills.
// Tray: an indicator icon (GtkTray) when the desktop shows tray icons; AddTrayIcon reports
// failure otherwise (a hidden start first waits up to 10 s for a panel still starting). Its menu is
// the last one ShowTrayMenu gave; the shell asks the core for a fresh one (OnTrayMouse with a right
// click) once the icon is shown, after every menu command and whenever the window is shown or
// hidden. A balloon is a desktop notification, or one line, "title: text", on the output stream
// when no notification service takes it.
//
// The page's own storage (its remembered choices) is kept in pageDataFolder; without one it
// lasts as long as the run.
//
// One run per data folder: a run that finds another one on the same folder (through the session
// bus) asks it to show its window and ends; the running one shows its window as a click on its
// tray icon would.
#pragma once

#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>

#include "platform/shell.h"

namespace quillon::lnx {

struct GtkShellOptions {
    std::filesystem::path uiFolder;  // usually UiFolderBesideExecutable()
    // The window's and tray's icon; empty: "quillon.svg" in the ui folder.
    std::filesystem::path iconFile;
    std::filesystem::path pageDataFolder;   // the page's storage; empty: none kept
    std::filesystem::path pageCacheFolder;  // the web engine's caches; empty: none kept
    // The folder whose data one run at a time may use; empty: runs are not kept apart.
    std::string instanceFolder;
    std::FILE* out = stdout;   // balloons; null prints nothing
    bool catchSignals = true;  // SIGINT/SIGTERM end the run like Exit
};

// True when this process has a display to open a window on (DISPLAY or WAYLAND_DISPLAY).
bool DesktopDisplayPresent();

class GtkShell final : public Shell {
public:
    explicit GtkShell(GtkShellOptions options);
    ~GtkShell() override;
    GtkShell(const GtkShell&) = delete;
    GtkShell& operator=(const GtkShell&) = delete;

    // Before Run: true when another run uses the same instance folder; it has been asked to
    // show its window, and this run should end. False when this is the only run (later ones
    // are then answered) or without a session bus to tell.
    bool HandOverToRunningInstance();

    // Opens the display, creates the window (hidden when startHidden) and its web view, calls
    // OnCreate, loads the start page and runs the loop until Quit. Returns -1 when there is no
    // display to open or no start page in the ui folder. Once per shell.
    int Run(ShellListener& listener, bool startHidden) override;
    std::string StartFailure() const override;
    void Quit(int exitCode) override;
    void DestroyWindow() override;
    void ShowWindow(bool visible) override;
    void SetTimer(int timerId, uint32_t periodMs) override;
    void KillTimer(int timerId) override;
    void PostToSelf(uint32_t message) override;
    bool AddTrayIcon(const std::string& tip) override;
    void RemoveTrayIcon() override;
    void ShowTrayMenu(const std::vector<TrayMenuItem>& items) override;
    void ShowTrayBalloon(const std::string& title, const std::string& text) override;
    bool StartPage(const std::string& startUrl) override;
    void PostToPage(const std::string& json) override;

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace quillon::lnx
