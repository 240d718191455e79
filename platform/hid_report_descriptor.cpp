#include "platform/hid_report_descriptor.h"

#include <optional>

namespace pellvane::platform {
namespace {

// Item prefix layout (HID 1.11, 6.2.2.2): bits 0-1 size code, bits 2-3 type, bits 4-7 tag.
constexpr std::uint8_t longItemPrefix = 0xFE;
constexpr std::uint8_t typeMain = 0;
constexpr std::uint8_t typeGlobal = 1;
constexpr std::uint8_t typeLocal = 2;
constexpr std::uint8_t tagCollection = 0xA;
constexpr std::uint8_t tagEndCollection = 0xC;
constexpr std::uint8_t tagUsagePage = 0x0;
constexpr std::uint8_t tagPush = 0xA;
constexpr std::uint8_t tagPop = 0xB;
constexpr std::uint8_t tagUsage = 0x0;
constexpr std::uint32_t applicationCollection = 1;
// Real descriptors push a level or two; a deep stack only comes from a broken or hostile one.
constexpr std::size_t pushLimit = 32;

struct ShortItem {
    std::uint8_t type = 0;
    std::uint8_t tag = 0;
    std::size_t dataSize = 0;
    std::uint32_t data = 0;
};

struct GlobalState {
    std::uint16_t usagePage = 0;
};

// The first Usage since the last main item names the collection that the next main item opens.
struct LocalState {
    std::optional<std::uint32_t> usage;
    bool extended = false;  // a 4-byte Usage carries its own page in the high half
};

std::size_t dataSizeOf(std::uint8_t prefix) {
    constexpr std::size_t sizes[4] = {0, 1, 2, 4};
    return sizes[prefix & 0x3];
}

std::uint32_t littleEndian(std::span<const std::uint8_t> bytes) {
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        value |= static_cast<std::uint32_t>(bytes[i]) << (8 * i);
    }
    return value;
}

HidUsage collectionUsage(const LocalState& local, const GlobalState& global) {
    if (!local.usage) {
        return {global.usagePage, 0};
    }
    if (local.extended) {
        return {static_cast<std::uint16_t>(*local.usage >> 16),
                static_cast<std::uint16_t>(*local.usage & 0xFFFF)};
    }
    return {global.usagePage, static_cast<std::uint16_t>(*local.usage & 0xFFFF)};
}

class Parser {
  public:
    explicit Parser(std::span<const std::uint8_t> descriptor) : bytes_(descriptor) {}

    DescriptorCollections run() {
        std::size_t offset = 0;
        while (offset < bytes_.size() && result_.fault == DescriptorFault::none) {
            offset = step(offset);
        }
        if (result_.fault == DescriptorFault::none && depth_ != 0) {
            result_.fault = DescriptorFault::unclosedCollection;
        }
        return result_;
    }

  private:
    // Handles the item at `offset`; returns the offset of the next one.
    std::size_t step(std::size_t offset) {
        const std::uint8_t prefix = bytes_[offset];
        const std::size_t left = bytes_.size() - offset - 1;
        if (prefix == longItemPrefix) {
            // Long items carry no meaning for collections; only their length matters.
            if (left < 2 || left - 2 < bytes_[offset + 1]) {
                result_.fault = DescriptorFault::truncatedItem;
                return bytes_.size();
            }
            return offset + 3 + bytes_[offset + 1];
        }
        ShortItem item;
        item.type = static_cast<std::uint8_t>((prefix >> 2) & 0x3);
        item.tag = static_cast<std::uint8_t>(prefix >> 4);
        item.dataSize = dataSizeOf(prefix);
        if (left < item.dataSize) {
            result_.fault = DescriptorFault::truncatedItem;
            return bytes_.size();
        }
        item.data = littleEndian(bytes_.subspan(offset + 1, item.dataSize));
        apply(item);
        return offset + 1 + item.dataSize;
    }

    void apply(const ShortItem& item) {
        switch (item.type) {
            case typeMain:
                applyMain(item);
                local_ = LocalState{};
                break;
            case typeGlobal:
                applyGlobal(item);
                break;
            case typeLocal:
                if (item.tag == tagUsage && !local_.usage) {
                    local_.usage = item.data;
                    local_.extended = item.dataSize == 4;
                }
                break;
            default:
                break;  // reserved item type: skipped by its size
        }
    }

    void applyMain(const ShortItem& item) {
        if (item.tag == tagCollection) {
            if (depth_ == 0 && (item.data & 0xFF) == applicationCollection) {
                result_.applications.push_back(collectionUsage(local_, global_));
            }
            ++depth_;
        } else if (item.tag == tagEndCollection) {
            if (depth_ == 0) {
                result_.fault = DescriptorFault::unmatchedEnd;
                return;
            }
            --depth_;
        }
    }

    void applyGlobal(const ShortItem& item) {
        if (item.tag == tagUsagePage) {
            global_.usagePage = static_cast<std::uint16_t>(item.data & 0xFFFF);
        } else if (item.tag == tagPush) {
            if (stack_.size() >= pushLimit) {
                result_.fault = DescriptorFault::pushTooDeep;
                return;
            }
            stack_.push_back(global_);
        } else if (item.tag == tagPop) {
            if (stack_.empty()) {
                result_.fault = DescriptorFault::popWithoutPush;
                return;
            }
            global_ = stack_.back();
            stack_.pop_back();
        }
    }

    std::span<const std::uint8_t> bytes_;
    DescriptorCollections result_;
    GlobalState global_;
    LocalState local_;
    std::vector<GlobalState> stack_;
    std::size_t depth_ = 0;
};

}  // namespace

DescriptorCollections parseTopLevelCollections(std::span<const std::uint8_t> descriptor) {
    return Parser(descriptor).run();
}

}  // namespace pellvane::platform
