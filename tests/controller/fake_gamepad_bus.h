// An in-memory gamepad bus: it answers as the test sets it up and keeps every control
// request it took, byte for byte.
#pragma once

#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "controller/vigem_requests.h"
#include "platform/gamepad_bus.h"

namespace pellvane::testing {

class FakeGamepadBus : public platform::GamepadBus {
  public:
    struct Request {
        platform::BusHandle bus;
        std::uint32_t code;
        std::vector<std::uint8_t> bytes;
    };

    // What the test sets up; change it only while the controller's thread is idle.
    std::vector<std::string> paths = {"bus-1"};
    std::set<std::string> unopenable;
    std::set<std::string> refusingVersion;
    std::set<std::uint32_t> takenSerials;
    bool listFails = false;
    bool submitFails = false;
    bool knowsDeviceReady = true;

    bool busPaths(std::vector<std::string>& out) override {
        std::lock_guard guard(mutex_);
        ++listings_;
        if (listFails) {
            return false;
        }
        out.insert(out.end(), paths.begin(), paths.end());
        return true;
    }

    platform::BusHandle open(const std::string& path) override {
        std::lock_guard guard(mutex_);
        if (unopenable.count(path) != 0) {
            return platform::nullBusHandle;
        }
        openPaths_.push_back(path);
        open_.insert(openPaths_.size());
        return static_cast<platform::BusHandle>(openPaths_.size());
    }

    bool control(platform::BusHandle bus, std::uint32_t code, std::span<const std::uint8_t> request,
                 std::chrono::milliseconds) override {
        std::lock_guard guard(mutex_);
        requests_.push_back({bus, code, {request.begin(), request.end()}});
        if (open_.count(bus) == 0) {
            return false;
        }
        const std::string& path = openPaths_[static_cast<std::size_t>(bus) - 1];
        const std::uint32_t serial = request.size() >= 8 ? serialOf(request) : 0;
        switch (code) {
            case vigem::checkVersionCode:
                return refusingVersion.count(path) == 0;
            case vigem::plugInTargetCode:
                return takenSerials.insert(serial).second;
            case vigem::waitDeviceReadyCode:
                return knowsDeviceReady;
            case vigem::xusbSubmitReportCode:
                return !submitFails && takenSerials.count(serial) != 0;
            case vigem::unplugTargetCode:
                return takenSerials.erase(serial) != 0;
            default:
                return false;
        }
    }

    void close(platform::BusHandle bus) override {
        std::lock_guard guard(mutex_);
        open_.erase(bus);
        ++closes_;
    }

    std::uint32_t lastError() override { return 31; }  // ERROR_GEN_FAILURE

    std::vector<Request> requests() const {
        std::lock_guard guard(mutex_);
        return requests_;
    }
    std::vector<std::uint32_t> codes() const {
        std::vector<std::uint32_t> codes;
        for (const Request& request : requests()) {
            codes.push_back(request.code);
        }
        return codes;
    }
    std::vector<std::string> openedPaths() const {
        std::lock_guard guard(mutex_);
        return openPaths_;
    }
    std::size_t openCount() const {
        std::lock_guard guard(mutex_);
        return open_.size();
    }
    int listings() const {
        std::lock_guard guard(mutex_);
        return listings_;
    }
    void forgetRequests() {
        std::lock_guard guard(mutex_);
        requests_.clear();
    }

  private:
    static std::uint32_t serialOf(std::span<const std::uint8_t> request) {
        return static_cast<std::uint32_t>(request[4]) |
               static_cast<std::uint32_t>(request[5]) << 8 |
               static_cast<std::uint32_t>(request[6]) << 16 |
               static_cast<std::uint32_t>(request[7]) << 24;
    }

    mutable std::mutex mutex_;  // guards everything: the controller's thread calls in too
    std::vector<Request> requests_;
    std::vector<std::string> openPaths_;  // handle n is openPaths_[n - 1]
    std::set<platform::BusHandle> open_;
    int listings_ = 0;
    int closes_ = 0;
};

}  // namespace pellvane::testing
