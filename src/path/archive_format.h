// The archive's two kinds of line, one JSON object per line (JSON Lines), and the names of the
// daily files that hold them:
//  - "ping_samples_YYYYMMDD.jsonl": one line per echo sample of a measured hop,
//      {"ts":"...","hop":"192.168.1.1","ttl":1,"rtt":3}  or  {...,"ttl":1,"timeout":true}
//  - "verdict_history_YYYYMMDD.jsonl": one line per change of the verdict shown to the user,
//      and a "stopped" line when the program ends, so a reader knows when nothing was watched.
// "ts" is local time with its offset (base/time_text.h). Writers and readers are pure functions
// over text; the files themselves are handled by PingArchive and the archive readers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace quillon {

struct ArchiveRecord {
    std::string ts;   // time text, written unchanged
    std::string hop;  // the hop's address text
    int32_t ttl = 0;  // hop number
    uint32_t rttMs = 0;
    bool timedOut = false;

    bool operator==(const ArchiveRecord&) const = default;
};

// One change of the verdict. `status` is "healthy", "warning", "critical", "unknown", or
// "stopped" for the line written at exit (then only `ts` is meaningful).
struct VerdictRecord {
    std::string ts;
    std::string status;
    std::string segmentId;   // the segment to blame; empty when none
    std::string title;       // the callout's title; empty when there is none
    int32_t hopNumber = -1;  // the hop to blame, -1 when none
    std::string ip;
    std::string trigger;  // "loss", "latency", "jitter", "unreachable" or empty
    double triggerValue = 0;
    double rttMs = 0, lossPercent = 0, jitterMs = 0;  // the culprit hop's figures, when a hop

    bool operator==(const VerdictRecord&) const = default;
};

inline constexpr char kSampleFilePrefix[] = "ping_samples_";
inline constexpr char kVerdictFilePrefix[] = "verdict_history_";
inline constexpr char kArchiveFileSuffix[] = ".jsonl";

// "ping_samples_20261207.jsonl" for a prefix and days since 1970.
std::string ArchiveFileName(std::string_view prefix, int64_t days);
// The day a file name of that prefix carries; nothing for any other name.
std::optional<int64_t> ArchiveFileDay(std::string_view prefix, std::string_view fileName);

// Appends the line (with its line feed). Each text is cut to 255 bytes (never inside a UTF-8
// character) and escaped; control characters that JSON does not allow raw become \u00XX.
void AppendSampleLine(std::string& out, const ArchiveRecord& record);
// Reads a line as AppendSampleLine writes it (the line feed already removed); nothing for any
// other text, so torn and foreign lines are skipped, never guessed at.
std::optional<ArchiveRecord> ParseSampleLine(std::string_view line);

void AppendVerdictLine(std::string& out, const VerdictRecord& record);
std::optional<VerdictRecord> ParseVerdictLine(std::string_view line);

}  // namespace quillon
