#include "platform/linux/headless_shell.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <utility>

#include "base/url.h"
#include "platform/linux/bridge_rules.h"

namespace quillon::lnx {

namespace {

namespace fs = std::filesystem;

// A timer period below this would spin the loop; desktop timers clamp the same way.
constexpr uint32_t kMinTimerPeriodMs = 10;

// The signal handler may only do async-signal-safe work, so it writes one byte into a pipe
// and a watcher thread turns that into RequestExit. One watcher per process at a time.
int g_signalPipe[2] = {-1, -1};

void OnExitSignal(int) {
    const int saved = errno;
    const char byte = 's';
    [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
    errno = saved;
}

class SignalWatcher {
public:
    explicit SignalWatcher(HeadlessShell& shell) {
        if (pipe(g_signalPipe) != 0) return;
        struct sigaction action {};
        action.sa_handler = OnExitSignal;
        sigemptyset(&action.sa_mask);
        // The first signal asks for an orderly end; if that hangs, a second one kills.
        action.sa_flags = SA_RESETHAND | SA_RESTART;
        sigaction(SIGINT, &action, &oldInt_);
        sigaction(SIGTERM, &action, &oldTerm_);
        installed_ = true;
        watcher_ = std::thread([&shell] {
            char byte = 0;
            while (true) {
                const ssize_t n = read(g_signalPipe[0], &byte, 1);
                if (n < 0 && errno == EINTR) continue;
                if (n != 1 || byte == 'q') return;
                shell.RequestExit();
            }
        });
    }

    ~SignalWatcher() {
        if (!installed_) return;
        sigaction(SIGINT, &oldInt_, nullptr);
        sigaction(SIGTERM, &oldTerm_, nullptr);
        const char byte = 'q';
        [[maybe_unused]] const ssize_t n = write(g_signalPipe[1], &byte, 1);
        watcher_.join();
        close(g_signalPipe[0]);
        close(g_signalPipe[1]);
        g_signalPipe[0] = g_signalPipe[1] = -1;
    }

    SignalWatcher(const SignalWatcher&) = delete;
    SignalWatcher& operator=(const SignalWatcher&) = delete;

private:
    bool installed_ = false;
    struct sigaction oldInt_ {};
    struct sigaction oldTerm_ {};
    std::thread watcher_;
};

}  // namespace

fs::path RunningExecutablePath() {
    std::error_code ec;
    fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? fs::path() : exe;
}

fs::path UiFolderBesideExecutable() {
    const fs::path exe = RunningExecutablePath();
    return exe.empty() ? fs::path() : exe.parent_path() / "ui";
}

HeadlessShell::HeadlessShell(HeadlessShellOptions options)
    : options_(std::move(options)),
      bridge_(PageBridgeOptions{options_.listenAddress, options_.port, options_.uiFolder}, *this) {}

HeadlessShell::~HeadlessShell() {
    bridge_.Stop();
}

int HeadlessShell::Run(ShellListener& listener, bool startHidden) {
    listener_ = &listener;
    loopThread_ = std::this_thread::get_id();
    startFailure_.clear();
    if (!bridge_.Start(&startFailure_)) return -1;
    Print("Quillon is running. Open this address in a browser on this computer:\n  " +
          bridge_.PageAddress() + "\nPress Ctrl-C to stop.");
    std::optional<SignalWatcher> signals;
    if (options_.catchSignals) signals.emplace(*this);

    visible_ = !startHidden;
    listener.OnCreate();
    Loop();

    signals.reset();
    bridge_.Stop();
    std::lock_guard<std::mutex> lock(mutex_);
    return exitCode_;
}

void HeadlessShell::Loop() {
    std::unique_lock<std::mutex> lock(mutex_);
    while (!quit_) {
        if (!queue_.empty()) {
            Event event = std::move(queue_.front());
            queue_.pop_front();
            lock.unlock();
            Dispatch(event);
            lock.lock();
            continue;
        }
        const auto now = SteadyClock::now();
        auto next = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (next == timers_.end() || it->second.due < next->second.due) next = it;
        }
        if (next != timers_.end() && next->second.due <= now) {
            const int id = next->first;
            Timer& timer = next->second;
            // Late ticks are not caught up: the next one is a full period after this one.
            timer.due += std::chrono::milliseconds(timer.periodMs);
            if (timer.due <= now) timer.due = now + std::chrono::milliseconds(timer.periodMs);
            lock.unlock();
            if (!destroyed_) listener_->OnTimer(id);
            lock.lock();
            continue;
        }
        if (pageGoneDue_ && *pageGoneDue_ <= now) {
            pageGoneDue_.reset();
            lock.unlock();
            PageGoneIfStillGone();
            lock.lock();
            continue;
        }
        std::optional<SteadyClock::time_point> wakeAt;
        if (next != timers_.end()) wakeAt = next->second.due;
        if (pageGoneDue_ && (!wakeAt || *pageGoneDue_ < *wakeAt)) wakeAt = pageGoneDue_;
        if (wakeAt) {
            wake_.wait_until(lock, *wakeAt);
        } else {
            wake_.wait(lock);
        }
    }
}

void HeadlessShell::Dispatch(Event& event) {
    switch (event.kind) {
        case EventKind::Posted:
            if (!destroyed_) listener_->OnPosted(event.message);
            return;
        case EventKind::PageMessage:
            if (!destroyed_) listener_->OnPageMessage(event.text);
            return;
        case EventKind::Destroy:
            DestroyNow();
            return;
        case EventKind::StreamOpened:
            ++pages_;
            pageGoneDue_.reset();
            if (destroyed_) return;
            if (pageReady_) {
                listener_->OnPageArrived();
                return;
            }
            pageReady_ = true;
            listener_->OnPageReady();
            // What a click on the tray icon does to a hidden window: show it, fast timers.
            if (!visible_ && !destroyed_) listener_->OnTrayMouse(kTrayLeftButtonUp);
            return;
        case EventKind::StreamClosed:
            if (pages_ > 0) --pages_;
            if (pages_ == 0 && pageReady_) {
                pageGoneDue_ =
                    SteadyClock::now() + std::chrono::milliseconds(options_.pageGoneGraceMs);
            }
            return;
    }
}

void HeadlessShell::PageGoneIfStillGone() {
    if (pages_ != 0 || !pageReady_ || destroyed_) return;
    pageReady_ = false;
    listener_->OnPageGone();
    // What the close box does: hide to the tray, slow timers.
    if (visible_ && !destroyed_) listener_->OnClose();
}

void HeadlessShell::DestroyNow() {
    if (destroyed_ || listener_ == nullptr) return;
    destroyed_ = true;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timers_.clear();
    }
    listener_->OnDestroy();
}

void HeadlessShell::Enqueue(Event event) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        queue_.push_back(std::move(event));
    }
    wake_.notify_one();
}

void HeadlessShell::Quit(int exitCode) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        quit_ = true;
        exitCode_ = exitCode;
    }
    wake_.notify_one();
}

void HeadlessShell::DestroyWindow() {
    // On the UI thread the teardown runs before this returns, as a desktop window's does.
    if (std::this_thread::get_id() == loopThread_) {
        DestroyNow();
    } else {
        Enqueue(Event{EventKind::Destroy, 0, {}});
    }
}

void HeadlessShell::RequestExit() {
    Enqueue(Event{EventKind::Destroy, 0, {}});
}

void HeadlessShell::ShowWindow(bool visible) {
    visible_ = visible;
}

void HeadlessShell::SetTimer(int timerId, uint32_t periodMs) {
    const uint32_t period = periodMs < kMinTimerPeriodMs ? kMinTimerPeriodMs : periodMs;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        timers_[timerId] = Timer{period, SteadyClock::now() + std::chrono::milliseconds(period)};
    }
    wake_.notify_one();
}

void HeadlessShell::KillTimer(int timerId) {
    std::lock_guard<std::mutex> lock(mutex_);
    timers_.erase(timerId);
}

void HeadlessShell::PostToSelf(uint32_t message) {
    Enqueue(Event{EventKind::Posted, message, {}});
}

bool HeadlessShell::AddTrayIcon(const std::string&) {
    return true;
}

void HeadlessShell::RemoveTrayIcon() {}

void HeadlessShell::ShowTrayMenu(const std::vector<TrayMenuItem>&) {}

void HeadlessShell::ShowTrayBalloon(const std::string& title, const std::string& text) {
    Print(title + ": " + text);
}

bool HeadlessShell::StartPage(const std::string& startUrl) {
    const std::optional<std::string> relative = UiRelativePath(PathOfUrl(startUrl));
    if (!relative) return false;
    std::error_code ec;
    return fs::is_regular_file(options_.uiFolder / *relative, ec);
}

void HeadlessShell::PostToPage(const std::string& json) {
    bridge_.Post(json);
}

void HeadlessShell::OnStreamOpened() {
    Enqueue(Event{EventKind::StreamOpened, 0, {}});
}

void HeadlessShell::OnStreamClosed() {
    Enqueue(Event{EventKind::StreamClosed, 0, {}});
}

void HeadlessShell::OnPageMessage(std::string text) {
    Enqueue(Event{EventKind::PageMessage, 0, std::move(text)});
}

void HeadlessShell::Print(const std::string& line) {
    if (options_.out == nullptr) return;
    std::fprintf(options_.out, "%s\n", line.c_str());
    std::fflush(options_.out);
}

}  // namespace quillon::lnx
