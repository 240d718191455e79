#include "shell/posix/autostart.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "platform/posix/utf8_text.h"

namespace pellvane::shell {
namespace {

constexpr const char* entryName = "pellvane-server.desktop";
// Hidden, and not ending in .desktop, so that no desktop takes a half-written entry.
constexpr const char* temporaryPattern = ".pellvane-server.desktop.XXXXXX";
// A desktop entry is a few hundred bytes; a bigger file is not ours to parse.
constexpr std::streamsize entryReadLimit = 64 * 1024;

std::string systemError(const std::string& what, int code) {
    return what + ": " + std::strerror(code);
}

std::optional<std::filesystem::path> absoluteFolder(const char* variable) {
    const char* value = std::getenv(variable);
    if (value == nullptr || value[0] != '/') {
        return std::nullopt;
    }
    return std::filesystem::path(value);
}

// Well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF) without
// control characters other than those the string type can escape.
bool writableInEntry(std::string_view text) {
    if (posix::validUtf8(text) != text) {
        return false;
    }
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto byte = static_cast<unsigned char>(text[at]);
        const bool c0 = byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r';
        // C1 controls, U+0080 to U+009F, are C2 80 to C2 9F in UTF-8.
        const bool c1 = byte == 0xC2 && at + 1 < text.size() &&
                        static_cast<unsigned char>(text[at + 1]) <= 0x9F;
        if (c0 || byte == 0x7F || c1) {
            return false;
        }
    }
    return true;
}

bool needsQuoting(std::string_view argument) {
    return argument.empty() ||
           argument.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string_view::npos;
}

// The string type's escapes, which a reader undoes before the Exec quoting.
std::string escapedString(std::string_view text) {
    std::string out;
    for (const char c : text) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
    return out;
}

// Creates each missing folder of `path` with `mode`.
std::string createFolders(const std::filesystem::path& path, mode_t mode) {
    std::filesystem::path partial;
    for (const auto& part : path) {
        partial /= part;
        if (::mkdir(partial.c_str(), mode) != 0 && errno != EEXIST) {
            return systemError("cannot create " + partial.string(), errno);
        }
    }
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0 || !S_ISDIR(status.st_mode)) {
        return "cannot create " + path.string() + ": not a folder";
    }
    return {};
}

bool writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        const ssize_t wrote = ::write(fd, text.data(), text.size());
        if (wrote < 0 && errno == EINTR) {
            continue;
        }
        if (wrote <= 0) {
            return false;
        }
        text.remove_prefix(static_cast<std::size_t>(wrote));
    }
    return true;
}

// Writes `text` beside `target` and renames it into place, so that the entry is either the
// old one or the whole new one.
std::string replaceFile(const std::filesystem::path& target, std::string_view text) {
    std::string temporary = (target.parent_path() / temporaryPattern).string();
    const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        return systemError("cannot write in " + target.parent_path().string(), errno);
    }
    std::string error;
    if (!writeAll(fd, text) || ::fchmod(fd, 0644) != 0 || ::fsync(fd) != 0) {
        error = systemError("cannot write " + temporary, errno);
    }
    if (::close(fd) != 0 && error.empty()) {
        error = systemError("cannot write " + temporary, errno);
    }
    if (error.empty() && ::rename(temporary.c_str(), target.c_str()) != 0) {
        error = systemError("cannot replace " + target.string(), errno);
    }
    if (!error.empty()) {
        ::unlink(temporary.c_str());
    }
    return error;
}

std::optional<std::filesystem::path> runningProgram() {
    std::error_code error;
    const auto program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error || !program.is_absolute()) {
        return std::nullopt;
    }
    return program;
}

// "Hidden=true" in the [Desktop Entry] group (keys may have spaces around the '=').
bool hidesItself(std::istream& entry) {
    std::string line;
    bool inMainGroup = false;
    while (std::getline(entry, line)) {
        if (!line.empty() && line.back() == '\r') {
            line.pop_back();
        }
        if (!line.empty() && line.front() == '[') {
            inMainGroup = line == "[Desktop Entry]";
            continue;
        }
        const std::size_t equals = line.find('=');
        if (!inMainGroup || equals == std::string::npos) {
            continue;
        }
        const auto trimmed = [](std::string_view text) {
            const std::size_t first = text.find_first_not_of(" \t");
            const std::size_t last = text.find_last_not_of(" \t");
            return first == std::string_view::npos ? std::string_view{}
                                                   : text.substr(first, last - first + 1);
        };
        const std::string_view text(line);
        if (trimmed(text.substr(0, equals)) == "Hidden" &&
            trimmed(text.substr(equals + 1)) == "true") {
            return true;
        }
    }
    return false;
}

}  // namespace

std::optional<std::filesystem::path> autostartFilePath() {
    auto config = absoluteFolder("XDG_CONFIG_HOME");
    if (!config) {
        const auto home = absoluteFolder("HOME");
        if (!home) {
            return std::nullopt;
        }
        config = *home / ".config";
    }
    return *config / "autostart" / entryName;
}

bool autostartEnabled() {
    const auto path = autostartFilePath();
    if (!path) {
        return false;
    }
    std::ifstream file(*path);
    if (!file) {
        return false;
    }
    std::string content(static_cast<std::size_t>(entryReadLimit), '\0');
    file.read(content.data(), entryReadLimit);
    content.resize(static_cast<std::size_t>(file.gcount()));
    std::istringstream entry(content);
    return !hidesItself(entry);
}

std::optional<std::string> desktopExecValue(std::string_view program) {
    if (!writableInEntry(program)) {
        return std::nullopt;
    }
    std::string argument;
    if (needsQuoting(program)) {
        argument += '"';
        for (const char c : program) {
            if (c == '"' || c == '`' || c == '$' || c == '\\') {
                argument += '\\';
            }
            argument += c;
        }
        argument += '"';
    } else {
        argument = program;
    }
    std::string value;
    for (const char c : argument) {
        value += c;
        if (c == '%') {
            value += '%';
        }
    }
    return escapedString(value);
}

std::optional<std::string> autostartEntryText(std::string_view program) {
    const auto exec = desktopExecValue(program);
    if (!exec) {
        return std::nullopt;
    }
    return "[Desktop Entry]\n"
           "Type=Application\n"
           "Name=Pellvane Server\n"
           "Comment=Lets a pad app on a phone or tablet type and play on this computer\n"
           "Exec=" +
           *exec +
           "\n"
           "Icon=pellvane-server\n"
           "Terminal=false\n"
           "X-GNOME-Autostart-enabled=true\n";
}

std::string enableAutostart() {
    const auto program = runningProgram();
    if (!program) {
        return "cannot tell where the running program is";
    }
    return enableAutostartFor(*program);
}

std::string enableAutostartFor(const std::filesystem::path& program) {
    const auto path = autostartFilePath();
    if (!path) {
        return "neither XDG_CONFIG_HOME nor HOME names an absolute folder";
    }
    if (!program.is_absolute()) {
        return "the program path " + program.string() + " is not absolute";
    }
    const auto text = autostartEntryText(program.string());
    if (!text) {
        return "the program path cannot be written in a desktop entry";
    }
    // The configuration folder is private, as the XDG rules ask; autostart is the usual 0755.
    const auto config = path->parent_path().parent_path();
    if (auto error = createFolders(config, 0700); !error.empty()) {
        return error;
    }
    if (auto error = createFolders(path->parent_path(), 0755); !error.empty()) {
        return error;
    }
    return replaceFile(*path, *text);
}

std::string disableAutostart() {
    const auto path = autostartFilePath();
    if (!path) {
        return "neither XDG_CONFIG_HOME nor HOME names an absolute folder";
    }
    if (::unlink(path->c_str()) != 0 && errno != ENOENT) {
        return systemError("cannot remove " + path->string(), errno);
    }
    return {};
}

}  // namespace pellvane::shell
