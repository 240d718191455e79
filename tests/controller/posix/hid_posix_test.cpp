#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <utility>

#include "controller/controller_discovery.h"
#include "controller/virtual_controller.h"
#include "platform/hid.h"
#include "tests/controller/gamepad_message.h"
#include "tests/controller/posix/fake_hid_tree.h"
#include "tests/support/debug_capture.h"

namespace pellvane {
namespace {

using platform::HidDeviceInfo;
using platform::HidIdentifyFailure;
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

std::vector<HidDeviceInfo> enumerated() {
    std::vector<HidDeviceInfo> devices;
    EXPECT_TRUE(platform::systemHid().enumerate(devices));
    return devices;
}

// Which node a handle is: the search opens it, and a report written through it shows up
// in that node's file.
std::string nodeOf(FakeHidTree& tree, platform::HidHandle handle,
                   const std::vector<std::string>& nodes) {
    const std::uint8_t marker[3] = {0xAB, 0xCD, 0xEF};
    if (!platform::systemHid().write(handle, marker)) {
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

TEST(LinuxHid, NodesAreListedInNumberOrderAndOtherEntriesIgnored) {
    FakeHidTree tree;
    tree.addControllerNode("hidraw10", 1);
    tree.addControllerNode("hidraw9", 2);
    tree.addControllerNode("hidrawX", 1);
    tree.addControllerNode("hidraw", 1);
    std::filesystem::create_directories(tree.sysfsRoot() + "/class/hidraw/stray");

    const auto devices = enumerated();
    ASSERT_EQ(devices.size(), 2u);
    EXPECT_EQ(devices[0].path, tree.devRoot() + "/hidraw9");
    EXPECT_EQ(devices[1].path, tree.devRoot() + "/hidraw10");
    EXPECT_EQ(devices[0].failure, HidIdentifyFailure::none);
    EXPECT_EQ(devices[0].vendorId, controllerVendorId);
    EXPECT_EQ(devices[0].productId, controllerProductId);
    EXPECT_EQ(devices[0].usagePage, controllerUsagePage);
    EXPECT_EQ(devices[0].usage, 2);
}

TEST(LinuxHid, ANodeWithBothCollectionsServesBothSearches) {
    FakeHidTree tree;
    const std::vector<std::uint8_t> both = {0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01,
                                            0xC0, 0x09, 0x02, 0xA1, 0x01, 0xC0};
    tree.addNode("hidraw0", hidIdLine(0x00FF, 0xBACC) + "\n", both);
    const auto devices = enumerated();
    ASSERT_EQ(devices.size(), 1u);
    EXPECT_EQ(devices[0].usages, (std::vector<platform::HidUsage>{{0xFF00, 1}, {0xFF00, 2}}));
    EXPECT_EQ(devices[0].usage, 1);

    VirtualController controller(platform::systemHid());
    ASSERT_EQ(controller.openController(), 1);
    controller.closeController();
    EXPECT_EQ(tree.written("hidraw0").size(), 65u);
}

TEST(LinuxHid, NoHidrawClassMeansNoInterfacesAndAnUnreadableOneIsReported) {
    FakeHidTree tree;
    const std::string folder = tree.sysfsRoot() + "/class/hidraw";
    std::filesystem::remove_all(folder);
    DebugCapture capture;
    EXPECT_EQ(findControllerInterface(platform::systemHid(), 1), platform::invalidHidHandle);
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>({"\n....looking for our HID device\n",
                                        "Failure: Could not find our HID device \n"}));

    { std::ofstream notAFolder(folder); }
    const std::string out = captureStdout([&] {
        EXPECT_EQ(findControllerInterface(platform::systemHid(), 1), platform::invalidHidHandle);
    });
    EXPECT_EQ(out, "SetupDiGetClassDevs failed: 14\n");  // ENOTDIR
}

// The program must not present a second controller where one is, even one that this user
// may not open or whose descriptor is not there yet.
TEST(LinuxHid, PresenceNeedsOnlyTheSysfsEntry) {
    FakeHidTree tree;
    const auto present = [] { return controllerDevicePresent(platform::systemHid()); };
    EXPECT_FALSE(present());
    tree.addNode("hidraw0", keyboardUevent(), keyboardDescriptor());
    tree.addNode("hidraw1", "DRIVER=hid-generic\n", keyboardDescriptor());
    EXPECT_FALSE(present());
    tree.addControllerNode("hidraw2", 2);
    tree.removeDeviceFile("hidraw2");
    std::filesystem::remove(tree.sysfsRoot() + "/class/hidraw/hidraw2/device/report_descriptor");
    DebugCapture capture;
    EXPECT_EQ(captureStdout([&] { EXPECT_TRUE(present()); }), "");  // asking says nothing
    EXPECT_TRUE(capture.lines().empty());
    std::filesystem::remove_all(tree.sysfsRoot() + "/class/hidraw");
    EXPECT_FALSE(present());
}

// A matching node that will not open is spoken of after it matched, and the search goes on.
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
    tree.addControllerNode("hidraw7", 1);  // not reached: the first match that opens wins
    std::filesystem::remove(tree.sysfsRoot() + "/class/hidraw/hidraw7/device/uevent");

    platform::HidHandle handle = platform::invalidHidHandle;
    const std::string out =
        captureStdout([&] { handle = findControllerInterface(platform::systemHid(), 1); });
    EXPECT_EQ(out,
              "Success: Found my device.. \n"
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
    platform::systemHid().close(handle);

    // Each failed step with the error right after it; the vendor and product are read
    // whatever the descriptor does.
    const auto devices = enumerated();
    ASSERT_EQ(devices.size(), 8u);
    const auto step = [&](std::size_t index) {
        return std::pair(devices[index].failure, devices[index].error);
    };
    EXPECT_EQ(step(0), std::pair(HidIdentifyFailure::none, 0u));
    EXPECT_EQ(step(1), std::pair(HidIdentifyFailure::attributes, std::uint32_t{EINVAL}));
    EXPECT_EQ(step(2), std::pair(HidIdentifyFailure::capabilities, std::uint32_t{EINVAL}));
    EXPECT_EQ(step(3), std::pair(HidIdentifyFailure::descriptor, std::uint32_t{EINVAL}));
    EXPECT_EQ(step(7), std::pair(HidIdentifyFailure::attributes, std::uint32_t{ENOENT}));
    EXPECT_EQ(devices[3].vendorId, controllerVendorId);
    EXPECT_TRUE(devices[3].usages.empty());
    EXPECT_EQ(devices[5].vendorId, 0);
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

// Only <dev>/hidrawN opens: no path that leads elsewhere, however it is spelled.
TEST(LinuxHid, PathsThatNameNoNodeAreRefused) {
    FakeHidTree tree;
    tree.addControllerNode("hidraw0", 1);
    { std::ofstream elsewhere(tree.root() + "/hidraw0"); }
    auto& hid = platform::systemHid();
    const std::string dev = tree.devRoot();
    const std::string paths[] = {
        "hidraw0",
        dev + "/../hidraw0",
        dev + "/../dev/hidraw0",
        dev + "/hidraw0/x",
        dev + "/hidraw",
        dev + "/hidraw-1",
        dev + "//hidraw0",
        tree.root() + "/hidraw0",
        dev + std::string("/hidraw0\0", 9),
        "",
    };
    for (const std::string& path : paths) {
        EXPECT_EQ(hid.open(path), platform::invalidHidHandle) << path;
        EXPECT_EQ(hid.lastError(), std::uint32_t{EINVAL}) << path;
    }

    const auto handle = hid.open(dev + "/hidraw0");
    ASSERT_NE(handle, platform::invalidHidHandle);
    EXPECT_TRUE(hid.setInputBufferCount(handle, 10));
    hid.close(handle);
    const std::uint8_t report[65] = {};
    EXPECT_FALSE(hid.write(handle, report));  // a closed handle is never reused
    EXPECT_EQ(hid.lastError(), std::uint32_t{EBADF});
    EXPECT_FALSE(hid.setInputBufferCount(handle, 10));
    EXPECT_TRUE(tree.written("hidraw0").empty());
}

}  // namespace
}  // namespace pellvane
