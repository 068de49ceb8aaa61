#include "backend/check_in.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_service_ports.h"
#include "fakes/fake_store_ports.h"
#include "fakes/log_capture.h"
#include "fakes/native_path.h"
#include "net/http_client.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

TEST(AppConfig, FileOverridesDefaultsAndBadValuesKeepThem) {
    struct Case {
        const char* name;
        const char* text;
        bool accepted;
        AppConfig expected;
    };
    const Case cases[] = {
        {"everything",
         R"({"c2":{"channel":"beta","c2_base_url":"https://c2.example/"},)"
         R"("registration":{"mspId":"m1","orgId":"o1"}})",
         true,
         {"beta", "https://c2.example", "m1", "o1"}},
        {"wrong kinds and bad values skipped",
         R"({"c2":{"channel":"be ta","c2_base_url":"ftp://x"},"registration":{"mspId":5}})",
         true,
         {}},
        {"no known member", R"({"other":1})", true, {}},
        {"empty object", "{}", false, {}},
        {"not an object", "[1]", false, {}},
        {"text", "hello", false, {}},
        {"malformed number", R"({"c2":{"channel":1e999}})", false, {}},
    };
    for (const Case& c : cases) {
        AppConfig config;
        EXPECT_EQ(ApplyConfigJson(c.text, config), c.accepted) << c.name;
        EXPECT_EQ(config.channel, c.expected.channel) << c.name;
        EXPECT_EQ(config.c2BaseUrl, c.expected.c2BaseUrl) << c.name;
        EXPECT_EQ(config.mspId, c.expected.mspId) << c.name;
        EXPECT_EQ(config.orgId, c.expected.orgId) << c.name;
    }
    EXPECT_EQ(CheckInUrl(AppConfig{"stable", "https://c2.example", "", ""}),
              "https://c2.example/v1/check-in");
    EXPECT_EQ(CheckInUrl(AppConfig{}), "");  // no backend unless configured

    sim::SimSystem system;
    sim::VirtualClock clock;
    test::TestLog log{system, clock};
    std::ofstream(system.Root() + "/config.json")
        << "\xEF\xBB\xBF{\"c2\":{\"c2_base_url\":\"http://127.0.0.1:8787\"}}";
    EXPECT_EQ(LoadConfiguration(system).c2BaseUrl, "http://127.0.0.1:8787");
    std::ofstream(system.Root() + "/config.json", std::ios::trunc) << "{}";
    EXPECT_EQ(LoadConfiguration(system).c2BaseUrl, "");
    std::filesystem::remove(system.Root() + "/config.json");
    LoadConfiguration(system);
    EXPECT_EQ(log.Lines({"onfig"}),
              (std::vector<std::string>{"[INFO] Loaded configuration from " + system.Root() +
                                            test::Native("/config.json"),
                                        "[WARN] Config file appears empty or malformed",
                                        "[WARN] Failed to parse config file, using defaults"}));
}

TEST(Identity, ClientIdPersistsAndTimesParse) {
    sim::SimSystem system;
    test::MemorySettings settings;
    const ClientIdentity first = InitIdentity(&settings, system);
    EXPECT_EQ(first.clientId.size(), 36u);
    EXPECT_EQ(first.clientId, InitIdentity(&settings, system).clientId);
    settings.values["ClientId"].type = SettingType::ExpandableString;  // not ours: replaced
    EXPECT_NE(InitIdentity(&settings, system).clientId, first.clientId);
    EXPECT_EQ(settings.values["ClientId"].type, SettingType::String);

    EXPECT_EQ(ParseIso8601("2030-01-01T00:00:00Z"), 1893456000);
    EXPECT_EQ(ParseIso8601("2030-01-01T00:00:00.123+05:00"), 1893456000);  // offset ignored
    for (const char* bad : {"", "2030-01-01", "2030-13-01T00:00:00Z", "1900-01-01T00:00:00Z",
                            "2030-02-30T00:00:00Z", "yesterday"}) {
        EXPECT_EQ(ParseIso8601(bad), 0) << bad;
    }
}

TEST(CheckIn, AnswerValuesThatCannotBeUsedAreLeftOut) {
    const CheckInAnswer answer = ReadCheckInAnswer(
        R"({"config":{"telemetry":{"endpoint":"ftp://t.example","token":"tok\r\nX-Evil: 1",)"
        R"("tokenExpiresAt":"soon"},"logUpload":{"endpoint":"https://l.example/v1/logs"}}})");
    ASSERT_TRUE(answer.valid && answer.hasTelemetry);
    EXPECT_FALSE(answer.endpoint);
    EXPECT_FALSE(answer.token);  // it would have gone into a request header
    EXPECT_EQ(answer.tokenExpiresAt, 0);
    EXPECT_EQ(answer.logUploadEndpoint, "https://l.example/v1/logs");
    EXPECT_EQ(ReadCheckInAnswer(R"({"config":{"telemetry":{"token":"aB9-._~+/=="}}})").token,
              "aB9-._~+/==");
    EXPECT_FALSE(ReadCheckInAnswer(R"({"config":{"telemetry":{"token":"=="}}})").token);
}

struct CheckInRig {
    CheckInRig() {
        client.Init();
        http.answer = [this](const HttpExchange&) { return test::Answered(status, body); };
    }
    CheckIn Make(AppConfig config = {"beta", "https://c2.example", "", "o1"}) {
        ClientIdentity identity{"ID-1", "1.0.0", "Linux", "6.1.0", "x64", "pc"};
        return CheckIn(client, clock, config, identity, credentials);
    }
    sim::VirtualClock clock;
    sim::SimSystem system;
    test::TestLog log{system, clock};
    test::FakeHttp http;
    HttpClient client{http};
    test::MemorySettings settings;
    test::FakeSecrets secrets;
    TelemetryCredentialStore credentials{&settings, &secrets};
    int status = 200;
    std::string body;
};

TEST(CheckIn, TakesTelemetryCredentialsAndStoresTheTokenSealed) {
    CheckInRig rig;
    CheckIn checkIn = rig.Make();
    std::string handed;
    checkIn.SetAnswerHandler([&](const std::string& text) { handed = text; });
    rig.body = R"({"config":{"telemetry":{"endpoint":"https://t.example/v1/events",)"
               R"("token":"tok-123","tokenExpiresAt":"2030-01-01T00:00:00Z"},)"
               R"("logUpload":{"endpoint":"https://t.example/v1/logs"}}})";
    ASSERT_TRUE(checkIn.Run());
    const HttpExchange sent = rig.http.Sent().at(0);
    EXPECT_EQ(sent.url, "https://c2.example/v1/check-in");
    EXPECT_EQ(sent.method, "POST");
    EXPECT_EQ(sent.body, R"({"appVersion":"1.0.0","arch":"x64","channel":"beta","clientId":"ID-1",)"
                         R"("orgId":"o1","os":"Linux","osVersion":"6.1.0"})");
    EXPECT_EQ(handed, rig.body);
    EXPECT_EQ(checkIn.LogUploadEndpoint(), "https://t.example/v1/logs");
    const TelemetryCredentials now = rig.credentials.Get();
    EXPECT_TRUE(now.active);
    EXPECT_EQ(now.tokenExpires, 1893456000u);
    // Stored sealed, and read back whole by the next run.
    const std::vector<uint8_t>& sealed = rig.settings.values["TelemetryToken"].bytes;
    EXPECT_EQ(std::string(sealed.begin(), sealed.end()).find("tok-123"), std::string::npos);
    TelemetryCredentialStore next{&rig.settings, &rig.secrets};
    next.Load();
    EXPECT_EQ(next.Get().token, "tok-123");
    EXPECT_EQ(next.Get().endpoint, "https://t.example/v1/events");
    EXPECT_TRUE(next.Get().active);
    EXPECT_EQ(rig.log.Count("tok-123"), 0);

    // An expiry that is not a time gives a day; an answer without telemetry turns it off.
    rig.body = R"({"config":{"telemetry":{"tokenExpiresAt":"2030-01-01"}}})";
    ASSERT_TRUE(checkIn.Run());
    EXPECT_EQ(rig.credentials.Get().tokenExpires, rig.clock.UnixSeconds() + 86400);
    rig.body = "{}";
    ASSERT_TRUE(checkIn.Run());
    EXPECT_FALSE(rig.credentials.Get().active);
    EXPECT_EQ(rig.log.Count("[INFO] Check-in successful, telemetry disabled"), 1);
}

TEST(CheckIn, FailuresAreLoggedAndChangeNothing) {
    CheckInRig rig;
    CheckIn checkIn = rig.Make();
    rig.credentials.Save({"https://t.example", "old", 5, true});
    const struct {
        int status;
        std::string body;
    } answers[] = {{500, "{}"},
                   {200, "[1]"},
                   {200, "not json"},
                   {200, std::string(CheckIn::kMaxAnswerBytes + 10, ' ') + "{}"}};
    for (const auto& answer : answers) {
        rig.status = answer.status;
        rig.body = answer.body;
        EXPECT_FALSE(checkIn.Run());
    }
    EXPECT_EQ(rig.credentials.Get().token, "old");
    EXPECT_TRUE(rig.credentials.Get().active);
    EXPECT_EQ(rig.log.Count("[WARN] Check-in failed: Internal server error (status 500)"), 1);
    EXPECT_EQ(rig.log.Count("[WARN] Check-in response is not valid JSON"), 3);
    // Without a configured backend nothing is sent at all.
    EXPECT_FALSE(rig.Make(AppConfig{}).Run());
    EXPECT_EQ(rig.http.Sent().size(), 4u);
}

}  // namespace
}  // namespace quillon
