// The backend's HTTP endpoints on a cpp-httplib server (plain or TLS): check-in, telemetry,
// log upload and a health check. Handlers run on the server's worker threads; all state lives
// in the Store, so this object is read-only once installed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

#include "store.h"

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

namespace quillon::server {

inline constexpr const char* kCheckInPath = "/v1/check-in";
inline constexpr const char* kTelemetryPath = "/v1/telemetry";
inline constexpr const char* kLogUploadPath = "/v1/logs";
inline constexpr const char* kHealthPath = "/v1/health";

struct ServiceOptions {
    int64_t tokenLifetimeSeconds = 24 * 60 * 60;
    // The address clients reach this server at, e.g. "https://backend.example.net"; the
    // endpoints in check-in answers start with it. Empty: taken from each request (its Host
    // header, with https when `tls`).
    std::string publicUrl;
    bool tls = false;
    size_t maxCheckInBytes = 64 * 1024;
    size_t maxTelemetryBytes = 4 * 1024 * 1024;
    size_t maxLogBytes = 16 * 1024 * 1024;
    // Unix seconds; the system clock when empty (tests pass their own).
    std::function<int64_t()> now;
};

class BackendService {
public:
    BackendService(Store& store, ServiceOptions options);

    // Registers the routes, the body limits and JSON error answers on `server`.
    void Install(httplib::Server& server) const;

private:
    void CheckIn(const httplib::Request& req, httplib::Response& res) const;
    void Telemetry(const httplib::Request& req, httplib::Response& res) const;
    void LogUpload(const httplib::Request& req, httplib::Response& res) const;
    // The client id of a live bearer token; otherwise answers 401 (or 500) and gives nothing.
    bool Authorize(const httplib::Request& req, httplib::Response& res,
                   std::string& clientId) const;
    std::string BaseUrl(const httplib::Request& req) const;
    int64_t Now() const;

    Store& store_;
    ServiceOptions options_;
};

}  // namespace quillon::server
