#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The Windows installer under Wine: a silent install into Program Files with
the Start-menu shortcut, the Add/Remove Programs entry and the notices, the
version in the programs' VERSIONINFO, rigplot.exe started from the shortcut in
the user's own folder hearing a report on COM1; while it runs, a silent
upgrade and a silent uninstall that fail and change nothing; then an upgrade
that replaces the programs and a silent uninstall that has removed everything
by the time it returns.

Environment: as the other Wine tests (wine_session.py), plus RIGPLOT_SETUP
(the installer) and RIGPLOT_VERSION (the project's version).
"""
import filecmp
import os
import struct
import subprocess
import unittest

import wine_session
from gui_test import Display, x
from wine_session import BIN, Radio, report, station_count, wait_for_map, wait_until, wine_env

SETUP = os.environ["RIGPLOT_SETUP"]
VERSION = os.environ["RIGPLOT_VERSION"]
DRIVE_C = os.path.join(os.environ["WINEPREFIX"], "drive_c")
INSTALL_DIR = os.path.join(DRIVE_C, "Program Files", "RIGPLOT")
SHORTCUT = os.path.join(DRIVE_C, "ProgramData", "Microsoft", "Windows", "Start Menu", "Programs",
                        "RIGPLOT.lnk")
UNINSTALL_KEY = r"HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\RIGPLOT"
FILES = ("rigplot.exe", "rigplotd.exe", "README.md", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt",
         "uninstall.exe")
QUIET_UNINSTALL_STRING = r'"C:\Program Files\RIGPLOT\uninstall.exe" /S _?=C:\Program Files\RIGPLOT'
IN_USE = 2  # the installer's and uninstaller's status when a program runs
RESTART_NEEDED = 3010 & 0xFF  # wine hands on the low byte of a Windows exit code
MAIN_WINDOW = "無題 - RIGPLOT"


def wine_run(*args, timeout=300):
    """Runs a Windows program to its end and waits for the Wine server to
    go, so that everything the program started has finished too."""
    result = subprocess.run(["wine", *args], env=wine_env(), stdin=subprocess.DEVNULL,
                            capture_output=True, timeout=timeout)
    subprocess.run(["wineserver", "-w"], env=wine_env(), timeout=timeout)
    return result


def wine_exit(*args, timeout=300):
    """Runs a Windows program and returns as soon as it ends, whatever it
    left running."""
    return subprocess.run(["wine", *args], env=wine_env(), stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=timeout)


def quiet_uninstall():
    """Runs the Add/Remove Programs entry's QuietUninstallString word for word,
    from a batch file: Wine would quote a "_?=" argument holding a space."""
    batch = os.path.join(wine_session.WORK, "uninstall.bat")
    with open(batch, "w") as f:
        f.write(uninstall_entry()["QuietUninstallString"] + "\r\n")
    return wine_exit("cmd", "/c", "Z:" + batch.replace("/", "\\"))


def installed_state():
    """Every installed file with its bytes, the shortcut and the Add/Remove
    Programs entry."""
    files = {}
    if os.path.isdir(INSTALL_DIR):
        for name in os.listdir(INSTALL_DIR):
            with open(os.path.join(INSTALL_DIR, name), "rb") as f:
                files[name] = f.read()
    return files, os.path.exists(SHORTCUT), uninstall_entry()


def version_info(path):
    """The fixed file version and the ProductVersion string of a program."""
    with open(path, "rb") as f:
        data = f.read()
    at = data.find(struct.pack("<I", 0xFEEF04BD))
    if at < 0:
        return None, None
    high, low = struct.unpack_from("<II", data, at + 8)
    fixed = "%d.%d.%d.%d" % (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF)
    key = "ProductVersion\0".encode("utf-16-le")
    start = data.find(key, at)
    if start < 0:
        return fixed, None
    start += len(key)
    start += start % 4  # the value starts on a 32-bit boundary
    end = data.find(b"\0\0", start)
    end += (end - start) % 2
    return fixed, data[start:end].decode("utf-16-le")


def uninstall_entry():
    out = subprocess.run(["wine", "reg", "query", UNINSTALL_KEY, "/reg:64"], env=wine_env(),
                         stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
    values = {}
    for line in out.stdout.decode(errors="replace").splitlines():
        fields = line.split(None, 2)
        if len(fields) == 3 and fields[1].startswith("REG_"):
            values[fields[0]] = fields[2]
    return values


class InstallerTest(unittest.TestCase):
    def test_silent_install_start_from_the_menu_and_silent_uninstall(self):
        installed = wine_run(SETUP, "/S")
        self.assertEqual(installed.returncode, 0, installed.stderr)
        for name in FILES:
            self.assertTrue(os.path.isfile(os.path.join(INSTALL_DIR, name)), name)
        for name in ("rigplot.exe", "rigplotd.exe"):
            self.assertTrue(filecmp.cmp(os.path.join(BIN, name), os.path.join(INSTALL_DIR, name),
                                        shallow=False), name)
            self.assertEqual(version_info(os.path.join(INSTALL_DIR, name)),
                             (VERSION + ".0", VERSION), name)
        self.assertEqual(version_info(SETUP), (VERSION + ".0", VERSION))
        self.assertTrue(os.path.isfile(SHORTCUT))
        entry = uninstall_entry()
        self.assertEqual(entry.get("DisplayName"), "RIGPLOT", entry)
        self.assertEqual(entry.get("DisplayVersion"), VERSION, entry)
        self.assertEqual(entry.get("QuietUninstallString"),
                         QUIET_UNINSTALL_STRING, entry)
        with open(os.path.join(INSTALL_DIR, "THIRD-PARTY-NOTICES.txt"), "rb") as f:
            notices = f.read()
        for part in (b"Leaflet", b"SQLite", b"winpthreads", b"GCC Runtime Library Exception"):
            self.assertIn(part, notices)
        self.assertNotIn(b"\n", notices.replace(b"\r\n", b""), "CR LF line ends")
        listed = subprocess.run(["wine", "uninstaller", "--list"], env=wine_env(),
                                stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        self.assertIn(b"|||RIGPLOT", listed.stdout, "listed in Add/Remove Programs")

        self.start_from_the_start_menu()

        wine_session.stop_server()  # a server that ends, so that -w can wait for it
        # An upgrade replaces the programs.
        with open(os.path.join(INSTALL_DIR, "rigplot.exe"), "wb") as f:
            f.write(b"an older rigplot.exe")
        upgraded = wine_run(SETUP, "/S")
        self.assertEqual(upgraded.returncode, 0, upgraded.stderr)
        self.assertTrue(filecmp.cmp(os.path.join(BIN, "rigplot.exe"),
                                    os.path.join(INSTALL_DIR, "rigplot.exe"), shallow=False))

        # The silent uninstall returns when the files are gone, not before.
        removed = quiet_uninstall()
        self.assertIn(removed.returncode, (0, RESTART_NEEDED), removed.stderr)
        if removed.returncode == RESTART_NEEDED:
            # Wine cannot move a running program: the uninstaller alone waits.
            self.assertEqual(os.listdir(INSTALL_DIR), ["uninstall.exe"])
            wine_run("wineboot", "--restart")
        self.assertFalse(os.path.exists(INSTALL_DIR), os.listdir(INSTALL_DIR)
                         if os.path.isdir(INSTALL_DIR) else "")
        self.assertFalse(os.path.exists(SHORTCUT))
        self.assertEqual(uninstall_entry(), {})

    def start_from_the_start_menu(self):
        """The shortcut starts rigplot.exe in the user's folder, where its
        RIGPLOT.ini names COM1; a report reaches the map script."""
        display = Display("1024x768")
        self.addCleanup(display.close)
        wine_session.start()
        self.addCleanup(wine_session.stop_server)
        radio = Radio()
        self.addCleanup(radio.close)
        def wine_output(*args):
            return subprocess.run(["wine", *args], env=wine_env(), stdin=subprocess.DEVNULL,
                                  capture_output=True, text=True, timeout=120).stdout.strip()

        profile = wine_output("winepath", "-u", wine_output("cmd", "/c", "echo %USERPROFILE%"))
        settings = os.path.join(profile, "RIGPLOT.ini")
        with open(settings, "wb") as f:
            f.write(b"COM1 9600\r\n")
        self.addCleanup(os.remove, settings)

        # As the desktop's menu entry does it; start /wait ends with the program.
        run = subprocess.Popen(["wine", "start", "/wait", "/unix", SHORTCUT],
                               env=wine_env(LD_PRELOAD=wine_session.SHIM), stdin=subprocess.DEVNULL,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(lambda: run.poll() is None and run.kill())
        wait_until("the main window, so RIGPLOT.ini was found", lambda: MAIN_WINDOW in x("wmctrl", "-l"),
                   lambda: x("wmctrl", "-l"))
        radio.send(report("JA1ABC"))
        heard = wait_for_map("the report from JA1ABC", lambda data: station_count(data) == 1)
        self.assertIn(b'str="JA1ABC"', heard)

        # While it runs, neither an upgrade nor an uninstall may claim success.
        before = installed_state()
        for what, command in (("upgrade", lambda: wine_exit(SETUP, "/S")), ("uninstall", quiet_uninstall)):
            with self.subTest(what):
                result = command()
                self.assertEqual(result.returncode, IN_USE, result.stderr)
                self.assertEqual(installed_state(), before, "changed nothing")
        x("wmctrl", "-c", MAIN_WINDOW)
        self.assertEqual(run.wait(timeout=60), 0)


def tearDownModule():
    wine_session.stop()


if __name__ == "__main__":
    unittest.main(verbosity=2)
