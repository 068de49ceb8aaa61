// The Store on one SQLite file (C API). The file and its schema are created on first open; a
// later open finds the schema by its version number (PRAGMA user_version) and leaves it as is.
// One connection, guarded by a mutex: the server's request rate is small and every operation
// is a handful of statements, so serialising them costs nothing worth a connection pool.
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "store.h"

struct sqlite3;

namespace quillon::server {

class SqliteStore final : public Store {
public:
    // The schema version this build writes and understands.
    static constexpr int kSchemaVersion = 1;

    // Opens or creates the file (mode 0600 when created); nullptr and `error` when it cannot be
    // opened, is not a database, or holds a schema newer than kSchemaVersion.
    static std::unique_ptr<SqliteStore> Open(const std::string& path, std::string& error);
    ~SqliteStore() override;

    bool RecordCheckIn(const ClientFacts& facts, const TokenRecord& token, int64_t now,
                       std::string& error) override;
    bool FindToken(const std::string& tokenHash, std::optional<TokenRecord>& found,
                   std::string& error) override;
    bool AddEvents(const std::string& clientId, const std::vector<TelemetryEventRecord>& events,
                   int64_t receivedAt, std::string& error) override;
    bool RecentEvents(const std::string& clientId, int64_t limit, std::vector<StoredEvent>& events,
                      std::string& error) override;
    bool AddLogUpload(const LogUploadRecord& upload, int64_t& id, std::string& error) override;
    bool FindLogUpload(int64_t id, std::optional<LogUploadRecord>& upload,
                       std::string& error) override;
    bool PublishUpdate(const UpdateOfferRecord& offer, std::string& error) override;
    bool WithdrawUpdate(const std::string& channel, bool& removed, std::string& error) override;
    bool CurrentUpdate(const std::string& channel, std::optional<UpdateOfferRecord>& offer,
                       std::string& error) override;
    bool BlockVersion(const std::string& version, const std::string& reason, int64_t now,
                      std::string& error) override;
    bool UnblockVersion(const std::string& version, bool& removed, std::string& error) override;
    bool BlockedVersions(std::vector<std::string>& versions, std::string& error) override;
    bool Counts(int64_t now, StoreCounts& counts, std::string& error) override;

private:
    explicit SqliteStore(sqlite3* db) : db_(db) {}
    bool EnsureSchema(std::string& error);
    // Runs `work` inside BEGIN IMMEDIATE ... COMMIT, rolling back when it fails.
    template <class Work>
    bool InTransaction(std::string& error, Work&& work);

    std::mutex mutex_;
    sqlite3* db_;
};

}  // namespace quillon::server
