// The translations of libcurl's and OpenSSL's results into the Http port's values.
#include "platform/linux/linux_http_results.h"

#include <curl/curl.h>
#include <gtest/gtest.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>

namespace quillon::lnx {
namespace {

TEST(LinuxHttpResults, CurlAndCertificateResultsBecomeThePortsErrors) {
    struct Case {
        int curl;
        long verify;
        bool afterRedirect;
        uint32_t error;
    };
    const Case cases[] = {
        {CURLE_OK, X509_V_OK, false, 0},
        {CURLE_OPERATION_TIMEDOUT, X509_V_OK, false, kHttpErrorTimeout},
        {CURLE_ABORTED_BY_CALLBACK, X509_V_OK, false, kHttpErrorTimeout},
        {CURLE_COULDNT_RESOLVE_HOST, X509_V_OK, false, kHttpErrorNameNotResolved},
        {CURLE_COULDNT_CONNECT, X509_V_OK, false, kHttpErrorCannotConnect},
        {CURLE_RECV_ERROR, X509_V_OK, false, kHttpErrorConnectionError},
        {CURLE_GOT_NOTHING, X509_V_OK, false, kHttpErrorConnectionError},
        {CURLE_PARTIAL_FILE, X509_V_OK, false, kHttpErrorConnectionError},
        {CURLE_WEIRD_SERVER_REPLY, X509_V_OK, false, kHttpErrorInvalidResponse},
        {CURLE_UNSUPPORTED_PROTOCOL, X509_V_OK, false, kHttpErrorInvalidResponse},
        {CURLE_UNSUPPORTED_PROTOCOL, X509_V_OK, true, kHttpErrorRedirectFailed},
        {CURLE_URL_MALFORMAT, X509_V_OK, false, kHttpErrorInvalidUrl},
        {CURLE_URL_MALFORMAT, X509_V_OK, true, kHttpErrorRedirectFailed},
        {CURLE_TOO_MANY_REDIRECTS, X509_V_OK, true, kHttpErrorRedirectFailed},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_CERT_HAS_EXPIRED, false,
         kHttpErrorCertificateDate},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_CERT_NOT_YET_VALID, false,
         kHttpErrorCertificateDate},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_OK, false, kHttpErrorCertificateName},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT, false,
         kHttpErrorCertificateAuthority},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY, false,
         kHttpErrorCertificateAuthority},
        {CURLE_PEER_FAILED_VERIFICATION, X509_V_ERR_CERT_SIGNATURE_FAILURE, false,
         kHttpErrorSecureFailure},
        {CURLE_SSL_CONNECT_ERROR, X509_V_OK, false, kHttpErrorSecureFailure},
        {CURLE_SSL_CONNECT_ERROR, X509_V_ERR_CERT_HAS_EXPIRED, false, kHttpErrorCertificateDate},
        {CURLE_OUT_OF_MEMORY, X509_V_OK, false, kHttpErrorInternal},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HttpErrorFromCurl(c.curl, c.verify, c.afterRedirect), c.error)
            << "curl " << c.curl << ", certificate check " << c.verify << ", after redirect "
            << c.afterRedirect;
    }

    EXPECT_EQ(TlsProtocolName(TLS1_3_VERSION), "TLS 1.3");
    EXPECT_EQ(TlsProtocolName(TLS1_2_VERSION), "TLS 1.2");
    EXPECT_EQ(TlsProtocolName(TLS1_1_VERSION), "TLS 1.1");
    EXPECT_EQ(TlsProtocolName(TLS1_VERSION), "TLS 1.0");
    EXPECT_EQ(TlsProtocolName(SSL3_VERSION), "SSL 3.0");
    EXPECT_EQ(TlsProtocolName(DTLS1_2_VERSION), "");
}

}  // namespace
}  // namespace quillon::lnx
