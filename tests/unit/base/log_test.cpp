#include "base/log.h"
#include "platform/log_environment.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "base/fs_path.h"
#include "fakes/file_text.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

using test::ReadFileText;

std::vector<std::string> LogFiles(const std::string& folder) {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

class LogTest : public ::testing::Test {
protected:
    void TearDown() override {
        ShutdownLogging();
        SetLogSink({});
    }

    std::string LogFolder() const { return system.Root() + kPathSeparator + "Logs"; }

    // Writes lines until the current file holds exactly `target` bytes.
    void FillTo(uint64_t target) {
        const std::string path = GetCurrentLogPath();
        const std::string chunk(8000, 'x');
        constexpr size_t kPrefix = 35;  // "[...] [INFO] " plus CR LF
        for (;;) {
            const uint64_t size = fs::file_size(path);
            ASSERT_LE(size, target);
            const uint64_t left = target - size;
            if (left == 0) return;
            if (left >= chunk.size() + kPrefix + kPrefix) {
                LogWrite(Info, "%s", chunk.c_str());
            } else {
                ASSERT_GE(left, kPrefix);
                LogWrite(Info, "%s", std::string(left - kPrefix, 'y').c_str());
            }
        }
    }

    sim::SimSystem system;
    sim::VirtualClock clock{{2026, 12, 5, 7, 41, 59, 123}};
};

TEST_F(LogTest, WritesSignatureAndExactLinesAndNothingOutsideItsLifetime) {
    LogWrite(Error, "before %s", "initialisation");  // no file yet: ignored, no crash
    ASSERT_TRUE(InitializeLogging(system, clock));
    EXPECT_EQ(GetLogDirectory(), LogFolder());
    const std::string path = LogFolder() + kPathSeparator + "qlnwin_20261205_074159.log";
    EXPECT_EQ(GetCurrentLogPath(), path);

    LogWrite(Info, "Initialized %zu default destinations", size_t{2});
    LogWrite(Warn, "GetSystemPowerStatus failed: %lu", 5ul);
    clock.Advance(1877);  // crosses into the next minute
    LogWrite(Error, "Failed to create data directory: %s", "/x/y");
    LogWrite(Debug, "never %s", "written");
    ShutdownLogging();
    LogWrite(Error, "after shutdown");

    EXPECT_EQ(ReadFileText(path),
              "\xEF\xBB\xBF"
              "[2026-12-05T07:41:59.123] [INFO] Initialized 2 default destinations\r\n"
              "[2026-12-05T07:41:59.123] [WARN] GetSystemPowerStatus failed: 5\r\n"
              "[2026-12-05T07:42:01.000] [ERROR] Failed to create data directory: /x/y\r\n"
              "[2026-12-05T07:42:01.000] [INFO] Logging shutdown\r\n");
}

TEST_F(LogTest, SinkGetsExactlyTheLinesTheFileGetsUntilRemoved) {
    std::string seen;
    SetLogSink([&seen](std::string_view line) { seen.append(line); });
    LogWrite(Error, "before %s", "initialisation");
    ASSERT_TRUE(InitializeLogging(system, clock));
    LogWrite(Warn, "written %d", 1);
    LogWrite(Debug, "never %s", "written");
    LogWrite(Info, "%s", std::string(5000, 'a').c_str());  // cut as in the file
    ShutdownLogging();
    LogWrite(Error, "after shutdown");
    EXPECT_EQ("\xEF\xBB\xBF" + seen, ReadFileText(GetCurrentLogPath()));
    EXPECT_TRUE(seen.starts_with("[2026-12-05T07:41:59.123] [WARN] written 1\r\n")) << seen;

    SetLogSink({});
    ASSERT_TRUE(InitializeLogging(system, clock));
    LogWrite(Info, "unseen");
    EXPECT_EQ(seen.find("unseen"), std::string::npos);
}

TEST_F(LogTest, UndeterminableFolderMeansNoLogAndIsRetried) {
    system.SetAppFolder(AppFolder::State, "");
    EXPECT_FALSE(InitializeLogging(system, clock));
    EXPECT_EQ(GetLogDirectory(), "");
    LogWrite(Info, "dropped");

    system.SetAppFolder(AppFolder::State, system.Root() + kPathSeparator + "later");
    EXPECT_EQ(GetLogDirectory(),
              system.Root() + kPathSeparator + "later" + kPathSeparator + "Logs");
}

TEST_F(LogTest, RotatesOnTheCallAfterTheLimitAndKeepsFourOlderFiles) {
    fs::create_directories(LogFolder());
    for (int i = 1; i <= 7; ++i) {
        std::ofstream(LogFolder() + "/qlnwin_20250101_00000" + std::to_string(i) + ".log") << "old";
    }
    std::ofstream(LogFolder() + "/other.log") << "not ours";
    fs::create_directory(LogFolder() + "/qlnwin_folder.log");

    ASSERT_TRUE(InitializeLogging(system, clock));  // earlier files survive start-up
    EXPECT_EQ(LogFiles(LogFolder()).size(), 10u);
    const std::string first = GetCurrentLogPath();

    FillTo(kLogRotateBytes - 1);
    LogWrite(Info, "crosses the limit");  // written to the old file
    EXPECT_EQ(GetCurrentLogPath(), first);
    clock.Advance(1000);
    LogWrite(Info, "first line of the new file");

    const std::string old = ReadFileText(first);
    EXPECT_GE(old.size(), kLogRotateBytes);
    EXPECT_TRUE(old.ends_with("] [INFO] crosses the limit\r\n"));
    EXPECT_EQ(ReadFileText(GetCurrentLogPath()),
              "\xEF\xBB\xBF[2026-12-05T07:42:00.123] [INFO] first line of the new file\r\n");
    EXPECT_EQ(LogFiles(LogFolder()),
              (std::vector<std::string>{"other.log", "qlnwin_20250101_000005.log",
                                        "qlnwin_20250101_000006.log", "qlnwin_20250101_000007.log",
                                        "qlnwin_20261205_074159.log", "qlnwin_20261205_074200.log",
                                        "qlnwin_folder.log"}));
}

TEST_F(LogTest, FileAtExactlyTheLimitRotatesBeforeTheNextLine) {
    ASSERT_TRUE(InitializeLogging(system, clock));
    const std::string first = GetCurrentLogPath();
    FillTo(kLogRotateBytes);
    EXPECT_EQ(fs::file_size(first), kLogRotateBytes);
    // Same second: the new file has the old name and replaces it.
    LogWrite(Warn, "after the limit");
    EXPECT_EQ(GetCurrentLogPath(), first);
    EXPECT_EQ(ReadFileText(first),
              "\xEF\xBB\xBF[2026-12-05T07:41:59.123] [WARN] after the limit\r\n");
}

TEST_F(LogTest, OverlongMessagesAreCutAtCharacterBoundaries) {
    ASSERT_TRUE(InitializeLogging(system, clock));
    const std::string prefix = "[2026-12-05T07:41:59.123] [INFO] ";

    LogWrite(Info, "%s", std::string(5000, 'a').c_str());  // 4095 units
    LogWrite(Info, "%s",
             [] {  // 3-byte characters: bytes bind
                 std::string s;
                 for (int i = 0; i < 3000; ++i) s += "\xE2\x82\xAC";
                 return s;
             }()
                 .c_str());
    LogWrite(Info, "%s",
             [] {  // 4-byte characters count two units each
                 std::string s(4093, 'b');
                 for (int i = 0; i < 3; ++i) s += "\xF0\x9F\x98\x80";
                 return s;
             }()
                 .c_str());
    LogWrite(Info, "bad \xFF byte and cut \xE2\x82");
    ShutdownLogging();

    std::istringstream lines(ReadFileText(GetCurrentLogPath()).substr(3));
    std::string line;
    std::getline(lines, line);
    EXPECT_EQ(line, prefix + std::string(4095, 'a') + "\r");

    std::getline(lines, line);
    const size_t euroBytes = line.size() - prefix.size() - 1;
    EXPECT_EQ(euroBytes % 3, 0u);
    EXPECT_LE(line.size() + 1, 8399u);
    EXPECT_GT(line.size() + 1 + 3, 8399u);
    EXPECT_TRUE(line.ends_with("\xE2\x82\xAC\r"));

    std::getline(lines, line);  // 4093 + 2 units fit, the second emoji would not
    EXPECT_EQ(line, prefix + std::string(4093, 'b') + "\xF0\x9F\x98\x80\r");

    std::getline(lines, line);
    EXPECT_EQ(line, prefix + "bad \xEF\xBF\xBD byte and cut \xEF\xBF\xBD\xEF\xBF\xBD\r");
}

TEST_F(LogTest, ConcurrentWritersNeverInterleaveLines) {
    ASSERT_TRUE(InitializeLogging(system, clock));
    std::vector<std::thread> writers;
    for (int w = 0; w < 4; ++w) {
        writers.emplace_back([w] {
            for (int i = 0; i < 500; ++i) LogWrite(Info, "writer %d line %d %s", w, i, "payload");
        });
    }
    for (auto& t : writers) t.join();
    ShutdownLogging();

    std::istringstream lines(ReadFileText(GetCurrentLogPath()).substr(3));
    std::string line;
    std::vector<int> perWriter(4);
    while (std::getline(lines, line)) {
        int w, i;
        if (std::sscanf(line.c_str(),
                        "[2026-12-05T07:41:59.123] [INFO] writer %d line %d payload\r", &w,
                        &i) == 2) {
            ASSERT_EQ(i, perWriter[w]++);  // each writer's lines whole and in order
        } else {
            EXPECT_EQ(line, "[2026-12-05T07:41:59.123] [INFO] Logging shutdown\r");
        }
    }
    EXPECT_EQ(perWriter, std::vector<int>(4, 500));
}

TEST(CreateDirectoryTree, CreatesMissingLevelsAndAcceptsExistingFolders) {
    sim::SimSystem system;
    const std::string sep(1, kPathSeparator);
    const std::string deep = system.Root() + sep + "a" + sep + "b" + sep + "c";
    EXPECT_TRUE(CreateDirectoryTree(deep));
    EXPECT_TRUE(fs::is_directory(deep));
    EXPECT_TRUE(CreateDirectoryTree(deep));  // already there

    std::ofstream(system.Root() + sep + "file") << "x";
    EXPECT_FALSE(CreateDirectoryTree(system.Root() + sep + "file"));
    EXPECT_FALSE(CreateDirectoryTree(system.Root() + sep + "file" + sep + "below"));
    EXPECT_FALSE(CreateDirectoryTree(""));
}

}  // namespace
}  // namespace quillon
