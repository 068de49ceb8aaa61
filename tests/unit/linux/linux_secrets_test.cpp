#include "platform/linux/linux_secrets.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>

#include "fakes/temp_dir.h"

namespace quillon::lnx {
namespace {

namespace fs = std::filesystem;

TEST(LinuxSecrets, SealsForThisKeyOnlyAndNoticesTampering) {
    test::TempDir home;
    const std::string folder = home.path().string() + "/share";  // made on first use
    const std::vector<uint8_t> token = {'t', 'o', 'k', 'e', 'n', '-', '1'};
    LinuxSecrets secrets(folder);
    const auto sealed = secrets.Protect(token, "TelemetryToken");
    ASSERT_TRUE(sealed);
    EXPECT_EQ(std::string(sealed->begin(), sealed->end()).find("token-1"), std::string::npos);
    EXPECT_NE(secrets.Protect(token, "TelemetryToken"), sealed);  // a fresh nonce each time
    EXPECT_EQ(LinuxSecrets(folder).Unprotect(*sealed), token);    // the next run reads the key
    EXPECT_EQ(secrets.Unprotect(*secrets.Protect({}, "")), std::vector<uint8_t>{});

    struct stat st {};
    ASSERT_EQ(stat((folder + "/secret.key").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(st.st_size, 32);

    // Any changed byte (the description included), a cut, or another key: nothing.
    for (size_t i = 0; i < sealed->size(); ++i) {
        std::vector<uint8_t> changed = *sealed;
        changed[i] ^= 0x01;
        EXPECT_FALSE(secrets.Unprotect(changed)) << "byte " << i;
    }
    EXPECT_FALSE(secrets.Unprotect({sealed->begin(), sealed->end() - 1}));
    EXPECT_FALSE(secrets.Unprotect({}));
    test::TempDir otherDir;
    const std::string other = otherDir.path().string();
    EXPECT_FALSE(LinuxSecrets(other).Unprotect(*sealed));

    // A key file others may read, or one that is not a key, is not used.
    fs::permissions(folder + "/secret.key", fs::perms::group_read, fs::perm_options::add);
    EXPECT_FALSE(LinuxSecrets(folder).Unprotect(*sealed));
    std::ofstream(other + "/secret.key") << "short";
    fs::permissions(other + "/secret.key", fs::perms::owner_read | fs::perms::owner_write);
    EXPECT_FALSE(LinuxSecrets(other).Protect(token, ""));
    EXPECT_FALSE(LinuxSecrets("").Protect(token, ""));
}

}  // namespace
}  // namespace quillon::lnx
