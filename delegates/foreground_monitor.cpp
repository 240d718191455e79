#include "delegates/foreground_monitor.h"

#include <mutex>
#include <string>

#include "delegates/app_filter.h"
#include "delegates/process_naming.h"
#include "platform/debug_output.h"
#include "platform/printable_text.h"
#include "server/zarvo_server.h"

namespace pellvane::apps {
namespace {

std::unique_ptr<wire::AppNameRecord> nameForegroundApp(desktop::Desktop& desktop) {
    const desktop::WindowHandle window = desktop.foregroundWindow();
    if (window == desktop::noWindow) {
        return nullptr;
    }
    const std::uint32_t processId = desktop.windowProcessId(window);
    auto fresh = std::make_unique<wire::AppNameRecord>();
    if (!ownsTopLevelWindow(desktop, processId) || !nameProcess(desktop, *fresh, processId)) {
        return nullptr;
    }
    return fresh;
}

// Stores `fresh` as the application in front; false when it has the name already there.
bool replaceForegroundApp(ZarvoServer& server, const wire::AppNameRecord& fresh) {
    std::lock_guard guard(server.appFilterLock);
    if (server.foregroundApp && server.foregroundApp->nameView() == fresh.nameView()) {
        return false;
    }
    server.foregroundApp = std::make_unique<wire::AppNameRecord>(fresh);
    return true;
}

}  // namespace

void runMonitorCycle(ZarvoServer& server, desktop::Desktop& desktop) {
    const std::unique_ptr<wire::AppNameRecord> fresh = nameForegroundApp(desktop);
    if (!fresh) {
        debug::output(L"NULL FMAPP\n");
        return;
    }
    if (!replaceForegroundApp(server, *fresh)) {
        return;
    }
    // Sent outside appFilterLock: a slow client must not hold up the key filter.
    server.broadcast(wire::buildAppName(*fresh));
    // A process image name is whatever its file is called.
    const std::string name = printableText(fresh->nameView());
    debug::output(L"Appswitch: ");
    debug::outputNarrow(name.c_str());
    debug::output(L"\n");
    reapplyWantedApp(server);
}

void foregroundMonitor(ZarvoServer& server, desktop::Desktop& desktop, const StopSignal& stop,
                       std::chrono::milliseconds interval) {
    do {
        runMonitorCycle(server, desktop);
    } while (!stop.waitFor(interval));
}

void startMonitor(ZarvoServer& server, desktop::Desktop& desktop,
                  std::chrono::milliseconds interval) {
    // A failed start is not retried until the server is stopped and its thread reset.
    if (server.monitorThread.state() != WorkerThread::State::idle) {
        return;
    }
    server.monitorThread.start([&server, &desktop, interval](const StopSignal& stop) {
        foregroundMonitor(server, desktop, stop, interval);
    });
}

void endMonitor(ZarvoServer& server) {
    server.monitorThread.stopAndJoin();
}

}  // namespace pellvane::apps
