// WinHTTP under Wine against servers of the test's own on 127.0.0.1: a small HTTP/1.1 server
// over Winsock (keep-alive, a page, statuses, redirects, an echo, a huge, a cut-off and an
// endless body, a server that hangs up and one that answers garbage), a listener that never
// answers and a closed port.
#include "platform/win32/win32_http.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "http_loopback.h"

namespace quillon::win32 {
namespace {

using namespace testing;

using namespace std::chrono_literals;
using SteadyClock = std::chrono::steady_clock;

constexpr size_t kHugeBytes = 20u << 20;

bool SendAll(SOCKET s, const std::string& bytes) {
    return send(s, bytes.data(), int(bytes.size()), 0) == int(bytes.size());
}

std::string Reply(const std::string& status, const std::string& body,
                  const std::string& extra = "") {
    return "HTTP/1.1 " + status + "\r\n" + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

// The value of a request header, by exact name; several are joined with commas.
std::string Header(const std::string& head, const std::string& name) {
    std::string values;
    for (size_t at = head.find("\r\n" + name + ": "); at != std::string::npos;
         at = head.find("\r\n" + name + ": ", at + 1)) {
        const size_t from = at + name.size() + 4;
        values += (values.empty() ? "" : ",") + head.substr(from, head.find("\r\n", from) - from);
    }
    return values;
}

// A keep-alive HTTP/1.1 server; counts the connections it accepted.
class WebServer {
public:
    WebServer() : listener_(Listener(&port_)) {
        accepting_ = std::thread([this] {
            while (Readable(listener_)) {
                const SOCKET c = accept(listener_, nullptr, nullptr);
                if (c == INVALID_SOCKET) continue;
                std::lock_guard<std::mutex> lock(mutex_);
                connections_.push_back(c);
                threads_.emplace_back([this, c] { Serve(c); });
            }
        });
    }
    ~WebServer() {
        stop_ = true;
        accepting_.join();
        closesocket(listener_);
        for (std::thread& t : threads_) t.join();
        for (SOCKET c : connections_) closesocket(c);
    }
    std::string Url(const std::string& path) const {
        return "http://127.0.0.1:" + std::to_string(port_) + path;
    }
    size_t Connections() {
        std::lock_guard<std::mutex> lock(mutex_);
        return connections_.size();
    }

private:
    // Waits for bytes or a connection in short steps, so that the server stops promptly (a
    // blocked recv or accept is not woken by closing its socket under Wine).
    bool Readable(SOCKET s) {
        while (!stop_) {
            fd_set set;
            FD_ZERO(&set);
            FD_SET(s, &set);
            timeval step{0, 20000};
            const int ready = select(0, &set, nullptr, nullptr, &step);
            if (ready != 0) return ready > 0;
        }
        return false;
    }

    // Ends the connection, as far as the client sees, when it returns.
    void Serve(SOCKET c) {
        ServeRequests(c);
        shutdown(c, SD_BOTH);
    }

    void ServeRequests(SOCKET c) {
        std::string pending;
        char buffer[65536];
        for (;;) {
            const size_t end = pending.find("\r\n\r\n");
            if (end == std::string::npos) {
                const int got = Readable(c) ? recv(c, buffer, sizeof(buffer), 0) : 0;
                if (got <= 0) return;
                pending.append(buffer, got);
                continue;
            }
            const std::string head = pending.substr(0, end + 2);
            const size_t length = std::stoul("0" + Header(head, "Content-Length"));
            while (pending.size() < end + 4 + length) {
                const int got = Readable(c) ? recv(c, buffer, sizeof(buffer), 0) : 0;
                if (got <= 0) return;
                pending.append(buffer, got);
            }
            pending.erase(0, end + 4 + length);
            if (!Answer(c, head, length)) return;
        }
    }

    // Answers one request; false ends the connection.
    bool Answer(SOCKET c, const std::string& head, size_t bodyBytes) {
        const std::string method = head.substr(0, head.find(' '));
        const size_t from = method.size() + 1;
        const std::string path = head.substr(from, head.find(' ', from) - from);
        if (path == "/hello") return SendAll(c, Reply("200 OK", "hello", "X-Answer: 42\r\n"));
        if (path.rfind("/status/", 0) == 0)
            return SendAll(c, Reply(path.substr(8) + " Whatever", "status body"));
        if (path == "/redirect") {
            std::this_thread::sleep_for(150ms);
            return SendAll(c, Reply("302 Found", "", "Location: /hello\r\n"));
        }
        if (path == "/loop") return SendAll(c, Reply("302 Found", "", "Location: /loop\r\n"));
        if (path == "/echo") {
            return SendAll(c, Reply("200 OK", method + " agent=" + Header(head, "User-Agent") +
                                                  " multi=" + Header(head, "X-Multi") +
                                                  " type=" + Header(head, "Content-Type") +
                                                  " bytes=" + std::to_string(bodyBytes)));
        }
        if (path == "/huge") {
            if (!SendAll(c, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(kHugeBytes) +
                                "\r\n\r\n"))
                return false;
            for (size_t sent = 0; sent < kHugeBytes; sent += 64 << 10) {
                if (!SendAll(c, std::string(64 << 10, char('a' + sent / (64 << 10) % 26))))
                    return false;
            }
            return true;
        }
        if (path == "/trickle") {
            SendAll(c, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
            while (!stop_ && SendAll(c, "1\r\nx\r\n")) std::this_thread::sleep_for(100ms);
            return false;
        }
        if (path == "/cut") SendAll(c, "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nonly this");
        if (path == "/garbage") SendAll(c, "SSH-2.0-something else entirely\r\n\r\n");
        return false;  // "/hangup" and anything else: closed without an answer
    }

    Win32Sockets winsock_;  // started before the listener, ended after it
    uint16_t port_ = 0;
    SOCKET listener_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<SOCKET> connections_;
    std::vector<std::thread> threads_;
    std::thread accepting_;
};

template <class F>
std::chrono::milliseconds Timed(F call) {
    const auto start = SteadyClock::now();
    call();
    return std::chrono::duration_cast<std::chrono::milliseconds>(SteadyClock::now() - start);
}

TEST(Win32Http, GetAndPostCarryStatusHeadersBodyAndOrderedPhases) {
    WebServer server;
    Win32Http http;
    auto session = Open(http);
    HttpOutcome out = ExpectPlainHello(*session, server.Url("/hello"));
    ASSERT_TRUE(out.received);
    ExpectOrderedPhases(out.timings, false);
    ExpectStatusAnswers(*session, [&](const std::string& path) { return server.Url(path); });

    HttpExchange post = Get(server.Url("/echo"));
    post.method = "POST";
    post.headers = {{"X-Multi", "one"}, {"X-Multi", "two"}};
    post.body = std::string((1 << 20) + 1, 'b');
    out = session->Send(post);
    EXPECT_EQ(out.body, "POST agent=QuillonTest/1.0 multi=one,two type= bytes=1048577");
    post.method = "PUT";
    post.headers = {{"Content-Type", "application/json"}};
    post.body = "{}";
    EXPECT_EQ(session->Send(post).body,
              "PUT agent=QuillonTest/1.0 multi= type=application/json bytes=2");
}

TEST(Win32Http, RedirectsAreFollowedOrNotAndTheLastRequestIsTimedAlone) {
    WebServer server;
    Win32Http http;
    auto session = Open(http);
    HttpOutcome out;
    const auto took = Timed([&] { out = session->Send(Get(server.Url("/redirect"))); });
    ASSERT_TRUE(out.received) << out.error;
    EXPECT_EQ(out.statusCode, 200);
    EXPECT_EQ(out.body, "hello");
    EXPECT_EQ(HeaderValue(out.headers, "Location"), "<none>");
    EXPECT_GE(out.timings.redirectMs, 150);
    EXPECT_LT(out.timings.firstByteMs, 100);
    EXPECT_LE(out.timings.redirectMs + out.timings.totalMs, took.count() + 1);

    HttpExchange notFollowed = Get(server.Url("/redirect"));
    notFollowed.followRedirects = false;
    out = session->Send(notFollowed);
    EXPECT_TRUE(out.received);
    EXPECT_EQ(out.statusCode, 302);
    EXPECT_EQ(HeaderValue(out.headers, "Location"), "/hello");

    out = session->Send(Get(server.Url("/loop")));
    EXPECT_FALSE(out.received);
    EXPECT_EQ(out.error, kHttpErrorRedirectFailed);
}

TEST(Win32Http, FailuresOfAddressConnectionAndReplyHaveThePortsErrors) {
    WebServer server;
    Win32Http http;
    auto session = Open(http);
    for (const char* url : {"", "http//127.0.0.1/", "ftp://127.0.0.1/", "file:///c:/x"}) {
        const HttpOutcome out = session->Send(Get(url));
        EXPECT_FALSE(out.received);
        EXPECT_EQ(out.error, kHttpErrorInvalidUrl) << url;
    }
    uint16_t closedPort = 0;
    closesocket(Listener(&closedPort));
    HttpOutcome out = session->Send(Get("http://127.0.0.1:" + std::to_string(closedPort) + "/"));
    EXPECT_FALSE(out.received);
    EXPECT_EQ(out.error, kHttpErrorCannotConnect);
    EXPECT_EQ(out.timings.requestSentMs, 0);  // the request never left

    // Closed without a word: WinHTTP takes that for an invalid reply, as it does garbage.
    for (const char* path : {"/hangup", "/garbage"}) {
        out = session->Send(Get(server.Url(path)));
        EXPECT_FALSE(out.received) << path;
        EXPECT_EQ(out.error, kHttpErrorInvalidResponse) << path;
        EXPECT_GT(out.timings.requestSentMs, 0) << path;
    }
    out = session->Send(Get(server.Url("/cut")));
    EXPECT_FALSE(out.received);
    EXPECT_EQ(out.error, kHttpErrorConnectionError);
    EXPECT_EQ(out.statusCode, 200);
    EXPECT_EQ(out.body, "only this");
}

TEST(Win32Http, SilentAndTricklingServersEndWithinTheirTimeouts) {
    WebServer server;
    Win32Http http;
    auto session = Open(http);
    uint16_t port = 0;
    const SOCKET silent = Listener(&port);  // the kernel accepts; nobody answers
    HttpOutcome out;
    auto took = Timed(
        [&] { out = session->Send(Get("http://127.0.0.1:" + std::to_string(port) + "/", 500)); });
    closesocket(silent);
    EXPECT_FALSE(out.received);
    EXPECT_EQ(out.error, kHttpErrorTimeout);
    EXPECT_GT(out.timings.requestSentMs, 0);
    EXPECT_GE(took, 490ms);
    EXPECT_LT(took, 1800ms);

    // A byte every 100 ms never stalls for 300 ms; the bound on the whole exchange ends it.
    HttpExchange trickle = Get(server.Url("/trickle"), 300);
    trickle.totalTimeoutMs = 800;
    took = Timed([&] { out = session->Send(trickle); });
    EXPECT_FALSE(out.received);
    EXPECT_EQ(out.error, kHttpErrorTimeout);
    EXPECT_EQ(out.statusCode, 200);
    EXPECT_GE(out.bodyBytes, 3u);
    EXPECT_GE(took, 790ms);
    EXPECT_LT(took, 1500ms);
}

TEST(Win32Http, HugeBodyIsCountedButKeptOnlyUpToTheCap) {
    WebServer server;
    Win32Http http;
    auto session = Open(http);
    HttpExchange exchange = Get(server.Url("/huge"));
    exchange.maxBodyBytes = 1000;
    const HttpOutcome out = session->Send(exchange);
    ASSERT_TRUE(out.received) << out.error;
    EXPECT_EQ(out.bodyBytes, kHugeBytes);
    EXPECT_EQ(out.body, std::string(1000, 'a'));
    EXPECT_LT(out.body.capacity(), 64u << 10) << "the whole body was held at some point";
}

TEST(Win32Http, ConnectionsAreReusedUnlessFreshAndSessionsServeThreads) {
    WebServer server;
    Win32Http http;
    auto session = Open(http);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(session->Send(Get(server.Url("/hello"))).received);
    EXPECT_EQ(server.Connections(), 1u);
    HttpExchange fresh = Get(server.Url("/hello"));
    fresh.freshConnection = true;
    HttpOutcome out;
    for (int i = 0; i < 3; ++i) EXPECT_TRUE((out = session->Send(fresh)).received);
    // Windows keeps idle connections per session, so each fresh request connects anew; Wine
    // keeps them per process, so the first one may take the idle one, but none keeps its own.
    EXPECT_GE(server.Connections(), 3u);
    ExpectOrderedPhases(out.timings, false);

    std::atomic<int> answered{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < 4; ++i) {
        threads.emplace_back([&, i] {
            for (int n = 0; n < 5; ++n) {
                HttpExchange exchange = Get(server.Url("/hello"));
                exchange.freshConnection = (i + n) % 3 == 0;
                if (session->Send(exchange).body == "hello") ++answered;
            }
        });
    }
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(answered, 20);
}

}  // namespace
}  // namespace quillon::win32
