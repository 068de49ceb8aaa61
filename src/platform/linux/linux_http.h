// LinuxHttp: the Http port over libcurl built with OpenSSL. HTTP/2 is offered over TLS (ALPN);
// only http and https are followed, at most 10 redirects. Environment proxy settings
// (http_proxy, no_proxy, ...) apply as for any libcurl program.
//
// A session owns a libcurl share handle (DNS cache and TLS sessions, each behind its own mutex)
// and a small pool of easy handles, each keeping its own idle connections: libcurl's shared
// connection cache is not safe across threads, so connections are reused per handle, and a
// thread that sends again usually gets the handle, and so the connection, it used last.
// Send is synchronous and any number of threads may call it on one session at once; the
// session must outlive its Sends. LinuxHttp itself holds only its options; libcurl's global
// start-up runs once per process on the first OpenSession.
//
// Time-outs: timeoutMs bounds name resolution, connect and TLS handshake together, and then
// each wait for the server's next byte (checked about once a second, so a stalled reply ends
// up to a second late); totalTimeoutMs bounds the whole exchange exactly. 0 for both: none.
//
// Timings are libcurl's own timers. After redirects, every phase is measured from the start of
// the last request, redirectMs is when that request began (from the start of the first), and
// the exchange as a whole took redirectMs + totalMs. On a reused connection the connect and TLS
// phases are 0 (they did not happen) and the name phase is a look-up in libcurl's cache.
//
// Certificates: the server's certificate comes from the TLS connection of the final response;
// when the handshake or the name check fails, the certificate that failed is kept from the
// chain check (which runs before libcurl refuses it). ignoreCertificateErrors turns off both
// the chain and the name checks.
//
// Errors (HttpOutcome::error) are the port's numbers, see HttpErrorFromCurl. A status code of
// any value is a received response. A reply cut off in its body is not received (12030), though
// statusCode and the headers that did arrive are filled in. OpenSession fails (12004) only when
// libcurl cannot start.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/http.h"

namespace quillon::lnx {

struct LinuxHttpOptions {
    // A PEM file of certificate authorities trusted instead of the system's (a lab or test CA);
    // empty: the system's store.
    std::string caFile;
};

class LinuxHttp final : public Http {
public:
    LinuxHttp() = default;
    explicit LinuxHttp(LinuxHttpOptions options) : options_(std::move(options)) {}

    std::unique_ptr<HttpSession> OpenSession(const std::string& userAgent,
                                             uint32_t* error) override;

private:
    LinuxHttpOptions options_;
};

}  // namespace quillon::lnx
