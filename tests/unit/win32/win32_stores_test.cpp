// Settings and the startup entry in the registry (on scratch keys of the test's own, so the
// user's real values are never touched) and DPAPI secrets, under Wine.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <random>
#include <string>

#include "platform/win32/win32_registry.h"
#include "platform/win32/win32_secrets.h"

namespace quillon::win32 {
namespace {

class Win32Registry : public ::testing::Test {
protected:
    ~Win32Registry() override { RegDeleteTreeW(HKEY_CURRENT_USER, Wide().c_str()); }
    std::wstring Wide() const { return std::wstring(subkey.begin(), subkey.end()); }
    // The stored size in bytes of a value, or -1.
    long StoredSize(const wchar_t* name) const {
        DWORD size = 0;
        return RegGetValueW(HKEY_CURRENT_USER, Wide().c_str(), name, RRF_RT_ANY | RRF_NOEXPAND,
                            nullptr, nullptr, &size) == ERROR_SUCCESS
                   ? static_cast<long>(size)
                   : -1;
    }
    const std::string subkey = "Software\\QuillonTest" + std::to_string(std::random_device()());
};

TEST_F(Win32Registry, SettingsKeepTheirTypes) {
    Win32Settings settings(subkey);
    EXPECT_FALSE(settings.Read("ClientId"));  // no key yet
    EXPECT_TRUE(settings.Remove("ClientId"));

    ASSERT_TRUE(
        settings.Write("ClientId", {SettingType::String, "Caf\xC3\xA9 \xE2\x82\xAC", {}, 0}));
    ASSERT_TRUE(settings.Write("Path", {SettingType::ExpandableString, "%TEMP%\\x", {}, 0}));
    ASSERT_TRUE(settings.Write("Token", {SettingType::Binary, "", {0, 1, 0xFF}, 0}));
    ASSERT_TRUE(settings.Write("Expires", {SettingType::Dword, "", {}, 0xDEADBEEF}));

    const auto id = settings.Read("ClientId");
    ASSERT_TRUE(id);
    EXPECT_EQ(id->type, SettingType::String);
    EXPECT_EQ(id->text, "Caf\xC3\xA9 \xE2\x82\xAC");
    EXPECT_EQ(StoredSize(L"ClientId"), 7 * 2);  // six characters and the terminating null
    const auto path = settings.Read("Path");
    ASSERT_TRUE(path);
    EXPECT_EQ(path->type, SettingType::ExpandableString);
    EXPECT_EQ(path->text, "%TEMP%\\x");  // kept unexpanded
    const auto token = settings.Read("Token");
    ASSERT_TRUE(token);
    EXPECT_EQ(token->type, SettingType::Binary);
    EXPECT_EQ(token->bytes, (std::vector<uint8_t>{0, 1, 0xFF}));
    const auto expires = settings.Read("Expires");
    ASSERT_TRUE(expires);
    EXPECT_EQ(expires->type, SettingType::Dword);
    EXPECT_EQ(expires->dword, 0xDEADBEEFu);

    // A value another program left in a shape the application never writes reads as absent.
    const WORD half = 7;
    RegSetKeyValueW(HKEY_CURRENT_USER, Wide().c_str(), L"Expires", REG_DWORD, &half, sizeof half);
    EXPECT_FALSE(settings.Read("Expires"));

    EXPECT_TRUE(settings.Remove("ClientId"));
    EXPECT_FALSE(settings.Read("ClientId"));
    EXPECT_TRUE(settings.Remove("ClientId"));  // already gone
}

TEST_F(Win32Registry, TheStartupEntryIsWrittenReadAndRemoved) {
    Win32Autostart autostart(subkey, "Quillon");
    EXPECT_FALSE(autostart.Read());
    const std::string command = "\"C:\\Program Files\\Quillon\\quillon.exe\" --minimized";
    ASSERT_TRUE(autostart.Write(command));
    EXPECT_EQ(autostart.Read(), command);
    EXPECT_TRUE(autostart.Remove());
    EXPECT_FALSE(autostart.Read());
    EXPECT_LT(StoredSize(L"Quillon"), 0);
    EXPECT_TRUE(autostart.Remove());
}

TEST(Win32Secrets, ProtectedBytesReadBackOnlyWhole) {
    Win32Secrets secrets;
    const std::vector<uint8_t> plain = {'h', 'u', 'n', 't', 'e', 'r', '2', 0, 0xFF};
    const auto sealed = secrets.Protect(plain, "UniFiPassword");
    ASSERT_TRUE(sealed);
    EXPECT_EQ(std::search(sealed->begin(), sealed->end(), plain.begin(), plain.begin() + 7),
              sealed->end());  // not in clear
    EXPECT_EQ(secrets.Unprotect(*sealed), plain);
    EXPECT_NE(secrets.Protect(plain, ""), std::nullopt);

    std::vector<uint8_t> tampered = *sealed;
    tampered[tampered.size() - 5] ^= 0x40;
    EXPECT_FALSE(secrets.Unprotect(tampered));
    EXPECT_FALSE(secrets.Unprotect({}));
    EXPECT_FALSE(secrets.Unprotect({1, 2, 3}));
}

}  // namespace
}  // namespace quillon::win32
