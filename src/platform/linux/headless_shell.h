// HeadlessShell: the front end of `quillon --headless` on Linux. There is no window and no
// tray; the page is shown by any browser on this computer, served over HTTP on loopback by a
// PageBridge. The entry point creates one, hands it to the application as its Shell, and the
// application calls Run on the main thread, which becomes the UI thread: every ShellListener
// event is delivered there. PostToSelf, PostToPage and RequestExit may be called from any
// thread.
//
// What stands for the window:
// - Active and chill mode follow the pages. When the first page opens its event stream the
//   listener gets OnPageReady, and, if the window is hidden, a left click on the tray icon, which
//   is what shows it (and re-arms the measurement timer). When the last page has been gone for
//   the grace period (so a reload does not flap) it gets OnPageGone and, if the window is
//   shown, OnClose, which is what hides it. ShowWindow only records the visibility.
// - Start hidden (--minimized) = chill mode until a page connects.
// - The tray: AddTrayIcon succeeds and RemoveTrayIcon does nothing; a menu cannot be shown
//   without a pointer, so ShowTrayMenu does nothing (Exit is Ctrl-C); a balloon is printed as
//   one line, "title: text", on the output stream.
// - SIGINT and SIGTERM end the application as the tray's Exit does: the window is destroyed
//   (OnDestroy runs its teardown, which ends the loop with Quit). A second signal kills.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/linux/page_bridge.h"
#include "platform/shell.h"

namespace quillon::lnx {

struct HeadlessShellOptions {
    std::string listenAddress = "127.0.0.1";  // loopback only
    uint16_t port = 0;                        // 0 picks a free port
    std::filesystem::path uiFolder;           // usually UiFolderBesideExecutable()
    std::FILE* out = stdout;                  // address to open, balloons; null prints nothing
    bool catchSignals = true;                 // SIGINT/SIGTERM end the run like Exit
    uint32_t pageGoneGraceMs = 3000;          // no page this long before chill mode
};

// The running executable's full path (empty when unknown), and the folder named ui beside it.
std::filesystem::path RunningExecutablePath();
std::filesystem::path UiFolderBesideExecutable();

class HeadlessShell final : public Shell, private PageBridgeSink {
public:
    explicit HeadlessShell(HeadlessShellOptions options);
    ~HeadlessShell() override;

    // Starts serving, prints the address to open, calls OnCreate and runs the loop until Quit.
    // Returns -1 (after a message on stderr) when the address cannot be served. Once per shell.
    int Run(ShellListener& listener, bool startHidden) override;
    std::string StartFailure() const override { return startFailure_; }
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
    // Checks that the start page's file is in the ui folder; the browser already shows it.
    bool StartPage(const std::string& startUrl) override;
    void PostToPage(const std::string& json) override;

    // Any thread: ends the application as the tray's Exit would (destroys the window).
    void RequestExit();

    // Valid once OnCreate has been called.
    std::string PageAddress() const { return bridge_.PageAddress(); }
    uint16_t Port() const { return bridge_.Port(); }
    const std::string& Token() const { return bridge_.Token(); }

private:
    using SteadyClock = std::chrono::steady_clock;

    enum class EventKind { Posted, StreamOpened, StreamClosed, PageMessage, Destroy };
    struct Event {
        EventKind kind;
        uint32_t message = 0;
        std::string text;
    };
    struct Timer {
        uint32_t periodMs;
        SteadyClock::time_point due;
    };

    void OnStreamOpened() override;
    void OnStreamClosed() override;
    void OnPageMessage(std::string text) override;

    void Enqueue(Event event);
    void Loop();
    void Dispatch(Event& event);
    void DestroyNow();
    void PageGoneIfStillGone();
    void Print(const std::string& line);

    const HeadlessShellOptions options_;
    PageBridge bridge_;
    std::string startFailure_;  // set by Run, on the thread that calls it

    std::mutex mutex_;
    std::condition_variable wake_;
    std::deque<Event> queue_;
    std::map<int, Timer> timers_;
    bool quit_ = false;
    int exitCode_ = 0;

    // Loop thread only.
    ShellListener* listener_ = nullptr;
    std::thread::id loopThread_;
    bool visible_ = true;
    bool destroyed_ = false;
    bool pageReady_ = false;
    int pages_ = 0;
    std::optional<SteadyClock::time_point> pageGoneDue_;
};

}  // namespace quillon::lnx
