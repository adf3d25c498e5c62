#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""The rigplotd package under a real systemd, run as a unit inside a booted
container (nspawn_boot.sh): install with no port named, a pseudo-terminal
plugged in as the configured device, READY and watchdog, the journal, a
report in the map script and on the page, stop, a settings fault ending in
`failed`, an upgrade keeping the edited settings, and a purge leaving
nothing. Stops at the first failure, saying what it waited for and saw.

Usage: boot_checks.py RIGPLOTD_DEB   (the helpers in ../support lie beside it)
"""
import json
import os
import subprocess
import sys
import time
import urllib.request

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from nmea import report  # noqa: E402
from pty_radio import PtyRadio  # noqa: E402
from wait import wait_until  # noqa: E402

UNIT = "rigplotd.service"
SETTINGS = "/etc/rigplot/RIGPLOT.ini"
MAP = "/var/lib/rigplot/0.mps"
PAGE = "http://127.0.0.1:8073"
SNAPSHOT_ROOTS = ("/etc", "/usr", "/var", "/opt", "/srv", "/home")
SNAPSHOT_SKIP = ("/var/lib/dpkg", "/var/log", "/var/cache", "/var/lib/apt", "/var/tmp",
                 "/var/lib/systemd/timers", "/var/lib/systemd/random-seed", "/var/lib/systemd/catalog")


def run(*args, check=True):
    result = subprocess.run(args, capture_output=True, text=True, stdin=subprocess.DEVNULL)
    if check and result.returncode != 0:
        raise AssertionError(f"{' '.join(args)}: status {result.returncode}\n{result.stdout}{result.stderr}")
    return result.stdout.strip()


def show(prop):
    return run("systemctl", "show", "-P", prop, UNIT)


def journal():
    return run("journalctl", "-q", "-o", "cat", "-u", UNIT, "--no-pager", check=False)


def snapshot():
    """Every path with its mode, owner and, for files, its bytes' digest."""
    seen = set()
    for top in SNAPSHOT_ROOTS:
        for root, dirs, files in os.walk(top):
            dirs[:] = [d for d in dirs if os.path.join(root, d) not in SNAPSHOT_SKIP]
            for name in dirs + files:
                path = os.path.join(root, name)
                if path.startswith("/etc/") and path.endswith("-"):
                    continue  # the account files' backups (passwd-)
                st = os.lstat(path)
                digest = ""
                if os.path.isfile(path) and not os.path.islink(path) and path.startswith("/etc"):
                    digest = run("md5sum", path).split()[0]
                seen.add((path, st.st_mode, st.st_uid, st.st_gid, digest))
    return seen


def unit_status():
    return run("systemctl", "status", "--no-pager", "-l", "-n", "30", UNIT, check=False)


def check(what, condition):
    if not condition:
        raise AssertionError(f"{what}\n--- systemctl status:\n{unit_status()}")


def main(deb):
    before = snapshot()
    run("systemctl", "is-system-running", "--wait", check=False)

    print("== no port named (as installed), then an adapter not plugged in: the unit waits")
    run("dpkg", "-i", deb)  # its postinst starts the unit
    for settings, said in ((None, "no port named in " + SETTINGS),
                           ("ttyUSB9 9600\n", "waiting for /dev/ttyUSB9")):
        if settings:
            with open(SETTINGS, "w") as f:
                f.write(settings)
            run("systemctl", "start", UNIT)
        wait_until(f"'{said}'", lambda: said in journal(), unit_status)
        time.sleep(12)  # two restart intervals: none may come
        lines = [line for line in journal().splitlines() if said in line]
        check(f"one '{said}' line, got {len(lines)}", len(lines) == 1)
        check("restarted while waiting", show("NRestarts") == "0")
        check("not inactive while waiting", show("ActiveState") == "inactive")

    print("== a pseudo-terminal plugged in as the configured device")
    radio = PtyRadio()
    os.chown(radio.path, 0, int(run("getent", "group", "dialout").split(":")[2]))
    os.chmod(radio.path, 0o660)
    # The unit admits serial ports only; the pseudo-terminal joins them here.
    os.makedirs("/run/systemd/system/rigplotd.service.d", exist_ok=True)
    with open("/run/systemd/system/rigplotd.service.d/pty.conf", "w") as f:
        f.write("[Service]\nDeviceAllow=char-pts rw\n")
    edited = f"{radio.name} 9600\n"
    with open(SETTINGS, "w") as f:
        f.write(edited)
    run("systemctl", "daemon-reload")
    started = time.monotonic()
    run("systemctl", "start", UNIT)  # returns at READY=1 (Type=notify)
    check("not active after READY", show("ActiveState") == "active")
    check("no listening line", f"listening on {radio.path} at 9600 baud, map script {MAP}" in journal())
    wait_until("a watchdog ping", lambda: show("WatchdogTimestampMonotonic") not in ("", "0"), unit_status)
    first_ping = show("WatchdogTimestampMonotonic")
    wait_until("a second watchdog ping", lambda: show("WatchdogTimestampMonotonic") != first_ping,
               journal, timeout=60)

    radio.send(report("JA1ABC"))
    wait_until("JA1ABC in the map script",
               lambda: os.path.exists(MAP) and b'str="JA1ABC"' in open(MAP, "rb").read(), unit_status)
    page = json.load(urllib.request.urlopen(PAGE + "/status.json", timeout=30))
    check(f"status.json: {page}", page.get("reports_stored") == 1 and page.get("port") == radio.path)
    check("JA1ABC not on the page",
          b"JA1ABC" in urllib.request.urlopen(PAGE + "/stations.geojson", timeout=30).read())
    # The package keeps a history by default, inside the unit's sandbox.
    wait_until("JA1ABC in the history's tracks",
               lambda: b"JA1ABC" in urllib.request.urlopen(PAGE + "/tracks.geojson",
                                                           timeout=30).read(), journal)

    print("== stop within the unit's timeout")
    stop_began = time.monotonic()
    run("systemctl", "stop", UNIT)
    took = time.monotonic() - stop_began
    micros = run("systemd-analyze", "timespan", show("TimeoutStopUSec")).split("μs:")[1].split()[0]
    check(f"stop took {took:.1f} s", took < int(micros) / 1e6)
    check("stop result: " + show("Result"), show("Result") == "success" and show("ExecMainStatus") == "0")
    check("no stop line", "stopped after 1 reports" in journal())
    print(f"   ran {stop_began - started:.1f} s, stopped in {took:.1f} s")

    print("== a settings fault ends in failed, after a bounded number of tries")
    with open(SETTINGS, "w") as f:
        f.write("null 9600\n")
    run("systemctl", "start", UNIT, check=False)
    wait_until("the unit to fail", lambda: show("ActiveState") == "failed", unit_status, timeout=120)
    check("result " + show("Result"), show("Result") in ("start-limit-hit", "exit-code"))
    run("systemctl", "reset-failed", UNIT)

    print("== upgrade keeps the edited settings and runs again")
    with open(SETTINGS, "w") as f:
        f.write(edited)
    tree = "/tmp/rigplotd-next"
    run("dpkg-deb", "-R", deb, tree)
    control = open(f"{tree}/DEBIAN/control").read()
    version = next(line.split()[1] for line in control.splitlines() if line.startswith("Version:"))
    with open(f"{tree}/DEBIAN/control", "w") as f:
        f.write(control.replace(f"Version: {version}", f"Version: {version}+1"))
    run("dpkg-deb", "-b", tree, "/tmp/rigplotd-next.deb")
    run("systemctl", "start", UNIT)
    run("dpkg", "-i", "/tmp/rigplotd-next.deb")
    check("settings changed by the upgrade", open(SETTINGS).read() == edited)
    wait_until("the unit active after the upgrade", lambda: show("ActiveState") == "active", unit_status)
    check("not listening again after the upgrade", journal().count(f"listening on {radio.path}") >= 2)

    print("== purge leaves nothing")
    run("dpkg", "-P", "rigplotd")
    radio.close()
    after = snapshot()
    check(f"left behind: {sorted(after - before)[:20]}, taken: {sorted(before - after)[:20]}",
          before == after)
    check("account left", run("getent", "passwd", "rigplot", check=False) == "")
    print("boot checks passed")


if __name__ == "__main__":
    try:
        main(sys.argv[1])
    except AssertionError as failure:
        print(f"FAILED: {failure}")
        sys.exit(1)
