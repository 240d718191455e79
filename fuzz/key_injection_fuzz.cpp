// Any KeyDown or KeyUp message through injectKeys, against an in-memory keyboard with a
// US-like layout.
//
// Input: one settings byte (bit 0 KeyUp rather than KeyDown, bit 1 keys blocked), then
// the message; its size and type fields are set as the server hands such a message on.
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "delegates/key_injection.h"
#include "server/zarvo_server.h"
#include "tests/fakes/fake_keyboard.h"

namespace {

using namespace pellvane;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    const bool release = (data[0] & 1) != 0;
    const bool blocked = (data[0] & 2) != 0;
    Message message(data + 1, data + size);
    if (message.size() < wire::headerSize) {
        message.resize(wire::headerSize, 0);
    }
    wire::writeU32(message, 0, static_cast<std::uint32_t>(message.size()));
    wire::writeU32(message, 4, release ? wire::KeyUp : wire::KeyDown);

    static ZarvoServer server("FuzzHost", "_kesp._tcp", "");
    server.keysBlocked.store(blocked ? 1 : 0);
    testing::FakeKeyboard keyboard;
    describeLayout(keyboard);
    keys::injectKeys(&server, message, keyboard);

    const auto entries = keys::readKeyEntries(message);
    require(entries.size() <= (message.size() - wire::headerSize) / keys::keyEntrySize);
    require(entries.size() <= wire::readU32(message, 8));
    const auto records = keyboard.records();
    if (blocked) {
        require(records.empty());
        require(keyboard.pauseCount() == 0);
        require(keyboard.beepCount() == (release ? 0 : 1));
        return 0;
    }
    require(keyboard.beepCount() == 0);
    require(records.size() <= 4 * entries.size());
    require(keyboard.pauseCount() == (records.empty() ? 0 : static_cast<int>(records.size()) - 1));
    for (const keyboard::KeyRecord& record : records) {
        require((record.dwFlags & ~0xFu) == 0);
        require(((record.dwFlags & keyboard::keyUp) != 0) == release);
        const bool unicode = (record.dwFlags & keyboard::unicode) != 0;
        require(!(unicode && (record.dwFlags & keyboard::scanCode) != 0));
        require(!unicode || record.wVk == 0);
    }
    require(keyboard.foreignLayoutLookups() == 0);
    return 0;
}
