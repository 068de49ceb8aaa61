#include "sqlite_store.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <unistd.h>

#include <utility>

namespace quillon::server {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE clients (
    client_id   TEXT PRIMARY KEY,
    app_version TEXT NOT NULL,
    os          TEXT NOT NULL,
    os_version  TEXT NOT NULL,
    arch        TEXT NOT NULL,
    channel     TEXT NOT NULL,
    msp_id      TEXT NOT NULL,
    org_id      TEXT NOT NULL,
    first_seen  INTEGER NOT NULL,
    last_seen   INTEGER NOT NULL,
    check_ins   INTEGER NOT NULL
);
CREATE TABLE tokens (
    token_hash TEXT PRIMARY KEY,
    client_id  TEXT NOT NULL,
    issued_at  INTEGER NOT NULL,
    expires_at INTEGER NOT NULL
);
CREATE INDEX tokens_by_expiry ON tokens (expires_at);
CREATE TABLE events (
    id          INTEGER PRIMARY KEY,
    client_id   TEXT NOT NULL,
    type        TEXT NOT NULL,
    timestamp   INTEGER NOT NULL,
    data        TEXT NOT NULL,
    received_at INTEGER NOT NULL
);
CREATE INDEX events_by_client ON events (client_id, id);
CREATE TABLE log_uploads (
    id           INTEGER PRIMARY KEY,
    client_id    TEXT NOT NULL,
    content_type TEXT NOT NULL,
    size         INTEGER NOT NULL,
    data         BLOB NOT NULL,
    received_at  INTEGER NOT NULL
);
CREATE TABLE update_offers (
    channel           TEXT PRIMARY KEY,
    version           TEXT NOT NULL,
    urgency           TEXT NOT NULL,
    release_notes     TEXT NOT NULL,
    release_notes_url TEXT NOT NULL,
    published_at      INTEGER NOT NULL
);
CREATE TABLE update_artifacts (
    channel   TEXT NOT NULL,
    position  INTEGER NOT NULL,
    platform  TEXT NOT NULL,
    url       TEXT NOT NULL,
    signature TEXT NOT NULL,
    PRIMARY KEY (channel, position)
);
CREATE TABLE blocked_versions (
    version    TEXT PRIMARY KEY,
    reason     TEXT NOT NULL,
    blocked_at INTEGER NOT NULL
);
)sql";

std::string DbError(sqlite3* db, const char* what) {
    return std::string(what) + ": " + sqlite3_errmsg(db);
}

// One prepared statement; binds by position (1-based) and finalises itself.
class Statement {
public:
    Statement(sqlite3* db, const char* sql) {
        if (sqlite3_prepare_v2(db, sql, -1, &stmt_, nullptr) != SQLITE_OK) stmt_ = nullptr;
    }
    ~Statement() { sqlite3_finalize(stmt_); }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    bool ok() const { return stmt_ != nullptr; }
    Statement& Bind(int i, const std::string& text) {
        sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
        return *this;
    }
    Statement& Bind(int i, int64_t value) {
        sqlite3_bind_int64(stmt_, i, value);
        return *this;
    }
    Statement& BindBlob(int i, const std::string& bytes) {
        sqlite3_bind_blob64(stmt_, i, bytes.data(), bytes.size(), SQLITE_TRANSIENT);
        return *this;
    }
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int Step() { return stmt_ ? sqlite3_step(stmt_) : SQLITE_ERROR; }
    bool Run() { return Step() == SQLITE_DONE; }
    // For the next row of a batch: the bindings are replaced one by one.
    void Reset() { sqlite3_reset(stmt_); }

    std::string Text(int col) const {
        const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col)))
                 : std::string();
    }
    std::string Blob(int col) const {
        const auto* p = static_cast<const char*>(sqlite3_column_blob(stmt_, col));
        return p ? std::string(p, static_cast<size_t>(sqlite3_column_bytes(stmt_, col)))
                 : std::string();
    }
    int64_t Int(int col) const { return sqlite3_column_int64(stmt_, col); }

private:
    sqlite3_stmt* stmt_ = nullptr;
};

bool Exec(sqlite3* db, const char* sql, std::string& error) {
    char* message = nullptr;
    if (sqlite3_exec(db, sql, nullptr, nullptr, &message) == SQLITE_OK) return true;
    error = message ? message : sqlite3_errmsg(db);
    sqlite3_free(message);
    return false;
}

bool ReadUserVersion(sqlite3* db, int64_t& version, std::string& error) {
    Statement s(db, "PRAGMA user_version");
    if (!s.ok() || s.Step() != SQLITE_ROW) {
        error = DbError(db, "reading the schema version");
        return false;
    }
    version = s.Int(0);
    return true;
}

// The channel's offer and its artifacts; sqlite3_changes() then tells whether there was one.
bool DeleteOffer(sqlite3* db, const std::string& channel, std::string& error) {
    Statement artifacts(db, "DELETE FROM update_artifacts WHERE channel = ?1");
    artifacts.Bind(1, channel);
    Statement offer(db, "DELETE FROM update_offers WHERE channel = ?1");
    offer.Bind(1, channel);
    if (artifacts.Run() && offer.Run()) return true;
    error = DbError(db, "removing the update offer");
    return false;
}

}  // namespace

template <class Work>
bool SqliteStore::InTransaction(std::string& error, Work&& work) {
    if (!Exec(db_, "BEGIN IMMEDIATE", error)) return false;
    if (!work()) {
        std::string ignored;
        Exec(db_, "ROLLBACK", ignored);
        return false;
    }
    if (!Exec(db_, "COMMIT", error)) {
        std::string ignored;
        Exec(db_, "ROLLBACK", ignored);
        return false;
    }
    return true;
}

std::unique_ptr<SqliteStore> SqliteStore::Open(const std::string& path, std::string& error) {
    // Created here rather than by SQLite so that tokens' owners and telemetry are not readable
    // by other users; an existing file keeps its mode.
    int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        error = "cannot open " + path;
        return nullptr;
    }
    ::close(fd);

    sqlite3* db = nullptr;
    int rc =
        sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        error = DbError(db, ("opening " + path).c_str());
        sqlite3_close(db);
        return nullptr;
    }
    std::unique_ptr<SqliteStore> store(new SqliteStore(db));
    sqlite3_busy_timeout(db, 5000);
    if (!store->EnsureSchema(error)) return nullptr;
    return store;
}

SqliteStore::~SqliteStore() {
    sqlite3_close(db_);
}

bool SqliteStore::EnsureSchema(std::string& error) {
    // WAL lets the operator commands write while the server reads.
    if (!Exec(db_, "PRAGMA journal_mode=WAL", error)) return false;
    int64_t version = 0;
    if (!ReadUserVersion(db_, version, error)) return false;
    if (version == kSchemaVersion) return true;
    if (version > kSchemaVersion) {
        error = "the database's schema version " + std::to_string(version) +
                " is newer than this server's (" + std::to_string(kSchemaVersion) + ")";
        return false;
    }
    return InTransaction(error, [&] {
        // Another process may have created it while this one waited for the lock.
        if (!ReadUserVersion(db_, version, error)) return false;
        if (version == kSchemaVersion) return true;
        return Exec(db_, kSchema, error) &&
               Exec(db_, ("PRAGMA user_version=" + std::to_string(kSchemaVersion)).c_str(), error);
    });
}

bool SqliteStore::RecordCheckIn(const ClientFacts& f, const TokenRecord& token, int64_t now,
                                std::string& error) {
    std::lock_guard lock(mutex_);
    return InTransaction(error, [&] {
        Statement client(db_, R"sql(
            INSERT INTO clients (client_id, app_version, os, os_version, arch, channel, msp_id,
                                 org_id, first_seen, last_seen, check_ins)
            VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?9, 1)
            ON CONFLICT (client_id) DO UPDATE SET
                app_version = excluded.app_version, os = excluded.os,
                os_version = excluded.os_version, arch = excluded.arch,
                channel = excluded.channel, msp_id = excluded.msp_id, org_id = excluded.org_id,
                last_seen = excluded.last_seen, check_ins = check_ins + 1)sql");
        client.Bind(1, f.clientId).Bind(2, f.appVersion).Bind(3, f.os).Bind(4, f.osVersion);
        client.Bind(5, f.arch).Bind(6, f.channel).Bind(7, f.mspId).Bind(8, f.orgId).Bind(9, now);
        Statement purge(db_, "DELETE FROM tokens WHERE expires_at < ?1");
        purge.Bind(1, now);
        Statement insert(db_,
                         "INSERT INTO tokens (token_hash, client_id, issued_at, expires_at) "
                         "VALUES (?1, ?2, ?3, ?4)");
        insert.Bind(1, token.tokenHash).Bind(2, token.clientId).Bind(3, token.issuedAt);
        insert.Bind(4, token.expiresAt);
        if (client.Run() && purge.Run() && insert.Run()) return true;
        error = DbError(db_, "recording the check-in");
        return false;
    });
}

bool SqliteStore::FindToken(const std::string& tokenHash, std::optional<TokenRecord>& found,
                            std::string& error) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT client_id, issued_at, expires_at FROM tokens WHERE token_hash = ?1");
    s.Bind(1, tokenHash);
    found.reset();
    int rc = s.Step();
    if (rc == SQLITE_ROW) {
        found = TokenRecord{tokenHash, s.Text(0), s.Int(1), s.Int(2)};
        return true;
    }
    if (rc == SQLITE_DONE) return true;
    error = DbError(db_, "looking up the token");
    return false;
}

bool SqliteStore::AddEvents(const std::string& clientId,
                            const std::vector<TelemetryEventRecord>& events, int64_t receivedAt,
                            std::string& error) {
    std::lock_guard lock(mutex_);
    return InTransaction(error, [&] {
        Statement s(db_,
                    "INSERT INTO events (client_id, type, timestamp, data, received_at) "
                    "VALUES (?1, ?2, ?3, ?4, ?5)");
        for (const auto& e : events) {
            s.Bind(1, clientId).Bind(2, e.type).Bind(3, e.timestamp).Bind(4, e.dataJson);
            s.Bind(5, receivedAt);
            if (!s.Run()) {
                error = DbError(db_, "storing the events");
                return false;
            }
            s.Reset();
        }
        return true;
    });
}

bool SqliteStore::RecentEvents(const std::string& clientId, int64_t limit,
                               std::vector<StoredEvent>& events, std::string& error) {
    std::lock_guard lock(mutex_);
    Statement s(db_, R"sql(
        SELECT id, client_id, type, timestamp, data, received_at FROM (
            SELECT * FROM events WHERE ?1 = '' OR client_id = ?1 ORDER BY id DESC LIMIT ?2
        ) ORDER BY id)sql");
    s.Bind(1, clientId).Bind(2, limit);
    events.clear();
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) {
        events.push_back({s.Int(0), s.Text(1), {s.Text(2), s.Int(3), s.Text(4)}, s.Int(5)});
    }
    if (rc == SQLITE_DONE) return true;
    error = DbError(db_, "reading the events");
    return false;
}

bool SqliteStore::AddLogUpload(const LogUploadRecord& upload, int64_t& id, std::string& error) {
    std::lock_guard lock(mutex_);
    Statement s(db_,
                "INSERT INTO log_uploads (client_id, content_type, size, data, received_at) "
                "VALUES (?1, ?2, ?3, ?4, ?5)");
    s.Bind(1, upload.clientId).Bind(2, upload.contentType);
    s.Bind(3, static_cast<int64_t>(upload.bytes.size())).BindBlob(4, upload.bytes);
    s.Bind(5, upload.receivedAt);
    if (!s.Run()) {
        error = DbError(db_, "storing the log upload");
        return false;
    }
    id = sqlite3_last_insert_rowid(db_);
    return true;
}

bool SqliteStore::FindLogUpload(int64_t id, std::optional<LogUploadRecord>& upload,
                                std::string& error) {
    std::lock_guard lock(mutex_);
    Statement s(db_,
                "SELECT client_id, content_type, data, received_at FROM log_uploads "
                "WHERE id = ?1");
    s.Bind(1, id);
    upload.reset();
    int rc = s.Step();
    if (rc == SQLITE_ROW) {
        upload = LogUploadRecord{s.Text(0), s.Text(1), s.Blob(2), s.Int(3)};
        return true;
    }
    if (rc == SQLITE_DONE) return true;
    error = DbError(db_, "reading the log upload");
    return false;
}

bool SqliteStore::PublishUpdate(const UpdateOfferRecord& o, std::string& error) {
    std::lock_guard lock(mutex_);
    return InTransaction(error, [&] {
        if (!DeleteOffer(db_, o.channel, error)) return false;
        Statement offer(db_, R"sql(
            INSERT INTO update_offers
                (channel, version, urgency, release_notes, release_notes_url, published_at)
            VALUES (?1, ?2, ?3, ?4, ?5, ?6))sql");
        offer.Bind(1, o.channel).Bind(2, o.version).Bind(3, o.urgency).Bind(4, o.releaseNotes);
        offer.Bind(5, o.releaseNotesUrl).Bind(6, o.publishedAt);
        if (!offer.Run()) {
            error = DbError(db_, "publishing the update");
            return false;
        }
        Statement artifact(db_,
                           "INSERT INTO update_artifacts (channel, position, platform, url, "
                           "signature) VALUES (?1, ?2, ?3, ?4, ?5)");
        int64_t position = 0;
        for (const auto& a : o.artifacts) {
            artifact.Bind(1, o.channel).Bind(2, position++).Bind(3, a.platform).Bind(4, a.url);
            artifact.Bind(5, a.signature);
            if (!artifact.Run()) {
                error = DbError(db_, "storing the update's artifacts");
                return false;
            }
            artifact.Reset();
        }
        return true;
    });
}

bool SqliteStore::WithdrawUpdate(const std::string& channel, bool& removed, std::string& error) {
    std::lock_guard lock(mutex_);
    return InTransaction(error, [&] {
        if (!DeleteOffer(db_, channel, error)) return false;
        removed = sqlite3_changes(db_) > 0;
        return true;
    });
}

bool SqliteStore::CurrentUpdate(const std::string& channel, std::optional<UpdateOfferRecord>& offer,
                                std::string& error) {
    std::lock_guard lock(mutex_);
    offer.reset();
    Statement s(db_,
                "SELECT version, urgency, release_notes, release_notes_url, published_at "
                "FROM update_offers WHERE channel = ?1");
    s.Bind(1, channel);
    int rc = s.Step();
    if (rc == SQLITE_DONE) return true;
    if (rc != SQLITE_ROW) {
        error = DbError(db_, "reading the update offer");
        return false;
    }
    UpdateOfferRecord o{channel, s.Text(0), s.Text(1), s.Text(2), s.Text(3), {}, s.Int(4)};
    Statement a(db_,
                "SELECT platform, url, signature FROM update_artifacts WHERE channel = ?1 "
                "ORDER BY position");
    a.Bind(1, channel);
    while ((rc = a.Step()) == SQLITE_ROW) o.artifacts.push_back({a.Text(0), a.Text(1), a.Text(2)});
    if (rc != SQLITE_DONE) {
        error = DbError(db_, "reading the update's artifacts");
        return false;
    }
    offer = std::move(o);
    return true;
}

bool SqliteStore::BlockVersion(const std::string& version, const std::string& reason, int64_t now,
                               std::string& error) {
    std::lock_guard lock(mutex_);
    // Blocking again only updates the reason: the list keeps its first order.
    Statement s(db_,
                "INSERT INTO blocked_versions (version, reason, blocked_at) VALUES (?1, ?2, ?3) "
                "ON CONFLICT (version) DO UPDATE SET reason = excluded.reason");
    s.Bind(1, version).Bind(2, reason).Bind(3, now);
    if (s.Run()) return true;
    error = DbError(db_, "blocking the version");
    return false;
}

bool SqliteStore::UnblockVersion(const std::string& version, bool& removed, std::string& error) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "DELETE FROM blocked_versions WHERE version = ?1");
    s.Bind(1, version);
    if (!s.Run()) {
        error = DbError(db_, "unblocking the version");
        return false;
    }
    removed = sqlite3_changes(db_) > 0;
    return true;
}

bool SqliteStore::BlockedVersions(std::vector<std::string>& versions, std::string& error) {
    std::lock_guard lock(mutex_);
    Statement s(db_, "SELECT version FROM blocked_versions ORDER BY blocked_at, rowid");
    versions.clear();
    int rc;
    while ((rc = s.Step()) == SQLITE_ROW) versions.push_back(s.Text(0));
    if (rc == SQLITE_DONE) return true;
    error = DbError(db_, "reading the blocked versions");
    return false;
}

bool SqliteStore::Counts(int64_t now, StoreCounts& counts, std::string& error) {
    std::lock_guard lock(mutex_);
    Statement s(db_, R"sql(
        SELECT (SELECT COUNT(*) FROM clients),
               (SELECT COALESCE(SUM(check_ins), 0) FROM clients),
               (SELECT COUNT(*) FROM tokens WHERE expires_at > ?1),
               (SELECT COUNT(*) FROM events),
               (SELECT COUNT(*) FROM log_uploads))sql");
    s.Bind(1, now);
    if (s.Step() != SQLITE_ROW) {
        error = DbError(db_, "counting");
        return false;
    }
    counts = {s.Int(0), s.Int(1), s.Int(2), s.Int(3), s.Int(4)};
    return true;
}

}  // namespace quillon::server
