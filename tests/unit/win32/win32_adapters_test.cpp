// The first Windows adapters under Wine: clock readings, durable file replacement and the
// per-user folder.
#include <gtest/gtest.h>
#include <windows.h>
// after windows.h
#include <aclapi.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "base/fs_path.h"
#include "fakes/file_text.h"
#include "fakes/temp_dir.h"
#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_files.h"
#include "platform/win32/win32_folders.h"
#include "platform/win32/win32_text.h"

namespace quillon::win32 {
namespace {

TEST(Win32Adapters, ClockReadingsMoveTogether) {
    Win32Clock clock;
    const uint64_t tick = clock.Tick64();
    const int64_t ns = clock.MonotonicNs();
    const int64_t unixSeconds = clock.UnixSeconds();
    clock.Sleep(100);
    // The tick counter moves in steps of about 16 ms: it may show up to one step less.
    EXPECT_GE(clock.Tick64() - tick, 80u);
    EXPECT_GE(clock.MonotonicNs() - ns, 100'000'000);
    EXPECT_LE(clock.UnixSeconds() - unixSeconds, 1);
    const int64_t library = std::chrono::duration_cast<std::chrono::seconds>(
                                std::chrono::system_clock::now().time_since_epoch())
                                .count();
    EXPECT_LE(std::abs(library - clock.UnixSeconds()), 1);  // the epoch and unit are right

    const LocalTime local = clock.Local();
    EXPECT_GE(local.year, 2023);
    EXPECT_TRUE(local.month >= 1 && local.month <= 12);
    EXPECT_TRUE(local.day >= 1 && local.day <= 31);
    EXPECT_TRUE(local.hour >= 0 && local.hour <= 23);
    EXPECT_TRUE(local.millisecond >= 0 && local.millisecond <= 999);
}

// Whether the file's access list is protected from inheritance and admits one entry only.
bool PrivateAccessList(const std::string& path) {
    PACL acl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(Wide(path).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                              nullptr, nullptr, &acl, nullptr, &descriptor) != ERROR_SUCCESS) {
        return false;
    }
    SECURITY_DESCRIPTOR_CONTROL control = 0;
    DWORD revision = 0;
    GetSecurityDescriptorControl(descriptor, &control, &revision);
    const bool result = acl != nullptr && acl->AceCount == 1 && (control & SE_DACL_PROTECTED);
    LocalFree(descriptor);
    return result;
}

// Wine keeps no access lists of its own: it turns them into Unix permission bits and makes
// up a list from those when asked.
bool UnderWine() {
    return GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "wine_get_version") != nullptr;
}

TEST(Win32Adapters, ReplacedFilesAreWhole) {
    test::TempDir dir;
    Win32Files files;
    // A name beyond the ANSI code page: the adapter must open it with UTF-16.
    const std::string path = Utf8Path(dir.path()) + "\\caf\xC3\xA9-\xE2\x82\xAC.ini";
    ASSERT_TRUE(files.ReplaceFile(path, "secret\r\n", /*ownerOnly=*/true).ok);
    EXPECT_EQ(test::ReadFileText(FsPath(path)), "secret\r\n");
    ASSERT_TRUE(files.ReplaceFile(path, "plain", /*ownerOnly=*/false).ok);
    EXPECT_EQ(test::ReadFileText(FsPath(path)), "plain");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}), 1);

    const FileWriteResult missing =
        files.ReplaceFile(Utf8Path(dir.path()) + "\\none\\x", "x", false);
    EXPECT_FALSE(missing.ok);
    EXPECT_EQ(missing.error, ERROR_PATH_NOT_FOUND);
}

TEST(Win32Adapters, PrivateFilesAdmitTheirOwnerAlone) {
    if (UnderWine()) GTEST_SKIP() << "Wine keeps no access lists on files";
    test::TempDir dir;
    Win32Files files;
    const std::string path = Utf8Path(dir.path()) + "\\saved.ini";
    ASSERT_TRUE(files.ReplaceFile(path, "secret", /*ownerOnly=*/true).ok);
    EXPECT_TRUE(PrivateAccessList(path));
    ASSERT_TRUE(files.ReplaceFile(path, "plain", /*ownerOnly=*/false).ok);
    EXPECT_FALSE(PrivateAccessList(path));
}

TEST(Win32Adapters, TheApplicationFolderIsInTheUsersLocalAppData) {
    const wchar_t* local = _wgetenv(L"LOCALAPPDATA");
    ASSERT_NE(local, nullptr);
    EXPECT_EQ(KnownFolderPath(KnownFolder::LocalAppData), Narrow(local));
    const std::string folder = LocalAppFolder();
    EXPECT_EQ(folder, Narrow(local) + "\\Quillon");
    EXPECT_TRUE(std::filesystem::is_directory(FsPath(folder)));
    EXPECT_EQ(LocalAppFolder(), folder);  // an existing folder is fine
    EXPECT_FALSE(KnownFolderPath(KnownFolder::Downloads).empty());
}

}  // namespace
}  // namespace quillon::win32
