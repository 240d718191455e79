#!/usr/bin/env python3
"""End-to-end tests of the Windows tray program under Wine.

Each case copies pellvane-server.exe and the test dnssd.dll into a fresh working directory,
starts the program there under Wine and drives it from outside: pad clients connect from
this side to the ports that the test dnssd.dll logs, and pellvane-e2e-helper.exe acts as the
user at the desktop (answers message boxes, clicks the tray icon, opens the menu, stands in
front as an application). The program's debug lines (WINEDEBUG=+debugstr; Wine 8.0 writes
the wide ones on its warn+seh channel) and its tray calls (+systray) are read from its
standard error.

Usage: wine_e2e.py CASE --server EXE --dnssd DLL --helper EXE
"""

import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time

import pad_wire

WINE = os.environ.get("WINE", "/usr/lib/wine/wine64")
CAPTION = "Pellvane Server"
MARKER = "quibdeverr.ini"
CONTROLLER_MISSING_LINES = [
    "The Quib Controller virtual device was not found.",
    "If this message appears it means the virtual device is not working correctly or was "
    "not installed correctly.",
    "Quib Server will still be able to work normally,",
    "but it won't be able to reproduce joystick/gamepad events.",
]
INSTANCE_RUNNING = "An instance of Pellvane Server is already running."
PAD_TYPE = "_kesp._tcp"
CHANNEL_TYPE = "_kespchan._tcp"

# Tray callback events and keys as the helper takes them (hex).
WM_CONTEXTMENU = "7b"
WM_LBUTTONUP = "202"
WM_RBUTTONUP = "205"
VK_ESCAPE = "1b"
VK_D = "44"
VK_Q = "51"
# Positions in the pad's key table.
KEY_RETURN = 36
KEY_LEFT_ARROW = 123
IDM_ABOUT = "104"
IDM_DISCONNECT = "105"
IDM_EXIT = "106"

# Shell_NotifyIconW as Wine's shell32 traces it: NIM_ADD is 0, NIM_DELETE 2.
TRAY_ADD_TRACE = "Shell_NotifyIconW dwMessage = 0, nid->cbSize=168"
TRAY_DELETE_TRACE = "Shell_NotifyIconW dwMessage = 2, nid->cbSize=168"


class Failure(Exception):
    pass


def check(condition, what):
    if not condition:
        raise Failure(what)
    print("ok: " + what, flush=True)


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wait_until(predicate, timeout, interval=0.2):
    deadline = time.monotonic() + timeout
    while True:
        value = predicate()
        if value or time.monotonic() >= deadline:
            return value
        time.sleep(interval)


class Helper:
    """pellvane-e2e-helper.exe under Wine."""

    def __init__(self, exe):
        self.exe = exe

    def run(self, *args, timeout=90):
        # Output through a file, not a pipe: Wine's service processes that a program may
        # start inherit its handles and would hold a pipe open long after it ended.
        with tempfile.TemporaryFile(mode="w+") as output_file:
            code = subprocess.run([WINE, self.exe, *args], stdout=output_file,
                                  stderr=subprocess.DEVNULL, timeout=timeout).returncode
            output_file.seek(0)
            output = output_file.read().strip()
        print("helper %s -> %d %s" % (" ".join(args), code, output), flush=True)
        return code, output

    def succeeds(self, *args, timeout=90):
        return self.run(*args, timeout=timeout)[0] == 0

    def answer_box(self, text, button, caption=CAPTION, timeout_ms=30000):
        code, output = self.run("answer-box", caption, text, button, str(timeout_ms))
        return output if code == 0 else None

    def server_window(self):
        code, output = self.run("server-window", "20000")
        if code != 0:
            return None, None
        words = output.split()
        return words[1], words[3] == "1"

    def tray_icon_present(self, window):
        return self.run("tray-icon", window)[1] == "present"

    def open_tray_menu(self, event):
        return self.succeeds("post-tray", event) and self.succeeds("wait-menu", "10000")

    def start(self, *args):
        return subprocess.Popen([WINE, self.exe, *args], stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)


class Server:
    """One run of pellvane-server.exe in `workdir`, with the test dnssd.dll beside it."""

    def __init__(self, workdir, exe, dnssd, label="server"):
        self.workdir = workdir
        self.exe = os.path.join(workdir, "pellvane-server.exe")
        if not os.path.exists(self.exe):
            shutil.copy(exe, self.exe)
            if dnssd is not None:
                shutil.copy(dnssd, os.path.join(workdir, "dnssd.dll"))
        self.log = os.path.join(workdir, "dnssd.log")
        self.stderr_path = os.path.join(workdir, label + ".stderr")
        self.process = None

    def start(self):
        env = dict(os.environ)
        env["PELLVANE_FAKE_DNSSD_LOG"] = windows_path(self.log)
        env["WINEDEBUG"] = "-all,+debugstr,warn+seh,+systray"
        with open(self.stderr_path, "w") as stderr:
            self.process = subprocess.Popen([WINE, self.exe], cwd=self.workdir, env=env,
                                            stdout=subprocess.DEVNULL, stderr=stderr)
        return self

    def registrations(self):
        """(name, type, domain, port) of every registration so far, in order."""
        if not os.path.exists(self.log):
            return []
        with open(self.log) as log:
            rows = [line.split() for line in log if line.strip()]
        return [(row[0], row[1], row[2], int(row[3])) for row in rows if len(row) == 4]

    def wait_registrations(self, count, timeout=30):
        return wait_until(lambda: len(self.registrations()) >= count, timeout)

    def last_port(self, service_type):
        ports = [row[3] for row in self.registrations() if row[1] == service_type]
        return ports[-1] if ports else None

    def stderr(self):
        with open(self.stderr_path, errors="replace") as stderr:
            return stderr.read()

    def wait_exit(self, timeout=30):
        try:
            return self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            return None

    def running(self):
        return self.process is not None and self.process.poll() is None

    def kill(self):
        if self.running():
            self.process.kill()
            self.process.wait()


class Session:
    """What one case works with; ends every process it started."""

    def __init__(self, options):
        self.options = options
        self.workdir = tempfile.mkdtemp(prefix="pellvane-e2e-")
        self.helper = Helper(options.helper)
        self.servers = []
        self.others = []

    def server(self, label="server", with_dnssd=True):
        dnssd = self.options.dnssd if with_dnssd else None
        server = Server(self.workdir, self.options.server, dnssd, label)
        self.servers.append(server)
        return server

    def start_other(self, args):
        process = subprocess.Popen([WINE, *args], cwd=self.workdir, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        self.others.append(process)
        return process

    def mark_controller_notice_given(self):
        open(os.path.join(self.workdir, MARKER), "wb").close()

    def close(self, keep):
        for server in self.servers:
            if server.running():
                print("--- %s still running; its debug output:" % server.stderr_path)
                print(server.stderr()[-4000:])
            server.kill()
        for process in self.others:
            if process.poll() is None:
                process.kill()
                process.wait()
        if keep:
            print("working directory kept: " + self.workdir)
        else:
            shutil.rmtree(self.workdir, ignore_errors=True)


def running_server(session, label="server"):
    """A started server whose controller notice was given before, with both services up."""
    session.mark_controller_notice_given()
    server = session.server(label).start()
    check(server.wait_registrations(2), "both services registered")
    return server


def admitted_client(session, server, device_name, family=socket.AF_INET):
    client = pad_wire.Client(server.last_port(PAD_TYPE), family)
    client.send(pad_wire.hello(device_name))
    box = session.helper.answer_box(device_name + " requested to connect, accept connection?",
                                    "ok")
    check(box is not None, "the admission box names the device " + device_name)
    reply = client.receive_kind(pad_wire.HELLO_REPLY)
    return client, reply


def app_reported(client, name, timeout):
    """Whether the program reports `name` as the application in front within `timeout`."""
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        try:
            if client.receive_kind(pad_wire.APP_NAME, 1.0).app_name() == name:
                return True
        except TimeoutError:
            pass
    return False


def has_ipv6_loopback():
    try:
        with socket.socket(socket.AF_INET6, socket.SOCK_STREAM) as probe:
            probe.bind(("::1", 0))
        return True
    except OSError:
        return False


def quit_through_command(session, server, window):
    check(session.helper.succeeds("post-command", IDM_EXIT), "Quit command posted")
    check(server.wait_exit() == 0, "Quit ends the program with exit code 0")
    check_icon_removed(session, server, window)


def check_icon_removed(session, server, window):
    check(TRAY_DELETE_TRACE in server.stderr(), "the tray icon was deleted at shutdown")
    check(not session.helper.tray_icon_present(window), "no tray icon is left behind")


def case_startup(session):
    server = session.server().start()
    box = session.helper.answer_box(CONTROLLER_MISSING_LINES[0], "ok")
    check(box is not None, "the missing-controller box appears on the first start")
    check(all(line in box for line in CONTROLLER_MISSING_LINES), "its text is complete")
    marker = os.path.join(session.workdir, MARKER)
    check(os.path.exists(marker) and os.path.getsize(marker) == 0, "an empty marker file is left")
    check(server.wait_registrations(2), "both services registered")
    types = sorted((row[1], row[2]) for row in server.registrations())
    check(types == [(PAD_TYPE, "-"), (CHANNEL_TYPE, "local.")],
          "pad service in the default domain, channel service in local.")
    window, visible = session.helper.server_window()
    check(window is not None and not visible, "the program's window exists and is hidden")
    check(session.helper.tray_icon_present(window), "the tray icon is there")
    check(TRAY_ADD_TRACE in server.stderr(), "the icon was added with the first version's size")
    check("Controller NOT OPENED!" in server.stderr(), "the missing controller is traced")
    check("Gamepad bus: not found" in server.stderr(), "the real probe finds no gamepad bus")

    check(session.helper.succeeds("post-command", IDM_ABOUT), "About command posted")
    about = session.helper.answer_box("Pellvane, versione 1.0", "ok",
                                      caption="Informazioni su Pellvane")
    check(about is not None, "the about box shows the version")
    check(server.running(), "the program runs on after the about box")
    quit_through_command(session, server, window)

    again = session.server("second-start").start()
    check(session.helper.succeeds("expect-no-box", CAPTION, CONTROLLER_MISSING_LINES[0], "6000"),
          "a later start does not show the missing-controller box again")
    check(again.wait_registrations(4), "the later start registers both services")
    window, _ = session.helper.server_window()
    check(window is not None and session.helper.tray_icon_present(window),
          "the later start has its tray icon")
    check(os.path.getsize(marker) == 0, "the marker file stays empty")
    quit_through_command(session, again, window)


def case_second_instance(session):
    first = running_server(session, "first")
    window, _ = session.helper.server_window()
    second = session.server("second").start()
    box = session.helper.answer_box(INSTANCE_RUNNING, "ok")
    check(box is not None, "a second instance shows the instance box")
    check(second.wait_exit() == 0, "the second instance ends with exit code 0")
    check(len(first.registrations()) == 2, "the second instance registered nothing")
    check(first.running() and session.helper.tray_icon_present(window),
          "the first instance runs on with its tray icon")
    family = socket.AF_INET6 if has_ipv6_loopback() else socket.AF_INET
    client, reply = admitted_client(session, first, "after-second", family)
    check(reply.kind == pad_wire.HELLO_REPLY,
          "the first instance still admits pads (over IPv%d)" %
          (6 if family == socket.AF_INET6 else 4))
    client.close()
    quit_through_command(session, first, window)


def case_admission(session):
    server = running_server(session)
    window, _ = session.helper.server_window()
    service_name = server.registrations()[0][0]

    client, reply = admitted_client(session, server, "e2e-pad")
    check(reply.server_name() == service_name, "HelloReply carries the service name")
    udp_info = client.receive_kind(pad_wire.UDP_INFO)
    (family4, port4), (family6, _) = udp_info.udp_ports()
    check(udp_info.size == 56 and family4 == 2 and family6 == 23 and port4 != 0,
          "UdpInfo follows with the UDP ports")

    keys_file = os.path.join(session.workdir, "keys.txt")
    recorder = session.helper.start("record-keys", windows_path(keys_file), "90000")
    session.others.append(recorder)
    check(wait_until(lambda: "ready" in read_lines(keys_file), 30),
          "a test window is in front")
    check(app_reported(client, "pellvane-e2e-helper", 20),
          "the test window's application is reported in front")

    client.send(pad_wire.app_name("notepad"))
    client.send(pad_wire.typed_character(pad_wire.KEY_DOWN, "x"))
    client.send(pad_wire.typed_character(pad_wire.KEY_UP, "x"))
    time.sleep(3)
    check(key_lines(keys_file) == [], "keys are dropped while another application is wanted")

    client.send(pad_wire.app_name("<generic>"))
    # With no controller at all, gamepad events are dropped and the keys after them arrive.
    client.send(pad_wire.gamepad_button(0, 1.0))
    client.send(pad_wire.gamepad_button(0, 0.0))
    for character in "Hi":
        client.send(pad_wire.typed_character(pad_wire.KEY_DOWN, character))
        client.send(pad_wire.typed_character(pad_wire.KEY_UP, character))
    expected = ["down 2a", "down 23", "up 2a", "up 23", "down 17", "up 17"]
    wait_until(lambda: len(key_lines(keys_file)) >= len(expected), 20)
    check(key_lines(keys_file) == expected,
          "typed text reaches the window in front as scan codes: %s" % key_lines(keys_file))

    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as datagrams:
        for kind in (pad_wire.KEY_DOWN, pad_wire.KEY_UP):
            datagrams.sendto(pad_wire.typed_character(kind, "o"), ("127.0.0.1", port4))
    expected += ["down 18", "up 18"]
    wait_until(lambda: len(key_lines(keys_file)) >= len(expected), 20)
    check(key_lines(keys_file) == expected, "keys sent as datagrams to the UDP port arrive too")

    for kind in (pad_wire.KEY_DOWN, pad_wire.KEY_UP):
        client.send(pad_wire.key_message(kind, [(pad_wire.NO_VALUE, KEY_LEFT_ARROW),
                                                (pad_wire.NO_VALUE, KEY_RETURN)]))
    expected += ["down 4be", "down 1c", "up 4be", "up 1c"]
    wait_until(lambda: len(key_lines(keys_file)) >= len(expected), 20)
    check(key_lines(keys_file) == expected,
          "key positions arrive as scan codes, the arrow as an extended key")

    channel = pad_wire.Client(server.last_port(CHANNEL_TYPE))
    event = pad_wire.channel_event(b"e2e channel payload")
    channel.send(event)
    relayed = client.receive_kind(pad_wire.CHANNEL_EVENT)
    check(relayed.data == event, "a channel event reaches the pad byte for byte")
    channel.close()

    refused = pad_wire.Client(server.last_port(PAD_TYPE))
    refused.send(pad_wire.hello("e2e-refused"))
    box = session.helper.answer_box("e2e-refused requested to connect", "cancel")
    check(box is not None, "a second device raises its own admission box")
    refusal = refused.receive()
    check(refusal.kind == pad_wire.REFUSAL and refusal.size == 144, "Cancel sends a Refusal")
    check(refused.closed_by_server(), "and closes the refused connection")
    client.close()
    quit_through_command(session, server, window)


def case_notepad(session):
    session.start_other(["notepad"])
    check(session.helper.succeeds("activate", "Notepad", "30000"), "notepad runs")
    server = running_server(session)
    window, _ = session.helper.server_window()
    client, reply = admitted_client(session, server, "e2e-apps")
    names = [name for name, _ in reply.apps()]
    check("notepad" in names, "notepad is in the HelloReply's application list: %s" % names)

    check(session.helper.succeeds("activate", "Notepad", "10000"), "notepad is brought in front")

    check(app_reported(client, "notepad", 20), "notepad is reported as AppName")
    client.close()
    quit_through_command(session, server, window)


def case_tray(session):
    server = running_server(session)
    window, _ = session.helper.server_window()
    first_port = server.last_port(PAD_TYPE)
    client, _ = admitted_client(session, server, "e2e-tray")

    check(session.helper.open_tray_menu(WM_RBUTTONUP), "a right click opens the tray menu")
    check(session.helper.succeeds("press-key", VK_D), "Disconnect chosen from the menu")
    check(client.closed_by_server(), "Disconnect drops the pad client")
    check(wait_until(lambda: server.last_port(PAD_TYPE) not in (None, first_port), 30),
          "the pad service registers again on a new port")
    check(server.registrations()[-1][1] == PAD_TYPE and len(server.registrations()) == 3,
          "only the pad service was restarted")
    again, reply = admitted_client(session, server, "e2e-again")
    check(reply.kind == pad_wire.HELLO_REPLY, "pads are admitted on the new port")
    again.close()

    time.sleep(1)  # the program sees the pad leave
    check(session.helper.open_tray_menu(WM_RBUTTONUP), "the menu opens without pads")
    check(session.helper.succeeds("press-key", VK_D), "D pressed in the menu")
    check(session.helper.succeeds("press-key", VK_ESCAPE), "Escape pressed")
    check(session.helper.succeeds("expect-no-menu", "5000"), "the menu is closed")
    time.sleep(2)
    check(len(server.registrations()) == 3, "without pads the menu offers no Disconnect")

    check(session.helper.succeeds("post-command", IDM_DISCONNECT), "Disconnect command posted")
    check(wait_until(lambda: len(server.registrations()) == 4, 30),
          "the Disconnect command restarts the pad service")

    check(session.helper.succeeds("tray-delete", window), "the shell loses the icon")
    check(not session.helper.tray_icon_present(window), "the icon is gone")
    check(session.helper.succeeds("post-taskbar-created"), "the shell announces itself again")
    check(wait_until(lambda: session.helper.tray_icon_present(window), 10),
          "the icon is added again after TaskbarCreated")

    check(session.helper.open_tray_menu(WM_CONTEXTMENU), "the keyboard's menu action opens it")
    check(session.helper.succeeds("press-key", VK_ESCAPE), "Escape closes it")
    check(session.helper.succeeds("expect-no-menu", "5000"), "the menu is closed")
    check(server.running(), "the program runs on")
    check(session.helper.open_tray_menu(WM_LBUTTONUP), "a left click opens the menu")
    check(session.helper.succeeds("press-key", VK_Q), "Quit chosen from the menu")
    check(server.wait_exit() == 0, "Quit ends the program with exit code 0")
    check_icon_removed(session, server, window)


def ends_without_admission(client):
    """True when the server closes the connection without having sent a HelloReply."""
    try:
        while client.receive(10).kind != pad_wire.HELLO_REPLY:
            pass
        return False
    except pad_wire.ConnectionClosed:
        return True
    except TimeoutError:
        return False


def case_quit_during_admission(session):
    server = running_server(session)
    window, _ = session.helper.server_window()
    client = pad_wire.Client(server.last_port(PAD_TYPE))
    client.send(pad_wire.hello("e2e-late"))
    check(session.helper.succeeds("find-box", CAPTION, "e2e-late requested to connect", "30000"),
          "the admission box is open")
    check(session.helper.succeeds("post-command", IDM_EXIT), "Quit while the admission box is open")
    check(server.wait_exit() == 0,
          "Quit closes the open box as a refusal and ends the program with exit code 0")
    check(session.helper.answer_box("e2e-late requested to connect", "ok", timeout_ms=1000) is None,
          "no admission box is left to answer")
    check(ends_without_admission(client), "and the pad's connection ends without admission")
    check_icon_removed(session, server, window)


def case_no_dnssd(session):
    session.mark_controller_notice_given()
    server = session.server(with_dnssd=False).start()
    check(session.helper.answer_box("Pellvane Server could not start the Bonjour service.",
                                    "ok") is not None,
          "without dnssd.dll the pad service gives up with a box")
    check(session.helper.answer_box("Pellvane Server could not start the Channel Server.",
                                    "ok") is not None,
          "and so does the channel service")
    window, _ = session.helper.server_window()
    check(window is not None and session.helper.tray_icon_present(window),
          "the program runs on with its tray icon")
    quit_through_command(session, server, window)


def read_lines(path):
    if not os.path.exists(path):
        return []
    with open(path) as lines:
        return [line.strip() for line in lines if line.strip()]


def key_lines(path):
    return [line for line in read_lines(path) if line != "ready"]


CASES = {
    "startup": case_startup,
    "second_instance": case_second_instance,
    "admission": case_admission,
    "notepad": case_notepad,
    "tray": case_tray,
    "no_dnssd": case_no_dnssd,
    "quit_during_admission": case_quit_during_admission,
}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("case", choices=sorted(CASES))
    parser.add_argument("--server", required=True)
    parser.add_argument("--dnssd", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the working directory")
    options = parser.parse_args()
    session = Session(options)
    failed = False
    try:
        CASES[options.case](session)
    except (Failure, pad_wire.ConnectionClosed, TimeoutError, OSError,
            subprocess.TimeoutExpired) as error:
        print("FAILED: %s: %r" % (options.case, error), flush=True)
        failed = True
    finally:
        session.close(keep=failed or options.keep)
    if not failed:
        print("PASSED: " + options.case)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
