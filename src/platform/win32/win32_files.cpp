#include "platform/win32/win32_files.h"

#include <windows.h>
// after windows.h
#include <sddl.h>
#undef ReplaceFile  // the port's method, not the Win32 function

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "platform/win32/win32_text.h"

namespace quillon::win32 {

namespace {

struct LocalFreer {
    void operator()(void* memory) const { LocalFree(memory); }
};

// "Full access for the current user, nothing inherited": the access list of a private file.
// Null (and the last error set) when the user's identity cannot be read.
std::unique_ptr<void, LocalFreer> OwnerOnlyDescriptor() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return nullptr;
    DWORD size = 0;
    GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size);
    const bool read =
        size != 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size);
    CloseHandle(token);
    if (!read) return nullptr;
    wchar_t* sid = nullptr;
    if (!ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
        return nullptr;
    }
    const std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(sid) + L")";
    LocalFree(sid);
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1,
                                                              &descriptor, nullptr)) {
        return nullptr;
    }
    return std::unique_ptr<void, LocalFreer>(descriptor);
}

bool WriteAll(HANDLE file, std::string_view bytes) {
    while (!bytes.empty()) {
        const DWORD chunk =
            bytes.size() > 0x40000000 ? 0x40000000 : static_cast<DWORD>(bytes.size());
        DWORD written = 0;
        if (!WriteFile(file, bytes.data(), chunk, &written, nullptr)) return false;
        bytes.remove_prefix(written);
    }
    return true;
}

}  // namespace

FileWriteResult ReplaceFileDurably(const std::string& path, std::string_view bytes,
                                   bool ownerOnly) {
    static std::atomic<uint32_t> counter{0};
    const std::wstring target = Wide(path);
    const std::wstring temporary = target + L".tmp-" + std::to_wstring(GetCurrentProcessId()) +
                                   L"-" + std::to_wstring(counter++);

    std::unique_ptr<void, LocalFreer> descriptor;
    if (ownerOnly) {
        descriptor = OwnerOnlyDescriptor();
        if (!descriptor) return {false, static_cast<int>(GetLastError())};
    }
    SECURITY_ATTRIBUTES attributes{sizeof(SECURITY_ATTRIBUTES), descriptor.get(), FALSE};
    const HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, &attributes, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {false, static_cast<int>(GetLastError())};
    DWORD error = 0;
    if (!WriteAll(file, bytes) || !FlushFileBuffers(file)) error = GetLastError();
    if (!CloseHandle(file) && error == 0) error = GetLastError();
    if (error == 0 && !MoveFileExW(temporary.c_str(), target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        error = GetLastError();
    }
    if (error != 0) {
        DeleteFileW(temporary.c_str());
        return {false, static_cast<int>(error)};
    }
    return {true, 0};
}

FileWriteResult Win32Files::ReplaceFile(const std::string& path, std::string_view bytes,
                                        bool ownerOnly) {
    return ReplaceFileDurably(path, bytes, ownerOnly);
}

}  // namespace quillon::win32
