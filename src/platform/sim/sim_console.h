// Console: the live state of a world's gateway console and the answers it gives, as the maker's
// consoles answer on port 443: "GET /api/system" describes it to anyone; "POST /api/auth/login"
// checks the user name and password, then the one-time code when one is set, and issues a
// session: a web token in the TOKEN cookie whose payload carries the CSRF token (also sent as
// X-CSRF-Token); "GET /api/users/self" answers 200 for a session it issued that has not expired
// (two hours) and the matching X-CSRF-Token header, 401 otherwise. Five wrong passwords in a row
// lock the sign-in for five minutes (429). Its certificate is self-signed, with a fingerprint
// that changes when the timeline gives it a new one. Decisions only: the adapters let the time
// pass.
//
// Not thread-safe on its own: SimWorld owns one and calls it under its lock.
#pragma once

#include <cstdint>
#include <map>
#include <string>

#include "platform/http.h"
#include "platform/sim/sim_service_hosts.h"
#include "platform/sim/sim_world_config.h"

namespace quillon::sim {

class Console {
public:
    // startUnix: the world's start, for the certificate's dates.
    Console(const WorldConfig& config, int64_t startUnix);

    // 0.0.0.0 when the world has none.
    Ipv4Address Address() const { return config_.address; }
    // The world has a console at this address.
    bool At(Ipv4Address address) const;
    // Applies a console change (ConsoleSessionsExpire ... ConsoleBack); others are not for it.
    void Apply(const TimelineEvent& change);

    ConnectOutcome Connect(uint16_t port) const;
    TlsOutcome Handshake() const;
    // The answer to one request for `path` (the request's method, headers and body count).
    // mac: the console's own hardware address, as its description gives it.
    WebReply Respond(const std::string& path, const HttpExchange& request, const std::string& mac,
                     int64_t nowUnix);

    // The fingerprint of the certificate it shows now: 64 lower-case hexadecimal digits.
    std::string Fingerprint() const;

private:
    struct Session {
        std::string csrfToken;
        int64_t expiresUnix = 0;
    };

    WebReply Answer(int status, std::string body) const;
    WebReply Login(const std::string& body, int64_t nowUnix);
    WebReply Self(const HttpHeaders& headers, int64_t nowUnix) const;
    std::string UserJson() const;

    ConsoleConfig config_;
    double rttMs_;
    int64_t startUnix_;
    bool gone_ = false;
    int certificate_ = 1;  // how many certificates it has had
    int wrongPasswords_ = 0;
    int64_t lockedUntilUnix_ = 0;
    uint64_t issued_ = 0;                      // sessions issued so far
    std::map<std::string, Session> sessions_;  // by web token
};

}  // namespace quillon::sim
