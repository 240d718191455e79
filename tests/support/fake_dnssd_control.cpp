#include "tests/support/fake_dnssd_control.h"

namespace pellvane::testing {
namespace {

template <class Function>
Function find(dynlib::LibraryHandle library, const char* name) {
    return library == nullptr ? nullptr
                              : reinterpret_cast<Function>(dynlib::findSymbol(library, name));
}

}  // namespace

FakeDnssdControl::FakeDnssdControl()
    : library_(dynlib::open(PELLVANE_FAKE_DNSSD)),
      setDaemonRunning_(find<void (*)(int)>(library_, "FakeDnssdSetDaemonRunning")),
      setRepliesHeld_(find<void (*)(int)>(library_, "FakeDnssdSetRepliesHeld")),
      setConflictsInCall_(find<void (*)(int)>(library_, "FakeDnssdSetConflictsInCall")),
      isRegistered_(find<int (*)(const char*, const char*)>(library_, "FakeDnssdIsRegistered")) {}

FakeDnssdControl::~FakeDnssdControl() {
    if (found()) {
        setDaemonRunning(true);
        setRepliesHeld(false);
        setConflictsInCall(false);
    }
    if (library_ != nullptr) {
        dynlib::close(library_);
    }
}

void FakeDnssdControl::setDaemonRunning(bool running) {
    setDaemonRunning_(running ? 1 : 0);
}

void FakeDnssdControl::setRepliesHeld(bool held) {
    setRepliesHeld_(held ? 1 : 0);
}

void FakeDnssdControl::setConflictsInCall(bool inCall) {
    setConflictsInCall_(inCall ? 1 : 0);
}

bool FakeDnssdControl::isRegistered(const char* name, const char* type) const {
    return isRegistered_(name, type) != 0;
}

}  // namespace pellvane::testing
