// The Windows gamepad bus layer against the real system calls (under Wine in the cross
// build, where no ViGEmBus is installed).
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "controller/xbox360_controller.h"
#include "platform/gamepad_bus.h"
#include "tests/support/debug_capture.h"

// After the project headers: its macros would rename their constants.
#include <windows.h>

namespace pellvane {
namespace {

using namespace std::chrono_literals;

constexpr std::uint32_t errorFileNotFound = 2;
constexpr std::uint32_t errorPathNotFound = 3;
// FSCTL_PIPE_LISTEN: a request that stays pending until a client connects to the pipe,
// which makes a named pipe stand in for a bus that is slow to answer.
constexpr std::uint32_t pipeListenCode = 0x110008;

HANDLE pipeServer(const wchar_t* name) {
    return CreateNamedPipeW(name, PIPE_ACCESS_DUPLEX | FILE_FLAG_OVERLAPPED, PIPE_TYPE_BYTE, 1, 64,
                            64, 0, nullptr);
}

TEST(WindowsGamepadBus, WithoutTheDriverNoBusIsFoundAndNoControllerStarts) {
    std::vector<std::string> paths;
    ASSERT_TRUE(platform::systemGamepadBus().busPaths(paths));
    if (!paths.empty()) {
        GTEST_SKIP() << "this machine has a virtual gamepad bus";
    }
    testing::DebugCapture capture;
    Xbox360Controller controller(platform::systemGamepadBus());
    EXPECT_EQ(controller.startController(), 0);
    EXPECT_TRUE(capture.contains("Gamepad bus: not found\n"));
}

TEST(WindowsGamepadBus, OpenAndControlReportWhatTheSystemRefused) {
    auto& bus = platform::systemGamepadBus();
    EXPECT_EQ(bus.open("\\\\?\\root#pellvane#missing"), platform::nullBusHandle);
    const std::uint32_t error = bus.lastError();
    EXPECT_TRUE(error == errorFileNotFound || error == errorPathNotFound) << error;
    EXPECT_EQ(bus.open(""), platform::nullBusHandle);

    // A plain file stands in for the device: it opens for overlapped requests, and refuses
    // a bus request at once rather than after the time limit.
    const auto path = std::filesystem::temp_directory_path() / "pellvane-bus-stand-in.bin";
    { std::ofstream create(path); }
    // A NUL would cut the path short, here to the stand-in's own.
    EXPECT_EQ(bus.open(path.string() + std::string("\0.other", 7)), platform::nullBusHandle);
    const platform::BusHandle file = bus.open(path.string());
    ASSERT_NE(file, platform::nullBusHandle);
    const std::uint8_t request[8] = {8, 0, 0, 0, 1, 0, 0, 0};
    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(bus.control(file, 0x2AA00C, request, 5s));
    EXPECT_LT(std::chrono::steady_clock::now() - started, 5s);
    EXPECT_NE(bus.lastError(), 0u);
    bus.close(file);
    std::filesystem::remove(path);
}

TEST(WindowsGamepadBus, ARequestLeftPendingIsCancelledAtItsLimitAndOneAnsweredInTimeSucceeds) {
    auto& bus = platform::systemGamepadBus();
    const wchar_t* name = L"\\\\.\\pipe\\pellvane-bus-test";
    const HANDLE server = pipeServer(name);
    ASSERT_NE(server, INVALID_HANDLE_VALUE);
    const auto handle = reinterpret_cast<platform::BusHandle>(server);

    const auto started = std::chrono::steady_clock::now();
    EXPECT_FALSE(bus.control(handle, pipeListenCode, {}, 100ms));
    EXPECT_EQ(bus.lastError(), static_cast<std::uint32_t>(ERROR_TIMEOUT));
    EXPECT_GE(std::chrono::steady_clock::now() - started, 100ms);

    // The cancelled request is gone: a new one is answered when a client comes.
    std::thread client([name] {
        std::this_thread::sleep_for(500ms);  // after the listen below is issued
        const HANDLE connected =
            CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);
        if (connected != INVALID_HANDLE_VALUE) {
            CloseHandle(connected);
        }
    });
    EXPECT_TRUE(bus.control(handle, pipeListenCode, {}, 10s)) << bus.lastError();
    client.join();
    bus.close(handle);
}

}  // namespace
}  // namespace pellvane
