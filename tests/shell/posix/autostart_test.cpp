#include "shell/posix/autostart.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "tests/shell/temporary_directory.h"
#include "tests/support/environment.h"

namespace pellvane::testing {
namespace {

namespace fs = std::filesystem;

std::string contentOf(const fs::path& path) {
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    return content.str();
}

mode_t modeOf(const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(::stat(path.c_str(), &status), 0) << path;
    return status.st_mode & 07777;
}

TEST(AutostartTest, FileFollowsTheXdgConfigFolderRules) {
    ScopedEnvironment home("HOME", "/home/someone");
    {
        ScopedEnvironment config("XDG_CONFIG_HOME", "/elsewhere/config");
        EXPECT_EQ(shell::autostartFilePath(),
                  fs::path("/elsewhere/config/autostart/pellvane-server.desktop"));
    }
    for (const char* ignored : {static_cast<const char*>(nullptr), "", "relative/config"}) {
        ScopedEnvironment config("XDG_CONFIG_HOME", ignored);
        EXPECT_EQ(shell::autostartFilePath(),
                  fs::path("/home/someone/.config/autostart/pellvane-server.desktop"));
    }
    ScopedEnvironment config("XDG_CONFIG_HOME", nullptr);
    ScopedEnvironment noHome("HOME", nullptr);
    EXPECT_FALSE(shell::autostartFilePath());
    EXPECT_FALSE(shell::enableAutostart().empty());
    EXPECT_FALSE(shell::autostartEnabled());
}

TEST(AutostartTest, EnableWritesTheEntryAndDisableRemovesIt) {
    TemporaryDirectory folder;
    const fs::path config = folder.path() / "new" / "config";
    ScopedEnvironment variable("XDG_CONFIG_HOME", config.c_str());
    const fs::path entry = config / "autostart" / "pellvane-server.desktop";
    EXPECT_FALSE(shell::autostartEnabled());

    ASSERT_EQ(shell::enableAutostart(), "");
    EXPECT_TRUE(shell::autostartEnabled());
    const std::string text = contentOf(entry);
    EXPECT_EQ(text.rfind("[Desktop Entry]\n", 0), 0u) << text;
    for (const char* line :
         {"\nType=Application\n", "\nName=Pellvane Server\n", "\nIcon=pellvane-server\n",
          "\nTerminal=false\n", "\nX-GNOME-Autostart-enabled=true\n", "\nComment="}) {
        EXPECT_NE(text.find(line), std::string::npos) << line;
    }
    // The running program, by its absolute path.
    const std::string exec = "\nExec=" + fs::read_symlink("/proc/self/exe").string() + "\n";
    EXPECT_NE(text.find(exec), std::string::npos) << text;
    EXPECT_EQ(modeOf(config), 0700u);
    EXPECT_EQ(modeOf(entry), 0644u);
    // Only the entry: the temporary file was renamed, not left behind.
    EXPECT_EQ(std::distance(fs::directory_iterator(entry.parent_path()), {}), 1);

    // An entry the user hid is off, and enabling again replaces it.
    std::ofstream(entry) << "[Desktop Entry]\nType=Application\nHidden = true\n";
    EXPECT_FALSE(shell::autostartEnabled());
    ASSERT_EQ(shell::enableAutostartFor("/opt/pellvane/pellvane-server"), "");
    EXPECT_TRUE(shell::autostartEnabled());
    EXPECT_NE(contentOf(entry).find("\nExec=/opt/pellvane/pellvane-server\n"), std::string::npos);

    EXPECT_EQ(shell::disableAutostart(), "");
    EXPECT_FALSE(fs::exists(entry));
    EXPECT_FALSE(shell::autostartEnabled());
    EXPECT_EQ(shell::disableAutostart(), "") << "a missing entry is already off";
}

TEST(AutostartTest, ExecQuotesReservedCharactersAndEscapesTwice) {
    EXPECT_EQ(shell::desktopExecValue("/usr/bin/pellvane-server"), "/usr/bin/pellvane-server");
    // Quoted for the space; the quote's backslash is itself escaped by the string type.
    EXPECT_EQ(shell::desktopExecValue("/opt/My Apps/pell\"vane"), R"("/opt/My Apps/pell\\"vane")");
    EXPECT_EQ(shell::desktopExecValue("/opt/a\\b"), R"("/opt/a\\\\b")");
    EXPECT_EQ(shell::desktopExecValue("/opt/$x`y"), R"("/opt/\\$x\\`y")");
    EXPECT_EQ(shell::desktopExecValue("/opt/100%/p"), "/opt/100%%/p");
    EXPECT_EQ(shell::desktopExecValue("/opt/l\xC3\xA9vane/p"), "/opt/l\xC3\xA9vane/p");
    for (const char* unwritable : {"/opt/\xFF/p", "/opt/\xC3", "/opt/\x01/p", "/opt/\xC0\xAF"}) {
        EXPECT_FALSE(shell::desktopExecValue(unwritable)) << unwritable;
        EXPECT_FALSE(shell::enableAutostartFor(unwritable).empty());
    }
}

TEST(AutostartTest, TheWrittenEntryPassesTheDesktopEntryCheck) {
#ifndef PELLVANE_DESKTOP_FILE_VALIDATE
    GTEST_SKIP() << "desktop-file-validate is not installed (desktop-file-utils)";
#else
    TemporaryDirectory folder;
    ScopedEnvironment variable("XDG_CONFIG_HOME", folder.path().c_str());
    ASSERT_EQ(shell::enableAutostartFor("/opt/My \"Apps\"/50% $off/pellvane-server"), "");
    const std::string command = std::string(PELLVANE_DESKTOP_FILE_VALIDATE) + " '" +
                                shell::autostartFilePath()->string() + "' 2>&1";
    std::string said;
    std::FILE* checker = ::popen(command.c_str(), "r");
    ASSERT_NE(checker, nullptr);
    for (int c; (c = std::fgetc(checker)) != EOF;) {
        said += static_cast<char>(c);
    }
    EXPECT_EQ(::pclose(checker), 0) << said;
    EXPECT_EQ(said, "");
#endif
}

TEST(AutostartTest, FailuresAreReported) {
    TemporaryDirectory folder;
    // A plain file where a folder has to be: no permission bits help, not even root's.
    std::ofstream(folder.file("file")) << "x";
    {
        ScopedEnvironment variable("XDG_CONFIG_HOME", (folder.text() + "/file/config").c_str());
        EXPECT_NE(shell::enableAutostartFor("/usr/bin/pellvane-server"), "");
        EXPECT_FALSE(shell::autostartEnabled());
    }
    ScopedEnvironment variable("XDG_CONFIG_HOME", folder.path().c_str());
    EXPECT_NE(shell::enableAutostartFor("relative/pellvane-server"), "");
    if (::geteuid() != 0) {
        fs::create_directory(folder.path() / "autostart");
        fs::permissions(folder.path() / "autostart", fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_NE(shell::enableAutostartFor("/usr/bin/pellvane-server"), "");
        fs::permissions(folder.path() / "autostart", fs::perms::owner_all);
    }
    // Something that cannot be removed is not reported as removed.
    fs::create_directories(folder.path() / "autostart" / "pellvane-server.desktop" / "inside");
    EXPECT_NE(shell::disableAutostart(), "");
    EXPECT_NE(shell::enableAutostartFor("/usr/bin/pellvane-server"), "");
}

}  // namespace
}  // namespace pellvane::testing
