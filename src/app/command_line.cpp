#include "app/command_line.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <system_error>

#include "base/fs_path.h"
#include "base/time_text.h"
#include "base/url.h"
#include "discovery/address_text.h"
#include "discovery/geoip_service.h"
#include "discovery/stun.h"

namespace quillon {

namespace {

constexpr char kMinimizedOption[] = "--minimized";

bool ParsePort(const std::string& text, uint16_t* port) {
    unsigned value = 0;
    const char* end = text.data() + text.size();
    const auto [next, error] = std::from_chars(text.data(), end, value);
    if (text.empty() || error != std::errc() || next != end || value > 65535) return false;
    *port = static_cast<uint16_t>(value);
    return true;
}

// The page is served to this computer only.
bool IsLoopbackText(const std::string& address) {
    if (address == "localhost" || address == "::1") return true;
    const std::optional<Ipv4Address> v4 = Ipv4Address::Parse(address);
    return v4 && v4->Octet(0) == 127;
}

// Why an address cannot be a destination to trace, or nothing when it can be one.
std::optional<std::string> UntraceableReason(Ipv4Address address) {
    const uint8_t first = address.Octet(0);
    if (first == 0) return "is not a destination (0.x.x.x stands for this network)";
    if (first == 127) return "is a loopback address, which cannot be traced";
    if (first >= 224 && first <= 239) return "is a multicast address, which cannot be traced";
    if (address == Ipv4Address(255, 255, 255, 255)) {
        return "is the broadcast address, which cannot be traced";
    }
    return std::nullopt;
}

// The system's words for the error number a failed stream operation left, if it left one.
std::string ReasonOf(int error, const char* otherwise) {
    return error != 0 ? std::generic_category().message(error) : otherwise;
}

CommandLineResult Fail(std::string error) {
    CommandLineResult result;
    result.error = std::move(error);
    return result;
}

}  // namespace

std::string VersionText() {
    return std::string("quillon ") + kAppVersion + "\n";
}

std::string UsageText() {
    return "Usage: quillon [options]\n"
           "\n"
           "Quillon watches the path from this computer to the internet and tells where a\n"
           "bad connection is bad: the WiFi or Ethernet link, the home gateway, the ISP or\n"
           "the destination.\n"
           "\n"
           "  --minimized               start hidden, measuring slowly (chill mode)\n"
           "  --headless                serve the page to a browser over loopback HTTP\n"
           "  --listen ADDR:PORT        where the headless page is served\n"
           "                            (default 127.0.0.1 with a free port)\n"
           "  --data-dir DIR            keep every file of the application under DIR\n"
           "  --simulate FILE           run on the simulated network of a scenario file\n"
           "  --destination ADDR[,ADDR...]\n"
           "                            IPv4 destinations to trace; the first is the primary\n"
           "                            one (default 1.1.1.1,8.8.8.8)\n"
           "  --interface NAME          the adapter to treat as the primary one\n"
           "  --stun-server HOST[:PORT] the STUN server that tells the public address\n"
           "                            (default " +
           std::string(kDefaultStunServer) + ":" + std::to_string(kStunDefaultPort) +
           ")\n"
           "  --geoip-server HOST[:PORT]\n"
           "                            the HTTPS service that locates public addresses\n"
           "                            (default " +
           std::string(kDefaultGeoIpServer) +
           ")\n"
           "  --history-days N          days of measurements kept on disk (default " +
           std::to_string(kDefaultArchiveDays) +
           ";\n"
           "                            0 keeps everything)\n"
           "  --version                 print the version and exit\n"
           "  --help                    print this help and exit\n"
           "\n"
           "  quillon export ...        writes the recorded measurements out; see\n"
           "                            quillon export --help\n";
}

std::string ExportUsageText() {
    return "Usage: quillon export [--from DATE] [--to DATE] [--format csv|json]\n"
           "                      [--data samples|verdicts] [--output FILE] [--data-dir DIR]\n"
           "\n"
           "Writes the measurements Quillon recorded, without starting it.\n"
           "\n"
           "  --from DATE, --to DATE    local days YYYY-MM-DD, both included (default: from\n"
           "                            the first day recorded to today)\n"
           "  --format csv|json         CSV with a header line, or a JSON array (default csv)\n"
           "  --data samples|verdicts   every echo of every hop, or every change of the\n"
           "                            verdict (default samples)\n"
           "  --output FILE             write FILE instead of standard output\n"
           "  --data-dir DIR            the folder the application was run with\n";
}

namespace {

CommandLineResult ParseExportCommand(const std::vector<std::string>& args) {
    CommandLineResult result;
    CommandLine& o = result.options;
    o.action = CommandLine::Action::Export;
    CommandLine::Export& e = o.exportOptions;
    std::vector<std::string> seen;
    for (size_t i = 1; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        const size_t equals = name.find('=');
        const bool glued = name.rfind("--", 0) == 0 && equals != std::string::npos;
        if (glued) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == "--help") {
            o.action = CommandLine::Action::Help;
            result.ok = true;
            return result;
        }
        static const char* const kNames[] = {"--from",   "--to",   "--format",
                                             "--output", "--data", "--data-dir"};
        if (std::find(std::begin(kNames), std::end(kNames), name) == std::end(kNames)) {
            return Fail(name.rfind("-", 0) == 0 ? "export: unknown option '" + name + "'"
                                                : "export: unexpected argument '" + name + "'");
        }
        if (std::find(seen.begin(), seen.end(), name) != seen.end()) {
            return Fail("export: option " + name + " given twice");
        }
        seen.push_back(name);
        if (!glued) {
            if (i + 1 >= args.size()) return Fail("export: option " + name + " needs a value");
            value = args[++i];
        }
        if (value.empty()) return Fail("export: option " + name + " needs a non-empty value");
        if (name == "--from" || name == "--to") {
            const std::optional<int64_t> day = ParseDateText(value);
            if (!day)
                return Fail("export: " + name + " '" + value + "' is not a date (YYYY-MM-DD)");
            (name == "--from" ? e.fromDay : e.toDay) = day;
        } else if (name == "--format") {
            if (value != "csv" && value != "json") {
                return Fail("export: --format '" + value + "' is not csv or json");
            }
            e.format = value == "csv" ? ExportFormat::Csv : ExportFormat::Json;
        } else if (name == "--data") {
            if (value != "samples" && value != "verdicts") {
                return Fail("export: --data '" + value + "' is not samples or verdicts");
            }
            e.data = value == "samples" ? ExportData::Samples : ExportData::Verdicts;
        } else if (name == "--output") {
            e.output = value;
        } else {
            o.dataDir = value;
        }
    }
    if (e.fromDay && e.toDay && *e.fromDay > *e.toDay) {
        return Fail("export: --from is after --to");
    }
    result.ok = true;
    return result;
}

}  // namespace

CommandLineResult ParseCommandLine(const std::vector<std::string>& args) {
    if (!args.empty() && args[0] == "export") return ParseExportCommand(args);
    CommandLineResult result;
    CommandLine& o = result.options;

    // Start-up entries written by older versions may carry the option glued to other text:
    // the whole command line counts, not just its words.
    std::string whole;
    for (const std::string& arg : args) whole += arg + " ";
    o.minimized = whole.find(kMinimizedOption) != std::string::npos;

    bool seenListen = false, seenDataDir = false, seenSimulate = false;
    bool seenDestination = false, seenInterface = false, seenStunServer = false;
    bool seenGeoIpServer = false, seenHistoryDays = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::string value;
        bool hasValue = false;
        const size_t equals = name.find('=');
        if (name.rfind("--", 0) == 0 && equals != std::string::npos) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
            hasValue = true;
        }
        auto takeValue = [&](bool& seen) -> std::string {
            if (seen) {
                result.error = "option " + name + " given twice";
                return {};
            }
            seen = true;
            if (!hasValue) {
                if (i + 1 >= args.size()) {
                    result.error = "option " + name + " needs a value";
                    return {};
                }
                value = args[++i];
            }
            if (value.empty()) result.error = "option " + name + " needs a non-empty value";
            return value;
        };
        auto flagOnly = [&]() {
            if (hasValue) result.error = "option " + name + " takes no value";
        };

        if (name == kMinimizedOption) {
            flagOnly();
        } else if (name == "--headless") {
            flagOnly();
            o.headless = true;
        } else if (name == "--version") {
            flagOnly();
            if (o.action == CommandLine::Action::Run) o.action = CommandLine::Action::Version;
        } else if (name == "--help") {
            flagOnly();
            o.action = CommandLine::Action::Help;
        } else if (name == "--listen") {
            const std::string text = takeValue(seenListen);
            if (!result.error.empty()) return Fail(result.error);
            const size_t colon = text.rfind(':');
            if (colon == std::string::npos || !ParsePort(text.substr(colon + 1), &o.listenPort)) {
                return Fail("--listen: '" + text + "' is not ADDR:PORT with a port 0-65535");
            }
            std::string address = text.substr(0, colon);
            if (address.size() > 2 && address.front() == '[' && address.back() == ']') {
                address = address.substr(1, address.size() - 2);
            }
            if (!IsLoopbackText(address)) {
                return Fail("--listen: '" + address +
                            "' is not a loopback address (127.x.x.x, localhost or [::1])");
            }
            o.listenAddress = address;
        } else if (name == "--data-dir") {
            o.dataDir = takeValue(seenDataDir);
        } else if (name == "--simulate") {
            o.simulateFile = takeValue(seenSimulate);
        } else if (name == "--interface") {
            o.interfaceName = takeValue(seenInterface);
        } else if (name == "--stun-server") {
            o.stunServer = takeValue(seenStunServer);
            if (!result.error.empty()) return Fail(result.error);
            if (!ParseStunServer(o.stunServer)) {
                return Fail("--stun-server: '" + o.stunServer +
                            "' is not HOST or HOST:PORT with a port 1-65535");
            }
        } else if (name == "--geoip-server") {
            o.geoIpServer = takeValue(seenGeoIpServer);
            if (!result.error.empty()) return Fail(result.error);
            const std::optional<UrlParts> url = SplitUrl("https://" + o.geoIpServer + "/");
            if (!url || url->path != "/" || o.geoIpServer.find('@') != std::string::npos) {
                return Fail("--geoip-server: '" + o.geoIpServer +
                            "' is not HOST or HOST:PORT with a port 1-65535");
            }
        } else if (name == "--history-days") {
            const std::string text = takeValue(seenHistoryDays);
            if (!result.error.empty()) return Fail(result.error);
            unsigned days = 0;
            const char* end = text.data() + text.size();
            const auto [next, error] = std::from_chars(text.data(), end, days);
            if (error != std::errc() || next != end || days > 36500) {
                return Fail("--history-days: '" + text + "' is not a number of days 0-36500");
            }
            o.historyDays = static_cast<int>(days);
        } else if (name == "--destination") {
            const std::string list = takeValue(seenDestination);
            if (!result.error.empty()) return Fail(result.error);
            size_t start = 0;
            while (true) {
                const size_t comma = list.find(',', start);
                const std::string text = list.substr(start, comma - start);
                const std::optional<Ipv4Address> address = Ipv4Address::Parse(text);
                if (!address) return Fail("--destination: '" + text + "' is not an IPv4 address");
                if (const auto reason = UntraceableReason(*address)) {
                    return Fail("--destination: " + text + " " + *reason);
                }
                for (Ipv4Address known : o.destinations) {
                    if (known == *address) {
                        return Fail("--destination: '" + text + "' is listed twice");
                    }
                }
                o.destinations.push_back(*address);
                o.destinationTexts.push_back(text);
                if (comma == std::string::npos) break;
                start = comma + 1;
            }
        } else if (name.rfind("-", 0) == 0) {
            return Fail("unknown option '" + name + "'");
        } else {
            return Fail("unexpected argument '" + name + "'");
        }
        if (!result.error.empty()) return Fail(result.error);
    }
    result.ok = true;
    return result;
}

bool ReadNamedFile(const std::string& path, std::string& text, std::string& error) {
    std::error_code ec;
    if (std::filesystem::is_directory(FsPath(path), ec)) {
        error = path + " is a folder, not a file";
        return false;
    }
    errno = 0;
    std::ifstream in(FsPath(path), std::ios::binary);
    if (!in.is_open()) {
        error = path + ": " + ReasonOf(errno, "cannot be opened");
        return false;
    }
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) {
        error = path + ": " + ReasonOf(errno, "cannot be read");
        return false;
    }
    text = content.str();
    return true;
}

std::string PrepareDataDir(const std::string& dir) {
    namespace fs = std::filesystem;
    const std::string failed = "--data-dir " + dir + " cannot hold the application's files: ";
    const fs::path folder = FsPath(dir);
    std::error_code ec;
    if (fs::exists(folder, ec) && !fs::is_directory(folder, ec)) return failed + "not a folder";
    fs::create_directories(folder, ec);
    if (ec) return failed + ec.message();
    const fs::path probe = folder / ".quillon-write-check";
    errno = 0;
    std::ofstream out(probe, std::ios::binary);
    if (out.is_open()) out << "quillon\n" << std::flush;
    const bool written = out.is_open() && out.good();
    const int error = errno;
    out.close();
    fs::remove(probe, ec);
    return written ? "" : failed + ReasonOf(error, "a file cannot be written there");
}

}  // namespace quillon
