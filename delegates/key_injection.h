// KeyDown and KeyUp messages turned into keyboard input records and injected one by one.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/keyboard.h"

namespace pellvane {
class ZarvoServer;
}

namespace pellvane::keys {

inline constexpr std::size_t keyEntrySize = 12;
// Either field may be absent; a present key position wins over the character.
inline constexpr std::uint32_t noCharacter = 0xFFFFFFFF;
inline constexpr std::uint32_t noKeyIndex = 0xFFFFFFFF;
// Applications that poll the keyboard state miss records that follow each other closely.
inline constexpr std::uint32_t pauseBetweenRecordsMs = 21;
inline constexpr std::uint32_t blockedBeepFrequency = 450;
inline constexpr std::uint32_t blockedBeepMs = 100;

struct KeyEntry {
    std::uint32_t character = noCharacter;
    std::uint32_t keyIndex = noKeyIndex;
};

// The entries that the header's count names and that lie wholly inside the message; a
// count that claims more than the message holds yields only the entries present.
std::vector<KeyEntry> readKeyEntries(std::span<const std::uint8_t> message);

// The records for the entries in typing order: modifiers before each key, at most four per
// entry. A key position outside the table yields no record.
std::vector<keyboard::KeyRecord> buildKeyRecords(std::span<const KeyEntry> entries, bool release,
                                                 keyboard::Keyboard& keyboard,
                                                 keyboard::LayoutHandle layout);

// Paces and injects the records of one message. The injector thread's sender lets a
// Disconnect or Quit end typing between two records.
class RecordSender {
  public:
    virtual ~RecordSender() = default;
    // False when typing is to stop: no further record is sent.
    virtual bool pause(std::uint32_t milliseconds) = 0;
    // False when typing is to stop and the record was not sent.
    virtual bool send(const keyboard::KeyRecord& record) = 0;
};

// Injects the records in order, one per call, with the pause between two of them.
void sendRecords(std::span<const keyboard::KeyRecord> records, keyboard::Keyboard& keyboard);
void sendRecords(std::span<const keyboard::KeyRecord> records, RecordSender& sender);

// Handles one whole KeyDown or KeyUp message. While the server's keysBlocked is set
// nothing is injected and a KeyDown beeps once.
void injectKeys(ZarvoServer* server, std::span<const std::uint8_t> message,
                keyboard::Keyboard& keyboard);
void injectKeys(ZarvoServer* server, std::span<const std::uint8_t> message,
                keyboard::Keyboard& keyboard, RecordSender& sender);

}  // namespace pellvane::keys
