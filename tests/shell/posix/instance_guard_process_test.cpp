// The POSIX guard between processes: held by a living process, free again the moment that
// process dies (even by SIGKILL), and never fooled into following a planted file.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/instance_guard.h"
#include "tests/shell/temporary_directory.h"
#include "tests/support/environment.h"

namespace pellvane::testing {
namespace {

namespace fs = std::filesystem;

std::string guardName() {
    return std::string("PellvaneGuardTest-") + std::to_string(::getpid()) + "-" +
           ::testing::UnitTest::GetInstance()->current_test_info()->name();
}

class InstanceGuardProcessTest : public ::testing::Test {
  protected:
    TemporaryDirectory runtimeDir;
    ScopedEnvironment runtimeVariable{"XDG_RUNTIME_DIR", runtimeDir.text().c_str()};
};

TEST_F(InstanceGuardProcessTest, HeldByAnotherProcessUntilItIsKilled) {
    const std::string name = guardName();
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        platform::InstanceGuard guard(name.c_str());
        const char answer = guard.held() ? 'y' : 'n';
        [[maybe_unused]] const ssize_t written = ::write(ready[1], &answer, 1);
        ::pause();
        ::_exit(0);
    }
    ::close(ready[1]);
    char answer = 0;
    ASSERT_EQ(::read(ready[0], &answer, 1), 1);
    ::close(ready[0]);
    EXPECT_EQ(answer, 'y');

    {
        platform::InstanceGuard second(name.c_str());
        EXPECT_TRUE(second.heldElsewhere());
    }

    ::kill(child, SIGKILL);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    platform::InstanceGuard after(name.c_str());
    EXPECT_TRUE(after.held());
}

TEST_F(InstanceGuardProcessTest, LockFileLivesInTheRuntimeFolder) {
    const std::string name = guardName();
    platform::InstanceGuard guard(name.c_str());
    ASSERT_TRUE(guard.held());
    EXPECT_TRUE(fs::is_regular_file(runtimeDir.file((name + ".lock").c_str())));
}

TEST_F(InstanceGuardProcessTest, WithoutARuntimeFolderTheUsersFileInTmpIsUsed) {
    const std::string name = guardName();
    clearEnvironment("XDG_RUNTIME_DIR");
    const fs::path expected =
        fs::path("/tmp") / (name + "-" + std::to_string(::getuid()) + ".lock");
    {
        platform::InstanceGuard guard(name.c_str());
        ASSERT_TRUE(guard.held());
        EXPECT_TRUE(fs::is_regular_file(expected));
        platform::InstanceGuard second(name.c_str());
        EXPECT_TRUE(second.heldElsewhere());
    }
    fs::remove(expected);
}

TEST_F(InstanceGuardProcessTest, APlantedSymlinkIsNotFollowed) {
    const std::string name = guardName();
    const fs::path target = runtimeDir.file("elsewhere");
    fs::create_symlink(target, runtimeDir.file((name + ".lock").c_str()));

    platform::InstanceGuard guard(name.c_str());
    // Unguarded rather than refused: the planted link says nothing about a second copy.
    EXPECT_FALSE(guard.held());
    EXPECT_FALSE(guard.heldElsewhere());
    EXPECT_FALSE(fs::exists(target));
}

TEST_F(InstanceGuardProcessTest, AnotherUsersFileIsNotTakenAsTheLock) {
    if (::getuid() != 0) {
        GTEST_SKIP() << "needs root to give the file away";
    }
    const std::string name = guardName();
    const fs::path lockFile = runtimeDir.file((name + ".lock").c_str());
    std::ofstream(lockFile).close();
    ASSERT_EQ(::chown(lockFile.c_str(), 65534, 65534), 0);

    platform::InstanceGuard guard(name.c_str());
    EXPECT_FALSE(guard.held());
    EXPECT_FALSE(guard.heldElsewhere());
}

}  // namespace
}  // namespace pellvane::testing
