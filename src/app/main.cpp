// Entry point of the quillon executable. It parses the command line before anything starts:
// a mistake there ends the program with exit code 2 and the usage. Then it builds the Platform
// of the chosen front end — the computer's own network through the Linux adapters, or the
// simulated world of a scenario file — and runs the application on this thread, which becomes
// the UI thread.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "app/application.h"
#include "app/command_line.h"
#include "base/fs_path.h"
#include "base/time_text.h"
#include "path/archive_export.h"
#include "path/ping_archive.h"
#include "platform/linux/headless_shell.h"
#ifdef QUILLON_DESKTOP
#include "platform/linux/gtk_shell.h"
#endif
#include "platform/linux/linux_autostart.h"
#include "platform/linux/linux_capture.h"
#include "platform/linux/linux_clock.h"
#include "platform/linux/linux_dns.h"
#include "platform/linux/linux_files.h"
#include "platform/linux/linux_http.h"
#include "platform/linux/linux_icmp.h"
#include "platform/linux/linux_net_events.h"
#include "platform/linux/linux_net_info.h"
#include "platform/linux/linux_secrets.h"
#include "platform/linux/linux_settings.h"
#include "platform/linux/linux_sockets.h"
#include "platform/linux/linux_system.h"
#include "platform/linux/linux_wlan.h"
#include "platform/platform.h"
#include "platform/portable/std_threads.h"
#include "platform/sim/sim_autostart.h"
#include "platform/sim/sim_network.h"
#include "platform/sim/sim_scenario.h"
#include "platform/sim/sim_system.h"

namespace {

// The IEEE registry's listings as Debian's ieee-data package installs them: the vendor names
// shown until the first download of the vendor list has arrived, and when it never does.
const std::vector<std::string> kSystemVendorLists = {
    "/usr/share/ieee-data/oui.txt", "/usr/share/ieee-data/mam.txt",
    "/usr/share/ieee-data/oui36.txt", "/usr/share/ieee-data/iab.txt"};

// A simulated world's makers: "vendors.txt" beside its scenario file, in the same format.
constexpr const char* kScenarioVendorList = "vendors.txt";

constexpr quillon::AppFolder kAllFolders[] = {quillon::AppFolder::Config, quillon::AppFolder::State,
                                              quillon::AppFolder::Cache, quillon::AppFolder::Data};

std::vector<quillon::Destination> DestinationsOf(const quillon::CommandLine& options) {
    std::vector<quillon::Destination> out;
    for (size_t i = 0; i < options.destinations.size(); ++i) {
        quillon::Destination d;
        d.address = options.destinations[i];
        d.name = i < options.destinationTexts.size() ? options.destinationTexts[i] : "";
        d.isPrimary = i == 0;
        out.push_back(std::move(d));
    }
    return out;
}

// Runs the application on a complete platform and ends the process the way its workers allow.
int RunApplication(quillon::Platform& platform, const quillon::CommandLine& options,
                   std::vector<std::string> vendorLists) {
    quillon::Application app(
        platform,
        quillon::ApplicationOptions{options.minimized, DestinationsOf(options),
                                    options.interfaceName, std::move(vendorLists),
                                    options.stunServer, options.geoIpServer, options.historyDays});
    const int exitCode = app.Run();
    if (!app.FatalMessage().empty()) std::fprintf(stderr, "%s\n", app.FatalMessage().c_str());
    if (app.WorkersLeftRunning()) {
        // A worker still uses the adapters: end without destroying them.
        std::fflush(nullptr);
        std::_Exit(exitCode);
    }
    return exitCode;
}

// The folder --data-dir names must hold the files the user asked to keep there; running on
// without them would lose what they asked for. False (and said why) when it cannot.
bool DataDirUsable(const quillon::CommandLine& options) {
    if (options.dataDir.empty()) return true;
    const std::string problem = quillon::PrepareDataDir(options.dataDir);
    if (problem.empty()) return true;
    std::fprintf(stderr, "quillon: %s\n", problem.c_str());
    return false;
}

quillon::lnx::HeadlessShellOptions ShellOptionsOf(const quillon::CommandLine& options) {
    quillon::lnx::HeadlessShellOptions shellOptions;
    shellOptions.listenAddress = options.listenAddress;
    shellOptions.port = options.listenPort;
    shellOptions.uiFolder = quillon::lnx::UiFolderBesideExecutable();
    return shellOptions;
}

// The front end: the headless bridge with --headless, the desktop window otherwise (main has
// checked that this build has one and that there is a display), whose page keeps its storage in
// the computer's folders for the application. Null when the desktop found another run on the
// same data folder and showed its window instead: this start is over.
std::unique_ptr<quillon::Shell> MakeShell(const quillon::CommandLine& options,
                                          quillon::System& system) {
#ifdef QUILLON_DESKTOP
    if (!options.headless) {
        quillon::lnx::GtkShellOptions desktop;
        desktop.uiFolder = quillon::lnx::UiFolderBesideExecutable();
        const std::string data = system.AppFolderPath(quillon::AppFolder::Data);
        const std::string cache = system.AppFolderPath(quillon::AppFolder::Cache);
        if (!data.empty()) desktop.pageDataFolder = quillon::FsPath(data) / "webview";
        if (!cache.empty()) desktop.pageCacheFolder = quillon::FsPath(cache) / "webview";
        desktop.instanceFolder = data;
        auto shell = std::make_unique<quillon::lnx::GtkShell>(std::move(desktop));
        if (shell->HandOverToRunningInstance()) {
            std::puts("Quillon is already running: its window is shown.");
            return nullptr;
        }
        return shell;
    }
#else
    (void)system;
#endif
    return std::make_unique<quillon::lnx::HeadlessShell>(ShellOptionsOf(options));
}

// quillon --simulate FILE: the simulated world of a scenario file, in real time.
int RunSimulated(const quillon::CommandLine& options) {
    std::string text, error;
    if (!quillon::ReadNamedFile(options.simulateFile, text, error)) {
        std::fprintf(stderr, "quillon: --simulate %s\n", error.c_str());
        return 1;
    }
    quillon::sim::ScenarioLoad scenario = quillon::sim::LoadScenarioText(text);
    if (!scenario.ok) {
        std::fprintf(stderr, "quillon: --simulate %s: %s\n", options.simulateFile.c_str(),
                     scenario.error.c_str());
        return 1;
    }
    if (!DataDirUsable(options)) return 1;

    quillon::lnx::LinuxClock clock;
    quillon::StdThreads threads;
    quillon::sim::SimNetwork network(std::move(scenario.world), clock);
    // The simulated computer: real executable path (the ui folder is found beside it), folders
    // in a temporary place unless --data-dir names one.
    quillon::sim::SimSystem system;
    system.executablePath = quillon::lnx::RunningExecutablePath().string();
    if (!options.dataDir.empty()) {
        for (quillon::AppFolder kind : kAllFolders) system.SetAppFolder(kind, options.dataDir);
        system.downloadsFolder = options.dataDir + "/Downloads";
    } else {
        // Exports are the person's own files: they outlive the simulated run.
        system.downloadsFolder =
            quillon::lnx::LinuxSystem(quillon::lnx::LinuxSystemOptions{}).DownloadsFolderPath();
        std::printf(
            "Simulated run: logs and data go to %s and are removed at exit "
            "(--data-dir DIR keeps them).\n",
            system.Root().c_str());
    }
    quillon::lnx::LinuxFiles files;
    quillon::sim::SimAutostart autostart;
    const std::unique_ptr<quillon::Shell> shell = MakeShell(options, system);
    if (!shell) return 0;

    quillon::Platform platform;
    platform.clock = &clock;
    platform.threads = &threads;
    platform.system = &system;
    platform.files = &files;
    platform.autostart = &autostart;
    platform.icmp = &network.icmp();
    platform.netInfo = &network.netInfo();
    platform.netEvents = &network.netEvents();
    platform.dns = &network.dns();
    platform.sockets = &network.sockets();
    platform.http = &network.http();
    platform.wlan = &network.wlan();
    platform.shell = shell.get();
    const std::filesystem::path scenarioFolder =
        quillon::FsPath(options.simulateFile).parent_path();
    return RunApplication(platform, options,
                          {quillon::Utf8Path(scenarioFolder / kScenarioVendorList)});
}

// quillon: the computer's own network through the Linux adapters.
int RunOnThisComputer(const quillon::CommandLine& options) {
    if (!DataDirUsable(options)) return 1;
    quillon::lnx::LinuxClock clock;
    quillon::StdThreads threads;
    quillon::lnx::LinuxSystemOptions systemOptions;
    systemOptions.dataDir = options.dataDir;
    quillon::lnx::LinuxSystem system(systemOptions);
    quillon::lnx::LinuxIcmp icmp;
    quillon::lnx::LinuxNetInfoOptions netInfoOptions;
    netInfoOptions.pinnedInterface = options.interfaceName;
    quillon::lnx::LinuxNetInfo netInfo(netInfoOptions);
    quillon::lnx::LinuxNetEvents netEvents;
    quillon::lnx::LinuxDns dns;
    quillon::lnx::LinuxSockets sockets;
    quillon::lnx::LinuxFiles files;
    // Web probes trust the system's certificate authorities, or the bundle SSL_CERT_FILE names
    // (as OpenSSL's own programs do): the lab's CA, a company's inspecting proxy.
    quillon::lnx::LinuxHttp http(quillon::lnx::LinuxHttpOptions{
        quillon::lnx::LinuxSystem::ProcessEnvironment()("SSL_CERT_FILE").value_or("")});
    quillon::lnx::LinuxSettings settings(system.AppFolderPath(quillon::AppFolder::Config));
    quillon::lnx::LinuxSecrets secrets(system.AppFolderPath(quillon::AppFolder::Data));
    quillon::lnx::LinuxAutostart autostart(
        quillon::lnx::XdgConfigHome(quillon::lnx::LinuxSystem::ProcessEnvironment()));
    // libpcap when installed: the wired switch's name and port (LLDP).
    quillon::lnx::LinuxCapture capture;
    // nl80211 when the kernel has wireless support: the WiFi link card.
    quillon::lnx::LinuxWlan wlan;
    const std::unique_ptr<quillon::Shell> shell = MakeShell(options, system);
    if (!shell) return 0;

    quillon::Platform platform;
    platform.clock = &clock;
    platform.threads = &threads;
    platform.system = &system;
    platform.icmp = &icmp;
    platform.netInfo = &netInfo;
    platform.netEvents = &netEvents;
    platform.dns = &dns;
    platform.sockets = &sockets;
    platform.files = &files;
    platform.http = &http;
    platform.settings = &settings;
    platform.secrets = &secrets;
    platform.autostart = &autostart;
    platform.capture = &capture;
    platform.wlan = &wlan;
    platform.shell = shell.get();
    return RunApplication(platform, options, kSystemVendorLists);
}

// quillon export: the archive written out, without starting anything else.
int RunExport(const quillon::CommandLine& options) {
    const quillon::CommandLine::Export& e = options.exportOptions;
    quillon::lnx::LinuxClock clock;
    quillon::lnx::LinuxSystemOptions systemOptions;
    systemOptions.dataDir = options.dataDir;
    quillon::lnx::LinuxSystem system(systemOptions);
    const std::string folder =
        quillon::ArchiveFolderIn(system.AppFolderPath(quillon::AppFolder::State));
    std::error_code ec;
    if (folder.empty() || !std::filesystem::is_directory(quillon::FsPath(folder), ec)) {
        std::fprintf(stderr, "quillon export: nothing recorded yet (%s is not a folder)\n",
                     folder.empty() ? "the data folder" : folder.c_str());
        return 1;
    }
    const quillon::LocalTime today = clock.Local();
    quillon::ExportRequest request;
    request.folder = folder;
    request.firstDay = e.fromDay.value_or(0);
    request.lastDay = e.toDay.value_or(quillon::DaysFromCivil(today.year, today.month, today.day));
    request.format = e.format;
    request.data = e.data;
    const quillon::ExportSummary summary = e.output.empty()
                                               ? quillon::ExportArchive(request, stdout)
                                               : quillon::ExportArchiveToFile(request, e.output);
    if (!summary.ok) {
        std::fprintf(stderr, "quillon export: %s\n", summary.error.c_str());
        return 1;
    }
    std::fprintf(stderr, "Exported %llu records from %zu day file%s%s%s",
                 static_cast<unsigned long long>(summary.records), summary.files,
                 summary.files == 1 ? "" : "s", e.output.empty() ? "" : " to ", e.output.c_str());
    if (summary.skipped > 0) {
        std::fprintf(stderr, "; skipped %llu lines that could not be read",
                     static_cast<unsigned long long>(summary.skipped));
    }
    std::fputs("\n", stderr);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    using quillon::CommandLine;
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const quillon::CommandLineResult parsed = quillon::ParseCommandLine(args);
    if (!parsed.ok) {
        const bool exporting = !args.empty() && args[0] == "export";
        std::fprintf(stderr, "quillon: %s\n\n%s", parsed.error.c_str(),
                     exporting ? quillon::ExportUsageText().c_str() : quillon::UsageText().c_str());
        return 2;
    }
    switch (parsed.options.action) {
        case CommandLine::Action::Version:
            std::fputs(quillon::VersionText().c_str(), stdout);
            return 0;
        case CommandLine::Action::Help:
            std::fputs(!args.empty() && args[0] == "export" ? quillon::ExportUsageText().c_str()
                                                            : quillon::UsageText().c_str(),
                       stdout);
            return 0;
        case CommandLine::Action::Export:
            return RunExport(parsed.options);
        case CommandLine::Action::Run:
            break;
    }
    if (!parsed.options.headless) {
#ifdef QUILLON_DESKTOP
        if (!quillon::lnx::DesktopDisplayPresent()) {
            std::fputs(
                "quillon: there is no display to open the window on (DISPLAY and WAYLAND_DISPLAY "
                "are unset); run `quillon --headless` and open the address it prints in a "
                "browser.\n",
                stderr);
            return 1;
        }
#else
        std::fputs(
            "quillon: this build has no desktop front end; run `quillon --headless` and open the "
            "address it prints in a browser.\n",
            stderr);
        return 1;
#endif
    }
    return parsed.options.simulateFile.empty() ? RunOnThisComputer(parsed.options)
                                               : RunSimulated(parsed.options);
}
