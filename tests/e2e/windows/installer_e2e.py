#!/usr/bin/env python3
"""End-to-end test of the Windows installer under Wine.

Installs silently (setup.exe /S), reads back what it made (files, registry, shortcuts, the
netsh arguments of the firewall rule), starts the installed program from its Start-menu
shortcut and checks that its marker file lands in the per-user folder, then uninstalls
silently and checks that nothing is left. Wine's netsh is a stub that prints its arguments
on the fixme channel; they are read from the standard error of the installer and of the
uninstaller (whose children inherit it).

Usage: installer_e2e.py --installer SETUP_EXE --helper EXE [--keep]
"""

import argparse
import os
import re
import shutil
import subprocess
import sys
import tempfile

from wine_e2e import (CONTROLLER_MISSING_LINES, MARKER, WINE, Failure, Helper, check,
                      wait_until)

WINESERVER = os.environ.get("WINESERVER", "/usr/lib/wine/wineserver64")
PRODUCT = "Pellvane Server"
INSTALL_DIR = r"C:\Program Files\Pellvane Server"
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\PellvaneServer"
SHELL_FOLDERS = r"HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\Shell Folders"
SHORTCUT = "Pellvane Server.lnk"
PROGRAMS = ["pellvane-server.exe", "pellvane-pad.exe", "uninstall.exe"]


def wine_environment():
    env = dict(os.environ)
    # Keep Wine from making menu entries on the Linux desktop for the shortcuts.
    overrides = env.get("WINEDLLOVERRIDES", "mscoree,mshtml=")
    env["WINEDLLOVERRIDES"] = overrides + ";winemenubuilder.exe=d"
    env["WINEDEBUG"] = "-all,fixme+netsh"
    return env


def run_wine(args, stderr_path=None, timeout=120):
    """Exit code and standard output; standard error appended to `stderr_path`."""
    with tempfile.TemporaryFile(mode="w+") as output:
        stderr = open(stderr_path, "a") if stderr_path else subprocess.DEVNULL
        try:
            code = subprocess.run([WINE, *args], stdout=output, stderr=stderr,
                                  env=wine_environment(), timeout=timeout).returncode
        finally:
            if stderr_path:
                stderr.close()
        output.seek(0)
        return code, output.read()


def unix_path(windows_path):
    code, output = run_wine(["winepath", "-u", windows_path])
    return output.strip() if code == 0 else ""


def registry_values(key):
    """The values of a registry key as a dict, or None when the key does not exist."""
    code, text = run_wine(["reg", "query", key])
    if code != 0:
        return None
    values = {}
    for line in text.splitlines():
        match = re.match(r"\s+(.+?)\s{4}(REG_\w+)\s{4}(.*)$", line)
        if match:
            values[match.group(1)] = match.group(3).strip()
    return values


def netsh_calls(stderr_path):
    """The argument lists that Wine's netsh stub was called with."""
    calls = []
    with open(stderr_path, errors="replace") as stderr:
        for line in stderr:
            if "fixme:netsh" not in line:
                continue
            words = re.findall(r'L"((?:[^"\\]|\\.)*)"', line)
            calls.append([word.replace("\\\\", "\\") for word in words[1:]])
    return calls


def firewall_rule(protocol):
    return ["advfirewall", "firewall", "add", "rule", "name=" + PRODUCT, "dir=in",
            "action=allow", "program=" + INSTALL_DIR + "\\pellvane-server.exe", "enable=yes",
            "profile=private", "protocol=" + protocol]


class Installation:
    """Where the installer puts things for this Wine prefix's user."""

    def __init__(self):
        # Value names are case-insensitive, as Windows reads them ("StartUp" under Wine).
        folders = {name.lower(): path for name, path in (registry_values(SHELL_FOLDERS) or {}).items()}
        self.install_dir = unix_path(INSTALL_DIR)
        self.start_menu = unix_path(folders.get("programs", ""))
        self.startup = unix_path(folders.get("startup", ""))
        self.data_dir = os.path.join(unix_path(folders.get("local appdata", "")), PRODUCT)

    def uninstall(self, stderr_path):
        """Runs the uninstaller silently; it copies itself away first, so its end is seen by
        its folder going away."""
        uninstaller = os.path.join(self.install_dir, "uninstall.exe")
        if not os.path.exists(uninstaller):
            return True
        run_wine([INSTALL_DIR + "\\uninstall.exe", "/S"], stderr_path)
        return wait_until(lambda: not os.path.exists(self.install_dir), 60, 0.5)


def test_installer(options, workdir):
    helper = Helper(options.helper)
    setup_log = os.path.join(workdir, "setup.stderr")
    uninstall_log = os.path.join(workdir, "uninstall.stderr")
    place = Installation()
    check(place.start_menu and place.startup and place.data_dir,
          "the prefix names its Start menu, Startup and local data folders")
    place.uninstall(os.path.join(workdir, "leftover.stderr"))  # an earlier run that failed

    code, _ = run_wine([options.installer, "/S"], setup_log)
    check(code == 0, "setup.exe /S ends with exit code 0")
    for name in PROGRAMS:
        check(os.path.isfile(os.path.join(place.install_dir, name)), name + " is installed")
    check(os.path.isfile(os.path.join(place.start_menu, SHORTCUT)), "the Start-menu entry")
    check(os.path.isfile(os.path.join(place.startup, SHORTCUT)), "the sign-in entry (on by default)")
    check(os.path.isdir(place.data_dir), "the per-user working folder exists")

    entry = registry_values(UNINSTALL_KEY)
    check(entry is not None, "an entry in Installed apps")
    check(entry.get("DisplayName") == PRODUCT and entry.get("Publisher") == "Pellvane" and
          entry.get("DisplayVersion") == options.version,
          "with name, publisher and version: %s" % entry)
    check(entry.get("QuietUninstallString") == '"%s\\uninstall.exe" /S' % INSTALL_DIR,
          "and a silent uninstall command")

    calls = netsh_calls(setup_log)
    check(firewall_rule("TCP") in calls and firewall_rule("UDP") in calls,
          "inbound TCP and UDP rules for the program on private networks: %s" % calls)

    code, _ = run_wine(["start", "/unix", os.path.join(place.start_menu, SHORTCUT)])
    check(code == 0, "the Start-menu shortcut starts")
    marker = os.path.join(place.data_dir, MARKER)
    check(wait_until(lambda: os.path.exists(marker), 60), "the marker file is in the user's folder")
    check(helper.answer_box(CONTROLLER_MISSING_LINES[0], "ok") is not None,
          "the missing-controller notice")
    # Wine has no DNS-SD: both services give up, as on a PC without Bonjour before 1903.
    for text in ("could not start the Bonjour service.", "could not start the Channel Server."):
        check(helper.answer_box(PRODUCT + " " + text, "ok") is not None, "the box: " + text)
    window, _ = helper.server_window()
    check(window is not None, "the installed program runs with its window")

    check(place.uninstall(uninstall_log), "uninstall.exe /S removes the program folder")
    check(helper.run("server-window", "2000")[0] != 0, "the uninstaller quit the program")
    for path in (os.path.join(place.start_menu, SHORTCUT), os.path.join(place.startup, SHORTCUT),
                 place.data_dir):
        check(not os.path.exists(path), "removed: " + path)
    check(registry_values(UNINSTALL_KEY) is None, "the Installed apps entry is gone")
    delete_rule = ["advfirewall", "firewall", "delete", "rule", "name=" + PRODUCT]
    check(delete_rule in netsh_calls(uninstall_log), "the firewall rule is deleted")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--installer", required=True)
    parser.add_argument("--helper", required=True)
    parser.add_argument("--version", required=True)
    parser.add_argument("--keep", action="store_true", help="keep the logs")
    options = parser.parse_args()
    workdir = tempfile.mkdtemp(prefix="pellvane-installer-")
    failed = False
    try:
        test_installer(options, workdir)
    except (Failure, OSError, subprocess.TimeoutExpired) as error:
        print("FAILED: installer: %r" % (error,), flush=True)
        failed = True
    finally:
        Installation().uninstall(os.path.join(workdir, "cleanup.stderr"))
        if failed:
            # A program left waiting in a box, say: nothing of this run may outlive it.
            subprocess.run([WINESERVER, "-k"], env=wine_environment(), check=False)
        if failed or options.keep:
            print("logs kept: " + workdir)
        else:
            shutil.rmtree(workdir, ignore_errors=True)
    if not failed:
        print("PASSED: installer")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
