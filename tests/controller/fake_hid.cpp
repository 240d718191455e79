#include "tests/controller/fake_hid.h"

#include <cstring>

namespace pellvane::testing {
namespace {

// The detail names the interface by its index, as text with a NUL, the way a path would.
std::string detailText(std::uint32_t index) {
    return "fake-hid-" + std::to_string(index);
}

}  // namespace

FakeInterface controllerInterface(std::uint16_t usage) {
    FakeInterface interface;
    interface.collections = {{0xFF00, usage}};
    return interface;
}

void FakeHid::addInterface(const FakeInterface& interface) {
    std::lock_guard guard(mutex_);
    interfaces_.push_back(interface);
}

void FakeHid::clearInterfaces() {
    std::lock_guard guard(mutex_);
    interfaces_.clear();
}

void FakeHid::setInterfaceSetFails(bool fails) {
    std::lock_guard guard(mutex_);
    setFails_ = fails;
}

void FakeHid::refuseWrites(int count) {
    std::lock_guard guard(mutex_);
    refusedWrites_ = count;
}

platform::HidInterfaceSet FakeHid::openInterfaceSet() {
    std::lock_guard guard(mutex_);
    if (setFails_) {
        lastError_ = 13;
        return platform::invalidHidInterfaceSet;
    }
    const auto set = nextToken_++;
    sets_.insert(set);
    ++setsOpened_;
    return set;
}

void FakeHid::destroyInterfaceSet(platform::HidInterfaceSet set) {
    std::lock_guard guard(mutex_);
    sets_.erase(set);
}

bool FakeHid::interfaceAt(platform::HidInterfaceSet set, std::uint32_t index) {
    std::lock_guard guard(mutex_);
    return sets_.count(set) != 0 && index < interfaces_.size();
}

std::size_t FakeHid::interfaceDetailSize(platform::HidInterfaceSet set, std::uint32_t index) {
    std::lock_guard guard(mutex_);
    if (sets_.count(set) == 0 || index >= interfaces_.size()) {
        return 0;
    }
    if (interfaces_[index].hugeDetail) {
        return std::size_t{1} << 40;
    }
    return detailText(index).size() + 1;
}

bool FakeHid::interfaceDetail(platform::HidInterfaceSet set, std::uint32_t index,
                              std::span<std::byte> buffer) {
    std::lock_guard guard(mutex_);
    if (sets_.count(set) == 0 || index >= interfaces_.size() || interfaces_[index].detailFails) {
        return false;
    }
    const std::string text = detailText(index);
    if (buffer.size() < text.size() + 1) {
        return false;
    }
    std::memcpy(buffer.data(), text.c_str(), text.size() + 1);
    return true;
}

platform::HidHandle FakeHid::openInterface(std::span<const std::byte> detail) {
    std::lock_guard guard(mutex_);
    const std::string text(reinterpret_cast<const char*>(detail.data()),
                           strnlen(reinterpret_cast<const char*>(detail.data()), detail.size()));
    const std::string prefix = detailText(0).substr(0, 9);
    const std::size_t index = std::stoul(text.substr(prefix.size()));
    if (index >= interfaces_.size() || interfaces_[index].openFails) {
        lastError_ = openError;
        return platform::invalidHidHandle;
    }
    const auto handle = nextToken_++;
    handles_[handle] = Handle{index};
    ++opens_[index];
    return handle;
}

void FakeHid::closeHandle(platform::HidHandle handle) {
    std::lock_guard guard(mutex_);
    if (handles_.erase(handle) == 0) {
        ++badCloses_;
    }
}

const FakeInterface* FakeHid::interfaceOf(platform::HidHandle handle) const {
    const auto found = handles_.find(handle);
    if (found == handles_.end() || found->second.interfaceIndex >= interfaces_.size()) {
        return nullptr;
    }
    return &interfaces_[found->second.interfaceIndex];
}

platform::HidPreparsedData FakeHid::preparsedData(platform::HidHandle handle) {
    std::lock_guard guard(mutex_);
    const FakeInterface* interface = interfaceOf(handle);
    if (interface == nullptr || interface->preparsedFails) {
        return platform::nullHidPreparsedData;
    }
    const auto data = nextToken_++;
    preparsed_[data] = handles_.at(handle).interfaceIndex;
    return data;
}

void FakeHid::freePreparsedData(platform::HidPreparsedData data) {
    std::lock_guard guard(mutex_);
    preparsed_.erase(data);
}

bool FakeHid::attributes(platform::HidHandle handle, platform::HidAttributes& attributes) {
    std::lock_guard guard(mutex_);
    const FakeInterface* interface = interfaceOf(handle);
    if (interface == nullptr || interface->attributesFails) {
        return false;
    }
    attributes = {interface->vendorId, interface->productId};
    return true;
}

bool FakeHid::topLevelCollections(platform::HidPreparsedData data,
                                  std::vector<platform::HidUsage>& usages) {
    std::lock_guard guard(mutex_);
    const auto found = preparsed_.find(data);
    if (found == preparsed_.end() || interfaces_[found->second].capsFails) {
        return false;
    }
    usages = interfaces_[found->second].collections;
    return true;
}

bool FakeHid::setInputBufferCount(platform::HidHandle handle, std::uint32_t count) {
    std::lock_guard guard(mutex_);
    const FakeInterface* interface = interfaceOf(handle);
    if (interface == nullptr || interface->inputBuffersFail) {
        lastError_ = setError;
        return false;
    }
    inputBufferCounts_.push_back(count);
    return true;
}

bool FakeHid::writeReport(platform::HidHandle handle, std::span<const std::uint8_t> report) {
    std::lock_guard guard(mutex_);
    const auto found = handles_.find(handle);
    if (found == handles_.end()) {
        ++staleWrites_;
    }
    if (found == handles_.end() || refusedWrites_ > 0) {
        refusedWrites_ = refusedWrites_ > 0 ? refusedWrites_ - 1 : 0;
        lastError_ = writeError;
        return false;
    }
    reports_.push_back({found->second.interfaceIndex, {report.begin(), report.end()}});
    return true;
}

void FakeHid::clearReports() {
    std::lock_guard guard(mutex_);
    reports_.clear();
}

std::uint32_t FakeHid::lastError() {
    std::lock_guard guard(mutex_);
    return lastError_;
}

std::vector<FakeHid::Report> FakeHid::reports() const {
    std::lock_guard guard(mutex_);
    return reports_;
}

std::size_t FakeHid::reportCount() const {
    std::lock_guard guard(mutex_);
    return reports_.size();
}

std::multiset<std::size_t> FakeHid::openInterfaces() const {
    std::lock_guard guard(mutex_);
    std::multiset<std::size_t> open;
    for (const auto& [handle, entry] : handles_) {
        open.insert(entry.interfaceIndex);
    }
    return open;
}

std::size_t FakeHid::opensOf(std::size_t interfaceIndex) const {
    std::lock_guard guard(mutex_);
    const auto found = opens_.find(interfaceIndex);
    return found == opens_.end() ? 0 : found->second;
}

int FakeHid::setsOpened() const {
    std::lock_guard guard(mutex_);
    return setsOpened_;
}

int FakeHid::setsOutstanding() const {
    std::lock_guard guard(mutex_);
    return static_cast<int>(sets_.size());
}

int FakeHid::preparsedOutstanding() const {
    std::lock_guard guard(mutex_);
    return static_cast<int>(preparsed_.size());
}

int FakeHid::badCloses() const {
    std::lock_guard guard(mutex_);
    return badCloses_;
}

int FakeHid::staleWrites() const {
    std::lock_guard guard(mutex_);
    return staleWrites_;
}

std::vector<std::uint32_t> FakeHid::inputBufferCounts() const {
    std::lock_guard guard(mutex_);
    return inputBufferCounts_;
}

}  // namespace pellvane::testing
