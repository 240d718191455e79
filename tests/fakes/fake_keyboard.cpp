#include "tests/fakes/fake_keyboard.h"

namespace pellvane::testing {

void FakeKeyboard::setCharacter(char16_t character, std::uint8_t virtualKey,
                                std::uint8_t shiftState) {
    std::lock_guard guard(mutex_);
    characters_[character] = static_cast<std::uint16_t>(shiftState << 8 | virtualKey);
}

void FakeKeyboard::setScanCode(std::uint32_t virtualKey, std::uint32_t scanCode) {
    std::lock_guard guard(mutex_);
    scanCodes_[virtualKey] = scanCode;
}

void FakeKeyboard::setExtraInfo(std::uintptr_t extraInfo) {
    std::lock_guard guard(mutex_);
    extraInfo_ = extraInfo;
}

void FakeKeyboard::note(keyboard::LayoutHandle layout) {
    if (layout != layoutHandle) {
        ++foreignLayoutLookups_;
    }
}

std::uint16_t FakeKeyboard::keyForCharacter(char16_t character, keyboard::LayoutHandle layout) {
    std::lock_guard guard(mutex_);
    note(layout);
    const auto found = characters_.find(character);
    return found == characters_.end() ? keyboard::noKeyForCharacter : found->second;
}

std::uint32_t FakeKeyboard::scanCodeForKey(std::uint32_t virtualKey,
                                           keyboard::LayoutHandle layout) {
    std::lock_guard guard(mutex_);
    note(layout);
    const auto found = scanCodes_.find(virtualKey);
    return found == scanCodes_.end() ? 0 : found->second;
}

std::uintptr_t FakeKeyboard::messageExtraInfo() {
    std::lock_guard guard(mutex_);
    return extraInfo_;
}

void FakeKeyboard::sendRecord(const keyboard::KeyRecord& record) {
    std::lock_guard guard(mutex_);
    events_.push_back({Event::Kind::record, record, 0, 0});
}

void FakeKeyboard::pause(std::uint32_t milliseconds) {
    std::lock_guard guard(mutex_);
    events_.push_back({Event::Kind::pause, {}, 0, milliseconds});
}

void FakeKeyboard::beep(std::uint32_t frequency, std::uint32_t milliseconds) {
    std::lock_guard guard(mutex_);
    events_.push_back({Event::Kind::beep, {}, frequency, milliseconds});
}

std::vector<FakeKeyboard::Event> FakeKeyboard::events() const {
    std::lock_guard guard(mutex_);
    return events_;
}

std::vector<keyboard::KeyRecord> FakeKeyboard::records() const {
    std::lock_guard guard(mutex_);
    std::vector<keyboard::KeyRecord> records;
    for (const Event& event : events_) {
        if (event.kind == Event::Kind::record) {
            records.push_back(event.record);
        }
    }
    return records;
}

int FakeKeyboard::pauseCount() const {
    std::lock_guard guard(mutex_);
    int count = 0;
    for (const Event& event : events_) {
        count += event.kind == Event::Kind::pause ? 1 : 0;
    }
    return count;
}

int FakeKeyboard::beepCount() const {
    std::lock_guard guard(mutex_);
    int count = 0;
    for (const Event& event : events_) {
        count += event.kind == Event::Kind::beep ? 1 : 0;
    }
    return count;
}

int FakeKeyboard::foreignLayoutLookups() const {
    std::lock_guard guard(mutex_);
    return foreignLayoutLookups_;
}

void FakeKeyboard::clearEvents() {
    std::lock_guard guard(mutex_);
    events_.clear();
}

}  // namespace pellvane::testing
