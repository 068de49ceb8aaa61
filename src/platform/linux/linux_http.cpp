#include "platform/linux/linux_http.h"

#include <curl/curl.h>
#include <openssl/asn1.h>
#include <openssl/crypto.h>
#include <openssl/objects.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <strings.h>

#include <array>
#include <chrono>
#include <ctime>
#include <mutex>
#include <string_view>
#include <vector>

#include "base/header_lines.h"
#include "platform/linux/linux_http_results.h"

namespace quillon::lnx {
namespace {

using SteadyClock = std::chrono::steady_clock;

constexpr long kMaxRedirects = 10;
// Idle easy handles kept with their connections; more only while more threads send at once.
constexpr size_t kMaxIdleHandles = 4;
constexpr char kWebSchemes[] = "http,https";

bool StartCurl() {
    static std::once_flag once;
    static bool started = false;
    std::call_once(once, [] { started = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK; });
    return started;
}

struct X509Free {
    void operator()(X509* cert) const { X509_free(cert); }
};
using X509Ptr = std::unique_ptr<X509, X509Free>;
struct SlistFree {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using SlistPtr = std::unique_ptr<curl_slist, SlistFree>;
struct UrlFree {
    void operator()(CURLU* url) const { curl_url_cleanup(url); }
};

bool HasHeader(const HttpHeaders& headers, const char* name) {
    for (const auto& [key, value] : headers) {
        if (strcasecmp(key.c_str(), name) == 0) return true;
    }
    return false;
}

// An absolute http or https address; anything else never reaches libcurl.
bool IsWebUrl(const std::string& url) {
    std::unique_ptr<CURLU, UrlFree> parsed(curl_url());
    char* scheme = nullptr;
    if (!parsed || curl_url_set(parsed.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK ||
        curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) != CURLUE_OK) {
        return false;
    }
    const bool web = strcasecmp(scheme, "http") == 0 || strcasecmp(scheme, "https") == 0;
    curl_free(scheme);
    return web;
}

// The common name, else the organisation.
std::string DisplayName(const X509_NAME* name) {
    for (const int nid : {NID_commonName, NID_organizationName}) {
        const int at = name != nullptr ? X509_NAME_get_index_by_NID(name, nid, -1) : -1;
        if (at < 0) continue;
        unsigned char* utf8 = nullptr;
        const int size =
            ASN1_STRING_to_UTF8(&utf8, X509_NAME_ENTRY_get_data(X509_NAME_get_entry(name, at)));
        if (size < 0) continue;
        std::string text(reinterpret_cast<const char*>(utf8), static_cast<size_t>(size));
        OPENSSL_free(utf8);
        return text;
    }
    return "";
}

int64_t UnixSeconds(const ASN1_TIME* time) {
    std::tm parts{};
    if (time == nullptr || ASN1_TIME_to_tm(time, &parts) != 1) return 0;
    return static_cast<int64_t>(timegm(&parts));
}

TlsCertificateInfo CertificateInfo(const X509* cert) {
    TlsCertificateInfo info;
    info.present = true;
    info.subject = DisplayName(X509_get_subject_name(cert));
    info.issuer = DisplayName(X509_get_issuer_name(cert));
    info.notBeforeUnix = UnixSeconds(X509_get0_notBefore(cert));
    info.notAfterUnix = UnixSeconds(X509_get0_notAfter(cert));
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length) == 1) {
        static constexpr char kHex[] = "0123456789abcdef";
        for (unsigned int i = 0; i < length; ++i) {
            info.sha256 += kHex[digest[i] >> 4];
            info.sha256 += kHex[digest[i] & 15];
        }
    }
    return info;
}

int64_t Timer(CURL* curl, CURLINFO which) {
    curl_off_t microseconds = 0;
    return curl_easy_getinfo(curl, which, &microseconds) == CURLE_OK ? microseconds : 0;
}

CurlPhaseTimes ReadPhaseTimes(CURL* curl) {
    CurlPhaseTimes t;
    t.nameLookup = Timer(curl, CURLINFO_NAMELOOKUP_TIME_T);
    t.connect = Timer(curl, CURLINFO_CONNECT_TIME_T);
    t.appConnect = Timer(curl, CURLINFO_APPCONNECT_TIME_T);
    t.preTransfer = Timer(curl, CURLINFO_PRETRANSFER_TIME_T);
    t.startTransfer = Timer(curl, CURLINFO_STARTTRANSFER_TIME_T);
    return t;
}

long RedirectCount(CURL* curl) {
    long count = 0;
    curl_easy_getinfo(curl, CURLINFO_REDIRECT_COUNT, &count);
    return count;
}

// One Send's state, reached from libcurl's callbacks on the sending thread.
struct Transfer {
    CURL* curl = nullptr;
    HttpOutcome* out = nullptr;
    size_t maxBodyBytes = 0;
    // Phase sums at the latest status line, and before the request that brought it.
    long redirectsAtResponse = -1;
    CurlPhaseTimes atResponse;
    CurlPhaseTimes beforeLast;
    // The latest chain check since the latest response: its certificate and result.
    X509Ptr checked;
    bool checkRan = false;
    long checkResult = X509_V_OK;
    // Receive time-out: when bytes last moved either way.
    SteadyClock::duration receiveTimeout{};
    curl_off_t lastDown = -1;
    curl_off_t lastUp = -1;
    SteadyClock::time_point lastMoved;

    // Moves the "before the last request" mark when a new request has begun since.
    void NoteRequest(long redirects) {
        if (redirects != redirectsAtResponse) {
            if (redirectsAtResponse >= 0) beforeLast = atResponse;
            redirectsAtResponse = redirects;
        }
    }
};

// An easy handle with the transfer state its callbacks reach. The connections the handle keeps
// are its own, and libcurl hands each TLS context a pointer to this state, so the state lives
// as long as the handle: a connection never calls back into a finished Send's memory.
struct Handle {
    CURL* curl = nullptr;
    Transfer transfer;

    explicit Handle(CURL* easy) : curl(easy) {}
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    ~Handle() { curl_easy_cleanup(curl); }
};

// The connection's TLS details while it is still attached (libcurl hands it back after).
void ReadTls(CURL* curl, HttpOutcome& out) {
    out.tlsProtocol.clear();
    out.tlsCipher.clear();
    out.certificate = {};
    curl_tlssessioninfo* info = nullptr;
    if (curl_easy_getinfo(curl, CURLINFO_TLS_SSL_PTR, &info) != CURLE_OK || info == nullptr ||
        info->backend != CURLSSLBACKEND_OPENSSL || info->internals == nullptr) {
        return;
    }
    const SSL* ssl = static_cast<const SSL*>(info->internals);
    out.tlsProtocol = TlsProtocolName(SSL_version(ssl));
    if (const SSL_CIPHER* cipher = SSL_get_current_cipher(ssl)) {
        out.tlsCipher = SSL_CIPHER_get_name(cipher);
    }
    // Also there on a resumed session, where no chain check runs.
    if (const X509* peer = SSL_get0_peer_certificate(ssl)) out.certificate = CertificateInfo(peer);
}

size_t OnHeader(char* data, size_t size, size_t count, void* user) {
    Transfer& t = *static_cast<Transfer*>(user);
    HttpOutcome& out = *t.out;
    const size_t n = size * count;
    const std::string_view line(data, n);
    if (line.rfind("HTTP/", 0) == 0) {
        // A new response (interim, a redirect's or the final one): keep only the latest.
        out.rawHeaders.clear();
        out.headers.clear();
        out.body.clear();
        out.bodyBytes = 0;
        t.NoteRequest(RedirectCount(t.curl));
        t.atResponse = ReadPhaseTimes(t.curl);
        ReadTls(t.curl, out);
        t.checked.reset();
        t.checkRan = false;
        t.checkResult = X509_V_OK;
    }
    out.rawHeaders.append(line);
    AddHeaderLine(line, out.headers);
    return n;
}

size_t OnBody(char* data, size_t size, size_t count, void* user) {
    Transfer& t = *static_cast<Transfer*>(user);
    std::string& body = t.out->body;
    const size_t n = size * count;
    t.out->bodyBytes += n;
    if (body.size() < t.maxBodyBytes) body.append(data, std::min(n, t.maxBodyBytes - body.size()));
    return n;
}

// libcurl calls this at least about once a second while it waits, and after every read or write.
int OnProgress(void* user, curl_off_t, curl_off_t down, curl_off_t, curl_off_t up) {
    Transfer& t = *static_cast<Transfer*>(user);
    const auto now = SteadyClock::now();
    if (down != t.lastDown || up != t.lastUp) {
        t.lastDown = down;
        t.lastUp = up;
        t.lastMoved = now;
        return 0;
    }
    return now - t.lastMoved >= t.receiveTimeout ? 1 : 0;
}

// Runs OpenSSL's own chain check and keeps the certificate it judged, so that a refused
// certificate can still be described; libcurl's verify mode decides what a failure means.
int CheckChain(X509_STORE_CTX* store, void* user) {
    Transfer& t = *static_cast<Transfer*>(user);
    const bool ok = X509_verify_cert(store) == 1;
    t.checkRan = true;
    t.checkResult = ok ? X509_V_OK : X509_STORE_CTX_get_error(store);
    if (!ok && t.checkResult == X509_V_OK) t.checkResult = X509_V_ERR_UNSPECIFIED;
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    if (leaf != nullptr && X509_up_ref(leaf) == 1) t.checked.reset(leaf);
    return ok ? 1 : 0;
}

// Each new connection gets a TLS context of its own from libcurl.
CURLcode OnSslContext(CURL*, void* context, void* user) {
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(context), CheckChain, user);
    return CURLE_OK;
}

class CurlSession final : public HttpSession {
public:
    CurlSession(std::string userAgent, std::string caFile)
        : userAgent_(std::move(userAgent)), caFile_(std::move(caFile)) {}

    ~CurlSession() override {
        idle_.clear();  // before the share they are attached to
        if (share_ != nullptr) curl_share_cleanup(share_);
    }

    bool Open() {
        share_ = curl_share_init();
        return share_ != nullptr &&
               curl_share_setopt(share_, CURLSHOPT_LOCKFUNC, &CurlSession::Lock) == CURLSHE_OK &&
               curl_share_setopt(share_, CURLSHOPT_UNLOCKFUNC, &CurlSession::Unlock) ==
                   CURLSHE_OK &&
               curl_share_setopt(share_, CURLSHOPT_USERDATA, this) == CURLSHE_OK &&
               curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_DNS) == CURLSHE_OK &&
               curl_share_setopt(share_, CURLSHOPT_SHARE, CURL_LOCK_DATA_SSL_SESSION) == CURLSHE_OK;
    }

    HttpOutcome Send(const HttpExchange& exchange) override {
        HttpOutcome out;
        if (!IsWebUrl(exchange.url)) {
            out.error = kHttpErrorInvalidUrl;
            return out;
        }
        std::unique_ptr<Handle> handle = TakeHandle();
        if (!handle) {
            out.error = kHttpErrorInternal;
            return out;
        }
        Transfer& t = handle->transfer;
        t = Transfer{};
        t.curl = handle->curl;
        t.out = &out;
        t.maxBodyBytes = exchange.maxBodyBytes;
        t.receiveTimeout = std::chrono::milliseconds(exchange.timeoutMs);
        SlistPtr headers(HeaderList(exchange));
        CURLcode result = Configure(t.curl, exchange, t, headers.get());
        if (result == CURLE_OK) result = curl_easy_perform(t.curl);
        Finish(t.curl, result, t, out);
        t.out = nullptr;
        ReturnHandle(std::move(handle));
        return out;
    }

private:
    static void Lock(CURL*, curl_lock_data data, curl_lock_access, void* self) {
        static_cast<CurlSession*>(self)->shareLocks_[static_cast<size_t>(data)].lock();
    }
    static void Unlock(CURL*, curl_lock_data data, void* self) {
        static_cast<CurlSession*>(self)->shareLocks_[static_cast<size_t>(data)].unlock();
    }

    std::unique_ptr<Handle> TakeHandle() {
        {
            std::lock_guard<std::mutex> lock(poolMutex_);
            if (!idle_.empty()) {
                std::unique_ptr<Handle> handle = std::move(idle_.back());
                idle_.pop_back();
                return handle;
            }
        }
        CURL* curl = curl_easy_init();
        if (curl == nullptr) return nullptr;
        auto handle = std::make_unique<Handle>(curl);
        // The share stays with the handle through curl_easy_reset.
        if (curl_easy_setopt(curl, CURLOPT_SHARE, share_) != CURLE_OK) return nullptr;
        return handle;
    }

    void ReturnHandle(std::unique_ptr<Handle> handle) {
        {
            std::lock_guard<std::mutex> lock(poolMutex_);
            if (idle_.size() < kMaxIdleHandles) {
                idle_.push_back(std::move(handle));
                return;
            }
        }
        // One handle too many: it closes its connections here, outside the lock.
    }

    // The caller's headers in order; libcurl's own Expect (a wait for "100 Continue") and form
    // content type are dropped unless the caller set them.
    static curl_slist* HeaderList(const HttpExchange& exchange) {
        curl_slist* list = nullptr;
        const auto add = [&list](const std::string& line) {
            if (curl_slist* longer = curl_slist_append(list, line.c_str())) list = longer;
        };
        for (const auto& [name, value] : exchange.headers) {
            // "Name;" is libcurl's spelling of a header sent with an empty value.
            add(value.empty() ? name + ";" : name + ": " + value);
        }
        if (!HasHeader(exchange.headers, "Expect")) add("Expect:");
        if (!HasHeader(exchange.headers, "Content-Type")) add("Content-Type:");
        return list;
    }

    CURLcode Configure(CURL* curl, const HttpExchange& ex, Transfer& t, curl_slist* headers) {
        curl_easy_reset(curl);
        CURLcode result = CURLE_OK;
        const auto set = [&](CURLoption option, auto value) {
            if (result == CURLE_OK) result = curl_easy_setopt(curl, option, value);
        };
        set(CURLOPT_URL, ex.url.c_str());
        set(CURLOPT_NOSIGNAL, 1L);
        if (!userAgent_.empty()) set(CURLOPT_USERAGENT, userAgent_.c_str());
        set(CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
        set(CURLOPT_PROTOCOLS_STR, kWebSchemes);
        set(CURLOPT_REDIR_PROTOCOLS_STR, kWebSchemes);
        set(CURLOPT_FOLLOWLOCATION, ex.followRedirects ? 1L : 0L);
        set(CURLOPT_MAXREDIRS, kMaxRedirects);
        set(CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);

        if (ex.timeoutMs > 0) {
            set(CURLOPT_CONNECTTIMEOUT_MS, static_cast<long>(ex.timeoutMs));
            set(CURLOPT_NOPROGRESS, 0L);
            set(CURLOPT_XFERINFOFUNCTION, &OnProgress);
            set(CURLOPT_XFERINFODATA, static_cast<void*>(&t));
        }
        const uint64_t totalMs = ex.totalTimeoutMs > 0 ? ex.totalTimeoutMs : 4ull * ex.timeoutMs;
        if (totalMs > 0) set(CURLOPT_TIMEOUT_MS, static_cast<long>(totalMs));

        set(CURLOPT_SSL_VERIFYPEER, ex.ignoreCertificateErrors ? 0L : 1L);
        set(CURLOPT_SSL_VERIFYHOST, ex.ignoreCertificateErrors ? 0L : 2L);
        if (!caFile_.empty()) {
            set(CURLOPT_CAINFO, caFile_.c_str());
            set(CURLOPT_CAPATH, static_cast<const char*>(nullptr));
        }
        set(CURLOPT_SSL_CTX_FUNCTION, &OnSslContext);
        set(CURLOPT_SSL_CTX_DATA, static_cast<void*>(&t));

        set(CURLOPT_HEADERFUNCTION, &OnHeader);
        set(CURLOPT_HEADERDATA, static_cast<void*>(&t));
        set(CURLOPT_WRITEFUNCTION, &OnBody);
        set(CURLOPT_WRITEDATA, static_cast<void*>(&t));
        set(CURLOPT_HTTPHEADER, headers);

        if (ex.freshConnection) {
            set(CURLOPT_FRESH_CONNECT, 1L);
            set(CURLOPT_FORBID_REUSE, 1L);
            set(CURLOPT_DNS_CACHE_TIMEOUT, 0L);
            set(CURLOPT_SSL_SESSIONID_CACHE, 0L);
        }

        if (ex.method == "HEAD") {
            set(CURLOPT_NOBODY, 1L);
        } else if (ex.method == "GET" && ex.body.empty()) {
            set(CURLOPT_HTTPGET, 1L);
        } else {
            set(CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(ex.body.size()));
            set(CURLOPT_POSTFIELDS, ex.body.data());
            if (ex.method != "POST") set(CURLOPT_CUSTOMREQUEST, ex.method.c_str());
        }
        return result;
    }

    static void Finish(CURL* curl, CURLcode result, Transfer& t, HttpOutcome& out) {
        const long redirects = RedirectCount(curl);
        const bool lastRequestAnswered = t.redirectsAtResponse == redirects;
        t.NoteRequest(redirects);
        out.timings = LastRequestTimings(ReadPhaseTimes(curl), t.beforeLast,
                                         Timer(curl, CURLINFO_TOTAL_TIME_T),
                                         Timer(curl, CURLINFO_REDIRECT_TIME_T));
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (result == CURLE_OK) {
            out.received = true;
            out.statusCode = static_cast<int>(status);
            return;
        }
        long verifyResult = t.checkResult;
        if (!t.checkRan) curl_easy_getinfo(curl, CURLINFO_SSL_VERIFYRESULT, &verifyResult);
        out.error = HttpErrorFromCurl(result, verifyResult, redirects > 0);
        if (lastRequestAnswered) {
            out.statusCode = static_cast<int>(status);
        } else {
            // What is there belongs to a redirect before the failing request.
            out.rawHeaders.clear();
            out.headers.clear();
            out.body.clear();
            out.bodyBytes = 0;
            out.tlsProtocol.clear();
            out.tlsCipher.clear();
            out.certificate = {};
        }
        if (t.checked && !out.certificate.present)
            out.certificate = CertificateInfo(t.checked.get());
    }

    const std::string userAgent_;
    const std::string caFile_;
    std::array<std::mutex, CURL_LOCK_DATA_LAST> shareLocks_;
    CURLSH* share_ = nullptr;
    std::mutex poolMutex_;
    std::vector<std::unique_ptr<Handle>> idle_;
};

}  // namespace

std::unique_ptr<HttpSession> LinuxHttp::OpenSession(const std::string& userAgent, uint32_t* error) {
    auto session = std::make_unique<CurlSession>(userAgent, options_.caFile);
    if (!StartCurl() || !session->Open()) {
        if (error != nullptr) *error = kHttpErrorInternal;
        return nullptr;
    }
    if (error != nullptr) *error = 0;
    return session;
}

}  // namespace quillon::lnx
