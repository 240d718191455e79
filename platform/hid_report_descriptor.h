// Reads a HID report descriptor far enough to name its top-level application collections:
// what a Linux hidraw node offers instead of the per-collection capabilities of Windows.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "platform/hid.h"

namespace pellvane::platform {

enum class DescriptorFault {
    none,
    truncatedItem,       // an item's data runs past the end of the descriptor
    unmatchedEnd,        // End Collection with no collection open
    unclosedCollection,  // the descriptor ends inside a collection
    popWithoutPush,
    pushTooDeep,
};

struct DescriptorCollections {
    // Top-level application collections in descriptor order; on a fault, those read before it.
    std::vector<HidUsage> applications;
    DescriptorFault fault = DescriptorFault::none;
};

DescriptorCollections parseTopLevelCollections(std::span<const std::uint8_t> descriptor);

}  // namespace pellvane::platform
