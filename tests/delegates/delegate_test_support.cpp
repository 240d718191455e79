#include "tests/delegates/delegate_test_support.h"

#include "platform/sockets.h"

namespace pellvane::testing {

Message keyMessage(std::uint32_t type, const std::vector<keys::KeyEntry>& entries,
                   std::optional<std::uint32_t> argument) {
    Message message(wire::headerSize + keys::keyEntrySize * entries.size(), 0);
    wire::writeHeader(message, {static_cast<std::uint32_t>(message.size()), type,
                                argument.value_or(static_cast<std::uint32_t>(entries.size()))});
    for (std::size_t k = 0; k < entries.size(); ++k) {
        const std::size_t offset = wire::headerSize + keys::keyEntrySize * k;
        wire::writeU32(message, offset, 0xDEADBEEF);  // never read
        wire::writeU32(message, offset + 4, entries[k].character);
        wire::writeU32(message, offset + 8, entries[k].keyIndex);
    }
    return message;
}

keys::KeyEntry keyAt(std::uint32_t keyIndex) {
    return {keys::noCharacter, keyIndex};
}

keys::KeyEntry character(std::uint32_t character) {
    return {character, keys::noKeyIndex};
}

int RecordingController::openController() {
    std::lock_guard guard(mutex_);
    ++openCalls_;
    open_ = open_ || opens_;
    return open_ ? 1 : 0;
}

void RecordingController::closeController() {
    std::lock_guard guard(mutex_);
    ++closeCalls_;
    open_ = false;
}

void RecordingController::returnToRest() {
    std::lock_guard guard(mutex_);
    ++restCalls_;
}

bool RecordingController::isOpen() const {
    std::lock_guard guard(mutex_);
    return open_;
}

void RecordingController::handleGamepadEvent(std::span<const std::uint8_t> message) {
    std::lock_guard guard(mutex_);
    events_.emplace_back(message.begin(), message.end());
}

int RecordingController::openCalls() const {
    std::lock_guard guard(mutex_);
    return openCalls_;
}

int RecordingController::closeCalls() const {
    std::lock_guard guard(mutex_);
    return closeCalls_;
}

int RecordingController::restCalls() const {
    std::lock_guard guard(mutex_);
    return restCalls_;
}

std::vector<Message> RecordingController::events() const {
    std::lock_guard guard(mutex_);
    return events_;
}

ServerEnvironment::ServerEnvironment() : library_(PELLVANE_FAKE_DNSSD) {
    net::startSocketLibrary();
}

ServerEnvironment::~ServerEnvironment() {
    net::stopSocketLibrary();
}

std::unique_ptr<ZarvoServer> makeServer(ZarvoConnectionDelegate* delegate, const char* type,
                                        const char* domain) {
    auto server = std::make_unique<ZarvoServer>("Pellvane Test", type, domain);
    server->setDelegate(delegate);
    return server;
}

}  // namespace pellvane::testing
