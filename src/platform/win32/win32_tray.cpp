#include "platform/win32/win32_tray.h"

// after windows.h
#include <shellapi.h>

#include "platform/win32/win32_text.h"

namespace quillon::win32 {

namespace {

constexpr UINT kTrayIconId = 1;

template <size_t N>
void CopyInto(wchar_t (&field)[N], const std::string& text) {
    const std::wstring fitted = FitWide(text, N);
    fitted.copy(field, fitted.size());
    field[fitted.size()] = L'\0';
}

NOTIFYICONDATAW IconRecord(HWND window) {
    NOTIFYICONDATAW record{};
    record.cbSize = sizeof(record);
    record.hWnd = window;
    record.uID = kTrayIconId;
    return record;
}

}  // namespace

std::wstring FitWide(const std::string& text, size_t capacity) {
    std::wstring wide = Wide(text);
    if (capacity == 0) return {};
    if (wide.size() < capacity) return wide;
    size_t keep = capacity - 1;
    // A high surrogate whose partner would be cut off goes too.
    if (keep > 0 && wide[keep - 1] >= 0xD800 && wide[keep - 1] <= 0xDBFF) --keep;
    wide.resize(keep);
    return wide;
}

bool Win32Tray::Add(const std::string& tip) {
    NOTIFYICONDATAW record = IconRecord(window_);
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = kTrayCallbackMessage;
    record.hIcon = icon_;
    CopyInto(record.szTip, tip);
    tip_ = tip;
    wanted_ = true;
    shown_ = Shell_NotifyIconW(NIM_ADD, &record) != FALSE;
    // Started at log-on before the taskbar: the icon is added when the taskbar announces
    // itself (Restore), so the window may still hide to it.
    return shown_ || FindWindowW(L"Shell_TrayWnd", nullptr) == nullptr;
}

void Win32Tray::Remove() {
    wanted_ = false;
    if (!shown_) return;
    NOTIFYICONDATAW record = IconRecord(window_);
    Shell_NotifyIconW(NIM_DELETE, &record);
    shown_ = false;
}

void Win32Tray::Restore() {
    if (wanted_) Add(tip_);
}

void Win32Tray::ShowMenu(const std::vector<TrayMenuItem>& items) {
    HMENU menu = CreatePopupMenu();
    if (menu == nullptr) return;
    for (const TrayMenuItem& item : items) {
        if (item.command == 0) {
            AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
        } else {
            AppendMenuW(menu, MF_STRING | (item.checked ? MF_CHECKED : MF_UNCHECKED),
                        static_cast<UINT_PTR>(item.command), Wide(item.label).c_str());
        }
    }
    POINT pointer{};
    GetCursorPos(&pointer);
    // Without the window in front the menu would not close when the user clicks elsewhere.
    SetForegroundWindow(window_);
    TrackPopupMenu(menu, TPM_RIGHTBUTTON, pointer.x, pointer.y, 0, window_, nullptr);
    PostMessageW(window_, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

bool Win32Tray::ShowBalloon(const std::string& title, const std::string& text) {
    if (!shown_) return false;
    NOTIFYICONDATAW record = IconRecord(window_);
    record.uFlags = NIF_INFO;
    record.dwInfoFlags = NIIF_INFO;
    CopyInto(record.szInfoTitle, title);
    CopyInto(record.szInfo, text);
    return Shell_NotifyIconW(NIM_MODIFY, &record) != FALSE;
}

}  // namespace quillon::win32
