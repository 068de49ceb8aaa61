#include <gtest/gtest.h>

#include <sys/stat.h>
#include <chrono>
#include <filesystem>

#include "fakes/file_text.h"
#include "fakes/temp_dir.h"
#include "platform/linux/linux_clock.h"
#include "platform/linux/linux_files.h"

namespace quillon::lnx {
namespace {

TEST(LinuxAdapters, ClockReadingsMoveTogether) {
    LinuxClock clock;
    const uint64_t tick = clock.Tick64();
    const int64_t ns = clock.MonotonicNs();
    const int64_t unixSeconds = clock.UnixSeconds();
    clock.Sleep(30);
    EXPECT_GE(clock.Tick64() - tick, 30u);
    EXPECT_GE(clock.MonotonicNs() - ns, 30'000'000);
    EXPECT_LE(clock.UnixSeconds() - unixSeconds, 1);
    EXPECT_GT(unixSeconds, 1'700'000'000);  // a real calendar date, not an offset since boot

    const LocalTime local = clock.Local();
    EXPECT_GE(local.year, 2023);
    EXPECT_TRUE(local.month >= 1 && local.month <= 12);
    EXPECT_TRUE(local.day >= 1 && local.day <= 31);
    EXPECT_TRUE(local.millisecond >= 0 && local.millisecond <= 999);
}

TEST(LinuxAdapters, ReplacedFilesAreWholeAndPrivateWhenAsked) {
    test::TempDir dir;
    LinuxFiles files;
    const std::string path = (dir.path() / "saved.ini").string();
    const auto mode = [&] {
        struct stat info {};
        EXPECT_EQ(stat(path.c_str(), &info), 0);
        return info.st_mode & 0777;
    };
    ASSERT_TRUE(files.ReplaceFile(path, "secret\n", /*ownerOnly=*/true).ok);
    EXPECT_EQ(test::ReadFileText(path), "secret\n");
    EXPECT_EQ(mode(), 0600u);
    ASSERT_TRUE(files.ReplaceFile(path, "plain", /*ownerOnly=*/false).ok);
    EXPECT_EQ(test::ReadFileText(path), "plain");
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()), {}),
              1);  // no leftovers

    const FileWriteResult missing =
        files.ReplaceFile((dir.path() / "none" / "x").string(), "x", false);
    EXPECT_FALSE(missing.ok);
    EXPECT_NE(missing.error, 0);
}

}  // namespace
}  // namespace quillon::lnx
