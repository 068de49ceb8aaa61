// ServiceHosts: the live state of a world's service hosts (up, down or refusing, added latency,
// changed web statuses) and the answers they give: whether a TCP connection is accepted and how
// long it takes, the TLS handshake with its certificate, the web answer for a path, echoes to a
// host on no path. Decisions only: the adapters let the time pass.
//
// Not thread-safe on its own: SimWorld owns one and calls it under its lock. Random draws come
// from the world (passed in), so that one seed gives one sequence of answers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/http.h"
#include "platform/icmp_api.h"
#include "platform/sim/sim_world_config.h"

namespace quillon::sim {

enum class ConnectKind {
    Unreachable,  // no route to the address: fails at once
    NoAnswer,     // nothing answers: the attempt times out
    Refused,      // a reset comes back after ms
    Accepted,     // connected after ms
};

struct ConnectOutcome {
    ConnectKind kind = ConnectKind::NoAnswer;
    double ms = 0;
};

struct TlsOutcome {
    bool offered = false;  // false: the host does not speak TLS (a secure channel failure)
    double ms = 0;         // the handshake
    uint32_t error = 0;    // 0, kHttpErrorCertificateDate or kHttpErrorCertificateAuthority
    std::string protocol;
    std::string cipher;
    TlsCertificateInfo certificate;
};

struct WebReply {
    bool answered = false;  // false: nothing comes back (the host went down)
    bool web = false;       // false: no web server there (the answer is not HTTP)
    int status = 0;
    uint64_t bodyBytes = 0;
    std::string body;  // the first bytes of the body, as many as asked for
    double firstByteMs = 0;
    double transferMs = 0;
    std::string location;
    HttpHeaders headers;  // sent besides Content-Length and Location
};

struct HostEcho {
    bool isHost = false;
    bool answered = false;
    EchoReply reply;
};

class ServiceHosts {
public:
    // startUnix: the world's start, for certificate times given in days.
    ServiceHosts(const WorldConfig& config, int64_t startUnix);

    // Applies a host change (HostDown ... WebStatus); others are not for it.
    void Apply(const TimelineEvent& change);

    // How long resolving a host's name takes (0 for any other name).
    uint32_t NameDelayMs(const std::string& name) const;
    // jitterDraw: a standard normal draw, cut at three spreads.
    ConnectOutcome Connect(Ipv4Address address, uint16_t port, double jitterDraw) const;
    // nowUnix decides whether the certificate's dates are valid.
    TlsOutcome Handshake(Ipv4Address address, int64_t nowUnix) const;
    WebReply Respond(Ipv4Address address, const std::string& path, size_t keepBytes) const;
    // An echo to a host on no path (isHost false when the address is no such host).
    HostEcho Echo(Ipv4Address address, double lossDraw, double jitterDraw,
                  uint32_t timeoutMs) const;
    // Adjusts an echo answer from a host on a path: none while it is down, later while slower.
    bool AdjustPathEcho(Ipv4Address address, EchoReply& reply) const;

private:
    enum class State { Up, Down, Refusing };
    struct LiveHost {
        ServiceHostConfig config;
        bool onPath = false;
        State state = State::Up;
        double extraMs = 0;
        std::vector<std::pair<std::string, int>> statuses;  // path ("": every) -> status
    };

    const LiveHost* Find(Ipv4Address address) const;
    LiveHost* Find(Ipv4Address address);
    double RoundTripMs(const LiveHost& host) const;

    std::vector<LiveHost> hosts_;
    int64_t startUnix_;
};

}  // namespace quillon::sim
