// The measurement archive over a day of virtual time on a fifteen-hop path: what it keeps,
// how little a crash could lose, and what reading it back shows.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>

#include "base/time_text.h"
#include "path/archive_export.h"
#include "path/archive_history.h"
#include "path/archive_reader.h"
#include "path/ping_archive.h"
#include "path_harness.h"
#include "platform/sim/sim_world_builder.h"

namespace quillon::test {
namespace {

namespace fs = std::filesystem;
using sim::kHomeGateway;

// Fifteen hops to 1.1.1.1 with exact round trips (hop n answers in 2n ms); 8.8.8.8 shares the
// first fourteen. The WiFi link loses a third of its packets for five minutes at 2 h.
constexpr uint64_t kLossAtMs = 2 * 3600'000, kLossForMs = 300'000;

sim::WorldConfig LongPathHome() {
    sim::WorldBuilder b;
    b.Seed(7).Home().Path(Ipv4Address(1, 1, 1, 1)).Hop(kHomeGateway, 2);
    for (uint8_t n = 2; n < 15; ++n) b.Hop(Ipv4Address(198, 51, 100, n), 2 * n);
    b.Hop(Ipv4Address(1, 1, 1, 1), 30)
        .Path(Ipv4Address(8, 8, 8, 8))
        .SameHopsAs(Ipv4Address(1, 1, 1, 1), 14)
        .Hop(Ipv4Address(8, 8, 8, 8), 31)
        .At(kLossAtMs, sim::HopLoss({kHomeGateway}, 33))
        .At(kLossAtMs + kLossForMs, sim::HopLoss({kHomeGateway}, 0));
    return b.Build();
}

struct Newest {
    int64_t ms = 0;
    size_t lines = 0;
    uint64_t bytes = 0;
};

// The newest sample on disk, and how many lines and bytes the day files hold.
Newest ReadBack(const std::string& folder) {
    Newest newest;
    for (const ArchiveFile& file : ArchiveFilesBetween(folder, kSampleFilePrefix, 0, 1 << 30)) {
        newest.bytes += fs::file_size(file.path);
        ForEachArchiveLine(file.path, [&](std::string_view line) {
            ++newest.lines;
            const auto record = ParseSampleLine(line);
            if (record) newest.ms = std::max(newest.ms, *ParseIsoTime(record->ts));
        });
    }
    return newest;
}

TEST(ArchiveScenario, ADayOfAFifteenHopPathIsKeptWholeAndReadBack) {
    PathHarness h(LongPathHome());
    PingArchive archive(h.clock);
    const std::string folder = h.system.Root() + "/Data";
    ASSERT_TRUE(archive.Init(folder));
    h.monitor.SetArchive(&archive);
    const int64_t startMs = h.clock.UnixSeconds() * 1000;

    size_t mostPending = 0;
    for (int hour = 0; hour < 24; ++hour) {
        const uint64_t end = h.clock.Elapsed() + 3600'000;
        while (h.clock.Elapsed() < end) {
            h.Tick();
            mostPending = std::max(mostPending, archive.Pending());
        }
        // Killed now, the program would lose no more than the last minute (and the tick
        // that was under way).
        const int64_t nowMs = h.clock.UnixSeconds() * 1000;
        EXPECT_LE(nowMs - ReadBack(folder).ms, 65'000) << "hour " << hour;
    }
    h.monitor.SetArchive(nullptr);
    archive.Shutdown();
    EXPECT_LE(mostPending, PingArchive::kFlushRecords);

    // One echo per hop and regular sweep (every 5 s), and nothing else: the extra echoes
    // while the WiFi loss was proven are not kept. The size is the lines' own.
    std::map<std::string, size_t> perHop;
    uint64_t computedBytes = 0;
    const std::string stampless = "{\"ts\":\"\",\"hop\":\"\",\"ttl\":,\"rtt\":}\n";
    for (const ArchiveFile& file : ArchiveFilesBetween(folder, kSampleFilePrefix, 0, 1 << 30)) {
        ForEachArchiveLine(file.path, [&](std::string_view line) {
            const auto r = ParseSampleLine(line);
            ASSERT_TRUE(r) << line;
            ++perHop[r->hop];
            computedBytes += stampless.size() + r->ts.size() + r->hop.size() +
                             std::to_string(r->ttl).size() +
                             (r->timedOut ? 8 : std::to_string(r->rttMs).size());
            if (!r->timedOut && r->hop != kHomeGateway.Text()) {
                EXPECT_EQ(r->rttMs, r->hop == "1.1.1.1"   ? 30u
                                    : r->hop == "8.8.8.8" ? 31u
                                                          : 2u * (r->ttl));
            }
        });
    }
    const Newest total = ReadBack(folder);
    EXPECT_EQ(total.bytes, computedBytes);
    perHop.erase("8.8.8.8");  // measured once the poller learns the second path
    ASSERT_EQ(perHop.size(), 15u);
    const size_t sweeps = 24 * 3600 / 5;
    for (const auto& [hop, count] : perHop) {
        EXPECT_GE(count, sweeps - 24) << hop;  // the first minutes find the path
        EXPECT_LE(count, sweeps) << hop;
    }
    EXPECT_LT(total.bytes, 24u << 20);
    EXPECT_EQ(ArchiveFilesBetween(folder, kSampleFilePrefix, 0, 1 << 30).size(), 2u)
        << "the day crossed midnight";

    // The day read back: the WiFi trouble at 2 h as one problem period among healthy ones.
    HistoryRequest request{folder, startMs, startMs + 24 * 3600'000};
    request.lastVerdictCurrent = false;
    const History history = ReadHistory(request);
    EXPECT_EQ(history.records, total.lines);
    EXPECT_EQ(history.skipped, 0u);
    std::vector<std::string> problems;
    for (const VerdictPeriod& period : history.verdicts) {
        if (period.verdict.status == "healthy" || period.verdict.status == "unknown") continue;
        problems.push_back(period.verdict.title);
        if (period.verdict.title == "WiFi Connection Issue") {
            // What the person was told, and why: the loss at the first hop.
            EXPECT_EQ(period.verdict.ip, "192.168.1.1");
            EXPECT_EQ(period.verdict.hopNumber, 1);
            EXPECT_EQ(period.verdict.trigger, "loss");
            EXPECT_GT(period.verdict.triggerValue, 10);
        }
        EXPECT_GE(period.fromMs - startMs, static_cast<int64_t>(kLossAtMs));
        EXPECT_LE(period.toMs - startMs, static_cast<int64_t>(kLossAtMs + kLossForMs + 90'000));
    }
    ASSERT_FALSE(problems.empty());
    EXPECT_NE(std::find(problems.begin(), problems.end(), "WiFi Connection Issue"), problems.end());
    EXPECT_EQ(history.verdicts.back().verdict.status, "healthy");

    // Exported, the day is every record.
    ExportRequest all;
    all.folder = folder;
    all.firstDay = 0;
    all.lastDay = 1 << 30;
    const ExportSummary exported = ExportArchiveToFile(all, h.system.Root() + "/day.csv");
    EXPECT_TRUE(exported.ok);
    EXPECT_EQ(exported.records, total.lines);
}

}  // namespace
}  // namespace quillon::test
