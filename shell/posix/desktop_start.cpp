#include "shell/posix/desktop_start.h"

#include <unistd.h>

#include <filesystem>
#include <system_error>

#include "platform/posix/dialog_program.h"

namespace pellvane::shell {
namespace {

std::filesystem::path programDirectory() {
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    return error ? std::filesystem::path() : program.parent_path();
}

bool holdsIcon(const std::filesystem::path& theme) {
    std::error_code error;
    return std::filesystem::exists(theme / "hicolor/scalable/apps/pellvane-server.svg", error);
}

}  // namespace

std::unique_ptr<dialogs::Dialogs> fallbackDialogs() {
    std::unique_ptr<dialogs::Dialogs> program = dialogs::createDialogProgramDialogs();
    return program != nullptr ? std::move(program) : dialogs::createSystemDialogs();
}

std::string iconThemePath() {
    const std::filesystem::path directory = programDirectory();
    for (const std::filesystem::path& theme :
         {directory / "../share/icons", directory / "data/icons"}) {
        if (holdsIcon(theme)) {
            return std::filesystem::weakly_canonical(theme).string();
        }
    }
    return {};
}

}  // namespace pellvane::shell
