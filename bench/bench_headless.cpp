// The headless process as a browser sees it, on the healthy simulated home
// (tests/scenario/worlds/healthy_home.json, in real time):
//  - headless/start_to_first_state: wall time from spawning `quillon --headless --simulate ...`
//    to the first networkState event on the page's event stream, including reading the printed
//    address and token and opening the stream; ten fresh processes, each with its own data
//    folder, median and max against the goal of 300 ms;
//  - headless/idle: one process measuring for QUILLON_BENCH_IDLE_SECONDS (default 600 s) with
//    one page connected for the first minute (the first half of shorter runs) and none after,
//    so that it spends the rest in chill mode. VmRSS and VmHWM are sampled every 30 s against
//    the goal of 30 MiB; the trend is the least-squares slope of the chill-mode samples. CPU
//    time (utime + stime of /proc/<pid>/stat) is divided by the ticks: while connected, the
//    networkState events received; in chill mode, one tick per minute. Wake-ups are the
//    context switches (voluntary and involuntary) of the threads alive, per minute, against
//    the goal of 60 while a page is connected.
//
//   QUILLON_BENCH_IDLE_SECONDS=60 build/release/bench/bench_headless   # a short run
//
// Every process is stopped with SIGTERM, as Ctrl-C would, and must exit with code 0.
// The client is a plain socket speaking HTTP/1.1 to the loopback address the process prints;
// nothing else is contacted.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iomanip>
#include <iostream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/json_value.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

constexpr double kStartGoalMs = 300;
constexpr double kRssGoalMiB = 30;
constexpr double kWakeupsGoalPerMinute = 60;
constexpr int kStartRuns = 10;
constexpr auto kSampleEvery = 30s;
constexpr auto kConnectedAtMost = 60s;

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

double Milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

// The remaining time to a deadline, in whole milliseconds for poll(); at least 0.
int MsUntil(Clock::time_point deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now());
    return static_cast<int>(std::max<long long>(0, left.count()));
}

// A fresh folder under the system's temporary folder, removed with the object.
class TempDir {
public:
    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "quillon-bench-XXXXXX");
        if (mkdtemp(pattern.data())) path_ = pattern;
    }
    ~TempDir() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

// What /proc says about a process: resident memory in KiB, CPU time in seconds.
// cpuSeconds comes in clock ticks (10 ms as a rule) and counts every thread that ever ran;
// onCpuSeconds, the scheduler's nanosecond sum over the threads alive now, is the finer check;
// switches sums the context switches of those threads.
struct ProcSample {
    long rssKiB = -1;
    long hwmKiB = -1;
    double cpuSeconds = -1;
    double onCpuSeconds = -1;
    long long switches = 0;
};

ProcSample ReadProc(pid_t pid) {
    ProcSample s;
    std::ifstream status("/proc/" + std::to_string(pid) + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) s.rssKiB = std::strtol(line.c_str() + 6, nullptr, 10);
        if (line.rfind("VmHWM:", 0) == 0) s.hwmKiB = std::strtol(line.c_str() + 6, nullptr, 10);
    }
    std::ifstream statFile("/proc/" + std::to_string(pid) + "/stat");
    std::string stat((std::istreambuf_iterator<char>(statFile)), std::istreambuf_iterator<char>());
    // The command name in parentheses may hold blanks: fields are counted after the last ')'.
    const size_t close = stat.rfind(')');
    if (close != std::string::npos) {
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        unsigned long long utime = 0, stime = 0;
        // Field 3 (state) is the first after the name; utime and stime are fields 14 and 15.
        for (int index = 3; index <= 15 && fields >> field; ++index) {
            if (index == 14) utime = std::strtoull(field.c_str(), nullptr, 10);
            if (index == 15) stime = std::strtoull(field.c_str(), nullptr, 10);
        }
        s.cpuSeconds =
            static_cast<double>(utime + stime) / static_cast<double>(sysconf(_SC_CLK_TCK));
    }
    std::error_code error;
    const std::filesystem::path tasks = "/proc/" + std::to_string(pid) + "/task";
    unsigned long long onCpuNs = 0;
    bool any = false;
    for (const auto& task : std::filesystem::directory_iterator(tasks, error)) {
        std::ifstream schedstat(task.path() / "schedstat");
        unsigned long long ns = 0;
        if (schedstat >> ns) {
            onCpuNs += ns;
            any = true;
        }
        std::ifstream taskStatus(task.path() / "status");
        while (std::getline(taskStatus, line)) {
            // voluntary_ctxt_switches and nonvoluntary_ctxt_switches
            const size_t colon = line.find("ctxt_switches:");
            if (colon != std::string::npos)
                s.switches += std::strtoll(line.c_str() + colon + 14, nullptr, 10);
        }
    }
    if (any) s.onCpuSeconds = static_cast<double>(onCpuNs) / 1e9;
    return s;
}

// One headless quillon on the simulated home, started in the constructor. Standard output is
// read until the address with its token appears; standard error goes to a file in the data
// folder so that a failure can say why.
class HeadlessProcess {
public:
    explicit HeadlessProcess(const std::string& dataDir) : dataDir_(dataDir) {}
    HeadlessProcess(const HeadlessProcess&) = delete;
    HeadlessProcess& operator=(const HeadlessProcess&) = delete;

    ~HeadlessProcess() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
        if (out_ >= 0) close(out_);
    }

    bool Spawn() {
        int pipeFds[2];
        if (pipe2(pipeFds, O_CLOEXEC) != 0) return Fail("pipe failed");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
        posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
        const std::string errPath = dataDir_ + "/stderr.txt";
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errPath.c_str(),
                                         O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const std::string world =
            std::string(QUILLON_SOURCE_DIR) + "/tests/scenario/worlds/healthy_home.json";
        std::vector<std::string> args = {QUILLON_EXECUTABLE, "--headless",  "--simulate", world,
                                         "--listen",         "127.0.0.1:0", "--data-dir", dataDir_};
        std::vector<char*> argv;
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        const int rc =
            posix_spawn(&pid_, QUILLON_EXECUTABLE, &actions, nullptr, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        close(pipeFds[1]);
        out_ = pipeFds[0];
        if (rc != 0) {
            pid_ = -1;
            return Fail(std::string("cannot start ") + QUILLON_EXECUTABLE + ": " +
                        std::strerror(rc));
        }
        return true;
    }

    // Reads standard output until "http://HOST:PORT/?token=T" has been printed.
    bool WaitForAddress(Clock::time_point deadline) {
        while (true) {
            size_t newline;
            while ((newline = printed_.find('\n')) != std::string::npos) {
                const std::string line = printed_.substr(0, newline);
                printed_.erase(0, newline + 1);
                if (ParseAddress(line)) return true;
            }
            if (!ReadOutput(MsUntil(deadline))) {
                return Fail(Clock::now() >= deadline ? "no address printed in time"
                                                     : "exited before printing the address");
            }
        }
    }

    // Reads and drops whatever the process printed meanwhile, so that its pipe never fills.
    void DrainOutput() {
        while (out_ >= 0 && ReadOutput(0)) printed_.clear();
    }

    // SIGTERM, then up to 10 s for a normal exit; true when it exited with code 0.
    bool Stop() {
        if (pid_ <= 0) return false;
        kill(pid_, SIGTERM);
        const auto deadline = Clock::now() + 10s;
        int status = 0;
        while (true) {
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) break;
            if (Clock::now() >= deadline) return Fail("did not exit within 10 s of SIGTERM");
            std::this_thread::sleep_for(20ms);
        }
        pid_ = -1;
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            return Fail("did not exit with code 0 after SIGTERM (status " + std::to_string(status) +
                        ")");
        }
        return true;
    }

    pid_t pid() const { return pid_; }
    int port() const { return port_; }
    const std::string& token() const { return token_; }

    // The reason of the last failure, with the first line the process wrote on standard error.
    std::string error() const {
        std::ifstream err(dataDir_ + "/stderr.txt");
        std::string line;
        std::getline(err, line);
        return line.empty() ? error_ : error_ + " (stderr: " + line + ")";
    }

private:
    bool Fail(std::string message) {
        error_ = std::move(message);
        return false;
    }

    // False at end of output or when nothing came within the time.
    bool ReadOutput(int timeoutMs) {
        pollfd p{out_, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) <= 0) return false;
        char buffer[4096];
        const ssize_t n = read(out_, buffer, sizeof buffer);
        if (n <= 0) {
            close(out_);
            out_ = -1;
            return false;
        }
        printed_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    bool ParseAddress(std::string_view line) {
        const size_t scheme = line.find("http://127.0.0.1:");
        const size_t query = line.find("/?token=");
        if (scheme == std::string_view::npos || query == std::string_view::npos) return false;
        port_ = std::atoi(std::string(line.substr(scheme + 17, query - scheme - 17)).c_str());
        std::string_view token = line.substr(query + 8);
        while (!token.empty() && (token.back() == '\r' || token.back() == ' ')) {
            token.remove_suffix(1);
        }
        token_ = token;
        return port_ > 0 && !token_.empty();
    }

    std::string dataDir_;
    pid_t pid_ = -1;
    int out_ = -1;
    std::string printed_;
    int port_ = 0;
    std::string token_;
    std::string error_;
};

// The page's event stream, GET /bridge/events over a plain socket: reads the response head,
// undoes the chunked transfer coding and splits the body into events (data lines joined with
// "\n"; comments and other fields are skipped).
class EventStream {
public:
    EventStream() = default;
    EventStream(const EventStream&) = delete;
    EventStream& operator=(const EventStream&) = delete;
    ~EventStream() { Close(); }

    bool Open(int port, const std::string& token, Clock::time_point deadline) {
        fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd_ < 0) return Fail("socket failed");
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_port = htons(static_cast<uint16_t>(port));
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
            return Fail(std::string("connect failed: ") + std::strerror(errno));
        }
        const std::string request = "GET /bridge/events?token=" + token +
                                    " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                    "\r\nAccept: text/event-stream\r\n\r\n";
        if (send(fd_, request.data(), request.size(), MSG_NOSIGNAL) !=
            static_cast<ssize_t>(request.size())) {
            return Fail("send failed");
        }
        size_t headEnd;
        while ((headEnd = raw_.find("\r\n\r\n")) == std::string::npos) {
            if (!Receive(deadline)) return Fail("no response head");
        }
        const std::string head = raw_.substr(0, headEnd);
        raw_.erase(0, headEnd + 4);
        if (head.rfind("HTTP/1.1 200", 0) != 0) {
            return Fail("refused: " + head.substr(0, head.find('\r')));
        }
        std::string lower = head;
        for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        chunked_ = lower.find("transfer-encoding: chunked") != std::string::npos;
        return true;
    }

    // The next event's data, or nothing when the deadline passed or the stream ended.
    std::optional<std::string> Next(Clock::time_point deadline) {
        while (true) {
            if (std::optional<std::string> event = TakeEvent()) return event;
            if (!Receive(deadline)) return std::nullopt;
        }
    }

    void Close() {
        if (fd_ >= 0) close(fd_);
        fd_ = -1;
    }

    bool isOpen() const { return fd_ >= 0; }
    const std::string& error() const { return error_; }

private:
    bool Fail(std::string message) {
        error_ = std::move(message);
        return false;
    }

    bool Receive(Clock::time_point deadline) {
        if (fd_ < 0) return false;
        pollfd p{fd_, POLLIN, 0};
        if (poll(&p, 1, MsUntil(deadline)) <= 0) return false;
        char buffer[16384];
        const ssize_t n = recv(fd_, buffer, sizeof buffer, 0);
        if (n <= 0) {
            Close();
            return false;
        }
        raw_.append(buffer, static_cast<size_t>(n));
        return true;
    }

    // Moves whole chunks from raw_ to body_.
    void Dechunk() {
        if (!chunked_) {
            body_ += raw_;
            raw_.clear();
            return;
        }
        while (true) {
            if (chunkLeft_ == 0) {
                const size_t lineEnd = raw_.find("\r\n");
                if (lineEnd == std::string::npos) return;
                if (lineEnd == 0) {  // the line end after a chunk's data
                    raw_.erase(0, 2);
                    continue;
                }
                chunkLeft_ = std::strtoul(raw_.c_str(), nullptr, 16);
                raw_.erase(0, lineEnd + 2);
                if (chunkLeft_ == 0) return;  // the last chunk
            }
            const size_t take = std::min(chunkLeft_, raw_.size());
            if (take == 0) return;
            body_.append(raw_, 0, take);
            raw_.erase(0, take);
            chunkLeft_ -= take;
        }
    }

    std::optional<std::string> TakeEvent() {
        Dechunk();
        while (true) {
            const size_t lineEnd = body_.find('\n');
            if (lineEnd == std::string::npos) return std::nullopt;
            std::string_view line(body_.data(), lineEnd);
            if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
            std::optional<std::string> event;
            if (line.empty()) {
                if (hasData_) event = std::move(data_);
                data_.clear();
                hasData_ = false;
            } else if (line.rfind("data:", 0) == 0) {
                line.remove_prefix(5);
                if (!line.empty() && line.front() == ' ') line.remove_prefix(1);
                if (hasData_) data_ += '\n';
                data_.append(line);
                hasData_ = true;
            }
            body_.erase(0, lineEnd + 1);
            if (event) return event;
        }
    }

    int fd_ = -1;
    std::string raw_;
    std::string body_;
    bool chunked_ = false;
    size_t chunkLeft_ = 0;
    std::string data_;
    bool hasData_ = false;
    std::string error_;
};

bool IsNetworkState(const std::string& data) {
    try {
        const quillon::JsonValue message = quillon::JsonValue::parse(data);
        const quillon::JsonValue& type = message.member("type");
        return type.type() == quillon::JsonType::String && type.asString() == "networkState";
    } catch (const std::exception&) {
        return false;
    }
}

// What the runs measured, for the summary after the table.
std::vector<double> startMs;
struct IdleFigures {
    bool ran = false;
    double seconds = 0;
    double connectedSeconds = 0;
    std::vector<std::pair<double, ProcSample>> samples;  // seconds since the first state
    double rssTrendKiBPerMinute = 0;
    long activeTicks = 0;
    double activeCpuSeconds = 0;
    double activeOnCpuSeconds = 0;
    long long activeSwitches = 0;
    double chillTicks = 0;
    double chillSeconds = 0;
    double chillCpuSeconds = 0;
    double chillOnCpuSeconds = 0;
    long long chillSwitches = 0;
} idle;

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t n = values.size();
    return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
}

// Least-squares slope of RSS over time, in KiB per minute.
double Trend(const std::vector<std::pair<double, ProcSample>>& samples) {
    if (samples.size() < 2) return 0;
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    for (const auto& [t, s] : samples) {
        const double x = t / 60, y = static_cast<double>(s.rssKiB);
        sx += x;
        sy += y;
        sxx += x * x;
        sxy += x * y;
    }
    const double n = static_cast<double>(samples.size());
    const double denominator = n * sxx - sx * sx;
    return denominator == 0 ? 0 : (n * sxy - sx * sy) / denominator;
}

void BM_StartToFirstState(benchmark::State& state) {
    for (auto _ : state) {
        TempDir data;
        if (data.path().empty()) {
            state.SkipWithError("no temporary folder");
            return;
        }
        HeadlessProcess process(data.path());
        const auto start = Clock::now();
        const auto deadline = start + 10s;
        if (!process.Spawn() || !process.WaitForAddress(deadline)) {
            state.SkipWithError(process.error().c_str());
            return;
        }
        EventStream stream;
        if (!stream.Open(process.port(), process.token(), deadline)) {
            state.SkipWithError(stream.error().c_str());
            return;
        }
        bool seen = false;
        while (!seen) {
            const std::optional<std::string> event = stream.Next(deadline);
            if (!event) break;
            seen = IsNetworkState(*event);
        }
        const auto elapsed = Clock::now() - start;
        if (!seen) {
            state.SkipWithError("no networkState event within 10 s");
            return;
        }
        state.SetIterationTime(Seconds(elapsed));
        startMs.push_back(Milliseconds(elapsed));
        stream.Close();
        if (!process.Stop()) {
            state.SkipWithError(process.error().c_str());
            return;
        }
    }
}
BENCHMARK(BM_StartToFirstState)
    ->Name("headless/start_to_first_state")
    ->Iterations(1)
    ->Repetitions(kStartRuns)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->ComputeStatistics("max",
                        [](const std::vector<double>& v) {
                            return *std::max_element(v.begin(), v.end());
                        })
    ->ReportAggregatesOnly(true);

double IdleSecondsSetting() {
    const char* text = std::getenv("QUILLON_BENCH_IDLE_SECONDS");
    const double seconds = text ? std::atof(text) : 600;
    return seconds > 0 ? seconds : 600;
}

void BM_Idle(benchmark::State& state) {
    for (auto _ : state) {
        idle = IdleFigures{};
        idle.seconds = IdleSecondsSetting();
        idle.connectedSeconds = std::min(Seconds(kConnectedAtMost), idle.seconds / 2);
        TempDir data;
        HeadlessProcess process(data.path());
        if (data.path().empty() || !process.Spawn() ||
            !process.WaitForAddress(Clock::now() + 10s)) {
            state.SkipWithError(process.error().c_str());
            return;
        }
        EventStream stream;
        if (!stream.Open(process.port(), process.token(), Clock::now() + 10s)) {
            state.SkipWithError(stream.error().c_str());
            return;
        }
        // The clock starts at the first state: start-up is the other benchmark's business.
        bool seen = false;
        while (!seen) {
            const std::optional<std::string> event = stream.Next(Clock::now() + 10s);
            if (!event) break;
            seen = IsNetworkState(*event);
        }
        if (!seen) {
            state.SkipWithError("no networkState event within 10 s");
            return;
        }
        const auto begin = Clock::now();
        const auto end = begin + std::chrono::duration_cast<Clock::duration>(
                                     std::chrono::duration<double>(idle.seconds));
        const auto disconnectAt = begin + std::chrono::duration_cast<Clock::duration>(
                                              std::chrono::duration<double>(idle.connectedSeconds));
        auto nextSample = begin;
        const ProcSample first = ReadProc(process.pid());
        ProcSample atDisconnect;
        bool connected = true;
        while (true) {
            const auto now = Clock::now();
            if (now >= nextSample || now >= end) {
                const ProcSample sample = ReadProc(process.pid());
                if (sample.rssKiB < 0) {
                    state.SkipWithError("the process went away");
                    return;
                }
                idle.samples.emplace_back(Seconds(now - begin), sample);
                nextSample += kSampleEvery;
            }
            if (now >= end) break;
            if (connected && now >= disconnectAt) {
                atDisconnect = ReadProc(process.pid());
                idle.activeCpuSeconds = atDisconnect.cpuSeconds - first.cpuSeconds;
                idle.activeOnCpuSeconds = atDisconnect.onCpuSeconds - first.onCpuSeconds;
                idle.activeSwitches = atDisconnect.switches - first.switches;
                stream.Close();
                connected = false;
            }
            const auto wakeAt = std::min({nextSample, end, connected ? disconnectAt : end});
            if (connected) {
                if (const std::optional<std::string> event = stream.Next(wakeAt)) {
                    if (IsNetworkState(*event)) ++idle.activeTicks;
                } else if (!stream.isOpen()) {
                    state.SkipWithError("the event stream ended while connected");
                    return;
                }
            } else {
                std::this_thread::sleep_until(wakeAt);
            }
            process.DrainOutput();
        }
        const ProcSample last = idle.samples.back().second;
        idle.chillSeconds = idle.seconds - idle.connectedSeconds;
        idle.chillCpuSeconds = last.cpuSeconds - atDisconnect.cpuSeconds;
        idle.chillOnCpuSeconds = last.onCpuSeconds - atDisconnect.onCpuSeconds;
        idle.chillSwitches = last.switches - atDisconnect.switches;
        idle.chillTicks = idle.chillSeconds / 60;
        std::vector<std::pair<double, ProcSample>> chill;
        for (const auto& sample : idle.samples) {
            if (sample.first >= idle.connectedSeconds) chill.push_back(sample);
        }
        idle.rssTrendKiBPerMinute = Trend(chill.size() >= 2 ? chill : idle.samples);
        idle.ran = true;
        state.SetIterationTime(Seconds(Clock::now() - begin));
        state.counters["rss_start_MiB"] = first.rssKiB / 1024.0;
        state.counters["rss_end_MiB"] = last.rssKiB / 1024.0;
        state.counters["hwm_MiB"] = last.hwmKiB / 1024.0;
        if (!process.Stop()) {
            state.SkipWithError(process.error().c_str());
            return;
        }
    }
}
BENCHMARK(BM_Idle)->Name("headless/idle")->Iterations(1)->UseManualTime()->Unit(benchmark::kSecond);

void PrintSummary(std::ostream& out) {
    out << std::fixed << std::setprecision(1);
    if (!startMs.empty()) {
        out << "start-up to first networkState: median " << Median(startMs) << " ms, max "
            << *std::max_element(startMs.begin(), startMs.end()) << " ms over " << startMs.size()
            << " runs (goal " << kStartGoalMs << " ms)\n";
    }
    if (!idle.ran) return;
    out << "resident memory over " << idle.seconds << " s (page connected for the first "
        << idle.connectedSeconds << " s), goal " << kRssGoalMiB << " MiB:\n";
    for (const auto& [t, s] : idle.samples) {
        out << "  t=" << std::setw(5) << t << " s  VmRSS " << std::setw(5) << s.rssKiB / 1024.0
            << " MiB  VmHWM " << std::setw(5) << s.hwmKiB / 1024.0 << " MiB  CPU "
            << std::setprecision(2) << s.cpuSeconds << " s\n"
            << std::setprecision(1);
    }
    const ProcSample& first = idle.samples.front().second;
    const ProcSample& last = idle.samples.back().second;
    out << "  RSS at start " << first.rssKiB / 1024.0 << " MiB, at the end " << last.rssKiB / 1024.0
        << " MiB, peak " << last.hwmKiB / 1024.0 << " MiB, chill-mode trend "
        << idle.rssTrendKiBPerMinute << " KiB/min\n";
    const double resolutionMs = 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
    out << "CPU time per measurement tick (utime+stime, resolution " << resolutionMs << " ms):\n";
    auto line = [&out](const char* label, double cpuSeconds, double onCpuSeconds, double ticks,
                       double wallSeconds, const char* tickName) {
        out << "  " << label << ": " << std::setprecision(1) << cpuSeconds * 1e3 << " ms over "
            << ticks << ' ' << tickName << " = " << std::setprecision(0) << cpuSeconds * 1e6 / ticks
            << " us/tick, " << std::setprecision(3) << 100 * cpuSeconds / wallSeconds
            << " % of one core (threads alive: " << std::setprecision(0)
            << onCpuSeconds * 1e6 / ticks << " us/tick, " << std::setprecision(3)
            << 100 * onCpuSeconds / wallSeconds << " %)\n"
            << std::setprecision(1);
    };
    if (idle.activeTicks > 0) {
        line("active (page connected)", idle.activeCpuSeconds, idle.activeOnCpuSeconds,
             static_cast<double>(idle.activeTicks), idle.connectedSeconds, "networkState events");
    }
    if (idle.chillTicks > 0) {
        line("chill (no page, one tick a minute)", idle.chillCpuSeconds, idle.chillOnCpuSeconds,
             idle.chillTicks, idle.chillSeconds, "ticks");
    }
    out << "wake-ups (context switches of the threads alive) per minute: " << std::setprecision(0)
        << 60.0 * idle.activeSwitches / idle.connectedSeconds << " with a page connected (goal "
        << kWakeupsGoalPerMinute << ")";
    if (idle.chillSeconds > 0) {
        out << ", " << 60.0 * idle.chillSwitches / idle.chillSeconds << " in chill mode";
    }
    out << "\n" << std::setprecision(1);
}

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    PrintSummary(std::cout);
    benchmark::Shutdown();
    return 0;
}
