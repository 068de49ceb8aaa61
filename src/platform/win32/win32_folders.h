// The user's and the system's known folders, as UTF-8 paths without a trailing separator. The
// System adapter answers AppFolderPath and DownloadsFolderPath with these.
#pragma once

#include <string>

namespace quillon::win32 {

enum class KnownFolder { LocalAppData, Downloads, ProgramFilesX86 };

// Empty when the shell does not know the folder.
std::string KnownFolderPath(KnownFolder which);

// %LOCALAPPDATA%\Quillon, where every per-user file of the application lives; created when
// missing. Empty when it cannot be found or created.
std::string LocalAppFolder();

}  // namespace quillon::win32
