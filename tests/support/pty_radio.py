# SPDX-License-Identifier: MIT
"""A radio played on a pseudo-terminal, for the Python tests."""
import os
import tty


class PtyRadio:
    """The slave end stays open here too, so the line never hangs up while
    the program under test closes and reopens it."""

    def __init__(self):
        self.master, self.slave = os.openpty()
        tty.setraw(self.slave)  # a serial line at rest
        self.path = os.ttyname(self.slave)
        self.name = self.path[len("/dev/"):]  # as RIGPLOT.ini names it

    def send(self, data):
        os.write(self.master, data)

    def close(self):
        for fd in (self.master, self.slave):
            try:
                os.close(fd)
            except OSError:
                pass
