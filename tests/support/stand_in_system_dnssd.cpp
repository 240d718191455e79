#include "tests/support/stand_in_system_dnssd.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <thread>

#include "tests/fakes/fake_system_dnssd.h"
#include "tests/support/environment.h"

namespace pellvane::testing {

std::unique_ptr<sysdnssd::SystemDnssd> openStandInSystemDnssd() {
#if defined(_WIN32)
    return sysdnssd::openSystemDnssd(PELLVANE_FAKE_DNSAPI);
#else
    return std::make_unique<FakeSystemDnssd>();
#endif
}

namespace {

std::atomic<int> journalCount{0};

bool startsWith(const std::string& line, const std::string& prefix) {
    return line.rfind(prefix, 0) == 0;
}

}  // namespace

DnsapiJournal::DnsapiJournal()
    : path_(::testing::TempDir() + "pellvane-dnsapi-" +
            std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
            std::to_string(journalCount.fetch_add(1)) + ".log") {
    std::remove(path_.c_str());
    setEnvironment("PELLVANE_FAKE_DNSAPI_LOG", path_.c_str());
}

DnsapiJournal::~DnsapiJournal() {
    clearEnvironment("PELLVANE_FAKE_DNSAPI_LOG");
    std::remove(path_.c_str());
}

std::vector<std::string> DnsapiJournal::lines() const {
    std::vector<std::string> lines;
    std::ifstream file(path_);
    for (std::string line; std::getline(file, line);) {
        lines.push_back(line);
    }
    return lines;
}

int DnsapiJournal::indexOf(const std::string& prefix) const {
    const auto all = lines();
    const auto found = std::find_if(all.begin(), all.end(),
                                    [&](const auto& line) { return startsWith(line, prefix); });
    return found == all.end() ? -1 : static_cast<int>(found - all.begin());
}

int DnsapiJournal::count(const std::string& prefix) const {
    const auto all = lines();
    return static_cast<int>(std::count_if(
        all.begin(), all.end(), [&](const auto& line) { return startsWith(line, prefix); }));
}

bool DnsapiJournal::waitFor(const std::string& prefix, int times) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (count(prefix) < times) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

}  // namespace pellvane::testing
