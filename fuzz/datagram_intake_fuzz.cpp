// Datagrams of any shape through the datagram intake of a pad or channel service, from the
// admitted host or from a host that never connected, all in memory.
//
// Input: one settings byte (bit 0 channel service, bit 1 admit a client first), then
// datagrams of a two-byte length, a source byte (bit 0: from the foreign host) and that
// many bytes.
#include <algorithm>
#include <cstdint>
#include <span>
#include <vector>

#include "fuzz/support/intake_driver.h"
#include "fuzz/support/require.h"
#include "server/wire_building.h"
#include "server/wire_reading.h"

namespace {

using pellvane::ReceivedMessage;
namespace wire = pellvane::wire;

using pellvane::fuzzing::require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0) {
        return 0;
    }
    pellvane::fuzzing::IntakeSettings settings;
    settings.autoAdmit = (data[0] & 1) != 0;
    const bool admitFirst = (data[0] & 2) != 0;
    static pellvane::fuzzing::IntakeDriver driver;
    driver.begin(settings);
    bool admitted = false;
    if (admitFirst && driver.connectClient()) {
        driver.feed(wire::buildHello("fuzz pad"));
        admitted = driver.delegate().admissions == 1;
    }
    const std::size_t eventsBefore = driver.delegate().messages.size();

    std::vector<std::span<const std::uint8_t>> expected;
    std::size_t position = 1;
    while (position + 3 <= size) {
        const std::size_t length = data[position] | (data[position + 1] << 8);
        const bool foreign = (data[position + 2] & 1) != 0;
        position += 3;
        const std::size_t take = std::min(length, size - position);
        const std::span<const std::uint8_t> datagram(data + position, take);
        position += take;
        driver.queueDatagram(datagram, foreign);
        const bool sourceAccepted = settings.autoAdmit || (admitted && !foreign);
        if (sourceAccepted && wire::isAcceptableDatagram(datagram)) {
            expected.push_back(datagram);
        }
    }
    driver.takeDatagrams();
    const auto& messages = driver.delegate().messages;
    require(messages.size() == eventsBefore + expected.size());
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const ReceivedMessage& delivered = messages[eventsBefore + i];
        require(std::ranges::equal(delivered.bytes, expected[i]));
        require(delivered.header == wire::readHeader(expected[i]));
    }
    driver.end();
    require(driver.heldByServer() == 0);
    return 0;
}
