// The command line: argv in, options or an error text out, nothing started. The entry point
// parses first and only then builds a platform; tests call it directly.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "base/app_version.h"
#include "base/ipv4.h"
#include "path/archive_export.h"
#include "path/ping_archive.h"

namespace quillon {

struct CommandLine {
    enum class Action { Run, Version, Help, Export };
    Action action = Action::Run;

    bool minimized = false;  // "--minimized" appears anywhere in the command line text
    bool headless = false;
    std::string listenAddress = "127.0.0.1";
    uint16_t listenPort = 0;                // 0: any free port
    std::string dataDir;                    // empty: the user's usual folders
    std::string simulateFile;               // empty: the real network
    std::vector<Ipv4Address> destinations;  // empty: the default two
    std::vector<std::string> destinationTexts;
    std::string interfaceName;  // empty: chosen automatically
    std::string stunServer;     // HOST[:PORT] of the STUN server; empty: the default one
    std::string geoIpServer;    // HOST[:PORT] of the IP-information service; empty: the default
    int historyDays = kDefaultArchiveDays;  // days of history kept; 0: all

    // `quillon export`: the archive's records of local days, both included.
    struct Export {
        std::optional<int64_t> fromDay, toDay;  // nothing: from the first day, to today
        ExportFormat format = ExportFormat::Csv;
        ExportData data = ExportData::Samples;
        std::string output;  // empty: standard output
    } exportOptions;
};

struct CommandLineResult {
    bool ok = false;
    std::string error;  // one line, when !ok; the caller prints it with the usage and exits 2
    CommandLine options;
};

// `args` without the program name. Options take their value as the next word or after "=".
CommandLineResult ParseCommandLine(const std::vector<std::string>& args);

std::string UsageText();
std::string ExportUsageText();
std::string VersionText();

// What the options name, checked once the command line is understood and before anything
// starts; the caller prints a problem and exits 1.

// The contents of the file an option names (--simulate), or false with why it cannot be had:
// "PATH is a folder, not a file", or "PATH: " and the system's reason ("No such file or
// directory").
bool ReadNamedFile(const std::string& path, std::string& text, std::string& error);

// Creates the --data-dir folder when it is missing and writes (and removes) a file in it.
// Empty when it can hold the application's files, otherwise one line saying why not.
std::string PrepareDataDir(const std::string& dir);

}  // namespace quillon
