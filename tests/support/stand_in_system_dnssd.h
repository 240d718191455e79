// The system's own DNS-SD service as the tests have it: on Windows the program's binding of
// dnsapi.dll's functions, loaded from the test dnsapi.dll; elsewhere an in-memory one that
// answers alike. Both answer on a thread of their own and keep the journal that
// PELLVANE_FAKE_DNSAPI_LOG names (see tests/support/fake_dnsapi.cpp).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/system_dnssd.h"

namespace pellvane::testing {

std::unique_ptr<sysdnssd::SystemDnssd> openStandInSystemDnssd();

// The journal, kept in a fresh file while the object lives.
class DnsapiJournal {
  public:
    DnsapiJournal();
    ~DnsapiJournal();
    DnsapiJournal(const DnsapiJournal&) = delete;
    DnsapiJournal& operator=(const DnsapiJournal&) = delete;

    std::vector<std::string> lines() const;
    // The position of the first line that starts with `prefix`; -1 when none does.
    int indexOf(const std::string& prefix) const;
    int count(const std::string& prefix) const;
    // Waits until `times` lines start with `prefix`.
    bool waitFor(const std::string& prefix, int times = 1) const;

  private:
    std::string path_;
};

}  // namespace pellvane::testing
