#include "delegates/foreground_monitor.h"

#include <string>

#include "delegates/process_naming.h"
#include "platform/debug_output.h"
#include "platform/printable_text.h"
#include "server/wire_building.h"
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

}  // namespace

void runMonitorCycle(ZarvoServer& server, desktop::Desktop& desktop) {
    const std::unique_ptr<wire::AppNameRecord> fresh = nameForegroundApp(desktop);
    if (!fresh) {
        debug::output(L"NULL FMAPP\n");
        return;
    }
    if (!server.keyFilter().replaceForegroundApp(*fresh)) {
        return;
    }
    // Sent outside the key filter's lock: a slow client must not hold up key messages.
    server.broadcast(wire::buildAppName(*fresh));
    // A process image name is whatever its file is called.
    const std::string name = printableText(fresh->nameView());
    debug::output(L"Appswitch: ");
    debug::outputNarrow(name.c_str());
    debug::output(L"\n");
    server.keyFilter().reapplyWantedApp();
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
