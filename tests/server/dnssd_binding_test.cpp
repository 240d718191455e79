// The run-time DNS-SD binding: fixed failure values when the library or a function is
// missing, forwarding when present.
#include "server/dnssd_binding.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/sockets.h"
#include "tests/support/environment.h"
#include "tests/support/stand_in_system_dnssd.h"

namespace pellvane::dnssd {
namespace {

void DNSSD_API ignoreReply(DNSServiceRef, DNSServiceFlags, DNSServiceErrorType, const char*,
                           const char*, const char*, void*) {}

DNSServiceErrorType registerSomething(DNSServiceRef& ref) {
    return DNSServiceRegister(&ref, kDNSServiceFlagsIncludeP2P, 0, "name", "_kesp._tcp", "",
                              nullptr, 0x3412, 0, nullptr, &ignoreReply, nullptr);
}

class DnssdBindingTest : public ::testing::Test {
  protected:
    void SetUp() override { net::startSocketLibrary(); }
    void TearDown() override {
        unloadLibrary();
        net::stopSocketLibrary();
    }
};

TEST_F(DnssdBindingTest, MissingLibraryGivesFixedFailuresOnEveryCall) {
    loadLibrary("pellvane-no-such-library", nullptr);  // and no system DNS-SD to stand in
    for (int call = 0; call < 2; ++call) {
        DNSServiceRef ref = nullptr;
        EXPECT_EQ(registerSomething(ref), kDNSServiceErr_Unknown);
        EXPECT_EQ(ref, nullptr);
        EXPECT_EQ(DNSServiceRefSockFD(nullptr), -1);
        EXPECT_EQ(DNSServiceProcessResult(nullptr), kDNSServiceErr_Unknown);
        EXPECT_EQ(DNSServiceQueryRecord(&ref, 0, 0, "host.local", kDNSServiceType_A,
                                        kDNSServiceClass_IN, nullptr, nullptr),
                  kDNSServiceErr_Unknown);
        DNSServiceRefDeallocate(nullptr);  // does nothing
    }
}

// The library comes first: the system's own DNS-SD stands in only when it is missing.
TEST_F(DnssdBindingTest, PresentLibraryIsForwardedToEvenWhereTheSystemHasDnssd) {
    testing::DnsapiJournal systemJournal;
    loadLibrary(PELLVANE_FAKE_DNSSD, testing::openStandInSystemDnssd());
    DNSServiceRef ref = nullptr;
    ASSERT_EQ(registerSomething(ref), kDNSServiceErr_NoError);
    ASSERT_NE(ref, nullptr);
    EXPECT_NE(DNSServiceRefSockFD(ref), -1);
    EXPECT_EQ(DNSServiceRefSockFD(ref), DNSServiceRefSockFD(ref));
    DNSServiceRefDeallocate(ref);
    EXPECT_TRUE(systemJournal.lines().empty());
}

// A library without some functions is still the library: the system does not stand in for
// the missing ones, which could not handle the library's references.
TEST_F(DnssdBindingTest, MissingFunctionsFailAloneWhileTheOthersWork) {
    loadLibrary(PELLVANE_FAKE_DNSSD_PARTIAL, testing::openStandInSystemDnssd());
    DNSServiceRef ref = nullptr;
    ASSERT_EQ(registerSomething(ref), kDNSServiceErr_NoError);
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(DNSServiceRefSockFD(ref), -1);
        EXPECT_EQ(DNSServiceProcessResult(ref), kDNSServiceErr_Unknown);
    }
    DNSServiceRefDeallocate(ref);
}

// Avahi refuses the peer-to-peer flag; the binding asks again without flags, and after the
// first refusal asks without them straight away, so the library's warning comes only once.
TEST_F(DnssdBindingTest, RefusedFlagsAreLeftOutAfterTheFirstRefusal) {
    const std::string logPath = ::testing::TempDir() + "pellvane-dnssd-refusals.log";
    std::remove(logPath.c_str());
    testing::ScopedEnvironment log("PELLVANE_FAKE_DNSSD_LOG", logPath.c_str());
    testing::ScopedEnvironment refuse("PELLVANE_FAKE_DNSSD_REFUSE_FLAGS", "1");
    loadLibrary(PELLVANE_FAKE_DNSSD);
    for (int registration = 0; registration < 3; ++registration) {
        DNSServiceRef ref = nullptr;
        ASSERT_EQ(registerSomething(ref), kDNSServiceErr_NoError);
        DNSServiceRefDeallocate(ref);
    }
    std::ifstream file(logPath);
    std::stringstream lines;
    lines << file.rdbuf();
    const std::string text = lines.str();
    std::size_t refusals = 0;
    for (std::size_t at = text.find("refused"); at != std::string::npos;
         at = text.find("refused", at + 1)) {
        ++refusals;
    }
    EXPECT_EQ(refusals, 1u);
    EXPECT_NE(text.find("name _kesp._tcp - 4660"), std::string::npos);
}

TEST_F(DnssdBindingTest, EveryEntryPointFailsAfterUnloading) {
    loadLibrary(PELLVANE_FAKE_DNSSD);
    DNSServiceRef ref = nullptr;
    ASSERT_EQ(registerSomething(ref), kDNSServiceErr_NoError);
    DNSServiceRefDeallocate(ref);
    unloadLibrary();
    ref = nullptr;
    EXPECT_EQ(registerSomething(ref), kDNSServiceErr_Unknown);
    EXPECT_EQ(DNSServiceRefSockFD(nullptr), -1);
    EXPECT_EQ(DNSServiceProcessResult(nullptr), kDNSServiceErr_Unknown);
}

}  // namespace
}  // namespace pellvane::dnssd
