// Reading the archive back: which daily files cover a span of days, and their lines one by one
// with a bounded buffer, so that a file of any size (a 2 GB one included) is read in constant
// memory. Lines too long to be a record are skipped and counted, never held. Any thread; the
// files are only read.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

struct ArchiveFile {
    int64_t day = 0;  // days since 1970, from the file name
    std::string path;
};

// The files of one kind (a prefix of path/archive_format.h) for the days firstDay..lastDay,
// oldest first. Empty when the folder is missing.
std::vector<ArchiveFile> ArchiveFilesBetween(const std::string& folder, std::string_view prefix,
                                             int64_t firstDay, int64_t lastDay);

// The local days whose files can hold records of the instants fromMs..toMs (Unix ms), given the
// local offset from UTC now: a day either side covers any change of the offset since.
struct ArchiveDays {
    int64_t first = 0, last = 0;
};
ArchiveDays ArchiveDaysAround(int64_t fromMs, int64_t toMs, int offsetMinutes);

struct LineCounts {
    uint64_t lines = 0;    // lines handed to the reader
    uint64_t tooLong = 0;  // lines longer than kMaxArchiveLine, skipped
    bool opened = false;
};

inline constexpr size_t kMaxArchiveLine = 4096;

// Calls onLine for every line of the file (without its line feed; a last line without one is
// handed on too, for the caller's parser to judge). Ends early once *stop is set.
LineCounts ForEachArchiveLine(const std::string& path,
                              const std::function<void(std::string_view)>& onLine,
                              const std::atomic<bool>* stop = nullptr);

}  // namespace quillon
