#include "platform/linux/page_bridge.h"

#include <dirent.h>
#include <httplib.h>
#include <netdb.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <deque>
#include <fstream>
#include <mutex>
#include <optional>
#include <random>
#include <sstream>
#include <thread>
#include <vector>

#include "platform/linux/bridge_rules.h"

namespace quillon::lnx {

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Each event stream holds a server thread for as long as its page is open; the pool leaves
// room for page loads and posts beside the most streams we accept. A page on this computer
// needs one stream, a reload briefly two.
constexpr size_t kServerThreads = 12;
constexpr size_t kMaxStreams = 8;
// A page that stops reading is cut off rather than buffered without end.
constexpr size_t kMaxPendingPerStream = 256;
// A stream loop sleeps until there is something to send, the bridge stops or its page goes
// away, which it sees on the connection's socket. Where that socket cannot be found it looks
// every couple of seconds instead; each such wake-up costs a laptop on battery a little.
constexpr auto kStreamCheck = std::chrono::seconds(2);
// A comment line now and then lets a dead connection show itself as a failed write.
constexpr auto kKeepAliveEvery = std::chrono::seconds(15);
constexpr size_t kMaxMessageBytes = 1 << 20;
constexpr uintmax_t kMaxFileBytes = 64u << 20;

constexpr char kTokenParam[] = "token";
constexpr char kTokenHeader[] = "X-Quillon-Token";

// One open event stream. Its loop sleeps on `wake`, which posts and the bridge's stop signal.
struct EventStream {
    EventStream() : wake(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}
    ~EventStream() {
        if (wake >= 0) close(wake);
    }
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;

    void Wake() const {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t n = write(wake, &one, sizeof(one));
    }

    const int wake;                   // eventfd
    std::deque<std::string> pending;  // framed events not yet written
    bool dropped = false;             // fell too far behind
};

// Shared by the bridge and every stream loop.
struct Hub {
    std::mutex mutex;
    std::vector<std::shared_ptr<EventStream>> streams;
    bool stopping = false;
};

// "host:port" of one end of a socket, numeric, as the library writes a request's addresses.
std::string EndText(const sockaddr_storage& end, socklen_t length) {
    char host[NI_MAXHOST];
    char port[NI_MAXSERV];
    if (getnameinfo(reinterpret_cast<const sockaddr*>(&end), length, host, sizeof(host), port,
                    sizeof(port), NI_NUMERICHOST | NI_NUMERICSERV) != 0) {
        return "";
    }
    return std::string(host) + ":" + port;
}

// The socket of the connection a request came on, found by its two ends; -1 when there is
// none. The library runs the handler on that connection's thread but does not hand out its
// socket, which is open for as long as the handler runs.
int ConnectionSocket(const httplib::Request& req) {
    const std::string local = req.local_addr + ":" + std::to_string(req.local_port);
    const std::string remote = req.remote_addr + ":" + std::to_string(req.remote_port);
    DIR* folder = opendir("/proc/self/fd");
    if (folder == nullptr) return -1;
    int found = -1;
    while (const dirent* entry = readdir(folder)) {
        if (entry->d_name[0] < '0' || entry->d_name[0] > '9') continue;
        const int fd = std::atoi(entry->d_name);
        sockaddr_storage end{};
        socklen_t length = sizeof(end);
        if (getpeername(fd, reinterpret_cast<sockaddr*>(&end), &length) != 0 ||
            EndText(end, length) != remote) {
            continue;
        }
        length = sizeof(end);
        if (getsockname(fd, reinterpret_cast<sockaddr*>(&end), &length) == 0 &&
            EndText(end, length) == local) {
            found = fd;
            break;
        }
    }
    closedir(folder);
    return found;
}

// Sleeps until the stream is woken or `limit` passes. False when the page is gone: its side
// of the connection closed or failed, or it sent something, which a page never does on an
// event stream (and which would keep the socket readable).
bool WaitForWork(const EventStream& stream, int connection, std::chrono::milliseconds limit) {
    pollfd fds[2] = {{stream.wake, POLLIN, 0}, {connection, POLLIN | POLLRDHUP, 0}};
    const int count = connection >= 0 ? 2 : 1;
    if (poll(fds, count, static_cast<int>(limit.count())) > 0 && count == 2 &&
        fds[1].revents != 0) {
        return false;
    }
    uint64_t wakes = 0;
    [[maybe_unused]] const ssize_t n = read(stream.wake, &wakes, sizeof(wakes));
    return true;
}

std::string NewToken() {
    std::random_device source;  // /dev/urandom
    static constexpr char kHex[] = "0123456789abcdef";
    std::string token;
    for (int i = 0; i < 4; ++i) {
        uint32_t word = source();
        for (int k = 0; k < 8; ++k) {
            token += kHex[word & 0xF];
            word >>= 4;
        }
    }
    return token;
}

void Refuse(httplib::Response& res, int status, const std::string& why) {
    res.status = status;
    res.set_content(why + "\n", "text/plain; charset=utf-8");
}

void NotAllowed(httplib::Response& res, const char* allowed) {
    Refuse(res, 405, "Use " + std::string(allowed) + " here.");
    res.set_header("Allow", allowed);
}

std::optional<fs::path> ResolveInside(const fs::path& root, const std::string& relative) {
    std::error_code ec;
    // canonical() follows every symbolic link, so a link that points out of the folder is
    // judged by where it really leads.
    const fs::path file = fs::canonical(root / relative, ec);
    if (ec) return std::nullopt;
    const auto [rootEnd, fileAt] =
        std::mismatch(root.begin(), root.end(), file.begin(), file.end());
    if (rootEnd != root.end()) return std::nullopt;
    if (!fs::is_regular_file(file, ec) || ec) return std::nullopt;
    if (fs::file_size(file, ec) > kMaxFileBytes || ec) return std::nullopt;
    return file;
}

std::optional<std::string> ReadWhole(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream data;
    data << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return std::move(data).str();
}

}  // namespace

struct PageBridge::Impl {
    Impl(PageBridgeOptions o, PageBridgeSink& s)
        : options(std::move(o)), sink(s), token(NewToken()), hub(std::make_shared<Hub>()) {}

    PageBridgeOptions options;
    PageBridgeSink& sink;
    const std::string token;
    BridgeEndpoint endpoint;
    std::string cookieName;
    fs::path root;
    std::shared_ptr<Hub> hub;
    httplib::Server server;
    std::thread serveThread;

    bool HasValidToken(const httplib::Request& req) const {
        if (req.has_param(kTokenParam) && TokensEqual(req.get_param_value(kTokenParam), token)) {
            return true;
        }
        if (req.has_header(kTokenHeader) &&
            TokensEqual(req.get_header_value(kTokenHeader), token)) {
            return true;
        }
        return TokensEqual(CookieValue(req.get_header_value("Cookie"), cookieName), token);
    }

    // Every request passes here first; a refused one goes no further.
    httplib::Server::HandlerResponse Screen(const httplib::Request& req, httplib::Response& res) {
        using R = httplib::Server::HandlerResponse;
        if (!IsAllowedHost(req.get_header_value("Host"), endpoint)) {
            Refuse(res, 403, "Host not allowed: use the address quillon printed.");
            return R::Handled;
        }
        if (req.has_header("Origin") &&
            !IsAllowedOrigin(req.get_header_value("Origin"), endpoint)) {
            Refuse(res, 403, "Cross-origin requests are not allowed.");
            return R::Handled;
        }
        if (req.path.rfind("/bridge/", 0) == 0 && req.has_header("Sec-Fetch-Site")) {
            const std::string site = req.get_header_value("Sec-Fetch-Site");
            if (site != "same-origin" && site != "none") {
                Refuse(res, 403, "Cross-site requests are not allowed.");
                return R::Handled;
            }
        }
        if (!HasValidToken(req)) {
            Refuse(res, 403, "Missing or wrong token: open the address quillon printed at start.");
            return R::Handled;
        }
        return R::Unhandled;
    }

    void ServeFile(const httplib::Request& req, httplib::Response& res) {
        const std::optional<std::string> relative = UiRelativePath(req.path);
        if (!relative) {
            Refuse(res, 400, "Bad path.");
            return;
        }
        const std::optional<fs::path> file = ResolveInside(root, *relative);
        std::optional<std::string> data;
        if (file) data = ReadWhole(*file);
        if (!data) {
            Refuse(res, 404, "Not found.");
            return;
        }
        res.set_content(std::move(*data), std::string(ContentTypeFor(*relative)));
        // The page's own requests (scripts, styles, the bridge) then carry the token for it.
        if (req.has_param(kTokenParam)) {
            res.set_header("Set-Cookie",
                           cookieName + "=" + token + "; Path=/; HttpOnly; SameSite=Strict");
        }
    }

    void OpenStream(const httplib::Request& req, httplib::Response& res) {
        auto stream = std::make_shared<EventStream>();
        if (stream->wake < 0) {
            Refuse(res, 503, "Cannot open an event stream now.");
            return;
        }
        {
            std::lock_guard<std::mutex> lock(hub->mutex);
            if (hub->stopping) {
                Refuse(res, 503, "Shutting down.");
                return;
            }
            if (hub->streams.size() >= kMaxStreams) {
                Refuse(res, 503, "Too many pages are open.");
                return;
            }
            hub->streams.push_back(stream);
        }
        sink.OnStreamOpened();

        std::shared_ptr<Hub> h = hub;
        const int connection = ConnectionSocket(req);
        auto provider = [h, stream, connection, first = true, lastWrite = Clock::now()](
                            size_t, httplib::DataSink& out) mutable {
            if (first) {
                // A retry hint for browsers that reconnect on their own; nothing is dispatched.
                static constexpr std::string_view kHello = "retry: 1000\n\n";
                first = false;
                if (!out.write(kHello.data(), kHello.size())) return false;
            }
            const auto limit = connection >= 0 ? kKeepAliveEvery : kStreamCheck;
            if (!WaitForWork(*stream, connection,
                             std::chrono::duration_cast<std::chrono::milliseconds>(limit))) {
                return false;
            }
            std::deque<std::string> batch;
            {
                std::unique_lock<std::mutex> lock(h->mutex);
                if (h->stopping) {
                    lock.unlock();
                    out.done();  // a clean end of stream, so the page sees the bridge go
                    return true;
                }
                if (stream->dropped) return false;
                batch.swap(stream->pending);
            }
            for (const std::string& event : batch) {
                if (!out.write(event.data(), event.size())) return false;
            }
            const auto now = Clock::now();
            if (!batch.empty()) {
                lastWrite = now;
            } else if (now - lastWrite >= kKeepAliveEvery) {
                static constexpr std::string_view kKeepAlive = ": keepalive\n\n";
                if (!out.write(kKeepAlive.data(), kKeepAlive.size())) return false;
                lastWrite = now;
            }
            // A watched connection shows a closed page at the next wait; otherwise ask now.
            return connection >= 0 || out.is_writable();
        };
        // Runs when the response is finished with, however the stream ended.
        auto released = [this, h, stream](bool) {
            {
                std::lock_guard<std::mutex> lock(h->mutex);
                auto& all = h->streams;
                all.erase(std::remove(all.begin(), all.end(), stream), all.end());
            }
            sink.OnStreamClosed();
        };
        res.set_header("X-Accel-Buffering", "no");
        res.set_chunked_content_provider("text/event-stream", std::move(provider),
                                         std::move(released));
    }

    void TakeMessage(const httplib::Request& req, httplib::Response& res) {
        DecodedMessage message = DecodePageMessage(req.get_header_value("Content-Type"), req.body);
        switch (message.verdict) {
            case MessageVerdict::Deliver:
                sink.OnPageMessage(std::move(message.text));
                res.status = 204;
                return;
            case MessageVerdict::NotAString:
                Refuse(res, 422, "Only string messages reach the application.");
                return;
            case MessageVerdict::Malformed:
                Refuse(res, 400, "Malformed message.");
                return;
            case MessageVerdict::Unsupported:
                Refuse(res, 415, "Post text/plain or application/json.");
                return;
        }
    }

    void Configure() {
        server.new_task_queue = [] { return new httplib::ThreadPool(kServerThreads); };
        // Idle keep-alive connections hold a thread too; keep their wait short so that
        // stopping never waits long for them.
        server.set_keep_alive_timeout(1);
        server.set_read_timeout(5, 0);
        server.set_write_timeout(5, 0);
        server.set_payload_max_length(kMaxMessageBytes);
        // The library's default also sets SO_REUSEPORT, which would let a second run share a
        // port that is in use instead of failing; address reuse alone is what a restart needs.
        server.set_socket_options([](socket_t sock) {
            int yes = 1;
            setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
        });
        server.set_default_headers({
            {"Cache-Control", "no-store"},
            {"X-Content-Type-Options", "nosniff"},
            {"Referrer-Policy", "no-referrer"},
            {"X-Frame-Options", "DENY"},
            {"Content-Security-Policy", "frame-ancestors 'none'"},
        });
        server.set_pre_routing_handler([this](const httplib::Request& req, httplib::Response& res) {
            return Screen(req, res);
        });
        server.Get("/bridge/events", [this](const httplib::Request& req, httplib::Response& res) {
            OpenStream(req, res);
        });
        server.Post("/bridge/message", [this](const httplib::Request& req, httplib::Response& res) {
            TakeMessage(req, res);
        });
        server.Get("/.*", [this](const httplib::Request& req, httplib::Response& res) {
            if (req.path == "/bridge/message") {
                NotAllowed(res, "POST");
                return;
            }
            if (req.path.rfind("/bridge/", 0) == 0) {
                Refuse(res, 404, "Not found.");
                return;
            }
            ServeFile(req, res);
        });
        // Everything but the message endpoint is read with GET only.
        server.Post(
            "/.*", [](const httplib::Request&, httplib::Response& res) { NotAllowed(res, "GET"); });
    }
};

PageBridge::PageBridge(PageBridgeOptions options, PageBridgeSink& sink)
    : impl_(std::make_unique<Impl>(std::move(options), sink)) {}

PageBridge::~PageBridge() {
    Stop();
}

bool PageBridge::Start(std::string* error) {
    Impl& d = *impl_;
    auto fail = [error](std::string why) {
        if (error) *error = std::move(why);
        return false;
    };
    if (d.serveThread.joinable()) return fail("already serving");
    if (!IsLoopbackAddress(d.options.listenAddress)) {
        return fail("the page bridge listens on loopback addresses only, not " +
                    d.options.listenAddress);
    }
    std::error_code ec;
    d.root = fs::canonical(d.options.uiFolder, ec);
    if (ec || !fs::is_directory(d.root, ec)) {
        return fail("the ui folder " + d.options.uiFolder.string() + " does not exist");
    }
    d.Configure();
    std::string bindAddress = d.options.listenAddress;
    if (bindAddress.size() > 2 && bindAddress.front() == '[' && bindAddress.back() == ']') {
        bindAddress = bindAddress.substr(1, bindAddress.size() - 2);
    }
    int port = d.options.port;
    if (port == 0) {
        port = d.server.bind_to_any_port(bindAddress);
        if (port <= 0) {
            return fail("the page's address " + d.options.listenAddress + " cannot be listened on");
        }
    } else if (!d.server.bind_to_port(bindAddress, port)) {
        return fail("the page's address " + UrlHost(d.options.listenAddress) + ":" +
                    std::to_string(port) + " cannot be listened on (is the port in use?)");
    }
    d.endpoint = BridgeEndpoint{bindAddress, static_cast<uint16_t>(port)};
    // Cookies are shared by every port of a host; the port in the name keeps two runs apart.
    d.cookieName = "quillon_token_" + std::to_string(port);
    d.serveThread = std::thread([&d] { d.server.listen_after_bind(); });
    // stop() is ignored until the server loop runs, so wait for it before anyone may stop.
    const auto deadline = Clock::now() + std::chrono::seconds(5);
    while (!d.server.is_running() && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

void PageBridge::Stop() {
    Impl& d = *impl_;
    {
        std::lock_guard<std::mutex> lock(d.hub->mutex);
        d.hub->stopping = true;
        for (const auto& stream : d.hub->streams) stream->Wake();
    }
    if (!d.serveThread.joinable()) return;
    d.server.stop();
    d.serveThread.join();
}

void PageBridge::Post(std::string_view json) {
    const std::string event = FrameEvent(json);
    Hub& h = *impl_->hub;
    std::vector<std::shared_ptr<EventStream>> woken;
    {
        std::lock_guard<std::mutex> lock(h.mutex);
        for (const auto& stream : h.streams) {
            if (stream->pending.size() >= kMaxPendingPerStream) {
                stream->dropped = true;
                stream->pending.clear();
            } else {
                stream->pending.push_back(event);
            }
        }
        woken = h.streams;
    }
    // Woken after the lock is released, so that a loop does not wake only to wait for it.
    for (const auto& stream : woken) stream->Wake();
}

uint16_t PageBridge::Port() const {
    return impl_->endpoint.port;
}

const std::string& PageBridge::Token() const {
    return impl_->token;
}

std::string PageBridge::PageAddress() const {
    return "http://" + UrlHost(impl_->endpoint.address) + ":" + std::to_string(Port()) +
           "/?token=" + impl_->token;
}

int PageBridge::StreamCount() const {
    std::lock_guard<std::mutex> lock(impl_->hub->mutex);
    return static_cast<int>(impl_->hub->streams.size());
}

}  // namespace quillon::lnx
