// The System adapter under Wine: folders, facts about the machine and the theme rule. Opening
// a URL and message boxes are left out: both would reach outside the test (a browser, a
// window that waits for a click).
#include "platform/win32/win32_system.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <filesystem>
#include <random>
#include <regex>

#include "base/fs_path.h"
#include "platform/win32/win32_folders.h"

namespace quillon::win32 {
namespace {

TEST(Win32System, FoldersAreTheUsersOrTheGivenOne) {
    Win32System system;
    const std::string local = LocalAppFolder();
    ASSERT_FALSE(local.empty());
    for (AppFolder kind :
         {AppFolder::Config, AppFolder::State, AppFolder::Cache, AppFolder::Data}) {
        EXPECT_EQ(system.AppFolderPath(kind), local);
    }
    Win32System portable(Win32SystemOptions{"D:\\portable"});
    EXPECT_EQ(portable.AppFolderPath(AppFolder::Cache), "D:\\portable");
    EXPECT_EQ(system.DownloadsFolderPath(), KnownFolderPath(KnownFolder::Downloads));

    const std::string exe = system.ExecutablePath();
    EXPECT_EQ(FsPath(exe).filename(), "quillon_unit_tests.exe");
    EXPECT_TRUE(std::filesystem::is_regular_file(FsPath(exe)));
}

TEST(Win32System, MachineFactsAreFilledIn) {
    Win32System system;
    const OsVersion os = system.GetOsVersion();
    EXPECT_EQ(os.name, "Windows");
    EXPECT_TRUE(std::regex_match(os.version, std::regex("[1-9][0-9]*\\.[0-9]+\\.[0-9]+")))
        << os.version;
    EXPECT_EQ(system.Architecture(), "x64");  // this test program is a 64-bit one

    const std::string name = system.ComputerName();
    EXPECT_FALSE(name.empty());
    EXPECT_LE(name.size(), 15u);

    const DiskSpace disk = system.SystemDiskSpace();
    ASSERT_TRUE(disk.ok);
    EXPECT_GT(disk.totalBytes, 0u);
    EXPECT_LE(disk.freeBytesForUser, disk.totalBytes);

    const MemoryStatus memory = system.GetMemoryStatus();
    ASSERT_TRUE(memory.ok);
    EXPECT_GT(memory.totalPhysicalBytes, 0u);
    EXPECT_LE(memory.availablePhysicalBytes, memory.totalPhysicalBytes);
    EXPECT_LE(memory.loadPercent, 100u);

    const PowerStatus power = system.GetPowerStatus();
    EXPECT_TRUE(power.ok);
    EXPECT_TRUE(power.acLineStatus <= 1 || power.acLineStatus == 255) << int(power.acLineStatus);
}

TEST(Win32System, TheThemeIsDarkUnlessTheKeySaysLight) {
    // A scratch key of this test's own, so the user's real setting is never touched.
    const std::string subkey = "Software\\QuillonTest" + std::to_string(std::random_device()());
    const std::wstring wide(subkey.begin(), subkey.end());
    EXPECT_FALSE(ThemeKeyIsDark(subkey));  // no key: light

    HKEY key = nullptr;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, wide.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr),
              ERROR_SUCCESS);
    EXPECT_TRUE(ThemeKeyIsDark(subkey));  // no value: dark
    const auto set = [&](DWORD value) {
        RegSetValueExW(key, L"AppsUseLightTheme", 0, REG_DWORD,
                       reinterpret_cast<const BYTE*>(&value), sizeof(value));
    };
    set(1);
    EXPECT_FALSE(ThemeKeyIsDark(subkey));
    set(0);
    EXPECT_TRUE(ThemeKeyIsDark(subkey));
    RegCloseKey(key);
    RegDeleteKeyW(HKEY_CURRENT_USER, wide.c_str());
}

}  // namespace
}  // namespace quillon::win32
