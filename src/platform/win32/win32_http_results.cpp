#include "platform/win32/win32_http_results.h"

// clang-format off
#include <windows.h>
#include <bcrypt.h>
#include <schannel.h>
#include <winhttp.h>
// clang-format on

#include "platform/win32/win32_clock.h"
#include "platform/win32/win32_text.h"

namespace quillon::win32 {
namespace {

// Winsock's numbers (WSAETIMEDOUT, WSAECONNRESET, WSAECONNABORTED), without its header.
constexpr uint32_t kSocketTimedOut = 10060;
constexpr uint32_t kSocketReset = 10054;
constexpr uint32_t kSocketAborted = 10053;

constexpr uint32_t kCertificateErrors[] = {
    ERROR_WINHTTP_SECURE_FAILURE,         ERROR_WINHTTP_SECURE_CERT_DATE_INVALID,
    ERROR_WINHTTP_SECURE_CERT_CN_INVALID, ERROR_WINHTTP_SECURE_INVALID_CA,
    ERROR_WINHTTP_SECURE_CERT_REVOKED,    ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE,
    ERROR_WINHTTP_SECURE_INVALID_CERT,    ERROR_WINHTTP_SECURE_CHANNEL_ERROR,
    ERROR_WINHTTP_SECURE_CERT_REV_FAILED,
};

bool IsCertificateError(uint32_t error) {
    for (const uint32_t known : kCertificateErrors) {
        if (known == error) return true;
    }
    return false;
}

double MsBetween(int64_t from, int64_t to, int64_t ticksPerSecond) {
    if (to <= from || ticksPerSecond <= 0) return 0;
    // Whole microseconds first, so both adapters report the same resolution.
    const int64_t us = (to - from) * 1000000 / ticksPerSecond;
    return static_cast<double>(us) / 1000.0;
}

// The name attribute's text, or empty; issuer picks the issuer's name.
std::string NameAttribute(const CERT_CONTEXT& certificate, const char* oid, bool issuer) {
    wchar_t text[256];
    const DWORD flags = issuer ? CERT_NAME_ISSUER_FLAG : 0;
    const DWORD size = CertGetNameStringW(&certificate, CERT_NAME_ATTR_TYPE, flags,
                                          const_cast<char*>(oid), text, 256);
    return size > 1 ? Narrow(std::wstring_view(text, size - 1)) : std::string();
}

std::string DisplayName(const CERT_CONTEXT& certificate, bool issuer) {
    std::string name = NameAttribute(certificate, szOID_COMMON_NAME, issuer);
    if (name.empty()) name = NameAttribute(certificate, szOID_ORGANIZATION_NAME, issuer);
    return name;
}

std::string Sha256Hex(const BYTE* data, DWORD size) {
    BCRYPT_ALG_HANDLE algorithm = nullptr;
    if (!BCRYPT_SUCCESS(
            BCryptOpenAlgorithmProvider(&algorithm, BCRYPT_SHA256_ALGORITHM, nullptr, 0))) {
        return "";
    }
    UCHAR digest[32];
    BCRYPT_HASH_HANDLE hash = nullptr;
    bool ok = BCRYPT_SUCCESS(BCryptCreateHash(algorithm, &hash, nullptr, 0, nullptr, 0, 0));
    ok = ok && BCRYPT_SUCCESS(BCryptHashData(hash, const_cast<BYTE*>(data), size, 0));
    ok = ok && BCRYPT_SUCCESS(BCryptFinishHash(hash, digest, sizeof(digest), 0));
    if (hash != nullptr) BCryptDestroyHash(hash);
    BCryptCloseAlgorithmProvider(algorithm, 0);
    if (!ok) return "";
    static constexpr char kHex[] = "0123456789abcdef";
    std::string text;
    for (const UCHAR byte : digest) {
        text += kHex[byte >> 4];
        text += kHex[byte & 15];
    }
    return text;
}

}  // namespace

uint32_t HttpErrorFromWinHttp(uint32_t error, uint32_t secureFailureFlags, bool afterRedirect) {
    if (IsCertificateError(error)) {
        const uint32_t f = secureFailureFlags;
        if (f & WINHTTP_CALLBACK_STATUS_FLAG_INVALID_CA) return kHttpErrorCertificateAuthority;
        if (f & WINHTTP_CALLBACK_STATUS_FLAG_CERT_DATE_INVALID) return kHttpErrorCertificateDate;
        if (f & WINHTTP_CALLBACK_STATUS_FLAG_CERT_CN_INVALID) return kHttpErrorCertificateName;
        if (f & WINHTTP_CALLBACK_STATUS_FLAG_CERT_REVOKED) return ERROR_WINHTTP_SECURE_CERT_REVOKED;
        if (f & WINHTTP_CALLBACK_STATUS_FLAG_CERT_WRONG_USAGE)
            return ERROR_WINHTTP_SECURE_CERT_WRONG_USAGE;
        // The channel's own failures and an unusable certificate have no text of their own.
        if (error == ERROR_WINHTTP_SECURE_CHANNEL_ERROR ||
            error == ERROR_WINHTTP_SECURE_INVALID_CERT) {
            return kHttpErrorSecureFailure;
        }
        return error;
    }
    switch (error) {
        case ERROR_WINHTTP_UNRECOGNIZED_SCHEME:
        case ERROR_WINHTTP_INVALID_URL:
            return afterRedirect ? kHttpErrorRedirectFailed : kHttpErrorInvalidUrl;
        case ERROR_WINHTTP_OPERATION_CANCELLED:
            return kHttpErrorTimeout;
        // Socket errors some WinHTTP versions (Wine's) pass on as they are.
        case kSocketTimedOut:
            return kHttpErrorTimeout;
        case kSocketReset:
        case kSocketAborted:
            return kHttpErrorConnectionError;
        default:
            return error;
    }
}

std::string TlsProtocolName(uint32_t protocol) {
    if (protocol & SP_PROT_TLS1_3) return "TLS 1.3";
    if (protocol & SP_PROT_TLS1_2) return "TLS 1.2";
    if (protocol & SP_PROT_TLS1_1) return "TLS 1.1";
    if (protocol & SP_PROT_TLS1_0) return "TLS 1.0";
    if (protocol & SP_PROT_SSL3) return "SSL 3.0";
    if (protocol & SP_PROT_SSL2) return "SSL 2.0";
    return "";
}

HttpPhaseTimings PhaseTimingsOf(const std::vector<WinHttpStamp>& stamps, int64_t startTicks,
                                int64_t endTicks, int64_t ticksPerSecond, bool secure) {
    size_t first = 0;  // the last request's first notification
    int64_t lastStart = startTicks;
    for (size_t i = 0; i < stamps.size(); ++i) {
        if (stamps[i].status == WINHTTP_CALLBACK_STATUS_REDIRECT) {
            first = i + 1;
            lastStart = stamps[i].ticks;
        }
    }
    const auto at = [&](uint32_t status) -> int64_t {
        for (size_t i = first; i < stamps.size(); ++i) {
            if (stamps[i].status == status) return stamps[i].ticks;
        }
        return 0;
    };
    const auto ms = [&](int64_t ticks) {
        return ticks != 0 ? MsBetween(lastStart, ticks, ticksPerSecond) : 0.0;
    };
    HttpPhaseTimings t;
    t.redirectMs = MsBetween(startTicks, lastStart, ticksPerSecond);
    t.nameResolvedMs = ms(at(WINHTTP_CALLBACK_STATUS_NAME_RESOLVED));
    const int64_t connected = at(WINHTTP_CALLBACK_STATUS_CONNECTED_TO_SERVER);
    const int64_t sending = at(WINHTTP_CALLBACK_STATUS_SENDING_REQUEST);
    t.connectedMs = ms(connected);
    if (secure && connected != 0) t.tlsDoneMs = ms(sending);
    t.requestSentMs = ms(sending);
    t.firstByteMs = ms(at(WINHTTP_CALLBACK_STATUS_RESPONSE_RECEIVED));
    t.totalMs = MsBetween(lastStart, endTicks, ticksPerSecond);
    return t;
}

TlsCertificateInfo CertificateInfoOf(const CERT_CONTEXT& certificate) {
    TlsCertificateInfo info;
    info.present = true;
    info.subject = DisplayName(certificate, false);
    info.issuer = DisplayName(certificate, true);
    if (certificate.pCertInfo != nullptr) {
        info.notBeforeUnix = UnixSecondsOf(certificate.pCertInfo->NotBefore);
        info.notAfterUnix = UnixSecondsOf(certificate.pCertInfo->NotAfter);
    }
    info.sha256 = Sha256Hex(certificate.pbCertEncoded, certificate.cbCertEncoded);
    return info;
}

}  // namespace quillon::win32
