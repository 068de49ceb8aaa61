#include "platform/sim/sim_http.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "base/ipv4.h"
#include "base/url.h"

namespace quillon::sim {

namespace {

constexpr int kMaxRedirects = 10;

// A redirect target: an absolute address, or a path on the same host.
std::optional<UrlParts> Follow(const UrlParts& from, const std::string& location) {
    if (location.find("://") != std::string::npos) return SplitUrl(location);
    UrlParts next = from;
    next.path = location.empty() || location[0] != '/' ? "/" + location : location;
    return next;
}

const char* Reason(int status) {
    static const std::pair<int, const char*> kReasons[] = {
        {200, "OK"},
        {201, "Created"},
        {204, "No Content"},
        {301, "Moved Permanently"},
        {302, "Found"},
        {304, "Not Modified"},
        {307, "Temporary Redirect"},
        {308, "Permanent Redirect"},
        {400, "Bad Request"},
        {401, "Unauthorized"},
        {403, "Forbidden"},
        {404, "Not Found"},
        {429, "Too Many Requests"},
        {500, "Internal Server Error"},
        {502, "Bad Gateway"},
        {503, "Service Unavailable"},
        {504, "Gateway Timeout"},
    };
    for (const auto& [code, text] : kReasons) {
        if (code == status) return text;
    }
    return "";
}

// The time of one exchange: what has passed so far, and the bound of the whole.
class Stopwatch {
public:
    Stopwatch(Clock& clock, double boundMs) : clock_(clock), boundMs_(boundMs) {}

    double elapsed() const { return elapsedMs_; }

    // Lets ms pass, unless the phase's limit or the exchange's bound comes first: then that
    // much passes and the exchange has timed out.
    bool Spend(double ms, double phaseLimitMs) {
        const double allowed = std::max(0.0, std::min(phaseLimitMs, boundMs_ - elapsedMs_));
        const bool inTime = ms <= allowed;
        const double spent = inTime ? ms : allowed;
        clock_.Sleep(uint32_t(spent));
        elapsedMs_ += spent;
        return inTime;
    }

private:
    Clock& clock_;
    double boundMs_;
    double elapsedMs_ = 0;
};

class SimHttpSession final : public HttpSession {
public:
    explicit SimHttpSession(SimWorld& world) : world_(world) {}

    HttpOutcome Send(const HttpExchange& exchange) override {
        const std::optional<UrlParts> first = SplitUrl(exchange.url);
        if (!first) return Failed(kHttpErrorInvalidUrl, {});
        const double phaseMs = exchange.timeoutMs;
        Stopwatch watch(world_.clock(),
                        exchange.totalTimeoutMs != 0 ? exchange.totalTimeoutMs : 4.0 * phaseMs);
        UrlParts url = *first;
        for (int redirects = 0;; ++redirects) {
            HttpOutcome outcome;
            HttpPhaseTimings& t = outcome.timings;
            t.redirectMs = watch.elapsed();
            const auto fail = [&](uint32_t error) { return Failed(error, t); };
            const auto timedOut = [&] { return fail(kHttpErrorTimeout); };

            Ipv4Address address;
            if (const auto literal = Ipv4Address::Parse(url.host)) {
                address = *literal;
            } else {
                if (!watch.Spend(world_.NameDelayMs(url.host), phaseMs)) return timedOut();
                const ResolveResult resolved = world_.ResolveName(url.host);
                if (!resolved.ok) return fail(kHttpErrorNameNotResolved);
                address = resolved.addresses[0];
            }
            t.nameResolvedMs = watch.elapsed();

            const ConnectOutcome connect = world_.ConnectTcp(address, url.port);
            if (connect.kind == ConnectKind::Unreachable) return fail(kHttpErrorCannotConnect);
            if (connect.kind == ConnectKind::NoAnswer) {
                watch.Spend(phaseMs, phaseMs);
                return timedOut();
            }
            if (!watch.Spend(connect.ms, phaseMs)) return timedOut();
            if (connect.kind == ConnectKind::Refused) return fail(kHttpErrorCannotConnect);
            t.connectedMs = watch.elapsed();

            if (url.secure) {
                const TlsOutcome tls = world_.TlsHandshake(address);
                if (!watch.Spend(tls.ms, phaseMs)) return timedOut();
                if (!tls.offered) return fail(kHttpErrorSecureFailure);
                outcome.tlsProtocol = tls.protocol;
                outcome.tlsCipher = tls.cipher;
                outcome.certificate = tls.certificate;
                t.tlsDoneMs = watch.elapsed();
                if (tls.error != 0 && !exchange.ignoreCertificateErrors) {
                    outcome.error = tls.error;
                    return outcome;
                }
            }
            t.requestSentMs = watch.elapsed();

            const WebReply reply = world_.WebRequest(address, url.path, exchange);
            if (!reply.answered) {
                watch.Spend(phaseMs, phaseMs);
                return timedOut();
            }
            if (!watch.Spend(reply.firstByteMs, phaseMs)) return timedOut();
            if (!reply.web) return fail(kHttpErrorInvalidResponse);
            t.firstByteMs = watch.elapsed();
            // The body trickles in under the whole exchange's bound only.
            if (!watch.Spend(reply.transferMs, 1e18)) return timedOut();
            t.totalMs = watch.elapsed();

            if (exchange.followRedirects && !reply.location.empty()) {
                if (redirects == kMaxRedirects) return fail(kHttpErrorRedirectFailed);
                const std::optional<UrlParts> next = Follow(url, reply.location);
                if (!next) return fail(kHttpErrorRedirectFailed);
                url = *next;
                continue;
            }
            Fill(outcome, reply);
            return outcome;
        }
    }

private:
    static HttpOutcome Failed(uint32_t error, const HttpPhaseTimings& timings) {
        HttpOutcome outcome;
        outcome.error = error;
        outcome.timings = timings;
        return outcome;
    }

    static void Fill(HttpOutcome& outcome, const WebReply& reply) {
        outcome.received = true;
        outcome.statusCode = reply.status;
        outcome.headers.emplace_back("Content-Length", std::to_string(reply.bodyBytes));
        if (!reply.location.empty()) outcome.headers.emplace_back("Location", reply.location);
        outcome.headers.insert(outcome.headers.end(), reply.headers.begin(), reply.headers.end());
        outcome.rawHeaders =
            "HTTP/1.1 " + std::to_string(reply.status) + " " + Reason(reply.status) + "\r\n";
        for (const auto& [name, value] : outcome.headers) {
            outcome.rawHeaders += name + ": " + value + "\r\n";
        }
        outcome.rawHeaders += "\r\n";
        outcome.body = reply.body;
        outcome.bodyBytes = reply.bodyBytes;
    }

    SimWorld& world_;
};

}  // namespace

std::unique_ptr<HttpSession> SimHttp::OpenSession(const std::string& /*userAgent*/,
                                                  uint32_t* error) {
    if (error) *error = 0;
    return std::make_unique<SimHttpSession>(world_);
}

}  // namespace quillon::sim
