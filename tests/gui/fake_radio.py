#!/usr/bin/env python3
"""A radio on a pseudo-terminal that sends reports when told to.

Prints the port name for RIGPLOT.ini (e.g. "pts/3") on its first line, then
reads commands from stdin, one per line:
  report CALLSIGN   send one well-formed report from CALLSIGN
  quit              close the line and end
"""
import os
import sys

BODY = "GPRMC,012345,A,3539.1234,N,13945.6789,E,000.0,123.4,071226,,,A"


def sentence(body):
    checksum = 0
    for byte in body.encode("ascii"):
        checksum ^= byte
    return "$%s*%02X" % (body, checksum)


def report(callsign):
    return (sentence(BODY) + "\r\n" + callsign + ",  Hello\r\n").encode("ascii")


def main():
    master, slave = os.openpty()
    # The slave stays open here too, so the line does not hang up between the
    # program's opening and closing of it.
    print(os.ttyname(slave)[len("/dev/"):], flush=True)
    for line in sys.stdin:
        words = line.split()
        if not words:
            continue
        if words[0] == "report" and len(words) == 2:
            os.write(master, report(words[1]))
            print("sent " + words[1], flush=True)
        elif words[0] == "quit":
            break
    os.close(slave)
    os.close(master)


if __name__ == "__main__":
    main()
