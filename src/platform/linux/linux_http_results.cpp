#include "platform/linux/linux_http_results.h"

#include <curl/curl.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace quillon::lnx {
namespace {

uint32_t CertificateError(long verifyResult) {
    switch (verifyResult) {
        case X509_V_ERR_CERT_HAS_EXPIRED:
        case X509_V_ERR_CERT_NOT_YET_VALID:
        case X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD:
        case X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD:
            return kHttpErrorCertificateDate;
        // libcurl checks the name itself after a chain that passed: a refusal with a good
        // chain is the name.
        case X509_V_OK:
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return kHttpErrorCertificateName;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
        case X509_V_ERR_SELF_SIGNED_CERT_IN_CHAIN:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
        case X509_V_ERR_CERT_UNTRUSTED:
        case X509_V_ERR_CERT_REJECTED:
        case X509_V_ERR_INVALID_CA:
            return kHttpErrorCertificateAuthority;
        default:
            return kHttpErrorSecureFailure;
    }
}

double Ms(int64_t microseconds) {
    return microseconds > 0 ? static_cast<double>(microseconds) / 1000.0 : 0.0;
}

}  // namespace

uint32_t HttpErrorFromCurl(int curlCode, long verifyResult, bool afterRedirect) {
    switch (curlCode) {
        case CURLE_OK:
            return 0;
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_ABORTED_BY_CALLBACK:  // the adapter aborts only for a receive time-out
            return kHttpErrorTimeout;
        case CURLE_COULDNT_RESOLVE_HOST:
        case CURLE_COULDNT_RESOLVE_PROXY:
            return kHttpErrorNameNotResolved;
        case CURLE_COULDNT_CONNECT:
            return kHttpErrorCannotConnect;
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_GOT_NOTHING:
        case CURLE_PARTIAL_FILE:
        case CURLE_HTTP2_STREAM:
            return kHttpErrorConnectionError;
        case CURLE_WEIRD_SERVER_REPLY:
        case CURLE_HTTP2:
        case CURLE_BAD_CONTENT_ENCODING:
            return kHttpErrorInvalidResponse;
        case CURLE_TOO_MANY_REDIRECTS:
            return kHttpErrorRedirectFailed;
        // The adapter checks the address before sending, so after that a refused scheme is a
        // redirect's Location, or a reply with no status line (taken for HTTP/0.9).
        case CURLE_UNSUPPORTED_PROTOCOL:
            return afterRedirect ? kHttpErrorRedirectFailed : kHttpErrorInvalidResponse;
        case CURLE_URL_MALFORMAT:
            return afterRedirect ? kHttpErrorRedirectFailed : kHttpErrorInvalidUrl;
        case CURLE_PEER_FAILED_VERIFICATION:
            return CertificateError(verifyResult);
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_USE_SSL_FAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
            return verifyResult != X509_V_OK ? CertificateError(verifyResult)
                                             : kHttpErrorSecureFailure;
        default:
            return kHttpErrorInternal;
    }
}

std::string TlsProtocolName(int version) {
    switch (version) {
        case TLS1_3_VERSION:
            return "TLS 1.3";
        case TLS1_2_VERSION:
            return "TLS 1.2";
        case TLS1_1_VERSION:
            return "TLS 1.1";
        case TLS1_VERSION:
            return "TLS 1.0";
        case SSL3_VERSION:
            return "SSL 3.0";
        default:
            return "";
    }
}

HttpPhaseTimings LastRequestTimings(const CurlPhaseTimes& sums, const CurlPhaseTimes& beforeLast,
                                    int64_t totalUs, int64_t redirectUs) {
    HttpPhaseTimings t;
    t.redirectMs = Ms(redirectUs);
    t.nameResolvedMs = Ms(sums.nameLookup - beforeLast.nameLookup);
    t.connectedMs = Ms(sums.connect - beforeLast.connect);
    t.tlsDoneMs = Ms(sums.appConnect - beforeLast.appConnect);
    t.requestSentMs = Ms(sums.preTransfer - beforeLast.preTransfer);
    t.firstByteMs = Ms(sums.startTransfer - beforeLast.startTransfer);
    t.totalMs = Ms(totalUs - redirectUs);
    return t;
}

}  // namespace quillon::lnx
