// The saved sign-ins: the file as written and read back, what is never written (the password
// in clear, a forged line), and the file's protection on disk.
#include "gateway/gateway_credentials.h"

#include <gtest/gtest.h>

#include "fakes/fake_service_ports.h"
#include "fakes/fake_store_ports.h"
#include "fakes/file_text.h"
#include "fakes/temp_dir.h"

namespace quillon {
namespace {

GatewayCredentials Record(const std::string& mac, const std::string& user) {
    return {"192.168.1.1", mac, user, "s3cr\"et\\pw", "tok", "csrf", "ab12"};
}

TEST(GatewayCredentials, SavesOneSectionPerGatewayWithThePasswordSealed) {
    test::TempDir dir;
    const std::string path = (dir.path() / "Data" / kGatewayCredentialsFile).string();
    test::FakeFiles files;
    test::FakeSecrets secrets;
    GatewayCredentialStore store(path, files, &secrets);
    EXPECT_TRUE(store.Load().empty());  // no file yet

    ASSERT_TRUE(store.Save(Record("FC:EC:DA:01:02:03", "admin")));
    ASSERT_TRUE(store.Save(Record("74:AC:B9:00:00:01", "other")));
    GatewayCredentials replaced = Record("FC:EC:DA:01:02:03", "admin2");
    replaced.token.clear();
    replaced.csrfToken.clear();
    ASSERT_TRUE(store.Save(replaced));

    const std::string text = test::ReadFileText(path);
    EXPECT_EQ(text.rfind("# UniFi credentials (do not commit to source control)\n"
                         "# Indexed by gateway MAC address\n"
                         "# Passwords are encrypted using Windows DPAPI\n\n"
                         "[74:AC:B9:00:00:01]\nhost=192.168.1.1\nusername=other\npassword=",
                         0),
              0u)
        << text;
    EXPECT_NE(text.find("[FC:EC:DA:01:02:03]\nhost=192.168.1.1\nusername=admin2\npassword="),
              std::string::npos);
    EXPECT_EQ(text.find("s3cr"), std::string::npos);  // never in clear
    // The other gateway's section keeps its tokens; the replaced one has none left.
    EXPECT_NE(text.find("token=tok\ncsrf=csrf\ncert=ab12\n\n[FC:EC:DA:01:02:03]"),
              std::string::npos);
    EXPECT_TRUE(files.ownerOnly);  // for the user's eyes only

    const CredentialMap loaded = store.Load();
    ASSERT_EQ(loaded.size(), 2u);
    EXPECT_EQ(loaded.at("FC:EC:DA:01:02:03").username, "admin2");
    EXPECT_EQ(loaded.at("FC:EC:DA:01:02:03").password, "s3cr\"et\\pw");
    EXPECT_EQ(loaded.at("FC:EC:DA:01:02:03").token, "");
    EXPECT_EQ(loaded.at("74:AC:B9:00:00:01").csrfToken, "csrf");
    EXPECT_EQ(loaded.at("74:AC:B9:00:00:01").certificateSha256, "ab12");

    // A password that cannot be sealed is left out, with the warning in its place.
    secrets.fail = true;
    ASSERT_TRUE(store.Save(Record("FC:EC:DA:01:02:03", "admin")));
    EXPECT_NE(test::ReadFileText(path).find("# Warning: Password encryption failed\n"),
              std::string::npos);
    secrets.fail = false;
    EXPECT_EQ(store.Load().at("FC:EC:DA:01:02:03").password, "");

    // A value that would start a line of its own is refused whole.
    EXPECT_FALSE(store.Save(Record("FC:EC:DA:01:02:03", "admin\n[00:00:00:00:00:01]")));
    EXPECT_FALSE(store.Save(Record("", "admin")));
    EXPECT_EQ(store.Load().size(), 2u);

    EXPECT_TRUE(store.ForgetAll());
    EXPECT_TRUE(store.Load().empty());
    GatewayCredentialStore disabled("", files, &secrets);
    EXPECT_FALSE(disabled.Save(Record("FC:EC:DA:01:02:03", "admin")));
}

TEST(GatewayCredentials, ReadsWhatAPersonMayHaveEdited) {
    test::FakeFiles files;
    test::FakeSecrets secrets;
    GatewayCredentialStore store("", files, &secrets);
    const CredentialMap map = store.Decode(
        "# comment\n"
        "[]\nhost=10.0.0.1\n\n"  // a section without a MAC is never loaded
        "  [AA:BB:CC:DD:EE:FF]  \r\n"
        "   host  =  192.168.1.1   \r\n"
        "username=admin\n"
        "password=not base64!\n"
        "noequals\n"
        "colour=blue\n"
        "csrf=c1\n");
    ASSERT_EQ(map.size(), 1u);
    const GatewayCredentials& r = map.at("AA:BB:CC:DD:EE:FF");
    EXPECT_EQ(r.host, "192.168.1.1");
    EXPECT_EQ(r.username, "admin");
    EXPECT_EQ(r.password, "");  // undecodable: empty
    EXPECT_EQ(r.csrfToken, "c1");
    EXPECT_EQ(TrimWhitespace(" \t\r\nx y\n"), "x y");
}

}  // namespace
}  // namespace quillon
