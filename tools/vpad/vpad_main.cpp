// pellvane-vpad: the virtual game controller of Pellvane Server on Linux (see --help).
#include <fcntl.h>
#include <poll.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>

#include "platform/posix/device_paths.h"
#include "platform/posix/file_descriptor.h"
#include "platform/posix/uinput_device.h"
#include "tools/vpad/gamepad_mapping.h"
#include "tools/vpad/uhid_device.h"
#include "tools/vpad/virtual_pad.h"

namespace {

constexpr char helpText[] =
    "Usage: pellvane-vpad [--debug]\n"
    "\n"
    "Presents the virtual game controller that Pellvane Server drives: a HID device\n"
    "(vendor 0x00FF, product 0xBACC, made through /dev/uhid) that the server finds\n"
    "among the hidraw devices, and a game controller (made through /dev/uinput) that\n"
    "games see and that the server's reports move. Start it before pellvane-server;\n"
    "it runs until SIGINT (Ctrl-C), SIGTERM or SIGHUP, and the device goes with it.\n"
    "\n"
    "Options:\n"
    "  --debug  print each event from the kernel on standard error\n"
    "  --help   show this text and exit\n";

constexpr char accessHint[] =
    "Load the uhid and uinput modules and install the udev rule that the README names.";

// The quit signals, taken through a file so that the loop waits for them with the device.
pellvane::posix::FileDescriptor quitSignalFile() {
    sigset_t signals;
    sigemptyset(&signals);
    for (const int signal : {SIGINT, SIGTERM, SIGHUP}) {
        sigaddset(&signals, signal);
    }
    if (sigprocmask(SIG_BLOCK, &signals, nullptr) != 0) {
        return {};
    }
    return pellvane::posix::FileDescriptor(signalfd(-1, &signals, SFD_CLOEXEC));
}

// Handles the device's events until a quit signal; false when the device file failed.
bool serve(pellvane::vpad::VirtualPad& pad, int deviceFile, int signalFile) {
    pollfd watched[2] = {{deviceFile, POLLIN, 0}, {signalFile, POLLIN, 0}};
    for (;;) {
        if (::poll(watched, 2, -1) < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        if (watched[1].revents != 0) {
            return true;
        }
        if (watched[0].revents != 0 && !pad.handleNextEvent()) {
            return false;
        }
    }
}

}  // namespace

int main(int argc, char** argv) {
    using namespace pellvane;
    bool debug = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--debug") {
            debug = true;
        } else if (argument == "--help" || argument == "-h") {
            std::fputs(helpText, stdout);
            return 0;
        } else {
            std::fprintf(stderr, "pellvane-vpad: unknown option '%s'\n%s", argv[i], helpText);
            return 2;
        }
    }

    const posix::FileDescriptor signalFile = quitSignalFile();
    if (!signalFile) {
        std::perror("pellvane-vpad: cannot set up signal handling");
        return 1;
    }
    std::string error;
    const auto gamepad = input::UinputDevice::create(vpad::gamepadSpec(), error);
    if (gamepad == nullptr) {
        std::fprintf(stderr, "pellvane-vpad: no game controller (%s). %s\n", error.c_str(),
                     accessHint);
        return 1;
    }
    const std::string uhidPath = platform::devicePath("uhid");
    posix::FileDescriptor deviceFile(::open(uhidPath.c_str(), O_RDWR | O_CLOEXEC));
    if (!deviceFile) {
        std::fprintf(stderr, "pellvane-vpad: cannot open %s: %s. %s\n", uhidPath.c_str(),
                     std::strerror(errno), accessHint);
        return 1;
    }
    vpad::UhidDevice hid(std::move(deviceFile));
    vpad::VirtualPad pad(hid, *gamepad, stderr, debug);
    if (!pad.start()) {
        std::fprintf(stderr, "pellvane-vpad: %s refused the device: %s\n", uhidPath.c_str(),
                     std::strerror(errno));
        return 1;
    }
    std::printf("pellvane-vpad: the virtual controller is present until this program ends\n");
    std::fflush(stdout);

    const bool served = serve(pad, hid.fd(), signalFile.get());
    if (!served) {
        std::fprintf(stderr, "pellvane-vpad: %s failed: %s\n", uhidPath.c_str(),
                     std::strerror(errno));
    }
    pad.stop();
    return served ? 0 : 1;
}
