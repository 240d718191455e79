#include "delegates/app_filter.h"

#include <gtest/gtest.h>

#include "server/zarvo_server.h"
#include "tests/support/debug_capture.h"

namespace pellvane::testing {
namespace {

wire::AppNameRecord named(std::string_view name, std::uint32_t processId = 1) {
    wire::AppNameRecord record;
    record.setName(name);
    record.processId = processId;
    return record;
}

class AppFilter : public ::testing::Test {
  protected:
    void setForeground(std::string_view name) {
        std::lock_guard guard(server.appFilterLock);
        server.foregroundApp = std::make_unique<wire::AppNameRecord>(named(name));
    }
    bool blocked() const { return server.keysBlocked.load() != 0; }

    ZarvoServer server{"Pellvane Test", "_kesp._tcp", ""};
};

TEST_F(AppFilter, NothingInFrontBlocksNothing) {
    const auto wanted = named("notepad");
    apps::applyWantedApp(server, &wanted);
    EXPECT_FALSE(blocked());
    EXPECT_EQ(server.wantedApp, wanted);
}

TEST_F(AppFilter, EmptyWantedNameBlocksOnceAnApplicationIsInFront) {
    setForeground("notepad");
    apps::reapplyWantedApp(server);
    EXPECT_TRUE(blocked());
}

TEST_F(AppFilter, NamesCompareExactly) {
    setForeground("notepad");
    const auto same = named("notepad", 555);  // process ids are not compared
    apps::applyWantedApp(server, &same);
    EXPECT_FALSE(blocked());
    for (const char* other : {"Notepad", "notepad.exe", "note", ""}) {
        const auto wanted = named(other);
        apps::applyWantedApp(server, &wanted);
        EXPECT_TRUE(blocked()) << other;
    }
}

TEST_F(AppFilter, GenericNeverBlocks) {
    setForeground("game");
    const auto generic = named("<generic>");
    apps::applyWantedApp(server, &generic);
    EXPECT_FALSE(blocked());
    setForeground("other");
    apps::reapplyWantedApp(server);
    EXPECT_FALSE(blocked());
}

TEST_F(AppFilter, NullWantedKeepsEverything) {
    setForeground("game");
    const auto wanted = named("other");
    apps::applyWantedApp(server, &wanted);
    ASSERT_TRUE(blocked());
    apps::applyWantedApp(server, nullptr);
    EXPECT_TRUE(blocked());
    EXPECT_EQ(server.wantedApp.nameView(), "other");
}

TEST_F(AppFilter, MessageSetsTheWantedNameAndTracesIt) {
    DebugCapture capture;
    setForeground("game");
    apps::handleWantedAppMessage(server, wire::buildAppName(named("game", 9)));
    EXPECT_FALSE(blocked());
    EXPECT_EQ(server.wantedApp.nameView(), "game");
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[0], "Received wanted appplication: ");
    EXPECT_EQ(lines[1], "game");
    EXPECT_EQ(lines[2], "\n");
    // The pad names it: on the terminal of --debug it must not forge lines.
    apps::handleWantedAppMessage(server, wire::buildAppName(named("x\r\x1b[2Jy", 9)));
    EXPECT_EQ(capture.lines().at(4), "x\\x0d\\x1b[2Jy");
}

TEST_F(AppFilter, ShortMessageIsIgnored) {
    DebugCapture capture;
    setForeground("game");
    const auto wanted = named("game");
    apps::applyWantedApp(server, &wanted);
    Message message = wire::buildAppName(named("other"));
    message.resize(wire::appNameSize - 1);
    apps::handleWantedAppMessage(server, message);
    apps::handleWantedAppMessage(server, Message(12, 0));
    EXPECT_EQ(server.wantedApp.nameView(), "game");
    EXPECT_FALSE(blocked());
    EXPECT_TRUE(capture.lines().empty());
}

TEST_F(AppFilter, NameWithoutNulIsTakenAs128CharactersAndNoMore) {
    DebugCapture capture;
    Message message = wire::buildAppName(named(""));
    std::fill(message.begin() + 12, message.begin() + 140, 'w');
    message.push_back('!');  // bytes past the record are not part of the name
    apps::handleWantedAppMessage(server, message);
    EXPECT_EQ(server.wantedApp.nameView(), std::string(128, 'w'));
    const auto lines = capture.lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_EQ(lines[1], std::string(128, 'w'));
    setForeground(std::string(127, 'w'));
    apps::reapplyWantedApp(server);
    EXPECT_TRUE(blocked());
}

}  // namespace
}  // namespace pellvane::testing
