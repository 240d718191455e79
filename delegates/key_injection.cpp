#include "delegates/key_injection.h"

#include "delegates/key_code_table.h"
#include "server/wire_reading.h"
#include "server/zarvo_server.h"

namespace pellvane::keys {
namespace {

using keyboard::KeyRecord;

constexpr std::uint32_t returnKey = 0x0D;
constexpr std::uint32_t separatorKey = 0x6C;  // what the table gives for keypad Enter
constexpr std::uint32_t periodCharacter = 0x2E;
constexpr std::size_t maxRecordsPerEntry = 4;

struct Modifier {
    std::uint16_t shiftBit;
    std::uint32_t virtualKey;
};
// Pressed in this order, before the key; the higher shift-state bits name no modifier.
constexpr Modifier modifiers[] = {{0x01, 0xA0}, {0x02, 0xA2}, {0x04, 0xA4}};

std::uint16_t lowWord(std::uint32_t value) {
    return static_cast<std::uint16_t>(value & 0xFFFF);
}

void appendKeyPosition(std::vector<KeyRecord>& records, std::uint32_t keyIndex,
                       std::uint32_t baseFlags, keyboard::Keyboard& keyboard,
                       keyboard::LayoutHandle layout) {
    const std::optional<std::uint16_t> virtualKey = virtualKeyAt(keyIndex);
    if (!virtualKey) {
        return;  // past the table: there is no key to press
    }
    KeyRecord record;
    record.dwFlags = baseFlags | (isExtendedKey(*virtualKey) ? keyboard::extendedKey : 0);
    if (isSentAsVirtualKey(*virtualKey)) {
        record.dwFlags &= ~keyboard::scanCode;
        record.wVk = *virtualKey;
    } else {
        // Keypad Enter has no key of its own in the lookup: it is Return, made extended.
        const std::uint32_t lookedUp = *virtualKey == separatorKey ? returnKey : *virtualKey;
        record.wScan = lowWord(keyboard.scanCodeForKey(lookedUp, layout));
    }
    records.push_back(record);
}

void appendCharacter(std::vector<KeyRecord>& records, std::uint32_t character,
                     std::uint32_t baseFlags, bool release, keyboard::Keyboard& keyboard,
                     keyboard::LayoutHandle layout) {
    const std::uint16_t key = keyboard.keyForCharacter(lowWord(character), layout);
    if (key == keyboard::noKeyForCharacter) {
        KeyRecord record;
        record.wScan = lowWord(character);
        record.dwFlags = keyboard::unicode | (release ? keyboard::keyUp : 0);
        record.dwExtraInfo = keyboard.messageExtraInfo();
        records.push_back(record);
        return;
    }
    const std::uint32_t virtualKey = key & 0xFF;
    const std::uint16_t shiftState = static_cast<std::uint16_t>(key >> 8);
    // "." goes out as its key alone: some layouts name a shift state for it, and the pad
    // client expects the plain period.
    if (character != periodCharacter) {
        for (const Modifier& modifier : modifiers) {
            if ((shiftState & modifier.shiftBit) != 0) {
                KeyRecord record;
                record.wScan = lowWord(keyboard.scanCodeForKey(modifier.virtualKey, layout));
                record.dwFlags = baseFlags;
                records.push_back(record);
            }
        }
    }
    KeyRecord record;
    record.wScan = lowWord(keyboard.scanCodeForKey(virtualKey, layout));
    record.dwFlags = baseFlags | (isExtendedKey(virtualKey) ? keyboard::extendedKey : 0);
    records.push_back(record);
}

// Types on the calling thread, pausing as the keyboard does; nothing interrupts it.
class DirectSender final : public RecordSender {
  public:
    explicit DirectSender(keyboard::Keyboard& keyboard) : keyboard_(keyboard) {}
    bool pause(std::uint32_t milliseconds) override {
        keyboard_.pause(milliseconds);
        return true;
    }
    bool send(const KeyRecord& record) override {
        keyboard_.sendRecord(record);
        return true;
    }

  private:
    keyboard::Keyboard& keyboard_;
};

}  // namespace

std::vector<KeyRecord> buildKeyRecords(std::span<const wire::KeyEntry> entries, bool release,
                                       keyboard::Keyboard& keyboard,
                                       keyboard::LayoutHandle layout) {
    const std::uint32_t baseFlags = keyboard::scanCode | (release ? keyboard::keyUp : 0);
    std::vector<KeyRecord> records;
    records.reserve(entries.size() * maxRecordsPerEntry);
    for (const wire::KeyEntry& entry : entries) {
        if (entry.keyIndex != wire::noKeyIndex) {
            appendKeyPosition(records, entry.keyIndex, baseFlags, keyboard, layout);
        } else if (entry.character != wire::noCharacter) {
            appendCharacter(records, entry.character, baseFlags, release, keyboard, layout);
        }
    }
    return records;
}

void sendRecords(std::span<const KeyRecord> records, keyboard::Keyboard& keyboard) {
    DirectSender sender(keyboard);
    sendRecords(records, sender);
}

void sendRecords(std::span<const KeyRecord> records, RecordSender& sender) {
    for (std::size_t i = 0; i < records.size(); ++i) {
        if (i > 0 && !sender.pause(pauseBetweenRecordsMs)) {
            return;
        }
        if (!sender.send(records[i])) {
            return;
        }
    }
}

void injectKeys(ZarvoServer* server, const ReceivedMessage& message, keyboard::Keyboard& keyboard) {
    DirectSender sender(keyboard);
    injectKeys(server, message, keyboard, sender);
}

void injectKeys(ZarvoServer* server, const ReceivedMessage& message, keyboard::Keyboard& keyboard,
                RecordSender& sender) {
    const std::uint32_t type = message.header.type;
    if (type != wire::KeyDown && type != wire::KeyUp) {
        return;
    }
    const bool release = type == wire::KeyUp;
    const bool blocked = server != nullptr && server->keyFilter().keysBlocked();
    if (blocked && !release) {
        keyboard.beep(blockedBeepFrequency, blockedBeepMs);
        return;
    }
    const keyboard::LayoutHandle layout = keyboard.currentLayout();
    const std::vector<wire::KeyEntry> entries = wire::readKeyEntries(message);
    std::vector<KeyRecord> records = buildKeyRecords(entries, release, keyboard, layout);
    if (blocked) {
        // A key pressed before another application came in front must not stay down and
        // repeat there; nothing else reaches that application.
        std::erase_if(records, [&](const KeyRecord& record) { return !sender.holdsKey(record); });
    }
    sendRecords(records, sender);
}

}  // namespace pellvane::keys
