#include "platform/linux/linux_system.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "fakes/temp_dir.h"

namespace quillon::lnx {
namespace {

namespace fs = std::filesystem;

EnvLookup Env(std::map<std::string, std::string> vars) {
    return [vars = std::move(vars)](const char* name) -> std::optional<std::string> {
        const auto it = vars.find(name);
        if (it == vars.end()) return std::nullopt;
        return it->second;
    };
}

void WriteFile(const fs::path& path, const std::string& text) {
    fs::create_directories(path.parent_path());
    std::ofstream(path) << text;
}

TEST(LinuxSystemFacts, FoldersFollowXdgVariablesThenHomeThenDataDir) {
    const auto home = Env({{"HOME", "/home/ann"}});
    EXPECT_EQ(XdgAppFolder(AppFolder::Config, home, ""), "/home/ann/.config/quillon");
    EXPECT_EQ(XdgAppFolder(AppFolder::State, home, ""), "/home/ann/.local/state/quillon");
    EXPECT_EQ(XdgAppFolder(AppFolder::Cache, home, ""), "/home/ann/.cache/quillon");
    EXPECT_EQ(XdgAppFolder(AppFolder::Data, home, ""), "/home/ann/.local/share/quillon");
    EXPECT_EQ(XdgConfigHome(home), "/home/ann/.config");

    const auto xdg = Env({{"HOME", "/home/ann"},
                          {"XDG_CONFIG_HOME", "/c"},
                          {"XDG_STATE_HOME", "/s"},
                          {"XDG_CACHE_HOME", "relative/ignored"},
                          {"XDG_DATA_HOME", "/d"}});
    EXPECT_EQ(XdgAppFolder(AppFolder::Config, xdg, ""), "/c/quillon");
    EXPECT_EQ(XdgAppFolder(AppFolder::State, xdg, ""), "/s/quillon");
    EXPECT_EQ(XdgAppFolder(AppFolder::Cache, xdg, ""), "/home/ann/.cache/quillon");
    EXPECT_EQ(XdgAppFolder(AppFolder::Data, xdg, ""), "/d/quillon");
    EXPECT_EQ(XdgConfigHome(xdg), "/c");

    for (AppFolder kind :
         {AppFolder::Config, AppFolder::State, AppFolder::Cache, AppFolder::Data}) {
        EXPECT_EQ(XdgAppFolder(kind, xdg, "/portable"), "/portable");
        EXPECT_EQ(XdgAppFolder(kind, Env({}), ""), "") << "no home, no folder";
    }
}

TEST(LinuxSystemFacts, DownloadsFolderFromVariableUserDirsThenHome) {
    const auto home = Env({{"HOME", "/home/ann"}});
    EXPECT_EQ(XdgDownloadFolder(home, ""), "/home/ann/Downloads");
    EXPECT_EQ(XdgDownloadFolder(home,
                                "# written by xdg-user-dirs-update\n"
                                "XDG_DESKTOP_DIR=\"$HOME/Desktop\"\n"
                                "XDG_DOWNLOAD_DIR=\"$HOME/T\u00e9l\u00e9chargements\"\n"),
              "/home/ann/T\u00e9l\u00e9chargements");
    EXPECT_EQ(XdgDownloadFolder(home, "XDG_DOWNLOAD_DIR=\"/data/dl\"\n"), "/data/dl");
    EXPECT_EQ(XdgDownloadFolder(home, "XDG_DOWNLOAD_DIR=\"relative\"\n"), "/home/ann/Downloads");
    EXPECT_EQ(XdgDownloadFolder(Env({{"HOME", "/home/ann"}, {"XDG_DOWNLOAD_DIR", "/x"}}),
                                "XDG_DOWNLOAD_DIR=\"/data/dl\"\n"),
              "/x");
    EXPECT_EQ(XdgDownloadFolder(Env({}), ""), "");
}

TEST(LinuxSystemFacts, MemoryLoadComesFromTotalAndAvailable) {
    const auto m = ParseMeminfo(
        "MemTotal:       16000000 kB\nMemFree:         1000000 kB\n"
        "MemAvailable:    4000000 kB\nBuffers:  10 kB\n");
    ASSERT_TRUE(m.ok);
    EXPECT_EQ(m.loadPercent, 75u);
    EXPECT_EQ(m.totalPhysicalBytes, 16000000ull * 1024);
    EXPECT_EQ(m.availablePhysicalBytes, 4000000ull * 1024);
    EXPECT_FALSE(ParseMeminfo("MemTotal: 100 kB\n").ok) << "no MemAvailable";
    EXPECT_FALSE(ParseMeminfo("MemTotal: 0 kB\nMemAvailable: 0 kB\n").ok);
    EXPECT_FALSE(ParseMeminfo("MemTotalX: 5 kB\nMemAvailable: 1 kB\n").ok);
}

TEST(LinuxSystemFacts, PowerSourceFromSupplies) {
    using S = PowerSupply;
    EXPECT_EQ(AcLineStatusOf({}), 1) << "no battery: mains";
    EXPECT_EQ(AcLineStatusOf({S{"Mains", "1", "", ""}, S{"Battery", "", "Charging", ""}}), 1);
    EXPECT_EQ(AcLineStatusOf({S{"Mains", "0", "", ""}, S{"Battery", "", "Discharging", ""}}), 0);
    EXPECT_EQ(AcLineStatusOf({S{"Battery", "", "Discharging", ""}}), 0);
    EXPECT_EQ(AcLineStatusOf({S{"USB", "1", "", ""}, S{"Battery", "", "Discharging", ""}}), 1);
    EXPECT_EQ(AcLineStatusOf({S{"Battery", "", "Full", ""}}), 1);
    EXPECT_EQ(AcLineStatusOf({S{"Battery", "", "Unknown", ""}}), 255);
    EXPECT_EQ(AcLineStatusOf({S{"Battery", "", "Discharging", "Device"}}), 1)
        << "a mouse battery is not the computer's";
}

TEST(LinuxSystemFacts, ArchitectureAndThemeTexts) {
    EXPECT_EQ(ArchitectureOf("x86_64"), "x64");
    EXPECT_EQ(ArchitectureOf("i686"), "x86");
    EXPECT_EQ(ArchitectureOf("aarch64"), "arm64");
    EXPECT_EQ(ArchitectureOf("armv7l"), "arm");
    EXPECT_EQ(ArchitectureOf("riscv64"), "unknown");
    EXPECT_TRUE(ThemeIsDark("Adwaita:dark"));
    EXPECT_FALSE(ThemeIsDark("Adwaita"));
    EXPECT_FALSE(ThemeIsDark(""));
}

TEST(LinuxSystem, ReportsThisMachine) {
    test::TempDir dir;
    WriteFile(dir.path() / "meminfo", "MemTotal: 1000 kB\nMemAvailable: 250 kB\n");
    WriteFile(dir.path() / "ps" / "AC" / "type", "Mains\n");
    WriteFile(dir.path() / "ps" / "AC" / "online", "0\n");
    WriteFile(dir.path() / "ps" / "BAT0" / "type", "Battery\n");
    WriteFile(dir.path() / "ps" / "BAT0" / "status", "Discharging\n");
    LinuxSystemOptions options;
    options.env = Env({{"HOME", "/home/ann"}, {"GTK_THEME", "Adwaita:dark"}});
    options.meminfoPath = (dir.path() / "meminfo").string();
    options.powerSupplyDir = (dir.path() / "ps").string();
    LinuxSystem system(options);

    EXPECT_EQ(system.AppFolderPath(AppFolder::State), "/home/ann/.local/state/quillon");
    const std::string exe = system.ExecutablePath();
    EXPECT_EQ(fs::path(exe).filename(), "quillon_unit_tests");
    EXPECT_EQ(system.GetOsVersion().name, "Linux");
    EXPECT_FALSE(system.GetOsVersion().version.empty());
#if defined(__x86_64__)
    EXPECT_EQ(system.Architecture(), "x64");
#elif defined(__aarch64__)
    EXPECT_EQ(system.Architecture(), "arm64");
#endif
    char host[256] = {};
    gethostname(host, sizeof(host) - 1);
    EXPECT_EQ(system.ComputerName(), host);
    const DiskSpace disk = system.SystemDiskSpace();
    ASSERT_TRUE(disk.ok);
    EXPECT_GT(disk.totalBytes, 0u);
    EXPECT_LE(disk.freeBytesForUser, disk.totalBytes);
    const MemoryStatus memory = system.GetMemoryStatus();
    ASSERT_TRUE(memory.ok);
    EXPECT_EQ(memory.loadPercent, 75u);
    const PowerStatus power = system.GetPowerStatus();
    EXPECT_TRUE(power.ok);
    EXPECT_EQ(power.acLineStatus, 0);
    EXPECT_TRUE(system.PrefersDarkTheme());

    // The real machine's figures are at least plausible.
    LinuxSystem real;
    const MemoryStatus realMemory = real.GetMemoryStatus();
    ASSERT_TRUE(realMemory.ok);
    EXPECT_LE(realMemory.loadPercent, 100u);
    EXPECT_LE(realMemory.availablePhysicalBytes, realMemory.totalPhysicalBytes);

    LinuxSystemOptions none = options;
    none.powerSupplyDir = (dir.path() / "absent").string();
    EXPECT_EQ(LinuxSystem(none).GetPowerStatus().acLineStatus, 1) << "no supplies: mains";
}

}  // namespace
}  // namespace quillon::lnx
