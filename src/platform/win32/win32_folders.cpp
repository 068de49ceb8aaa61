#include "platform/win32/win32_folders.h"

#include <windows.h>
// after windows.h
#include <knownfolders.h>
#include <shlobj.h>

#include <vector>

#include "platform/win32/win32_text.h"

namespace quillon::win32 {

std::string KnownFolderPath(KnownFolder which) {
    const KNOWNFOLDERID& id = which == KnownFolder::Downloads         ? FOLDERID_Downloads
                              : which == KnownFolder::ProgramFilesX86 ? FOLDERID_ProgramFilesX86
                                                                      : FOLDERID_LocalAppData;
    wchar_t* path = nullptr;
    // The folder is given even when it does not exist yet (KF_FLAG_DONT_VERIFY): Downloads may
    // have been removed, and the caller reports that on its own.
    const HRESULT result = SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, nullptr, &path);
    std::string out = SUCCEEDED(result) && path != nullptr ? Narrow(path) : std::string();
    CoTaskMemFree(path);  // also on failure, as the documentation asks
    return out;
}

std::string LocalAppFolder() {
    const std::string base = KnownFolderPath(KnownFolder::LocalAppData);
    if (base.empty()) return "";
    const std::string folder = base + "\\Quillon";
    if (!CreateDirectoryW(Wide(folder).c_str(), nullptr) &&
        GetLastError() != ERROR_ALREADY_EXISTS) {
        return "";
    }
    return folder;
}

std::wstring ExecutablePathWide() {
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD length =
            GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return L"";
        // A full buffer means the name was cut: try again with room for a long path.
        if (length < buffer.size()) return std::wstring(buffer.data(), length);
        if (buffer.size() >= 32768) return L"";
        buffer.resize(buffer.size() * 4);
    }
}

}  // namespace quillon::win32
