#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""rigplot.exe under Wine, in Xvfb with a window manager, in a Japanese locale.

The program traces its steps to stderr (RIGPLOT_TRACE=1); the test drives it
with keys and window-manager requests as a user would, plays the radio on a
pseudo-terminal (wine_session.py) and reads the map script. Screenshots of the
window, each menu, the about box and the message boxes go to
RIGPLOT_SCREENSHOTS when it is set.
"""
import os
import re
import subprocess
import threading
import time
import unittest

import wine_session
from wine_session import (BIN, PATIENCE, TEMP, Radio, map_script, report, station_count,
                          wait_for_map, wait_until)

FONTS = r"HKCU\Software\Wine\Fonts\Replacements"
# The dialog's font and the system's Japanese faces, on the installed IPA fonts.
FONT_REPLACEMENTS = [(FONTS, "ＭＳ Ｐゴシック", "IPAPGothic"), (FONTS, "MS UI Gothic", "IPAPGothic"),
                     (FONTS, "ＭＳ ゴシック", "IPAGothic")]
SCREENSHOTS = os.environ.get("RIGPLOT_SCREENSHOTS")
ABOUT_CAPTION = "RIGPLOTのﾊﾞｰｼﾞｮﾝ情報"


class Display:
    """Xvfb on a free display, with openbox managing its windows."""

    def __init__(self, size):
        read_end, write_end = os.pipe()
        self.xvfb = subprocess.Popen(["Xvfb", "-displayfd", str(write_end), "-screen", "0", size + "x24",
                                      "-nolisten", "tcp", "-noreset"],
                                     pass_fds=[write_end], stderr=subprocess.DEVNULL)
        os.close(write_end)
        # Up to the line end: Xvfb writes the number and the line feed apart,
        # and dies if the pipe is closed in between.
        number = b""
        while not number.endswith(b"\n"):
            chunk = os.read(read_end, 16)
            if not chunk:
                break
            number += chunk
        os.close(read_end)
        number = number.decode().strip()
        if not number or self.xvfb.poll() is not None:
            raise RuntimeError(f"Xvfb did not start: display number {number!r}")
        self.name = ":" + number
        os.environ["DISPLAY"] = self.name
        self.wm = subprocess.Popen(["openbox", "--sm-disable"], stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
        wait_until("openbox to manage " + self.name, lambda: "Openbox" in x("wmctrl", "-m"),
                   lambda: x("wmctrl", "-m") or "no window manager")

    def close(self):
        for process in (self.wm, self.xvfb):
            process.terminate()
            process.wait(timeout=10)


def x(*args):
    return subprocess.run(list(args), capture_output=True, text=True, timeout=30).stdout


def screenshot(name):
    if SCREENSHOTS:
        os.makedirs(SCREENSHOTS, exist_ok=True)
        x("import", "-window", "root", os.path.join(SCREENSHOTS, name + ".png"))


def windows_of(pid):
    """The program's visible top-level windows: id -> title."""
    found = {}
    for line in x("wmctrl", "-lp").splitlines():
        fields = line.split(None, 4)
        if len(fields) >= 3 and fields[2] == str(pid):
            found[int(fields[0], 16)] = fields[4] if len(fields) > 4 else ""
    return found


def frame_of(window):
    """The window manager's frame around a client window: x, y, width, height."""
    parent = window
    while True:
        tree = x("xwininfo", "-tree", "-id", str(parent))
        found = re.search(r"Parent window id: (0x[0-9a-f]+)( \(the root window\))?", tree)
        if not found or found.group(2):
            break
        parent = int(found.group(1), 16)
    info = x("xwininfo", "-id", str(parent))
    values = {key: int(re.search(key + r":\s+(-?\d+)", info).group(1))
              for key in ("Absolute upper-left X", "Absolute upper-left Y", "Width", "Height")}
    return (values["Absolute upper-left X"], values["Absolute upper-left Y"], values["Width"],
            values["Height"])


class Rigplot:
    """One run of rigplot.exe in its own directory, its trace collected."""

    def __init__(self, settings=b"COM1 9600\r\n", env=None):
        self.dir = wine_session.program_dir(settings)
        env = wine_session.wine_env(LD_PRELOAD=wine_session.SHIM, RIGPLOT_TRACE="1", **(env or {}))
        self.process = subprocess.Popen(["wine", os.path.join(BIN, "rigplot.exe"), "--web", "127.0.0.1:0"],
                                        cwd=self.dir,
                                        env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stderr:
            self.lines.append(raw.decode(errors="replace").rstrip())

    def recent(self):
        """Its last lines on stderr, for a failure message."""
        return self.lines[-40:]

    def trace(self):
        return [line[len("rigplot: "):] for line in self.lines if line.startswith("rigplot: ")]

    def wait_trace(self, pattern):
        """The first trace line that matches the pattern, as a match."""
        def found():
            return next(filter(None, (re.fullmatch(pattern, line) for line in self.trace())), None)

        return wait_until(f"a trace line matching {pattern!r}", found, self.recent)

    def wait_count(self, line, count):
        """Waits until `line` has been traced `count` times."""
        wait_until(f"{count} trace lines {line!r}", lambda: self.trace().count(line) >= count,
                   self.recent)

    def wait_window(self, title):
        """The window of the program with this title."""
        def found():
            return next((w for w, shown in windows_of(self.process.pid).items() if shown == title),
                        None)

        return wait_until(f"a window titled {title!r}", found,
                          lambda: (windows_of(self.process.pid), self.recent()))

    def keys(self, window, *keys):
        """One key per call, to the window made active first."""
        for key in keys:
            x("xdotool", "windowactivate", "--sync", str(window))
            x("xdotool", "key", "--clearmodifiers", key)
            time.sleep(0.4)

    def finish(self, timeout=PATIENCE):
        """Its exit status; killed, and said so in its trace, if it does not
        end within the timeout."""
        try:
            self.process.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=10)
            self.lines.append(f"(the test killed it: no exit within {timeout} s)")
        self.reader.join(timeout=5)
        return self.process.returncode

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=10)
        self.reader.join(timeout=5)
        self.process.stderr.close()


class GuiTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.display = Display("1024x768")
        wine_session.start(FONT_REPLACEMENTS)

    @classmethod
    def tearDownClass(cls):
        wine_session.stop_server()
        cls.display.close()

    def setUp(self):
        self.radio = Radio()
        self.addCleanup(self.radio.close)

    def start(self, **options):
        run = Rigplot(**options)
        self.addCleanup(run.kill)
        return run

    def start_main_window(self):
        run = self.start()
        window = run.wait_window("無題 - RIGPLOT")
        run.wait_trace(r"frame shown .*")
        return run, window

    def test_start_up_order_title_and_geometry(self):
        run, window = self.start_main_window()
        screenshot("main-window")
        # The page starts answering right after the worker: the link is whole by then.
        self.assertEqual([re.sub(r":\d+/$", ":PORT/", line) for line in run.trace()[:7]], [
            "document constructed",
            "frame PreCreateWindow 204x76 at (408,342) on 1024x768",
            "view constructed",
            "worker started",
            "page http://127.0.0.1:PORT/",
            "document OnNewDocument",
            "frame shown 204x76 at (408,342)",
        ])
        self.assertIn('"無題 - RIGPLOT"', x("xprop", "-id", str(window), "_NET_WM_NAME"))
        # The window manager draws its own frame around the Windows client
        # area; it stays centred where the program put the window.
        left, top, width, height = frame_of(window)
        self.assertLessEqual(abs(left + width / 2 - (408 + 204 / 2)), 4, (left, top, width, height))
        self.assertLessEqual(abs(top + height / 2 - (342 + 76 / 2)), 8, (left, top, width, height))
        self.assertEqual(run.process.poll(), None)

    def test_menus_by_mnemonics_and_the_about_box(self):
        run, window = self.start_main_window()
        for key, name in (("alt+x", "menu-exit"), ("alt+s", "menu-settings"), ("alt+h", "menu-help")):
            run.keys(window, key)
            screenshot(name)
            run.keys(window, "Escape", "Escape")
        self.assertEqual(run.process.poll(), None, "no menu item was chosen")

        # The Help menu's one item opens the box; each way of closing it works
        # and the program goes on.
        for count, (close, result) in enumerate(
                (("Return", 1), ("Escape", 2), ("close box", 2), ("OK click", 1)), start=1):
            with self.subTest(close=close):
                run.keys(window, "alt+h", "Return")
                box = run.wait_window(ABOUT_CAPTION)
                run.wait_count("about box opened", count)
                if close == "Return":
                    screenshot("about-box")
                    run.keys(box, "Return")
                elif close == "Escape":
                    run.keys(box, "Escape")
                elif close == "close box":
                    x("wmctrl", "-i", "-c", str(box))
                else:
                    self.click_ok(run, box)
                def closed():
                    return [line for line in run.trace() if line.startswith("about box closed")]

                wait_until(f"the about box to close ({close})", lambda: len(closed()) >= count,
                           run.recent)
                self.assertEqual(closed()[count - 1:count], ["about box closed with %d" % result])
                wait_until("the about box's window to go",
                           lambda: box not in windows_of(run.process.pid),
                           lambda: windows_of(run.process.pid))
        self.assertEqual(run.process.poll(), None)

        layout = run.wait_trace(r"about box (\d+)x(\d+) \(231x54 units are (\d+)x(\d+)\), "
                                r"icon (\d+),(\d+) (\d+)x(\d+), text (\d+),(\d+) (\d+)x(\d+), "
                                r"ok (\d+),(\d+) (\d+)x(\d+)")
        v = [int(n) for n in layout.groups()]
        self.assertEqual(v[0:2], v[2:4], "the client area is 231 x 54 dialog units")
        per_x, per_y = v[2] / 231, v[3] / 54
        expected = {"icon": (13, 15, None, None), "text": (44, 10, 119, 8), "ok": (174, 7, 50, 14)}
        for index, (name, (ux, uy, uw, uh)) in enumerate(expected.items()):
            px, py, pw, ph = v[4 + 4 * index:8 + 4 * index]
            self.assertLessEqual(abs(px - ux * per_x), 1.5, name)
            self.assertLessEqual(abs(py - uy * per_y), 1.5, name)
            if uw is not None:
                self.assertLessEqual(abs(pw - uw * per_x), 1.5, name)
                self.assertLessEqual(abs(ph - uh * per_y), 1.5, name)
            else:
                self.assertEqual((pw, ph), (32, 32), "the icon shows at its own size")

    def click_ok(self, run, box):
        found = run.wait_trace(r"about box .* ok (\d+),(\d+) (\d+)x(\d+)")
        ok_x, ok_y, ok_w, ok_h = (int(n) for n in found.groups())
        geometry = x("xwininfo", "-id", str(box))
        left = int(re.search(r"Absolute upper-left X:\s+(-?\d+)", geometry).group(1))
        top = int(re.search(r"Absolute upper-left Y:\s+(-?\d+)", geometry).group(1))
        x("xdotool", "mousemove", "--sync", str(left + ok_x + ok_w // 2), str(top + ok_y + ok_h // 2))
        x("xdotool", "click", "1")

    def test_table_clear_then_a_report_is_the_only_station(self):
        run, window = self.start_main_window()
        self.radio.send(report("JA1ABC") + report("JH2XYZ"))
        before = wait_for_map("2 stations", lambda d: station_count(d) == 2)
        run.keys(window, "alt+s", "c")
        run.wait_trace("table cleared")
        time.sleep(0.5)
        self.assertEqual(map_script(), before, "a clear alone rewrites nothing")
        self.radio.send(report("JH2XYZ", "again"))
        after = wait_for_map("the message 'again'", lambda d: b"again" in d)
        self.assertEqual(station_count(after), 1)
        self.assertIn(b'oid="1" gid="0.5" str="JH2XYZ"', after)
        self.assertNotIn(b"JA1ABC", after)

    def test_accelerators_change_nothing(self):
        run, window = self.start_main_window()
        self.radio.send(report("JA1ABC"))
        before = wait_for_map("1 station", lambda d: station_count(d) == 1)
        # Under Wine, releasing Alt after an accelerator took the key opens the
        # menu bar as if Alt had been pressed alone: Escape leaves it again.
        keys = ["ctrl+n", "ctrl+o", "ctrl+s", "ctrl+z", "ctrl+x", "ctrl+c", "ctrl+v", "alt+BackSpace",
                "Escape", "shift+Delete", "ctrl+Insert", "shift+Insert", "F6", "shift+F6"]
        run.keys(window, *keys)
        commands = [57600, 57601, 57603, 57643, 57635, 57634, 57637, 57643, 57635, 57634, 57637,
                    57680, 57681]
        wait_until("13 unhandled commands",
                   lambda: len([line for line in run.trace() if line.endswith("unhandled")]) >= 13,
                   run.recent)
        self.assertEqual([line for line in run.trace() if line.endswith("unhandled")],
                         ["command %d unhandled" % c for c in commands])
        self.assertEqual(run.process.poll(), None)
        self.assertEqual(map_script(), before)
        self.radio.send(report("JH2XYZ"))
        wait_for_map("2 stations", lambda d: station_count(d) == 2)

    def test_every_way_of_closing_exits_0_and_keeps_the_map_script(self):
        for way in ("exit item", "alt+F4", "close box", "log-off"):
            with self.subTest(way=way):
                run, window = self.start_main_window()
                self.radio.send(report("JA1ABC"))
                kept = wait_for_map("1 station", lambda d: station_count(d) == 1)
                if way == "exit item":
                    run.keys(window, "alt+x", "x")
                elif way == "alt+F4":
                    run.keys(window, "alt+F4")
                elif way == "close box":
                    x("wmctrl", "-i", "-c", str(window))
                else:
                    subprocess.run(["wine", os.path.join(BIN, "console_events.exe"), "endsession"],
                                   env=wine_session.wine_env(), timeout=60, check=False)
                self.assertEqual(run.finish(), 0, run.lines)
                self.assertIn("view OnDestroy: stopped after 1 reports", run.trace())
                self.assertEqual(map_script(), kept)
                self.assertEqual(os.listdir(TEMP), ["0.mps"], "no temporary file left")

    def test_start_up_failures_show_only_their_message_box(self):
        port_message = "COMポートの番号が違っているか、指定が間違っています。"
        cases = (("missing-settings", None, "RIGPLOT.ini ファイルが見つかりません", {}),
                 ("bad-port", b"COM9 9600\r\n", port_message, {}),
                 ("no-worker", b"COM1 9600\r\n", port_message, {"RIGPLOT_TEST_NO_WORKER": "1"}))
        for name, settings, message, env in cases:
            with self.subTest(case=name):
                run = self.start(settings=settings, env=env)
                run.wait_trace("start-up failed: " + re.escape(message))
                box = run.wait_window("")  # no caption
                time.sleep(0.5)
                screenshot("message-" + name)
                self.assertEqual(list(windows_of(run.process.pid).values()), [""],
                                 "no main window behind the box")
                self.assertEqual(run.process.poll(), None, "the box waits for the user")
                run.keys(box, "Return")
                self.assertEqual(run.finish(), 1, run.lines)


# After GuiTest: restarts the Wine server on a screen of another size.
class OtherScreenTest(unittest.TestCase):
    def test_geometry_truncates_on_a_1601x1201_screen(self):
        display = Display("1601x1201")
        self.addCleanup(display.close)
        wine_session.restart_server()
        self.addCleanup(wine_session.stop_server)
        radio = Radio()
        self.addCleanup(radio.close)
        run = Rigplot()
        self.addCleanup(run.kill)
        run.wait_trace(r"frame shown .*")
        self.assertIn("frame PreCreateWindow 320x120 at (640,540) on 1601x1201", run.trace())
        self.assertIn("frame shown 320x120 at (640,540)", run.trace())
        screenshot("main-window-1601x1201")


def tearDownModule():
    wine_session.stop()


if __name__ == "__main__":
    os.environ["LANG"] = os.environ["LC_ALL"] = "ja_JP.UTF-8"
    unittest.main(verbosity=2)
