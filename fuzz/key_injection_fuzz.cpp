// Any KeyDown or KeyUp message through injectKeys, against an in-memory keyboard with a
// US-like layout that records instead of pausing.
//
// Input: one settings byte (bit 0 KeyUp rather than KeyDown, bit 1 keys blocked), then
// the message; its size and type fields are set as the server hands such a message on.
#include <cstdint>
#include <vector>

#include "delegates/key_injection.h"
#include "fuzz/support/fuzz_message.h"
#include "fuzz/support/require.h"
#include "server/zarvo_server.h"
#include "tests/fakes/fake_keyboard.h"

namespace {

using namespace pellvane;

using pellvane::fuzzing::require;

void describeLayout(testing::FakeKeyboard& keyboard) {
    for (char16_t c = u'a'; c <= u'z'; ++c) {
        const auto key = static_cast<std::uint8_t>(0x41 + (c - u'a'));
        keyboard.setCharacter(c, key);
        keyboard.setCharacter(static_cast<char16_t>(c - 0x20), key, 0x01);
    }
    keyboard.setCharacter(u'.', 0xBE, 0x01);  // a layout where "." needs Shift
    keyboard.setCharacter(u'@', 0x32, 0x06);  // Ctrl and Alt
    keyboard.setCharacter(u'~', 0xC0, 0xFF);  // shift bits above Alt
    for (std::uint32_t vk = 0; vk < 256; vk += 3) {
        keyboard.setScanCode(vk, vk / 2 + 1);
    }
}

wire::AppNameRecord named(std::string_view name) {
    wire::AppNameRecord record;
    record.setName(name);
    return record;
}

// Made once: each run only clears what the keyboard recorded.
struct Setup {
    Setup() {
        describeLayout(keyboard);
        server.keyFilter().replaceForegroundApp(named("game"));
    }
    testing::FakeKeyboard keyboard;
    ZarvoServer server{"FuzzHost", "_kesp._tcp", ""};
    const wire::AppNameRecord inFront = named("game");
    const wire::AppNameRecord elsewhere = named("other");
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    static Setup setup;
    const bool release = (data[0] & 1) != 0;
    const bool blocked = (data[0] & 2) != 0;
    const ReceivedMessage message =
        fuzzing::messageOfType({data + 1, size - 1}, release ? wire::KeyUp : wire::KeyDown);

    setup.server.keyFilter().applyWantedApp(blocked ? &setup.elsewhere : &setup.inFront);
    keys::injectKeys(&setup.server, message, setup.keyboard);

    const auto entries = wire::readKeyEntries(message);
    require(entries.size() <= (message.bytes.size() - wire::headerSize) / wire::keyEntrySize);
    require(entries.size() <= message.header.argument);
    const auto records = setup.keyboard.records();
    const int pauses = setup.keyboard.pauseCount();
    const int beeps = setup.keyboard.beepCount();
    const int foreignLookups = setup.keyboard.foreignLayoutLookups();
    setup.keyboard.clearEvents();
    if (blocked) {
        require(records.empty());
        require(pauses == 0);
        require(beeps == (release ? 0 : 1));
        return 0;
    }
    require(beeps == 0);
    require(records.size() <= 4 * entries.size());
    require(pauses == (records.empty() ? 0 : static_cast<int>(records.size()) - 1));
    for (const keyboard::KeyRecord& record : records) {
        require((record.dwFlags & ~0xFu) == 0);
        require(((record.dwFlags & keyboard::keyUp) != 0) == release);
        const bool unicode = (record.dwFlags & keyboard::unicode) != 0;
        require(!(unicode && (record.dwFlags & keyboard::scanCode) != 0));
        require(!unicode || record.wVk == 0);
    }
    require(foreignLookups == 0);
    return 0;
}
