# SPDX-License-Identifier: MIT
"""Waits on events with a deadline, for the Python tests."""
import time

# Generous: a busy machine, or Wine on one, can take many seconds for a step
# that takes a fraction of one alone. A wait that is met returns at once.
PATIENCE = 60


def wait_until(what, condition, seen=lambda: "nothing to show", timeout=PATIENCE):
    """Polls condition() until it returns something true, and returns that.
    On a timeout, fails naming what it waited for and what seen() shows."""
    deadline = time.monotonic() + timeout
    while True:
        result = condition()
        if result:
            return result
        if time.monotonic() > deadline:
            raise AssertionError(f"waited {timeout} s for {what}; saw: {seen()}")
        time.sleep(0.1)
