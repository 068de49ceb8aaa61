// The Windows shell's window and loop, as a message-only window (Wine needs no screen for it):
// window messages reach the core as its shell events, timers and posts from other threads
// arrive on the UI thread, and the loop ends with the core's exit code. The tray's texts are
// cut to the notification area's fields without breaking a character.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/shell_messages.h"
#include "platform/win32/win32_shell.h"
#include "platform/win32/win32_tray.h"

namespace quillon::win32 {
namespace {

// Records the events and, like the main controller, ends the run when the window goes.
class ScriptedListener : public ShellListener {
public:
    explicit ScriptedListener(Win32Shell& shell) : shell_(shell) {}

    void OnCreate() override {
        events.push_back("create");
        createdOn = GetCurrentThreadId();
        shell_.SetTimer(7, 20);
        // A worker posts while the window lives; it arrives on the UI thread.
        std::thread([this] { shell_.PostToSelf(kNetChangeMessage); }).join();
    }
    void OnClose() override { events.push_back("close"); }
    void OnCommand(int command) override { events.push_back("command " + std::to_string(command)); }
    void OnTimer(int timerId) override {
        events.push_back("timer " + std::to_string(timerId));
        shell_.KillTimer(timerId);
        // Window messages as the system and the tray send them.
        const HWND window = shell_.Window();
        SendMessageW(window, WM_CLOSE, 0, 0);
        SendMessageW(window, WM_COMMAND, kCommandShowHide, 0);
        SendMessageW(window, kTrayCallbackMessage, 1, kTrayRightButtonUp);
        queryEndSession = SendMessageW(window, WM_QUERYENDSESSION, 0, 0);
        SendMessageW(window, WM_ENDSESSION, FALSE, 0);  // another program kept the session
        SendMessageW(window, WM_ENDSESSION, TRUE, 0);
        if (quitWithoutDestroy) {
            shell_.Quit(3);
        } else {
            shell_.DestroyWindow();
        }
    }
    void OnTrayMouse(uint32_t mouseEvent) override {
        events.push_back("tray " + std::to_string(mouseEvent));
    }
    void OnPosted(uint32_t message) override {
        events.push_back("posted " + std::to_string(message));
        postedOn = GetCurrentThreadId();
    }
    void OnResize(int, int) override {}
    void OnDestroy() override {
        events.push_back("destroy");
        shell_.Quit(9);
    }
    void OnSessionEnd() override { events.push_back("session end"); }
    void OnPageReady() override {}
    void OnPageGone() override {}
    void OnPageMessage(const std::string&) override {}

    std::vector<std::string> events;
    DWORD createdOn = 0;
    DWORD postedOn = 0;
    bool quitWithoutDestroy = false;
    LRESULT queryEndSession = 0;

private:
    Win32Shell& shell_;
};

Win32ShellOptions WindowOnly() {
    Win32ShellOptions options;
    options.instance = GetModuleHandleW(nullptr);
    options.windowOnly = true;
    return options;
}

TEST(Win32Shell, WindowMessagesBecomeShellEventsUntilTheWindowGoes) {
    Win32Shell shell(WindowOnly());
    ScriptedListener listener(shell);
    EXPECT_EQ(shell.Run(listener, true), 9);
    EXPECT_EQ(listener.events,
              (std::vector<std::string>{"create", "posted " + std::to_string(kNetChangeMessage),
                                        "timer 7", "close", "command 2001", "tray 517",
                                        "session end", "destroy"}));
    EXPECT_EQ(listener.queryEndSession, TRUE);  // the session may end without asking anyone
    EXPECT_EQ(listener.postedOn, listener.createdOn);
    EXPECT_EQ(shell.Window(), nullptr);
    shell.PostToSelf(kNetChangeMessage);  // after the window: nowhere, harmlessly

    // A quit without destroying the window ends the loop; the window then goes without
    // telling the core a second time. The class registered by the first run serves again.
    ScriptedListener second(shell);
    second.quitWithoutDestroy = true;
    EXPECT_EQ(shell.Run(second, false), 3);
    EXPECT_EQ(second.events.back(), "session end");
    EXPECT_EQ(shell.Window(), nullptr);
}

// Started at log-on before the taskbar, the program is promised its icon (so the core may hide
// the window to it): it is added once the taskbar announces itself.
TEST(Win32Shell, AnIconAskedForBeforeTheTaskbarIsPromised) {
    if (FindWindowW(L"Shell_TrayWnd", nullptr) != nullptr) GTEST_SKIP() << "a taskbar runs";
    const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                        GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window, nullptr);
    {
        Win32Tray tray(window, LoadIconW(nullptr, MAKEINTRESOURCEW(32512)));
        EXPECT_TRUE(tray.Add("Quillon"));
        EXPECT_FALSE(tray.Shown());
        tray.Restore();  // still no taskbar: still waiting, nothing breaks
        EXPECT_FALSE(tray.Shown());
    }
    DestroyWindow(window);
}

TEST(Win32Shell, TrayTextsAreCutToTheirFieldsBetweenCharacters) {
    EXPECT_EQ(FitWide("Quillon", 128), L"Quillon");
    EXPECT_EQ(FitWide(std::string(200, 'a'), 128).size(), 127u);  // room for the terminator
    // "é" is one unit; "😀" is a surrogate pair that must not be split.
    EXPECT_EQ(FitWide("ab\xC3\xA9", 4), L"ab\u00e9");
    const std::wstring cut = FitWide("ab\xF0\x9F\x98\x80", 4);
    EXPECT_EQ(cut, L"ab");
    EXPECT_EQ(FitWide("ab\xF0\x9F\x98\x80", 5).size(), 4u);
    EXPECT_EQ(FitWide("anything", 0), L"");
}

}  // namespace
}  // namespace quillon::win32
