// The key filter's rule, and a client's AppName reaching it.
#include "delegates/app_filter.h"

#include <gtest/gtest.h>

#include "server/wire_building.h"
#include "server/zarvo_server.h"
#include "tests/delegates/delegate_test_support.h"
#include "tests/support/debug_capture.h"
#include "tests/support/test_client.h"

namespace pellvane::testing {
namespace {

class AppFilter : public ::testing::Test {
  protected:
    void setForeground(std::string_view name) { filter.replaceForegroundApp(named(name)); }
    void want(std::string_view name) {
        const auto wanted = named(name);
        filter.applyWantedApp(&wanted);
    }
    bool blocked() const { return server.keyFilter().keysBlocked(); }

    ZarvoServer server{"Pellvane Test", "_kesp._tcp", ""};
    KeyFilter& filter = server.keyFilter();
};

TEST_F(AppFilter, NothingInFrontBlocksNothing) {
    want("notepad");
    EXPECT_FALSE(blocked());
    EXPECT_EQ(filter.wantedApp(), named("notepad"));
}

TEST_F(AppFilter, EmptyWantedNameBlocksOnceAnApplicationIsInFront) {
    setForeground("notepad");
    EXPECT_FALSE(blocked());  // the rule is applied when asked, not on replacement
    filter.reapplyWantedApp();
    EXPECT_TRUE(blocked());
}

TEST_F(AppFilter, NamesCompareExactly) {
    setForeground("notepad");
    const auto same = named("notepad", 555);  // process ids are not compared
    filter.applyWantedApp(&same);
    EXPECT_FALSE(blocked());
    for (const char* other : {"Notepad", "notepad.exe", "note", ""}) {
        want(other);
        EXPECT_TRUE(blocked()) << other;
    }
}

TEST_F(AppFilter, GenericNeverBlocks) {
    setForeground("game");
    want("<generic>");
    EXPECT_FALSE(blocked());
    setForeground("other");
    filter.reapplyWantedApp();
    EXPECT_FALSE(blocked());
}

TEST_F(AppFilter, NullWantedKeepsEverythingAndTheSameNameIsNoChange) {
    setForeground("game");
    want("other");
    ASSERT_TRUE(blocked());
    filter.applyWantedApp(nullptr);
    EXPECT_TRUE(blocked());
    EXPECT_EQ(filter.wantedApp().nameView(), "other");
    EXPECT_FALSE(filter.replaceForegroundApp(named("game", 99)));
    EXPECT_EQ(filter.foregroundApp(), named("game"));
}

TEST_F(AppFilter, MessageSetsTheWantedNameAndTracesIt) {
    DebugCapture capture;
    setForeground("game");
    apps::handleWantedAppMessage(server, received(wire::buildAppName(named("game", 9))));
    EXPECT_FALSE(blocked());
    EXPECT_EQ(filter.wantedApp().nameView(), "game");
    EXPECT_EQ(capture.lines(),
              (std::vector<std::string>{"Received wanted appplication: ", "game", "\n"}));
    // The pad names it: on the terminal of --debug it must not forge lines.
    apps::handleWantedAppMessage(server, received(wire::buildAppName(named("x\r\x1b[2Jy", 9))));
    EXPECT_EQ(capture.lines().at(4), "x\\x0d\\x1b[2Jy");
}

TEST_F(AppFilter, ShortMessageIsIgnored) {
    DebugCapture capture;
    setForeground("game");
    want("game");
    Message message = wire::buildAppName(named("other"));
    message.pop_back();
    apps::handleWantedAppMessage(server, received(message));
    EXPECT_EQ(filter.wantedApp().nameView(), "game");
    EXPECT_FALSE(blocked());
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(AppFilter, NameWithoutNulIsTakenAs128CharactersAndNoMore) {
    DebugCapture capture;
    wire::AppNameRecord full;
    full.name.fill('w');
    Message message = wire::buildAppName(full);
    message.push_back('!');  // bytes past the record are not part of the name
    apps::handleWantedAppMessage(server, received(message));
    EXPECT_EQ(filter.wantedApp().nameView(), std::string(128, 'w'));
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], std::string(128, 'w'));
    setForeground(std::string(127, 'w'));
    filter.reapplyWantedApp();
    EXPECT_TRUE(blocked());
}

}  // namespace
}  // namespace pellvane::testing
