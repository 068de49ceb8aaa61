// The measurement archive: its line formats, the writer's flushing and failures, reading back
// (history buckets and verdict periods) and the export.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "base/json_value.h"
#include "base/time_text.h"
#include "fakes/file_text.h"
#include "fakes/log_capture.h"
#include "fakes/temp_dir.h"
#include "path/archive_export.h"
#include "path/archive_history.h"
#include "path/archive_reader.h"
#include "path/ping_archive.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;
using test::ReadFileText;

// The virtual clock's first day (2026-12-05, UTC) and its files.
const int64_t kFirstDay = DaysFromCivil(2026, 12, 5);
constexpr int64_t kStartMs = 1'796'456'519'000;

std::string SampleFile(const fs::path& folder, int64_t day = kFirstDay) {
    return (folder / ArchiveFileName(kSampleFilePrefix, day)).string();
}

std::vector<std::string> LinesOf(const std::string& path) {
    std::vector<std::string> lines;
    ForEachArchiveLine(path, [&](std::string_view line) { lines.emplace_back(line); });
    return lines;
}

TEST(ArchiveFormat, LinesAreWrittenExactlyAndAnythingElseIsRefused) {
    std::string out;
    AppendSampleLine(out, {"2026-12-07T10:00:00.000+01:00", "192.168.1.1", 1, 3, false});
    AppendSampleLine(out, {"2026-12-07T10:00:00.000+01:00", "100.64.0.1", 2, 0, true});
    EXPECT_EQ(out,
              "{\"ts\":\"2026-12-07T10:00:00.000+01:00\",\"hop\":\"192.168.1.1\",\"ttl\":1,"
              "\"rtt\":3}\n"
              "{\"ts\":\"2026-12-07T10:00:00.000+01:00\",\"hop\":\"100.64.0.1\",\"ttl\":2,"
              "\"timeout\":true}\n");

    // Texts that need escaping come back intact; an over-long one is cut at a character.
    const std::string odd = "a\"b\\c\td\ne\rf\x01g";
    const std::string longName = std::string(254, 'x') + "\xC3\xA9";  // é across byte 255
    for (const ArchiveRecord& record :
         {ArchiveRecord{"t", odd, 3, 4294967295u, false}, ArchiveRecord{odd, "h", -1, 0, true},
          ArchiveRecord{"t", longName, 1, 1, false}}) {
        std::string line;
        AppendSampleLine(line, record);
        ASSERT_EQ(line.back(), '\n');
        line.pop_back();
        const auto back = ParseSampleLine(line);
        ASSERT_TRUE(back) << line;
        if (record.hop == longName) {
            EXPECT_EQ(back->hop, std::string(254, 'x'));
        } else {
            EXPECT_EQ(*back, record);
        }
    }
    std::string escaped;
    AppendSampleLine(escaped, {"t", "say \"hi\"", 1, 1, false});
    EXPECT_NE(escaped.find("say \\\"hi\\\""), std::string::npos);

    for (const char* bad :
         {"{\"ts\":\"t\",\"hop\":\"h\",\"ttl\":1,\"rtt\":3",            // torn
          "{\"ts\":\"t\",\"hop\":\"h\",\"ttl\":1,\"rtt\":3}x",          // junk after
          "{\"ts\":\"t\",\"hop\":\"h\",\"ttl\":1,\"rtt\":-3}",          // negative time
          "{\"ts\":\"t\",\"hop\":\"h\",\"ttl\":1,\"rtt\":4294967296}",  // too large
          "{\"ts\":\"t\",\"hop\":\"h\",\"ttl\":1,\"timeout\":false}",
          "{\"hop\":\"h\",\"ts\":\"t\",\"ttl\":1,\"rtt\":3}", "", "garbage",
          "{\"ts\":\"t\\q\",\"hop\":\"h\",\"ttl\":1,\"rtt\":3}"}) {
        EXPECT_FALSE(ParseSampleLine(bad)) << bad;
    }

    VerdictRecord verdict{"2026-12-07T10:02:00.000+01:00",
                          "warning",
                          "isp",
                          "ISP Issue",
                          3,
                          "203.0.113.1",
                          "loss",
                          12.5,
                          41.2,
                          12.5,
                          3.1};
    std::string verdictLine;
    AppendVerdictLine(verdictLine, verdict);
    verdictLine.pop_back();
    EXPECT_EQ(ParseVerdictLine(verdictLine), verdict);
    VerdictRecord stopped;
    stopped.ts = verdict.ts;
    stopped.status = "stopped";
    std::string stoppedLine;
    AppendVerdictLine(stoppedLine, stopped);
    EXPECT_EQ(stoppedLine, "{\"ts\":\"2026-12-07T10:02:00.000+01:00\",\"status\":\"stopped\"}\n");
    EXPECT_FALSE(ParseVerdictLine("{\"ts\":\"yesterday\",\"status\":\"healthy\"}"));
    EXPECT_FALSE(ParseVerdictLine("{\"ts\":\"2026-12-07T10:02:00.000+01:00\",\"status\":\"he"));

    EXPECT_EQ(ArchiveFileName(kSampleFilePrefix, kFirstDay), "ping_samples_20261205.jsonl");
    EXPECT_EQ(ArchiveFileDay(kVerdictFilePrefix, "verdict_history_20261205.jsonl"), kFirstDay);
    EXPECT_FALSE(ArchiveFileDay(kSampleFilePrefix, "ping_samples_20261305.jsonl"));
    EXPECT_FALSE(ArchiveFileDay(kSampleFilePrefix, "verdict_history_20261205.jsonl"));
}

TEST(PingArchive, AppendsWholeLinesOnceAMinuteOrWhenAThousandWait) {
    test::TempDir dir;
    sim::VirtualClock clock;
    PingArchive archive(clock);
    ASSERT_TRUE(archive.Init((dir.path() / "Data").string()));
    const std::string file = SampleFile(dir.path() / "Data");
    EXPECT_TRUE(archive.Flush());
    EXPECT_FALSE(fs::exists(file)) << "nothing to write creates no file";

    for (int i = 0; i < 3; ++i) archive.AddSample("192.168.1.1", 1, 2, false);
    clock.Advance(59000);
    archive.FlushIfDue();
    EXPECT_FALSE(fs::exists(file));
    clock.Advance(1000);
    archive.FlushIfDue();
    EXPECT_EQ(LinesOf(file).size(), 3u);

    for (size_t i = 1; i < PingArchive::kFlushRecords; ++i) archive.AddSample("h", 2, 0, true);
    archive.FlushIfDue();
    EXPECT_EQ(LinesOf(file).size(), 3u);
    archive.AddSample("h", 2, 0, true);
    archive.FlushIfDue();
    EXPECT_EQ(LinesOf(file).size(), 3u + PingArchive::kFlushRecords);
    EXPECT_EQ(archive.Pending(), 0u);

    // A second archive on the same day appends to the same file; the stopped line closes it.
    archive.Shutdown();
    PingArchive next(clock);
    ASSERT_TRUE(next.Init((dir.path() / "Data").string()));
    next.AddSample("h", 2, 9, false);
    next.Shutdown();
    const std::vector<std::string> lines = LinesOf(file);
    ASSERT_EQ(lines.size(), 4u + PingArchive::kFlushRecords);
    EXPECT_TRUE(ParseSampleLine(lines.back()));
    const auto verdicts =
        LinesOf((dir.path() / "Data" / "verdict_history_20261205.jsonl").string());
    ASSERT_EQ(verdicts.size(), 2u);
    EXPECT_EQ(ParseVerdictLine(verdicts[1])->status, "stopped");
}

TEST(PingArchive, RecordsLandInTheirOwnDayAndOldDaysAreRemoved) {
    test::TempDir dir;
    // 23:59:30 local: the next minute is another day.
    sim::VirtualClock clock({2026, 12, 5, 23, 59, 30, 0}, 1000, 1'796'515'170);
    const fs::path folder = dir.path() / "Data";
    fs::create_directories(folder);
    for (int64_t age : {0, 30, 31, 400}) {
        std::ofstream(SampleFile(folder, kFirstDay - age)) << "\n";
        std::ofstream(folder / ArchiveFileName(kVerdictFilePrefix, kFirstDay - age)) << "\n";
    }
    std::ofstream(folder / "notes.txt") << "mine\n";
    PingArchive archive(clock);
    ASSERT_TRUE(archive.Init(folder.string(), 30));
    EXPECT_TRUE(fs::exists(SampleFile(folder, kFirstDay - 30)));
    EXPECT_FALSE(fs::exists(SampleFile(folder, kFirstDay - 31)));
    EXPECT_FALSE(fs::exists(SampleFile(folder, kFirstDay - 400)));
    EXPECT_FALSE(fs::exists(folder / ArchiveFileName(kVerdictFilePrefix, kFirstDay - 31)));
    EXPECT_TRUE(fs::exists(folder / "notes.txt"));

    archive.AddSample("a", 1, 1, false);
    clock.Advance(60000);
    archive.AddSample("b", 1, 1, false);
    archive.Flush();
    const auto today = LinesOf(SampleFile(folder));
    const auto tomorrow = LinesOf(SampleFile(folder, kFirstDay + 1));
    ASSERT_EQ(today.size(), 2u);  // the empty line written above, then "a"
    EXPECT_EQ(ParseSampleLine(today[1])->hop, "a");
    ASSERT_EQ(tomorrow.size(), 1u);
    EXPECT_EQ(ParseSampleLine(tomorrow[0])->hop, "b");
}

TEST(PingArchive, AFailedWriteKeepsItsRecordsAndATornLineStaysApart) {
    test::TempDir dir;
    sim::VirtualClock clock;
    sim::SimSystem system;
    test::TestLog log(system, clock);
    const fs::path folder = dir.path();
    PingArchive archive(clock);
    ASSERT_TRUE(archive.Init(folder.string()));

    // A full disk: every write fails; the records wait, the failure is logged once an hour.
#ifdef _WIN32
    // No full device to point at here: a folder in the file's place fails every open instead.
    fs::create_directory(SampleFile(folder));
    const std::string failure = "Failed to open archive file";
#else
    fs::create_symlink("/dev/full", SampleFile(folder));
    const std::string failure = "Failed to write archive file";
#endif
    archive.AddSample("a", 1, 1, false);
    EXPECT_FALSE(archive.Flush());
    archive.AddSample("b", 1, 1, false);
    EXPECT_FALSE(archive.Flush());
    EXPECT_EQ(archive.Pending(), 2u);
    EXPECT_EQ(log.Count(failure), 1) << log.Text();

    // Space again, and the file was torn by a crash: the waiting lines follow on a line of
    // their own.
    fs::remove(SampleFile(folder));
    std::ofstream(SampleFile(folder)) << "{\"ts\":\"2026-12-05T07:41:59.000+00:00\",\"hop\":\"x";
    EXPECT_TRUE(archive.Flush());
    const auto lines = LinesOf(SampleFile(folder));
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_FALSE(ParseSampleLine(lines[0]));
    EXPECT_EQ(ParseSampleLine(lines[1])->hop, "a");
    EXPECT_EQ(ParseSampleLine(lines[2])->hop, "b");
    EXPECT_EQ(log.Count("Archive files written again"), 1);

    // No folder at all: the archive says so and drops what it is given.
    PingArchive nowhere(clock);
    std::ofstream(folder / "file") << "x";
    EXPECT_FALSE(nowhere.Init((folder / "file" / "Data").string()));
    nowhere.AddSample("a", 1, 1, false);
    EXPECT_EQ(nowhere.Pending(), 0u);
    EXPECT_EQ(log.Count("Failed to initialize archiver - ping samples will not be persisted"), 1);
}

TEST(ArchiveReader, ReadsLinesAcrossChunksAndSkipsOverlongOnes) {
    test::TempDir dir;
    const std::string path = (dir.path() / "f").string();
    std::string text;
    text += std::string(65530, 'a') + "\n";  // ends just before the first chunk's end
    text += "bcdefghijkl\n";                 // spans the chunks
    text += std::string(kMaxArchiveLine + 1, 'c') + "\n";
    text += std::string(200000, 'd') + "\n";  // over three chunks
    text += "last";
    std::ofstream(path, std::ios::binary) << text;
    std::vector<std::string> lines;
    LineCounts counts =
        ForEachArchiveLine(path, [&](std::string_view l) { lines.emplace_back(l); });
    EXPECT_TRUE(counts.opened);
    EXPECT_EQ(counts.tooLong, 3u);  // the 65530-byte line too
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "bcdefghijkl");
    EXPECT_EQ(lines[1], "last");
    EXPECT_FALSE(
        ForEachArchiveLine((dir.path() / "none").string(), [](std::string_view) {}).opened);
}

TEST(ArchiveHistory, AHugeDamagedDayFileIsSkippedInBoundedMemory) {
    // 2 GiB of zero bytes (a file the system gave back zeroed after a crash) before one good
    // line: one overlong line, skipped without being held, and the good line still read.
    test::TempDir dir;
    const std::string file = SampleFile(dir.path());
    {
        std::ofstream out(file, std::ios::binary);
        out.seekp((std::streamoff{1} << 31) - 1);
        out << '\n'
            << "{\"ts\":\"2026-12-05T07:42:00.000+00:00\",\"hop\":\"192.168.1.1\",\"ttl\":1,"
               "\"rtt\":3}\n";
    }
    const History h = ReadHistory({dir.path().string(), kStartMs, kStartMs + 3600000, 6});
    EXPECT_EQ(h.records, 1u);
    EXPECT_EQ(h.skipped, 1u);
}

// An hour of echoes for two hops, written through the archive: hop 1 answers in 10 ms, hop 2
// loses every other echo in the second half hour. The verdict goes bad at 30 min, the program
// stops at 40 and runs again from 50.
struct RecordedHour {
    test::TempDir dir;
    sim::VirtualClock clock;
    std::string folder = (dir.path() / "Data").string();

    RecordedHour() {
        auto archive = std::make_unique<PingArchive>(clock);
        archive->Init(folder);
        VerdictRecord healthy;
        healthy.status = "healthy";
        archive->AddVerdict(healthy);
        for (int s = 0; s < 3600; s += 5) {
            if (s == 1800) {
                VerdictRecord bad{"", "warning", "isp", "ISP Issue", 2, "100.64.0.1", "loss", 50};
                archive->AddVerdict(bad);
            }
            if (s == 2400) {
                archive->Shutdown();
                archive = std::make_unique<PingArchive>(clock);
            }
            if (s == 3000) {
                archive->Init(folder);
                archive->AddVerdict(healthy);
            }
            archive->AddSample("192.168.1.1", 1, 10, false);
            archive->AddSample("100.64.0.1", 2, 20, s >= 1800 && s % 10 == 0);
            archive->FlushIfDue();
            clock.Advance(5000);
        }
        archive->Flush();
        std::ofstream(SampleFile(folder), std::ios::app) << "garbage\n";
    }
};

TEST(ArchiveHistory, BucketsAndVerdictPeriodsOfAnHour) {
    RecordedHour hour;
    HistoryRequest request{hour.folder, kStartMs, kStartMs + 3600000, 6};
    History h = ReadHistory(request);
    EXPECT_EQ(h.bucketMs, 600000);
    EXPECT_EQ(h.records, 2u * 600);  // 40 minutes stopped are 10 minutes without records
    EXPECT_EQ(h.skipped, 1u);
    ASSERT_EQ(h.hops.size(), 2u);
    EXPECT_EQ(h.hops[0].ip, "192.168.1.1");
    EXPECT_EQ(h.hops[1].hopNumber, 2);
    EXPECT_EQ(h.hops[1].echoes[0], 120u);
    EXPECT_EQ(h.hops[1].answered[0], 120u);
    EXPECT_EQ(h.hops[1].answered[3], 60u);
    EXPECT_EQ(h.hops[1].echoes[4], 0u);
    EXPECT_DOUBLE_EQ(h.hops[0].rttSum[5] / h.hops[0].answered[5], 10.0);

    ASSERT_EQ(h.verdicts.size(), 3u);
    EXPECT_EQ(h.verdicts[0].verdict.status, "healthy");
    EXPECT_EQ(h.verdicts[0].toMs - h.verdicts[0].fromMs, 1800000);
    EXPECT_EQ(h.verdicts[1].verdict.title, "ISP Issue");
    EXPECT_EQ(h.verdicts[1].toMs - kStartMs, 2400000);
    EXPECT_EQ(h.verdicts[2].fromMs - kStartMs, 3000000);
    EXPECT_EQ(h.verdicts[2].toMs, h.toMs) << "the verdict shown now lasts until now";

    // Read as the history of a run that ended without saying so: it lasted as long as its
    // echoes, and the message carries the figures.
    request.lastVerdictCurrent = false;
    request.toMs = kStartMs + 7200000;
    request.buckets = 12;
    h = ReadHistory(request);
    EXPECT_EQ(h.verdicts.back().toMs - kStartMs, 3600000);
    const std::string message = HistoryMessage(h, "hour");
    const JsonValue parsed = JsonValue::parse(message);
    const JsonValue& payload = parsed.member("payload");
    EXPECT_EQ(payload.member("times").asArray().size(), 12u);
    EXPECT_EQ(payload.member("hops").asArray()[1].member("loss").asArray()[3].asDouble(), 50.0);
    EXPECT_EQ(payload.member("hops").asArray()[1].member("loss").asArray()[4].type(),
              JsonType::Null);
    EXPECT_EQ(payload.member("verdicts").asArray()[1].member("culpritIp").asString(), "100.64.0.1");
}

TEST(ArchiveExport, CsvAndJsonRoundTripAndSayWhatWasSkipped) {
    RecordedHour hour;
    ExportRequest request;
    request.folder = hour.folder;
    request.firstDay = request.lastDay = kFirstDay;
    std::vector<ArchiveRecord> written;
    for (const std::string& line : LinesOf(SampleFile(hour.folder))) {
        if (auto record = ParseSampleLine(line)) written.push_back(*record);
    }
    ASSERT_EQ(written.size(), 1200u);

    test::TempDir out;
    request.format = ExportFormat::Json;
    ExportSummary summary = ExportArchiveToFile(request, (out.path() / "a.json").string());
    ASSERT_TRUE(summary.ok) << summary.error;
    EXPECT_EQ(summary.records, 1200u);
    EXPECT_EQ(summary.skipped, 1u);
    const JsonValue json = JsonValue::parse(ReadFileText(out.path() / "a.json"));
    ASSERT_EQ(json.asArray().size(), written.size());
    for (size_t i = 0; i < written.size(); ++i) {
        const JsonValue& e = json.asArray()[i];
        ArchiveRecord back{e.member("ts").asString(), e.member("hop").asString(),
                           static_cast<int32_t>(e.member("ttl").asInteger()), 0,
                           e.contains("timeout")};
        if (!back.timedOut) back.rttMs = static_cast<uint32_t>(e.member("rtt").asInteger());
        ASSERT_EQ(back, written[i]) << i;
    }

    request.format = ExportFormat::Csv;
    request.fromMs = kStartMs + 1800000;  // the second half hour only
    request.toMs = kStartMs + 3600000;
    summary = ExportArchiveToFile(request, (out.path() / "a.csv").string());
    ASSERT_TRUE(summary.ok);
    std::vector<std::string> rows = LinesOf((out.path() / "a.csv").string());
    ASSERT_EQ(rows.size(), 1u + 480);  // the header; 10 minutes were not recorded
    EXPECT_EQ(rows[0], "ts,hop,ttl,rtt_ms,timeout");
    EXPECT_EQ(rows[2], written[360 * 2 + 1].ts + ",100.64.0.1,2,,true");
    EXPECT_EQ(rows[3], written[360 * 2 + 2].ts + ",192.168.1.1,1,10,false");

    request.data = ExportData::Verdicts;
    request.fromMs.reset();
    request.toMs.reset();
    summary = ExportArchiveToFile(request, (out.path() / "v.csv").string());
    rows = LinesOf((out.path() / "v.csv").string());
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[2].substr(rows[2].find(',')),
              ",warning,isp,ISP Issue,2,100.64.0.1,0.0,0.0,0.0,loss,50.0");

    // A failed export leaves what was there and no half file.
    std::ofstream(out.path() / "keep.csv") << "mine";
    std::atomic<bool> stop = true;
    request.stop = &stop;
    summary = ExportArchiveToFile(request, (out.path() / "keep.csv").string());
    EXPECT_FALSE(summary.ok);
    EXPECT_EQ(ReadFileText(out.path() / "keep.csv"), "mine");
    EXPECT_FALSE(fs::exists(out.path() / "keep.csv.part"));
    EXPECT_FALSE(ExportArchiveToFile(request, (out.path() / "no" / "x.csv").string()).ok);
}

}  // namespace
}  // namespace quillon
