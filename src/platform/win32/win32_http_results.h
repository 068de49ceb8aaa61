// Turning what WinHTTP hands back into the Http port's values for the Windows Http adapter:
// error numbers, phase timings from the status callback's stamps, the raw header block, the
// negotiated protocol's name and the server certificate's fields. Kept apart from the requests
// so that unit tests reach them with recorded stamps, header blocks and certificates. Pure apart
// from the certificate calls (crypt32, bcrypt), which only read the context given; any thread.
#pragma once

// clang-format off
#include <windows.h>
#include <wincrypt.h>
// clang-format on

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/http.h"

namespace quillon::win32 {

// The port's error number for a failed exchange. error is the failing call's last error;
// secureFailureFlags the WINHTTP_CALLBACK_STATUS_FLAG_* bits of the latest secure-failure
// notification (0 when none came); afterRedirect whether a redirect had been followed.
//   a certificate failure (12175 or one of the certificate errors) with flags: untrusted
//   authority 12045 first, then dates 12037, then the name 12038, revoked 12170, wrong usage
//   12179; without flags the error as it came, the channel errors (12157, 12169) as 12175
//   an unknown scheme or bad address after a redirect -> 12156 (a refused Location)
//   a cancelled operation (the adapter's own bound on the exchange) -> 12002
//   socket errors passed on as they are: time-out (10060) -> 12002, reset or aborted
//   connection (10054, 10053) -> 12030
//   anything else unchanged: WinHTTP's numbers are the port's
uint32_t HttpErrorFromWinHttp(uint32_t error, uint32_t secureFailureFlags, bool afterRedirect);

// "TLS 1.3", "TLS 1.2", "TLS 1.1", "TLS 1.0", "SSL 3.0" or "SSL 2.0" for SChannel's protocol
// bits (SP_PROT_*, client or server side); empty for any other value.
std::string TlsProtocolName(uint32_t protocol);

// One status notification (WINHTTP_CALLBACK_STATUS_*) and the performance counter read when
// it arrived.
struct WinHttpStamp {
    uint32_t status = 0;
    int64_t ticks = 0;
};

// The phase timings of an exchange from its notifications in arrival order. startTicks is read
// before the first request, endTicks after the body's last byte; ticksPerSecond is the
// counter's frequency. A redirect notification starts the next request: phases count from the
// last one, and redirectMs is the time before it. Connect is CONNECTED_TO_SERVER, the request
// is sent at SENDING_REQUEST (so the TLS handshake, for a secure final request on a new
// connection, is done by then), and the first byte is RESPONSE_RECEIVED (the headers are in).
// A phase without its notification after the last request's start is 0.
HttpPhaseTimings PhaseTimingsOf(const std::vector<WinHttpStamp>& stamps, int64_t startTicks,
                                int64_t endTicks, int64_t ticksPerSecond, bool secure);

// The certificate's display names (common name, else organisation), validity and SHA-256
// fingerprint of its DER bytes.
TlsCertificateInfo CertificateInfoOf(const CERT_CONTEXT& certificate);

}  // namespace quillon::win32
