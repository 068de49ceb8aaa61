// Command line parsing: options, values, defaults and the refusals that end with exit code 2;
// the checks of the file and folder the options name.
#include "app/command_line.h"
#include "base/time_text.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "discovery/address_text.h"
#include "fakes/temp_dir.h"

namespace quillon::test {
namespace {

CommandLineResult Parse(std::vector<std::string> args) {
    return ParseCommandLine(args);
}

TEST(CommandLine, DefaultsWithoutArguments) {
    const CommandLineResult r = Parse({});
    ASSERT_TRUE(r.ok);
    EXPECT_EQ(r.options.action, CommandLine::Action::Run);
    EXPECT_FALSE(r.options.minimized);
    EXPECT_FALSE(r.options.headless);
    EXPECT_EQ(r.options.listenAddress, "127.0.0.1");
    EXPECT_EQ(r.options.listenPort, 0);
    EXPECT_TRUE(r.options.destinations.empty());
}

TEST(CommandLine, MinimizedCountsAnywhereInTheText) {
    EXPECT_TRUE(Parse({"--minimized"}).options.minimized);
    EXPECT_TRUE(Parse({"--headless", "--minimized"}).options.minimized);
    // Inside a value: the whole text counts, not its words.
    const CommandLineResult r = Parse({"--data-dir", "/tmp/x--minimized"});
    ASSERT_TRUE(r.ok);
    EXPECT_TRUE(r.options.minimized);
    EXPECT_EQ(r.options.dataDir, "/tmp/x--minimized");
    EXPECT_FALSE(Parse({"--data-dir", "/tmp/-minimized"}).options.minimized);
}

TEST(CommandLine, ValuedOptionsInBothSpellings) {
    const CommandLineResult r =
        Parse({"--headless", "--listen=127.0.0.1:8080", "--data-dir", "/tmp/q", "--simulate",
               "world.json", "--interface=eth0", "--destination", "192.0.2.1,198.51.100.7"});
    ASSERT_TRUE(r.ok) << r.error;
    EXPECT_TRUE(r.options.headless);
    EXPECT_EQ(r.options.listenAddress, "127.0.0.1");
    EXPECT_EQ(r.options.listenPort, 8080);
    EXPECT_EQ(r.options.dataDir, "/tmp/q");
    EXPECT_EQ(r.options.simulateFile, "world.json");
    EXPECT_EQ(r.options.interfaceName, "eth0");
    EXPECT_EQ(r.options.destinations,
              (std::vector<Ipv4Address>{Ipv4Address(192, 0, 2, 1), Ipv4Address(198, 51, 100, 7)}));
    EXPECT_EQ(r.options.destinationTexts, (std::vector<std::string>{"192.0.2.1", "198.51.100.7"}));

    EXPECT_EQ(Parse({"--listen", "localhost:0"}).options.listenAddress, "localhost");
    EXPECT_EQ(Parse({"--listen", "[::1]:65535"}).options.listenAddress, "::1");
    EXPECT_EQ(Parse({"--listen", "127.8.9.1:1"}).options.listenPort, 1);
}

TEST(CommandLine, VersionAndHelp) {
    EXPECT_EQ(Parse({"--version"}).options.action, CommandLine::Action::Version);
    EXPECT_EQ(Parse({"--version", "--help"}).options.action, CommandLine::Action::Help);
    EXPECT_EQ(VersionText(), "quillon 1.0.0\n");
    for (const char* option :
         {"--minimized", "--headless", "--listen", "--data-dir", "--simulate", "--destination",
          "--interface", "--stun-server", "--version", "--help"}) {
        EXPECT_NE(UsageText().find(option), std::string::npos) << option;
    }
}

TEST(CommandLine, MistakesAreRefusedWithAClearMessage) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"--bogus"}, "unknown option '--bogus'"},
        {{"-m"}, "unknown option '-m'"},
        {{"stray"}, "unexpected argument 'stray'"},
        {{"--minimized-now"}, "unknown option '--minimized-now'"},
        {{"--data-dir"}, "option --data-dir needs a value"},
        {{"--data-dir="}, "option --data-dir needs a non-empty value"},
        {{"--simulate", "a", "--simulate", "b"}, "option --simulate given twice"},
        {{"--headless=yes"}, "option --headless takes no value"},
        {{"--listen", "127.0.0.1"}, "--listen: '127.0.0.1' is not ADDR:PORT with a port 0-65535"},
        {{"--listen", "127.0.0.1:65536"},
         "--listen: '127.0.0.1:65536' is not ADDR:PORT with a port 0-65535"},
        {{"--listen", "127.0.0.1:8x"},
         "--listen: '127.0.0.1:8x' is not ADDR:PORT with a port 0-65535"},
        {{"--listen", "0.0.0.0:80"},
         "--listen: '0.0.0.0' is not a loopback address (127.x.x.x, localhost or [::1])"},
        {{"--listen", "192.168.1.5:80"},
         "--listen: '192.168.1.5' is not a loopback address (127.x.x.x, localhost or [::1])"},
        {{"--destination", "1.1.1"}, "--destination: '1.1.1' is not an IPv4 address"},
        {{"--destination", "192.0.2.1,"}, "--destination: '' is not an IPv4 address"},
        {{"--destination", "0.0.0.0"},
         "--destination: 0.0.0.0 is not a destination (0.x.x.x stands for this network)"},
        {{"--destination", "192.0.2.1,127.0.0.1"},
         "--destination: 127.0.0.1 is a loopback address, which cannot be traced"},
        {{"--destination", "224.0.0.1"},
         "--destination: 224.0.0.1 is a multicast address, which cannot be traced"},
        {{"--destination", "239.255.255.250"},
         "--destination: 239.255.255.250 is a multicast address, which cannot be traced"},
        {{"--destination", "255.255.255.255"},
         "--destination: 255.255.255.255 is the broadcast address, which cannot be traced"},
        {{"--destination", "192.0.2.1,192.0.2.1"}, "--destination: '192.0.2.1' is listed twice"},
        {{"--stun-server", "stun.lab.test:0"},
         "--stun-server: 'stun.lab.test:0' is not HOST or HOST:PORT with a port 1-65535"},
    };
    for (const auto& [args, error] : cases) {
        const CommandLineResult r = Parse(args);
        EXPECT_FALSE(r.ok) << args[0];
        EXPECT_EQ(r.error, error);
    }
    EXPECT_EQ(Parse({"--stun-server=stun.lab.test"}).options.stunServer, "stun.lab.test");
    // Next to the refused ranges, still destinations.
    EXPECT_TRUE(Parse({"--destination",
                       "1.0.0.0,126.255.255.255,128.0.0.1,223.255.255.255,"
                       "240.0.0.1,255.255.255.254"})
                    .ok);
}

TEST(CommandLine, ExportTakesItsOwnOptions) {
    CommandLineResult r =
        Parse({"export", "--from", "2026-12-01", "--to=2026-12-07", "--format", "json", "--data",
               "verdicts", "--output", "o.json", "--data-dir", "/d"});
    ASSERT_TRUE(r.ok) << r.error;
    const CommandLine::Export& e = r.options.exportOptions;
    EXPECT_EQ(r.options.action, CommandLine::Action::Export);
    EXPECT_EQ(e.fromDay, DaysFromCivil(2026, 12, 1));
    EXPECT_EQ(e.toDay, DaysFromCivil(2026, 12, 7));
    EXPECT_EQ(e.format, ExportFormat::Json);
    EXPECT_EQ(e.data, ExportData::Verdicts);
    EXPECT_EQ(e.output, "o.json");
    EXPECT_EQ(r.options.dataDir, "/d");
    r = Parse({"export"});
    ASSERT_TRUE(r.ok);
    EXPECT_FALSE(r.options.exportOptions.fromDay);
    EXPECT_EQ(r.options.exportOptions.format, ExportFormat::Csv);
    EXPECT_EQ(Parse({"export", "--help"}).options.action, CommandLine::Action::Help);
    EXPECT_EQ(Parse({"--history-days", "0"}).options.historyDays, 0);
    EXPECT_EQ(Parse({}).options.historyDays, 30);

    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"export", "--from", "2026-02-30"},
         "export: --from '2026-02-30' is not a date (YYYY-MM-DD)"},
        {{"export", "--from", "2026-12-08", "--to", "2026-12-07"}, "export: --from is after --to"},
        {{"export", "--format", "xml"}, "export: --format 'xml' is not csv or json"},
        {{"export", "--data", "all"}, "export: --data 'all' is not samples or verdicts"},
        {{"export", "--output"}, "export: option --output needs a value"},
        {{"export", "--to", "2026-12-01", "--to", "2026-12-02"}, "export: option --to given twice"},
        {{"export", "--headless"}, "export: unknown option '--headless'"},
        {{"export", "file"}, "export: unexpected argument 'file'"},
        {{"--history-days", "-1"}, "--history-days: '-1' is not a number of days 0-36500"},
        {{"--history-days", "36501"}, "--history-days: '36501' is not a number of days 0-36500"},
    };
    for (const auto& [args, error] : cases) EXPECT_EQ(Parse(args).error, error);
}

// What the options name is checked before anything starts; a problem ends with exit code 1.
class NamedPaths : public ::testing::Test {
protected:
    void SetUp() override { std::ofstream(root / "world.json") << "{}"; }
    std::string At(const std::string& name) const { return (root / name).string(); }

    TempDir dir;
    const std::filesystem::path& root = dir.path();
};

TEST_F(NamedPaths, ANamedFileIsReadOrTheReasonGiven) {
    std::string text, error;
    ASSERT_TRUE(ReadNamedFile(At("world.json"), text, error)) << error;
    EXPECT_EQ(text, "{}");
    EXPECT_FALSE(ReadNamedFile(root.string(), text, error));
    EXPECT_EQ(error, root.string() + " is a folder, not a file");
    EXPECT_FALSE(ReadNamedFile(At("none.json"), text, error));
    EXPECT_EQ(error, At("none.json") + ": No such file or directory");
    EXPECT_FALSE(ReadNamedFile(At("world.json/x"), text, error));
#ifdef _WIN32
    // Windows reports a file used as a folder as a path that does not exist.
    EXPECT_EQ(error, At("world.json/x") + ": No such file or directory");
#else
    EXPECT_EQ(error, At("world.json/x") + ": Not a directory");
#endif
}

TEST_F(NamedPaths, TheDataFolderIsCreatedAndMustTakeFiles) {
    EXPECT_EQ(PrepareDataDir(At("data/deeper")), "");
    EXPECT_TRUE(std::filesystem::is_directory(At("data/deeper")));
    EXPECT_TRUE(std::filesystem::is_empty(At("data/deeper")));  // the trial file is gone
    // Under a regular file nothing can be created, whoever runs the test.
    EXPECT_EQ(PrepareDataDir(At("world.json/sub")),
              "--data-dir " + At("world.json/sub") +
                  " cannot hold the application's files: Not a directory");
    EXPECT_EQ(
        PrepareDataDir(At("world.json")),
        "--data-dir " + At("world.json") + " cannot hold the application's files: not a folder");
}

}  // namespace
}  // namespace quillon::test
