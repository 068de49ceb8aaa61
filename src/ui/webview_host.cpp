#include "ui/webview_host.h"

#include "base/fs_path.h"
#include "base/log.h"
#include "platform/shell_messages.h"
#include "platform/shell.h"
#include "platform/system.h"

namespace quillon {

std::string StartPageUrl() {
    return std::string("https://") + kUiHostName + "/index.html";
}

std::string UiFolder(System& system) {
    const std::string exe = system.ExecutablePath();
    const size_t cut = exe.find_last_of(kPathSeparator);
    if (cut == std::string::npos) return "";
    return exe.substr(0, cut) + kPathSeparator + "ui";
}

void WebViewHost::Initialize(std::function<void()> readyAction) {
    readyAction_ = std::move(readyAction);
    // The shell object stands for the window the page lives in.
    LogWrite(Info, "Initializing WebView2 for HWND %p...", static_cast<const void*>(&shell_));
    LogWrite(Info, "Setting virtual host mapping: quillon.local -> %s", UiFolder(system_).c_str());
}

void WebViewHost::SetMessageAction(std::function<void(const std::string&)> action) {
    messageAction_ = std::move(action);
}

void WebViewHost::PostJson(const std::string& json) {
    if (!ready_) return;
    shell_.PostToPage(json);
}

void WebViewHost::Navigate(const std::string& url) {
    LogWrite(Debug, "Navigating to: %s", url.c_str());
    shell_.StartPage(url);
}

void WebViewHost::PostJsonFromAnyThread(std::string json) {
    bool first;
    {
        std::lock_guard lock(outboxMutex_);
        first = outbox_.empty();
        outbox_.push_back(std::move(json));
    }
    if (first) shell_.PostToSelf(kPageOutboxMessage);
}

void WebViewHost::DeliverFromOtherThreads() {
    std::vector<std::string> texts;
    {
        std::lock_guard lock(outboxMutex_);
        texts.swap(outbox_);
    }
    for (const std::string& text : texts) PostJson(text);
}

void WebViewHost::OnPageReady() {
    ready_ = true;
    LogWrite(Info, "WebView2 ready");
    if (readyActionRun_) return;
    readyActionRun_ = true;
    if (readyAction_) readyAction_();
}

void WebViewHost::OnPageGone() {
    ready_ = false;
}

void WebViewHost::OnPageMessage(const std::string& text) {
    if (!messageAction_) return;
    messageAction_(text);
}

}  // namespace quillon
