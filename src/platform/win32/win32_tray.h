// Win32Tray: the main window's icon in the notification area, its popup menu and its balloon.
// The shell owns one and calls it on the UI thread only; the icon's mouse events arrive at the
// window as kTrayCallbackMessage and the chosen menu item as WM_COMMAND.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "platform/shell.h"

namespace quillon::win32 {

// The window message the icon's mouse events come with (the event in the low word of lParam).
constexpr UINT kTrayCallbackMessage = WM_USER + 1;

// `text` as UTF-16 in a buffer of `capacity` units, terminator included: cut short where
// needed, never between the two halves of a surrogate pair.
std::wstring FitWide(const std::string& text, size_t capacity);

class Win32Tray {
public:
    // The icon goes with `window`; `icon` is shown in the tray and in balloons.
    Win32Tray(HWND window, HICON icon) : window_(window), icon_(icon) {}
    ~Win32Tray() { Remove(); }
    Win32Tray(const Win32Tray&) = delete;
    Win32Tray& operator=(const Win32Tray&) = delete;

    // False when the taskbar refused the icon; true also when there is no taskbar yet (a
    // start at log-on): the icon then comes with it.
    bool Add(const std::string& tip);
    void Remove();
    // The taskbar was created (at log-on) or re-created (Explorer restarted): the icon asked
    // for has to be added (again).
    void Restore();
    bool Shown() const { return shown_; }

    // Shows `items` at the pointer and returns once the menu has closed.
    void ShowMenu(const std::vector<TrayMenuItem>& items);
    bool ShowBalloon(const std::string& title, const std::string& text);

private:
    HWND window_;
    HICON icon_;
    std::string tip_;
    bool wanted_ = false;  // added and not removed since, whether or not the taskbar took it
    bool shown_ = false;   // the taskbar took it
};

}  // namespace quillon::win32
