#include "path/ping_archive.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "base/fs_path.h"
#include "base/log.h"
#include "base/time_text.h"
#include "platform/clock.h"

namespace quillon {

namespace {

// "YYYYMMDD" of a line: every line starts {"ts":"YYYY-MM-DD...
std::string LineDay(std::string_view line) {
    constexpr size_t at = 7;  // after {"ts":"
    if (line.size() < at + 10) return "00000000";
    std::string day;
    day.append(line.substr(at, 4)).append(line.substr(at + 5, 2)).append(line.substr(at + 8, 2));
    return day;
}

}  // namespace

std::string ArchiveFolderIn(const std::string& stateFolder) {
    return stateFolder.empty() ? "" : stateFolder + kPathSeparator + "Data";
}

PingArchive::~PingArchive() {
    if (Initialised()) Flush();
    Close(samples_);
    Close(verdicts_);
}

bool PingArchive::Init(const std::string& folder, int keepDays) {
    std::error_code ec;
    std::filesystem::create_directories(FsPath(folder), ec);
    if (folder.empty() || !std::filesystem::is_directory(FsPath(folder), ec)) {
        LogWrite(Error, "Failed to create data directory: %s", folder.c_str());
        LogWrite(Warn, "Failed to initialize archiver - ping samples will not be persisted");
        return false;
    }
    folder_ = folder;
    lastFlush_ = clock_.Tick64();
    LogWrite(Info, "Archiver initialized - data directory: %s", folder.c_str());
    if (keepDays > 0) RemoveOldFiles(keepDays);
    return true;
}

std::string PingArchive::Now() {
    const LocalTime local = clock_.Local();
    return IsoTimeText(local, OffsetMinutes(local, clock_.UnixSeconds()));
}

void PingArchive::AddSample(std::string_view hop, int32_t ttl, uint32_t rttMs, bool timedOut) {
    if (!Initialised()) return;
    std::string line;
    AppendSampleLine(line, ArchiveRecord{Now(), std::string(hop), ttl, rttMs, timedOut});
    Queue(samples_, std::move(line));
}

void PingArchive::AddVerdict(VerdictRecord record) {
    if (!Initialised()) return;
    record.ts = Now();
    std::string line;
    AppendVerdictLine(line, record);
    Queue(verdicts_, std::move(line));
}

void PingArchive::Queue(DailyFile& kind, std::string line) {
    if (kind.lines.size() >= kMaxPending) {
        kind.lines.erase(kind.lines.begin());
        ++dropped_;
    }
    kind.lines.push_back(std::move(line));
}

void PingArchive::FlushIfDue() {
    if (!Initialised()) return;
    if (Pending() >= kFlushRecords || clock_.Tick64() - lastFlush_ >= kFlushIntervalMs) Flush();
}

bool PingArchive::Flush() {
    lastFlush_ = clock_.Tick64();
    const bool samplesWritten = FlushKind(samples_);
    const bool verdictsWritten = FlushKind(verdicts_);
    if (samplesWritten && verdictsWritten && failureLogged_) {
        LogWrite(Info, "Archive files written again");
        failureLogged_ = false;
    }
    return samplesWritten && verdictsWritten;
}

// Writes the waiting lines day by day, each day's in one piece; what was written leaves the
// queue, what failed stays for the next flush.
bool PingArchive::FlushKind(DailyFile& kind) {
    size_t written = 0;
    while (written < kind.lines.size()) {
        const std::string day = LineDay(kind.lines[written]);
        std::string bytes;
        size_t end = written;
        while (end < kind.lines.size() && LineDay(kind.lines[end]) == day) {
            bytes += kind.lines[end];
            ++end;
        }
        if (!Append(kind, day, bytes)) break;
        written = end;
    }
    kind.lines.erase(kind.lines.begin(), kind.lines.begin() + static_cast<ptrdiff_t>(written));
    return kind.lines.empty();
}

bool PingArchive::Append(DailyFile& kind, std::string_view day, std::string_view bytes) {
    if (kind.file != nullptr && kind.day != day) Close(kind);
    std::error_code ec;
    if (kind.file == nullptr) {
        kind.day = std::string(day);
        kind.path = folder_ + kPathSeparator + kind.prefix + kind.day + kArchiveFileSuffix;
        // A line torn by a crash or a power cut stays on a line of its own: the first new line
        // must not be glued to it.
        kind.tornTail = false;
        if (std::FILE* reader = OpenFile(kind.path, "rb")) {
            kind.tornTail = std::fseek(reader, -1, SEEK_END) == 0 && std::fgetc(reader) != '\n';
            std::fclose(reader);
        }
        kind.file = OpenFile(kind.path, "ab");
        if (kind.file == nullptr) {
            ReportFailure("Failed to open archive file: " + kind.path + " (" +
                          std::strerror(errno) + ")");
            return false;
        }
    }
    // Where a failed write is cut back to (unknown for a device, which has no length).
    const auto size = std::filesystem::file_size(FsPath(kind.path), ec);
    const bool sizeKnown = !ec;
    const bool ok = (!kind.tornTail || std::fputc('\n', kind.file) != EOF) &&
                    std::fwrite(bytes.data(), 1, bytes.size(), kind.file) == bytes.size() &&
                    std::fflush(kind.file) == 0;
    if (ok) {
        kind.tornTail = false;
        return true;
    }
    const int error = errno;
    // Take the partial write back so that only whole lines stay in the file.
    Close(kind);
    if (sizeKnown) std::filesystem::resize_file(FsPath(kind.path), size, ec);
    ReportFailure("Failed to write archive file: " + kind.path + " (" + std::strerror(error) + ")");
    return false;
}

void PingArchive::Close(DailyFile& kind) {
    if (kind.file != nullptr) std::fclose(kind.file);
    kind.file = nullptr;
}

void PingArchive::ReportFailure(const std::string& what) {
    const uint64_t now = clock_.Tick64();
    if (failureLogged_ && now - lastFailureLog_ < kFailureLogIntervalMs) return;
    failureLogged_ = true;
    lastFailureLog_ = now;
    LogWrite(Error, "%s", what.c_str());
}

void PingArchive::Shutdown() {
    if (Initialised()) {
        VerdictRecord stopped;
        stopped.status = "stopped";
        AddVerdict(std::move(stopped));
        Flush();
    }
    Close(samples_);
    Close(verdicts_);
    if (dropped_ > 0) {
        LogWrite(Warn, "Archive dropped %llu records it could not write",
                 static_cast<unsigned long long>(dropped_));
    }
    folder_.clear();
    LogWrite(Info, "Archiver shutdown");
}

void PingArchive::RemoveOldFiles(int keepDays) {
    const LocalTime today = clock_.Local();
    const int64_t oldestKept = DaysFromCivil(today.year, today.month, today.day) - keepDays;
    size_t removed = 0;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(FsPath(folder_), ec), end; !ec && it != end;
         it.increment(ec)) {
        const std::string name = Utf8Path(it->path().filename());
        std::optional<int64_t> day = ArchiveFileDay(kSampleFilePrefix, name);
        if (!day) day = ArchiveFileDay(kVerdictFilePrefix, name);
        std::error_code removeError;
        if (day && *day < oldestKept && std::filesystem::remove(it->path(), removeError)) {
            ++removed;
        }
    }
    if (removed > 0) {
        LogWrite(Info, "Removed %zu archive files older than %d days", removed, keepDays);
    }
}

}  // namespace quillon
