#include <gtest/gtest.h>
#include <sqlite3.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "sqlite_store.h"

namespace quillon::server {
namespace {

class SqliteStoreTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = std::filesystem::temp_directory_path() /
               ("backend-store-" + std::to_string(::getpid()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        std::filesystem::remove_all(dir_);
        std::filesystem::create_directories(dir_);
        path_ = (dir_ / "backend.db").string();
    }
    void TearDown() override { std::filesystem::remove_all(dir_); }

    std::unique_ptr<SqliteStore> Open() {
        std::string error;
        auto store = SqliteStore::Open(path_, error);
        EXPECT_TRUE(store) << error;
        return store;
    }

    std::filesystem::path dir_;
    std::string path_;
};

TEST_F(SqliteStoreTest, EverythingWrittenSurvivesReopeningTheFile) {
    std::string error;
    {
        auto store = Open();
        ASSERT_TRUE(store);
        ClientFacts facts{"C1", "1.0.0", "Windows", "10.0.19045", "x64", "stable", "m1", ""};
        ASSERT_TRUE(store->RecordCheckIn(facts, {"h-old", "C1", 0, 50}, 100, error)) << error;
        ASSERT_TRUE(store->RecordCheckIn(facts, {"h-new", "C1", 100, 200}, 100, error));
        ASSERT_TRUE(
            store->AddEvents("C1", {{"app.startup", 7, R"({"reason":"launch"})"}}, 101, error));
        int64_t logId = 0;
        ASSERT_TRUE(
            store->AddLogUpload({"C1", "text/plain", std::string("a\0b", 3), 102}, logId, error));
        EXPECT_EQ(logId, 1);
        UpdateOfferRecord offer{
            "stable",    "1.1.0",
            "required",  "notes",
            "https://n", {{"windows", "https://d/1", "sig"}, {"windows-x64", "https://d/2", ""}},
            103};
        ASSERT_TRUE(store->PublishUpdate(offer, error));
        offer.artifacts.pop_back();  // republishing replaces the artifacts too
        ASSERT_TRUE(store->PublishUpdate(offer, error));
        ASSERT_TRUE(store->BlockVersion("0.9.0", "crash", 104, error));
        ASSERT_TRUE(store->BlockVersion("0.8.0", "", 104, error));
        ASSERT_TRUE(store->BlockVersion("0.9.0", "crash on start", 105, error));
    }
    auto store = Open();
    ASSERT_TRUE(store);
    std::optional<TokenRecord> token;
    ASSERT_TRUE(store->FindToken("h-new", token, error));
    ASSERT_TRUE(token);
    EXPECT_EQ(token->clientId, "C1");
    EXPECT_EQ(token->expiresAt, 200);
    ASSERT_TRUE(store->FindToken("h-old", token, error));
    EXPECT_FALSE(token) << "a token that expired before a check-in is dropped";

    std::vector<StoredEvent> events;
    ASSERT_TRUE(store->RecentEvents("", 10, events, error));
    ASSERT_EQ(events.size(), 1u);
    EXPECT_EQ(events[0].event.dataJson, R"({"reason":"launch"})");
    EXPECT_EQ(events[0].receivedAt, 101);

    std::optional<LogUploadRecord> log;
    ASSERT_TRUE(store->FindLogUpload(1, log, error));
    ASSERT_TRUE(log);
    EXPECT_EQ(log->bytes, std::string("a\0b", 3));

    std::optional<UpdateOfferRecord> offer;
    ASSERT_TRUE(store->CurrentUpdate("stable", offer, error));
    ASSERT_TRUE(offer);
    EXPECT_EQ(offer->urgency, "required");
    ASSERT_EQ(offer->artifacts.size(), 1u);
    EXPECT_EQ(offer->artifacts[0].signature, "sig");
    ASSERT_TRUE(store->CurrentUpdate("beta", offer, error));
    EXPECT_FALSE(offer);

    std::vector<std::string> blocked;
    ASSERT_TRUE(store->BlockedVersions(blocked, error));
    EXPECT_EQ(blocked, (std::vector<std::string>{"0.9.0", "0.8.0"}));

    StoreCounts counts;
    ASSERT_TRUE(store->Counts(150, counts, error));
    EXPECT_EQ(counts.clients, 1);
    EXPECT_EQ(counts.checkIns, 2);
    EXPECT_EQ(counts.liveTokens, 1);
    EXPECT_EQ(counts.events, 1);
    EXPECT_EQ(counts.logUploads, 1);

    bool removed = false;
    ASSERT_TRUE(store->WithdrawUpdate("stable", removed, error));
    EXPECT_TRUE(removed);
    ASSERT_TRUE(store->WithdrawUpdate("stable", removed, error));
    EXPECT_FALSE(removed);
    ASSERT_TRUE(store->UnblockVersion("0.9.0", removed, error));
    EXPECT_TRUE(removed);
}

TEST_F(SqliteStoreTest, CreatesTheSchemaOnceAndRefusesFilesItCannotUse) {
    ASSERT_TRUE(Open());
    EXPECT_EQ(std::filesystem::status(path_).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    ASSERT_TRUE(Open()) << "reopening finds the schema instead of creating it again";

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path_.c_str(), &db), SQLITE_OK);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "PRAGMA user_version", -1, &stmt, nullptr);
    ASSERT_EQ(sqlite3_step(stmt), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(stmt, 0), SqliteStore::kSchemaVersion);
    sqlite3_finalize(stmt);
    ASSERT_EQ(sqlite3_exec(db, "PRAGMA user_version=99", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    std::string error;
    EXPECT_FALSE(SqliteStore::Open(path_, error));
    EXPECT_NE(error.find("newer"), std::string::npos) << error;

    std::string notADatabase = (dir_ / "notes.txt").string();
    std::ofstream(notADatabase) << "these are not the tables you are looking for, not at all\n";
    EXPECT_FALSE(SqliteStore::Open(notADatabase, error));
    EXPECT_FALSE(SqliteStore::Open((dir_ / "missing" / "x.db").string(), error));
}

}  // namespace
}  // namespace quillon::server
