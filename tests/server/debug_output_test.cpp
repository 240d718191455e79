// Debug lines from server threads reach whoever listens, and never a listener that is gone.
#include "platform/debug_output.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/debug_capture.h"

namespace pellvane::testing {
namespace {

TEST(DebugOutput, ListenerHearsWideAndNarrowLines) {
    DebugCapture capture;
    debug::output(L"Service did publish\n");
    debug::outputNarrow("notepad");
    EXPECT_EQ(capture.lines(), (std::vector<std::string>{"Service did publish\n", "notepad"}));
}

// Listeners come and go while another thread writes lines: a listener that has been taken
// away must not be called afterwards (under ASan a late call is a use after free).
TEST(DebugOutput, ListenerThatIsGoneIsNeverCalled) {
    std::atomic<bool> writing{true};
    std::thread writer([&] {
        while (writing.load()) {
            debug::output(L"Select: readySockets == 0\n");
        }
    });
    for (int round = 0; round < 2000; ++round) {
        auto capture = std::make_unique<DebugCapture>();
        std::this_thread::yield();
        capture.reset();
    }
    writing.store(false);
    writer.join();
}

}  // namespace
}  // namespace pellvane::testing
