// The applications offered to an admitted pad client: every process that owns a top-level
// window, named by its image.
#pragma once

#include <memory>

#include "platform/desktop.h"
#include "server/wire_protocol.h"

namespace pellvane::apps {

// The system is asked for at most this many process ids; later ones are not looked at.
inline constexpr std::size_t processIdCapacity = 1024;

// In the order the system lists the processes; null when the enumeration fails. Walks the
// top-level windows once, whatever the number of processes.
std::unique_ptr<wire::AppList> listApplications(desktop::Desktop& desktop);

// The same list built by walking all windows once per process: kept to measure the single
// walk against and to check that both agree.
std::unique_ptr<wire::AppList> listApplicationsWalkingPerProcess(desktop::Desktop& desktop);

}  // namespace pellvane::apps
