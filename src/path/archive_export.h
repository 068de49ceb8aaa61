// Exporting the archive for a person or another tool: the echo samples or the verdict changes
// of a span of days (optionally only those within a time window) as CSV or as a JSON array,
// streamed to an open file so that any amount is exported in constant memory. Lines that
// cannot be read are skipped and counted. Used by `quillon export` (which does not start the
// application) and by the page's export, on a worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

namespace quillon {

enum class ExportFormat { Csv, Json };
enum class ExportData { Samples, Verdicts };

struct ExportRequest {
    std::string folder;
    int64_t firstDay = 0, lastDay = 0;  // local days (days since 1970), both included
    // When set, only records at or after fromMs and before toMs (Unix milliseconds).
    std::optional<int64_t> fromMs, toMs;
    ExportFormat format = ExportFormat::Csv;
    ExportData data = ExportData::Samples;
    // Set by another thread to end the reading early (the result is then incomplete).
    const std::atomic<bool>* stop = nullptr;
};

struct ExportSummary {
    bool ok = false;
    std::string error;     // when !ok
    uint64_t records = 0;  // records written
    uint64_t skipped = 0;  // lines that could not be read
    size_t files = 0;
};

ExportSummary ExportArchive(const ExportRequest& request, std::FILE* out);

// Exports into `path` through a temporary file beside it, renamed over it once complete, so a
// failed export never leaves half a file or destroys what was there.
ExportSummary ExportArchiveToFile(const ExportRequest& request, const std::string& path);

}  // namespace quillon
