#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""One rigplotd session as systemd runs it, on a pseudo-terminal playing the
radio: the start line and READY=1, watchdog pings, a report in the map script,
a clear on SIGUSR1, and on SIGTERM STOPPING=1, the stop line and status 0.

Usage: rigplotd_session.py [--emulator CMD] [--version X.Y.Z] RIGPLOTD
  --emulator  runs the program through CMD (qemu-aarch64 for an arm64 build)
  --version   also checks that `rigplotd --version` says X.Y.Z
Exits non-zero, saying what it waited for and what it saw, on any failure.
"""
import argparse
import os
import re
import select
import shlex
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time
import tty

STARTUP = 120  # seconds: qemu on a busy machine starts slowly


def fail(what, seen):
    sys.exit(f"FAILED: {what}\n--- seen:\n{seen}")


def report(callsign):
    body = "GPRMC,012345,A,3539.1234,N,13945.6789,E,010.0,090.0,071226,,,A"
    check = 0
    for byte in body.encode():
        check ^= byte
    return f"${body}*{check:02X}\r\n{callsign},  on the air\r\n".encode()


class Session:
    def __init__(self, command, work):
        self.work = work
        # The slave stays open here too, as a radio's line stays up.
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)
        port = os.ttyname(self.slave)[len("/dev/"):]
        with open(os.path.join(work, "RIGPLOT.ini"), "w") as f:
            f.write(f"{port} 9600\r\n")
        self.notify = socket.socket(socket.AF_UNIX, socket.SOCK_DGRAM)
        self.notify.bind(os.path.join(work, "notify"))
        self.messages = []
        env = dict(os.environ, TEMP=work, NOTIFY_SOCKET=os.path.join(work, "notify"),
                   WATCHDOG_USEC="1000000")
        env.pop("WATCHDOG_PID", None)
        self.process = subprocess.Popen(command, cwd=work, env=env, stdin=subprocess.DEVNULL,
                                        stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.stderr = b""
        self.stderr_open = True

    def pump(self, timeout):
        """Collects stderr and notifications for up to `timeout` seconds."""
        sources = [self.notify] + ([self.process.stderr] if self.stderr_open else [])
        ready = select.select(sources, [], [], timeout)[0]
        if self.process.stderr in ready:
            chunk = os.read(self.process.stderr.fileno(), 4096)
            self.stderr += chunk
            self.stderr_open = bool(chunk)
        if self.notify in ready:
            self.messages.append(self.notify.recv(4096).decode())
        return bool(ready)

    def wait(self, what, condition, timeout):
        deadline = time.time() + timeout
        while not condition():
            ended = self.process.poll() is not None
            if ended:
                while self.pump(0):  # what it said last
                    pass
                if condition():
                    break
            if ended or time.time() > deadline:
                self.stop()
                fail(f"{what} within {timeout} s (exit status {self.process.returncode})",
                     self.seen())
            self.pump(0.2)

    def seen(self):
        return f"stderr: {self.stderr.decode(errors='replace')}\nnotifications: {self.messages}"

    def map_script(self):
        try:
            with open(os.path.join(self.work, "0.mps"), "rb") as f:
                return f.read()
        except FileNotFoundError:
            return b""

    def stop(self):
        if self.process.poll() is None:
            self.process.kill()
        self.process.wait()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--emulator", default="")
    parser.add_argument("--version", default="")
    parser.add_argument("program")
    args = parser.parse_args()
    program = os.path.abspath(args.program) if os.sep in args.program else args.program
    command = shlex.split(args.emulator) + [program]

    if args.version:
        said = subprocess.run(command + ["--version"], capture_output=True, text=True,
                              timeout=STARTUP).stdout
        if said.splitlines()[:1] != [f"rigplotd {args.version}"] or "MIT licence" not in said:
            fail(f"--version saying rigplotd {args.version}", said)

    work = tempfile.mkdtemp(prefix="rigplotd-session-")
    session = Session(command, work)
    try:
        session.wait("the start line", lambda: b"listening on" in session.stderr, STARTUP)
        session.wait("READY=1", lambda: any("READY=1" in m for m in session.messages), 30)
        pings = lambda: sum(m == "WATCHDOG=1" for m in session.messages)
        session.wait("two watchdog pings (WATCHDOG_USEC=1 s)", lambda: pings() >= 2, 30)

        os.write(session.master, report("JA1ABC"))
        session.wait("the station in the map script",
                     lambda: b'str="JA1ABC"' in session.map_script(), 30)
        session.process.send_signal(signal.SIGUSR1)
        session.wait("the clear line", lambda: b"station table cleared" in session.stderr, 30)

        session.process.send_signal(signal.SIGTERM)
        session.wait("the process to end", lambda: session.process.poll() is not None, 30)
        while session.pump(0.5) and session.stderr_open:
            pass
        if session.process.returncode != 0:
            fail("exit status 0 after SIGTERM", f"{session.process.returncode}\n{session.seen()}")
        if not any("STOPPING=1" in m for m in session.messages):
            fail("STOPPING=1", session.seen())
        if not re.search(rb"stopped after 1 reports", session.stderr):
            fail("the stop line", session.seen())
        print(f"rigplotd session passed: {pings()} watchdog pings, "
              f"{len(session.map_script())}-byte map script")
    finally:
        session.stop()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
