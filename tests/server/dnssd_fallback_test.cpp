// DNS-SD through the system's own service when the library is missing. The servers run
// against the stand-in system (on Windows, the program's binding of dnsapi.dll loaded from
// the test dnsapi.dll): its answers come from a thread of its own, yet the servers hear of
// them on their loop threads, and a registration is freed only after the system has said
// that it is withdrawn. The fallback's own checks run against the in-memory system.
#include "server/dnssd_fallback.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>

#include "tests/fakes/fake_system_dnssd.h"
#include "tests/server/server_fixture.h"
#include "tests/support/environment.h"
#include "tests/support/stand_in_system_dnssd.h"

namespace pellvane::testing {
namespace {

using namespace std::chrono_literals;

std::string computerName() {
    std::array<char, 256> name{};
    net::hostName(name.data(), name.size());
    return name.data();
}

// The line that announces a service: instance name, host "NAME.local", port as a number.
std::string construction(int id, const std::string& type, std::uint16_t port) {
    return "construct " + std::to_string(id) + " name=TestHost." + type +
           ".local host=" + computerName() + ".local port=" + std::to_string(port);
}

class SystemDnssdTest : public ServerTest {
  protected:
    SystemDnssdTest() : ServerTest(openStandInSystemDnssd()) {}

    void TearDown() override {
        if (channel) {
            channel->shutDown();
        }
        ServerTest::TearDown();
        EXPECT_EQ(journal.count("fault"), 0) << "the system was misused";
        // Windows hands every answer a copy of the instance, which the program must free.
        EXPECT_EQ(journal.count("copy "), journal.count("free copy "));
    }

    void startChannel() {
        channel = std::make_unique<ZarvoServer>("TestHost", channelType, "local.");
        channel->setAutoAdmit(true);
        channel->setDelegate(&channelDelegate);
        ASSERT_NE(channel->start(), ZarvoServer::startFailed);
        ASSERT_TRUE(channelDelegate.waitFor("publish"));
    }

    DnsapiJournal journal;
    RecordingDelegate channelDelegate;
    std::unique_ptr<ZarvoServer> channel;
};

TEST_F(SystemDnssdTest, BothServicesPublishOnTheirLoopThreads) {
    startServer();
    startChannel();
    const auto lines = journal.lines();
    ASSERT_GE(journal.indexOf("register 2"), 0);
    EXPECT_EQ(journal.indexOf(construction(1, padType, server->tcpPort())), 0);
    EXPECT_GE(journal.indexOf(construction(2, channelType, channel->tcpPort())), 0);
#if defined(_WIN32)
    // One empty TXT key and value: Apple's resolvers reject an answer without TXT strings.
    EXPECT_NE(lines[0].find(" properties=1 key='' value=''"), std::string::npos) << lines[0];
#endif

    // The system answered on its own thread; the servers heard of it on their loops, which
    // are also where admission runs. The question is put beside the loop.
    auto client = admittedClient();
    EXPECT_NE(delegate.lastThreadOf("publish"), std::thread::id());
    EXPECT_NE(delegate.lastThreadOf("publish"), std::this_thread::get_id());
    EXPECT_EQ(delegate.lastThreadOf("publish"), delegate.lastThreadOf("admit"));
    EXPECT_NE(delegate.lastThreadOf("publish"), delegate.lastThreadOf("ask"));
}

TEST_F(SystemDnssdTest, DisconnectWithdrawsTheServiceBeforeFreeingItAndRegistersAgain) {
    startServer();
    delegate.setOnStop([](ZarvoServer* restarted) { restarted->start(); });
    server->stop();  // the tray's Disconnect, on this thread
    ASSERT_TRUE(delegate.waitFor("publish", 2));
    const int withdrawn = journal.indexOf("deregistered 1");
    ASSERT_GE(withdrawn, 0);
    EXPECT_LT(journal.indexOf("deregister 1"), withdrawn);
    EXPECT_LT(withdrawn, journal.indexOf("free 1"));
    EXPECT_LT(journal.indexOf("free 1"), journal.indexOf("register 2"));
    EXPECT_GE(journal.indexOf(construction(2, padType, server->tcpPort())), 0);
}

TEST_F(SystemDnssdTest, ARegistrationErrorStopsTheServerOnItsLoop) {
    ScopedEnvironment failing("PELLVANE_FAKE_DNSAPI_REGISTER_ERROR", "9999");
    server = std::make_unique<ZarvoServer>("TestHost", padType, "");
    server->setDelegate(&delegate);
    ASSERT_NE(server->start(), ZarvoServer::startFailed);
    ASSERT_TRUE(delegate.waitFor("stop"));
    EXPECT_EQ(delegate.count("publish"), 0);
    EXPECT_NE(delegate.lastThreadOf("stop"), std::this_thread::get_id());
    EXPECT_TRUE(journal.waitFor("free 1"));
}

// A system that never reports the end of a withdrawal must not hold a stop up for good: the
// registration is left allocated instead, since the system may still read it.
TEST_F(SystemDnssdTest, AWithdrawalThatIsNeverAnsweredDoesNotHoldUpTheStop) {
    ScopedEnvironment silent("PELLVANE_FAKE_DNSAPI_SILENT_DEREGISTER", "1");
    startServer();
    const auto before = std::chrono::steady_clock::now();
    server->stop();
    EXPECT_LT(std::chrono::steady_clock::now() - before,
              dnssd::DnssdFallback::defaultSettleTime + 20s);
    EXPECT_EQ(journal.count("deregister 1"), 1);
    EXPECT_EQ(journal.count("free 1"), 0);
}

void DNSSD_API ignoreBrowse(dnssd::DNSServiceRef, dnssd::DNSServiceFlags, std::uint32_t,
                            dnssd::DNSServiceErrorType, const char*, const char*, const char*,
                            void*) {}
void DNSSD_API ignoreResolve(dnssd::DNSServiceRef, dnssd::DNSServiceFlags, std::uint32_t,
                             dnssd::DNSServiceErrorType, const char*, const char*, std::uint16_t,
                             std::uint16_t, const unsigned char*, void*) {}

// A browse or resolve given up before its answers were processed is cancelled, and freed
// only once the system has reported its end: the answers that were under way arrive into
// memory that is still there.
TEST_F(SystemDnssdTest, QueriesGivenUpEarlyAreCancelled) {
    startServer();
    ScopedEnvironment slow("PELLVANE_FAKE_DNSAPI_DELAY_MS", "300");  // no answer comes first
    dnssd::DNSServiceRef browse = nullptr;
    dnssd::DNSServiceRef resolve = nullptr;
    ASSERT_EQ(dnssd::DNSServiceBrowse(&browse, 0, 0, padType, "", &ignoreBrowse, nullptr),
              dnssd::kDNSServiceErr_NoError);
    ASSERT_EQ(dnssd::DNSServiceResolve(&resolve, 0, 0, "TestHost", padType, "local.",
                                       &ignoreResolve, nullptr),
              dnssd::kDNSServiceErr_NoError);
    dnssd::DNSServiceRefDeallocate(resolve);
    dnssd::DNSServiceRefDeallocate(browse);
    EXPECT_EQ(journal.count("cancel resolve"), 1);
    EXPECT_EQ(journal.count("cancel browse"), 1);
}

// Replies delivered by processing a reference once its socket is readable.
class DnssdFallbackTest : public ::testing::Test {
  protected:
    void SetUp() override { net::startSocketLibrary(); }
    void TearDown() override { net::stopSocketLibrary(); }

    static bool processWhenReady(dnssd::DnssdFallback& fallback, dnssd::DNSServiceRef ref) {
        const net::SocketHandle socket = fallback.socketOf(ref);
        std::array<net::ReadinessFlags, 1> flags{};
        return net::waitForReadiness({&socket, 1}, flags, 5000) == 1 &&
               fallback.processResult(ref) == dnssd::kDNSServiceErr_NoError;
    }
};

struct BrowseReply {
    dnssd::DNSServiceFlags flags;
    std::string name;
    std::string regtype;
    std::string domain;
};

void DNSSD_API recordBrowse(dnssd::DNSServiceRef, dnssd::DNSServiceFlags flags, std::uint32_t,
                            dnssd::DNSServiceErrorType, const char* name, const char* regtype,
                            const char* domain, void* context) {
    static_cast<std::vector<BrowseReply>*>(context)->push_back({flags, name, regtype, domain});
}

// Names heard on the network reach the caller only when they name an instance of the type
// browsed for, and a flood of them is capped while nobody processes it.
TEST_F(DnssdFallbackTest, BrowseAnswersAreCheckedBeforeTheyArePassedOn) {
    std::vector<sysdnssd::BrowseAnswer> heard = {
        {"Den PC._kesp._tcp.local", false}, {"Kitchen._KESP._TCP.LOCAL.", false},
        {"Printer._ipp._tcp.local", false}, {"._kesp._tcp.local", false},
        {"_kesp._tcp.local", false},        {std::string(300, 'x') + "._kesp._tcp.local", false},
        {"Old PC._kesp._tcp.local", true},
    };
    for (int i = 0; i < 400; ++i) {
        heard.push_back({"Flood " + std::to_string(i) + "._kesp._tcp.local", false});
    }
    dnssd::DnssdFallback fallback(std::make_unique<FakeSystemDnssd>(heard));
    std::vector<BrowseReply> replies;
    dnssd::DNSServiceRef ref = nullptr;
    ASSERT_EQ(fallback.browse(&ref, "_kesp._tcp.", "", &recordBrowse, &replies),
              dnssd::kDNSServiceErr_NoError);
    ASSERT_TRUE(processWhenReady(fallback, ref));
    fallback.deallocate(ref);

    ASSERT_GE(replies.size(), 3u);
    EXPECT_EQ(replies[0].name, "Den PC");
    EXPECT_EQ(replies[0].flags, dnssd::kDNSServiceFlagsAdd | dnssd::kDNSServiceFlagsMoreComing);
    EXPECT_EQ(replies[0].regtype, "_kesp._tcp.");
    EXPECT_EQ(replies[0].domain, "local.");
    EXPECT_EQ(replies[1].name, "Kitchen");
    EXPECT_EQ(replies[2].name, "Old PC");
    EXPECT_EQ(replies[2].flags & dnssd::kDNSServiceFlagsAdd, 0u);
    EXPECT_EQ(replies[3].name, "Flood 0");
    EXPECT_LE(replies.size(), 256u);
    EXPECT_EQ(replies.back().flags & dnssd::kDNSServiceFlagsMoreComing, 0u);
}

void DNSSD_API ignoreRegistration(dnssd::DNSServiceRef, dnssd::DNSServiceFlags,
                                  dnssd::DNSServiceErrorType, const char*, const char*, const char*,
                                  void*) {}

// Should the system report a registration more than once, a later report is not taken for
// the end of the withdrawal: the registration is freed only after that end.
TEST_F(DnssdFallbackTest, ARegistrationReportedTwiceIsFreedOnlyAfterItsWithdrawal) {
    DnsapiJournal journal;
    ScopedEnvironment twice("PELLVANE_FAKE_DNSAPI_REPORTS", "2");
    dnssd::DnssdFallback fallback(std::make_unique<FakeSystemDnssd>());
    dnssd::DNSServiceRef registration = nullptr;
    ASSERT_EQ(fallback.registerService(&registration, "Den PC", "_kesp._tcp", "", nullptr, 0x3412,
                                       &ignoreRegistration, nullptr),
              dnssd::kDNSServiceErr_NoError);
    ASSERT_TRUE(journal.waitFor("registered 1", 2));
    fallback.deallocate(registration);
    EXPECT_EQ(journal.count("fault"), 0);
    EXPECT_LT(journal.indexOf("deregistered 1"), journal.indexOf("free 1"));
}

struct ResolveReply {
    dnssd::DNSServiceErrorType error = 1;
    std::string fullname;
    std::string host;
    std::uint16_t port = 0;
};

void DNSSD_API recordResolve(dnssd::DNSServiceRef, dnssd::DNSServiceFlags, std::uint32_t,
                             dnssd::DNSServiceErrorType error, const char* fullname,
                             const char* host, std::uint16_t port, std::uint16_t,
                             const unsigned char*, void* context) {
    *static_cast<ResolveReply*>(context) = {error, fullname, host, port};
}

TEST_F(DnssdFallbackTest, ResolvingGivesHostAndPortInNetworkOrder) {
    dnssd::DnssdFallback fallback(std::make_unique<FakeSystemDnssd>());
    dnssd::DNSServiceRef registration = nullptr;
    EXPECT_EQ(fallback.registerService(&registration, "Den PC", "_kesp._tcp", "example.com.",
                                       nullptr, 0x3412, &ignoreRegistration, nullptr),
              dnssd::kDNSServiceErr_Unsupported);
    ASSERT_EQ(fallback.registerService(&registration, "Den PC", "_kesp._tcp", "local.", nullptr,
                                       0x3412, &ignoreRegistration, nullptr),
              dnssd::kDNSServiceErr_NoError);

    ResolveReply found;
    dnssd::DNSServiceRef resolve = nullptr;
    ASSERT_EQ(fallback.resolve(&resolve, "Den PC", "_kesp._tcp.", "local.", &recordResolve, &found),
              dnssd::kDNSServiceErr_NoError);
    ASSERT_TRUE(processWhenReady(fallback, resolve));
    fallback.deallocate(resolve);
    EXPECT_EQ(found.error, dnssd::kDNSServiceErr_NoError);
    EXPECT_EQ(found.fullname, "Den PC._kesp._tcp.local.");
    EXPECT_EQ(found.host, computerName() + ".local");
    EXPECT_EQ(found.port, 0x3412);

    ResolveReply missing;
    ASSERT_EQ(fallback.resolve(&resolve, "Nobody", "_kesp._tcp.", "", &recordResolve, &missing),
              dnssd::kDNSServiceErr_NoError);
    ASSERT_TRUE(processWhenReady(fallback, resolve));
    fallback.deallocate(resolve);
    EXPECT_NE(missing.error, dnssd::kDNSServiceErr_NoError);
    fallback.deallocate(registration);
}

}  // namespace
}  // namespace pellvane::testing
