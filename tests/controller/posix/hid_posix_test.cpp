#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>

#include "controller/controller_discovery.h"
#include "controller/virtual_controller.h"
#include "platform/hid.h"
#include "platform/posix/hidraw_presence.h"
#include "tests/controller/gamepad_message.h"
#include "tests/controller/posix/fake_hid_tree.h"
#include "tests/support/debug_capture.h"

namespace pellvane {
namespace {

using testing::DebugCapture;
using testing::FakeHidTree;
using testing::hidIdLine;
using testing::singleCollectionDescriptor;

std::string keyboardUevent() {
    return hidIdLine(0x046D, 0xC31C) + "\n";
}

std::vector<std::uint8_t> keyboardDescriptor() {
    return singleCollectionDescriptor(0x01, 0x06);
}

std::string captureStdout(const std::function<void()>& action) {
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
}

// Which node a handle is: the search opens it, and a report written through it shows up
// in that node's file.
std::string nodeOf(FakeHidTree& tree, platform::HidHandle handle,
                   const std::vector<std::string>& nodes) {
    const std::uint8_t marker[3] = {0xAB, 0xCD, 0xEF};
    if (!platform::systemHid().writeReport(handle, marker)) {
        return "unwritable";
    }
    for (const auto& node : nodes) {
        if (tree.written(node).size() == 3) {
            return node;
        }
    }
    return "none";
}

TEST(LinuxHid, ControllerOpensAndItsReportFileReceivesExactlyTheReports) {
    FakeHidTree tree;
    tree.addNode("hidraw0", keyboardUevent(), keyboardDescriptor());
    tree.addControllerNode("hidraw1", 2);
    tree.addControllerNode("hidraw2", 1);

    VirtualController controller(platform::systemHid());
    DebugCapture capture;
    ASSERT_EQ(controller.openController(), 1);
    EXPECT_TRUE(capture.contains("QuibController Opened!\n"));
    controller.handleGamepadEvent(testing::axesEvent({{0, 1.0f}, {1, 0.0f}}));
    controller.handleGamepadEvent(testing::buttonEvent(19, 1.0f));
    controller.handleGamepadEvent(testing::buttonEvent(20, 1.0f));  // rejected: no report
    controller.closeController();

    std::vector<std::uint8_t> expected;
    std::array<std::uint8_t, 65> report{0x40, 0x12, 0x02};
    for (std::size_t i = 3; i < 17; ++i) {
        report[i] = 0x7F;
    }
    report[17] = 0x08;
    expected.insert(expected.end(), report.begin(), report.end());
    report[3 + 7] = 0xFF;
    report[3 + 0] = 0x00;
    expected.insert(expected.end(), report.begin(), report.end());
    report[19] = 0x80;
    expected.insert(expected.end(), report.begin(), report.end());
    // Closing lets go of what was held: the rest position once more.
    expected.insert(expected.end(), expected.begin(), expected.begin() + 65);

    EXPECT_EQ(tree.written("hidraw2"), expected);
    EXPECT_TRUE(tree.written("hidraw1").empty());
    EXPECT_TRUE(tree.written("hidraw0").empty());
}

TEST(LinuxHid, TheScriptBuildsATreeTheControllerOpens) {
    FakeHidTree tree;
    const std::string command =
        std::string(PELLVANE_FAKE_HID_TREE_SCRIPT) + " " + tree.root() + " > /dev/null";
    ASSERT_EQ(std::system(command.c_str()), 0);
    VirtualController controller(platform::systemHid());
    ASSERT_EQ(controller.openController(), 1);
    controller.handleGamepadEvent(testing::buttonEvent(0, 1.0f));
    controller.closeController();
    const auto written = tree.written("hidraw0");
    ASSERT_EQ(written.size(), 195u);  // rest, the button, rest again at the close
    EXPECT_EQ(written[65 + 17], 0x18);
    EXPECT_EQ(written[130 + 17], 0x08);
    EXPECT_TRUE(tree.written("hidraw1").empty());
}

TEST(LinuxHid, NodesAreSearchedInNumberOrderAndOtherEntriesIgnored) {
    FakeHidTree tree;
    tree.addControllerNode("hidraw10", 1);
    tree.addControllerNode("hidraw9", 1);
    tree.addControllerNode("hidrawX", 1);
    tree.addControllerNode("hidraw", 1);
    std::filesystem::create_directories(tree.sysfsRoot() + "/class/hidraw/stray");

    const auto handle = findControllerInterface(platform::systemHid(), 1);
    ASSERT_NE(handle, platform::invalidHidHandle);
    EXPECT_EQ(nodeOf(tree, handle, {"hidraw9", "hidraw10", "hidrawX", "hidraw"}), "hidraw9");
    platform::systemHid().closeHandle(handle);
}

TEST(LinuxHid, ANodeWithBothCollectionsServesBothSearches) {
    FakeHidTree tree;
    const std::vector<std::uint8_t> both = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                                            0xC0, 0x09, 0x02, 0xA1, 0x01, 0xC0};
    tree.addNode("hidraw0", hidIdLine(0x00FF, 0xBACC) + "\n", both);
    VirtualController controller(platform::systemHid());
    ASSERT_EQ(controller.openController(), 1);
    controller.closeController();
    EXPECT_EQ(tree.written("hidraw0").size(), 65u);
}

TEST(LinuxHid, NoHidrawClassMeansNoInterfaces) {
    FakeHidTree tree;
    std::filesystem::remove_all(tree.sysfsRoot() + "/class/hidraw");
    DebugCapture capture;
    EXPECT_EQ(findControllerInterface(platform::systemHid(), 1), platform::invalidHidHandle);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>({"\n....looking for our HID device\n",
                                        "Failure: Could not find our HID device \n"}));
}

TEST(LinuxHid, PresenceNeedsOnlyTheSysfsEntry) {
    FakeHidTree tree;
    const auto present = [] {
        return platform::hidrawDevicePresent(controllerVendorId, controllerProductId);
    };
    EXPECT_FALSE(present());
    tree.addNode("hidraw0", keyboardUevent(), keyboardDescriptor());
    tree.addNode("hidraw1", "DRIVER=hid-generic\n", keyboardDescriptor());
    EXPECT_FALSE(present());
    tree.addControllerNode("hidraw2", 2);
    tree.removeDeviceFile("hidraw2");  // present even where this user cannot open it
    EXPECT_TRUE(present());
    std::filesystem::remove_all(tree.sysfsRoot() + "/class/hidraw");
    EXPECT_FALSE(present());
}

TEST(LinuxHid, BrokenNodesSayWhyAndTheSearchGoesOn) {
    FakeHidTree tree;
    tree.addControllerNode("hidraw0", 1);
    tree.removeDeviceFile("hidraw0");  // cannot be opened: ENOENT
    tree.addNode("hidraw1", "DRIVER=hid-generic\n", singleCollectionDescriptor(0xFF00, 1));
    tree.addNode("hidraw2", hidIdLine(0x00FF, 0xBACC) + "\n", {0x06, 0x00, 0xFF, 0xA1});
    tree.addNode("hidraw3", hidIdLine(0x00FF, 0xBACC) + "\n", {});
    tree.addNode("hidraw4", "HID_ID=0003:000000FF\n", singleCollectionDescriptor(0xFF00, 1));
    tree.addNode("hidraw5", "HID_ID=0003:000100FF:0000BACC\n",
                 singleCollectionDescriptor(0xFF00, 1));
    tree.addControllerNode("hidraw6", 1);

    platform::HidHandle handle = platform::invalidHidHandle;
    const std::string out =
        captureStdout([&] { handle = findControllerInterface(platform::systemHid(), 1); });
    EXPECT_EQ(out,
              "Error: CreateFile failed: 2\n"
              "Error: HidD_GetAttributes failed \n"
              "Error: HidP_GetCaps failed \n"
              "Error: HidD_GetPreparsedData failed \n"
              "Error: HidD_GetAttributes failed \n"
              "Error: HidD_GetAttributes failed \n"
              "Success: Found my device.. \n");
    ASSERT_NE(handle, platform::invalidHidHandle);
    EXPECT_EQ(
        nodeOf(tree, handle, {"hidraw1", "hidraw2", "hidraw3", "hidraw4", "hidraw5", "hidraw6"}),
        "hidraw6");
    platform::systemHid().closeHandle(handle);
}

TEST(LinuxHid, ARefusedFirstReportClosesTheController) {
    if (!std::filesystem::exists("/dev/full")) {
        GTEST_SKIP() << "no /dev/full to refuse writes";
    }
    FakeHidTree tree;
    tree.addControllerNode("hidraw0", 1);
    tree.addControllerNode("hidraw1", 2);
    tree.linkDeviceFile("hidraw0", "/dev/full");
    VirtualController controller(platform::systemHid());
    DebugCapture capture;
    const std::string out = captureStdout([&] { EXPECT_EQ(controller.openController(), 0); });
    EXPECT_NE(out.find("failed WriteFile 28\n"), std::string::npos);  // ENOSPC
    EXPECT_TRUE(capture.contains("Could not update controller!\n"));
    EXPECT_FALSE(controller.isOpen());
}

// A device that stops taking reports (a write to it would wait for ever) costs each report
// a moment at most: the report is dropped with the failure lines, the controller stays open
// and the next report goes through once the device reads again.
TEST(LinuxHid, AReportTheDeviceDoesNotTakeIsDroppedWithinItsTimeLimit) {
    FakeHidTree tree;
    tree.addControllerNode("hidraw0", 1);
    tree.addControllerNode("hidraw1", 2);
    tree.removeDeviceFile("hidraw0");
    const std::string node = tree.devRoot() + "/hidraw0";
    ASSERT_EQ(::mkfifo(node.c_str(), 0600), 0);
    const int device = ::open(node.c_str(), O_RDWR | O_NONBLOCK);  // the device's end
    ASSERT_GE(device, 0);
    VirtualController controller(platform::systemHid());
    ASSERT_EQ(controller.openController(), 1);
    while (::write(device, "x", 1) == 1) {  // the device falls behind: its buffer is full
    }
    DebugCapture capture;
    const auto before = std::chrono::steady_clock::now();
    const std::string out =
        captureStdout([&] { controller.handleGamepadEvent(testing::buttonEvent(0, 1.0f)); });
    EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(5));
    EXPECT_EQ(out, "failed WriteFile 110\n");  // ETIMEDOUT
    EXPECT_TRUE(capture.contains("SetOutputReport FAILED!\n"));
    EXPECT_TRUE(controller.isOpen());

    char buffer[4096];
    while (::read(device, buffer, sizeof buffer) > 0) {
    }
    EXPECT_EQ(captureStdout([&] { controller.handleGamepadEvent(testing::buttonEvent(1, 1.0f)); }),
              "");
    EXPECT_EQ(::read(device, buffer, sizeof buffer), 65);
    controller.closeController();
    ::close(device);
}

TEST(LinuxHid, DetailsThatNameNoNodeAreRefused) {
    FakeHidTree tree;
    auto& hid = platform::systemHid();
    const char* names[] = {"../hidraw0", "hidraw0/x", "hidraw", "hidraw-1"};
    for (const char* name : names) {
        const std::string detail(name);
        const auto bytes = std::as_bytes(std::span(detail.c_str(), detail.size() + 1));
        EXPECT_EQ(hid.openInterface(bytes), platform::invalidHidHandle) << name;
    }
    // A detail without its NUL is not read past its end.
    const std::string unterminated = "hidraw0";
    EXPECT_EQ(hid.openInterface(std::as_bytes(std::span(unterminated.data(), unterminated.size()))),
              platform::invalidHidHandle);
    std::array<std::byte, 4> small{};
    const auto set = hid.openInterfaceSet();
    tree.addControllerNode("hidraw0", 1);
    const auto fresh = hid.openInterfaceSet();
    EXPECT_FALSE(hid.interfaceAt(set, 0));  // a set is a snapshot
    ASSERT_TRUE(hid.interfaceAt(fresh, 0));
    EXPECT_EQ(hid.interfaceDetailSize(fresh, 0), 8u);
    EXPECT_FALSE(hid.interfaceDetail(fresh, 0, small));
    hid.destroyInterfaceSet(set);
    hid.destroyInterfaceSet(fresh);
}

}  // namespace
}  // namespace pellvane
