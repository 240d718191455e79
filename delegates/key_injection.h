// KeyDown and KeyUp messages turned into keyboard input records and injected one by one.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/keyboard.h"
#include "server/wire_protocol.h"

namespace pellvane {
class ZarvoServer;
}

namespace pellvane::keys {

// Applications that poll the keyboard state miss records that follow each other closely.
inline constexpr std::uint32_t pauseBetweenRecordsMs = 21;
inline constexpr std::uint32_t blockedBeepFrequency = 450;
inline constexpr std::uint32_t blockedBeepMs = 100;

// The records for the entries in typing order: modifiers before each key, at most four per
// entry. A key position outside the table yields no record.
std::vector<keyboard::KeyRecord> buildKeyRecords(std::span<const wire::KeyEntry> entries,
                                                 bool release, keyboard::Keyboard& keyboard,
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
    // Whether the pad whose message this is holds the key that `release` lets go. Without
    // a record of what pads hold, none.
    virtual bool holdsKey(const keyboard::KeyRecord&) { return false; }
};

// Injects the records in order, one per call, with the pause between two of them.
void sendRecords(std::span<const keyboard::KeyRecord> records, keyboard::Keyboard& keyboard);
void sendRecords(std::span<const keyboard::KeyRecord> records, RecordSender& sender);

// Handles one whole KeyDown or KeyUp message (any other type is ignored). While the server's
// keys are blocked a KeyDown beeps once and is not typed, and of a KeyUp only the releases of
// keys that the sender says its pad holds are typed, so that no key stays down.
void injectKeys(ZarvoServer* server, const ReceivedMessage& message, keyboard::Keyboard& keyboard);
void injectKeys(ZarvoServer* server, const ReceivedMessage& message, keyboard::Keyboard& keyboard,
                RecordSender& sender);

}  // namespace pellvane::keys
