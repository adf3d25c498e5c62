# SPDX-License-Identifier: MIT
"""What the Wine tests share: a booted prefix whose COM1 and TEMP point into a
scratch directory, a pseudo-terminal that plays the radio, reports with valid
checksums, and the map script as the program under test leaves it.

COM1 is mapped (HKLM\\Software\\Wine\\Ports) to a symbolic link that each case
points at a fresh pseudo-terminal, so the Wine server starts once, not per
case. The preloaded shim (pty_serial_shim.c) makes the terminal answer the
modem-line calls as a serial port does, and logs every read and write the
program makes on it.

Environment: WINEPREFIX (booted), RIGPLOT_WIN_BIN (the directory holding the
.exe files), RIGPLOT_PTY_SHIM (the built shim).
"""
import os
import re
import select
import shutil
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
import nmea  # noqa: E402
from pty_radio import PtyRadio  # noqa: E402
from wait import PATIENCE, wait_until  # noqa: E402

BIN = os.environ["RIGPLOT_WIN_BIN"]
SHIM = os.environ["RIGPLOT_PTY_SHIM"]
WORK = tempfile.mkdtemp(prefix="rigplot-wine-")
LINK = os.path.join(WORK, "radio")  # what COM1 opens
TEMP = os.path.join(WORK, "temp")  # the prefix's TEMP
LOG = os.path.join(WORK, "pty.log")

SETTINGS_MISSING = "RIGPLOT.ini ファイルが見つかりません".encode()
PORT_FAILED = "COMポートの番号が違っているか、指定が間違っています。".encode()


def wine_env(**extra):
    env = dict(os.environ, WINEDEBUG="-all")
    env.update(extra)
    return env


def wine(*args):
    subprocess.run(["wine", *args], env=wine_env(), check=True, capture_output=True, timeout=120)


def start(extra_registry=()):
    """Maps COM1 and TEMP, sets the (key, name, value) strings of
    `extra_registry`, and starts the Wine server."""
    os.makedirs(TEMP, exist_ok=True)
    if not os.path.lexists(LINK):
        os.symlink("/dev/null", LINK)
    wine("reg", "add", r"HKLM\Software\Wine\Ports", "/v", "COM1", "/t", "REG_SZ", "/d", LINK, "/f")
    wine("reg", "add", r"HKCU\Environment", "/v", "TEMP", "/t", "REG_SZ", "/d",
         "Z:" + TEMP.replace("/", "\\"), "/f")
    for key, name, value in extra_registry:
        wine("reg", "add", key, "/v", name, "/t", "REG_SZ", "/d", value, "/f")
    restart_server()


def restart_server():
    """A fresh server: it reads the port mapping, and its programs take the
    display in DISPLAY now."""
    stop_server()
    quiet = dict(stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    # Started here, with no test's pipes for it to inherit, and kept running.
    subprocess.run(["wineserver", "-p"], env=wine_env(), check=True, **quiet)
    # The first program on a fresh server starts Wine's own services, which
    # would hold on to a test's pipes.
    subprocess.run(["wine", "cmd", "/c", "exit"], env=wine_env(), timeout=120, **quiet)


def stop_server():
    subprocess.run(["wineserver", "-k"], env=wine_env())
    subprocess.run(["wineserver", "-w"], env=wine_env())


def stop():
    stop_server()
    shutil.rmtree(WORK, ignore_errors=True)


def program_dir(settings):
    """A fresh directory to start a program in, holding RIGPLOT.ini unless
    settings is None; the map script of an earlier run is cleared away."""
    directory = tempfile.mkdtemp(dir=WORK)
    if settings is not None:
        with open(os.path.join(directory, "RIGPLOT.ini"), "wb") as f:
            f.write(settings)
    for name in os.listdir(TEMP):
        os.remove(os.path.join(TEMP, name))
    return directory


def report(callsign, message="Hello", time_="012345", course="123.4"):
    return nmea.report(callsign, message,
                       f"GPRMC,{time_},A,3539.1234,N,13945.6789,E,000.0,{course},071226,,,A")


def point_line(oid, callsign, gid, course, utc="01:23:45", message="Hello"):
    """The point line, with the local receive time left as a pattern."""
    text = (f'point pos="35/39.1234,139/45.6789" oid="{oid}" gid="{gid}" str="{callsign}" '
            f'info="受信日時:  @RECEIVED@JST\\nデータ日時: 26/12/07 {utc}UTC\\n'
            f'移動速度:   0.00\\n移動方向:  {course}\\nレピータ:   \\nメッセージ:  {message}\\n'
            'グループ: 000";')
    pattern = re.escape(text.encode("cp932")).replace(b"@RECEIVED@", rb"\d\d/\d\d/\d\d \d\d:\d\d:\d\d")
    return re.compile(pattern)


class Radio(PtyRadio):
    """A fresh pseudo-terminal behind COM1, raw as a serial line at rest."""

    def __init__(self):
        super().__init__()
        self.point_link_here()

    def point_link_here(self):
        if os.path.lexists(LINK):
            os.remove(LINK)
        os.symlink(self.path, LINK)

    def pending_for_radio(self):
        """Bytes the program sent towards the radio."""
        data = b""
        while select.select([self.master], [], [], 0.2)[0]:
            try:
                chunk = os.read(self.master, 4096)
            except OSError:
                break
            if not chunk:
                break
            data += chunk
        return data

    def unplug(self):
        os.close(self.master)
        os.close(self.slave)
        os.remove(LINK)


def map_script():
    try:
        with open(os.path.join(TEMP, "0.mps"), "rb") as f:
            return f.read()
    except FileNotFoundError:
        return b""


def describe_map(data):
    if not data:
        return "no map script"
    calls = re.findall(rb' str="([^"]*)" info=', data)
    return f"a map script with {station_count(data)} stations {[c.decode('cp932') for c in calls]}"


def wait_for_map(what, condition):
    """The map script, once condition(data) holds; `what` names the wait."""
    def ready():
        data = map_script()
        return data if data and condition(data) else None

    return wait_until("the map script to show " + what, ready, lambda: describe_map(map_script()))


def station_count(data):
    found = re.search(rb'message str=" (\d+) ', data)
    return int(found.group(1)) if found else -1


def pty_log():
    try:
        with open(LOG) as f:
            return f.read().split("\n")[:-1]
    except FileNotFoundError:
        return []


