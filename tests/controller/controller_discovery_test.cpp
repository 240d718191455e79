#include "controller/controller_discovery.h"

#include <gtest/gtest.h>

#include <functional>

#include "tests/controller/fake_hid.h"
#include "tests/support/debug_capture.h"

namespace pellvane {
namespace {

using platform::HidIdentifyFailure;
using testing::controllerInterface;
using testing::DebugCapture;
using testing::FakeHid;
using testing::FakeInterface;

constexpr const char* lookingLine = "\n....looking for our HID device\n";
constexpr const char* notFoundLine = "Failure: Could not find our HID device \n";
constexpr const char* foundLine = "Success: Found my device.. \n";

FakeInterface otherDevice() {
    FakeInterface keyboard;
    keyboard.vendorId = 0x046D;
    keyboard.productId = 0xC31C;
    keyboard.collections = {{0x01, 0x06}};
    return keyboard;
}

FakeInterface failingAt(HidIdentifyFailure step, FakeInterface interface = controllerInterface(1)) {
    interface.identifyFails = step;
    return interface;
}

std::string captureStdout(const std::function<void()>& action) {
    ::testing::internal::CaptureStdout();
    action();
    return ::testing::internal::GetCapturedStdout();
}

// No search closes what it did not open, nor closes anything twice.
class DiscoveryTest : public ::testing::Test {
  protected:
    void TearDown() override { EXPECT_EQ(hid.badCloses(), 0); }

    FakeHid hid;
    DebugCapture capture;
};

TEST_F(DiscoveryTest, NoInterfacesAtAll) {
    ControllerDevice device;
    EXPECT_EQ(findControllerInterface(hid, 1), platform::invalidHidHandle);
    EXPECT_EQ(capture.lines(), std::vector<std::string>({lookingLine, notFoundLine}));
    EXPECT_EQ(openControllerHandles(hid, &device), 0);
    EXPECT_EQ(hid.enumerations(), 2);  // one per call: no usage-2 search after the failure
    EXPECT_EQ(device.reportHandle, platform::nullHidHandle);
    EXPECT_EQ(device.auxHandle, platform::nullHidHandle);
}

TEST_F(DiscoveryTest, NullDeviceEnumeratesNothing) {
    EXPECT_EQ(openControllerHandles(hid, nullptr), 0);
    closeControllerHandles(hid, nullptr);
    EXPECT_EQ(hid.enumerations(), 0);
}

TEST_F(DiscoveryTest, UnavailableListIsReportedWithItsCodeInHex) {
    hid.setEnumerateFails(true);
    const std::string out = captureStdout(
        [&] { EXPECT_EQ(findControllerInterface(hid, 1), platform::invalidHidHandle); });
    EXPECT_EQ(out, "SetupDiGetClassDevs failed: d\n");
    EXPECT_TRUE(capture.lines().empty());
}

// Only the interfaces picked are opened: identifying needs no handle of the search's own.
TEST_F(DiscoveryTest, EachUsageFindsItsOwnCollectionAmongOtherDevices) {
    hid.addInterface(otherDevice());
    hid.addInterface(controllerInterface(2));
    hid.addInterface(controllerInterface(1));
    ControllerDevice device;
    const std::string out =
        captureStdout([&] { EXPECT_EQ(openControllerHandles(hid, &device), 1); });
    EXPECT_EQ(out, std::string(foundLine) + foundLine);
    EXPECT_EQ(hid.openInterfaces(), (std::multiset<std::size_t>{1, 2}));
    EXPECT_EQ(hid.inputBufferCounts(), std::vector<std::uint32_t>{10});
    EXPECT_EQ(hid.opensOf(0), 0u);
    EXPECT_EQ(hid.opensOf(1), 1u);
    EXPECT_EQ(hid.enumerations(), 2);
    closeControllerHandles(hid, &device);
    EXPECT_TRUE(hid.openInterfaces().empty());
    EXPECT_EQ(device.reportHandle, platform::nullHidHandle);
    EXPECT_EQ(device.auxHandle, platform::nullHidHandle);
}

TEST_F(DiscoveryTest, UsageTwoIsRejectedByTheUsageOneSearchAndTakenByItsOwn) {
    hid.addInterface(controllerInterface(2));
    EXPECT_EQ(findControllerInterface(hid, 1), platform::invalidHidHandle);
    const auto handle = findControllerInterface(hid, 2);
    ASSERT_NE(handle, platform::invalidHidHandle);
    EXPECT_EQ(hid.opensOf(0), 1u);
    hid.close(handle);
}

TEST_F(DiscoveryTest, TheFirstMatchWinsAndLaterOnesAreNotOpened) {
    hid.addInterface(controllerInterface(1));
    hid.addInterface(controllerInterface(1));
    const auto handle = findControllerInterface(hid, 1);
    ASSERT_NE(handle, platform::invalidHidHandle);
    EXPECT_EQ(hid.openInterfaces(), std::multiset<std::size_t>{0});
    EXPECT_EQ(hid.opensOf(1), 0u);
    hid.close(handle);
}

TEST_F(DiscoveryTest, MatchNeedsVendorProductPageAndUsage) {
    FakeInterface wrongVendor = controllerInterface(1);
    wrongVendor.vendorId = 0x00FE;
    FakeInterface wrongProduct = controllerInterface(1);
    wrongProduct.productId = 0xBACD;
    FakeInterface wrongPage = controllerInterface(1);
    wrongPage.collections = {{0xFF01, 1}};
    FakeInterface wrongUsage = controllerInterface(3);
    for (const FakeInterface& interface : {wrongVendor, wrongProduct, wrongPage, wrongUsage}) {
        hid.addInterface(interface);
    }
    const std::string out = captureStdout(
        [&] { EXPECT_EQ(findControllerInterface(hid, 1), platform::invalidHidHandle); });
    EXPECT_EQ(out, "");  // mismatches are silent
    EXPECT_TRUE(hid.openInterfaces().empty());
    EXPECT_EQ(capture.lines(), std::vector<std::string>({lookingLine, notFoundLine}));
}

TEST_F(DiscoveryTest, AnyOfSeveralCollectionsMayMatch) {
    FakeInterface both = controllerInterface(1);
    both.collections = {{0x01, 0x05}, {0xFF00, 2}};
    hid.addInterface(both);
    const auto handle = findControllerInterface(hid, 2);
    EXPECT_NE(handle, platform::invalidHidHandle);
    hid.close(handle);
}

// In the order the steps are judged: the descriptor and the attributes are spoken of for
// any device, the capabilities only for the controller's vendor and product.
TEST_F(DiscoveryTest, FailuresOnOneInterfaceSayWhyAndTheSearchGoesOn) {
    FakeInterface held = controllerInterface(1);
    held.openFails = true;
    for (const FakeInterface& interface : {
             failingAt(HidIdentifyFailure::allocation),
             failingAt(HidIdentifyFailure::detail),
             failingAt(HidIdentifyFailure::open),
             failingAt(HidIdentifyFailure::descriptor, otherDevice()),
             failingAt(HidIdentifyFailure::attributes),
             failingAt(HidIdentifyFailure::capabilities, otherDevice()),
             failingAt(HidIdentifyFailure::capabilities),
             held,
             controllerInterface(1),
         }) {
        hid.addInterface(interface);
    }
    platform::HidHandle handle = platform::invalidHidHandle;
    const std::string out = captureStdout([&] { handle = findControllerInterface(hid, 1); });
    EXPECT_EQ(out,
              "Error: OpenDeviceInterface: malloc failed\n"
              "Error: SetupDiGetInterfaceDeviceDetail failed\n"
              "Error: CreateFile failed: 2\n"
              "Error: HidD_GetPreparsedData failed \n"
              "Error: HidD_GetAttributes failed \n"
              "Error: HidP_GetCaps failed \n"
              "Success: Found my device.. \n"
              "Error: CreateFile failed: 32\n"
              "Success: Found my device.. \n");
    ASSERT_NE(handle, platform::invalidHidHandle);
    EXPECT_EQ(hid.openInterfaces(), std::multiset<std::size_t>{8});
    for (std::size_t index = 0; index < 7; ++index) {
        EXPECT_EQ(hid.opensOf(index), 0u) << index;
    }
    EXPECT_EQ(hid.opensOf(7), 1u);
    hid.close(handle);
}

TEST_F(DiscoveryTest, UsageOneWithoutUsageTwoClosesTheFirstHandle) {
    hid.addInterface(controllerInterface(1));
    ControllerDevice device;
    EXPECT_EQ(openControllerHandles(hid, &device), 0);
    EXPECT_TRUE(hid.openInterfaces().empty());
    EXPECT_EQ(hid.opensOf(0), 1u);
    EXPECT_EQ(hid.enumerations(), 2);
    EXPECT_EQ(device.reportHandle, platform::nullHidHandle);
    EXPECT_EQ(device.auxHandle, platform::nullHidHandle);
}

TEST_F(DiscoveryTest, RefusedInputBuffersCloseBothHandles) {
    hid.addInterface(controllerInterface(1));
    FakeInterface aux = controllerInterface(2);
    aux.inputBuffersFail = true;
    hid.addInterface(aux);
    ControllerDevice device;
    const std::string out =
        captureStdout([&] { EXPECT_EQ(openControllerHandles(hid, &device), 0); });
    EXPECT_NE(out.find("failed HidD_SetNumInputBuffers 5\n"), std::string::npos);
    EXPECT_TRUE(hid.openInterfaces().empty());
    EXPECT_EQ(device.reportHandle, platform::nullHidHandle);
    EXPECT_EQ(device.auxHandle, platform::nullHidHandle);
}

}  // namespace
}  // namespace pellvane
