// Storage of the backend server: what it keeps about installations, their tokens, telemetry
// events, uploaded logs, the published update offers and the blocked versions.
//
// The server and the operator commands reach storage only through this interface, so that
// another database (a PostgreSQL server for a larger deployment) can replace the SQLite file
// without touching the request handling. Implementations are safe to call from the server's
// worker threads at once. Failures are returned (false), never thrown; `error` says what failed.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quillon::server {

// What an installation says about itself at check-in.
struct ClientFacts {
    std::string clientId;
    std::string appVersion;
    std::string os;
    std::string osVersion;
    std::string arch;
    std::string channel;
    std::string mspId;  // empty when the installation is not registered to a provider
    std::string orgId;
};

// A bearer token as stored: only its SHA-256, so a copy of the database grants nothing.
struct TokenRecord {
    std::string tokenHash;
    std::string clientId;
    int64_t issuedAt = 0;   // Unix seconds
    int64_t expiresAt = 0;  // Unix seconds
};

struct TelemetryEventRecord {
    std::string type;
    int64_t timestamp = 0;  // Unix seconds, as the client recorded it
    std::string dataJson;   // the event's "data" value as compact JSON text
};

struct StoredEvent {
    int64_t id = 0;
    std::string clientId;
    TelemetryEventRecord event;
    int64_t receivedAt = 0;
};

struct LogUploadRecord {
    std::string clientId;
    std::string contentType;
    std::string bytes;
    int64_t receivedAt = 0;
};

struct UpdateArtifactRecord {
    std::string platform;  // "windows" or "windows-" followed by an architecture
    std::string url;
    std::string signature;
};

// The update offered to the clients of one release channel.
struct UpdateOfferRecord {
    std::string channel;
    std::string version;  // major.minor.patch
    std::string urgency;  // "optional", "recommended" or "required"
    std::string releaseNotes;
    std::string releaseNotesUrl;
    std::vector<UpdateArtifactRecord> artifacts;
    int64_t publishedAt = 0;
};

struct StoreCounts {
    int64_t clients = 0;
    int64_t checkIns = 0;
    int64_t liveTokens = 0;
    int64_t events = 0;
    int64_t logUploads = 0;
};

class Store {
public:
    virtual ~Store() = default;

    // Records a check-in (the installation's facts, first and last seen) and the token issued
    // for it, in one step; tokens that expired before `now` are dropped on the way.
    virtual bool RecordCheckIn(const ClientFacts& facts, const TokenRecord& token, int64_t now,
                               std::string& error) = 0;
    // The token with this hash, expired or not; nullopt in `found` when there is none.
    virtual bool FindToken(const std::string& tokenHash, std::optional<TokenRecord>& found,
                           std::string& error) = 0;
    virtual bool AddEvents(const std::string& clientId,
                           const std::vector<TelemetryEventRecord>& events, int64_t receivedAt,
                           std::string& error) = 0;
    // The last `limit` events in arrival order, of one client or (empty id) of all.
    virtual bool RecentEvents(const std::string& clientId, int64_t limit,
                              std::vector<StoredEvent>& events, std::string& error) = 0;
    virtual bool AddLogUpload(const LogUploadRecord& upload, int64_t& id, std::string& error) = 0;
    virtual bool FindLogUpload(int64_t id, std::optional<LogUploadRecord>& upload,
                               std::string& error) = 0;

    // One offer per channel: publishing replaces the channel's earlier offer.
    virtual bool PublishUpdate(const UpdateOfferRecord& offer, std::string& error) = 0;
    // `removed` says whether the channel had an offer.
    virtual bool WithdrawUpdate(const std::string& channel, bool& removed, std::string& error) = 0;
    virtual bool CurrentUpdate(const std::string& channel, std::optional<UpdateOfferRecord>& offer,
                               std::string& error) = 0;

    virtual bool BlockVersion(const std::string& version, const std::string& reason, int64_t now,
                              std::string& error) = 0;
    virtual bool UnblockVersion(const std::string& version, bool& removed, std::string& error) = 0;
    // In the order they were blocked.
    virtual bool BlockedVersions(std::vector<std::string>& versions, std::string& error) = 0;

    virtual bool Counts(int64_t now, StoreCounts& counts, std::string& error) = 0;
};

}  // namespace quillon::server
