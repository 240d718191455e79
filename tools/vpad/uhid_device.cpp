#include "tools/vpad/uhid_device.h"

#include <linux/uhid.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <utility>

namespace pellvane::vpad {
namespace {

// The kernel takes an event shorter than the structure and fills the rest with zeros, so
// only the part that an event uses is written.
bool writeEvent(int fd, const uhid_event& event, std::size_t size) {
    for (;;) {
        const ssize_t wrote = ::write(fd, &event, size);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        return wrote == static_cast<ssize_t>(size);
    }
}

// The bytes of a report field that were received: never more than the event's own count,
// the field's capacity or what the read delivered.
std::vector<std::uint8_t> receivedData(const std::uint8_t* data, std::size_t claimed,
                                       std::size_t dataOffset, std::size_t received) {
    const std::size_t present = received > dataOffset ? received - dataOffset : 0;
    const std::size_t size = std::min({claimed, static_cast<std::size_t>(UHID_DATA_MAX), present});
    return std::vector<std::uint8_t>(data, data + size);
}

UhidEventKind kindOf(std::uint32_t type) {
    switch (type) {
        case UHID_START:
            return UhidEventKind::start;
        case UHID_STOP:
            return UhidEventKind::stop;
        case UHID_OPEN:
            return UhidEventKind::open;
        case UHID_CLOSE:
            return UhidEventKind::close;
        case UHID_OUTPUT:
            return UhidEventKind::output;
        case UHID_GET_REPORT:
            return UhidEventKind::getReport;
        case UHID_SET_REPORT:
            return UhidEventKind::setReport;
        default:
            return UhidEventKind::other;
    }
}

// Where each event's fields end, so that a short read cannot pass for a whole request.
constexpr std::size_t payloadOffset = offsetof(uhid_event, u);
constexpr std::size_t getReportEnd = payloadOffset + sizeof(uhid_get_report_req);
constexpr std::size_t setReportDataOffset = payloadOffset + offsetof(uhid_set_report_req, data);
constexpr std::size_t outputDataOffset = payloadOffset + offsetof(uhid_output_req, data);

}  // namespace

UhidDevice::UhidDevice(posix::FileDescriptor file) : file_(std::move(file)) {}

bool UhidDevice::create(const UhidDeviceInfo& info) {
    if (info.descriptor.size() > HID_MAX_DESCRIPTOR_SIZE) {
        return false;
    }
    uhid_event event{};
    event.type = UHID_CREATE2;
    auto& request = event.u.create2;
    std::strncpy(reinterpret_cast<char*>(request.name), info.name.c_str(), sizeof request.name - 1);
    request.rd_size = static_cast<std::uint16_t>(info.descriptor.size());
    request.bus = info.bus;
    request.vendor = info.vendor;
    request.product = info.product;
    request.version = info.version;
    std::copy(info.descriptor.begin(), info.descriptor.end(), request.rd_data);
    return writeEvent(file_.get(), event,
                      payloadOffset + offsetof(uhid_create2_req, rd_data) + info.descriptor.size());
}

bool UhidDevice::destroy() {
    uhid_event event{};
    event.type = UHID_DESTROY;
    return writeEvent(file_.get(), event, payloadOffset);
}

std::optional<UhidEvent> UhidDevice::read() {
    // Zeroed first: the kernel may deliver less than the whole structure.
    uhid_event raw{};
    ssize_t got = 0;
    do {
        got = ::read(file_.get(), &raw, sizeof raw);
    } while (got < 0 && errno == EINTR);
    if (got < static_cast<ssize_t>(payloadOffset)) {
        return std::nullopt;
    }
    const auto received = static_cast<std::size_t>(got);
    UhidEvent event;
    event.kind = kindOf(raw.type);
    switch (event.kind) {
        case UhidEventKind::output:
            event.data =
                receivedData(raw.u.output.data, raw.u.output.size, outputDataOffset, received);
            break;
        case UhidEventKind::getReport:
        case UhidEventKind::setReport:
            if (received < getReportEnd) {
                event.kind = UhidEventKind::other;  // too short to be answered
                break;
            }
            // The two requests begin alike: id, report number, report type.
            event.requestId = raw.u.get_report.id;
            event.reportNumber = raw.u.get_report.rnum;
            event.reportType = static_cast<UhidReportType>(raw.u.get_report.rtype);
            if (event.kind == UhidEventKind::setReport) {
                event.data = receivedData(raw.u.set_report.data, raw.u.set_report.size,
                                          setReportDataOffset, received);
            }
            break;
        default:
            break;
    }
    return event;
}

bool UhidDevice::answerGetReport(std::uint32_t requestId, std::uint16_t error,
                                 std::span<const std::uint8_t> report) {
    const std::size_t size = std::min(report.size(), static_cast<std::size_t>(UHID_DATA_MAX));
    uhid_event event{};
    event.type = UHID_GET_REPORT_REPLY;
    event.u.get_report_reply.id = requestId;
    event.u.get_report_reply.err = error;
    event.u.get_report_reply.size = static_cast<std::uint16_t>(size);
    std::copy_n(report.begin(), size, event.u.get_report_reply.data);
    return writeEvent(file_.get(), event,
                      payloadOffset + offsetof(uhid_get_report_reply_req, data) + size);
}

bool UhidDevice::answerSetReport(std::uint32_t requestId, std::uint16_t error) {
    uhid_event event{};
    event.type = UHID_SET_REPORT_REPLY;
    event.u.set_report_reply.id = requestId;
    event.u.set_report_reply.err = error;
    return writeEvent(file_.get(), event, payloadOffset + sizeof(uhid_set_report_reply_req));
}

}  // namespace pellvane::vpad
