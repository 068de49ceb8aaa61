#include "services/service_store.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "fakes/fake_service_ports.h"
#include "fakes/log_capture.h"
#include "fakes/native_path.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/virtual_clock.h"

namespace quillon {
namespace {

namespace fs = std::filesystem;

TEST(ServiceDefinitionFile, ReadRulesAndDefaults) {
    struct Case {
        const char* name;
        const char* text;
        bool parses;
        ServiceDefinition expected;
    };
    const Case cases[] = {
        {"minimal",
         R"({"id":"a","target":"1.1.1.1"})",
         true,
         {"a", "1.1.1.1", "1.1.1.1", ProbeType::Icmp, 0, 5000, true}},
        {"every member",
         R"( {"enabled":false,"id":"w","intervalMs":2500,"name":"Web","port":8443,"probeType":"https","target":"h"})",
         true,
         {"w", "Web", "h", ProbeType::Https, 8443, 2500, false}},
        {"interval with a fraction takes the default",
         R"({"id":"a","target":"h","intervalMs":2500.0})",
         true,
         {"a", "h", "h", ProbeType::Icmp, 0, 5000, true}},
        {"kinds are case-sensitive",
         R"({"id":"a","target":"h","probeType":"HTTPS"})",
         true,
         {"a", "h", "h", ProbeType::Icmp, 0, 5000, true}},
        {"wrong kinds take defaults",
         R"({"id":"a","target":"h","name":7,"port":"80","enabled":"no","probeType":3})",
         true,
         {"a", "h", "h", ProbeType::Icmp, 0, 5000, true}},
        {"ports and intervals are cut to 32 bits",
         R"({"id":"a","target":"h","port":-1,"intervalMs":4294967297})",
         true,
         {"a", "h", "h", ProbeType::Icmp, 4294967295u, 1, true}},
        {"id not a string", R"({"id":5,"target":"h"})", false, {}},
        {"no id", R"({"target":"h"})", false, {}},
        {"no target", R"({"id":"a"})", false, {}},
        {"array", "[]", false, {}},
        {"empty", "", false, {}},
        {"byte-order mark", "\xEF\xBB\xBF{\"id\":\"a\",\"target\":\"h\"}", false, {}},
        {"broken number", R"({"id":"a","target":"h","port":1e999999})", false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const auto parsed = ParseServiceDefinition(c.text);
        ASSERT_EQ(parsed.has_value(), c.parses);
        if (c.parses) {
            EXPECT_EQ(*parsed, c.expected);
        }
    }
}

TEST(ServiceDefinitionFile, WrittenFormRoundTrips) {
    ServiceDefinition d{"svc1", "Example", "example", ProbeType::Https, 0, 5000, true};
    EXPECT_EQ(
        SerializeServiceDefinition(d),
        R"({"enabled":true,"id":"svc1","intervalMs":5000,"name":"Example","port":0,"probeType":"https","target":"example"})");
    d.port = 4294967295u;
    d.name = "Caf\xC3\xA9 \"quoted\" \\ name";
    const std::string text = SerializeServiceDefinition(d);
    EXPECT_NE(text.find(R"("port":-1)"), std::string::npos);
    EXPECT_EQ(ParseServiceDefinition(text), d);

    EXPECT_EQ(ServiceFileName("a/b:c"), "a_b_c.json");
    EXPECT_EQ(ServiceFileName(std::string("x\"*<>?\\|\n\0y", 11)), "x_________y.json");
    EXPECT_EQ(ServiceFileName("café web"), "café web.json");
}

struct StoreRig {
    sim::SimSystem system;
    sim::VirtualClock clock;
    test::TestLog log{system, clock};
    test::FakeFiles files;
    std::string folder = system.Root() + "/config/services.d";
    ServiceStore store{folder, files};

    void WriteRaw(const std::string& name, const std::string& text) {
        fs::create_directories(folder);
        std::ofstream(folder + "/" + name, std::ios::binary) << text;
    }
};

TEST(ServiceStoreTest, SavesLoadsAndDeletes) {
    StoreRig rig;
    EXPECT_TRUE(rig.store.LoadServiceDefinitions().definitions.empty());

    const ServiceDefinition a{"a/b:c", "A", "1.1.1.1", ProbeType::Icmp, 0, 5000, true};
    const ServiceDefinition b{"b", "B", "example.com:443", ProbeType::Tcp, 0, 1000, false};
    ASSERT_TRUE(rig.store.SaveServiceDefinition(b));
    ASSERT_TRUE(rig.store.SaveServiceDefinition(a));
    EXPECT_TRUE(fs::exists(rig.folder + "/a_b_c.json"));
    EXPECT_EQ(rig.log.Count("[INFO] Saved service to " + rig.folder + test::Native("/b.json")), 1);

    // A malformed file is counted and skipped, and stays where it is; other files are ignored.
    rig.WriteRaw("broken.json", "{\"id\":");
    rig.WriteRaw("notes.txt", "{\"id\":\"n\",\"target\":\"h\"}");
    rig.WriteRaw("huge.json", std::string(2 << 20, ' ') + "{\"id\":\"h\",\"target\":\"h\"}");
    fs::create_directories(rig.folder + "/folder.json");
    const LoadedServices loaded = rig.store.LoadServiceDefinitions();
    ASSERT_EQ(loaded.definitions.size(), 2u);
    EXPECT_EQ(loaded.definitions[0], a);  // file-name order
    EXPECT_EQ(loaded.definitions[1], b);
    EXPECT_EQ(loaded.malformed, 2);
    EXPECT_TRUE(fs::exists(rig.folder + "/broken.json"));
    EXPECT_EQ(rig.log.Count("[WARN] Failed to parse service file: " + rig.folder +
                            test::Native("/broken.json")),
              1);
    EXPECT_EQ(rig.log.Count("[WARN] Skipped 2 malformed service files"), 1);

    EXPECT_TRUE(rig.store.DeleteServiceDefinition("a/b:c"));
    EXPECT_FALSE(fs::exists(rig.folder + "/a_b_c.json"));
    EXPECT_TRUE(rig.store.DeleteServiceDefinition("a/b:c"));  // already gone counts as done
    EXPECT_EQ(rig.log.Count("Failed to delete"), 0);
}

TEST(ServiceStoreTest, FailuresAreReportedNotHidden) {
    StoreRig rig;
    const ServiceDefinition d{"x", "X", "h", ProbeType::Icmp, 0, 5000, true};
    rig.files.fail = true;
    EXPECT_FALSE(rig.store.SaveServiceDefinition(d));
    EXPECT_EQ(rig.log.Count("[ERROR] Failed to open service file for writing: " + rig.folder +
                            test::Native("/x.json")),
              1);
    EXPECT_EQ(rig.log.Count("Saved service"), 0);

    // A file that cannot be removed (a non-empty folder in its place).
    fs::create_directories(rig.folder + "/x.json/inner");
    EXPECT_FALSE(rig.store.DeleteServiceDefinition("x"));
    EXPECT_EQ(rig.log.Count("[ERROR] Failed to delete service file: " + rig.folder +
                            test::Native("/x.json (error")),
              1);

    // No user folder at all.
    ServiceStore nowhere("", rig.files);
    EXPECT_FALSE(nowhere.SaveServiceDefinition(d));
    EXPECT_TRUE(nowhere.LoadServiceDefinitions().definitions.empty());
    EXPECT_EQ(rig.log.Count("[WARN] Could not determine services directory"), 1);

    // A file where the folder should be.
    fs::remove_all(rig.folder);
    std::ofstream(rig.folder) << "x";
    rig.files.fail = false;
    EXPECT_FALSE(rig.store.SaveServiceDefinition(d));
    EXPECT_EQ(rig.log.Count("[ERROR] Failed to create services directory: " + rig.folder), 1);
}

}  // namespace
}  // namespace quillon
