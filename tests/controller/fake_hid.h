// An in-memory HID service: a list of interfaces, each with its identity and the faults it
// should show, and a record of what was listed, opened, closed and written.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/hid.h"

namespace pellvane::testing {

struct FakeInterface {
    std::uint16_t vendorId = 0x00FF;
    std::uint16_t productId = 0xBACC;
    std::vector<platform::HidUsage> collections;

    // The step of identifying it that fails; what was read before that step is listed.
    platform::HidIdentifyFailure identifyFails = platform::HidIdentifyFailure::none;
    bool openFails = false;  // identifies, but the open for use is refused
    bool inputBuffersFail = false;
};

// The virtual controller's two interfaces as its driver presents them.
FakeInterface controllerInterface(std::uint16_t usage);

class FakeHid final : public platform::Hid {
  public:
    static constexpr std::uint32_t listError = 13;     // what a refused list reports
    static constexpr std::uint32_t identifyError = 2;  // what a failed identifying step reports
    static constexpr std::uint32_t openError = 32;
    static constexpr std::uint32_t writeError = 1167;
    static constexpr std::uint32_t setError = 5;

    void addInterface(const FakeInterface& interface);
    void clearInterfaces();
    void setEnumerateFails(bool fails);
    // The next `count` report writes are refused.
    void refuseWrites(int count);

    bool enumerate(std::vector<platform::HidDeviceInfo>& devices) override;
    platform::HidHandle open(const std::string& path) override;
    void close(platform::HidHandle handle) override;
    bool setInputBufferCount(platform::HidHandle handle, std::uint32_t count) override;
    bool write(platform::HidHandle handle, std::span<const std::uint8_t> report) override;
    std::uint32_t lastError() override;

    // Forgets the reports written so far (a long fuzzing run writes millions).
    void clearReports();

    // What happened so far.
    struct Report {
        std::size_t interfaceIndex = 0;
        std::vector<std::uint8_t> bytes;
    };
    std::vector<Report> reports() const;
    std::size_t reportCount() const;
    int enumerations() const;
    // Interfaces currently open, by index (one entry per open handle).
    std::multiset<std::size_t> openInterfaces() const;
    // Opens tried of one interface, refused ones included.
    std::size_t opensOf(std::size_t interfaceIndex) const;
    // Handles that were closed without being open (double closes, stale handles).
    int badCloses() const;
    // Reports written to handles that were not open.
    int staleWrites() const;
    std::vector<std::uint32_t> inputBufferCounts() const;

  private:
    mutable std::mutex mutex_;  // guards every field below
    std::vector<FakeInterface> interfaces_;
    bool enumerateFails_ = false;
    int refusedWrites_ = 0;
    int enumerations_ = 0;
    std::intptr_t nextHandle_ = 100;
    std::map<platform::HidHandle, std::size_t> handles_;  // to the interface's index
    std::map<std::size_t, std::size_t> opens_;
    std::vector<Report> reports_;
    std::vector<std::uint32_t> inputBufferCounts_;
    int badCloses_ = 0;
    int staleWrites_ = 0;
    std::uint32_t lastError_ = 0;
};

}  // namespace pellvane::testing
