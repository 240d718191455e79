// The run-time DNS-SD binding: fixed failure values when the library or a function is
// missing, forwarding when present.
#include "server/dnssd_binding.h"

#include <gtest/gtest.h>

#include "platform/sockets.h"

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
    loadLibrary("pellvane-no-such-library");
    for (int call = 0; call < 2; ++call) {
        DNSServiceRef ref = nullptr;
        EXPECT_EQ(registerSomething(ref), kDNSServiceErr_Unknown);
        EXPECT_EQ(ref, nullptr);
        EXPECT_EQ(DNSServiceRefSockFD(nullptr), -1);
        EXPECT_EQ(DNSServiceProcessResult(nullptr), kDNSServiceErr_Unknown);
        DNSServiceRefDeallocate(nullptr);  // does nothing
    }
}

TEST_F(DnssdBindingTest, PresentLibraryIsForwardedTo) {
    loadLibrary(PELLVANE_FAKE_DNSSD);
    DNSServiceRef ref = nullptr;
    ASSERT_EQ(registerSomething(ref), kDNSServiceErr_NoError);
    ASSERT_NE(ref, nullptr);
    EXPECT_NE(DNSServiceRefSockFD(ref), -1);
    EXPECT_EQ(DNSServiceRefSockFD(ref), DNSServiceRefSockFD(ref));
    DNSServiceRefDeallocate(ref);
}

TEST_F(DnssdBindingTest, MissingFunctionsFailAloneWhileTheOthersWork) {
    loadLibrary(PELLVANE_FAKE_DNSSD_PARTIAL);
    DNSServiceRef ref = nullptr;
    ASSERT_EQ(registerSomething(ref), kDNSServiceErr_NoError);
    for (int call = 0; call < 2; ++call) {
        EXPECT_EQ(DNSServiceRefSockFD(ref), -1);
        EXPECT_EQ(DNSServiceProcessResult(ref), kDNSServiceErr_Unknown);
    }
    DNSServiceRefDeallocate(ref);
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
