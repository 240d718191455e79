#include "controller/vigem_requests.h"

#include <cstddef>

namespace pellvane::vigem {
namespace {

// Writes into a fixed-size request, one field after the other from its start.
template <std::size_t size>
class RequestWriter {
  public:
    RequestWriter() { put32(size); }  // every request starts with its own size

    RequestWriter& put16(std::uint16_t value) {
        for (int shift = 0; shift < 16; shift += 8) {
            bytes_[at_++] = static_cast<std::uint8_t>(value >> shift);
        }
        return *this;
    }
    RequestWriter& put32(std::uint32_t value) {
        for (int shift = 0; shift < 32; shift += 8) {
            bytes_[at_++] = static_cast<std::uint8_t>(value >> shift);
        }
        return *this;
    }
    RequestWriter& put8(std::uint8_t value) {
        bytes_[at_++] = value;
        return *this;
    }
    // Two's complement, as the bus reads a SHORT.
    RequestWriter& putSigned16(std::int16_t value) {
        return put16(static_cast<std::uint16_t>(value));
    }

    std::array<std::uint8_t, size> done() const { return bytes_; }

  private:
    std::array<std::uint8_t, size> bytes_{};
    std::size_t at_ = 0;
};

}  // namespace

std::array<std::uint8_t, 8> checkVersionRequest() {
    return RequestWriter<8>().put32(commonVersion).done();
}

std::array<std::uint8_t, 16> plugInRequest(std::uint32_t serial) {
    return RequestWriter<16>()
        .put32(serial)
        .put32(xbox360WiredTarget)
        .put16(xbox360VendorId)
        .put16(xbox360ProductId)
        .done();
}

std::array<std::uint8_t, 8> waitDeviceReadyRequest(std::uint32_t serial) {
    return RequestWriter<8>().put32(serial).done();
}

std::array<std::uint8_t, 8> unplugRequest(std::uint32_t serial) {
    return RequestWriter<8>().put32(serial).done();
}

std::array<std::uint8_t, 20> submitReportRequest(std::uint32_t serial, const xusb::Report& report) {
    return RequestWriter<20>()
        .put32(serial)
        .put16(report.buttons)
        .put8(report.leftTrigger)
        .put8(report.rightTrigger)
        .putSigned16(report.thumbLX)
        .putSigned16(report.thumbLY)
        .putSigned16(report.thumbRX)
        .putSigned16(report.thumbRY)
        .done();
}

}  // namespace pellvane::vigem
