// WebViewHost: the application's side of the embedded page. The shell hosts the page itself
// (a browser control, a desktop web view or the headless bridge) and serves the ui folder
// beside the executable under UiHostName; this host keeps what the application relies on:
// the ready flag (posts are dropped, never queued, while no page can take them), the one
// action every string from the page goes to, the ready action run the first time the page
// becomes ready, and the start page.
//
// UI thread, except PostJsonFromAnyThread, which workers use to hand a text to the UI thread.
#pragma once

#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

namespace quillon {

class Shell;
class System;

// The fixed host name the ui folder is served under.
constexpr char kUiHostName[] = "quillon.local";

// "https://" + UiHostName + "/index.html".
std::string StartPageUrl();
// The ui subfolder of the folder holding the running executable; empty when the executable's
// path is unknown. Never the working folder.
std::string UiFolder(System& system);

class WebViewHost {
public:
    WebViewHost(Shell& shell, System& system) : shell_(shell), system_(system) {}

    // Stores the ready action and names the folder the shell serves the page from.
    void Initialize(std::function<void()> readyAction);
    void SetMessageAction(std::function<void(const std::string&)> action);

    // One JSON text to the page; silently dropped while not ready.
    void PostJson(const std::string& json);
    // Asks the shell to load `url`.
    void Navigate(const std::string& url);
    // Any thread (workers skip building texts no page would take).
    bool Ready() const { return ready_; }

    // Any thread: carries the text to the UI thread, where it is posted (or dropped) by
    // DeliverFromOtherThreads on kPageOutboxMessage.
    void PostJsonFromAnyThread(std::string json);
    void DeliverFromOtherThreads();

    // Shell events.
    void OnPageReady();
    void OnPageGone();
    void OnPageMessage(const std::string& text);

private:
    Shell& shell_;
    System& system_;
    std::function<void()> readyAction_;
    std::function<void(const std::string&)> messageAction_;
    std::atomic<bool> ready_ = false;
    bool readyActionRun_ = false;

    std::mutex outboxMutex_;
    std::vector<std::string> outbox_;
};

}  // namespace quillon
