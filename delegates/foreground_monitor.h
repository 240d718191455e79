// The pad service's foreground monitor: every few seconds it looks at the application in
// front and tells every admitted client when it changes.
#pragma once

#include <chrono>

#include "platform/desktop.h"
#include "platform/threads.h"

namespace pellvane {
class ZarvoServer;
}

namespace pellvane::apps {

inline constexpr std::chrono::milliseconds monitorInterval{5000};

// One look at the foreground: broadcasts an AppName and re-applies the wanted application
// when the name in front differs from the one last reported.
void runMonitorCycle(ZarvoServer& server, desktop::Desktop& desktop);

// Cycles at once and then after each interval until `stop` is requested; a request cuts
// the wait short but never a cycle.
void foregroundMonitor(ZarvoServer& server, desktop::Desktop& desktop, const StopSignal& stop,
                       std::chrono::milliseconds interval = monitorInterval);

// Starts the server's monitor on its monitorThread unless one was started already (or the
// system refused a thread since the server was last stopped).
void startMonitor(ZarvoServer& server, desktop::Desktop& desktop,
                  std::chrono::milliseconds interval = monitorInterval);

// Ends the server's monitor, if one runs, and returns when it has ended. The caller must
// not hold the server's locks: the monitor may be broadcasting.
void endMonitor(ZarvoServer& server);

}  // namespace pellvane::apps
