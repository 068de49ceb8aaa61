// Live exchanges with servers of the test's own on loopback: cpp-httplib over HTTP and over
// HTTPS with certificates made for the run by the openssl tool (a test CA that signs a good, an
// expired and a wrong-name certificate, and a self-signed one), and raw TCP listeners that stay
// silent, close early or answer garbage. An unknown name is looked up inside a private network
// namespace (root only), where no query can leave.
#include "platform/linux/linux_http.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "fakes/http_exchange.h"
#include "fakes/temp_dir.h"
#include "loopback_udp.h"
#include "private_namespace.h"

namespace quillon::lnx {
namespace {

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;
using test::ExpectPlainHello;
using test::ExpectStatusAnswers;
using test::Get;
using test::HeaderValue;
using test::Open;
using testing::BoundSocket;

// A cpp-httplib server, its routes already set, served on a loopback port until destroyed.
class WebServer {
public:
    WebServer(std::unique_ptr<httplib::Server> server, const char* scheme)
        : server_(std::move(server)), scheme_(scheme) {
        server_->set_keep_alive_timeout(1);
        port_ = server_->bind_to_any_port("127.0.0.1");
        EXPECT_GT(port_, 0);
        thread_ = std::thread([this] { server_->listen_after_bind(); });
        const auto deadline = SteadyClock::now() + 5s;
        while (!server_->is_running() && SteadyClock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
    }
    ~WebServer() {
        server_->stop();
        thread_.join();
    }
    std::string Url(const std::string& path) const {
        return std::string(scheme_) + "://127.0.0.1:" + std::to_string(port_) + path;
    }

private:
    std::unique_ptr<httplib::Server> server_;
    const char* scheme_;
    int port_ = 0;
    std::thread thread_;
};

// Accepts loopback connections one at a time and hands each to `serve`, then closes it.
class RawServer {
public:
    explicit RawServer(std::function<void(int)> serve)
        : listener_(SOCK_STREAM), serve_(std::move(serve)) {
        EXPECT_EQ(listen(listener_.fd(), 8), 0);
        thread_ = std::thread([this] {
            while (!stop_) {
                pollfd waiting{listener_.fd(), POLLIN, 0};
                if (poll(&waiting, 1, 20) != 1) continue;
                const int connection = accept4(listener_.fd(), nullptr, nullptr, SOCK_CLOEXEC);
                if (connection < 0) continue;
                serve_(connection);
                close(connection);
            }
        });
    }
    ~RawServer() {
        stop_ = true;
        thread_.join();
    }
    std::string Url() const { return "http://127.0.0.1:" + std::to_string(listener_.port()) + "/"; }

private:
    BoundSocket listener_;
    std::function<void(int)> serve_;
    std::atomic<bool> stop_{false};
    std::thread thread_;
};

void ReadRequest(int fd) {
    char buffer[4096];
    (void)!recv(fd, buffer, sizeof(buffer), 0);
}

void ExpectFailed(const HttpOutcome& out, uint32_t error, const std::string& what = "") {
    EXPECT_FALSE(out.received) << what;
    EXPECT_EQ(out.error, error) << what;
}

// The phases of a request on a new connection come in their order.
void ExpectOrderedPhases(const HttpPhaseTimings& t, bool tls) {
    EXPECT_GT(t.nameResolvedMs, 0);
    EXPECT_LE(t.nameResolvedMs, t.connectedMs);
    if (tls) {
        EXPECT_LE(t.connectedMs, t.tlsDoneMs);
        EXPECT_LE(t.tlsDoneMs, t.requestSentMs);
    } else {
        EXPECT_EQ(t.tlsDoneMs, 0);
    }
    EXPECT_LE(t.connectedMs, t.requestSentMs);
    EXPECT_LE(t.requestSentMs, t.firstByteMs);
    EXPECT_LE(t.firstByteMs, t.totalMs);
}

// The plain server: a page, error statuses, redirects, an echo of what a request carried, a
// huge and an endless body; it notes the client port of every request, one per connection.
class PlainServer {
public:
    PlainServer() : web_(Routes(), "http") {}
    std::string Url(const std::string& path) const { return web_.Url(path); }
    size_t Connections() {
        std::lock_guard<std::mutex> lock(mutex_);
        return ports_.size();
    }
    static constexpr size_t kHugeBytes = 20u << 20;

private:
    std::unique_ptr<httplib::Server> Routes() {
        auto s = std::make_unique<httplib::Server>();
        s->set_pre_routing_handler([this](const httplib::Request& req, httplib::Response&) {
            std::lock_guard<std::mutex> lock(mutex_);
            ports_.insert(req.remote_port);
            return httplib::Server::HandlerResponse::Unhandled;
        });
        s->Get("/hello", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("X-Answer", "42");
            res.set_content("hello", "text/plain");
        });
        s->Get(R"(/status/(\d+))", [](const httplib::Request& req, httplib::Response& res) {
            res.status = std::stoi(req.matches[1]);
            res.set_content("status body", "text/plain");
        });
        s->Get("/redirect", [](const httplib::Request&, httplib::Response& res) {
            std::this_thread::sleep_for(150ms);
            res.set_redirect("/hello");
        });
        s->Get("/loop",
               [](const httplib::Request&, httplib::Response& res) { res.set_redirect("/loop"); });
        s->Get("/to-ftp", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("ftp://127.0.0.1/file");
        });
        const auto echo = [](const httplib::Request& req, httplib::Response& res) {
            std::string text =
                req.method + " agent=" + req.get_header_value("User-Agent") + " multi=";
            for (size_t i = 0; i < req.get_header_value_count("X-Multi"); ++i) {
                text += req.get_header_value("X-Multi", i) + ",";
            }
            text += " expect=" + req.get_header_value("Expect") +
                    " type=" + req.get_header_value("Content-Type") +
                    " bytes=" + std::to_string(req.body.size());
            res.set_content(text, "text/plain");
        };
        s->Post("/echo", echo);
        s->Put("/echo", echo);
        s->Get("/huge", [](const httplib::Request&, httplib::Response& res) {
            res.set_content_provider(kHugeBytes, "application/octet-stream",
                                     [](size_t offset, size_t length, httplib::DataSink& sink) {
                                         std::string chunk(std::min<size_t>(length, 64 << 10),
                                                           'a' + offset % 26);
                                         return sink.write(chunk.data(), chunk.size());
                                     });
        });
        s->Get("/trickle", [](const httplib::Request&, httplib::Response& res) {
            res.set_chunked_content_provider("text/plain", [](size_t, httplib::DataSink& sink) {
                std::this_thread::sleep_for(100ms);
                return sink.write("x", 1);
            });
        });
        return s;
    }

    std::mutex mutex_;
    std::set<int> ports_;
    WebServer web_;
};

template <class F>
SteadyClock::duration Timed(F call) {
    const auto start = SteadyClock::now();
    call();
    return SteadyClock::now() - start;
}

TEST(LinuxHttp, GetReturnsStatusHeadersBodyAndOrderedPhases) {
    PlainServer server;
    LinuxHttp http;
    auto session = Open(http);
    const HttpOutcome out = ExpectPlainHello(*session, server.Url("/hello"));
    ASSERT_TRUE(out.received);
    ExpectOrderedPhases(out.timings, false);
    ExpectStatusAnswers(*session, [&](const std::string& path) { return server.Url(path); });
}

TEST(LinuxHttp, SendsMethodAgentHeadersInOrderAndBody) {
    PlainServer server;
    LinuxHttp http;
    auto session = Open(http);
    HttpExchange post = Get(server.Url("/echo"));
    post.method = "POST";
    post.headers = {{"X-Multi", "one"}, {"X-Multi", "two"}};
    post.body = std::string((1 << 20) + 1, 'b');  // libcurl would wait for "100 Continue"
    HttpOutcome out = session->Send(post);
    ASSERT_TRUE(out.received) << out.error;
    EXPECT_EQ(out.body, "POST agent=QuillonTest/1.0 multi=one,two, expect= type= bytes=1048577");

    post.method = "PUT";
    post.headers = {{"Content-Type", "application/json"}};
    post.body = "{}";
    out = session->Send(post);
    EXPECT_EQ(out.body, "PUT agent=QuillonTest/1.0 multi= expect= type=application/json bytes=2");
}

TEST(LinuxHttp, RedirectsAreFollowedAndTheLastRequestIsTimedAlone) {
    PlainServer server;
    LinuxHttp http;
    auto session = Open(http);
    HttpOutcome out;
    const auto took = Timed([&] { out = session->Send(Get(server.Url("/redirect"))); });
    ASSERT_TRUE(out.received) << out.error;
    EXPECT_EQ(out.statusCode, 200);
    EXPECT_EQ(out.body, "hello");
    EXPECT_EQ(out.rawHeaders.rfind("HTTP/1.1 200 OK\r\n", 0), 0u) << out.rawHeaders;
    EXPECT_EQ(HeaderValue(out.headers, "Location"), "<none>");
    // The first request waited 150 ms for its answer; the last one did not.
    EXPECT_GE(out.timings.redirectMs, 150);
    EXPECT_LT(out.timings.firstByteMs, 100);
    EXPECT_LE(out.timings.firstByteMs, out.timings.totalMs);
    const double tookMs = std::chrono::duration<double, std::milli>(took).count();
    EXPECT_LE(out.timings.redirectMs + out.timings.totalMs, tookMs + 1);

    HttpExchange notFollowed = Get(server.Url("/redirect"));
    notFollowed.followRedirects = false;
    out = session->Send(notFollowed);
    EXPECT_TRUE(out.received);
    EXPECT_EQ(out.statusCode, 302);
    EXPECT_EQ(HeaderValue(out.headers, "Location"), "/hello");

    for (const char* path : {"/loop", "/to-ftp"}) {
        out = session->Send(Get(server.Url(path)));
        ExpectFailed(out, kHttpErrorRedirectFailed, path);
    }
}

TEST(LinuxHttp, FailuresOfAddressConnectionAndReplyHaveThePortsErrors) {
    LinuxHttp http;
    auto session = Open(http);
    for (const char* url : {"", "http//127.0.0.1/", "ftp://127.0.0.1/", "file:///etc/hosts"}) {
        const HttpOutcome out = session->Send(Get(url));
        ExpectFailed(out, kHttpErrorInvalidUrl, url);
    }

    BoundSocket closed(SOCK_STREAM);
    closed.Close();
    HttpOutcome out = session->Send(Get("http://127.0.0.1:" + std::to_string(closed.port()) + "/"));
    ExpectFailed(out, kHttpErrorCannotConnect);

    RawServer hangsUp(ReadRequest);
    out = session->Send(Get(hangsUp.Url()));
    ExpectFailed(out, kHttpErrorConnectionError);

    RawServer garbage([](int fd) {
        ReadRequest(fd);
        const char reply[] = "SSH-2.0-something else entirely\r\n\r\n";
        (void)!send(fd, reply, sizeof(reply) - 1, MSG_NOSIGNAL);
    });
    out = session->Send(Get(garbage.Url()));
    ExpectFailed(out, kHttpErrorInvalidResponse);
}

TEST(LinuxHttp, SilentAndTricklingServersEndWithinTheirTimeouts) {
    PlainServer server;
    LinuxHttp http;
    auto session = Open(http);
    // Accepted by the kernel, never answered: the receive time-out ends it, well before the
    // whole exchange's bound (four times as long).
    BoundSocket silent(SOCK_STREAM);
    ASSERT_EQ(listen(silent.fd(), 4), 0);
    HttpOutcome out;
    auto took = Timed([&] {
        out = session->Send(Get("http://127.0.0.1:" + std::to_string(silent.port()) + "/", 500));
    });
    ExpectFailed(out, kHttpErrorTimeout);
    EXPECT_GE(took, 500ms);
    EXPECT_LT(took, 1800ms);

    // A byte every 100 ms never stalls for 300 ms; the bound on the whole exchange ends it.
    HttpExchange trickle = Get(server.Url("/trickle"), 300);
    trickle.totalTimeoutMs = 800;
    took = Timed([&] { out = session->Send(trickle); });
    ExpectFailed(out, kHttpErrorTimeout);
    EXPECT_EQ(out.statusCode, 200);
    EXPECT_GE(out.bodyBytes, 3u);
    EXPECT_GE(took, 790ms);
    EXPECT_LT(took, 1500ms);
}

TEST(LinuxHttp, HugeBodyIsCountedButKeptOnlyUpToTheCap) {
    PlainServer server;
    LinuxHttp http;
    auto session = Open(http);
    HttpExchange exchange = Get(server.Url("/huge"));
    exchange.maxBodyBytes = 1000;
    const HttpOutcome out = session->Send(exchange);
    ASSERT_TRUE(out.received) << out.error;
    EXPECT_EQ(out.bodyBytes, PlainServer::kHugeBytes);
    ASSERT_EQ(out.body.size(), 1000u);
    EXPECT_EQ(out.body, std::string(1000, 'a'));
    EXPECT_LT(out.body.capacity(), 64u << 10) << "the whole body was held at some point";
}

TEST(LinuxHttp, FreshConnectionsAreNewWhileOthersReuseOne) {
    PlainServer server;
    LinuxHttp http;
    auto session = Open(http);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(session->Send(Get(server.Url("/hello"))).received);
    EXPECT_EQ(server.Connections(), 1u);
    HttpExchange fresh = Get(server.Url("/hello"));
    fresh.freshConnection = true;
    for (int i = 0; i < 3; ++i) {
        const HttpOutcome out = session->Send(fresh);
        EXPECT_TRUE(out.received);
        ExpectOrderedPhases(out.timings, false);
    }
    EXPECT_EQ(server.Connections(), 4u);
}

TEST(LinuxHttp, UnknownNameIsNotResolved) {
    if (geteuid() != 0) GTEST_SKIP() << "creating a network namespace needs root";
    testing::InPrivateNamespace("", [] {
        LinuxHttp http;
        auto session = Open(http);
        const HttpOutcome out = session->Send(Get("http://quillon-test.invalid/", 3000));
        ExpectFailed(out, kHttpErrorNameNotResolved);
    });
}

// Certificates for 127.0.0.1 made once for the suite: signed by a test CA (good, expired, for
// another name) and self-signed with an organisation but no common name.
class LinuxHttpTls : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = new test::TempDir();
        const std::string script = R"(set -e
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1"; }
key ca.key
openssl req -x509 -key ca.key -out ca.pem -days 2 -subj "/CN=Quillon Test CA"
key server.key
openssl req -new -key server.key -out server.csr -subj "/CN=quillon-test-server" \
    -addext "subjectAltName=IP:127.0.0.1,DNS:localhost"
openssl req -new -key server.key -out other.csr -subj "/CN=elsewhere.test" \
    -addext "subjectAltName=DNS:elsewhere.test"
cat > ca.cnf <<'END'
[ca]
default_ca = test
[test]
database = index.txt
new_certs_dir = .
certificate = ca.pem
private_key = ca.key
rand_serial = yes
default_md = sha256
policy = any
copy_extensions = copy
unique_subject = no
[any]
commonName = supplied
END
: > index.txt
sign() { openssl ca -batch -notext -config ca.cnf -in "$1" -out "$2" -startdate "$3" -enddate "$4"; }
sign server.csr good.pem 20240101000000Z 20991231000000Z
sign server.csr expired.pem 20200101000000Z 20200201000000Z
sign other.csr other.pem 20240101000000Z 20991231000000Z
openssl req -x509 -key server.key -out self.pem -days 2 -subj "/O=Quillon Self Signed" \
    -addext "subjectAltName=IP:127.0.0.1"
)";
        std::ofstream(folder_->path() / "make.sh") << script;
        const std::string command =
            "cd '" + folder_->path().string() + "' && bash make.sh >make.log 2>&1";
        ready_ = std::system(command.c_str()) == 0;
    }
    static void TearDownTestSuite() {
        delete folder_;
        folder_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(ready_) << "the openssl tool could not make certificates"; }

    static std::string File(const char* name) { return (folder_->path() / name).string(); }

    // An HTTPS server with one certificate, serving /hello.
    static std::unique_ptr<WebServer> Serve(const char* certificate) {
        auto s = std::make_unique<httplib::SSLServer>(File(certificate).c_str(),
                                                      File("server.key").c_str());
        EXPECT_TRUE(s->is_valid());
        s->Get("/hello", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("hello", "text/plain");
        });
        return std::make_unique<WebServer>(std::move(s), "https");
    }

    LinuxHttp TrustingTestCa() { return LinuxHttp(LinuxHttpOptions{File("ca.pem")}); }

    static constexpr int64_t k2020Feb01 = 1580515200;
    static constexpr int64_t k2024Jan01 = 1704067200;
    static constexpr int64_t k2099Dec31 = 4102358400;

private:
    static test::TempDir* folder_;
    static bool ready_;
};
test::TempDir* LinuxHttpTls::folder_ = nullptr;
bool LinuxHttpTls::ready_ = false;

TEST_F(LinuxHttpTls, TrustedServerGivesProtocolCipherAndCertificate) {
    auto good = Serve("good.pem");
    LinuxHttp http = TrustingTestCa();
    auto session = Open(http);
    const HttpOutcome out = session->Send(Get(good->Url("/hello")));
    ASSERT_TRUE(out.received) << out.error;
    EXPECT_EQ(out.statusCode, 200);
    EXPECT_EQ(out.body, "hello");
    EXPECT_EQ(out.tlsProtocol, "TLS 1.3");
    EXPECT_EQ(out.tlsCipher.rfind("TLS_", 0), 0u) << out.tlsCipher;
    EXPECT_TRUE(out.certificate.present);
    EXPECT_EQ(out.certificate.subject, "quillon-test-server");
    EXPECT_EQ(out.certificate.issuer, "Quillon Test CA");
    EXPECT_EQ(out.certificate.notBeforeUnix, k2024Jan01);
    EXPECT_EQ(out.certificate.notAfterUnix, k2099Dec31);
    ExpectOrderedPhases(out.timings, true);
    EXPECT_GT(out.timings.tlsDoneMs, out.timings.connectedMs);

    // The system's store does not know the test CA.
    LinuxHttp systemTrust;
    const HttpOutcome untrusted = Open(systemTrust)->Send(Get(good->Url("/hello")));
    ExpectFailed(untrusted, kHttpErrorCertificateAuthority);
    EXPECT_EQ(untrusted.certificate.issuer, "Quillon Test CA");
}

TEST_F(LinuxHttpTls, RefusedCertificatesAreStillDescribed) {
    auto expired = Serve("expired.pem");
    auto self = Serve("self.pem");
    auto otherName = Serve("other.pem");
    LinuxHttp http = TrustingTestCa();
    auto session = Open(http);

    HttpOutcome out = session->Send(Get(expired->Url("/hello")));
    ExpectFailed(out, kHttpErrorCertificateDate);
    EXPECT_TRUE(out.certificate.present);
    EXPECT_EQ(out.certificate.subject, "quillon-test-server");
    EXPECT_EQ(out.certificate.notAfterUnix, k2020Feb01);
    EXPECT_LT(out.certificate.notAfterUnix, std::time(nullptr));

    out = session->Send(Get(self->Url("/hello")));
    ExpectFailed(out, kHttpErrorCertificateAuthority);
    EXPECT_TRUE(out.certificate.present);
    EXPECT_EQ(out.certificate.subject, "Quillon Self Signed");
    EXPECT_EQ(out.certificate.issuer, "Quillon Self Signed");

    out = session->Send(Get(otherName->Url("/hello")));
    ExpectFailed(out, kHttpErrorCertificateName);
    EXPECT_EQ(out.certificate.subject, "elsewhere.test");

    for (const WebServer* server : {self.get(), otherName.get()}) {
        HttpExchange ignoring = Get(server->Url("/hello"));
        ignoring.ignoreCertificateErrors = true;
        out = session->Send(ignoring);
        EXPECT_TRUE(out.received) << out.error;
        EXPECT_EQ(out.body, "hello");
        EXPECT_TRUE(out.certificate.present);
    }
}

TEST_F(LinuxHttpTls, SendsFromSeveralThreadsShareOneSession) {
    auto good = Serve("good.pem");
    LinuxHttp http = TrustingTestCa();
    auto session = Open(http);
    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < 5; ++n) {
                HttpExchange exchange = Get(good->Url("/hello"));
                exchange.freshConnection = (i + n) % 3 == 0;
                const HttpOutcome out = session->Send(exchange);
                if (out.received && out.body == "hello" && out.certificate.present) ++answered;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(answered, 20);
}

}  // namespace
}  // namespace quillon::lnx
