// The Windows application's command line, read from the process: "--minimized" anywhere in
// it (the startup entry passes it; a substring is enough) and "--data-dir DIR" as two words.
// Read once by the entry point, on the main thread.
#pragma once

#include <string>

namespace quillon::win32 {

struct WindowsCommandLine {
    bool minimized = false;
    std::string dataDir;  // empty: the user's %LOCALAPPDATA%\Quillon
};

WindowsCommandLine ReadWindowsCommandLine();

}  // namespace quillon::win32
