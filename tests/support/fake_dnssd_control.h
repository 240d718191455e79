// Steers the test DNS-SD library (fake_dnssd.cpp) while servers use it: its daemon can go
// away and come back, its registration replies can wait, and a taken name can be refused
// by the call rather than the reply. Everything is put back when the object goes.
#pragma once

#include "platform/dynamic_library.h"

namespace pellvane::testing {

class FakeDnssdControl {
  public:
    // The library that PELLVANE_FAKE_DNSSD names, loaded already or not.
    FakeDnssdControl() : library_(dynlib::open(PELLVANE_FAKE_DNSSD)) {}
    ~FakeDnssdControl() {
        if (found()) {
            setDaemonRunning(true);
            setRepliesHeld(false);
            setConflictsInCall(false);
        }
        if (library_ != nullptr) {
            dynlib::close(library_);
        }
    }
    FakeDnssdControl(const FakeDnssdControl&) = delete;
    FakeDnssdControl& operator=(const FakeDnssdControl&) = delete;

    bool found() const { return control<void (*)(int)>("FakeDnssdSetDaemonRunning") != nullptr; }
    void setDaemonRunning(bool running) { set("FakeDnssdSetDaemonRunning", running); }
    void setRepliesHeld(bool held) { set("FakeDnssdSetRepliesHeld", held); }
    void setConflictsInCall(bool inCall) { set("FakeDnssdSetConflictsInCall", inCall); }
    bool isRegistered(const char* name, const char* type) const {
        return control<int (*)(const char*, const char*)>("FakeDnssdIsRegistered")(name, type) != 0;
    }

  private:
    template <class Function>
    Function control(const char* name) const {
        return library_ == nullptr ? nullptr
                                   : reinterpret_cast<Function>(dynlib::findSymbol(library_, name));
    }
    void set(const char* name, bool on) const { control<void (*)(int)>(name)(on ? 1 : 0); }

    dynlib::LibraryHandle library_;
};

}  // namespace pellvane::testing
