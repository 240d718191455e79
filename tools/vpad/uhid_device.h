// A HID device made in user space through /dev/uhid: each write hands the kernel one event
// (create, destroy, the answers to report requests), each read takes one event from it
// (start, open, output reports, report requests). Any file that keeps those boundaries will
// do; tests hand it one end of a socket pair.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/posix/file_descriptor.h"

namespace pellvane::vpad {

struct UhidDeviceInfo {
    std::string name;
    std::uint16_t bus = 0;
    std::uint32_t vendor = 0;
    std::uint32_t product = 0;
    std::uint32_t version = 0;
    std::span<const std::uint8_t> descriptor;
};

enum class UhidEventKind { start, stop, open, close, output, getReport, setReport, other };

// The report types of report requests, as uhid numbers them.
enum class UhidReportType : std::uint8_t { feature = 0, output = 1, input = 2 };

struct UhidEvent {
    UhidEventKind kind = UhidEventKind::other;
    // Report requests: the number the answer must carry, and the report asked for.
    std::uint32_t requestId = 0;
    std::uint8_t reportNumber = 0;
    UhidReportType reportType = UhidReportType::feature;
    // Output reports and set-report requests: the report, its ID first.
    std::vector<std::uint8_t> data;
};

class UhidDevice {
  public:
    // Takes the open file; it is closed with the object.
    explicit UhidDevice(posix::FileDescriptor file);

    int fd() const { return file_.get(); }

    bool create(const UhidDeviceInfo& info);
    bool destroy();
    // The next event, waiting for it; nothing when the file failed or was closed.
    std::optional<UhidEvent> read();
    // `error` is 0 or an errno value the kernel passes on to whoever asked.
    bool answerGetReport(std::uint32_t requestId, std::uint16_t error,
                         std::span<const std::uint8_t> report);
    bool answerSetReport(std::uint32_t requestId, std::uint16_t error);

  private:
    posix::FileDescriptor file_;
};

}  // namespace pellvane::vpad
