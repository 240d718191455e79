// The Windows HID layer against the real system calls (under Wine in the cross build).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "controller/controller_discovery.h"
#include "controller/virtual_controller.h"
#include "platform/hid.h"
#include "platform/win32/hid_identify.h"
#include "tests/support/debug_capture.h"

namespace pellvane {
namespace {

using platform::HidIdentifyFailure;
using testing::DebugCapture;

constexpr std::uint32_t errorSharingViolation = 32;
constexpr std::uint32_t errorInvalidHandle = 6;
constexpr std::uint32_t errorInvalidName = 123;

std::string utf8(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return {reinterpret_cast<const char*>(text.data()), text.size()};
}

// A plain file stands in for a device file; its name is not ASCII, so that the path makes
// its way through UTF-8 and back.
class WindowsHidFile : public ::testing::Test {
  protected:
    void SetUp() override {
        std::filesystem::remove(path);
        std::ofstream create(path);
    }
    void TearDown() override { std::filesystem::remove(path); }

    std::vector<char> written() const {
        std::ifstream file(path, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    }

    const std::filesystem::path path =
        std::filesystem::temp_directory_path() / L"pellvane-hid-r\u00E9port.bin";
    platform::Hid& hid = platform::systemHid();
};

TEST(WindowsHid, DiscoveryWithoutTheDeviceFindsNothing) {
    DebugCapture capture;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(findControllerInterface(platform::systemHid(), 1), platform::invalidHidHandle);
    const std::string out = ::testing::internal::GetCapturedStdout();
    EXPECT_EQ(out.find("SetupDiGetClassDevs failed"), std::string::npos) << out;
    EXPECT_EQ(out.find("Success"), std::string::npos) << out;
    EXPECT_EQ(capture.lines(),
              std::vector<std::string>({"\n....looking for our HID device\n",
                                        "Failure: Could not find our HID device \n"}));
    EXPECT_FALSE(controllerDevicePresent(platform::systemHid()));
}

TEST(WindowsHid, ControllerStaysClosedWithoutTheDevice) {
    VirtualController controller(platform::systemHid());
    DebugCapture capture;
    ::testing::internal::CaptureStdout();
    EXPECT_EQ(controller.openController(), 0);
    ::testing::internal::GetCapturedStdout();
    EXPECT_FALSE(controller.isOpen());
    EXPECT_TRUE(capture.contains("Could not connect to controller!\n"));
    EXPECT_EQ(capture.count("\n....looking for our HID device\n"), 1);
}

// Whatever the system presents, each interface that gave its path can be opened by it.
TEST(WindowsHid, EveryListedInterfaceHasADevicePath) {
    std::vector<platform::HidDeviceInfo> devices;
    ASSERT_TRUE(platform::systemHid().enumerate(devices));
    for (const auto& device : devices) {
        if (device.failure != HidIdentifyFailure::allocation &&
            device.failure != HidIdentifyFailure::detail) {
            EXPECT_EQ(device.path.rfind("\\\\?\\", 0), 0u) << device.path;
        }
    }
}

// The open for use asks for write access while sharing with readers only, so a second one
// is refused; identifying asks for no access and shares everything, so it gets through.
TEST_F(WindowsHidFile, OpenSharesWithReadersOnlyAndIdentifyingStillGetsThrough) {
    const auto handle = hid.open(utf8(path));
    ASSERT_NE(handle, platform::invalidHidHandle);
    EXPECT_EQ(hid.open(utf8(path)), platform::invalidHidHandle);
    EXPECT_EQ(hid.lastError(), errorSharingViolation);

    const auto info = platform::win32::identifyInterface({path.wstring()});
    EXPECT_EQ(info.path, utf8(path));
    EXPECT_EQ(info.failure, HidIdentifyFailure::descriptor);  // a file has no HID descriptor
    EXPECT_TRUE(info.usages.empty());
    hid.close(handle);
}

TEST_F(WindowsHidFile, WritesAreSynchronousAndWhole) {
    const auto handle = hid.open(utf8(path));
    ASSERT_NE(handle, platform::invalidHidHandle);
    const std::uint8_t report[65] = {0x40, 0x12, 0x02};
    EXPECT_TRUE(hid.write(handle, report));
    hid.close(handle);
    const auto bytes = written();
    ASSERT_EQ(bytes.size(), 65u);
    EXPECT_EQ(bytes[0], 0x40);
}

TEST(WindowsHid, RefusedCallsReportTheirErrorCode) {
    auto& hid = platform::systemHid();
    const std::uint8_t report[65] = {};
    EXPECT_FALSE(hid.write(platform::invalidHidHandle, report));
    EXPECT_EQ(hid.lastError(), errorInvalidHandle);
    EXPECT_FALSE(hid.setInputBufferCount(platform::invalidHidHandle, 10));
    EXPECT_NE(hid.lastError(), 0u);

    EXPECT_EQ(hid.open("\\\\?\\hid#pellvane#missing"), platform::invalidHidHandle);
    const std::uint32_t missing = hid.lastError();
    EXPECT_NE(missing, 0u);
    EXPECT_NE(missing, errorInvalidName);
    const auto info = platform::win32::identifyInterface({L"\\\\?\\hid#pellvane#missing"});
    EXPECT_EQ(info.failure, HidIdentifyFailure::open);
    EXPECT_EQ(info.error, missing);

    // No path, and one that a NUL would cut short.
    EXPECT_EQ(hid.open(""), platform::invalidHidHandle);
    EXPECT_EQ(hid.lastError(), errorInvalidName);
    EXPECT_EQ(hid.open(std::string("C:\\windows\\win.ini\0x", 20)), platform::invalidHidHandle);
    EXPECT_EQ(hid.lastError(), errorInvalidName);
}

// What the class walk could not read is passed on as it was.
TEST(WindowsHid, AnInterfaceWithoutItsPathIsPassedOnAsItFailed) {
    platform::win32::DeviceInterface entry;
    entry.failure = platform::win32::InterfaceFailure::detail;
    entry.error = 1234;
    const auto info = platform::win32::identifyInterface(entry);
    EXPECT_EQ(info.failure, HidIdentifyFailure::detail);
    EXPECT_EQ(info.error, 1234u);
    EXPECT_TRUE(info.path.empty());
}

}  // namespace
}  // namespace pellvane
