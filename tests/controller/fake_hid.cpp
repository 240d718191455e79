#include "tests/controller/fake_hid.h"

#include <charconv>
#include <optional>
#include <string_view>

namespace pellvane::testing {
namespace {

using platform::HidIdentifyFailure;

constexpr std::string_view pathPrefix = "fake-hid-";

std::optional<std::size_t> indexOf(std::string_view path) {
    if (path.substr(0, pathPrefix.size()) != pathPrefix) {
        return std::nullopt;
    }
    const std::string_view digits = path.substr(pathPrefix.size());
    std::size_t index = 0;
    const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), index);
    if (digits.empty() || error != std::errc{} || end != digits.data() + digits.size()) {
        return std::nullopt;
    }
    return index;
}

// What the platforms list of an interface: the vendor and product whatever the descriptor
// does, the collections only when every earlier step succeeded.
platform::HidDeviceInfo infoOf(const FakeInterface& interface, std::size_t index) {
    platform::HidDeviceInfo info;
    const HidIdentifyFailure failure = interface.identifyFails;
    if (failure == HidIdentifyFailure::allocation || failure == HidIdentifyFailure::detail) {
        info.failure = failure;
        info.error = FakeHid::identifyError;
        return info;
    }
    info.path = std::string(pathPrefix) + std::to_string(index);
    info.failure = failure;
    info.error = failure == HidIdentifyFailure::none ? 0 : FakeHid::identifyError;
    if (failure == HidIdentifyFailure::open || failure == HidIdentifyFailure::attributes) {
        return info;
    }
    info.vendorId = interface.vendorId;
    info.productId = interface.productId;
    if (failure == HidIdentifyFailure::none && !interface.collections.empty()) {
        info.usages = interface.collections;
        info.usagePage = info.usages.front().usagePage;
        info.usage = info.usages.front().usage;
    }
    return info;
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

void FakeHid::setEnumerateFails(bool fails) {
    std::lock_guard guard(mutex_);
    enumerateFails_ = fails;
}

void FakeHid::refuseWrites(int count) {
    std::lock_guard guard(mutex_);
    refusedWrites_ = count;
}

bool FakeHid::enumerate(std::vector<platform::HidDeviceInfo>& devices) {
    std::lock_guard guard(mutex_);
    ++enumerations_;
    if (enumerateFails_) {
        lastError_ = listError;
        return false;
    }
    for (std::size_t index = 0; index < interfaces_.size(); ++index) {
        devices.push_back(infoOf(interfaces_[index], index));
    }
    return true;
}

platform::HidHandle FakeHid::open(const std::string& path) {
    std::lock_guard guard(mutex_);
    const auto index = indexOf(path);
    if (index) {
        ++opens_[*index];
    }
    if (!index || *index >= interfaces_.size() || interfaces_[*index].openFails) {
        lastError_ = openError;
        return platform::invalidHidHandle;
    }
    const auto handle = nextHandle_++;
    handles_[handle] = *index;
    return handle;
}

void FakeHid::close(platform::HidHandle handle) {
    std::lock_guard guard(mutex_);
    if (handles_.erase(handle) == 0) {
        ++badCloses_;
    }
}

bool FakeHid::setInputBufferCount(platform::HidHandle handle, std::uint32_t count) {
    std::lock_guard guard(mutex_);
    const auto found = handles_.find(handle);
    if (found == handles_.end() || found->second >= interfaces_.size() ||
        interfaces_[found->second].inputBuffersFail) {
        lastError_ = setError;
        return false;
    }
    inputBufferCounts_.push_back(count);
    return true;
}

bool FakeHid::write(platform::HidHandle handle, std::span<const std::uint8_t> report) {
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
    reports_.push_back({found->second, {report.begin(), report.end()}});
    return true;
}

std::uint32_t FakeHid::lastError() {
    std::lock_guard guard(mutex_);
    return lastError_;
}

void FakeHid::clearReports() {
    std::lock_guard guard(mutex_);
    reports_.clear();
}

std::vector<FakeHid::Report> FakeHid::reports() const {
    std::lock_guard guard(mutex_);
    return reports_;
}

std::size_t FakeHid::reportCount() const {
    std::lock_guard guard(mutex_);
    return reports_.size();
}

int FakeHid::enumerations() const {
    std::lock_guard guard(mutex_);
    return enumerations_;
}

std::multiset<std::size_t> FakeHid::openInterfaces() const {
    std::lock_guard guard(mutex_);
    std::multiset<std::size_t> open;
    for (const auto& [handle, index] : handles_) {
        open.insert(index);
    }
    return open;
}

std::size_t FakeHid::opensOf(std::size_t interfaceIndex) const {
    std::lock_guard guard(mutex_);
    const auto found = opens_.find(interfaceIndex);
    return found == opens_.end() ? 0 : found->second;
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
