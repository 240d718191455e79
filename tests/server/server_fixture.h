// A started server on loopback with a recording delegate and the test DNS-SD library.
#pragma once

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <thread>

#include "server/dnssd_binding.h"
#include "server/zarvo_server.h"
#include "tests/support/debug_capture.h"
#include "tests/support/eventually.h"
#include "tests/support/recording_delegate.h"
#include "tests/support/test_client.h"

namespace pellvane::testing {

inline constexpr const char* padType = "_kesp._tcp";
inline constexpr const char* channelType = "_kespchan._tcp";

class ServerTest : public ::testing::Test {
  protected:
    ServerTest() : library(PELLVANE_FAKE_DNSSD) {}
    // Without the DNS-SD library: `system` stands in for it.
    explicit ServerTest(std::unique_ptr<sysdnssd::SystemDnssd> system)
        : library("pellvane-no-such-library", std::move(system)) {}

    void SetUp() override { net::startSocketLibrary(); }
    void TearDown() override {
        if (server) {
            server->shutDown();
        }
        net::stopSocketLibrary();
    }

    // Starts a pad service (or, with autoAdmit, a channel service) named "TestHost".
    void startServer(bool autoAdmit = false, const char* name = "TestHost") {
        server = std::make_unique<ZarvoServer>(name, autoAdmit ? channelType : padType,
                                               autoAdmit ? "local." : "");
        server->setAutoAdmit(autoAdmit);
        server->setDelegate(&delegate);
        ASSERT_NE(server->start(), ZarvoServer::startFailed);
        ASSERT_TRUE(delegate.waitFor("publish"));
    }

    std::unique_ptr<TestClient> connectClient(net::Family family = net::Family::ipv4) {
        auto client = std::make_unique<TestClient>();
        EXPECT_TRUE(client->connect(family, server->tcpPort()));
        return client;
    }

    std::unique_ptr<TestClient> admittedClient(net::Family family = net::Family::ipv4) {
        auto client = connectClient(family);
        EXPECT_TRUE(client->admit());
        return client;
    }

    // Polls until the condition holds or three seconds pass.
    template <class Condition>
    static bool eventually(Condition condition) {
        return testing::eventually(condition);
    }

    dnssd::LibraryScope library;
    DebugCapture debugLines;
    RecordingDelegate delegate;
    std::unique_ptr<ZarvoServer> server;
};

// Runs a test once over IPv4 and once over IPv6.
class FamilyTest : public ServerTest, public ::testing::WithParamInterface<net::Family> {};

inline std::string familyName(const ::testing::TestParamInfo<net::Family>& info) {
    return info.param == net::Family::ipv4 ? "IPv4" : "IPv6";
}

}  // namespace pellvane::testing
