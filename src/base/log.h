// The diagnostic log: one process-wide UTF-8 text file in the user's log folder, rotated at
// 10 MiB with four older files kept. It is the application's only diagnostic channel; every
// subsystem reports progress and failures through LogWrite.
//
// Threads: LogWrite may be called from any thread, before InitializeLogging and after
// ShutdownLogging (it then does nothing). One lock serialises rotation, formatting and writing.
// Once the file is open, writing a line allocates nothing on the heap.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "base/local_time.h"

namespace quillon {

// What the log needs from the platform (platform/log_environment.h binds it to the ports).
struct LogEnvironment {
    const void* owner = nullptr;  // who supplies it: another owner means another folder
    std::function<std::string()> stateFolder;  // the user's state folder; empty when unknown
    std::function<LocalTime()> localTime;
};

enum class LogLevel : uint8_t {
    Debug,  // never written
    Info,
    Warn,
    Error,
};
using enum LogLevel;  // LogWrite(Info, ...)

// Size at which the current file is closed and a new one started, and how many older files
// survive a rotation.
constexpr uint64_t kLogRotateBytes = 10'485'760;
constexpr int kLogFilesKept = 4;

#if defined(__MINGW32__)
// MinGW's C++ runtime formats with its own C99 printf (%zu, %lld), not the Microsoft one that
// the plain printf archetype checks against there.
#define QUILLON_PRINTF(fmt, args) __attribute__((format(gnu_printf, fmt, args)))
#elif defined(__GNUC__) || defined(__clang__)
#define QUILLON_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define QUILLON_PRINTF(fmt, args)
#endif

// Writes one line "[timestamp] [LEVEL] message\r\n". Levels below Info are dropped before any
// formatting. A message longer than 4095 UTF-16 units, or a line longer than 8399 bytes, is
// cut at a character boundary and still ends with CR LF.
void LogWrite(LogLevel level, const char* format, ...) QUILLON_PRINTF(2, 3);

// Opens the log: binds the folder and time sources, then GetLogDirectory, CreateDirectoryTree
// and OpenNewLogFile. True when all three succeeded; otherwise the application runs without a
// log. What the environment's functions use must outlive ShutdownLogging.
bool InitializeLogging(LogEnvironment environment);

// Writes "Logging shutdown", flushes and closes the file. Later LogWrite calls do nothing.
void ShutdownLogging();

// The log folder, computed once and cached; empty (and retried next time) when the user's
// folder cannot be determined.
std::string GetLogDirectory();

// Path of the file being written; empty before the first file was opened.
std::string GetCurrentLogPath();

// Creates a new file named after the current local time in the log folder, replacing a file of
// the same name, and writes the UTF-8 signature. True on success.
bool OpenNewLogFile();

// Creates a folder and every missing parent. True when the folder exists afterwards.
bool CreateDirectoryTree(const std::string& path);

// For tests: while a sink is set, every line written to the file is also handed to it whole
// ("[timestamp] [LEVEL] message\r\n"), in file order, under the log's lock, so the sink must
// not log. Nothing reaches it while no file is open. An empty function removes it. The
// application never sets one; unset, it costs one test of an empty function per line.
using LogSink = std::function<void(std::string_view line)>;
void SetLogSink(LogSink sink);

}  // namespace quillon
