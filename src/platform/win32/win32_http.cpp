#include "platform/win32/win32_http.h"

// clang-format off
#include <windows.h>
#include <schannel.h>
#include <winhttp.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <optional>
#include <vector>

#include "base/header_lines.h"
#include "base/url.h"
#include "platform/win32/win32_http_results.h"
#include "platform/win32/win32_text.h"

namespace quillon::win32 {
namespace {

// Not in MinGW's winhttp.h; from the WinHTTP option reference.
constexpr DWORD kOptionSecurityInfo = 151;  // WINHTTP_OPTION_SECURITY_INFO
struct SecurityInfo {                       // WINHTTP_SECURITY_INFO
    SecPkgContext_ConnectionInfo ConnectionInfo;
    SecPkgContext_CipherInfo CipherInfo;
};

constexpr DWORD kNotifications =
    WINHTTP_CALLBACK_FLAG_RESOLVE_NAME | WINHTTP_CALLBACK_FLAG_CONNECT_TO_SERVER |
    WINHTTP_CALLBACK_FLAG_SEND_REQUEST | WINHTTP_CALLBACK_FLAG_RECEIVE_RESPONSE |
    WINHTTP_CALLBACK_FLAG_REDIRECT | WINHTTP_CALLBACK_FLAG_SECURE_FAILURE;
constexpr DWORD kMaxRedirects = 10;
constexpr DWORD kReadChunk = 64 * 1024;

int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

int64_t TicksPerSecond() {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return frequency.QuadPart;
}

struct HandleClose {
    void operator()(HINTERNET handle) const { WinHttpCloseHandle(handle); }
};
using Handle = std::unique_ptr<void, HandleClose>;

// One Send's notifications; the status callback reaches it through the request's context.
struct Progress {
    std::vector<WinHttpStamp> stamps;
    DWORD secureFailureFlags = 0;
    bool redirected = false;
};

void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD size) {
    if (context == 0) return;  // a handle's own set-up, before the request is sent
    Progress& progress = *reinterpret_cast<Progress*>(context);
    if (status == WINHTTP_CALLBACK_STATUS_SECURE_FAILURE && info != nullptr &&
        size >= sizeof(DWORD)) {
        progress.secureFailureFlags |= *static_cast<const DWORD*>(info);
    }
    if (status == WINHTTP_CALLBACK_STATUS_REDIRECT) progress.redirected = true;
    progress.stamps.push_back({status, Ticks()});
}

HINTERNET OpenSessionHandle(const std::wstring& agent) {
    HINTERNET session = WinHttpOpen(agent.c_str(), WINHTTP_ACCESS_TYPE_DEFAULT_PROXY,
                                    WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (session == nullptr) return nullptr;
    // Systems before HTTP/2 support refuse the option; they speak HTTP/1.1 then.
    DWORD http2 = WINHTTP_PROTOCOL_FLAG_HTTP2;
    WinHttpSetOption(session, WINHTTP_OPTION_ENABLE_HTTP_PROTOCOL, &http2, sizeof(http2));
    if (WinHttpSetStatusCallback(session, &OnStatus, kNotifications, 0) ==
        WINHTTP_INVALID_STATUS_CALLBACK) {
        const DWORD error = GetLastError();
        WinHttpCloseHandle(session);
        SetLastError(error);
        return nullptr;
    }
    return session;
}

bool SetDword(HINTERNET handle, DWORD option, DWORD value) {
    return WinHttpSetOption(handle, option, &value, sizeof(value)) != FALSE;
}

// A header of the response as text, or empty.
std::string QueryText(HINTERNET request, DWORD what) {
    DWORD size = 0;
    WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, nullptr, &size,
                        WINHTTP_NO_HEADER_INDEX);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return "";
    std::wstring text(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryHeaders(request, what, WINHTTP_HEADER_NAME_BY_INDEX, text.data(), &size,
                             WINHTTP_NO_HEADER_INDEX)) {
        return "";
    }
    text.resize(size / sizeof(wchar_t));
    return Narrow(text);
}

// The address the request ended at, after any redirects.
std::string FinalUrl(HINTERNET request) {
    DWORD size = 0;
    WinHttpQueryOption(request, WINHTTP_OPTION_URL, nullptr, &size);
    if (GetLastError() != ERROR_INSUFFICIENT_BUFFER || size == 0) return "";
    std::wstring url(size / sizeof(wchar_t), L'\0');
    if (!WinHttpQueryOption(request, WINHTTP_OPTION_URL, url.data(), &size)) return "";
    url.resize(wcsnlen(url.c_str(), url.size()));
    return Narrow(url);
}

std::string FixedText(const WCHAR* text) {
    return Narrow(std::wstring_view(text, wcsnlen(text, SZ_ALG_MAX_SIZE)));
}

void ReadCertificate(HINTERNET request, HttpOutcome& out) {
    PCCERT_CONTEXT certificate = nullptr;
    DWORD size = sizeof(certificate);
    if (WinHttpQueryOption(request, WINHTTP_OPTION_SERVER_CERT_CONTEXT, &certificate, &size) &&
        certificate != nullptr) {
        out.certificate = CertificateInfoOf(*certificate);
        CertFreeCertificateContext(certificate);
    }
}

void ReadTls(HINTERNET request, HttpOutcome& out) {
    SecurityInfo info{};
    DWORD size = sizeof(info);
    if (WinHttpQueryOption(request, kOptionSecurityInfo, &info, &size)) {
        out.tlsProtocol = TlsProtocolName(info.ConnectionInfo.dwProtocol);
        out.tlsCipher = FixedText(info.CipherInfo.szCipherSuite);
        if (out.tlsCipher.empty()) out.tlsCipher = FixedText(info.CipherInfo.szCipher);
    }
    ReadCertificate(request, out);
}

// One exchange on a session: the handles it opens, its notifications and its time bound.
class Exchange {
public:
    Exchange(const HttpExchange& ex, const UrlParts& url, HttpOutcome& out)
        : ex_(ex), url_(url), out_(out), perSecond_(TicksPerSecond()), start_(Ticks()) {
        progress_.stamps.reserve(16);
        const uint64_t totalMs = ex.totalTimeoutMs > 0 ? ex.totalTimeoutMs : 4ull * ex.timeoutMs;
        if (totalMs > 0) deadline_ = start_ + static_cast<int64_t>(totalMs) * perSecond_ / 1000;
    }

    void Run(HINTERNET session) {
        if (Send(session) && Receive()) {
            out_.received = true;
            out_.error = 0;
        }
        const bool secure =
            progress_.redirected ? FinalUrl(request_.get()).rfind("https:", 0) == 0 : url_.secure;
        if (secure && (out_.received || out_.statusCode != 0)) ReadTls(request_.get(), out_);
        out_.timings = PhaseTimingsOf(progress_.stamps, start_, Ticks(), perSecond_, secure);
        if (request_) {
            // No notification may reach this stack frame once it is gone.
            DWORD_PTR none = 0;
            WinHttpSetOption(request_.get(), WINHTTP_OPTION_CONTEXT_VALUE, &none, sizeof(none));
        }
        request_.reset();
        connect_.reset();
    }

private:
    bool Fail(DWORD error) {
        out_.error =
            HttpErrorFromWinHttp(error, progress_.secureFailureFlags, progress_.redirected);
        const bool certificate = out_.error == kHttpErrorCertificateAuthority ||
                                 out_.error == kHttpErrorCertificateDate ||
                                 out_.error == kHttpErrorCertificateName ||
                                 progress_.secureFailureFlags != 0;
        if (certificate && request_) ReadCertificate(request_.get(), out_);
        return false;
    }

    // A WinHTTP time-out: the phase's own, or what is left of the exchange's bound.
    int WaitMs() const {
        int64_t wait = ex_.timeoutMs > 0 ? std::min<int64_t>(ex_.timeoutMs, INT_MAX) : -1;
        if (deadline_ != 0) {
            const int64_t left = std::max<int64_t>(1, (deadline_ - Ticks()) * 1000 / perSecond_);
            wait = wait < 0 ? left : std::min(wait, left);
        }
        return static_cast<int>(wait);
    }
    bool Expired() const { return deadline_ != 0 && Ticks() >= deadline_; }

    bool Send(HINTERNET session) {
        std::wstring host = Wide(url_.host);
        if (host.size() > 2 && host.front() == L'[') host = host.substr(1, host.size() - 2);
        connect_.reset(WinHttpConnect(session, host.c_str(), url_.port, 0));
        if (!connect_) return Fail(GetLastError());
        request_.reset(WinHttpOpenRequest(connect_.get(), Wide(ex_.method).c_str(),
                                          Wide(url_.path).c_str(), nullptr, WINHTTP_NO_REFERER,
                                          WINHTTP_DEFAULT_ACCEPT_TYPES,
                                          url_.secure ? WINHTTP_FLAG_SECURE : 0));
        HINTERNET request = request_.get();
        if (request == nullptr) return Fail(GetLastError());
        const int wait = WaitMs();
        if (!WinHttpSetTimeouts(request, wait, wait, wait, wait)) return Fail(GetLastError());
        // The wait for the headers has a bound of its own (90 s by default); some versions
        // (Wine's) start that wait inside WinHttpSendRequest.
        SetDword(request, WINHTTP_OPTION_RECEIVE_RESPONSE_TIMEOUT, static_cast<DWORD>(wait));
        SetDword(request, WINHTTP_OPTION_MAX_HTTP_AUTOMATIC_REDIRECTS, kMaxRedirects);
        DWORD disable = ex_.followRedirects ? 0 : WINHTTP_DISABLE_REDIRECTS;
        if (ex_.freshConnection) disable |= WINHTTP_DISABLE_KEEP_ALIVE;
        if (disable != 0 && !SetDword(request, WINHTTP_OPTION_DISABLE_FEATURE, disable))
            return Fail(GetLastError());
        if (ex_.ignoreCertificateErrors && url_.secure &&
            !SetDword(request, WINHTTP_OPTION_SECURITY_FLAGS,
                      SECURITY_FLAG_IGNORE_UNKNOWN_CA | SECURITY_FLAG_IGNORE_CERT_DATE_INVALID |
                          SECURITY_FLAG_IGNORE_CERT_CN_INVALID |
                          SECURITY_FLAG_IGNORE_CERT_WRONG_USAGE)) {
            return Fail(GetLastError());
        }
        for (const auto& [name, value] : ex_.headers) {
            const std::wstring line = Wide(name + ": " + value);
            if (!WinHttpAddRequestHeaders(request, line.c_str(), static_cast<DWORD>(-1),
                                          WINHTTP_ADDREQ_FLAG_ADD)) {
                return Fail(GetLastError());
            }
        }
        void* body =
            ex_.body.empty() ? WINHTTP_NO_REQUEST_DATA : const_cast<char*>(ex_.body.data());
        const DWORD length = static_cast<DWORD>(ex_.body.size());
        if (!WinHttpSendRequest(request, WINHTTP_NO_ADDITIONAL_HEADERS, 0, body, length, length,
                                reinterpret_cast<DWORD_PTR>(&progress_))) {
            return Fail(GetLastError());
        }
        SetDword(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, WaitMs());
        if (!WinHttpReceiveResponse(request, nullptr)) return Fail(GetLastError());
        return true;
    }

    // WinHTTP may end a body cut off by a closed connection as if it were whole.
    bool Complete() const {
        if (ex_.method == "HEAD" || out_.statusCode == 204 || out_.statusCode == 304) return true;
        const std::string length = QueryText(request_.get(), WINHTTP_QUERY_CONTENT_LENGTH);
        return length.empty() || out_.bodyBytes >= std::strtoull(length.c_str(), nullptr, 10);
    }

    bool Receive() {
        HINTERNET request = request_.get();
        DWORD status = 0;
        DWORD size = sizeof(status);
        if (WinHttpQueryHeaders(request, WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                                WINHTTP_HEADER_NAME_BY_INDEX, &status, &size,
                                WINHTTP_NO_HEADER_INDEX)) {
            out_.statusCode = static_cast<int>(status);
        }
        out_.rawHeaders = QueryText(request, WINHTTP_QUERY_RAW_HEADERS_CRLF);
        out_.headers = HeadersOfBlock(out_.rawHeaders);
        // A fixed buffer, whatever the body's size; only maxBodyBytes of it are kept.
        std::vector<char> buffer(kReadChunk);
        for (;;) {
            if (Expired()) return Fail(ERROR_WINHTTP_TIMEOUT);
            SetDword(request, WINHTTP_OPTION_RECEIVE_TIMEOUT, WaitMs());
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(request, &available)) return Fail(GetLastError());
            if (available == 0) return Complete() || Fail(ERROR_WINHTTP_CONNECTION_ERROR);
            DWORD read = 0;
            if (!WinHttpReadData(request, buffer.data(), std::min(available, kReadChunk), &read))
                return Fail(GetLastError());
            if (read == 0) return Complete() || Fail(ERROR_WINHTTP_CONNECTION_ERROR);
            out_.bodyBytes += read;
            std::string& body = out_.body;
            if (body.size() < ex_.maxBodyBytes)
                body.append(buffer.data(), std::min<size_t>(read, ex_.maxBodyBytes - body.size()));
        }
    }

    const HttpExchange& ex_;
    const UrlParts& url_;
    HttpOutcome& out_;
    const int64_t perSecond_;
    const int64_t start_;
    int64_t deadline_ = 0;
    Progress progress_;
    Handle connect_;
    Handle request_;
};

class WinHttpSession final : public HttpSession {
public:
    WinHttpSession(HINTERNET session, std::wstring agent)
        : session_(session), agent_(std::move(agent)) {}

    HttpOutcome Send(const HttpExchange& exchange) override {
        HttpOutcome out;
        const std::optional<UrlParts> url = SplitUrl(exchange.url);
        if (!url) {
            out.error = kHttpErrorInvalidUrl;
            return out;
        }
        // A session of its own: WinHTTP keeps idle connections per session.
        Handle fresh;
        if (exchange.freshConnection) {
            fresh.reset(OpenSessionHandle(agent_));
            if (!fresh) {
                out.error = GetLastError();
                return out;
            }
        }
        Exchange(exchange, *url, out).Run(fresh ? fresh.get() : session_.get());
        return out;
    }

private:
    Handle session_;
    const std::wstring agent_;
};

}  // namespace

std::unique_ptr<HttpSession> Win32Http::OpenSession(const std::string& userAgent, uint32_t* error) {
    const std::wstring agent = Wide(userAgent);
    HINTERNET session = OpenSessionHandle(agent);
    if (error != nullptr) *error = session != nullptr ? 0 : GetLastError();
    if (session == nullptr) return nullptr;
    return std::make_unique<WinHttpSession>(session, agent);
}

}  // namespace quillon::win32
