// How right the verdict is, and how fast, on a simulated seven-hop home path in virtual time:
// each case impairs the path in one way and is run on many seeds of the simulated network's
// random source. Prints one table:
//   right@20s  runs that named the expected segment within 20 s of the onset (%)
//   median     median time from the onset to naming it (s)
//   wrong      runs that named another segment while the impairment lasted
//   flaps      runs whose named verdict changed after it was first named, before the end
//   clear      median / worst time from the end of the impairment to "healthy" (s)
//   alarms     named verdicts shown where none should be, per 24 h of watching
//   extra      echoes sent per minute, on average (the cost of gathering evidence)
//
//   bench_verdict_accuracy [SEEDS [CASE]]   (default 200 seeds, every case)
//   QUILLON_BENCH_TRACE=SEED prints the verdict's changes in the run of that seed.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "path/path_monitor.h"
#include "platform/sim/sim_network.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/sim_world_builder.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

constexpr Ipv4Address kGateway = sim::kHomeGateway;
constexpr Ipv4Address kCgnat(100, 72, 0, 1);
constexpr Ipv4Address kIsp1(203, 0, 113, 1);
constexpr Ipv4Address kIsp2(203, 0, 113, 65);
constexpr Ipv4Address kTransit(198, 51, 100, 1);
constexpr Ipv4Address kDestination(1, 1, 1, 1);

// The lab's path: gateway, CGNAT, two ISP hops, transit, a silent router, the destination.
sim::WorldBuilder LabHome(uint64_t seed) {
    sim::WorldBuilder b;
    b.Seed(seed)
        .Home()
        .Path(kDestination)
        .Hop(kGateway, 2, 0.5)
        .Named("router.home")
        .Hop(kCgnat, 6, 1)
        .Hop(kIsp1, 9, 1.5)
        .As(64500, "LAB-ISP, ZZ")
        .Hop(kIsp2, 10, 1.5)
        .As(64500, "LAB-ISP, ZZ")
        .Hop(kTransit, 12, 2)
        .As(64510, "LAB-CARRIER, ZZ")
        .NoAnswerHop()
        .Hop(kDestination, 14, 2)
        .As(13335, "CLOUDFLARENET, US")
        .Path(Ipv4Address(8, 8, 8, 8))
        .SameHopsAs(kDestination, 5)
        .Hop(Ipv4Address(8, 8, 8, 8), 16, 2)
        .As(15169, "GOOGLE, US");
    return b;
}

struct Case {
    const char* name;
    std::function<void(sim::WorldBuilder&, uint64_t onset, uint64_t end)> impair;
    std::string expected;  // the segment to name; empty: nothing should be named
    uint64_t endMs = 0;    // when the impairment ends; 0: it lasts
    uint64_t runMs = 0;
};

constexpr uint64_t kOnsetMs = 120'000;

Case LossAt(const char* name, Ipv4Address hop, double percent, std::string expected,
            uint64_t endMs = 0) {
    return {name,
            [=](sim::WorldBuilder& b, uint64_t onset, uint64_t end) {
                b.At(onset, sim::HopLoss({hop}, percent));
                if (end != 0) b.At(end, sim::HopLoss({hop}, 0));
            },
            std::move(expected), endMs, endMs != 0 ? endMs + 150'000 : kOnsetMs + 300'000};
}

std::vector<Case> Cases() {
    std::vector<Case> cases = {
        LossAt("home link loss 10 %", kGateway, 10, "connection"),
        LossAt("home link loss 20 %", kGateway, 20, "connection"),
        LossAt("home link loss 30 %", kGateway, 30, "connection"),
        LossAt("loss 30 % past the CGNAT hop", kIsp1, 30, "isp"),
        LossAt("home link 30 % for 2 min", kGateway, 30, "connection", kOnsetMs + 120'000),
        LossAt("ISP loss 20 % behind a silent hop", kDestination, 0, ""),  // replaced below
        LossAt("destination-only loss 20 %", kDestination, 20, "services"),
    };
    // Loss in the ISP behind a silent hop: the second ISP hop stops answering and the loss
    // starts on the link into it.
    cases[5] = {"ISP loss 20 % behind a silent hop",
                [](sim::WorldBuilder& b, uint64_t onset, uint64_t) {
                    b.At(0, sim::HopSilent({kIsp2}));
                    b.At(onset, sim::HopLoss({kIsp2}, 20));
                },
                "isp", 0, kOnsetMs + 300'000};
    cases.push_back({"rate-limited middle hop (40 %)",
                     [](sim::WorldBuilder& b, uint64_t, uint64_t) {
                         b.config().paths[0].hops[3].answerLossPercent = 40;
                         b.config().paths[1].hops[3].answerLossPercent = 40;
                     },
                     "", 0, 3'600'000});
    cases.push_back({"ISP bufferbloat +200 ms",
                     [](sim::WorldBuilder& b, uint64_t onset, uint64_t) {
                         b.At(onset, sim::HopLatency({kIsp1}, 200));
                     },
                     "isp", 0, kOnsetMs + 300'000});
    cases.push_back({"outage in the ISP (100 %)",
                     [](sim::WorldBuilder& b, uint64_t onset, uint64_t) {
                         b.At(onset, sim::HopLoss({kIsp1}, 100));
                     },
                     "isp", 0, kOnsetMs + 300'000});
    cases.push_back({"24 h healthy, ordinary jitter",
                     [](sim::WorldBuilder& b, uint64_t, uint64_t) {
                         for (sim::PathConfig& path : b.config().paths) {
                             for (sim::HopConfig& hop : path.hops) hop.jitterMs *= 2;
                         }
                     },
                     "", 0, 24 * 3'600'000ull});
    return cases;
}

struct RunResult {
    bool named = false;
    double toRightS = -1;  // from the onset; -1: never
    bool wrong = false;
    bool flapped = false;
    double clearS = -1;  // from the end to healthy; -1: never (or no end)
    int alarms = 0;      // named verdicts where none belonged
    double echoesPerMin = 0;
};

RunResult RunOnce(const Case& c, uint64_t seed) {
    sim::WorldBuilder b = LabHome(seed);
    c.impair(b, kOnsetMs, c.endMs);
    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads{sim::ThreadMode::Inline};
    sim::SimNetwork network(b.Build(), clock);
    PathMonitor monitor(
        PathPorts{clock, threads, network.icmp(), network.netInfo(), network.dns(), system});
    monitor.Prober().OpenSharedHandle();
    monitor.AddDestinations(DefaultDestinations());

    RunResult r;
    std::string firstNamed;  // "title|segment" when first named during the impairment
    std::string lastShown;   // for QUILLON_BENCH_TRACE=SEED: the verdict's changes, as they come
    const char* trace = std::getenv("QUILLON_BENCH_TRACE");
    const bool tracing = trace != nullptr && std::strtoull(trace, nullptr, 10) == seed;
    bool inAlarm = false;
    const uint64_t start = clock.Elapsed();
    while (clock.Elapsed() - start < c.runMs) {
        const uint64_t now = clock.Elapsed() - start;
        const uint64_t tickStart = clock.Tick64();
        monitor.MeasurementTick(PathMonitor::kRegularTickMs);
        const Callout& shown = monitor.HysteresisTable().memory.shown;
        const bool impaired = now >= kOnsetMs && (c.endMs == 0 || now < c.endMs);
        const std::string segment = shown.show && shown.segment ? SegmentId(*shown.segment) : "";
        if (tracing && shown.title + "|" + segment != lastShown) {
            lastShown = shown.title + "|" + segment;
            const Diagnosis& d = monitor.StateBuilder().LastDiagnosis();
            std::printf("  %7.1f s  %-40s proven %d, placed %d, loss from hop %d\n", now / 1000.0,
                        lastShown.c_str(), d.hasIssue, d.culpritSegment.has_value(),
                        d.lossHop.value_or(-1));
        }
        if (c.expected.empty()) {
            const bool alarm = !segment.empty();
            if (alarm && !inAlarm) ++r.alarms;
            inAlarm = alarm;
        } else if (impaired) {
            if (!segment.empty()) {
                if (segment != c.expected) r.wrong = true;
                const std::string verdict = shown.title + "|" + segment;
                if (firstNamed.empty()) {
                    firstNamed = verdict;
                } else if (verdict != firstNamed) {
                    r.flapped = true;
                }
                if (segment == c.expected && r.toRightS < 0) {
                    r.toRightS = double(now - kOnsetMs) / 1000.0;
                    r.named = true;
                }
            } else if (!firstNamed.empty()) {
                r.flapped = true;  // named, then no longer, while it lasted
            }
        } else if (c.endMs != 0 && now >= c.endMs && r.clearS < 0 && !shown.show) {
            r.clearS = double(now - c.endMs) / 1000.0;
        }
        const uint64_t period = monitor.NextTickDelayMs(PathMonitor::kRegularTickMs);
        const uint64_t spent = clock.Tick64() - tickStart;
        if (spent < period) clock.Advance(period - spent);
    }
    r.echoesPerMin = double(network.world().SentEchoes().size()) / (double(c.runMs) / 60'000.0);
    return r;
}

double Median(std::vector<double> v) {
    if (v.empty()) return -1;
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void Report(const Case& c, const std::vector<RunResult>& runs) {
    int right20 = 0, wrong = 0, flaps = 0, alarms = 0;
    std::vector<double> toRight, clear;
    double echoes = 0;
    int neverCleared = 0;
    for (const RunResult& r : runs) {
        if (r.named && r.toRightS <= 20.0) ++right20;
        if (r.named) toRight.push_back(r.toRightS);
        wrong += r.wrong;
        flaps += r.flapped;
        alarms += r.alarms;
        if (c.endMs != 0) {
            if (r.clearS >= 0) {
                clear.push_back(r.clearS);
            } else {
                ++neverCleared;
            }
        }
        echoes += r.echoesPerMin;
    }
    const double n = double(runs.size());
    char right[16] = "-", median[16] = "-", clearText[32] = "-", alarmText[16] = "-";
    if (!c.expected.empty()) {
        std::snprintf(right, sizeof right, "%.1f", 100.0 * right20 / n);
        if (!toRight.empty()) std::snprintf(median, sizeof median, "%.0f", Median(toRight));
    }
    if (c.endMs != 0) {
        const double worst = clear.empty() ? -1 : *std::max_element(clear.begin(), clear.end());
        std::snprintf(clearText, sizeof clearText, "%.0f / %.0f%s", Median(clear), worst,
                      neverCleared ? " (some never)" : "");
    }
    if (c.expected.empty()) {
        const double days = n * double(c.runMs) / (24.0 * 3'600'000.0);
        std::snprintf(alarmText, sizeof alarmText, "%.2f", alarms / days);
    }
    std::printf("%-36s %9s %7s %6d %6d %16s %8s %7.0f\n", c.name, right, median, wrong, flaps,
                clearText, alarmText, echoes / n);
    std::fflush(stdout);
}

}  // namespace
}  // namespace quillon

int main(int argc, char** argv) {
    using namespace quillon;
    const int seeds = argc > 1 ? std::atoi(argv[1]) : 200;
    const std::string only = argc > 2 ? argv[2] : "";
    std::printf("%d seeds per case, onset at %llu s\n", seeds,
                static_cast<unsigned long long>(kOnsetMs / 1000));
    std::printf("%-36s %9s %7s %6s %6s %16s %8s %7s\n", "case", "right@20s", "median", "wrong",
                "flaps", "clear med/max", "alarms", "echo/m");
    for (const Case& c : Cases()) {
        if (!only.empty() && std::string(c.name).find(only) == std::string::npos) continue;
        std::vector<RunResult> runs(static_cast<size_t>(seeds));
        std::atomic<int> next{0};
        std::vector<std::thread> workers;
        const unsigned count = std::max(1u, std::thread::hardware_concurrency());
        for (unsigned w = 0; w < count; ++w) {
            workers.emplace_back([&] {
                for (int i = next++; i < seeds; i = next++) runs[size_t(i)] = RunOnce(c, 1000 + i);
            });
        }
        for (std::thread& t : workers) t.join();
        Report(c, runs);
    }
    return 0;
}
