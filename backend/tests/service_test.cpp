#include "service.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "sqlite_store.h"

namespace quillon::server {
namespace {

using Json = nlohmann::json;

constexpr int64_t kStart = 1893452400;  // one hour before 2030-01-01T00:00:00Z

Json CheckInBody(const std::string& appVersion = "1.0.0", const std::string& channel = "stable") {
    return {{"appVersion", appVersion}, {"arch", "x64"},
            {"channel", channel},       {"clientId", "6F9619FF-8B86-D011-B42D-00C04FC964FF"},
            {"os", "Windows"},          {"osVersion", "10.0.19045"}};
}

// A server on 127.0.0.1 (a port of its own) over a database in a fresh folder, with a clock
// the test moves.
class BackendServiceTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("backend-service-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        std::string error;
        store_ = SqliteStore::Open((dir_ / "backend.db").string(), error);
        ASSERT_TRUE(store_) << error;
    }
    void TearDown() override {
        Stop();
        std::filesystem::remove_all(dir_);
    }

    void Stop() {
        if (!server_) return;
        server_->stop();
        thread_.join();
        server_.reset();
    }

    void Start(ServiceOptions options = {}, std::unique_ptr<httplib::Server> server = nullptr) {
        options.tokenLifetimeSeconds = 3600;
        options.maxLogBytes = 100 * 1024;
        options.now = [this] { return now_.load(); };
        service_ = std::make_unique<BackendService>(*store_, options);
        server_ = server ? std::move(server) : std::make_unique<httplib::Server>();
        service_->Install(*server_);
        port_ = server_->bind_to_any_port("127.0.0.1");
        ASSERT_GT(port_, 0);
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        client_ = std::make_unique<httplib::Client>("127.0.0.1", port_);
    }

    httplib::Result Post(const std::string& path, const std::string& body,
                         const std::string& token = "") {
        httplib::Headers headers;
        if (!token.empty()) headers.emplace("Authorization", "Bearer " + token);
        return client_->Post(path.c_str(), headers, body, "application/json");
    }

    // Checks in and returns the answer.
    Json CheckIn(const Json& body = CheckInBody()) {
        auto res = Post(kCheckInPath, body.dump());
        EXPECT_TRUE(res);
        if (!res) return Json();
        EXPECT_EQ(res->status, 200) << res->body;
        return Json::parse(res->body, nullptr, false);
    }

    std::string Token() { return CheckIn()["config"]["telemetry"]["token"].get<std::string>(); }

    std::filesystem::path dir_;
    std::unique_ptr<SqliteStore> store_;
    std::atomic<int64_t> now_ = kStart;
    std::unique_ptr<BackendService> service_;
    std::unique_ptr<httplib::Server> server_;
    std::thread thread_;
    int port_ = 0;
    std::unique_ptr<httplib::Client> client_;
};

TEST_F(BackendServiceTest, CheckInHandsOutATokenAndTheEndpoints) {
    Start();
    Json a = CheckIn();
    const Json& telemetry = a["config"]["telemetry"];
    std::string base = "http://127.0.0.1:" + std::to_string(port_);
    EXPECT_EQ(telemetry["endpoint"], base + "/v1/telemetry");
    EXPECT_EQ(a["config"]["logUpload"]["endpoint"], base + "/v1/logs");
    EXPECT_EQ(telemetry["tokenExpiresAt"], "2030-01-01T00:00:00Z");
    ASSERT_TRUE(telemetry["token"].is_string());
    std::string token = telemetry["token"];
    EXPECT_EQ(token.size(), 64u);
    EXPECT_EQ(token.find_first_not_of("0123456789abcdef"), std::string::npos);
    EXPECT_EQ(a["clientId"], "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    EXPECT_EQ(a["blockedVersions"], Json::array());
    EXPECT_FALSE(a.contains("update"));
    EXPECT_FALSE(a.contains("mspId"));

    Json registered = CheckInBody();
    registered["mspId"] = "m1";
    registered["orgId"] = "o1";
    Json b = CheckIn(registered);
    EXPECT_NE(b["config"]["telemetry"]["token"], token) << "each check-in gets its own token";
    EXPECT_EQ(b["mspId"], "m1");
    EXPECT_EQ(b["orgId"], "o1");
}

TEST_F(BackendServiceTest, RefusesMalformedAndOversizedRequests) {
    Start();
    auto without = [](const char* key) {
        Json body = CheckInBody();
        body.erase(key);
        return body.dump();
    };
    auto with = [](const char* key, Json value) {
        Json body = CheckInBody();
        body[key] = std::move(value);
        return body.dump();
    };
    const std::pair<std::string, int> cases[] = {
        {"", 400},
        {"{\"clientId\":", 400},
        {"[1]", 400},
        {without("clientId"), 400},
        {without("osVersion"), 400},
        {with("appVersion", 100), 400},
        {with("appVersion", "one"), 400},
        {with("channel", ""), 400},
        {with("clientId", "a b"), 400},
        {with("clientId", std::string(129, 'A')), 400},
        {with("mspId", Json::object()), 400},
        {with("extra", "ignored"), 200},
        {std::string(64 * 1024 + 1, ' '), 413},
    };
    for (const auto& [body, status] : cases) {
        auto res = Post(kCheckInPath, body);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, status) << body.substr(0, 80);
        Json answer = Json::parse(res->body, nullptr, false);
        if (status != 200) {
            EXPECT_TRUE(answer["error"].is_string()) << res->body;
        }
    }

    // A body without a declared length is measured once read.
    std::string big(70 * 1024, ' ');
    auto chunked = client_->Post(
        kCheckInPath,
        [&](size_t offset, httplib::DataSink& sink) {
            if (offset < big.size()) {
                sink.write(big.data() + offset, std::min<size_t>(8192, big.size() - offset));
            } else {
                sink.done();
            }
            return true;
        },
        "application/json");
    ASSERT_TRUE(chunked);
    EXPECT_EQ(chunked->status, 413);

    auto unknown = client_->Get("/v1/nothing");
    ASSERT_TRUE(unknown);
    EXPECT_EQ(unknown->status, 404);
    EXPECT_EQ(Json::parse(unknown->body, nullptr, false)["error"], "not_found");
}

TEST_F(BackendServiceTest, TelemetryNeedsALiveTokenAndStoresTheEvents) {
    Start();
    std::string token = Token();
    Json batch = {
        {"clientId", "6F9619FF-8B86-D011-B42D-00C04FC964FF"},
        {"events",
         {{{"data", {{"reason", "launch"}}}, {"timestamp", 1700000000}, {"type", "app.startup"}},
          {{"data", "[3,1]"}, {"timestamp", 1700000001}, {"type", "network.measurement"}}}}};

    httplib::Headers basic = {{"Authorization", "Basic " + token}};
    auto res = client_->Post(kTelemetryPath, basic, batch.dump(), "application/json");
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401);
    EXPECT_TRUE(res->has_header("WWW-Authenticate"));
    for (const std::string& wrong : {std::string(), std::string(64, '0'), token + "0"}) {
        res = Post(kTelemetryPath, batch.dump(), wrong);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, 401) << wrong;
    }

    now_ = kStart + 3599;  // the last second of the token's life
    res = Post(kTelemetryPath, batch.dump(), token);
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    EXPECT_EQ(Json::parse(res->body)["accepted"], 2);
    std::vector<StoredEvent> events;
    std::string error;
    ASSERT_TRUE(store_->RecentEvents("6F9619FF-8B86-D011-B42D-00C04FC964FF", 10, events, error));
    ASSERT_EQ(events.size(), 2u);
    EXPECT_EQ(events[0].event.type, "app.startup");
    EXPECT_EQ(events[0].event.timestamp, 1700000000);
    EXPECT_EQ(events[0].event.dataJson, R"({"reason":"launch"})");
    EXPECT_EQ(events[1].event.dataJson, R"("[3,1]")");
    EXPECT_EQ(events[1].receivedAt, kStart + 3599);

    auto changed = [&](auto edit) {
        Json b = batch;
        edit(b);
        return b.dump();
    };
    const std::pair<std::string, int> malformed[] = {
        {"not json", 400},
        {changed([](Json& b) { b["events"] = Json::object(); }), 400},
        {changed([](Json& b) { b["events"][0].erase("type"); }), 400},
        {changed([](Json& b) { b["events"][0]["timestamp"] = -1; }), 400},
        {changed([](Json& b) { b["events"][0]["timestamp"] = 1.5; }), 400},
        {changed([](Json& b) { b["events"][1]["data"] = 9; }), 400},
        {changed([](Json& b) { b["events"][1] = "event"; }), 400},
        {changed([](Json& b) { b["clientId"] = "SOMEONE-ELSE"; }), 403},
    };
    for (const auto& [body, status] : malformed) {
        res = Post(kTelemetryPath, body, token);
        ASSERT_TRUE(res);
        EXPECT_EQ(res->status, status) << body;
    }
    ASSERT_TRUE(store_->RecentEvents("", 10, events, error));
    EXPECT_EQ(events.size(), 2u) << "a refused batch stores nothing";

    now_ = kStart + 3600;
    res = Post(kTelemetryPath, batch.dump(), token);
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 401) << "expired";
    res = Post(kTelemetryPath, batch.dump(), Token());
    ASSERT_TRUE(res);
    EXPECT_EQ(res->status, 200) << "a new check-in gives a token that works";
}

TEST_F(BackendServiceTest, OffersUpdatesOnlyToOlderClientsOfTheChannel) {
    Start();
    std::string error;
    UpdateOfferRecord offer{"stable",
                            "1.2.0",
                            "required",
                            "Fixes",
                            "https://example.test/notes",
                            {{"windows-x64", "https://example.test/q.msi", "c2ln"}},
                            kStart};
    ASSERT_TRUE(store_->PublishUpdate(offer, error));
    ASSERT_TRUE(store_->BlockVersion("1.0.1", "", kStart, error));
    ASSERT_TRUE(store_->BlockVersion("0.9.0", "", kStart, error));

    const std::tuple<const char*, const char*, bool> cases[] = {
        {"1.0.0", "stable", true}, {"1.1.9", "stable", true},   {"1.2.0-rc1", "stable", false},
        {"1.2", "stable", false},  {"1.10.0", "stable", false}, {"1.0.0", "beta", false},
    };
    for (const auto& [version, channel, offered] : cases) {
        Json a = CheckIn(CheckInBody(version, channel));
        EXPECT_EQ(a["blockedVersions"], Json::array({"1.0.1", "0.9.0"}));
        ASSERT_EQ(a.contains("update"), offered) << version << " on " << channel;
        if (!offered) continue;
        const Json& u = a["update"];
        EXPECT_EQ(u["available"], true);
        EXPECT_EQ(u["targetVersion"], "1.2.0");
        EXPECT_EQ(u["urgency"], "required");
        EXPECT_EQ(u["releaseNotes"], "Fixes");
        EXPECT_EQ(u["releaseNotesUrl"], "https://example.test/notes");
        EXPECT_EQ(u["artifacts"], Json::parse(R"([{"platform":"windows-x64",
            "url":"https://example.test/q.msi","signature":"c2ln"}])"));
    }

    bool removed = false;
    ASSERT_TRUE(store_->WithdrawUpdate("stable", removed, error));
    EXPECT_FALSE(CheckIn().contains("update"));
}

TEST_F(BackendServiceTest, StoresLogUploadsOfKnownClients) {
    Start();
    std::string token = Token();
    std::string log = "2030-01-01 00:00:00 [INFO] started\n";
    auto res =
        client_->Post(kLogUploadPath, {{"Authorization", "Bearer " + token}}, log, "text/plain");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200) << res->body;
    Json answer = Json::parse(res->body);
    std::optional<LogUploadRecord> stored;
    std::string error;
    ASSERT_TRUE(store_->FindLogUpload(answer["id"].get<int64_t>(), stored, error));
    ASSERT_TRUE(stored);
    EXPECT_EQ(stored->bytes, log);
    EXPECT_EQ(stored->contentType, "text/plain");
    EXPECT_EQ(stored->clientId, "6F9619FF-8B86-D011-B42D-00C04FC964FF");
    EXPECT_EQ(answer["bytes"], log.size());

    EXPECT_EQ(Post(kLogUploadPath, log)->status, 401);
    EXPECT_EQ(Post(kLogUploadPath, "", token)->status, 400);
    EXPECT_EQ(Post(kLogUploadPath, std::string(100 * 1024 + 1, 'x'), token)->status, 413);
}

TEST_F(BackendServiceTest, EndpointsFollowThePublicAddressOrTheTlsScheme) {
    ServiceOptions options;
    options.publicUrl = "https://backend.example.test/q/";
    Start(options);
    Json a = CheckIn();
    EXPECT_EQ(a["config"]["telemetry"]["endpoint"], "https://backend.example.test/q/v1/telemetry");
    Stop();

    std::string cert = (dir_ / "cert.pem").string(), key = (dir_ / "key.pem").string();
    std::string command =
        "openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj /CN=127.0.0.1 "
        "-keyout " +
        key + " -out " + cert + " 2>/dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    ServiceOptions tls;
    tls.tls = true;
    Start(tls, std::make_unique<httplib::SSLServer>(cert.c_str(), key.c_str()));
    httplib::SSLClient client("127.0.0.1", port_);
    client.enable_server_certificate_verification(false);
    auto res = client.Post(kCheckInPath, CheckInBody().dump(), "application/json");
    ASSERT_TRUE(res);
    ASSERT_EQ(res->status, 200);
    EXPECT_EQ(Json::parse(res->body)["config"]["telemetry"]["endpoint"],
              "https://127.0.0.1:" + std::to_string(port_) + "/v1/telemetry");
}

}  // namespace
}  // namespace quillon::server
