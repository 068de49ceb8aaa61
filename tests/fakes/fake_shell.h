// FakeShell, FakeNetEvents: the front end and the network-change notifier for tests of the main
// window's logic (the startup entry is the simulated one, sim::SimAutostart). The shell runs in
// virtual time: timers fire, in order, only while the test advances the clock, and posted messages
// are delivered between events, the way a real loop would. Everything the core asked for is
// recorded. Single-threaded except PostToSelf and the notifier's Fire, which any thread may call.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/net_events.h"
#include "platform/shell.h"
#include "platform/sim/sim_autostart.h"
#include "platform/sim/virtual_clock.h"

namespace quillon::test {

class FakeShell final : public Shell {
public:
    explicit FakeShell(sim::VirtualClock& clock) : clock_(clock) {}

    // What Run does between OnCreate and the end of the loop (Application tests).
    std::function<void(FakeShell&)> whileRunning;
    bool failCreate = false;
    bool runtimeAvailable = true;  // the page's browser engine is installed
    std::string startFailure;      // what StartFailure says after a failed Run

    // Controller tests attach without a loop.
    void Attach(ShellListener& listener, bool startHidden) {
        listener_ = &listener;
        visible = !startHidden;
        startedHidden = startHidden;
        listener_->OnCreate();
        DeliverPosted();
    }

    int Run(ShellListener& listener, bool startHidden) override {
        ++runCalls;
        if (failCreate) return -1;
        Attach(listener, startHidden);
        if (whileRunning) whileRunning(*this);
        if (!quit) {  // the script ended without Exit: end as the tray's Exit would
            DestroyWindow();
        }
        return exitCode;
    }
    std::string StartFailure() const override { return failCreate ? startFailure : ""; }
    bool RuntimeAvailable() override { return runtimeAvailable; }
    void Quit(int code) override {
        quit = true;
        exitCode = code;
    }
    void DestroyWindow() override {
        destroyed = true;
        listener_->OnDestroy();
    }
    void ShowWindow(bool show) override { visible = show; }

    void SetTimer(int id, uint32_t periodMs) override {
        timers_[id] = Timer{periodMs, clock_.Elapsed() + periodMs};
        armed.push_back({id, periodMs});
    }
    void KillTimer(int id) override { timers_.erase(id); }

    void PostToSelf(uint32_t message) override {
        std::lock_guard lock(postedMutex_);
        posted_.push_back(message);
    }

    bool AddTrayIcon(const std::string& tip) override {
        if (!trayAvailable) return false;
        trayTip = tip;
        trayShown = true;
        return true;
    }
    void RemoveTrayIcon() override { trayShown = false; }
    void ShowTrayMenu(const std::vector<TrayMenuItem>& items) override { menus.push_back(items); }
    void ShowTrayBalloon(const std::string& title, const std::string& text) override {
        balloons.push_back(title + "|" + text);
    }
    bool StartPage(const std::string& url) override {
        startedPages.push_back(url);
        return true;
    }
    void PostToPage(const std::string& json) override { pagePosts.push_back(json); }

    // Lets virtual time pass, firing due timers (and delivering what they post) on the way.
    // Handlers may let time pass themselves (inline discovery probes); timers then fire late.
    void Advance(uint64_t ms) {
        const uint64_t end = clock_.Elapsed() + ms;
        DeliverPosted();
        while (!quit) {
            int id = 0;
            uint64_t due = std::numeric_limits<uint64_t>::max();
            for (const auto& [timerId, timer] : timers_) {
                if (timer.due < due) {
                    due = timer.due;
                    id = timerId;
                }
            }
            if (id == 0 || due > end) break;
            const uint64_t now = clock_.Elapsed();
            if (due > now) clock_.Advance(due - now);
            timers_[id].due = due + timers_[id].period;
            listener_->OnTimer(id);
            DeliverPosted();
        }
        const uint64_t now = clock_.Elapsed();
        if (end > now) clock_.Advance(end - now);
        DeliverPosted();
    }

    void DeliverPosted() {
        while (true) {
            uint32_t message;
            {
                std::lock_guard lock(postedMutex_);
                if (posted_.empty()) return;
                message = posted_.front();
                posted_.pop_front();
            }
            listener_->OnPosted(message);
        }
    }

    // Events a person or a page causes.
    void Click(uint32_t mouseEvent) {
        listener_->OnTrayMouse(mouseEvent);
        DeliverPosted();
    }
    void Command(int command) {
        listener_->OnCommand(command);
        DeliverPosted();
    }
    void Close() {
        listener_->OnClose();
        DeliverPosted();
    }
    void PageReady() { listener_->OnPageReady(); }
    void SessionEnds() { listener_->OnSessionEnd(); }
    void PageArrived() { listener_->OnPageArrived(); }
    void PageGone() { listener_->OnPageGone(); }
    void PageSays(const std::string& text) {
        listener_->OnPageMessage(text);
        DeliverPosted();
    }

    std::optional<uint32_t> TimerPeriod(int id) const {
        const auto it = timers_.find(id);
        if (it == timers_.end()) return std::nullopt;
        return it->second.period;
    }
    // The last networkState posted; empty when none was.
    std::string LastState() const {
        for (auto it = pagePosts.rbegin(); it != pagePosts.rend(); ++it) {
            if (it->find("\"networkState\"") != std::string::npos) return *it;
        }
        return {};
    }
    // Posts that carried a network state message.
    int StatePosts() const {
        int n = 0;
        for (const std::string& p : pagePosts) n += p.find("\"networkState\"") != std::string::npos;
        return n;
    }

    bool visible = true;
    bool startedHidden = false;
    bool quit = false;
    bool destroyed = false;
    bool trayAvailable = true;  // false: a desktop without a tray
    int exitCode = -2;
    int runCalls = 0;
    bool trayShown = false;
    std::string trayTip;
    std::vector<std::pair<int, uint32_t>> armed;  // every SetTimer, in order
    std::vector<std::vector<TrayMenuItem>> menus;
    std::vector<std::string> balloons;
    std::vector<std::string> startedPages;
    std::vector<std::string> pagePosts;

private:
    struct Timer {
        uint32_t period = 0;
        uint64_t due = 0;  // virtual ms since the clock's start
    };

    sim::VirtualClock& clock_;
    ShellListener* listener_ = nullptr;
    std::map<int, Timer> timers_;
    std::mutex postedMutex_;
    std::deque<uint32_t> posted_;
};

// Calls the registered callbacks when told to; registration can be made to fail.
class FakeNetEvents final : public NetEvents {
public:
    std::unique_ptr<NetSubscription> Subscribe(NetChangeKind kind, NetChangeCallback callback,
                                               uint32_t* error) override {
        if ((kind == NetChangeKind::Route && failRoute) ||
            (kind == NetChangeKind::Interface && failInterface)) {
            *error = 5;
            return nullptr;
        }
        auto subscription = std::make_unique<Subscription>(*this, kind);
        {
            std::lock_guard lock(mutex_);
            callbacks_[kind] = callback;
        }
        callback(kind, NetChangeType::Initial);
        return subscription;
    }

    // A notification of one kind, as the system would send it (any thread).
    void Fire(NetChangeKind kind, NetChangeType type) {
        NetChangeCallback callback;
        {
            std::lock_guard lock(mutex_);
            const auto it = callbacks_.find(kind);
            if (it == callbacks_.end()) return;
            callback = it->second;
        }
        callback(kind, type);
    }
    int Live() {
        std::lock_guard lock(mutex_);
        return static_cast<int>(callbacks_.size());
    }

    bool failRoute = false;
    bool failInterface = false;

private:
    class Subscription final : public NetSubscription {
    public:
        Subscription(FakeNetEvents& owner, NetChangeKind kind) : owner_(owner), kind_(kind) {}
        ~Subscription() override {
            std::lock_guard lock(owner_.mutex_);
            owner_.callbacks_.erase(kind_);
        }

    private:
        FakeNetEvents& owner_;
        NetChangeKind kind_;
    };

    std::mutex mutex_;
    std::map<NetChangeKind, NetChangeCallback> callbacks_;
};

}  // namespace quillon::test
