// The measurement archive: records appended per second, and what a person waits for when
// reading a day of a fifteen-hop path back: the export (goal: under a second) and the page's
// history of a day (goal: under 200 ms). Beside them, the same day's files merely read through,
// the floor any reader of them stands on.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "path/archive_export.h"
#include "path/archive_history.h"
#include "path/archive_reader.h"
#include "path/ping_archive.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"

namespace {

using namespace quillon;

constexpr int kHops = 15;
constexpr int kDaySweeps = 24 * 3600 / 5;

// A day of echoes of a fifteen-hop path, one sweep every 5 s, written by the archive itself.
struct RecordedDay {
    sim::SimSystem system;
    sim::VirtualClock clock{{2026, 12, 7, 0, 0, 0, 0}, 1000, 1'796'601'600};
    std::string folder = system.Root() + "/Data";
    int64_t startMs = clock.UnixSeconds() * 1000;

    RecordedDay() {
        PingArchive archive(clock);
        archive.Init(folder);
        for (int sweep = 0; sweep < kDaySweeps; ++sweep) {
            for (int hop = 1; hop <= kHops; ++hop) {
                const std::string address = "198.51.100." + std::to_string(hop);
                archive.AddSample(address, hop, static_cast<uint32_t>(2 * hop + sweep % 7),
                                  sweep % 97 == hop);
            }
            archive.FlushIfDue();
            clock.Advance(5000);
        }
        archive.Flush();
    }
};

RecordedDay& Day() {
    static RecordedDay day;
    return day;
}

void BM_ArchiveAppend(benchmark::State& state) {
    sim::SimSystem system;
    sim::VirtualClock clock;
    PingArchive archive(clock);
    archive.Init(system.Root() + "/Data");
    int64_t records = 0;
    for (auto _ : state) {
        archive.AddSample("203.0.113.1", 3, 12, false);
        archive.FlushIfDue();
        ++records;
    }
    archive.Flush();
    state.SetItemsProcessed(records);
}
BENCHMARK(BM_ArchiveAppend);

void BM_DayFilesReadThrough(benchmark::State& state) {
    RecordedDay& day = Day();
    uint64_t lines = 0;
    for (auto _ : state) {
        for (const ArchiveFile& f :
             ArchiveFilesBetween(day.folder, kSampleFilePrefix, 0, 1 << 30)) {
            lines += ForEachArchiveLine(f.path, [](std::string_view) {}).lines;
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(lines));
}
BENCHMARK(BM_DayFilesReadThrough)->Unit(benchmark::kMillisecond);

void BM_ExportDay(benchmark::State& state) {
    RecordedDay& day = Day();
    ExportRequest request;
    request.folder = day.folder;
    request.firstDay = 0;
    request.lastDay = 1 << 30;
    request.format = state.range(0) == 0 ? ExportFormat::Csv : ExportFormat::Json;
    const std::string out = day.system.Root() + "/export";
    uint64_t records = 0;
    for (auto _ : state) {
        const ExportSummary summary = ExportArchiveToFile(request, out);
        if (!summary.ok) state.SkipWithError(summary.error.c_str());
        records += summary.records;
    }
    state.SetItemsProcessed(static_cast<int64_t>(records));
    state.SetLabel(state.range(0) == 0 ? "csv" : "json");
}
BENCHMARK(BM_ExportDay)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_HistoryOfADay(benchmark::State& state) {
    RecordedDay& day = Day();
    HistoryRequest request{day.folder, day.startMs, day.startMs + 24 * 3600'000};
    size_t bytes = 0;
    for (auto _ : state) {
        const History history = ReadHistory(request);
        bytes = HistoryMessage(history, "day").size();
        benchmark::DoNotOptimize(bytes);
    }
    state.counters["message_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(BM_HistoryOfADay)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
