// CPU time of one HTTPS service probe beside curl's on the same server, and memory per probe
// worker. Run in the lab's client namespace by bench/lab_https_probe.sh; the server's CA comes
// from SSL_CERT_FILE, as for the application.
//
//   lab_https_probe URL COUNT
// Prints CPU µs per request for: Quillon's probe (a fresh connection, look-up and handshake
// each time, the body counted), curl started once per request (what a monitoring script does),
// and one curl process fetching COUNT times over fresh connections ("Connection: close"); then
// the resident memory five probing workers add, per worker.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "net/http_client.h"
#include "platform/linux/linux_clock.h"
#include "platform/linux/linux_dns.h"
#include "platform/linux/linux_http.h"
#include "platform/linux/linux_icmp.h"
#include "platform/linux/linux_sockets.h"
#include "platform/portable/std_threads.h"
#include "services/service_monitor.h"

namespace {

double CpuUs(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto us = [](const timeval& t) { return t.tv_sec * 1e6 + t.tv_usec; };
    return us(usage.ru_utime) + us(usage.ru_stime);
}

long ResidentKiB() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
    }
    return 0;
}

// Runs curl with these arguments and waits for it; false when it did not succeed.
bool RunCurl(const std::vector<std::string>& args) {
    const pid_t pid = fork();
    if (pid == 0) {
        std::vector<char*> argv;
        argv.push_back(const_cast<char*>("curl"));
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        execvp("curl", argv.data());
        _exit(127);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: lab_https_probe URL COUNT\n");
        return 2;
    }
    const std::string url = argv[1];
    const int count = std::atoi(argv[2]);
    const char* caFile = std::getenv("SSL_CERT_FILE");

    quillon::lnx::LinuxClock clock;
    quillon::StdThreads threads;
    quillon::lnx::LinuxIcmp icmp;
    quillon::lnx::LinuxDns dns;
    quillon::lnx::LinuxSockets sockets;
    quillon::lnx::LinuxHttp http(quillon::lnx::LinuxHttpOptions{caFile ? caFile : ""});
    quillon::HttpClient client(http);
    if (!client.Init()) return 1;
    quillon::ServiceProber prober(clock, icmp, dns, sockets, client);
    const quillon::ServiceDefinition service{"web", "web", url, quillon::ProbeType::Https,
                                             0, 1000, true};

    if (!prober.ProbeWeb(service).success) {  // warm-up, and a check that the server answers
        std::fprintf(stderr, "the probe of %s failed\n", url.c_str());
        return 1;
    }
    double start = CpuUs(RUSAGE_SELF);
    for (int i = 0; i < count; ++i) prober.ProbeWeb(service);
    const double probe = (CpuUs(RUSAGE_SELF) - start) / count;

    std::vector<std::string> common = {"-s", "-o", "/dev/null"};
    if (caFile) common.insert(common.end(), {"--cacert", caFile});
    start = CpuUs(RUSAGE_CHILDREN);
    for (int i = 0; i < count; ++i) {
        std::vector<std::string> args = common;
        args.push_back(url);
        if (!RunCurl(args)) return 1;
    }
    const double curlEach = (CpuUs(RUSAGE_CHILDREN) - start) / count;
    std::vector<std::string> args = common;
    args.insert(args.end(), {"-H", "Connection: close"});
    for (int i = 0; i < count; ++i) {
        args.push_back(url);
        if (i > 0) args.insert(args.end() - 1, {"-o", "/dev/null"});
    }
    start = CpuUs(RUSAGE_CHILDREN);
    if (!RunCurl(args)) return 1;
    const double curlOne = (CpuUs(RUSAGE_CHILDREN) - start) / count;

    std::printf("CPU per HTTPS request (%d requests to %s)\n", count, url.c_str());
    std::printf("  quillon probe          %8.0f us\n", probe);
    std::printf("  curl, one per request  %8.0f us   quillon/curl %.2f\n", curlEach,
                probe / curlEach);
    std::printf("  curl, one for all      %8.0f us   quillon/curl %.2f\n", curlOne, probe / curlOne);

    // Five workers probing every second: what they add to the resident memory, each.
    const long before = ResidentKiB();
    quillon::ServiceMonitor monitor(prober, clock, threads);
    monitor.InitializeServiceProbing();
    std::vector<quillon::ServiceDefinition> five;
    for (int i = 0; i < 5; ++i) {
        five.push_back(service);
        five.back().id = "web" + std::to_string(i);
    }
    monitor.StartServiceProbing(five);
    std::this_thread::sleep_for(std::chrono::seconds(5));
    const long after = ResidentKiB();
    monitor.StopServiceProbing(std::chrono::milliseconds(15000));
    std::printf("Memory per probe worker: %ld KiB (5 workers: %ld -> %ld KiB resident)\n",
                (after - before) / 5, before, after);
    return 0;
}
