#include "path/archive_reader.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <system_error>

#include "base/fs_path.h"
#include "path/archive_format.h"

namespace quillon {

std::vector<ArchiveFile> ArchiveFilesBetween(const std::string& folder, std::string_view prefix,
                                             int64_t firstDay, int64_t lastDay) {
    std::vector<ArchiveFile> files;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(FsPath(folder), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::optional<int64_t> day = ArchiveFileDay(prefix, Utf8Path(it->path().filename()));
        if (day && *day >= firstDay && *day <= lastDay) {
            files.push_back({*day, Utf8Path(it->path())});
        }
    }
    std::sort(files.begin(), files.end(),
              [](const ArchiveFile& a, const ArchiveFile& b) { return a.day < b.day; });
    return files;
}

ArchiveDays ArchiveDaysAround(int64_t fromMs, int64_t toMs, int offsetMinutes) {
    constexpr int64_t kDayMs = 86400000;
    const auto floorDiv = [](int64_t a, int64_t b) { return a / b - (a % b != 0 && a < 0); };
    const int64_t offsetMs = int64_t{offsetMinutes} * 60000;
    return {floorDiv(fromMs + offsetMs, kDayMs) - 1, floorDiv(toMs + offsetMs, kDayMs) + 1};
}

LineCounts ForEachArchiveLine(const std::string& path,
                              const std::function<void(std::string_view)>& onLine,
                              const std::atomic<bool>* stop) {
    LineCounts counts;
    std::FILE* file = OpenFile(path, "rb");
    if (file == nullptr) return counts;
    counts.opened = true;
    constexpr size_t kChunk = 1 << 16;
    const auto buffer = std::make_unique<char[]>(kChunk);
    std::string carry;      // the start of a line that continues in the next chunk
    bool skipping = false;  // inside a line already found too long
    size_t got = 0;
    while ((stop == nullptr || !*stop) && (got = std::fread(buffer.get(), 1, kChunk, file)) > 0) {
        std::string_view chunk(buffer.get(), got);
        while (!chunk.empty()) {
            const size_t feed = chunk.find('\n');
            const std::string_view piece = chunk.substr(0, feed);
            const bool complete = feed != std::string_view::npos;
            chunk = complete ? chunk.substr(feed + 1) : std::string_view();
            if (skipping) {
                skipping = !complete;
                continue;
            }
            if (carry.size() + piece.size() > kMaxArchiveLine) {
                ++counts.tooLong;
                carry.clear();
                skipping = !complete;
                continue;
            }
            if (!complete) {
                carry.append(piece);
                continue;
            }
            ++counts.lines;
            if (carry.empty()) {
                onLine(piece);
            } else {
                carry.append(piece);
                onLine(carry);
                carry.clear();
            }
        }
    }
    std::fclose(file);
    if (!carry.empty()) {
        ++counts.lines;
        onLine(carry);
    }
    return counts;
}

}  // namespace quillon
