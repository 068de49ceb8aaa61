// Win32WebView: the WebView2 control filling the main window. It asks for a browser
// environment, then a controller for the window; when both have arrived it serves the ui
// folder under the page's host name, applies the page's settings, listens for the page's
// string messages, sizes itself to the window and reports ready. A failure at either step is
// logged and leaves it not ready for the rest of the run: nothing is retried, posts are
// dropped, the window stays empty.
//
// Once running it keeps the page up: a page process that died or hangs is reloaded; a browser
// process that died takes the control with it, so the control is made again from a new
// environment and shown the page it showed (kMaxRestarts reloads and new controls in all).
//
// Used by the Windows shell, on the UI thread only (the runtime calls back on the thread that
// asked for the environment, which must be in a single-threaded apartment).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/win32/webview2_api.h"
#include "platform/win32/win32_com_ref.h"

namespace quillon::win32 {

// The host name the ui folder is served under; the application's start page names it.
inline constexpr wchar_t kPageHostName[] = L"quillon.local";

// What the control tells its window. Every call arrives on the UI thread.
struct Win32WebViewEvents {
    std::function<void()> ready;    // set up: posts reach the page from now on
    std::function<void()> gone;     // the browser process died: not ready until made again
    std::function<void()> arrived;  // a page of ours finished loading (the first or again)
    std::function<void(const std::string&)> message;  // a string the page posted
};

class Win32WebView {
public:
    // Asks for an environment keeping its data in userDataFolder (empty: the runtime's
    // default); the handler is called later on the UI thread unless a failure is returned.
    using EnvironmentFactory =
        std::function<HRESULT(const std::string& userDataFolder,
                              ICoreWebView2CreateCoreWebView2EnvironmentCompletedHandler* handler)>;

    Win32WebView();
    ~Win32WebView();
    Win32WebView(const Win32WebView&) = delete;
    Win32WebView& operator=(const Win32WebView&) = delete;

    static constexpr int kMaxRestarts = 5;

    // Starts creating the control in `window` through the WebView2 loader. False when the
    // environment could not even be asked for (logged), or when called a second time.
    bool Create(HWND window, const std::string& uiFolder, const std::string& userDataFolder,
                Win32WebViewEvents events);
    // The same with another source of environments (tests).
    bool Create(HWND window, const std::string& uiFolder, const std::string& userDataFolder,
                Win32WebViewEvents events, EnvironmentFactory createEnvironment);

    void Navigate(const std::string& url);   // ignored until the web view exists
    void PostJson(const std::string& json);  // dropped (not queued) until ready
    void Resize(const RECT& client);         // ignored until the controller exists
    // Set up: the control and its page's web view are there until released.
    bool Ready() const { return webView_.get() != nullptr; }

private:
    template <class Interface, class... Args>
    class Handler;

    HRESULT OnEnvironmentCreated(HRESULT result, ICoreWebView2Environment* environment);
    HRESULT OnControllerCreated(HRESULT result, ICoreWebView2Controller* controller);
    HRESULT OnWebMessage(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args);
    HRESULT OnProcessFailed(ICoreWebView2* sender, ICoreWebView2ProcessFailedEventArgs* args);
    HRESULT OnNavigationCompleted(ICoreWebView2* sender,
                                  ICoreWebView2NavigationCompletedEventArgs* args);
    bool AskForEnvironment();
    void MapUiFolder();
    void ApplySettings();
    void AddHandlers();
    // Adds one handler to webView_ with `add`; its token, or none when it was refused.
    template <class Interface, class EventArgs>
    std::optional<EventRegistrationToken> Listen(
        HRESULT (STDMETHODCALLTYPE ICoreWebView2::*add)(Interface*, EventRegistrationToken*),
        HRESULT (Win32WebView::*target)(ICoreWebView2*, EventArgs*), const IID& iid);
    bool ShowsOwnPage();
    void Release();  // lets go of the control and its handlers

    // The runtime may call a handler after this object is gone (a window closed while the
    // control was still being made): handlers reach it only through this link, cleared by
    // the destructor.
    std::shared_ptr<Win32WebView*> self_;

    HWND window_ = nullptr;
    std::wstring uiFolder_;
    std::string userDataFolder_;
    Win32WebViewEvents events_;
    EnvironmentFactory createEnvironment_;
    bool created_ = false;
    std::wstring url_;  // the page last navigated to, shown again by a control made again
    int restarts_ = 0;  // reloads and new controls so far

    ComRef<ICoreWebView2Environment> environment_;
    ComRef<ICoreWebView2Controller> controller_;
    ComRef<ICoreWebView2> webView_;
    // Handlers added to webView_, removed before it goes.
    std::optional<EventRegistrationToken> messageToken_, processToken_, navigationToken_;
};

}  // namespace quillon::win32
