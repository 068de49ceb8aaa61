// Page commands: field extraction, error reports, the refresh command and unknown actions.
#include "ui/ui_dispatch.h"

#include <gtest/gtest.h>

#include "fakes/controller_rig.h"

namespace quillon::test {
namespace {

TEST(ExtractStringField, FindsTheFirstCompactStringValueAndDecodesIt) {
    EXPECT_EQ(ExtractStringField(R"({"action":"saveEndpoint","id":"x"})", "action"),
              "saveEndpoint");
    EXPECT_EQ(ExtractStringField(R"({"id":"a","id":"b"})", "id"), "a");
    EXPECT_EQ(ExtractStringField(R"({"id":""})", "id"), "");
    EXPECT_EQ(ExtractStringField(R"({"id": "a"})", "id"), "");  // blank after the colon
    EXPECT_EQ(ExtractStringField(R"({"id":7})", "id"), "");
    EXPECT_EQ(ExtractStringField(R"({"id":"open)", "id"), "");
    // Quotes, backslashes and \u escapes arrive intact.
    EXPECT_EQ(ExtractStringField(R"({"password":"pa\"s\\s"})", "password"), "pa\"s\\s");
    EXPECT_EQ(ExtractStringField(R"({"name":"Z\u00fcrich\n"})", "name"), "Z\xC3\xBCrich\n");
    EXPECT_EQ(ExtractStringField(R"({"id":"bad\uZZ"})", "id"), "");
    EXPECT_EQ(ExtractStringField(R"({"id":"ends\"})", "id"), "");  // never closed
    EXPECT_EQ(ExtractStringField(R"({"userid":"u","id":"i"})", "id"), "i");
}

class UiDispatch : public ::testing::Test {
protected:
    void SetUp() override {
        rig.Create();
        rig.shell.Advance(10000);  // primary and secondary paths known
        ASSERT_TRUE(rig.monitor.Discovery().PrimaryDone());
        rig.shell.PageReady();
        rig.shell.pagePosts.clear();  // the state the page got on opening
    }
    ControllerRig rig;
};

TEST_F(UiDispatch, JavaScriptErrorsAreLoggedAndNeverDispatched) {
    rig.shell.PageSays(
        R"({"type":"jsError","message":"x is undefined","context":"render","action":"triggerRefresh"})");
    EXPECT_EQ(rig.log.Count("[ERROR] JavaScript error [render]: x is undefined\r\n"), 1);
    EXPECT_TRUE(rig.monitor.Discovery().PrimaryDone());  // not refreshed
    EXPECT_TRUE(rig.shell.pagePosts.empty());

    rig.shell.PageSays(R"({"type":"jsError","message":"unclosed)");
    EXPECT_EQ(rig.log.Count("[ERROR] JavaScript error [unknown]: Unknown error\r\n"), 1);
    rig.shell.PageSays(R"({"type":"jsError","message":"","context":""})");
    EXPECT_EQ(rig.log.Count("[ERROR] JavaScript error []: \r\n"), 1);
}

TEST_F(UiDispatch, RefreshForgetsThePathAndPostsTheStateAtOnce) {
    rig.shell.PageSays(R"({"action":"triggerRefresh"})");
    EXPECT_FALSE(rig.monitor.Discovery().PrimaryDone());
    EXPECT_EQ(rig.monitor.Registry().NodeCount(), 0u);
    EXPECT_EQ(rig.shell.StatePosts(), 1);
    // Discovery starts over at the next tick.
    rig.shell.Advance(5000);
    EXPECT_TRUE(rig.monitor.Discovery().PrimaryDone());
}

TEST_F(UiDispatch, UnknownOrLooselyWrittenActionsOnlyLog) {
    const size_t nodes = rig.monitor.Registry().NodeCount();
    rig.shell.PageSays(R"({"action": "triggerRefresh"})");
    rig.shell.PageSays(R"({"action":"triggerrefresh"})");
    rig.shell.PageSays(R"({"action":"triggerRefreshNow"})");
    rig.shell.PageSays("not json at all");
    EXPECT_TRUE(rig.monitor.Discovery().PrimaryDone());
    EXPECT_EQ(rig.monitor.Registry().NodeCount(), nodes);
    EXPECT_TRUE(rig.shell.pagePosts.empty());
}

}  // namespace
}  // namespace quillon::test
