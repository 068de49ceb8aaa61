// PingArchive: keeps every echo sample and every change of the verdict on disk, one JSON line
// each, in daily files of the data folder (path/archive_format.h), so that a person can look
// back at when the connection dropped, for how long and where, and export it.
//
// Records wait in memory and are appended in whole lines at least once a minute and whenever a
// thousand are waiting, so a crash or power cut loses at most the last minute. A failed write
// is taken back (the file is cut to its old length, so no torn line is left), its records wait
// for the next flush, and the failure is logged at most once an hour; measuring never stops
// for it. Files older than the retention are removed at start.
//
// UI thread only: the measurement tick adds records and flushes; readers open the files
// independently (path/archive_reader.h) and skip a line still being written.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

#include "path/archive_format.h"

namespace quillon {

class Clock;

inline constexpr int kDefaultArchiveDays = 30;

// The archive's folder: "Data" in the folder of logs and measurements (AppFolder::State);
// empty when that is unknown.
std::string ArchiveFolderIn(const std::string& stateFolder);

class PingArchive {
public:
    explicit PingArchive(Clock& clock) : clock_(clock) {}
    ~PingArchive();  // flushes and closes, without the "stopped" line (see Shutdown)
    PingArchive(const PingArchive&) = delete;
    PingArchive& operator=(const PingArchive&) = delete;

    // Creates the folder (with its parents) and removes the files of days more than keepDays
    // before today (0: keeps everything). False when the folder cannot be had: records are
    // then dropped.
    bool Init(const std::string& folder, int keepDays = kDefaultArchiveDays);
    bool Initialised() const { return !folder_.empty(); }
    const std::string& Folder() const { return folder_; }

    // Stamps a record with the current local time and queues it.
    void AddSample(std::string_view hop, int32_t ttl, uint32_t rttMs, bool timedOut);
    void AddVerdict(VerdictRecord record);

    // Appends what waits when a minute has passed since the last flush or enough records wait.
    void FlushIfDue();
    // Appends every waiting record now; false when a write failed (the records still wait).
    bool Flush();
    // At exit: records that nothing was watched from now on, flushes and closes the files.
    void Shutdown();

    size_t Pending() const { return samples_.lines.size() + verdicts_.lines.size(); }
    uint64_t Dropped() const { return dropped_; }

    static constexpr uint64_t kFlushIntervalMs = 60000;
    static constexpr size_t kFlushRecords = 1000;
    // Records kept while writes fail (a full disk); the oldest go first beyond it.
    static constexpr size_t kMaxPending = 20000;
    static constexpr uint64_t kFailureLogIntervalMs = 3600000;

private:
    // One kind of daily file: the open file of the day last written and the lines waiting.
    struct DailyFile {
        explicit DailyFile(const char* kind) : prefix(kind) {}
        const char* prefix;
        std::string day;  // "YYYYMMDD" of the open file
        std::string path;
        std::FILE* file = nullptr;
        bool tornTail = false;           // the open file does not end with a line feed
        std::vector<std::string> lines;  // whole lines, each with its line feed, oldest first
    };

    std::string Now();
    void Queue(DailyFile& kind, std::string line);
    bool FlushKind(DailyFile& kind);
    bool Append(DailyFile& kind, std::string_view day, std::string_view bytes);
    static void Close(DailyFile& kind);
    void RemoveOldFiles(int keepDays);
    void ReportFailure(const std::string& what);

    Clock& clock_;
    std::string folder_;
    DailyFile samples_{kSampleFilePrefix};
    DailyFile verdicts_{kVerdictFilePrefix};
    uint64_t lastFlush_ = 0;
    uint64_t lastFailureLog_ = 0;
    bool failureLogged_ = false;
    uint64_t dropped_ = 0;
};

}  // namespace quillon
