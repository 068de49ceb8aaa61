// The user's and the system's known folders, as UTF-8 paths without a trailing separator, and
// this program's own path. The System adapter answers AppFolderPath, DownloadsFolderPath and
// ExecutablePath with these; the web view's loader looks beside the program.
#pragma once

#include <string>

namespace quillon::win32 {

enum class KnownFolder { LocalAppData, Downloads, ProgramFilesX86 };

// Empty when the shell does not know the folder.
std::string KnownFolderPath(KnownFolder which);

// %LOCALAPPDATA%\Quillon, where every per-user file of the application lives; created when
// missing. Empty when it cannot be found or created.
std::string LocalAppFolder();

// The full path of this program's executable, also when it is longer than MAX_PATH; empty when
// the system does not say.
std::wstring ExecutablePathWide();

}  // namespace quillon::win32
