#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "platform/hid_report_descriptor.h"

namespace pellvane::platform {
namespace {

using Bytes = std::vector<std::uint8_t>;
using Usages = std::vector<HidUsage>;

// The USB boot keyboard: the usage page changes inside the collection.
const Bytes bootKeyboard = {
    0x05, 0x01, 0x09, 0x06, 0xA1, 0x01, 0x05, 0x07, 0x19, 0xE0, 0x29, 0xE7, 0x15, 0x00, 0x25, 0x01,
    0x75, 0x01, 0x95, 0x08, 0x81, 0x02, 0x95, 0x01, 0x75, 0x08, 0x81, 0x01, 0x95, 0x05, 0x75, 0x01,
    0x05, 0x08, 0x19, 0x01, 0x29, 0x05, 0x91, 0x02, 0x95, 0x01, 0x75, 0x03, 0x91, 0x01, 0x95, 0x06,
    0x75, 0x08, 0x15, 0x00, 0x25, 0x65, 0x05, 0x07, 0x19, 0x00, 0x29, 0x65, 0x81, 0x00, 0xC0,
};

// A 16-button gamepad with four axes and a hat, inside a physical collection; 2-byte data
// (Physical Maximum 315) and a unit item on the way.
const Bytes gamepad = {
    0x05, 0x01, 0x09, 0x05, 0xA1, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01, 0x29, 0x10, 0x15,
    0x00, 0x25, 0x01, 0x75, 0x01, 0x95, 0x10, 0x81, 0x02, 0x05, 0x01, 0x09, 0x30, 0x09, 0x31,
    0x09, 0x32, 0x09, 0x35, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x04, 0x81, 0x02, 0x09,
    0x39, 0x15, 0x00, 0x25, 0x07, 0x35, 0x00, 0x46, 0x3B, 0x01, 0x65, 0x14, 0x75, 0x04, 0x95,
    0x01, 0x81, 0x42, 0x75, 0x04, 0x95, 0x01, 0x81, 0x03, 0xC0, 0xC0,
};

// The virtual controller's shape: two vendor collections with report IDs, the first taking
// a 63-byte output report.
const Bytes twoVendorCollections = {
    0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x85, 0x40, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08,
    0x95, 0x3F, 0x09, 0x01, 0x91, 0x02, 0xC0, 0x06, 0x00, 0xFF, 0x09, 0x02, 0xA1, 0x01, 0x85, 0x02,
    0x09, 0x02, 0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, 0x95, 0x3F, 0x81, 0x02, 0xC0,
};

// A mouse and a vendor collection, as a receiver presents them: the vendor page is pushed
// and popped around it, and the mouse nests an application collection of its own.
const Bytes mouseAndVendor = {
    0x05, 0x01, 0x09, 0x02, 0xA1, 0x01, 0x09, 0x01, 0xA1, 0x00, 0x05, 0x09, 0x19, 0x01, 0x29, 0x03,
    0x15, 0x00, 0x25, 0x01, 0x95, 0x03, 0x75, 0x01, 0x81, 0x02, 0x95, 0x01, 0x75, 0x05, 0x81, 0x01,
    0x05, 0x01, 0x09, 0x30, 0x09, 0x31, 0x15, 0x81, 0x25, 0x7F, 0x75, 0x08, 0x95, 0x02, 0x81, 0x06,
    0x09, 0x05, 0xA1, 0x01, 0xC0, 0xC0, 0xC0, 0xA4, 0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0x75,
    0x08, 0x95, 0x06, 0x09, 0x01, 0x81, 0x00, 0xC0, 0xB4, 0x09, 0x80, 0xA1, 0x01, 0xC0,
};

TEST(ReportDescriptor, RealWorldDescriptorsNameTheirTopLevelApplications) {
    struct Case {
        const char* name;
        const Bytes& bytes;
        Usages expected;
    };
    const Case cases[] = {
        {"boot keyboard", bootKeyboard, {{0x01, 0x06}}},
        {"gamepad", gamepad, {{0x01, 0x05}}},
        {"two vendor collections", twoVendorCollections, {{0xFF00, 1}, {0xFF00, 2}}},
        {"mouse and vendor", mouseAndVendor, {{0x01, 0x02}, {0xFF00, 0x01}, {0x01, 0x80}}},
    };
    for (const Case& c : cases) {
        const auto parsed = parseTopLevelCollections(c.bytes);
        EXPECT_EQ(parsed.fault, DescriptorFault::none) << c.name;
        EXPECT_EQ(parsed.applications, c.expected) << c.name;
    }
}

TEST(ReportDescriptor, UsageForms) {
    // A 4-byte usage carries its own page.
    EXPECT_EQ(
        parseTopLevelCollections(Bytes{0x05, 0x01, 0x0B, 0x02, 0x00, 0x00, 0xFF, 0xA1, 0x01, 0xC0})
            .applications,
        (Usages{{0xFF00, 2}}));
    // A short usage takes the page declared last before the main item.
    EXPECT_EQ(parseTopLevelCollections(Bytes{0x09, 0x01, 0x06, 0x00, 0xFF, 0xA1, 0x01, 0xC0})
                  .applications,
              (Usages{{0xFF00, 1}}));
    // The first usage names the collection; no usage at all names usage 0.
    EXPECT_EQ(parseTopLevelCollections(
                  Bytes{0x05, 0x01, 0x09, 0x04, 0x09, 0x05, 0xA1, 0x01, 0xC0, 0xA1, 0x01, 0xC0})
                  .applications,
              (Usages{{0x01, 0x04}, {0x01, 0x00}}));
    // A top-level physical collection is not an application.
    EXPECT_TRUE(parseTopLevelCollections(Bytes{0x05, 0x01, 0x09, 0x01, 0xA1, 0x00, 0xC0})
                    .applications.empty());
}

TEST(ReportDescriptor, LongItemsAreSkippedByTheirLength) {
    // The long item's data holds bytes that would open a collection if read as items.
    const Bytes bytes = {0xFE, 0x03, 0x10, 0xA1, 0x01, 0xA1, 0x06,
                         0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xC0};
    const auto parsed = parseTopLevelCollections(bytes);
    EXPECT_EQ(parsed.fault, DescriptorFault::none);
    EXPECT_EQ(parsed.applications, (Usages{{0xFF00, 1}}));
}

// Each cut is copied into a buffer of exactly its length, so a read past the end would show
// under the address sanitizer. A cut never yields the only collection without a fault; a cut
// between top-level collections is a shorter, sound descriptor.
TEST(ReportDescriptor, TruncationsAreFaultsAndStayInsideTheBuffer) {
    for (const Bytes* whole : {&bootKeyboard, &gamepad}) {
        for (std::size_t size = 1; size < whole->size(); ++size) {
            const Bytes cut(whole->begin(), whole->begin() + size);
            const auto parsed = parseTopLevelCollections(cut);
            if (parsed.fault == DescriptorFault::none) {
                EXPECT_TRUE(parsed.applications.empty()) << size;
            } else {
                EXPECT_TRUE(parsed.fault == DescriptorFault::truncatedItem ||
                            parsed.fault == DescriptorFault::unclosedCollection)
                    << size;
            }
        }
    }
    for (const Bytes* whole : {&twoVendorCollections, &mouseAndVendor}) {
        const Usages all = parseTopLevelCollections(*whole).applications;
        for (std::size_t size = 1; size < whole->size(); ++size) {
            const Bytes cut(whole->begin(), whole->begin() + size);
            const auto parsed = parseTopLevelCollections(cut);
            ASSERT_LE(parsed.applications.size(), all.size()) << size;
            EXPECT_TRUE(
                std::equal(parsed.applications.begin(), parsed.applications.end(), all.begin()))
                << size;
        }
    }
    EXPECT_EQ(parseTopLevelCollections(Bytes{0x06, 0x00}).fault, DescriptorFault::truncatedItem);
    EXPECT_EQ(parseTopLevelCollections(Bytes{0x0B, 0x01, 0x00, 0x00}).fault,
              DescriptorFault::truncatedItem);
    EXPECT_EQ(parseTopLevelCollections(Bytes{0xFE}).fault, DescriptorFault::truncatedItem);
    EXPECT_EQ(parseTopLevelCollections(Bytes{0xFE, 0x05, 0x00, 0x01}).fault,
              DescriptorFault::truncatedItem);
    EXPECT_EQ(parseTopLevelCollections(Bytes{}).fault, DescriptorFault::none);
}

TEST(ReportDescriptor, UnbalancedItemsAreFaults) {
    EXPECT_EQ(parseTopLevelCollections(Bytes{0xC0}).fault, DescriptorFault::unmatchedEnd);
    EXPECT_EQ(parseTopLevelCollections(Bytes{0xA1, 0x01, 0xC0, 0xC0}).fault,
              DescriptorFault::unmatchedEnd);
    EXPECT_EQ(parseTopLevelCollections(Bytes{0xB4}).fault, DescriptorFault::popWithoutPush);
    EXPECT_EQ(parseTopLevelCollections(Bytes(64, 0xA4)).fault, DescriptorFault::pushTooDeep);
    // What came before a fault is still reported.
    const auto parsed =
        parseTopLevelCollections(Bytes{0x06, 0x00, 0xFF, 0x09, 0x01, 0xA1, 0x01, 0xC0, 0xB4});
    EXPECT_EQ(parsed.applications, (Usages{{0xFF00, 1}}));
    EXPECT_EQ(parsed.fault, DescriptorFault::popWithoutPush);
}

}  // namespace
}  // namespace pellvane::platform
