#include "server/wire_cursor.h"

#include <algorithm>
#include <bit>

namespace pellvane::wire {

// A start past the end leaves nothing to read: every field then fails.
Reader::Reader(std::span<const std::uint8_t> bytes, std::size_t offset)
    : bytes_(bytes), position_(std::min(offset, bytes.size())) {}

bool Reader::u16(std::uint16_t& value) {
    if (!has(2)) {
        return false;
    }
    value = static_cast<std::uint16_t>(bytes_[position_] | (bytes_[position_ + 1] << 8));
    position_ += 2;
    return true;
}

bool Reader::u16NetworkOrder(std::uint16_t& value) {
    if (!has(2)) {
        return false;
    }
    value = static_cast<std::uint16_t>((bytes_[position_] << 8) | bytes_[position_ + 1]);
    position_ += 2;
    return true;
}

bool Reader::u32(std::uint32_t& value) {
    if (!has(4)) {
        return false;
    }
    value = 0;
    for (std::size_t i = 0; i < 4; ++i) {
        value |= static_cast<std::uint32_t>(bytes_[position_ + i]) << (8 * i);
    }
    position_ += 4;
    return true;
}

bool Reader::f32(float& value) {
    std::uint32_t bits = 0;
    if (!u32(bits)) {
        return false;
    }
    value = std::bit_cast<float>(bits);
    return true;
}

bool Reader::bytes(std::size_t count, std::span<const std::uint8_t>& field) {
    if (!has(count)) {
        return false;
    }
    field = bytes_.subspan(position_, count);
    position_ += count;
    return true;
}

bool Reader::skip(std::size_t count) {
    if (!has(count)) {
        return false;
    }
    position_ += count;
    return true;
}

Writer::Writer(std::span<std::uint8_t> bytes, std::size_t offset)
    : bytes_(bytes), position_(std::min(offset, bytes.size())) {}

bool Writer::u16(std::uint16_t value) {
    if (!has(2)) {
        return false;
    }
    bytes_[position_] = static_cast<std::uint8_t>(value & 0xFF);
    bytes_[position_ + 1] = static_cast<std::uint8_t>(value >> 8);
    position_ += 2;
    return true;
}

bool Writer::u16NetworkOrder(std::uint16_t value) {
    if (!has(2)) {
        return false;
    }
    bytes_[position_] = static_cast<std::uint8_t>(value >> 8);
    bytes_[position_ + 1] = static_cast<std::uint8_t>(value & 0xFF);
    position_ += 2;
    return true;
}

bool Writer::u32(std::uint32_t value) {
    if (!has(4)) {
        return false;
    }
    for (std::size_t i = 0; i < 4; ++i) {
        bytes_[position_ + i] = static_cast<std::uint8_t>((value >> (8 * i)) & 0xFF);
    }
    position_ += 4;
    return true;
}

bool Writer::f32(float value) {
    return u32(std::bit_cast<std::uint32_t>(value));
}

bool Writer::bytes(std::span<const std::uint8_t> field) {
    if (!has(field.size())) {
        return false;
    }
    std::copy(field.begin(), field.end(), bytes_.begin() + static_cast<std::ptrdiff_t>(position_));
    position_ += field.size();
    return true;
}

bool Writer::skip(std::size_t count) {
    if (!has(count)) {
        return false;
    }
    position_ += count;
    return true;
}

}  // namespace pellvane::wire
