# SPDX-License-Identifier: MIT
"""Reports as a radio sends them, with valid checksums, for the Python tests."""

# A position in Tokyo, at rest, heading 123.4.
BODY = "GPRMC,012345,A,3539.1234,N,13945.6789,E,000.0,123.4,071226,,,A"


def sentence(body):
    """"$body*XX" with no line end; bytes in, bytes out, else str."""
    raw = body if isinstance(body, bytes) else body.encode("ascii")
    check = 0
    for byte in raw:
        check ^= byte
    return b"$%s*%02X" % (raw, check) if isinstance(body, bytes) else "$%s*%02X" % (body, check)


def report(callsign, message="Hello", body=BODY):
    """One whole report: the sentence, then the callsign line with no icon."""
    return (sentence(body) + "\r\n" + callsign + ",  " + message + "\r\n").encode()
