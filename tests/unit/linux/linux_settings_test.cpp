#include "platform/linux/linux_settings.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <thread>

#include "fakes/file_text.h"
#include "fakes/temp_dir.h"
#include "platform/linux/linux_autostart.h"

namespace quillon::lnx {
namespace {

namespace fs = std::filesystem;

using test::ReadFileText;

SettingValue Text(std::string s, SettingType type = SettingType::String) {
    SettingValue v;
    v.type = type;
    v.text = std::move(s);
    return v;
}

SettingValue Dword(uint32_t d) {
    SettingValue v;
    v.type = SettingType::Dword;
    v.dword = d;
    return v;
}

SettingValue Bytes(std::vector<uint8_t> b) {
    SettingValue v;
    v.type = SettingType::Binary;
    v.bytes = std::move(b);
    return v;
}

TEST(LinuxSettingsCodec, EveryTypeRoundTripsAndDamagedTextsAreRejected) {
    SettingMap values{{"ClientId", Text("ä \"quoted\"\n")},
                      {"Path", Text("%HOME%/x", SettingType::ExpandableString)},
                      {"Blob", Bytes({0, 1, 255})},
                      {"Count", Dword(0xFFFFFFFFu)}};
    const std::string text = EncodeSettings(values);
    const auto back = DecodeSettings(text);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 4u);
    EXPECT_EQ(back->at("ClientId").text, "ä \"quoted\"\n");
    EXPECT_EQ(back->at("Path").type, SettingType::ExpandableString);
    EXPECT_EQ(back->at("Blob").bytes, (std::vector<uint8_t>{0, 1, 255}));
    EXPECT_EQ(back->at("Count").dword, 0xFFFFFFFFu);

    EXPECT_TRUE(DecodeSettings("{ \"values\" : {\n} }\n")) << "whitespace between tokens";
    // Every cut of the text is damage, never a shorter list of values.
    for (size_t n = 0; n + 1 < text.size(); ++n) {
        EXPECT_FALSE(DecodeSettings(text.substr(0, n))) << n;
    }
    EXPECT_FALSE(DecodeSettings(text + "x"));
    EXPECT_FALSE(DecodeSettings(R"({"values":{"a":{"type":"qword","value":1}}})"));
    EXPECT_FALSE(DecodeSettings(R"({"values":{"a":{"type":"dword","value":-1}}})"));
    EXPECT_FALSE(DecodeSettings(R"({"values":{"a":{"type":"binary","value":"%%%%"}}})"));
    EXPECT_FALSE(DecodeSettings(R"({"values":{"a":{"type":"string","value":1}}})"));
    EXPECT_FALSE(DecodeSettings(R"({"values":[]})"));
    EXPECT_FALSE(DecodeSettings(R"({"values":{},"other":1})"));
    EXPECT_FALSE(DecodeSettings(R"({"values":{"a":{"type":"dword","value":1e999999}}})"));
}

TEST(LinuxSettings, WritesReadBackAcrossInstancesAndRemoveDeletes) {
    test::TempDir dir;
    const fs::path folder = dir.path() / "config" / "quillon";
    {
        LinuxSettings settings(folder.string());
        EXPECT_FALSE(settings.Read("ClientId"));
        EXPECT_TRUE(settings.Remove("ClientId")) << "absent counts as removed";
        ASSERT_TRUE(settings.Write("ClientId", Text("abc")));
        ASSERT_TRUE(settings.Write("Blob", Bytes({9, 8, 7})));
        ASSERT_TRUE(settings.Write("ClientId", Text("def")));
    }
    LinuxSettings again(folder.string());
    ASSERT_TRUE(again.Read("ClientId"));
    EXPECT_EQ(again.Read("ClientId")->text, "def");
    EXPECT_EQ(again.Read("Blob")->bytes, (std::vector<uint8_t>{9, 8, 7}));
    ASSERT_TRUE(again.Remove("Blob"));
    EXPECT_FALSE(again.Read("Blob"));
    EXPECT_TRUE(again.Read("ClientId"));
    // Only the file itself is left: no temporary files.
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator(folder)) names.push_back(e.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"settings.json"});
    EXPECT_EQ((fs::status(again.FilePath()).permissions() & fs::perms::others_read),
              fs::perms::none);
}

TEST(LinuxSettings, DamagedFileIsKeptAsideAndAFreshOneStarts) {
    test::TempDir dir;
    LinuxSettings settings(dir.path().string());
    ASSERT_TRUE(settings.Write("A", Dword(1)));
    const std::string good = ReadFileText(settings.FilePath());
    std::ofstream(settings.FilePath(), std::ios::trunc) << good.substr(0, good.size() / 2);

    EXPECT_FALSE(settings.Read("A"));
    int aside = 0;
    for (const auto& e : fs::directory_iterator(dir.path())) {
        const std::string name = e.path().filename();
        if (name.rfind("settings.json.corrupt-", 0) == 0) {
            ++aside;
            EXPECT_EQ(ReadFileText(e.path()), good.substr(0, good.size() / 2));
        }
    }
    EXPECT_EQ(aside, 1);
    EXPECT_FALSE(fs::exists(settings.FilePath()));
    ASSERT_TRUE(settings.Write("B", Dword(2)));
    EXPECT_EQ(settings.Read("B")->dword, 2u);
    EXPECT_FALSE(settings.Read("A"));
}

// "v<t>_<i>", built by appending (GCC 12 reports a false -Wrestrict for "v" + string at -O3).
std::string ValueName(int t, int i) {
    std::string name = "v";
    name += std::to_string(t);
    name += '_';
    name += std::to_string(i);
    return name;
}

TEST(LinuxSettings, ConcurrentWritersLoseNoValue) {
    test::TempDir dir;
    LinuxSettings settings(dir.path().string());
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&settings, t] {
            for (int i = 0; i < 10; ++i) {
                settings.Write(ValueName(t, i), Dword(t * 100 + i));
            }
        });
    }
    for (auto& th : threads) th.join();
    for (int t = 0; t < 4; ++t) {
        for (int i = 0; i < 10; ++i) {
            const auto v = settings.Read(ValueName(t, i));
            ASSERT_TRUE(v);
            EXPECT_EQ(v->dword, static_cast<uint32_t>(t * 100 + i));
        }
    }
}

TEST(LinuxAutostart, CommandLinesSurviveTheDesktopEntryEscaping) {
    for (const std::string& line : {std::string("\"/usr/bin/quillon\" --minimized"),
                                    std::string("\"/home/ann/My Apps/quillon\" --minimized"),
                                    std::string("\"/opt/a$b`c\\d/100%/q'x\" --minimized"),
                                    std::string("\"/opt/tab\there/quillon\"")}) {
        const auto args = SplitCommandLine(line);
        const std::string exec = DesktopExec(args);
        EXPECT_EQ(exec.find('\n'), std::string::npos);
        const auto back = ParseDesktopExec(exec);
        ASSERT_TRUE(back) << exec;
        EXPECT_EQ(*back, args) << exec;
        EXPECT_EQ(JoinCommandLine(*back), line);
    }
    EXPECT_EQ(DesktopExec({"/usr/bin/quillon", "--minimized"}), "/usr/bin/quillon --minimized");
    EXPECT_EQ(DesktopExec({"/a b/q"}), "\"/a b/q\"");
    EXPECT_EQ(DesktopExec({"/a\\b"}), "\"/a\\\\\\\\b\"") << "quoted, then escaped as a value";
    EXPECT_FALSE(ParseDesktopExec("\"/unterminated --minimized"));
    EXPECT_EQ(DesktopEntryExec("[Other]\nExec=no\n[Desktop Entry]\nName=Q\nExec = /x -y \n"),
              "/x -y");
    EXPECT_FALSE(DesktopEntryExec("[Desktop Entry]\nName=Q\n"));
}

TEST(LinuxAutostart, EntryIsWrittenReadAndRemoved) {
    test::TempDir dir;
    LinuxAutostart autostart(dir.path().string());
    EXPECT_FALSE(autostart.Read());
    const std::string line = "\"/home/ann/My Apps/quillon\" --minimized";
    ASSERT_TRUE(autostart.Write(line));
    EXPECT_EQ(autostart.EntryPath(), (dir.path() / "autostart" / "quillon.desktop").string());
    const std::string text = ReadFileText(autostart.EntryPath());
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u);
    EXPECT_NE(text.find("\nExec=\"/home/ann/My Apps/quillon\" --minimized\n"), std::string::npos);
    EXPECT_EQ(autostart.Read(), line);
    ASSERT_TRUE(autostart.Write("\"/usr/bin/quillon\" --minimized"));
    EXPECT_EQ(autostart.Read(), "\"/usr/bin/quillon\" --minimized");
    EXPECT_TRUE(autostart.Remove());
    EXPECT_FALSE(autostart.Read());
    EXPECT_TRUE(autostart.Remove()) << "nothing left to remove";
    EXPECT_FALSE(LinuxAutostart("").Write(line));
}

}  // namespace
}  // namespace quillon::lnx
