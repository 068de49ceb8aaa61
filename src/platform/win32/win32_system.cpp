#include "platform/win32/win32_system.h"

#include <windows.h>

#include <cstdio>
#include <utility>

#include "platform/win32/win32_folders.h"
#include "platform/win32/win32_text.h"

namespace quillon::win32 {

namespace {

// RtlGetVersion tells the truth where GetVersionEx answers what the manifest allows.
using RtlGetVersionFunction = LONG(WINAPI*)(OSVERSIONINFOW*);

}  // namespace

std::string Win32System::AppFolderPath(AppFolder) {
    return options_.dataDir.empty() ? LocalAppFolder() : options_.dataDir;
}

std::string Win32System::DownloadsFolderPath() {
    return KnownFolderPath(KnownFolder::Downloads);
}

std::string Win32System::ExecutablePath() {
    return Narrow(ExecutablePathWide());
}

OsVersion Win32System::GetOsVersion() {
    unsigned long major = 0, minor = 0, build = 0;
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto rtlGetVersion = reinterpret_cast<RtlGetVersionFunction>(
        reinterpret_cast<void*>(ntdll ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr));
    OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (rtlGetVersion != nullptr && rtlGetVersion(&info) == 0) {
        major = info.dwMajorVersion;
        minor = info.dwMinorVersion;
        build = info.dwBuildNumber;
    }
    char version[40];
    std::snprintf(version, sizeof version, "%lu.%lu.%lu", major, minor, build);
    return OsVersion{"Windows", version};
}

std::string Win32System::Architecture() {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
        case PROCESSOR_ARCHITECTURE_INTEL:
            return "x86";
        case PROCESSOR_ARCHITECTURE_ARM:
            return "arm";
        case PROCESSOR_ARCHITECTURE_AMD64:
            return "x64";
        case 12:  // PROCESSOR_ARCHITECTURE_ARM64, missing from older headers
            return "arm64";
        default:
            return "unknown";
    }
}

std::string Win32System::ComputerName() {
    wchar_t name[MAX_COMPUTERNAME_LENGTH + 1] = {};
    DWORD size = MAX_COMPUTERNAME_LENGTH + 1;
    if (!GetComputerNameW(name, &size)) return "";
    return Narrow(std::wstring_view(name, size));
}

DiskSpace Win32System::SystemDiskSpace() {
    DiskSpace out;
    ULARGE_INTEGER freeForUser{}, total{};
    if (!GetDiskFreeSpaceExW(L"C:\\", &freeForUser, &total, nullptr)) return out;
    out.ok = true;
    out.totalBytes = total.QuadPart;
    out.freeBytesForUser = freeForUser.QuadPart;
    return out;
}

MemoryStatus Win32System::GetMemoryStatus() {
    MemoryStatus out;
    MEMORYSTATUSEX status{};
    status.dwLength = sizeof(status);
    if (!GlobalMemoryStatusEx(&status)) return out;
    out.ok = true;
    out.loadPercent = status.dwMemoryLoad;
    out.totalPhysicalBytes = status.ullTotalPhys;
    out.availablePhysicalBytes = status.ullAvailPhys;
    return out;
}

PowerStatus Win32System::GetPowerStatus() {
    PowerStatus out;
    SYSTEM_POWER_STATUS status{};
    if (!GetSystemPowerStatus(&status)) {
        out.error = GetLastError();
        return out;
    }
    out.ok = true;
    out.acLineStatus = status.ACLineStatus;
    return out;
}

bool ThemeKeyIsDark(const std::string& subkey) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, Wide(subkey).c_str(), 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS) {
        return false;
    }
    DWORD value = 0;
    DWORD size = sizeof(value);
    DWORD type = 0;
    const bool read = RegQueryValueExW(key, L"AppsUseLightTheme", nullptr, &type,
                                       reinterpret_cast<BYTE*>(&value), &size) == ERROR_SUCCESS &&
                      type == REG_DWORD;
    RegCloseKey(key);
    return !read || value == 0;
}

bool Win32System::PrefersDarkTheme() {
    return ThemeKeyIsDark("Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize");
}

bool Win32System::OpenUrl(const std::string& url) {
    if (url.empty()) return false;
    const HINSTANCE result =
        ShellExecuteW(nullptr, L"open", Wide(url).c_str(), nullptr, nullptr, SW_SHOWNORMAL);
    // Values above 32 mean success; the rest are error codes.
    return reinterpret_cast<INT_PTR>(result) > 32;
}

MessageBoxResult Win32System::ShowMessageBox(const std::string& text, const std::string& caption,
                                             MessageBoxKind kind, MessageBoxButtons buttons) {
    const UINT style = (kind == MessageBoxKind::Error ? MB_ICONERROR : MB_ICONINFORMATION) |
                       (buttons == MessageBoxButtons::OkCancel ? MB_OKCANCEL : MB_OK);
    const int answer = MessageBoxW(nullptr, Wide(text).c_str(), Wide(caption).c_str(), style);
    // A box the system could not show (no desktop) was agreed to by nobody.
    return answer == IDOK ? MessageBoxResult::Ok : MessageBoxResult::Cancel;
}

}  // namespace quillon::win32
