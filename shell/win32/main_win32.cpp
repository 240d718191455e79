// The tray program's entry: one instance, the two services, the hidden window with its
// tray icon, the message loop, and an orderly end.
#include "server/dnssd_binding.h"
#include "shell/application.h"
#include "shell/single_instance.h"
#include "shell/system_seams.h"
#include "shell/win32/application_tray_actions.h"
#include "shell/win32/main_window.h"
#include "shell/win32/resource_ids.h"

// Last: its MAXUINT16 macro would otherwise rewrite the wire protocol's constant.
#include <windows.h>

namespace {

using namespace pellvane;

// Until WM_QUIT; its exit code. A failing GetMessageW (-1) ends the loop too, rather than
// spinning on an error.
int runMessageLoop(HACCEL accelerators) {
    MSG message{};
    while (::GetMessageW(&message, nullptr, 0, 0) > 0) {
        if (accelerators != nullptr &&
            ::TranslateAcceleratorW(message.hwnd, accelerators, &message) != 0) {
            continue;
        }
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
    return static_cast<int>(message.wParam);
}

}  // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    // Bound for the whole run; unloaded after everything that uses it has ended.
    dnssd::LibraryScope dnssdLibrary;
    shell::SystemSeams system;
    auto instanceGuard = shell::claimSingleInstance(system.dialogs());
    if (!instanceGuard) {
        return 0;
    }

    shell::Application application(system.seams());
    application.start();

    shell::win32::loadWindowTexts(instance);
    shell::win32::registerWindowClass(instance);
    shell::win32::ApplicationTrayActions trayActions(application);
    if (!shell::win32::createMainWindow(instance, trayActions)) {
        return 0;  // the Application still ends its services on the way out
    }
    HACCEL accelerators = ::LoadAcceleratorsW(instance, MAKEINTRESOURCEW(IDC_PELLVANE));
    const int exitCode = runMessageLoop(accelerators);

    shell::win32::removeTrayIcon();
    // Both services end, their threads joined, before the controller and the socket
    // library close: the pad service's loop is the controller's other user.
    application.shutDown();
    instanceGuard.reset();
    return exitCode;
}
