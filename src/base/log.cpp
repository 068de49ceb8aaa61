#include "base/log.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <system_error>
#include <vector>

#include "base/fs_path.h"
#include "base/utf8.h"

namespace quillon {

namespace {

// Buffer limits of the line, counted the way the Windows build counts them: the message fits
// 4096 UTF-16 units and the line 4200, each with its terminator; the UTF-8 form 8400 bytes with
// its terminator.
constexpr size_t kMessageUnits = 4095;
constexpr size_t kLineUnits = 4199;
constexpr size_t kLineBytes = 8399;
// Large enough for the longest message that can survive the cut (3 bytes per UTF-16 unit).
constexpr size_t kFormatBytes = kMessageUnits * 3 + 1;

constexpr char kFilePrefix[] = "qlnwin_";
constexpr char kFileSuffix[] = ".log";

struct LogState {
    std::mutex lock;
    std::atomic<bool> open{false};
    std::FILE* file = nullptr;
    std::string currentPath;
    std::string folder;  // cached once determined
    LogEnvironment environment;
    LogSink sink;  // tests only
};

// Never destroyed: worker threads may still log while static objects are torn down at exit.
LogState& State() {
    static LogState* state = new LogState;
    return *state;
}

const char* LevelName(LogLevel level) {
    switch (level) {
        case Info:
            return "INFO";
        case Warn:
            return "WARN";
        case Error:
            return "ERROR";
        default:
            return "UNKNOWN";
    }
}

// Appends text to out[0..capacity) as well-formed UTF-8 (a malformed byte becomes U+FFFD), one
// whole character at a time, stopping before a character that would exceed the byte capacity
// or the UTF-16 unit budget. Updates the byte length and the units used.
void AppendBounded(char* out, size_t capacity, size_t& length, size_t& units, size_t maxUnits,
                   const char* text, size_t textLength) {
    static constexpr char kReplacement[] = "\xEF\xBF\xBD";
    const std::string_view view(text, textLength);
    size_t i = 0;
    while (i < textLength) {
        const size_t n = Utf8SequenceLength(view, i);
        const char* bytes = n ? text + i : kReplacement;
        const size_t byteCount = n ? n : 3;
        const size_t unitCount = n == 4 ? 2 : 1;
        if (length + byteCount > capacity || units + unitCount > maxUnits) return;
        std::copy_n(bytes, byteCount, out + length);
        length += byteCount;
        units += unitCount;
        i += n ? n : 1;
    }
}

std::string LogDirectoryLocked(LogState& state) {
    if (state.folder.empty() && state.environment.stateFolder) {
        const std::string base = state.environment.stateFolder();
        if (!base.empty()) state.folder = base + kPathSeparator + "Logs";
    }
    return state.folder;
}

bool OpenNewLogFileLocked(LogState& state) {
    const std::string folder = LogDirectoryLocked(state);
    if (folder.empty() || !state.environment.localTime) return false;

    const LocalTime t = state.environment.localTime();
    char name[64];
    std::snprintf(name, sizeof name, "qlnwin_%04d%02d%02d_%02d%02d%02d.log", t.year, t.month, t.day,
                  t.hour, t.minute, t.second);
    state.currentPath = folder + kPathSeparator + name;

    std::FILE* file = OpenFile(state.currentPath, "wb");
    if (file == nullptr) return false;
    // Unbuffered: every line reaches the system at once, so a crash loses nothing already
    // logged, and writing needs no buffer on the heap.
    std::setvbuf(file, nullptr, _IONBF, 0);
    static constexpr unsigned char kSignature[] = {0xEF, 0xBB, 0xBF};
    std::fwrite(kSignature, 1, sizeof kSignature, file);
    state.file = file;
    state.open.store(true);
    return true;
}

// Closes the full file, removes the oldest files so that kLogFilesKept remain beside the new
// one, and opens the new file.
void RotateLocked(LogState& state) {
    std::fclose(state.file);
    state.file = nullptr;
    state.open.store(false);

    std::vector<std::string> paths;
    std::error_code ec;
    for (std::filesystem::directory_iterator it(FsPath(state.folder), ec), end; !ec && it != end;
         it.increment(ec)) {
        std::error_code typeError;
        if (it->is_directory(typeError)) continue;
        const std::string name = Utf8Path(it->path().filename());
        if (name.size() >= sizeof kFilePrefix - 1 + sizeof kFileSuffix - 1 &&
            name.starts_with(kFilePrefix) && name.ends_with(kFileSuffix)) {
            paths.push_back(state.folder + kPathSeparator + name);
        }
    }
    std::sort(paths.begin(), paths.end());  // timestamped names: oldest first
    for (size_t i = 0; paths.size() - i > static_cast<size_t>(kLogFilesKept); ++i) {
        std::error_code removeError;  // a file held open elsewhere simply stays
        std::filesystem::remove(FsPath(paths[i]), removeError);
    }
    OpenNewLogFileLocked(state);
}

void WriteLocked(LogState& state, LogLevel level, const char* format, va_list args) {
    if (state.file == nullptr) return;

    const long size = std::ftell(state.file);
    if (size >= 0 && static_cast<uint64_t>(size) >= kLogRotateBytes) {
        RotateLocked(state);
        if (state.file == nullptr) return;
    }

    const LocalTime t = state.environment.localTime();
    char message[kFormatBytes];
    const int formatted = std::vsnprintf(message, sizeof message, format, args);
    if (formatted < 0) return;
    const size_t messageLength = std::min(static_cast<size_t>(formatted), sizeof message - 1);

    char line[kLineBytes];
    int prefix =
        std::snprintf(line, sizeof line, "[%04d-%02d-%02dT%02d:%02d:%02d.%03d] [%s] ",
                      t.year % 10000, t.month % 100, t.day % 100, t.hour % 100, t.minute % 100,
                      t.second % 100, t.millisecond % 1000, LevelName(level));
    if (prefix < 0) return;
    size_t length = static_cast<size_t>(prefix);  // ASCII: one unit per byte
    size_t lineUnits = length;
    size_t messageUnits = 0;
    // The message may use what is left of both budgets after the prefix and the closing CR LF.
    const size_t messageBudget = std::min(kMessageUnits, kLineUnits - 2 - lineUnits);
    AppendBounded(line, sizeof line - 2, length, messageUnits, messageBudget, message,
                  messageLength);
    line[length++] = '\r';
    line[length++] = '\n';
    std::fwrite(line, 1, length, state.file);
    if (state.sink) state.sink(std::string_view(line, length));
}

void WriteLockedF(LogState& state, LogLevel level, const char* format, ...) QUILLON_PRINTF(3, 4);
void WriteLockedF(LogState& state, LogLevel level, const char* format, ...) {
    va_list args;
    va_start(args, format);
    WriteLocked(state, level, format, args);
    va_end(args);
}

}  // namespace

void LogWrite(LogLevel level, const char* format, ...) {
    if (level < Info) return;
    LogState& state = State();
    if (!state.open.load(std::memory_order_relaxed)) return;
    std::lock_guard guard(state.lock);
    va_list args;
    va_start(args, format);
    WriteLocked(state, level, format, args);
    va_end(args);
}

bool InitializeLogging(LogEnvironment environment) {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    // Another owner, or a fresh start after a shutdown (a new object may reuse the old one's
    // address): look for the folder again.
    if (state.environment.owner != environment.owner || state.file == nullptr) {
        state.folder.clear();
    }
    state.environment = std::move(environment);
    if (state.file != nullptr) return true;
    const std::string folder = LogDirectoryLocked(state);
    if (folder.empty() || !CreateDirectoryTree(folder)) return false;
    return OpenNewLogFileLocked(state);
}

void ShutdownLogging() {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    if (state.file == nullptr) return;
    WriteLockedF(state, Info, "Logging shutdown");
    if (state.file == nullptr) return;  // the line's rotation could not open a new file
    std::fflush(state.file);
    std::fclose(state.file);
    state.file = nullptr;
    state.open.store(false);
}

std::string GetLogDirectory() {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    return LogDirectoryLocked(state);
}

std::string GetCurrentLogPath() {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    return state.currentPath;
}

bool OpenNewLogFile() {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    if (state.file != nullptr) {
        std::fclose(state.file);
        state.file = nullptr;
        state.open.store(false);
    }
    return OpenNewLogFileLocked(state);
}

void SetLogSink(LogSink sink) {
    LogState& state = State();
    std::lock_guard guard(state.lock);
    state.sink = std::move(sink);
}

bool CreateDirectoryTree(const std::string& path) {
    std::error_code ec;
    if (std::filesystem::is_directory(FsPath(path), ec)) return true;
    const size_t separator = path.find_last_of(kPathSeparator);
    if (separator != std::string::npos && separator != 0 &&
        !CreateDirectoryTree(path.substr(0, separator))) {
        return false;
    }
    std::filesystem::create_directory(FsPath(path), ec);
    // Success also when someone else created it meanwhile; a file of that name is a failure.
    return std::filesystem::is_directory(FsPath(path), ec);
}

}  // namespace quillon
