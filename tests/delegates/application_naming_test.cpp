#include <gtest/gtest.h>

#include "delegates/application_list.h"
#include "delegates/process_naming.h"
#include "tests/fakes/fake_desktop.h"
#include "tests/support/debug_capture.h"

namespace pellvane::testing {
namespace {

std::vector<std::string> namesOf(const wire::AppList& list) {
    std::vector<std::string> names;
    for (const auto& record : list.records) {
        names.emplace_back(record.nameView());
    }
    return names;
}

TEST(BaseName, EndsAtTheFirstDotAfterTheLastSeparator) {
    EXPECT_EQ(apps::baseNameOf("C:\\Games\\my.game.exe", '\\'), "my");
    EXPECT_EQ(apps::baseNameOf("C:\\Windows\\notepad.exe", '\\'), "notepad");
    EXPECT_EQ(apps::baseNameOf("C:\\dir.d\\tool", '\\'), "tool");
    EXPECT_EQ(apps::baseNameOf("C:\\x\\.hidden", '\\'), "");
    EXPECT_EQ(apps::baseNameOf("/usr/bin/sleep", '/'), "sleep");
    EXPECT_FALSE(apps::baseNameOf("notepad.exe", '\\').has_value());
    EXPECT_FALSE(apps::baseNameOf("/usr/bin/sleep", '\\').has_value());
}

TEST(NameProcess, FillsNameAndIdFromTheImagePath) {
    FakeDesktop desktop;
    desktop.addProcess(42, "C:\\Games\\my.game.exe");
    desktop.addProcess(43, "C:\\Users\\me\\.hidden");
    wire::AppNameRecord record;
    ASSERT_TRUE(apps::nameProcess(desktop, record, 42));
    EXPECT_EQ(record.nameView(), "my");
    EXPECT_EQ(record.processId, 42u);
    ASSERT_TRUE(apps::nameProcess(desktop, record, 43));
    EXPECT_EQ(record.nameView(), "");
    EXPECT_EQ(record.processId, 43u);
}

TEST(NameProcess, TriesTheThreePathQueriesInTurn) {
    FakeDesktop desktop;
    desktop.addProcess(1, FakeDesktop::ImagePaths{"", "\\Device\\HarddiskVolume2\\a\\second.exe",
                                                  "C:\\a\\third.exe"});
    desktop.addProcess(2, FakeDesktop::ImagePaths{"", "", "C:\\a\\third.exe"});
    desktop.addProcess(3, FakeDesktop::ImagePaths{"C:\\a\\first.exe", "", "C:\\a\\third.exe"});
    desktop.addProcess(4, FakeDesktop::ImagePaths{"", "", ""});
    wire::AppNameRecord record;
    ASSERT_TRUE(apps::nameProcess(desktop, record, 1));
    EXPECT_EQ(record.nameView(), "second");
    ASSERT_TRUE(apps::nameProcess(desktop, record, 2));
    EXPECT_EQ(record.nameView(), "third");
    ASSERT_TRUE(apps::nameProcess(desktop, record, 3));
    EXPECT_EQ(record.nameView(), "first");
    EXPECT_FALSE(apps::nameProcess(desktop, record, 4));
}

TEST(NameProcess, UnopenableProcessIsTracedAndLeavesTheRecordAlone) {
    DebugCapture capture;
    FakeDesktop desktop;
    desktop.addProcess(7, "C:\\a\\b.exe");
    desktop.setUnopenable(7);
    wire::AppNameRecord record;
    record.setName("before");
    record.processId = 99;
    EXPECT_FALSE(apps::nameProcess(desktop, record, 7));
    EXPECT_EQ(record.nameView(), "before");
    EXPECT_EQ(record.processId, 99u);
    EXPECT_EQ(capture.count("Could not open process!\n"), 1);
}

TEST(NameProcess, PathWithoutSeparatorOrTooLongIsHandledInsideTheBuffer) {
    FakeDesktop desktop;
    desktop.addProcess(5, "notepad.exe");
    // A path longer than the 128-character buffer is cut, never read past.
    desktop.addProcess(6, "C:\\" + std::string(200, 'x') + "\\long.exe");
    desktop.addProcess(8, "C:\\" + std::string(100, 'd') + "\\" + std::string(100, 'n'));
    wire::AppNameRecord record;
    EXPECT_FALSE(apps::nameProcess(desktop, record, 5));
    ASSERT_TRUE(apps::nameProcess(desktop, record, 6));
    EXPECT_EQ(record.nameView(), std::string(124, 'x'));
    ASSERT_TRUE(apps::nameProcess(desktop, record, 8));
    EXPECT_EQ(record.nameView(), std::string(127 - 104, 'n'));
}

TEST(OwnsTopLevelWindow, WalksEveryWindowUntilTheOwnerIsFound) {
    FakeDesktop desktop;
    desktop.addWindow(10);
    desktop.addWindow(11);
    desktop.addWindow(12);
    EXPECT_TRUE(apps::ownsTopLevelWindow(desktop, 12));
    EXPECT_FALSE(apps::ownsTopLevelWindow(desktop, 13));
    FakeDesktop empty;
    EXPECT_FALSE(apps::ownsTopLevelWindow(empty, 0));
}

class ApplicationList : public ::testing::Test {
  protected:
    void addApp(std::uint32_t processId, const std::string& path, int windows) {
        desktop.addProcess(processId, path);
        for (int i = 0; i < windows; ++i) {
            desktop.addWindow(processId);
        }
    }
    FakeDesktop desktop;
};

TEST_F(ApplicationList, ListsWindowOwnersInProcessOrderLikeThePerProcessWalk) {
    addApp(0, "C:\\idle", 1);  // id 0 is never listed
    addApp(400, "C:\\Windows\\explorer.exe", 3);
    addApp(404, "C:\\Windows\\svchost.exe", 0);
    addApp(12, "C:\\a\\notepad.exe", 1);
    addApp(13, "C:\\b\\notepad.exe", 1);  // same base name, its own record
    addApp(77, "C:\\c\\locked.exe", 1);
    desktop.setUnopenable(77);
    addApp(78, "noseparator.exe", 1);
    addApp(90, "C:\\d\\my.game.exe", 2);
    desktop.addWindow(999);  // a window whose process is not listed

    const auto single = apps::listApplications(desktop);
    const auto walked = apps::listApplicationsWalkingPerProcess(desktop);
    ASSERT_TRUE(single && walked);
    EXPECT_EQ(namesOf(*single), (std::vector<std::string>{"explorer", "notepad", "notepad", "my"}));
    EXPECT_EQ(single->records, walked->records);
    EXPECT_EQ(single->records[1].processId, 12u);
    EXPECT_EQ(single->records[2].processId, 13u);
}

TEST_F(ApplicationList, WalksTheWindowsOnceInsteadOfOncePerProcess) {
    for (std::uint32_t id = 1; id <= 50; ++id) {
        addApp(id, "C:\\p\\app" + std::to_string(id) + ".exe", id % 3 == 0 ? 2 : 0);
    }
    desktop.resetCounters();
    const auto single = apps::listApplications(desktop);
    const long long singleQueries = desktop.windowQueries();
    desktop.resetCounters();
    const auto walked = apps::listApplicationsWalkingPerProcess(desktop);
    const long long walkedQueries = desktop.windowQueries();
    ASSERT_TRUE(single && walked);
    EXPECT_EQ(single->records, walked->records);
    EXPECT_EQ(single->records.size(), 16u);
    // 32 windows: one topWindow, 32 nextWindow (the last finds none) and 32 owner queries.
    EXPECT_EQ(singleQueries, 1 + 32 + 32);
    EXPECT_GT(walkedQueries, 10 * singleQueries);
}

TEST_F(ApplicationList, FailedEnumerationGivesNoList) {
    addApp(1, "C:\\a.exe", 1);
    desktop.setEnumerationFails(true);
    EXPECT_EQ(apps::listApplications(desktop), nullptr);
}

TEST_F(ApplicationList, NoWindowsGiveAnEmptyList) {
    desktop.addProcess(1, "C:\\a\\a.exe");
    const auto list = apps::listApplications(desktop);
    ASSERT_TRUE(list);
    EXPECT_TRUE(list->records.empty());
}

TEST_F(ApplicationList, LooksAtNoMoreThan1024Processes) {
    for (std::uint32_t id = 1; id <= 1100; ++id) {
        addApp(id, "C:\\p\\app" + std::to_string(id) + ".exe", 1);
    }
    const auto list = apps::listApplications(desktop);
    ASSERT_TRUE(list);
    ASSERT_EQ(list->records.size(), 1024u);
    EXPECT_EQ(list->records.back().processId, 1024u);
}

}  // namespace
}  // namespace pellvane::testing
