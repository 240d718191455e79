// Steers the test DNS-SD library (fake_dnssd.cpp) while servers use it: its daemon can go
// away and come back, its registration replies can wait, and a taken name can be refused
// by the call rather than the reply. Everything is put back when the object goes.
#pragma once

#include "platform/dynamic_library.h"

namespace pellvane::testing {

class FakeDnssdControl {
  public:
    // Finds the library that PELLVANE_FAKE_DNSSD names (loaded already or not).
    FakeDnssdControl();
    ~FakeDnssdControl();
    FakeDnssdControl(const FakeDnssdControl&) = delete;
    FakeDnssdControl& operator=(const FakeDnssdControl&) = delete;

    bool found() const { return setDaemonRunning_ != nullptr; }
    void setDaemonRunning(bool running);
    void setRepliesHeld(bool held);
    void setConflictsInCall(bool inCall);
    bool isRegistered(const char* name, const char* type) const;

  private:
    dynlib::LibraryHandle library_ = nullptr;
    void (*setDaemonRunning_)(int) = nullptr;
    void (*setRepliesHeld_)(int) = nullptr;
    void (*setConflictsInCall_)(int) = nullptr;
    int (*isRegistered_)(const char*, const char*) = nullptr;
};

}  // namespace pellvane::testing
