// The headless front end over real loopback HTTP: a shell runs its loop on a thread of the
// test (standing in for the main thread), a recording listener plays the main controller, and
// httplib clients play the browser.
#include "platform/linux/headless_shell.h"

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fakes/temp_dir.h"

namespace quillon::lnx {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

constexpr char kSecret[] = "outside-the-ui-folder";

// Records every event with the thread it arrived on; acts like the main controller where the
// shell relies on it (OnDestroy ends the loop, a tray click shows, closing hides).
class RecordingListener final : public ShellListener {
public:
    HeadlessShell* shell = nullptr;
    std::promise<void> created;

    void OnCreate() override {
        Record("create");
        created.set_value();
    }
    void OnClose() override {
        Record("close");
        shell->ShowWindow(false);
    }
    void OnCommand(int command) override { Record("command " + std::to_string(command)); }
    void OnTimer(int timerId) override { Record("timer " + std::to_string(timerId)); }
    void OnTrayMouse(uint32_t mouseEvent) override {
        Record("tray " + std::to_string(mouseEvent));
        if (mouseEvent == kTrayLeftButtonUp) shell->ShowWindow(true);
    }
    void OnPosted(uint32_t message) override { Record("posted " + std::to_string(message)); }
    void OnResize(int, int) override { Record("resize"); }
    void OnDestroy() override {
        Record("destroy");
        shell->Quit(7);
    }
    void OnPageReady() override { Record("ready"); }
    void OnPageGone() override { Record("gone"); }
    void OnPageArrived() override { Record("arrived"); }
    void OnPageMessage(const std::string& text) override { Record("message " + text); }

    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> lock(mutex_);
        return events_;
    }
    int Count(const std::string& event) {
        std::lock_guard<std::mutex> lock(mutex_);
        return static_cast<int>(std::count(events_.begin(), events_.end(), event));
    }
    bool AllOnThread(std::thread::id id) {
        std::lock_guard<std::mutex> lock(mutex_);
        return std::all_of(threads_.begin(), threads_.end(), [id](auto t) { return t == id; });
    }
    // Waits until the event has been recorded at least `times` times.
    bool WaitFor(const std::string& event, int times = 1, std::chrono::milliseconds limit = 5s) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] {
            return std::count(events_.begin(), events_.end(), event) >= times;
        });
    }

private:
    void Record(std::string event) {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            events_.push_back(std::move(event));
            threads_.push_back(std::this_thread::get_id());
        }
        changed_.notify_all();
    }

    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<std::string> events_;
    std::vector<std::thread::id> threads_;
};

// A browser tab's event stream: reads on a thread of its own until closed.
class EventStreamClient {
public:
    EventStreamClient(uint16_t port, std::string path) : client_("127.0.0.1", port) {
        client_.set_read_timeout(30, 0);
        thread_ = std::thread([this, path = std::move(path)] {
            auto result = client_.Get(path, [this](const char* data, size_t size) {
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    received_.append(data, size);
                }
                changed_.notify_all();
                return true;
            });
            {
                std::lock_guard<std::mutex> lock(mutex_);
                status_ = result ? result->status : -1;
                ended_ = true;
            }
            changed_.notify_all();
        });
    }
    ~EventStreamClient() { Close(); }

    void Close() {
        client_.stop();
        if (thread_.joinable()) thread_.join();
    }
    bool WaitForText(const std::string& text, std::chrono::milliseconds limit = 5s) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit,
                                 [&] { return received_.find(text) != std::string::npos; });
    }
    bool WaitForEnd(std::chrono::milliseconds limit) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, limit, [&] { return ended_; });
    }
    std::string Received() {
        std::lock_guard<std::mutex> lock(mutex_);
        return received_;
    }

private:
    httplib::Client client_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    std::string received_;
    int status_ = 0;
    bool ended_ = false;
};

class HeadlessShellTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(base_ / "ui" / "assets");
        Write(base_ / "ui" / "index.html", "<!doctype html><title>index</title>");
        Write(base_ / "ui" / "assets" / "app.js", "console.log('app');");
        Write(base_ / "ui" / ".hidden", "hidden");
        Write(base_ / "secret.txt", kSecret);
        fs::create_symlink(base_ / "secret.txt", base_ / "ui" / "escape.txt");
        fs::create_symlink(base_ / "ui" / "index.html", base_ / "ui" / "inside.html");
    }

    void TearDown() override { Stop(); }

    HeadlessShellOptions Options() {
        HeadlessShellOptions options;
        options.uiFolder = base_ / "ui";
        options.out = nullptr;
        options.catchSignals = false;
        options.pageGoneGraceMs = 50;
        return options;
    }

    // Runs the shell's loop on a thread standing in for the main thread; returns once
    // OnCreate has been called.
    void Start(HeadlessShellOptions options, bool startHidden = false) {
        shell_ = std::make_unique<HeadlessShell>(std::move(options));
        listener_.shell = shell_.get();
        auto created = listener_.created.get_future();
        loop_ =
            std::thread([this, startHidden] { exitCode_ = shell_->Run(listener_, startHidden); });
        loopId_ = loop_.get_id();
        ASSERT_EQ(created.wait_for(5s), std::future_status::ready);
        port_ = shell_->Port();
        token_ = shell_->Token();
    }

    void Stop() {
        if (!loop_.joinable()) return;
        shell_->RequestExit();
        loop_.join();
    }

    httplib::Client Client() {
        httplib::Client client("127.0.0.1", port_);
        client.set_read_timeout(5, 0);
        return client;
    }

    std::string WithToken(const std::string& path) {
        return path + (path.find('?') == std::string::npos ? "?" : "&") + "token=" + token_;
    }

    static void Write(const fs::path& file, const std::string& text) {
        std::ofstream(file, std::ios::binary) << text;
    }

    test::TempDir dir_;
    const fs::path base_ = dir_.path();
    RecordingListener listener_;
    std::unique_ptr<HeadlessShell> shell_;
    std::thread loop_;
    std::thread::id loopId_;
    int exitCode_ = -100;
    uint16_t port_ = 0;
    std::string token_;
};

TEST_F(HeadlessShellTest, EveryRequestNeedsTheRunsToken) {
    Start(Options());
    auto client = Client();
    EXPECT_EQ(client.Get("/")->status, 403);
    EXPECT_EQ(client.Get("/?token=0123456789abcdef0123456789abcdef")->status, 403);
    EXPECT_EQ(client.Get("/bridge/events")->status, 403);
    EXPECT_EQ(client.Post("/bridge/message", "hello", "text/plain")->status, 403);
    EXPECT_EQ(client.Get("/assets/app.js", {{"Cookie", "quillon_token_1=" + token_}})->status,
              403);  // another port's cookie

    auto page = client.Get(WithToken("/"));
    ASSERT_TRUE(page);
    EXPECT_EQ(page->status, 200);
    EXPECT_EQ(page->body, "<!doctype html><title>index</title>");
    EXPECT_EQ(page->get_header_value("Content-Type"), "text/html; charset=utf-8");
    const std::string cookie = page->get_header_value("Set-Cookie");
    EXPECT_EQ(cookie, "quillon_token_" + std::to_string(port_) + "=" + token_ +
                          "; Path=/; HttpOnly; SameSite=Strict");

    // The page's own requests carry the token in the cookie, or a tool sends it as a header.
    const std::string pair = cookie.substr(0, cookie.find(';'));
    auto script = client.Get("/assets/app.js", {{"Cookie", "other=1; " + pair}});
    ASSERT_TRUE(script);
    EXPECT_EQ(script->status, 200);
    EXPECT_EQ(script->get_header_value("Content-Type"), "text/javascript; charset=utf-8");
    EXPECT_EQ(
        client.Post("/bridge/message", {{"X-Quillon-Token", token_}}, "hi", "text/plain")->status,
        204);
    EXPECT_TRUE(listener_.WaitFor("message hi"));
    EXPECT_EQ(listener_.Count("message hello"), 0);
}

// The checks are applied with this run's port; their every spelling is the rules' test.
TEST_F(HeadlessShellTest, ForeignHostOrOriginIsRefused) {
    Start(Options());
    auto client = Client();
    const std::string port = std::to_string(port_);
    auto get = [&](const httplib::Headers& headers) {
        return client.Get(WithToken("/"), headers)->status;
    };
    EXPECT_EQ(get({{"Host", "attacker.example:" + port}}), 403);  // DNS rebinding
    EXPECT_EQ(get({{"Host", "127.0.0.1:1"}}), 403);
    EXPECT_EQ(get({{"Host", "localhost:" + port}}), 200);

    auto post = [&](const httplib::Headers& headers, const std::string& body) {
        return client.Post(WithToken("/bridge/message"), headers, body, "text/plain")->status;
    };
    EXPECT_EQ(post({{"Origin", "http://attacker.example"}}, "from-attacker"), 403);
    EXPECT_EQ(post({{"Origin", "http://127.0.0.1:1"}}, "from-other-port"), 403);
    EXPECT_EQ(post({{"Sec-Fetch-Site", "cross-site"}}, "from-cross-site"), 403);
    EXPECT_EQ(post({{"Origin", "http://localhost:" + port}, {"Sec-Fetch-Site", "same-origin"}},
                   "from-page"),
              204);
    ASSERT_TRUE(listener_.WaitFor("message from-page"));
    for (const std::string& event : listener_.Events()) {
        EXPECT_EQ(event.find("message from-"), event.find("message from-page")) << event;
    }
}

TEST_F(HeadlessShellTest, OnlyFilesInsideTheUiFolderAreServed) {
    Start(Options());
    auto client = Client();
    client.set_url_encode(false);  // send the paths exactly as written
    const std::vector<std::string> escapes = {
        "/../secret.txt",
        "/assets/../../secret.txt",
        "/%2e%2e/secret.txt",
        "/assets/%2E%2E/%2e%2e/secret.txt",
        "/..%2fsecret.txt",
        "//" + base_.string() + "/secret.txt",
        base_.string() + "/secret.txt",
        "/escape.txt",  // a symbolic link to a file outside
        "/.hidden",
        "/assets",  // a folder is not a file
    };
    for (const std::string& path : escapes) {
        auto res = client.Get(WithToken(path));
        ASSERT_TRUE(res) << path;
        EXPECT_TRUE(res->status == 400 || res->status == 404) << path << " -> " << res->status;
        EXPECT_EQ(res->body.find(kSecret), std::string::npos) << path;
    }
    auto inside = client.Get(WithToken("/inside.html"));  // a link that stays inside is fine
    EXPECT_EQ(inside->status, 200);
    EXPECT_EQ(client.Get(WithToken("/assets/app.js"))->body, "console.log('app');");
    EXPECT_EQ(client.Get(WithToken("/missing.js"))->status, 404);
    // The right path with the wrong method is told which method it takes.
    auto wrong = client.Get(WithToken("/bridge/message"));
    EXPECT_EQ(wrong->status, 405);
    EXPECT_EQ(wrong->get_header_value("Allow"), "POST");
    wrong = client.Post(WithToken("/bridge/events"), "", "text/plain");
    EXPECT_EQ(wrong->status, 405);
    EXPECT_EQ(wrong->get_header_value("Allow"), "GET");
    EXPECT_EQ(client.Get(WithToken("/bridge/nothing"))->status, 404);
}

TEST_F(HeadlessShellTest, PostedStringsReachTheListenerOnTheLoopThread) {
    Start(Options());
    auto client = Client();
    const std::string command = R"({"action":"triggerRefresh"})";
    // Raw text is the string itself; a JSON body must be a string, which is decoded.
    EXPECT_EQ(
        client.Post(WithToken("/bridge/message"), command, "text/plain;charset=utf-8")->status,
        204);
    EXPECT_EQ(client.Post(WithToken("/bridge/message"), command, "application/json")->status, 422);
    EXPECT_EQ(client.Post(WithToken("/bridge/message"), "[1,2]", "application/json")->status, 422);
    EXPECT_EQ(
        client.Post(WithToken("/bridge/message"), "\"unterminated", "application/json")->status,
        400);
    EXPECT_EQ(client.Post(WithToken("/bridge/message"), "a=b", "application/x-www-form-urlencoded")
                  ->status,
              415);
    EXPECT_EQ(client
                  .Post(WithToken("/bridge/message"), R"("{\"action\":\"x\"} caf\u00e9")",
                        "application/json")
                  ->status,
              204);
    ASSERT_TRUE(listener_.WaitFor("message {\"action\":\"x\"} caf\xC3\xA9"));

    const std::vector<std::string> events = listener_.Events();
    std::vector<std::string> messages;
    for (const std::string& e : events) {
        if (e.rfind("message ", 0) == 0) messages.push_back(e);
    }
    ASSERT_EQ(messages.size(), 2u);  // the object, the array and the rejects never arrived
    EXPECT_EQ(messages[0], "message " + command);
    EXPECT_TRUE(listener_.AllOnThread(loopId_));
}

TEST_F(HeadlessShellTest, EveryOpenPageReceivesPostedTexts) {
    Start(Options());
    EventStreamClient first(port_, WithToken("/bridge/events"));
    EventStreamClient second(port_, WithToken("/bridge/events"));
    ASSERT_TRUE(first.WaitForText("retry:"));
    ASSERT_TRUE(second.WaitForText("retry:"));

    shell_->PostToPage(R"({"type":"networkState","n":1})");
    shell_->PostToPage("{\"a\":\n1}");
    EXPECT_TRUE(first.WaitForText("data: {\"type\":\"networkState\",\"n\":1}\n\n"));
    EXPECT_TRUE(second.WaitForText("data: {\"type\":\"networkState\",\"n\":1}\n\n"));
    EXPECT_TRUE(first.WaitForText("data: {\"a\":\ndata: 1}\n\n"));

    // A page that arrives later gets what is posted from then on, nothing from before.
    EventStreamClient late(port_, WithToken("/bridge/events"));
    ASSERT_TRUE(late.WaitForText("retry:"));
    shell_->PostToPage(R"({"n":2})");
    EXPECT_TRUE(late.WaitForText("data: {\"n\":2}\n\n"));
    EXPECT_EQ(late.Received().find("networkState"), std::string::npos);
}

TEST_F(HeadlessShellTest, PagesSwitchBetweenActiveAndChillMode) {
    Start(Options(), /*startHidden=*/true);
    {
        EventStreamClient page(port_, WithToken("/bridge/events"));
        ASSERT_TRUE(listener_.WaitFor("tray 514"));  // left button up: what shows the window
        EventStreamClient reload(port_, WithToken("/bridge/events"));
        ASSERT_TRUE(reload.WaitForText("retry:"));
        ASSERT_TRUE(listener_.WaitFor("arrived"));  // told, so that it gets the state at once
        page.Close();
        std::this_thread::sleep_for(200ms);
        EXPECT_EQ(listener_.Count("gone"), 0);  // one page is still there
    }
    // The last page's going is seen on its connection at once, so chill mode follows the
    // grace period (50 ms here), not a periodic look at the stream.
    ASSERT_TRUE(listener_.WaitFor("close", 1, 500ms));
    std::vector<std::string> expected = {"create", "ready", "tray 514", "arrived", "gone", "close"};
    EXPECT_EQ(listener_.Events(), expected);

    // The window now hidden again, the next page shows it again.
    EventStreamClient again(port_, WithToken("/bridge/events"));
    ASSERT_TRUE(listener_.WaitFor("tray 514", 2));
    EXPECT_EQ(listener_.Count("ready"), 2);
    EXPECT_TRUE(listener_.AllOnThread(loopId_));
}

TEST_F(HeadlessShellTest, AVisibleWindowIsNotToggledByAPage) {
    Start(Options(), /*startHidden=*/false);
    EventStreamClient page(port_, WithToken("/bridge/events"));
    ASSERT_TRUE(listener_.WaitFor("ready"));
    shell_->PostToSelf(1);  // everything queued before it has been handled once it shows
    ASSERT_TRUE(listener_.WaitFor("posted 1"));
    EXPECT_EQ(listener_.Count("tray 514"), 0);
}

TEST_F(HeadlessShellTest, ShutdownWithOpenStreamsIsPrompt) {
    Start(Options());
    std::vector<std::unique_ptr<EventStreamClient>> pages;
    for (int i = 0; i < 4; ++i) {
        pages.push_back(std::make_unique<EventStreamClient>(port_, WithToken("/bridge/events")));
    }
    for (auto& page : pages) ASSERT_TRUE(page->WaitForText("retry:"));
    const auto started = std::chrono::steady_clock::now();
    shell_->RequestExit();
    loop_.join();
    EXPECT_LT(std::chrono::steady_clock::now() - started, 2s);
    EXPECT_EQ(exitCode_, 7);  // the code the listener's teardown gave to Quit
    EXPECT_EQ(listener_.Count("destroy"), 1);
    for (auto& page : pages) EXPECT_TRUE(page->WaitForEnd(1s));
}

TEST_F(HeadlessShellTest, TimersAndPostsArriveOnTheLoopThread) {
    Start(Options());
    shell_->SetTimer(3, 20);
    std::thread poster([this] { shell_->PostToSelf(0x402); });
    poster.join();
    ASSERT_TRUE(listener_.WaitFor("timer 3", 3));
    ASSERT_TRUE(listener_.WaitFor("posted 1026"));
    shell_->KillTimer(3);
    std::this_thread::sleep_for(60ms);  // a tick already taken off the queue may still land
    const int ticks = listener_.Count("timer 3");
    std::this_thread::sleep_for(150ms);
    EXPECT_EQ(listener_.Count("timer 3"), ticks);

    // Re-arming an armed timer restarts its period.
    shell_->SetTimer(4, 10'000);
    shell_->SetTimer(4, 20);
    EXPECT_TRUE(listener_.WaitFor("timer 4", 1, 1s));
    EXPECT_TRUE(listener_.AllOnThread(loopId_));

    // After the window is gone nothing more is delivered.
    shell_->DestroyWindow();
    loop_.join();
    EXPECT_EQ(listener_.Events().back(), "destroy");
    EXPECT_EQ(exitCode_, 7);
}

TEST_F(HeadlessShellTest, TerminationSignalEndsTheRunLikeExit) {
    HeadlessShellOptions options = Options();
    options.catchSignals = true;
    Start(options);
    ASSERT_EQ(::raise(SIGTERM), 0);
    loop_.join();
    EXPECT_EQ(listener_.Count("destroy"), 1);
    EXPECT_EQ(exitCode_, 7);
}

TEST_F(HeadlessShellTest, AnAddressThatCannotBeServedFailsTheRun) {
    Start(Options());
    const uint16_t taken = port_;
    for (const auto& [address, port] :
         std::vector<std::pair<std::string, uint16_t>>{{"127.0.0.1", taken}, {"0.0.0.0", 0}}) {
        HeadlessShellOptions options = Options();
        options.listenAddress = address;
        options.port = port;
        HeadlessShell other(options);
        RecordingListener listener;
        listener.shell = &other;
        EXPECT_EQ(other.Run(listener, false), -1) << address;
        EXPECT_TRUE(listener.Events().empty());
        const std::string why = other.StartFailure();
        EXPECT_EQ(why, address == "0.0.0.0"
                           ? "the page bridge listens on loopback addresses only, not 0.0.0.0"
                           : "the page's address 127.0.0.1:" + std::to_string(taken) +
                                 " cannot be listened on (is the port in use?)");
    }
}

TEST_F(HeadlessShellTest, StartPageMustBeInTheUiFolder) {
    HeadlessShell shell(Options());
    EXPECT_TRUE(shell.StartPage("https://quillon.local/index.html"));
    EXPECT_TRUE(shell.StartPage("/assets/app.js?v=1"));
    EXPECT_FALSE(shell.StartPage("https://quillon.local/absent.html"));
    EXPECT_FALSE(shell.StartPage("https://quillon.local/../secret.txt"));
}

}  // namespace
}  // namespace quillon::lnx
