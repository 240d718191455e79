// What the delegate tests share: key messages, a controller that records what reaches it,
// and a started server on the test DNS-SD library.
#pragma once

#include <memory>
#include <vector>

#include "delegates/key_injection.h"
#include "server/dnssd_binding.h"
#include "server/wire_protocol.h"
#include "server/zarvo_server.h"
#include "tests/fakes/recording_controller.h"
#include "tests/support/test_client.h"

namespace pellvane::testing {

// A KeyDown or KeyUp as the server hands it on; its argument is the entry count unless
// `argument` says otherwise.
ReceivedMessage keyMessage(std::uint32_t type, const std::vector<wire::KeyEntry>& entries,
                           std::optional<std::uint32_t> argument = std::nullopt);
wire::KeyEntry keyAt(std::uint32_t keyIndex);
wire::KeyEntry character(std::uint32_t character);
// Puts the server's key filter where keys are dropped: one application in front, the pads'
// layout meant for another.
void blockKeys(ZarvoServer& server);

// The socket library and the test DNS-SD library, for tests that start servers.
class ServerEnvironment {
  public:
    ServerEnvironment();
    ~ServerEnvironment();
    ServerEnvironment(const ServerEnvironment&) = delete;
    ServerEnvironment& operator=(const ServerEnvironment&) = delete;

  private:
    dnssd::LibraryScope library_;
};

// A server with the pad service's type, its delegate set; start() is left to the test.
std::unique_ptr<ZarvoServer> makeServer(ZarvoConnectionDelegate* delegate,
                                        const char* type = "_kesp._tcp", const char* domain = "");

}  // namespace pellvane::testing
