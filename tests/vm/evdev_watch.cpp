// Prints the events of the input device with the given name, one "TYPE CODE VALUE" line
// each (numbers, SYN_REPORT included), until it is killed. Waits up to 30 s for the device
// to appear, and says "watching eventN" on standard error once it reads.
#include <fcntl.h>
#include <linux/input.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

namespace {

std::string findNode(const std::string& name) {
    for (int n = 0; n < 64; ++n) {
        const std::string node = "event" + std::to_string(n);
        std::ifstream file("/sys/class/input/" + node + "/device/name");
        std::string found;
        if (std::getline(file, found) && found == name) {
            return node;
        }
    }
    return {};
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fputs("usage: vm-evdev-watch DEVICE-NAME\n", stderr);
        return 2;
    }
    std::string node;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while ((node = findNode(argv[1])).empty()) {
        if (std::chrono::steady_clock::now() > deadline) {
            std::fprintf(stderr, "vm-evdev-watch: no device named %s\n", argv[1]);
            return 1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    const int fd = ::open(("/dev/input/" + node).c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        std::perror("vm-evdev-watch: open");
        return 1;
    }
    std::fprintf(stderr, "watching %s\n", node.c_str());
    input_event event{};
    while (::read(fd, &event, sizeof event) == static_cast<ssize_t>(sizeof event)) {
        std::printf("%u %u %d\n", event.type, event.code, event.value);
        std::fflush(stdout);
    }
    return 0;
}
