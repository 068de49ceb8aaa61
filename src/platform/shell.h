// Shell: the front end that hosts the application: its main window (or what stands for it),
// the tray icon and menu, timers, messages posted to the UI thread, and the embedded page.
// The shell runs the UI thread's loop and delivers every event below on that thread; the
// core's main controller is its only listener. PostToSelf is the one call any thread may make.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quillon {

// Mouse events of the tray icon, numbered as the desktop reports them.
constexpr uint32_t kTrayLeftButtonUp = 0x202;
constexpr uint32_t kTrayLeftDoubleClick = 0x203;
constexpr uint32_t kTrayRightButtonUp = 0x205;

struct TrayMenuItem {
    int command = 0;  // 0 for a separator
    std::string label;
    bool checked = false;
    bool checkable = false;  // an option that shows its mark (or the mark's absence)
};

// What the shell tells the core. Every call arrives on the UI thread.
class ShellListener {
public:
    virtual ~ShellListener() = default;
    virtual void OnCreate() = 0;              // the window exists; set everything up
    virtual void OnClose() = 0;               // the user closed the window
    virtual void OnCommand(int command) = 0;  // a tray menu item was chosen
    virtual void OnTimer(int timerId) = 0;
    virtual void OnTrayMouse(uint32_t mouseEvent) = 0;
    virtual void OnPosted(uint32_t message) = 0;  // something PostToSelf sent
    virtual void OnResize(int width, int height) = 0;
    virtual void OnDestroy() = 0;  // the window is going; tear down
    // The desktop session is ending (log-off, shutdown) and the process may be ended as soon
    // as this returns, without OnDestroy: what must not be lost is written now.
    virtual void OnSessionEnd() {}
    // Ready comes before StartPage: a web view once it exists, the headless bridge while a
    // page is connected. The core loads the start page at the first OnPageReady.
    virtual void OnPageReady() = 0;  // the page can receive posts
    virtual void OnPageGone() = 0;   // no page can receive posts any more
    // Another page joined while one already could receive posts (a reload, a second tab of
    // the headless bridge): it has seen nothing yet.
    virtual void OnPageArrived() {}
    // Only strings: a page posting any other value reaches nothing.
    virtual void OnPageMessage(const std::string& text) = 0;  // a string the page posted
};

class Shell {
public:
    virtual ~Shell() = default;

    // Creates the window (hidden when startHidden), calls OnCreate, then runs the loop until
    // Quit. Returns the exit code given to Quit, or -1 when the window could not be created.
    virtual int Run(ShellListener& listener, bool startHidden) = 0;
    // Why the last Run returned -1, in words for the user ("cannot listen on ..."); empty when
    // the shell has nothing to add to "the main window could not be created".
    virtual std::string StartFailure() const { return {}; }
    // Whether the browser engine the page needs is installed (a web view's runtime that comes
    // with the system, not with the program); a shell that brings its own says yes. Asked once,
    // before anything else starts.
    virtual bool RuntimeAvailable() { return true; }
    // Ends the loop after the current event; OnDestroy has already run.
    virtual void Quit(int exitCode) = 0;
    // Destroys the window: OnDestroy follows on the UI thread.
    virtual void DestroyWindow() = 0;

    virtual void ShowWindow(bool visible) = 0;  // showing also brings it to the front

    // Timers fire OnTimer(id) every periodMs until killed; setting an armed id re-arms it.
    virtual void SetTimer(int timerId, uint32_t periodMs) = 0;
    virtual void KillTimer(int timerId) = 0;

    // Any thread: delivers OnPosted(message) on the UI thread.
    virtual void PostToSelf(uint32_t message) = 0;

    virtual bool AddTrayIcon(const std::string& tip) = 0;
    virtual void RemoveTrayIcon() = 0;
    // Shows the menu at the pointer; a chosen item arrives as OnCommand. A tray that opens its
    // menu itself when clicked (an indicator on Linux) keeps it as the menu it opens next, and
    // asks for a fresh one, as a right click would, whenever it may have changed.
    virtual void ShowTrayMenu(const std::vector<TrayMenuItem>& items) = 0;
    virtual void ShowTrayBalloon(const std::string& title, const std::string& text) = 0;

    // The embedded page: load the start page from the ui folder; post one JSON text to it.
    virtual bool StartPage(const std::string& startUrl) = 0;
    virtual void PostToPage(const std::string& json) = 0;
};

}  // namespace quillon
