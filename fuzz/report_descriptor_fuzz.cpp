// Any bytes as a HID report descriptor through the parser that names a hidraw device's
// top-level application collections.
#include <cstdint>
#include <span>

#include "fuzz/support/require.h"
#include "platform/hid_report_descriptor.h"

namespace {

using pellvane::fuzzing::require;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> descriptor(data, size);
    const auto parsed = pellvane::platform::parseTopLevelCollections(descriptor);
    // Every collection needs at least a one-byte Collection item.
    require(parsed.applications.size() <= size);
    // Reading is a pure function of the bytes.
    const auto again = pellvane::platform::parseTopLevelCollections(descriptor);
    require(again.fault == parsed.fault);
    require(again.applications == parsed.applications);
    // A descriptor cut short never reads as complete with more collections than the whole.
    if (size > 0) {
        const auto prefix =
            pellvane::platform::parseTopLevelCollections(descriptor.first(size - 1));
        require(parsed.fault != pellvane::platform::DescriptorFault::none ||
                prefix.applications.size() <= parsed.applications.size());
    }
    return 0;
}
