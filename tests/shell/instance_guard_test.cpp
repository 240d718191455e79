// One copy of the program at a time, per name; the lock goes with its holder.
#include "platform/instance_guard.h"

#include <gtest/gtest.h>

#include <string>

#include "shell/single_instance.h"
#include "tests/fakes/fake_dialogs.h"

namespace pellvane::testing {
namespace {

// A name of its own, so that a running program (or a parallel run) does not interfere.
std::string uniqueGuardName(const char* purpose) {
    return std::string("PellvaneShellTest-") + purpose + "-" +
           std::to_string(reinterpret_cast<std::uintptr_t>(&uniqueGuardName) % 100000) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

TEST(InstanceGuardTest, SecondGuardIsRefusedWhileTheFirstIsHeld) {
    const std::string name = uniqueGuardName("held");
    platform::InstanceGuard first(name.c_str());
    ASSERT_TRUE(first.held());
    EXPECT_FALSE(first.heldElsewhere());

    platform::InstanceGuard second(name.c_str());
    EXPECT_TRUE(second.heldElsewhere());
    EXPECT_FALSE(second.held());
    // A refused guard takes nothing away from the holder.
    platform::InstanceGuard third(name.c_str());
    EXPECT_TRUE(third.heldElsewhere());
}

TEST(InstanceGuardTest, ReleasedWhenTheHolderCloses) {
    const std::string name = uniqueGuardName("released");
    {
        platform::InstanceGuard first(name.c_str());
        ASSERT_TRUE(first.held());
    }
    platform::InstanceGuard next(name.c_str());
    EXPECT_TRUE(next.held());
    EXPECT_FALSE(next.heldElsewhere());
}

TEST(InstanceGuardTest, DifferentNamesDoNotMeet) {
    platform::InstanceGuard first(uniqueGuardName("one").c_str());
    platform::InstanceGuard second(uniqueGuardName("two").c_str());
    EXPECT_TRUE(first.held());
    EXPECT_TRUE(second.held());
}

TEST(SingleInstanceTest, SecondStartTellsTheUserAndGetsNoGuard) {
    const std::string name = uniqueGuardName("claim");
    FakeDialogs dialogs;
    const auto first = shell::claimSingleInstance(dialogs, name.c_str());
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(dialogs.boxCount(), 0);

    const auto second = shell::claimSingleInstance(dialogs, name.c_str());
    EXPECT_EQ(second, nullptr);
    ASSERT_EQ(dialogs.boxCount(), 1);
    const FakeDialogs::Box box = dialogs.boxes().front();
    EXPECT_EQ(box.text, "An instance of Pellvane Server is already running.");
    EXPECT_EQ(box.caption, "Pellvane Server");
    EXPECT_EQ(box.style, dialogs::iconError);
    // The first copy runs on untouched.
    EXPECT_TRUE(first->held());
}

}  // namespace
}  // namespace pellvane::testing
