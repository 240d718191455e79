// Starting the program at login on Linux desktops: an XDG autostart entry,
// $XDG_CONFIG_HOME/autostart/pellvane-server.desktop ($HOME/.config when XDG_CONFIG_HOME is
// unset, empty or relative).
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pellvane::shell {

// Nothing when neither XDG_CONFIG_HOME nor HOME names an absolute folder.
std::optional<std::filesystem::path> autostartFilePath();

// The entry exists and does not hide itself (Hidden=true), so the desktop starts it.
bool autostartEnabled();

// Writes the entry for the running program; empty on success, otherwise what went wrong.
std::string enableAutostart();
// The same for `program` (an absolute path).
std::string enableAutostartFor(const std::filesystem::path& program);
// Removes the entry; one that is not there is success.
std::string disableAutostart();

// The Desktop Entry text that starts `program`; nothing when the path cannot be written in
// one (not UTF-8, or control characters).
std::optional<std::string> autostartEntryText(std::string_view program);
// `program` as the Exec key's value: quoted where it holds reserved characters, with the
// quoting's and the string type's escapes and field-code percent signs doubled.
std::optional<std::string> desktopExecValue(std::string_view program);

}  // namespace pellvane::shell
