// Win32WebView: the WebView2 control filling the main window. It asks for a browser
// environment, then a controller for the window; when both have arrived it serves the ui
// folder under the page's host name, applies the page's settings, listens for the page's
// string messages, sizes itself to the window and reports ready. A failure at either step is
// logged and leaves it not ready for the rest of the run: nothing is retried, posts are
// dropped, the window stays empty.
//
// Used by the Windows shell, on the UI thread only (the runtime calls back on the thread that
// asked for the environment, which must be in a single-threaded apartment).
#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <string>

#include "platform/win32/webview2_api.h"
#include "platform/win32/win32_com_ref.h"

namespace quillon::win32 {

// The host name the ui folder is served under; the application's start page names it.
inline constexpr wchar_t kPageHostName[] = L"quillon.local";

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

    // Starts creating the control in `window` through the WebView2 loader. onReady runs once,
    // when the control is set up; onMessage gets every string the page posts. False when the
    // environment could not even be asked for (logged), or when called a second time.
    bool Create(HWND window, const std::string& uiFolder, const std::string& userDataFolder,
                std::function<void()> onReady, std::function<void(const std::string&)> onMessage);
    // The same with another source of environments (tests).
    bool Create(HWND window, const std::string& uiFolder, const std::string& userDataFolder,
                std::function<void()> onReady, std::function<void(const std::string&)> onMessage,
                const EnvironmentFactory& createEnvironment);

    void Navigate(const std::string& url);   // ignored until the web view exists
    void PostJson(const std::string& json);  // dropped (not queued) until ready
    void Resize(const RECT& client);         // ignored until the controller exists
    bool Ready() const { return ready_; }

private:
    template <class Interface, class... Args>
    class Handler;

    HRESULT OnEnvironmentCreated(HRESULT result, ICoreWebView2Environment* environment);
    HRESULT OnControllerCreated(HRESULT result, ICoreWebView2Controller* controller);
    HRESULT OnWebMessage(ICoreWebView2* sender, ICoreWebView2WebMessageReceivedEventArgs* args);
    void MapUiFolder();
    void ApplySettings();

    // The runtime may call a handler after this object is gone (a window closed while the
    // control was still being made): handlers reach it only through this link, cleared by
    // the destructor.
    std::shared_ptr<Win32WebView*> self_;

    HWND window_ = nullptr;
    std::wstring uiFolder_;
    std::function<void()> onReady_;
    std::function<void(const std::string&)> onMessage_;
    bool created_ = false;
    bool ready_ = false;

    ComRef<ICoreWebView2Environment> environment_;
    ComRef<ICoreWebView2Controller> controller_;
    ComRef<ICoreWebView2> webView_;
    EventRegistrationToken messageToken_{};
    bool messageHandlerAdded_ = false;
};

}  // namespace quillon::win32
