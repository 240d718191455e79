#include "shell/posix/program_options.h"

#include <string_view>

namespace pellvane::shell {

ProgramOptions parseProgramOptions(int argc, const char* const* argv) {
    ProgramOptions options;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument(argv[i]);
        if (argument == "--debug") {
            options.debug = true;
            options.printKeys = true;
        } else if (argument == "--print-keys") {
            options.printKeys = true;
        } else if (argument == "--unicode-hex") {
            options.unicodeHex = true;
        } else if (argument == "--terminal") {
            options.terminal = true;
        } else if (argument == "--help" || argument == "-h") {
            options.help = true;
        } else {
            const char* kind =
                !argument.empty() && argument[0] == '-' ? "unknown option" : "unexpected argument";
            options.error = std::string("pellvane-server: ") + kind + " '" + std::string(argument) +
                            "'\nTry 'pellvane-server --help' for more information.\n";
            return options;
        }
    }
    return options;
}

const char* helpText() {
    return "Usage: pellvane-server [--debug] [--print-keys] [--unicode-hex] [--terminal]\n"
           "\n"
           "Lets a pad app on a phone or tablet act as a keyboard and a gamepad for this\n"
           "computer. The pad service (_kesp._tcp) and the channel service (_kespchan._tcp,\n"
           "domain local.) are announced through DNS-SD (avahi-daemon with its Bonjour\n"
           "compatibility library), under this computer's host name, on ports that the\n"
           "system chooses.\n"
           "\n"
           "Keys are typed on a virtual keyboard (/dev/uinput) as on a US keyboard layout;\n"
           "the gamepad moves the virtual controller that pellvane-vpad presents.\n"
           "\n"
           "On a desktop (a session bus, a tray that shows StatusNotifierItems) the program\n"
           "has a tray icon whose menu shows the channel port and the connected pads and\n"
           "offers Disconnect, Start at login, About and Quit; a device that asks to\n"
           "connect is a notification with Allow and Refuse (or a dialog box), and the\n"
           "menu holds the question too. Elsewhere, or with --terminal, it is a terminal\n"
           "program:\n"
           "\n"
           "While it runs:\n"
           "  - standard output shows \"Channel server port: N\" at start and whenever the\n"
           "    channel service's port changes; with --print-keys or --debug, or when there\n"
           "    is no virtual keyboard, also each key that a pad types as the SendInput\n"
           "    record Windows would receive (\"Beep ...\" for a refused key);\n"
           "  - a device that asks to connect is announced on standard error with\n"
           "    \"<device> requested to connect, accept connection? [y/N]\"; answer y (or\n"
           "    yes, ok) on standard input to let it in, anything else refuses it;\n"
           "  - when no virtual game controller is found, the program says so once and\n"
           "    leaves an empty file quibdeverr.ini in the working directory, so that later\n"
           "    starts stay quiet; the file is removed once a controller is found.\n"
           "\n"
           "Signals:\n"
           "  SIGHUP           disconnect: drops every pad client; the pad service comes back\n"
           "                   on new ports\n"
           "  SIGINT, SIGTERM  quit: both services end, keys still held are released and the\n"
           "                   program exits with code 0\n"
           "\n"
           "Only one copy runs per user; a second start says so and exits with code 0.\n"
           "\n"
           "Options:\n"
           "  --debug        write every diagnostic line to standard error; prints keys too\n"
           "  --print-keys   print each key record on standard output\n"
           "  --unicode-hex  type characters that the US layout lacks as Ctrl+Shift+U\n"
           "                 sequences, which IBus and GTK applications compose (other\n"
           "                 applications get those keys); without it they are not typed\n"
           "  --terminal     no tray, no notifications and no dialogs, even on a desktop:\n"
           "                 questions are asked on the terminal\n"
           "  --help         show this text and exit\n";
}

}  // namespace pellvane::shell
