// HID interfaces on Linux, from hidraw.
//
// What is read, with <sys> = $PELLVANE_SYSFS_ROOT (default "/sys") and <dev> =
// $PELLVANE_DEV_ROOT (default "/dev"), so that a test can present a tree of plain files:
//   <sys>/class/hidraw/                         the interfaces: entries named hidrawN, in
//                                               the order of N (other entries are ignored)
//   <sys>/class/hidraw/hidrawN/device/uevent    vendor and product, from the line
//                                               "HID_ID=<bus>:<vendor>:<product>" (hex)
//   <sys>/class/hidraw/hidrawN/device/report_descriptor
//                                               the top-level application collections
//   <dev>/hidrawN                               the interface's path; opened for reading and
//                                               writing, non-blocking; each output report is
//                                               one write() of the whole report
// Identifying reads sysfs alone, which any user may, so the list also shows devices that
// this user may not open (and that another program must not present a second time).
// A report that the device does not take within reportWriteLimit is given up, so that a
// stalled device costs the pad service a moment per report rather than its whole loop.
// Linux has no share modes, so the open cannot refuse writers the way Windows does, and an
// input-buffer count has no meaning for hidraw: setting it succeeds on any open handle.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/hid.h"
#include "platform/hid_report_descriptor.h"
#include "platform/posix/device_paths.h"
#include "platform/posix/file_descriptor.h"

namespace pellvane::platform {
namespace {

// The kernel's HID_MAX_DESCRIPTOR_SIZE.
constexpr std::size_t descriptorLimit = 4096;
// A uevent file is a few hundred bytes; the limit only keeps a broken tree from filling memory.
constexpr std::size_t ueventLimit = 64 * 1024;
constexpr std::string_view nodePrefix = "hidraw";
constexpr std::string_view hidIdKey = "HID_ID=";
constexpr std::chrono::milliseconds reportWriteLimit{50};

thread_local std::uint32_t lastErrorCode = 0;

template <class T>
T failWith(int code, T answer) {
    lastErrorCode = static_cast<std::uint32_t>(code);
    return answer;
}

std::string classFolder() {
    return sysfsRoot() + "/class/hidraw";
}
std::string deviceFile(const std::string& node, const char* file) {
    return classFolder() + "/" + node + "/device/" + file;
}

// The N of "hidrawN", or nothing for any other name (so no name can lead out of the folders).
std::optional<unsigned long> nodeNumber(std::string_view name) {
    if (name.size() <= nodePrefix.size() || name.substr(0, nodePrefix.size()) != nodePrefix) {
        return std::nullopt;
    }
    const std::string_view digits = name.substr(nodePrefix.size());
    unsigned long number = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
    if (error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return number;
}

// Reads a whole file of at most `limit` bytes; nothing (errno set) when it cannot.
std::optional<std::string> readSmallFile(const std::string& path, std::size_t limit) {
    const posix::FileDescriptor file(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (!file) {
        return std::nullopt;
    }
    std::string content;
    char chunk[4096];
    for (;;) {
        const ssize_t got = ::read(file.get(), chunk, sizeof chunk);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            return std::nullopt;
        }
        if (got == 0) {
            return content;
        }
        content.append(chunk, static_cast<std::size_t>(got));
        if (content.size() > limit) {
            errno = EFBIG;
            return std::nullopt;
        }
    }
}

std::optional<std::uint16_t> parseHex16(std::string_view text) {
    unsigned long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, 16);
    if (text.empty() || error != std::errc{} || end != text.data() + text.size() ||
        value > 0xFFFF) {
        return std::nullopt;
    }
    return static_cast<std::uint16_t>(value);
}

struct VendorProduct {
    std::uint16_t vendorId = 0;
    std::uint16_t productId = 0;
};

// "HID_ID=0003:000000FF:0000BACC": bus, vendor, product.
std::optional<VendorProduct> attributesFromUevent(std::string_view uevent) {
    std::size_t start = 0;
    while (start < uevent.size()) {
        std::size_t end = uevent.find('\n', start);
        if (end == std::string_view::npos) {
            end = uevent.size();
        }
        const std::string_view line = uevent.substr(start, end - start);
        start = end + 1;
        if (line.substr(0, hidIdKey.size()) != hidIdKey) {
            continue;
        }
        const std::string_view value = line.substr(hidIdKey.size());
        const std::size_t first = value.find(':');
        const std::size_t second =
            first == std::string_view::npos ? first : value.find(':', first + 1);
        if (second == std::string_view::npos) {
            return std::nullopt;
        }
        const auto vendor = parseHex16(value.substr(first + 1, second - first - 1));
        const auto product = parseHex16(value.substr(second + 1));
        if (!vendor || !product) {
            return std::nullopt;
        }
        return VendorProduct{*vendor, *product};
    }
    return std::nullopt;
}

// No hidraw class folder means no hidraw device (the module is not loaded): an empty set.
bool listNodes(std::vector<std::string>& nodes) {
    DIR* folder = ::opendir(classFolder().c_str());
    if (folder == nullptr) {
        return errno == ENOENT;
    }
    std::vector<std::pair<unsigned long, std::string>> numbered;
    while (const dirent* entry = ::readdir(folder)) {
        if (const auto number = nodeNumber(entry->d_name)) {
            numbered.emplace_back(*number, entry->d_name);
        }
    }
    ::closedir(folder);
    std::sort(numbered.begin(), numbered.end());
    for (auto& entry : numbered) {
        nodes.push_back(std::move(entry.second));
    }
    return true;
}

HidDeviceInfo& failed(HidDeviceInfo& info, HidIdentifyFailure failure, int error) {
    info.failure = failure;
    info.error = static_cast<std::uint32_t>(error);
    return info;
}

// Reads what identifies the node; the first step that fails, in the order in which a search
// judges them, is kept, and the vendor and product are read whatever the descriptor does.
HidDeviceInfo identify(const std::string& node) {
    HidDeviceInfo info;
    info.path = devicePath(node);
    const auto descriptor = readSmallFile(deviceFile(node, "report_descriptor"), descriptorLimit);
    const int descriptorError = descriptor ? (descriptor->empty() ? EINVAL : 0) : errno;
    const auto uevent = readSmallFile(deviceFile(node, "uevent"), ueventLimit);
    const int attributesError = uevent ? EINVAL : errno;  // EINVAL: no usable HID_ID line
    const auto attributes = uevent ? attributesFromUevent(*uevent) : std::nullopt;
    if (attributes) {
        info.vendorId = attributes->vendorId;
        info.productId = attributes->productId;
    }
    if (descriptorError != 0) {
        return failed(info, HidIdentifyFailure::descriptor, descriptorError);
    }
    if (!attributes) {
        return failed(info, HidIdentifyFailure::attributes, attributesError);
    }
    // A malformed descriptor describes no collections that can be trusted.
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(descriptor->data());
    DescriptorCollections parsed = parseTopLevelCollections(std::span(bytes, descriptor->size()));
    if (parsed.fault != DescriptorFault::none || parsed.applications.empty()) {
        return failed(info, HidIdentifyFailure::capabilities, EINVAL);
    }
    info.usages = std::move(parsed.applications);
    info.usagePage = info.usages.front().usagePage;
    info.usage = info.usages.front().usage;
    return info;
}

// <dev>/hidrawN and nothing else: no other file, no name that leads out of <dev>.
bool isNodePath(const std::string& path) {
    const std::string folder = devRoot() + "/";
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path.find('\0') == std::string::npos && nodeNumber(path.substr(folder.size()));
}

// An open node; its descriptor closes when the last user lets go, so a write that is under
// way when the handle is closed still finishes on the right file.
struct OpenNode {
    posix::FileDescriptor file;
};

class PosixHid final : public Hid {
  public:
    bool enumerate(std::vector<HidDeviceInfo>& devices) override {
        std::vector<std::string> nodes;
        if (!listNodes(nodes)) {
            return failWith(errno, false);
        }
        for (const std::string& node : nodes) {
            devices.push_back(identify(node));
        }
        return true;
    }

    HidHandle open(const std::string& path) override {
        if (!isNodePath(path)) {
            return failWith(EINVAL, invalidHidHandle);
        }
        posix::FileDescriptor file(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK));
        if (!file) {
            return failWith(errno, invalidHidHandle);
        }
        auto node = std::make_shared<OpenNode>(OpenNode{std::move(file)});
        std::lock_guard guard(lock_);
        const auto token = nextToken_++;
        handles_.emplace(token, std::move(node));
        return token;
    }

    void close(HidHandle handle) override {
        std::shared_ptr<OpenNode> node;  // declared first: the file closes after the unlock
        std::lock_guard guard(lock_);
        if (const auto found = handles_.find(handle); found != handles_.end()) {
            node = std::move(found->second);
            handles_.erase(found);
        }
    }

    bool setInputBufferCount(HidHandle handle, std::uint32_t) override {
        return openNode(handle) != nullptr || failWith(EBADF, false);
    }

    bool write(HidHandle handle, std::span<const std::uint8_t> report) override {
        const auto node = openNode(handle);
        if (!node) {
            return failWith(EBADF, false);
        }
        const auto deadline = std::chrono::steady_clock::now() + reportWriteLimit;
        std::size_t done = 0;
        while (done < report.size()) {
            const ssize_t wrote =
                ::write(node->file.get(), report.data() + done, report.size() - done);
            if (wrote < 0 && errno == EINTR) {
                continue;
            }
            if (wrote < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
                if (!waitUntilWritable(node->file.get(), deadline)) {
                    return failWith(errno, false);
                }
                continue;
            }
            if (wrote <= 0) {
                return failWith(wrote < 0 ? errno : EIO, false);
            }
            done += static_cast<std::size_t>(wrote);
        }
        return true;
    }

    std::uint32_t lastError() override { return lastErrorCode; }

  private:
    // False with errno set (ETIMEDOUT once the deadline has passed).
    static bool waitUntilWritable(int fd, std::chrono::steady_clock::time_point deadline) {
        for (;;) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) {
                errno = ETIMEDOUT;
                return false;
            }
            pollfd writable{fd, POLLOUT, 0};
            const int ready = ::poll(&writable, 1, static_cast<int>(left.count()));
            if (ready > 0) {
                return true;  // writable, or an error that the next write reports
            }
            if (ready == 0) {
                errno = ETIMEDOUT;
                return false;
            }
            if (errno != EINTR) {
                return false;
            }
        }
    }

    std::shared_ptr<OpenNode> openNode(HidHandle handle) {
        std::lock_guard guard(lock_);
        const auto found = handles_.find(handle);
        return found == handles_.end() ? nullptr : found->second;
    }

    // Guards the handle table and the token counter; never held across file or device I/O.
    std::mutex lock_;
    std::map<HidHandle, std::shared_ptr<OpenNode>> handles_;
    // Tokens start at 1 and only grow, so none is ever null, invalid or reused.
    HidHandle nextToken_ = 1;
};

}  // namespace

Hid& systemHid() {
    static PosixHid hid;
    return hid;
}

}  // namespace pellvane::platform
