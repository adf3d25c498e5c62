#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""A radio on a pseudo-terminal that sends reports when told to.

Prints the port name for RIGPLOT.ini (e.g. "pts/3") on its first line, then
reads commands from stdin, one per line:
  report CALLSIGN   send one well-formed report from CALLSIGN
  quit              close the line and end
"""
import os
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from nmea import report  # noqa: E402
from pty_radio import PtyRadio  # noqa: E402


def main():
    radio = PtyRadio()
    print(radio.name, flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "report" and len(words) == 2:
            radio.send(report(words[1]))
            print("sent " + words[1], flush=True)
        elif words[0] == "quit":
            break
    radio.close()


if __name__ == "__main__":
    main()
