// Pure translations of libcurl's and OpenSSL's results into the Http port's values for the
// Linux Http adapter: error numbers, protocol names and phase timings. Apart from any transfer
// so that table tests reach them; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "platform/http.h"

namespace quillon::lnx {

// The port's error number for a failed transfer. curlCode is the transfer's CURLcode;
// verifyResult the OpenSSL X509_V_* result of the certificate check (0 when it passed or did
// not run); afterRedirect whether the failing request followed a redirect, so that an unusable
// Location counts as a failed redirect rather than a bad address.
//   time-out, and the adapter's own receive time-out (an abort)  -> 12002
//   name not resolved -> 12007; refused or unreachable -> 12029
//   send/receive failure, empty or cut-off reply, stream reset   -> 12030
//   certificate: expired or not yet valid 12037, wrong name 12038, untrusted or self-signed
//   12045, any other TLS failure 12175
//   not an HTTP reply -> 12152; too many redirects or a bad Location -> 12156
//   malformed address or a scheme other than http/https -> 12005; anything else 12004
uint32_t HttpErrorFromCurl(int curlCode, long verifyResult, bool afterRedirect);

// "TLS 1.3", "TLS 1.2", "TLS 1.1", "TLS 1.0" or "SSL 3.0" for OpenSSL's protocol version
// number (SSL_version); empty for any other.
std::string TlsProtocolName(int version);

// libcurl's phase timers (CURLINFO_*_TIME_T), microseconds. Across redirects libcurl adds up
// the phases: each request adds its own time from its start to the end of the phase.
struct CurlPhaseTimes {
    int64_t nameLookup = 0;
    int64_t connect = 0;
    int64_t appConnect = 0;
    int64_t preTransfer = 0;
    int64_t startTransfer = 0;
};

// The last request's timings: its phases are the sums less what the earlier requests added
// (beforeLast, read when the last request began), each from the last request's own start.
// totalUs runs from the first request's start and redirectUs is when the last request began,
// so the last request took totalUs - redirectUs.
HttpPhaseTimings LastRequestTimings(const CurlPhaseTimes& sums, const CurlPhaseTimes& beforeLast,
                                    int64_t totalUs, int64_t redirectUs);

}  // namespace quillon::lnx
