#include "platform/linux/linux_system.h"

#include <errno.h>
#include <limits.h>
#include <spawn.h>
#include <sys/statvfs.h>
#include <sys/utsname.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

#include "base/small_file.h"

extern char** environ;

namespace quillon::lnx {

namespace {

namespace fs = std::filesystem;

std::string FirstLine(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    if (in) std::getline(in, line);
    return line;
}

}  // namespace

EnvLookup LinuxSystem::ProcessEnvironment() {
    return [](const char* name) -> std::optional<std::string> {
        const char* value = std::getenv(name);
        if (value == nullptr) return std::nullopt;
        return std::string(value);
    };
}

LinuxSystem::LinuxSystem(LinuxSystemOptions options) : options_(std::move(options)) {
    if (!options_.env) options_.env = ProcessEnvironment();
}

std::string LinuxSystem::AppFolderPath(AppFolder kind) {
    return XdgAppFolder(kind, options_.env, options_.dataDir);
}

std::string LinuxSystem::DownloadsFolderPath() {
    const std::string configHome = XdgConfigHome(options_.env);
    std::string userDirs;
    if (!configHome.empty()) {
        const SmallFile file = ReadSmallFile(configHome + "/user-dirs.dirs", 64 * 1024);
        if (file.text) userDirs = *file.text;
    }
    return XdgDownloadFolder(options_.env, userDirs);
}

std::string LinuxSystem::ExecutablePath() {
    std::error_code ec;
    const fs::path path = fs::read_symlink("/proc/self/exe", ec);
    return ec ? "" : path.string();
}

OsVersion LinuxSystem::GetOsVersion() {
    OsVersion out{"Linux", ""};
    utsname names{};
    if (uname(&names) == 0) out.version = names.release;
    return out;
}

std::string LinuxSystem::Architecture() {
    utsname names{};
    if (uname(&names) != 0) return "unknown";
    return ArchitectureOf(names.machine);
}

std::string LinuxSystem::ComputerName() {
    char name[HOST_NAME_MAX + 1] = {};
    if (gethostname(name, sizeof(name) - 1) != 0) return "";
    return name;
}

DiskSpace LinuxSystem::SystemDiskSpace() {
    DiskSpace out;
    struct statvfs figures {};
    if (statvfs("/", &figures) != 0) return out;
    out.ok = true;
    out.totalBytes = static_cast<uint64_t>(figures.f_blocks) * figures.f_frsize;
    out.freeBytesForUser = static_cast<uint64_t>(figures.f_bavail) * figures.f_frsize;
    return out;
}

MemoryStatus LinuxSystem::GetMemoryStatus() {
    std::ifstream in(options_.meminfoPath);
    if (!in) return MemoryStatus{};
    std::ostringstream text;
    text << in.rdbuf();
    return ParseMeminfo(text.str());
}

PowerStatus LinuxSystem::GetPowerStatus() {
    PowerStatus out;
    std::error_code ec;
    const fs::path dir(options_.powerSupplyDir);
    if (!fs::exists(dir, ec)) {
        // No power-supply class at all (containers, many desktops): nothing runs on battery.
        out.ok = true;
        out.acLineStatus = 1;
        return out;
    }
    std::vector<PowerSupply> supplies;
    fs::directory_iterator it(dir, ec);
    if (ec) {
        out.error = static_cast<uint32_t>(ec.value());
        return out;
    }
    for (const fs::directory_entry& entry : it) {
        supplies.push_back(
            PowerSupply{FirstLine(entry.path() / "type"), FirstLine(entry.path() / "online"),
                        FirstLine(entry.path() / "status"), FirstLine(entry.path() / "scope")});
    }
    out.acLineStatus = AcLineStatusOf(supplies);
    out.ok = out.acLineStatus != 255;
    return out;
}

bool LinuxSystem::PrefersDarkTheme() {
    return ThemeIsDark(options_.env("GTK_THEME").value_or(""));
}

bool LinuxSystem::OpenUrl(const std::string& url) {
    if (url.empty()) return false;
    std::string program = "xdg-open";
    std::string argument = url;
    char* argv[] = {program.data(), argument.data(), nullptr};
    pid_t pid = 0;
    if (posix_spawnp(&pid, "xdg-open", nullptr, nullptr, argv, environ) != 0) return false;
    // Reap it in the background so that no zombie is left; its outcome is the browser's.
    std::thread([pid] {
        int status = 0;
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    }).detach();
    return true;
}

MessageBoxResult LinuxSystem::ShowMessageBox(const std::string& text, const std::string& caption,
                                             MessageBoxKind kind, MessageBoxButtons) {
    std::fprintf(stderr, "%s: %s: %s\n", caption.c_str(),
                 kind == MessageBoxKind::Error ? "error" : "note", text.c_str());
    return MessageBoxResult::Ok;
}

}  // namespace quillon::lnx
