// An Xvfb of a test's own, on a display number that it picks itself, so that tests never
// touch the desktop they run on.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>

namespace pellvane::testing {

class PrivateXServer {
  public:
    PrivateXServer() = default;
    ~PrivateXServer() { stop(); }
    PrivateXServer(const PrivateXServer&) = delete;
    PrivateXServer& operator=(const PrivateXServer&) = delete;

    static bool installed();
    // The display (":N") once the server accepts connections; nothing when it did not start.
    std::optional<std::string> start();
    void stop();

  private:
    pid_t server_ = -1;
};

}  // namespace pellvane::testing
