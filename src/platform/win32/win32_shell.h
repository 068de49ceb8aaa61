// Win32Shell: the Windows front end. It owns the main window ("QlnWinMainWindow", 850 x 750,
// "Quillon"), runs the UI thread's message loop, turns window messages into the core's shell
// events, keeps the window's timers, the tray icon with its menu and balloon, and hosts the page
// in a WebView2 control that serves the ui folder beside the executable.
//
// The entry point creates one on the main thread, which becomes the UI thread. Every call is
// made on that thread except PostToSelf, which any thread may call.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/shell.h"

namespace quillon::win32 {

class Win32Tray;
class Win32WebView;

struct Win32ShellOptions {
    // The executable: its icon (resource 1) and the window class; null: this process's own.
    HINSTANCE instance = nullptr;
    std::string uiFolder;  // the page's files
    // The web view's own storage (%LOCALAPPDATA%\Quillon\WebView2 as the entry point gives it).
    std::string webViewDataFolder;
    bool darkTheme = false;  // the desktop's apps are dark: so is the window's frame
    // Tests of the window alone: a message-only window (no screen needed), without a page.
    bool windowOnly = false;
};

// The window message PostToSelf sends (the core's message number in wParam).
constexpr UINT kPostedMessage = WM_APP + 1;

class Win32Shell final : public Shell {
public:
    explicit Win32Shell(Win32ShellOptions options);
    ~Win32Shell() override;
    Win32Shell(const Win32Shell&) = delete;
    Win32Shell& operator=(const Win32Shell&) = delete;

    bool RuntimeAvailable() override;
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
    bool StartPage(const std::string& startUrl) override;
    void PostToPage(const std::string& json) override;

    HWND Window() const { return window_; }

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
    bool CreateMainWindow();
    void OnCreated();

    Win32ShellOptions options_;
    ShellListener* listener_ = nullptr;
    HWND window_ = nullptr;
    // Read by PostToSelf on any thread; null before the window exists and once it is gone.
    std::atomic<HWND> postTarget_{nullptr};
    HICON icon_ = nullptr;
    UINT taskbarCreated_ = 0;
    bool destroyed_ = false;
    int exitCode_ = 0;
    std::string startFailure_;
    std::unique_ptr<Win32Tray> tray_;
    std::unique_ptr<Win32WebView> webView_;
};

}  // namespace quillon::win32
