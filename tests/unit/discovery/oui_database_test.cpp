#include "discovery/oui_database.h"

#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <fstream>
#include <mutex>

#include "fakes/fake_service_ports.h"
#include "fakes/file_text.h"
#include "fakes/log_capture.h"
#include "net/http_client.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_threads.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

constexpr const char* kRegistryList =
    "00-11-22   (hex)\t\tFallback Maker\n"
    "001122     (base 16)\t\tFallback Maker\n";

using test::Answered;

struct OuiRig {
    explicit OuiRig(sim::ThreadMode mode = sim::ThreadMode::Inline) : threads(mode) {
        client.Init();
        fallback = system.Root() + "/oui.txt";
    }
    std::string CacheFile() const { return system.Root() + "/oui_database.txt"; }
    void WriteCache(const std::string& text, int64_t ageHours) {
        std::ofstream(CacheFile(), std::ios::binary) << text;
        const std::chrono::sys_seconds written{
            std::chrono::seconds(clock.UnixSeconds() - ageHours * 3600)};
        fs::last_write_time(CacheFile(), std::chrono::file_clock::from_sys(written));
    }
    std::string ReadCache() const { return test::ReadFileText(CacheFile()); }
    OuiDatabase Database(bool withFallback = false) {
        return OuiDatabase(
            OuiDatabasePorts{system, clock, threads, &files, &client},
            withFallback ? std::vector<std::string>{fallback} : std::vector<std::string>{},
            "https://lists.example/manuf");
    }

    sim::VirtualClock clock;
    sim::SimSystem system;
    sim::SimThreads threads;
    test::FakeHttp http;
    HttpClient client{http};
    test::FakeFiles files;
    std::string fallback;
    test::TestLog log{system, clock};
};

TEST(OuiDatabase, RefreshesOnlyAFileOlderThanThirtyDays) {
    const int64_t now = 1'800'000'000;
    EXPECT_TRUE(OuiRefreshDue(std::nullopt, now));
    EXPECT_FALSE(OuiRefreshDue(now - 720 * 3600, now));
    EXPECT_FALSE(OuiRefreshDue(now - 721 * 3600 + 1, now));  // whole hours, truncated
    EXPECT_TRUE(OuiRefreshDue(now - 721 * 3600, now));
    EXPECT_FALSE(OuiRefreshDue(now + 3600, now));  // written "in the future": keep it

    for (const int64_t age : {720, 721}) {
        OuiRig rig;
        rig.http.answer = [](const HttpExchange&) {
            return Answered(200, "00:11:22\tNew Maker\n");
        };
        rig.WriteCache("00:11:22\tOld Maker\n", age);
        OuiDatabase db = rig.Database();
        db.Load();
        const bool refreshed = age == 721;
        EXPECT_EQ(db.GetVendor("00:11:22:33:44:55"), refreshed ? "New Maker" : "Old Maker");
        EXPECT_EQ(rig.ReadCache(), refreshed ? "00:11:22\tNew Maker\n" : "00:11:22\tOld Maker\n");
        ASSERT_EQ(rig.http.Sent().size(), refreshed ? 1u : 0u) << age;
        if (refreshed) {
            EXPECT_EQ(rig.http.Sent()[0].url, "https://lists.example/manuf");
        }
    }
}

TEST(OuiDatabase, FailedDownloadKeepsTheOldListAndFile) {
    struct Case {
        const char* name;
        std::function<HttpOutcome(const HttpExchange&)> answer;
        bool diskFull;
        const char* logged;
    };
    const Case cases[] = {
        {"server error", [](const HttpExchange&) { return Answered(503, "busy"); }, false,
         "[ERROR] OUI database download failed with status 503"},
        {"unreachable",
         [](const HttpExchange&) {
             HttpOutcome outcome;
             outcome.error = kHttpErrorNameNotResolved;
             return outcome;
         },
         false, "[ERROR] WinHttpSendRequest failed: 12007"},
        {"empty body", [](const HttpExchange&) { return Answered(200, ""); }, false,
         "[ERROR] OUI database response was empty"},
        {"not the list", [](const HttpExchange&) { return Answered(200, "<html>Sign in</html>"); },
         false, "[ERROR] OUI database response held no entries (1 lines)"},
        {"cut short",
         [](const HttpExchange&) {
             HttpOutcome outcome = Answered(200, "00:11:22\tNew Maker\n");
             outcome.bodyBytes = kOuiMaxDownloadBytes + 1;
             return outcome;
         },
         false, "[ERROR] OUI database response too large"},
        {"disk full", [](const HttpExchange&) { return Answered(200, "00:11:22\tNew Maker\n"); },
         true, "[ERROR] Failed to open cache file for writing: "},
    };
    for (const Case& c : cases) {
        OuiRig rig;
        rig.http.answer = c.answer;
        rig.files.fail = c.diskFull;
        rig.WriteCache("00:11:22\tOld Maker\n", 800);
        OuiDatabase db = rig.Database();
        db.Load();
        EXPECT_EQ(rig.log.Count(c.logged), 1) << c.name << "\n" << rig.log.Text();
        EXPECT_EQ(db.GetVendor("00:11:22:33:44:55"), "Old Maker") << c.name;
        EXPECT_EQ(rig.ReadCache(), "00:11:22\tOld Maker\n") << c.name;
        EXPECT_EQ(rig.http.Sent().size(), 1u) << c.name;
    }
}

TEST(OuiDatabase, FirstRunUsesTheSystemListUntilTheDownloadArrives) {
    OuiRig rig(sim::ThreadMode::Threaded);
    std::ofstream(rig.fallback) << kRegistryList;
    std::mutex mutex;
    std::condition_variable changed;
    bool release = false;
    rig.http.answer = [&](const HttpExchange&) {
        std::unique_lock lock(mutex);
        changed.wait(lock, [&] { return release; });
        return Answered(200, "# list\n00:11:22\tShort\tDownloaded Maker\n");
    };
    OuiDatabase db = rig.Database(true);
    db.Load();  // returns while the download hangs
    EXPECT_EQ(db.GetVendor("00-11-22-33-44-55"), "Fallback Maker");
    EXPECT_FALSE(db.StopDownload(std::chrono::milliseconds(20)));
    {
        std::lock_guard lock(mutex);
        release = true;
    }
    changed.notify_all();
    EXPECT_TRUE(db.StopDownload(std::chrono::seconds(10)));
    EXPECT_EQ(db.GetVendor("00-11-22-33-44-55"), "Downloaded Maker");
    EXPECT_EQ(db.LookupPrefix("001122"), "Downloaded Maker");
    EXPECT_EQ(rig.ReadCache(), "# list\n00:11:22\tShort\tDownloaded Maker\n");
    EXPECT_EQ(rig.log.Count("[INFO] OUI database parsed: 1 entries from 2 lines"), 1);
}

TEST(OuiDatabase, NothingLoadedRetriesFilesButNeverDownloadsTwice) {
    OuiRig rig;
    rig.http.answer = [](const HttpExchange&) { return Answered(404, "gone"); };
    OuiDatabase db = rig.Database(true);  // the fallback file does not exist
    db.Load();
    EXPECT_FALSE(db.Loaded());
    EXPECT_EQ(db.GetVendor("00:11:22:33:44:55"), "");
    EXPECT_EQ(db.GetVendor("00:11:22:33:44:55"), "");
    // Unchanged files are not read again, so the warning is not repeated either.
    EXPECT_EQ(rig.log.Count("[WARN] OUI database not available - lookups will return empty"), 1);

    std::ofstream(rig.fallback) << kRegistryList;
    EXPECT_EQ(db.GetVendor("00:11:22:33:44:55"), "Fallback Maker");
    EXPECT_TRUE(db.Loaded());
    EXPECT_EQ(rig.http.Sent().size(), 1u);
    EXPECT_TRUE(db.StopDownload(std::chrono::milliseconds(0)));
}

TEST(OuiDatabase, WithoutACacheFolderNothingIsReadOrFetched) {
    OuiRig rig;
    rig.system.SetAppFolder(AppFolder::Cache, "");
    std::ofstream(rig.fallback) << kRegistryList;
    OuiDatabase db = rig.Database(true);
    EXPECT_EQ(db.CachePath(), "");
    db.Load();
    EXPECT_EQ(db.GetVendor("02:11:22:33:44:55"), "Fallback Maker");
    EXPECT_TRUE(rig.http.Sent().empty());
}

}  // namespace
}  // namespace quillon
