// Records built for the pad client's keys, injected with SendInput, reach the window in
// front as the same scan codes and flags, in order.
#include <gtest/gtest.h>

#include "delegates/key_injection.h"
#include "delegates/key_injector_thread.h"
#include "platform/keyboard.h"
#include "tests/delegates/delegate_test_support.h"
#include "tests/delegates/win32/test_window.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

struct Expected {
    unsigned scanCode;
    bool extended;
    bool released;
};

std::vector<Expected> observed(const std::vector<KeyMessage>& keys) {
    std::vector<Expected> seen;
    for (const KeyMessage& key : keys) {
        seen.push_back({key.scanCode, key.extended, key.released});
    }
    return seen;
}

bool operator==(const Expected& a, const Expected& b) {
    return a.scanCode == b.scanCode && a.extended == b.extended && a.released == b.released;
}

void PrintTo(const Expected& e, std::ostream* out) {
    *out << "{scan 0x" << std::hex << e.scanCode << (e.extended ? " ext" : "")
         << (e.released ? " up" : " down") << "}";
}

class SendInputToWindow : public ::testing::Test {
  protected:
    void SetUp() override {
        if (windowsUnavailable()) {
            GTEST_SKIP() << "no X display for Wine's windows";
        }
        if ((keyboard->currentLayout() & 0xFFFF) != 0x0409) {
            GTEST_SKIP() << "the input language here is not US English";
        }
        window = std::make_unique<TestWindow>();
        ASSERT_TRUE(window->bringToFront());
        window->pump(100ms);
        window->keys.clear();
        window->characters.clear();
    }

    void inject(std::uint32_t type, const std::vector<wire::KeyEntry>& entries) {
        keys::injectKeys(nullptr, keyMessage(type, entries), *keyboard);
        window->pump(150ms);
    }

    std::unique_ptr<keyboard::Keyboard> keyboard = keyboard::createSystemKeyboard();
    std::unique_ptr<TestWindow> window;
};

TEST_F(SendInputToWindow, ShiftedLetterAndExtendedKeysArriveAsSent) {
    inject(wire::KeyDown, {character(u'A')});
    inject(wire::KeyUp, {character(u'A')});
    inject(wire::KeyDown, {keyAt(76), keyAt(123)});
    inject(wire::KeyUp, {keyAt(76), keyAt(123)});
    const std::vector<Expected> expected = {
        {0x2A, false, false}, {0x1E, false, false}, {0x2A, false, true}, {0x1E, false, true},
        {0x1C, true, false},  {0x4B, true, false},  {0x1C, true, true},  {0x4B, true, true},
    };
    EXPECT_EQ(observed(window->keys), expected);
    // The virtual key of a scan-code record is derived by the system; Windows does so, while
    // Wine leaves it 0, so only the scan codes and flags are compared.
}

TEST_F(SendInputToWindow, UnicodeRecordTypesTheCharacter) {
    inject(wire::KeyDown, {character(0x4E2D)});
    inject(wire::KeyUp, {character(0x4E2D)});
    EXPECT_EQ(window->characters, std::vector<wchar_t>{static_cast<wchar_t>(0x4E2D)});
    ASSERT_FALSE(window->keys.empty());
    EXPECT_EQ(window->keys[0].virtualKey, static_cast<WPARAM>(VK_PACKET));
}

// Typing on the injector thread ends at a stop, between two records, and lets go of the key
// that the message held down.
TEST_F(SendInputToWindow, StoppedTypingEndsWithTheHeldKeyReleased) {
    keys::KeyInjectorThread injector(*keyboard);
    const std::vector<wire::KeyEntry> entries(100, keyAt(0));  // two seconds of A
    ASSERT_TRUE(injector.enqueue(nullptr, keyMessage(wire::KeyDown, entries), {}));
    window->pump(300ms);
    injector.stopTyping();
    window->pump(300ms);
    const std::vector<Expected> seen = observed(window->keys);
    ASSERT_GE(seen.size(), 2u);
    EXPECT_LT(seen.size(), entries.size());
    for (std::size_t i = 0; i < seen.size(); ++i) {
        EXPECT_EQ(seen[i], (Expected{0x1E, false, i + 1 == seen.size()})) << i;
    }
}

}  // namespace
}  // namespace pellvane::testing
