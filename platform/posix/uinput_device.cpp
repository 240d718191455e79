#include "platform/posix/uinput_device.h"

#include <fcntl.h>
#include <linux/uinput.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/posix/device_paths.h"

namespace pellvane::input {
namespace {

std::string describeFailure(const std::string& what) {
    return what + ": " + std::strerror(errno);
}

// Each step names itself in the error, so that a refusal by an old or unusual kernel can be
// told apart from a missing right.
bool configure(int fd, const UinputDeviceSpec& spec, std::string& error) {
    const auto step = [&](bool ok, const char* what) {
        if (!ok) {
            error = describeFailure(std::string("uinput refused ") + what);
        }
        return ok;
    };
    if (!spec.keys.empty() && !step(::ioctl(fd, UI_SET_EVBIT, EV_KEY) == 0, "UI_SET_EVBIT")) {
        return false;
    }
    for (const std::uint16_t key : spec.keys) {
        if (!step(::ioctl(fd, UI_SET_KEYBIT, static_cast<int>(key)) == 0, "UI_SET_KEYBIT")) {
            return false;
        }
    }
    if (!spec.axes.empty() && !step(::ioctl(fd, UI_SET_EVBIT, EV_ABS) == 0, "UI_SET_EVBIT")) {
        return false;
    }
    for (const AbsoluteAxis& axis : spec.axes) {
        uinput_abs_setup setup{};
        setup.code = axis.code;
        setup.absinfo.minimum = axis.minimum;
        setup.absinfo.maximum = axis.maximum;
        setup.absinfo.value = axis.initialValue;
        if (!step(::ioctl(fd, UI_SET_ABSBIT, static_cast<int>(axis.code)) == 0, "UI_SET_ABSBIT") ||
            !step(::ioctl(fd, UI_ABS_SETUP, &setup) == 0, "UI_ABS_SETUP")) {
            return false;
        }
    }
    uinput_setup setup{};
    setup.id.bustype = spec.bus;
    setup.id.vendor = spec.vendor;
    setup.id.product = spec.product;
    setup.id.version = spec.version;
    std::strncpy(setup.name, spec.name.c_str(), UINPUT_MAX_NAME_SIZE - 1);
    return step(::ioctl(fd, UI_DEV_SETUP, &setup) == 0, "UI_DEV_SETUP") &&
           step(::ioctl(fd, UI_DEV_CREATE) == 0, "UI_DEV_CREATE");
}

}  // namespace

std::unique_ptr<UinputDevice> UinputDevice::create(const UinputDeviceSpec& spec,
                                                   std::string& error) {
    const std::string path = platform::devicePath("uinput");
    posix::FileDescriptor file(::open(path.c_str(), O_WRONLY | O_CLOEXEC));
    if (!file) {
        error = describeFailure("cannot open " + path);
        return nullptr;
    }
    if (!configure(file.get(), spec, error)) {
        return nullptr;
    }
    return std::unique_ptr<UinputDevice>(new UinputDevice(std::move(file)));
}

UinputDevice::~UinputDevice() {
    // Closing the file would remove the device as well; destroying it first says so.
    ::ioctl(file_.get(), UI_DEV_DESTROY);
}

bool UinputDevice::emit(std::span<const InputEvent> events) {
    std::vector<input_event> raw(events.size());
    for (std::size_t i = 0; i < events.size(); ++i) {
        // The kernel stamps the time when it passes the event on.
        raw[i].type = events[i].type;
        raw[i].code = events[i].code;
        raw[i].value = events[i].value;
    }
    const auto* bytes = reinterpret_cast<const char*>(raw.data());
    const std::size_t total = raw.size() * sizeof(input_event);
    std::size_t done = 0;
    while (done < total) {
        const ssize_t wrote = ::write(file_.get(), bytes + done, total - done);
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

}  // namespace pellvane::input
