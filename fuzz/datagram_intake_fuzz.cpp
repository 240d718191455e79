// Datagrams of any shape through the datagram intake of a pad or channel service, from the
// admitted host or from a host that never connected.
//
// Input: one settings byte (bit 0 channel service, bit 1 admit a client first), then
// datagrams of a two-byte length, a source byte (bit 0: from the foreign host) and that
// many bytes.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <vector>

#include "fuzz/support/intake_driver.h"

namespace {

using pellvane::Message;
namespace wire = pellvane::wire;

void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    pellvane::fuzzing::IntakeSettings settings;
    settings.autoAdmit = (data[0] & 1) != 0;
    const bool admitFirst = (data[0] & 2) != 0;
    pellvane::fuzzing::IntakeDriver driver(settings);
    bool admitted = false;
    if (admitFirst && driver.connectClient()) {
        driver.feed(wire::buildHello("fuzz pad"));
        admitted = driver.delegate().count("admit") == 1;
    }
    const std::size_t eventsBefore = driver.delegate().messages().size();

    std::vector<Message> expected;
    std::size_t position = 1;
    while (position + 3 <= size) {
        const std::size_t length = data[position] | (data[position + 1] << 8);
        const bool foreign = (data[position + 2] & 1) != 0;
        position += 3;
        const std::size_t take = std::min(length, size - position);
        const std::span<const std::uint8_t> datagram(data + position, take);
        position += take;
        driver.datagram(datagram, foreign);
        const bool sourceAccepted = settings.autoAdmit || (admitted && !foreign);
        if (sourceAccepted && wire::isAcceptableDatagram(datagram)) {
            expected.emplace_back(datagram.begin(), datagram.end());
        }
    }
    const auto messages = driver.delegate().messages();
    require(messages.size() >= eventsBefore);
    const std::vector<Message> delivered(
        messages.begin() + static_cast<std::ptrdiff_t>(eventsBefore), messages.end());
    require(delivered == expected);
    return 0;
}
