#include "tests/shell/temporary_directory.h"

#include <atomic>
#include <chrono>
#include <random>

namespace pellvane::testing {

TemporaryDirectory::TemporaryDirectory() {
    static std::atomic<unsigned> counter{0};
    std::random_device seed;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        const std::string name = "pellvane-shell-" + std::to_string(stamp % 1000000007) + "-" +
                                 std::to_string(seed() % 100000) + "-" + std::to_string(counter++);
        path_ = std::filesystem::temp_directory_path() / name;
        if (std::filesystem::create_directory(path_)) {
            return;
        }
    }
}

TemporaryDirectory::~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

}  // namespace pellvane::testing
