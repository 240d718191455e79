// An in-memory HID service: a list of interfaces, each with its identity and the faults it
// should show, and a record of what was opened, closed and written.
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

    bool hugeDetail = false;  // claims a detail too large to allocate
    bool detailFails = false;
    bool openFails = false;
    bool preparsedFails = false;
    bool attributesFails = false;
    bool capsFails = false;
    bool inputBuffersFail = false;
};

// The virtual controller's two interfaces as its driver presents them.
FakeInterface controllerInterface(std::uint16_t usage);

class FakeHid final : public platform::Hid {
  public:
    static constexpr std::uint32_t openError = 32;  // what a refused open reports
    static constexpr std::uint32_t writeError = 1167;
    static constexpr std::uint32_t setError = 5;

    void addInterface(const FakeInterface& interface);
    void clearInterfaces();
    void setInterfaceSetFails(bool fails);
    // The next `count` report writes are refused.
    void refuseWrites(int count);

    platform::HidInterfaceSet openInterfaceSet() override;
    void destroyInterfaceSet(platform::HidInterfaceSet set) override;
    bool interfaceAt(platform::HidInterfaceSet set, std::uint32_t index) override;
    std::size_t interfaceDetailSize(platform::HidInterfaceSet set, std::uint32_t index) override;
    bool interfaceDetail(platform::HidInterfaceSet set, std::uint32_t index,
                         std::span<std::byte> buffer) override;
    platform::HidHandle openInterface(std::span<const std::byte> detail) override;
    void closeHandle(platform::HidHandle handle) override;
    platform::HidPreparsedData preparsedData(platform::HidHandle handle) override;
    void freePreparsedData(platform::HidPreparsedData data) override;
    bool attributes(platform::HidHandle handle, platform::HidAttributes& attributes) override;
    bool topLevelCollections(platform::HidPreparsedData data,
                             std::vector<platform::HidUsage>& usages) override;
    bool setInputBufferCount(platform::HidHandle handle, std::uint32_t count) override;
    bool writeReport(platform::HidHandle handle, std::span<const std::uint8_t> report) override;
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
    // Interfaces currently open, by index (one entry per open handle).
    std::multiset<std::size_t> openInterfaces() const;
    std::size_t opensOf(std::size_t interfaceIndex) const;
    int setsOpened() const;
    int setsOutstanding() const;
    int preparsedOutstanding() const;
    // Handles that were closed without being open (double closes, stale handles).
    int badCloses() const;
    // Reports written to handles that were not open.
    int staleWrites() const;
    std::vector<std::uint32_t> inputBufferCounts() const;

  private:
    struct Handle {
        std::size_t interfaceIndex = 0;
    };
    const FakeInterface* interfaceOf(platform::HidHandle handle) const;

    mutable std::mutex mutex_;  // guards every field below
    std::vector<FakeInterface> interfaces_;
    bool setFails_ = false;
    int refusedWrites_ = 0;
    std::intptr_t nextToken_ = 100;
    std::set<platform::HidInterfaceSet> sets_;
    int setsOpened_ = 0;
    std::map<platform::HidHandle, Handle> handles_;
    std::map<platform::HidPreparsedData, std::size_t> preparsed_;
    std::map<std::size_t, std::size_t> opens_;
    std::vector<Report> reports_;
    std::vector<std::uint32_t> inputBufferCounts_;
    int badCloses_ = 0;
    int staleWrites_ = 0;
    std::uint32_t lastError_ = 0;
};

}  // namespace pellvane::testing
