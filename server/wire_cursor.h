// Field-by-field access to wire bytes. A Reader walks a received buffer and a Writer fills
// one that is already sized; each call moves a whole field or nothing, so a message that is
// shorter than its fields claim can never be read (or written) past its end.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace pellvane::wire {

class Reader {
  public:
    explicit Reader(std::span<const std::uint8_t> bytes, std::size_t offset = 0);

    // Each read returns false and leaves the cursor where it was when the field does not
    // lie wholly inside the bytes.
    [[nodiscard]] bool u16(std::uint16_t& value);
    [[nodiscard]] bool u16NetworkOrder(std::uint16_t& value);
    [[nodiscard]] bool u32(std::uint32_t& value);
    [[nodiscard]] bool f32(float& value);
    // The next `count` bytes as they are.
    [[nodiscard]] bool bytes(std::size_t count, std::span<const std::uint8_t>& field);
    [[nodiscard]] bool skip(std::size_t count);

    std::size_t position() const { return position_; }
    std::size_t remaining() const { return bytes_.size() - position_; }

  private:
    bool has(std::size_t count) const { return count <= remaining(); }

    std::span<const std::uint8_t> bytes_;
    std::size_t position_;
};

class Writer {
  public:
    explicit Writer(std::span<std::uint8_t> bytes, std::size_t offset = 0);

    // Each write returns false and writes nothing when the field does not fit.
    bool u16(std::uint16_t value);
    bool u16NetworkOrder(std::uint16_t value);
    bool u32(std::uint32_t value);
    bool f32(float value);
    bool bytes(std::span<const std::uint8_t> field);
    bool skip(std::size_t count);

    std::size_t position() const { return position_; }

  private:
    bool has(std::size_t count) const { return count <= bytes_.size() - position_; }

    std::span<std::uint8_t> bytes_;
    std::size_t position_;
};

}  // namespace pellvane::wire
