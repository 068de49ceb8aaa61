#include "platform/win32/win32_command_line.h"

#include <windows.h>
// after windows.h
#include <shellapi.h>

#include "platform/win32/win32_text.h"

namespace quillon::win32 {

WindowsCommandLine ReadWindowsCommandLine() {
    WindowsCommandLine options;
    const wchar_t* line = GetCommandLineW();
    options.minimized = std::wstring(line).find(L"--minimized") != std::wstring::npos;
    int count = 0;
    wchar_t** words = CommandLineToArgvW(line, &count);
    if (words == nullptr) return options;
    for (int i = 1; i + 1 < count; ++i) {
        if (std::wstring(words[i]) == L"--data-dir") options.dataDir = Narrow(words[i + 1]);
    }
    LocalFree(words);
    return options;
}

}  // namespace quillon::win32
