// What WinHTTP hands back, turned into the Http port's values: error numbers, phase timings
// from recorded notification stamps, protocol names, and a certificate made once with the
// openssl tool, pasted here as DER bytes.
#include "platform/win32/win32_http_results.h"

#include <gtest/gtest.h>
// clang-format off
#include <winhttp.h>
#include <schannel.h>
// clang-format on

#include "platform/win32/win32_clock.h"

namespace quillon::win32 {
namespace {

TEST(Win32HttpResults, ErrorsBecomeThePortsNumbers) {
    struct Case {
        uint32_t error;
        uint32_t flags;
        bool afterRedirect;
        uint32_t expected;
    };
    const uint32_t ca = WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA;
    const uint32_t date = WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID;
    const uint32_t name = WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID;
    const Case cases[] = {
        {12002, 0, false, kHttpErrorTimeout},
        {12029, 0, false, kHttpErrorCannotConnect},
        {12030, 0, true, kHttpErrorConnectionError},
        {12156, 0, true, kHttpErrorRedirectFailed},
        {12017, 0, false, kHttpErrorTimeout},  // cancelled by the exchange's bound
        {12006, 0, false, kHttpErrorInvalidUrl},
        {10060, 0, false, kHttpErrorTimeout},
        {10054, 0, false, kHttpErrorConnectionError},
        {12006, 0, true, kHttpErrorRedirectFailed},
        {12005, 0, true, kHttpErrorRedirectFailed},
        {12175, ca | date | name, false, kHttpErrorCertificateAuthority},
        {12175, date | name, false, kHttpErrorCertificateDate},
        {12175, name, false, kHttpErrorCertificateName},
        {12175, WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED, false, 12170},
        {12175, WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE, false, 12179},
        {12175, WINHTTP_CALLBACK_STATUS_FLAG_SECURITY_CHANNEL_ERROR, false, 12175},
        {12175, 0, false, kHttpErrorSecureFailure},
        {12157, 0, false, kHttpErrorSecureFailure},
        {12038, 0, false, kHttpErrorCertificateName},
        {12038, date, false, kHttpErrorCertificateDate},
        {12152, ca, false, kHttpErrorInvalidResponse},  // flags of an earlier hop do not count
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HttpErrorFromWinHttp(c.error, c.flags, c.afterRedirect), c.expected)
            << c.error << " flags " << c.flags << " after redirect " << c.afterRedirect;
    }

    EXPECT_EQ(TlsProtocolName(SP_PROT_TLS1_3_CLIENT), "TLS 1.3");
    EXPECT_EQ(TlsProtocolName(SP_PROT_TLS1_2_CLIENT), "TLS 1.2");
    EXPECT_EQ(TlsProtocolName(SP_PROT_TLS1_1_SERVER), "TLS 1.1");
    EXPECT_EQ(TlsProtocolName(SP_PROT_TLS1_0_CLIENT), "TLS 1.0");
    EXPECT_EQ(TlsProtocolName(SP_PROT_SSL3_CLIENT), "SSL 3.0");
    EXPECT_EQ(TlsProtocolName(SP_PROT_SSL2_CLIENT), "SSL 2.0");
    EXPECT_EQ(TlsProtocolName(0), "");
}

TEST(Win32HttpResults, StampsBecomePhasesOfTheLastRequest) {
    using S = WinHttpStamp;
    // Microsecond ticks. A new secure connection: look-up, connect, handshake, request, answer.
    const std::vector<S> fresh = {
        {WINHTTP_CALLBACK_STATUS_RESOLVING_NAME, 1100},
        {WINHTTP_CALLBACK_STATUS_NAME_RESOLVED, 3000},
        {WINHTTP_CALLBACK_STATUS_CONNECTING_TO_SERVER, 3100},
        {WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER, 8000},
        {WINHTTP_CALLBACK_STATUS_SENDING_REQUEST, 20000},
        {WINHTTP_CALLBACK_STATUS_REQUEST_SENT, 20100},
        {WINHTTP_CALLBACK_STATUS_RECEIVING_RESPONSE, 20200},
        {WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED, 51000},
    };
    HttpPhaseTimings t = PhaseTimingsOf(fresh, 1000, 61000, 1000000, true);
    EXPECT_EQ(t.redirectMs, 0);
    EXPECT_EQ(t.nameResolvedMs, 2);
    EXPECT_EQ(t.connectedMs, 7);
    EXPECT_EQ(t.tlsDoneMs, 19);
    EXPECT_EQ(t.requestSentMs, 19);
    EXPECT_EQ(t.firstByteMs, 50);
    EXPECT_EQ(t.totalMs, 60);
    EXPECT_EQ(PhaseTimingsOf(fresh, 1000, 61000, 1000000, false).tlsDoneMs, 0);

    // A redirect answered on the same connection: the second request reuses it, so it has no
    // look-up, connect or handshake of its own, and the first one's count for nothing.
    std::vector<S> redirected = fresh;
    redirected.push_back({WINHTTP_CALLBACK_STATUS_REDIRECT, 201000});
    redirected.push_back({WINHTTP_CALLBACK_STATUS_SENDING_REQUEST, 201500});
    redirected.push_back({WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED, 211000});
    t = PhaseTimingsOf(redirected, 1000, 216000, 1000000, true);
    EXPECT_EQ(t.redirectMs, 200);
    EXPECT_EQ(t.nameResolvedMs, 0);
    EXPECT_EQ(t.connectedMs, 0);
    EXPECT_EQ(t.tlsDoneMs, 0);
    EXPECT_EQ(t.requestSentMs, 0.5);
    EXPECT_EQ(t.firstByteMs, 10);
    EXPECT_EQ(t.totalMs, 15);

    // Refused: nothing after the look-up. Ticks finer than a microsecond are cut off.
    t = PhaseTimingsOf({fresh[0], fresh[1], fresh[2]}, 0, 12345, 10000000, false);
    EXPECT_EQ(t.nameResolvedMs, 0.3);
    EXPECT_EQ(t.connectedMs, 0);
    EXPECT_EQ(t.requestSentMs, 0);
    EXPECT_EQ(t.totalMs, 1.234);
}

// Subject "CN=paste.quillon.test, O=Quillon Paste Org", issuer "O=Quillon Paste CA" (no common
// name), valid from 2024-01-01 to 2034-01-01, EC P-256.
const BYTE kPastedCertificate[] = {
    0x30, 0x82, 0x01, 0x3b, 0x30, 0x81, 0xe2, 0x02, 0x01, 0x01, 0x30, 0x0a, 0x06, 0x08, 0x2a, 0x86,
    0x48, 0xce, 0x3d, 0x04, 0x03, 0x02, 0x30, 0x1b, 0x31, 0x19, 0x30, 0x17, 0x06, 0x03, 0x55, 0x04,
    0x0a, 0x0c, 0x10, 0x51, 0x75, 0x69, 0x6c, 0x6c, 0x6f, 0x6e, 0x20, 0x50, 0x61, 0x73, 0x74, 0x65,
    0x20, 0x43, 0x41, 0x30, 0x1e, 0x17, 0x0d, 0x32, 0x34, 0x30, 0x31, 0x30, 0x31, 0x30, 0x30, 0x30,
    0x30, 0x30, 0x30, 0x5a, 0x17, 0x0d, 0x33, 0x34, 0x30, 0x31, 0x30, 0x31, 0x30, 0x30, 0x30, 0x30,
    0x30, 0x30, 0x5a, 0x30, 0x39, 0x31, 0x1b, 0x30, 0x19, 0x06, 0x03, 0x55, 0x04, 0x03, 0x0c, 0x12,
    0x70, 0x61, 0x73, 0x74, 0x65, 0x2e, 0x71, 0x75, 0x69, 0x6c, 0x6c, 0x6f, 0x6e, 0x2e, 0x74, 0x65,
    0x73, 0x74, 0x31, 0x1a, 0x30, 0x18, 0x06, 0x03, 0x55, 0x04, 0x0a, 0x0c, 0x11, 0x51, 0x75, 0x69,
    0x6c, 0x6c, 0x6f, 0x6e, 0x20, 0x50, 0x61, 0x73, 0x74, 0x65, 0x20, 0x4f, 0x72, 0x67, 0x30, 0x59,
    0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01, 0x06, 0x08, 0x2a, 0x86, 0x48,
    0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00, 0x04, 0x41, 0x87, 0xf1, 0x37, 0x0d, 0xb6, 0x9d,
    0xdd, 0x6e, 0x75, 0x3f, 0x78, 0x65, 0x6a, 0xea, 0x8e, 0x7c, 0x28, 0x53, 0x77, 0x7c, 0x2b, 0x2e,
    0x27, 0x07, 0x3b, 0xb3, 0xc9, 0xe6, 0x3d, 0x36, 0xbc, 0x0a, 0xde, 0xaa, 0xbc, 0x7a, 0x3f, 0xf4,
    0xf8, 0x23, 0x45, 0x45, 0xb2, 0xcc, 0xd3, 0xdb, 0x7f, 0x4d, 0x4b, 0x06, 0x16, 0x4a, 0xe8, 0x95,
    0xbf, 0x77, 0x81, 0x34, 0x50, 0xc7, 0xa2, 0x96, 0x29, 0x30, 0x0a, 0x06, 0x08, 0x2a, 0x86, 0x48,
    0xce, 0x3d, 0x04, 0x03, 0x02, 0x03, 0x48, 0x00, 0x30, 0x45, 0x02, 0x21, 0x00, 0xee, 0xf3, 0x58,
    0xbe, 0xc8, 0xb4, 0x85, 0x65, 0xfb, 0x5c, 0x98, 0xb4, 0xbb, 0x39, 0x90, 0xc4, 0x75, 0xe8, 0xa7,
    0xdc, 0xca, 0x18, 0xb5, 0x25, 0x08, 0xd7, 0xe5, 0x0d, 0xe1, 0xe0, 0x74, 0x68, 0x02, 0x20, 0x4a,
    0xa4, 0xc3, 0x5e, 0xd5, 0x7d, 0xf2, 0xb2, 0xf2, 0xa8, 0x53, 0x08, 0x3b, 0x8a, 0x98, 0x7c, 0x60,
    0xc5, 0xfd, 0x37, 0x5c, 0xda, 0xe8, 0x1d, 0x51, 0xdd, 0x34, 0xab, 0xa2, 0x92, 0x59, 0x44,
};
constexpr char kPastedSha256[] = "d14140235f5f31af1ed41a9c0670bf1f428ba40c81174e7755d7e92be0c702e9";

TEST(Win32HttpResults, CertificateFieldsFromDerBytes) {
    PCCERT_CONTEXT certificate = CertCreateCertificateContext(X509_ASN_ENCODING, kPastedCertificate,
                                                              sizeof(kPastedCertificate));
    ASSERT_NE(certificate, nullptr) << GetLastError();
    const TlsCertificateInfo info = CertificateInfoOf(*certificate);
    CertFreeCertificateContext(certificate);
    EXPECT_TRUE(info.present);
    EXPECT_EQ(info.subject, "paste.quillon.test");
    EXPECT_EQ(info.issuer, "Quillon Paste CA");
    EXPECT_EQ(info.notBeforeUnix, 1704067200);
    EXPECT_EQ(info.notAfterUnix, 2019686400);
    EXPECT_EQ(info.sha256, kPastedSha256);

    // 1601 to 1970 is 11644473600 s; file times count 100 ns.
    EXPECT_EQ(UnixSecondsOf(FILETIME{0xD53E8000, 0x019DB1DE}), 0);
    const uint64_t y2024 = (1704067200ull + 11644473600ull) * 10000000ull + 9999999;
    EXPECT_EQ(UnixSecondsOf(FILETIME{DWORD(y2024), DWORD(y2024 >> 32)}), 1704067200);
}

}  // namespace
}  // namespace quillon::win32
