// The controller-missing notice: once per loss of the controller, remembered in an empty
// file, never when the file cannot be written.
#include "shell/marker_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "tests/fakes/fake_dialogs.h"
#include "tests/shell/temporary_directory.h"
#include "tests/support/debug_capture.h"

namespace pellvane::testing {
namespace {

namespace fs = std::filesystem;

constexpr const char* notOpenedTrace = "Controller NOT OPENED!\n";
constexpr const char* missingText =
    "The Quib Controller virtual device was not found.\nIf this message appears it means the "
    "virtual device is not working correctly or was not installed correctly.\nQuib Server "
    "will still be able to work normally,\nbut it won't be able to reproduce joystick/gamepad "
    "events.";

class MarkerFileTest : public ::testing::Test {
  protected:
    void apply(bool controllerOpen) {
        shell::applyMarkerFileRule(controllerOpen, dialogs, directory.text());
    }
    fs::path marker() const { return directory.file(shell::markerFileName); }

    TemporaryDirectory directory;
    FakeDialogs dialogs;
    DebugCapture debugLines;
};

TEST_F(MarkerFileTest, FirstStartWithoutControllerTellsOnceAndLeavesAnEmptyMarker) {
    apply(false);

    ASSERT_EQ(dialogs.boxCount(), 1);
    const FakeDialogs::Box box = dialogs.boxes().front();
    EXPECT_EQ(box.text, missingText);
    EXPECT_EQ(box.caption, "Pellvane Server");
    EXPECT_EQ(box.style, dialogs::iconError);
    ASSERT_TRUE(fs::is_regular_file(marker()));
    EXPECT_EQ(fs::file_size(marker()), 0u);
    EXPECT_EQ(debugLines.count(notOpenedTrace), 1);
}

TEST_F(MarkerFileTest, LaterStartsWithoutControllerOnlyTrace) {
    apply(false);
    apply(false);
    apply(false);

    EXPECT_EQ(dialogs.boxCount(), 1);
    EXPECT_EQ(debugLines.count(notOpenedTrace), 3);
    EXPECT_TRUE(fs::exists(marker()));
}

TEST_F(MarkerFileTest, AMarkerWithContentStillCountsAsTold) {
    std::ofstream(marker()) << "left by someone";
    apply(false);
    EXPECT_EQ(dialogs.boxCount(), 0);
    EXPECT_TRUE(fs::exists(marker()));
}

TEST_F(MarkerFileTest, ControllerFoundRemovesTheMarkerSoThatALaterLossIsToldAgain) {
    apply(false);
    apply(true);
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_EQ(debugLines.count(notOpenedTrace), 1);

    apply(false);
    EXPECT_EQ(dialogs.boxCount(), 2);
    EXPECT_TRUE(fs::exists(marker()));
}

TEST_F(MarkerFileTest, ControllerFoundWithoutMarkerLeavesTheFolderAlone) {
    std::ofstream(directory.file("other.ini")) << "x";
    apply(true);
    EXPECT_EQ(dialogs.boxCount(), 0);
    EXPECT_FALSE(fs::exists(marker()));
    EXPECT_TRUE(fs::exists(directory.file("other.ini")));
    EXPECT_EQ(debugLines.count(notOpenedTrace), 0);
}

// The marker cannot be created (a folder that does not exist stands in for a read-only one,
// which root could write anyway): the notice would otherwise come at every start.
TEST_F(MarkerFileTest, UnwritableFolderMeansNoNotice) {
    const std::string missingFolder = (directory.path() / "no such folder").string();
    shell::applyMarkerFileRule(false, dialogs, missingFolder);
    shell::applyMarkerFileRule(false, dialogs, missingFolder);

    EXPECT_EQ(dialogs.boxCount(), 0);
    EXPECT_EQ(debugLines.count(notOpenedTrace), 2);
    EXPECT_FALSE(fs::exists(missingFolder));
}

}  // namespace
}  // namespace pellvane::testing
