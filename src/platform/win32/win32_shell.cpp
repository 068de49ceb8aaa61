#include "platform/win32/win32_shell.h"

// after windows.h
#include <dwmapi.h>
#include <objbase.h>

#include "base/log.h"
#include "platform/win32/win32_tray.h"
#include "platform/win32/win32_webview.h"
#include "platform/win32/win32_webview_loader.h"

namespace quillon::win32 {

namespace {

constexpr wchar_t kWindowClass[] = L"QlnWinMainWindow";
constexpr wchar_t kWindowTitle[] = L"Quillon";
constexpr int kWindowWidth = 850;
constexpr int kWindowHeight = 750;
constexpr int kIconResource = 1;
// The system's own application icon and arrow cursor (IDI_APPLICATION, IDC_ARROW), by number:
// the SDK's names for them are narrow texts in a build without UNICODE.
constexpr WORD kSystemApplicationIcon = 32512;
constexpr WORD kSystemArrowCursor = 32512;

// Window frame attributes of the desktop window manager, by number: the SDK of the cross
// compiler predates them.
constexpr DWORD kDwmUseImmersiveDarkMode = 20;
constexpr DWORD kDwmSystemBackdropType = 38;
constexpr int kDwmMainWindowBackdrop = 2;

void ShowError(const wchar_t* text) {
    MessageBoxW(nullptr, text, L"Error", MB_OK | MB_ICONERROR);
}

}  // namespace

Win32Shell::Win32Shell(Win32ShellOptions options) : options_(std::move(options)) {
    if (options_.instance == nullptr) options_.instance = GetModuleHandleW(nullptr);
}

Win32Shell::~Win32Shell() = default;

bool Win32Shell::RuntimeAvailable() {
    return options_.windowOnly || !WebViewRuntimeVersion().empty();
}

int Win32Shell::Run(ShellListener& listener, bool startHidden) {
    listener_ = &listener;
    startFailure_.clear();
    destroyed_ = false;
    exitCode_ = 0;

    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    if (FAILED(com)) {
        LogWrite(Error, "Failed to initialize COM: 0x%08X", static_cast<unsigned>(com));
        ShowError(L"Failed to initialize COM");
        startFailure_ = "COM could not be initialized for the page's web view";
        return -1;
    }
    LogWrite(Debug, "COM initialized for WebView2");

    if (!CreateMainWindow()) {
        CoUninitialize();
        return -1;
    }
    // The frame follows the desktop's theme.
    const BOOL dark = options_.darkTheme ? TRUE : FALSE;
    DwmSetWindowAttribute(window_, kDwmUseImmersiveDarkMode, &dark, sizeof(dark));
    DwmSetWindowAttribute(window_, kDwmSystemBackdropType, &kDwmMainWindowBackdrop,
                          sizeof(kDwmMainWindowBackdrop));
    if (!destroyed_ && !startHidden) {
        ::ShowWindow(window_, SW_SHOWDEFAULT);
        UpdateWindow(window_);
    }

    MSG message;
    // Quit posts the quit message, also when it comes before the loop: it ends the loop here
    // and is taken off the queue, so that a later run starts afresh.
    while (GetMessageW(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }

    // A Quit without DestroyWindow leaves the window: it goes without a second OnDestroy.
    if (window_ != nullptr) {
        destroyed_ = true;
        ::DestroyWindow(window_);
    }
    webView_.reset();
    tray_.reset();
    CoUninitialize();
    listener_ = nullptr;
    return exitCode_;
}

bool Win32Shell::CreateMainWindow() {
    icon_ = LoadIconW(options_.instance, MAKEINTRESOURCEW(kIconResource));
    if (icon_ == nullptr) icon_ = LoadIconW(nullptr, MAKEINTRESOURCEW(kSystemApplicationIcon));
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = &Win32Shell::WindowProc;
    windowClass.hInstance = options_.instance;
    windowClass.hIcon = icon_;
    windowClass.hIconSm = icon_;
    windowClass.hCursor = LoadCursorW(nullptr, MAKEINTRESOURCEW(kSystemArrowCursor));
    windowClass.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    windowClass.lpszClassName = kWindowClass;
    // A second run in one process (tests) finds the class registered already.
    if (RegisterClassExW(&windowClass) == 0 && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) {
        ShowError(L"Failed to register window class");
        return false;
    }
    taskbarCreated_ = RegisterWindowMessageW(L"TaskbarCreated");
    // WM_CREATE, and with it the core's OnCreate, runs inside this call.
    const HWND created = CreateWindowExW(0, kWindowClass, kWindowTitle, WS_OVERLAPPEDWINDOW,
                                         CW_USEDEFAULT, CW_USEDEFAULT, kWindowWidth, kWindowHeight,
                                         options_.windowOnly ? HWND_MESSAGE : nullptr, nullptr,
                                         options_.instance, this);
    if (created == nullptr) {
        ShowError(L"Failed to create window");
        return false;
    }
    return true;
}

LRESULT CALLBACK Win32Shell::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCCREATE) {
        auto* shell =
            static_cast<Win32Shell*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        shell->window_ = window;
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(shell));
    }
    auto* shell = reinterpret_cast<Win32Shell*>(GetWindowLongPtrW(window, GWLP_USERDATA));
    if (shell == nullptr) return DefWindowProcW(window, message, wParam, lParam);
    const LRESULT result = shell->Handle(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        shell->window_ = nullptr;
    }
    return result;
}

LRESULT Win32Shell::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_CREATE:
            OnCreated();
            return 0;
        case WM_SIZE:
            if (webView_) {
                RECT client{};
                GetClientRect(window_, &client);
                webView_->Resize(client);
            }
            if (!destroyed_) listener_->OnResize(LOWORD(lParam), HIWORD(lParam));
            return 0;
        case WM_CLOSE:
            // The core decides: hide to the tray, or end.
            if (!destroyed_) listener_->OnClose();
            return 0;
        case WM_COMMAND:
            if (!destroyed_) listener_->OnCommand(LOWORD(wParam));
            return 0;
        case WM_TIMER:
            if (!destroyed_) listener_->OnTimer(static_cast<int>(wParam));
            return 0;
        case kTrayCallbackMessage:
            if (!destroyed_) listener_->OnTrayMouse(LOWORD(lParam));
            return 0;
        case kPostedMessage:
            if (!destroyed_) listener_->OnPosted(static_cast<uint32_t>(wParam));
            return 0;
        case WM_QUERYENDSESSION:
            return TRUE;  // nothing to ask the user
        case WM_ENDSESSION:
            // Log-off or shutdown: the process may be ended as soon as this returns.
            if (wParam != FALSE && !destroyed_) listener_->OnSessionEnd();
            return 0;
        case WM_DESTROY:
            postTarget_ = nullptr;
            if (!destroyed_) {
                destroyed_ = true;
                listener_->OnDestroy();
            }
            return 0;
        default:
            if (message == taskbarCreated_ && taskbarCreated_ != 0 && tray_) tray_->Restore();
            return DefWindowProcW(window_, message, wParam, lParam);
    }
}

void Win32Shell::OnCreated() {
    tray_ = std::make_unique<Win32Tray>(window_, icon_);
    postTarget_ = window_;
    listener_->OnCreate();
    if (destroyed_ || options_.windowOnly) return;
    webView_ = std::make_unique<Win32WebView>();
    Win32WebViewEvents events;
    events.ready = [this] {
        if (!destroyed_) listener_->OnPageReady();
    };
    events.gone = [this] {
        if (!destroyed_) listener_->OnPageGone();
    };
    events.arrived = [this] {
        if (!destroyed_) listener_->OnPageArrived();
    };
    events.message = [this](const std::string& text) {
        if (!destroyed_) listener_->OnPageMessage(text);
    };
    webView_->Create(window_, options_.uiFolder, options_.webViewDataFolder, std::move(events));
}

void Win32Shell::Quit(int exitCode) {
    exitCode_ = exitCode;
    PostQuitMessage(exitCode);
}

void Win32Shell::DestroyWindow() {
    // WM_DESTROY, and with it OnDestroy, runs before this returns.
    if (!destroyed_ && window_ != nullptr) ::DestroyWindow(window_);
}

void Win32Shell::ShowWindow(bool visible) {
    if (destroyed_ || window_ == nullptr) return;
    if (visible) {
        ::ShowWindow(window_, SW_SHOW);
        SetForegroundWindow(window_);
    } else {
        ::ShowWindow(window_, SW_HIDE);
    }
}

void Win32Shell::SetTimer(int timerId, uint32_t periodMs) {
    // Setting an armed id replaces its period.
    if (!destroyed_ && window_ != nullptr) {
        ::SetTimer(window_, static_cast<UINT_PTR>(timerId), periodMs, nullptr);
    }
}

void Win32Shell::KillTimer(int timerId) {
    if (window_ != nullptr) ::KillTimer(window_, static_cast<UINT_PTR>(timerId));
}

void Win32Shell::PostToSelf(uint32_t message) {
    const HWND target = postTarget_;
    if (target != nullptr) PostMessageW(target, kPostedMessage, message, 0);
}

bool Win32Shell::AddTrayIcon(const std::string& tip) {
    return tray_ && tray_->Add(tip);
}

void Win32Shell::RemoveTrayIcon() {
    if (tray_) tray_->Remove();
}

void Win32Shell::ShowTrayMenu(const std::vector<TrayMenuItem>& items) {
    if (tray_ && !destroyed_) tray_->ShowMenu(items);
}

void Win32Shell::ShowTrayBalloon(const std::string& title, const std::string& text) {
    if (tray_) tray_->ShowBalloon(title, text);
}

bool Win32Shell::StartPage(const std::string& startUrl) {
    if (!webView_) return false;
    webView_->Navigate(startUrl);
    return true;
}

void Win32Shell::PostToPage(const std::string& json) {
    if (webView_) webView_->PostJson(json);
}

}  // namespace quillon::win32
