#include "delegates/application_list.h"

#include <array>
#include <functional>
#include <unordered_set>

#include "delegates/process_naming.h"

namespace pellvane::apps {
namespace {

using ProcessIds = std::array<std::uint32_t, processIdCapacity>;

std::unordered_set<std::uint32_t> windowOwners(desktop::Desktop& desktop) {
    std::unordered_set<std::uint32_t> owners;
    for (desktop::WindowHandle window = desktop.topWindow(); window != desktop::noWindow;
         window = desktop.nextWindow(window)) {
        owners.insert(desktop.windowProcessId(window));
    }
    return owners;
}

std::unique_ptr<wire::AppList> listOwners(desktop::Desktop& desktop,
                                          const std::function<bool(std::uint32_t)>& ownsWindow) {
    ProcessIds ids{};
    const std::size_t count = desktop.enumerateProcesses(ids);
    if (count == desktop::enumerationFailed) {
        return nullptr;
    }
    auto list = std::make_unique<wire::AppList>();
    for (std::size_t i = 0; i < std::min(count, ids.size()); ++i) {
        const std::uint32_t processId = ids[i];
        if (processId == 0 || !ownsWindow(processId)) {
            continue;
        }
        wire::AppNameRecord record;
        if (nameProcess(desktop, record, processId)) {
            list->records.push_back(record);
        }
    }
    return list;
}

}  // namespace

std::unique_ptr<wire::AppList> listApplications(desktop::Desktop& desktop) {
    // One walk collects every window's owner; each process is then a set lookup.
    const std::unordered_set<std::uint32_t> owners = windowOwners(desktop);
    return listOwners(desktop,
                      [&owners](std::uint32_t processId) { return owners.contains(processId); });
}

std::unique_ptr<wire::AppList> listApplicationsWalkingPerProcess(desktop::Desktop& desktop) {
    return listOwners(desktop, [&desktop](std::uint32_t processId) {
        return ownsTopLevelWindow(desktop, processId);
    });
}

}  // namespace pellvane::apps
