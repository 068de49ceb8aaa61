// Win32Http: the Http port over WinHTTP in synchronous mode. A session is one WinHttpOpen
// handle (the caller's user agent, the system's default proxy settings, HTTP/2 enabled where
// the system offers it); every Send opens its own connection and request handles on it, and
// WinHTTP keeps idle connections of the session for reuse. A freshConnection request runs on a
// session of its own, opened and closed around it, with keep-alive off, so that its look-up,
// connect and handshake happen anew. Redirects follow WinHTTP's defaults (at most 10, never
// from https to http); followRedirects false turns them off.
//
// Any number of threads may Send on one session at once: each Send's state lives on its own
// stack and reaches the status callback through the request's context value. The session must
// outlive its Sends.
//
// Time-outs: timeoutMs is each of WinHTTP's resolve, connect, send and receive time-outs;
// totalTimeoutMs (0: four times timeoutMs) bounds the exchange: it shortens each wait to what
// is left and ends the body's reading once it has passed, as a time-out (12002).
//
// Timings come from the status callback, which WinHTTP calls in synchronous mode too, stamped
// with the performance counter (see PhaseTimingsOf). On a reused connection the name and
// connect phases are 0.
//
// Certificates: the server's certificate is read from the request after the response, and
// after a certificate failure too; the failure's kind comes from the secure-failure
// notification. ignoreCertificateErrors ignores an unknown authority, bad dates, a wrong name
// and wrong usage. Protocol and cipher come from WINHTTP_OPTION_SECURITY_INFO where the system
// has it; otherwise they stay empty.
//
// Errors are WinHTTP's numbers (see HttpErrorFromWinHttp). A reply cut off in its body is not
// received, though its status code and headers are filled in.
#pragma once

#include <memory>
#include <string>

#include "platform/http.h"

namespace quillon::win32 {

class Win32Http final : public Http {
public:
    std::unique_ptr<HttpSession> OpenSession(const std::string& userAgent,
                                             uint32_t* error) override;
};

}  // namespace quillon::win32
