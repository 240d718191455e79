// The Windows HID layer against the real system calls (under Wine in the cross build).
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "controller/controller_discovery.h"
#include "controller/virtual_controller.h"
#include "platform/hid.h"
#include "tests/support/debug_capture.h"

namespace pellvane {
namespace {

using testing::DebugCapture;

constexpr std::uint32_t errorSharingViolation = 32;
constexpr std::uint32_t errorInvalidHandle = 6;

// SP_DEVICE_INTERFACE_DETAIL_DATA_W as the platform lays it out: a DWORD cbSize, then the
// NUL-terminated UTF-16 path.
std::vector<std::byte> detailFor(const std::wstring& path) {
    std::vector<std::byte> detail(4 + (path.size() + 1) * sizeof(wchar_t));
    const std::uint32_t cbSize = 8;
    std::memcpy(detail.data(), &cbSize, sizeof cbSize);
    std::memcpy(detail.data() + 4, path.c_str(), (path.size() + 1) * sizeof(wchar_t));
    return detail;
}

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

TEST(WindowsHid, EveryEnumeratedInterfaceHasAFetchableDetail) {
    auto& hid = platform::systemHid();
    const auto set = hid.openInterfaceSet();
    ASSERT_NE(set, platform::invalidHidInterfaceSet);
    for (std::uint32_t index = 0; hid.interfaceAt(set, index); ++index) {
        const std::size_t size = hid.interfaceDetailSize(set, index);
        ASSERT_GT(size, 4u);
        std::vector<std::byte> buffer(size);
        EXPECT_TRUE(hid.interfaceDetail(set, index, buffer));
        std::array<std::byte, 2> tooSmall{};
        EXPECT_FALSE(hid.interfaceDetail(set, index, tooSmall));
    }
    hid.destroyInterfaceSet(set);
}

// A plain file stands in for a device file: the open asks for write access while sharing
// with readers only, so a second open of the same file is refused.
TEST(WindowsHid, OpenSharesWithReadersOnlyAndWritesAreSynchronous) {
    auto& hid = platform::systemHid();
    const auto path = std::filesystem::temp_directory_path() / "pellvane-hid-report.bin";
    std::filesystem::remove(path);
    { std::ofstream create(path); }
    const auto detail = detailFor(path.wstring());

    const auto handle = hid.openInterface(detail);
    ASSERT_NE(handle, platform::invalidHidHandle);
    EXPECT_EQ(hid.openInterface(detail), platform::invalidHidHandle);
    EXPECT_EQ(hid.lastError(), errorSharingViolation);

    const std::uint8_t report[65] = {0x40, 0x12, 0x02};
    EXPECT_TRUE(hid.writeReport(handle, report));
    EXPECT_EQ(hid.preparsedData(handle), platform::nullHidPreparsedData);
    hid.closeHandle(handle);

    std::ifstream file(path, std::ios::binary);
    const std::vector<char> written{std::istreambuf_iterator<char>(file),
                                    std::istreambuf_iterator<char>()};
    file.close();
    ASSERT_EQ(written.size(), 65u);
    EXPECT_EQ(written[0], 0x40);
    std::filesystem::remove(path);
}

TEST(WindowsHid, RefusedCallsReportTheirErrorCode) {
    auto& hid = platform::systemHid();
    const std::uint8_t report[65] = {};
    EXPECT_FALSE(hid.writeReport(platform::invalidHidHandle, report));
    EXPECT_EQ(hid.lastError(), errorInvalidHandle);
    EXPECT_FALSE(hid.setInputBufferCount(platform::invalidHidHandle, 10));
    platform::HidAttributes attributes;
    EXPECT_FALSE(hid.attributes(platform::invalidHidHandle, attributes));
    // A path that names nothing, and a detail without its NUL.
    EXPECT_EQ(hid.openInterface(detailFor(L"\\\\?\\hid#pellvane#missing")),
              platform::invalidHidHandle);
    auto unterminated = detailFor(L"C:\\x");
    unterminated.resize(unterminated.size() - sizeof(wchar_t));
    EXPECT_EQ(hid.openInterface(unterminated), platform::invalidHidHandle);
}

}  // namespace
}  // namespace pellvane
