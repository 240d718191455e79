#include "delegates/process_naming.h"

#include <array>

#include "platform/debug_output.h"

namespace pellvane::apps {
namespace {

using PathBuffer = std::array<char, desktop::imagePathCapacity>;

// The three ways to an image path, each tried only when the one before gave nothing: the
// first fails for processes of another bitness, the second gives a device path.
std::size_t readImagePath(desktop::ProcessQuery& process, PathBuffer& path) {
    path.fill('\0');
    std::size_t length = process.moduleFileName(path);
    if (length == 0) {
        length = process.processImageFileName(path);
    }
    if (length == 0) {
        length = process.fullProcessImageName(path);
    }
    path.back() = '\0';  // an older system leaves a cut path unterminated
    return length;
}

}  // namespace

std::optional<std::string_view> baseNameOf(std::string_view imagePath, char separator) {
    const std::size_t lastSeparator = imagePath.rfind(separator);
    if (lastSeparator == std::string_view::npos) {
        return std::nullopt;
    }
    std::string_view baseName = imagePath.substr(lastSeparator + 1);
    return baseName.substr(0, baseName.find('.'));
}

bool nameProcess(desktop::Desktop& desktop, wire::AppNameRecord& record, std::uint32_t processId) {
    const std::unique_ptr<desktop::ProcessQuery> process = desktop.openProcess(processId);
    if (!process) {
        debug::output(L"Could not open process!\n");
        return false;
    }
    record = wire::AppNameRecord{};
    record.processId = processId;
    PathBuffer path;
    if (readImagePath(*process, path) == 0) {
        return false;
    }
    const std::string_view imagePath(path.data());
    const std::optional<std::string_view> name = baseNameOf(imagePath, desktop.pathSeparator());
    if (!name) {
        return false;
    }
    record.setName(*name);
    return true;
}

bool ownsTopLevelWindow(desktop::Desktop& desktop, std::uint32_t processId) {
    for (desktop::WindowHandle window = desktop.topWindow(); window != desktop::noWindow;
         window = desktop.nextWindow(window)) {
        if (desktop.windowProcessId(window) == processId) {
            return true;
        }
    }
    return false;
}

}  // namespace pellvane::apps
