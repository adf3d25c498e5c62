#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""The live map page of rigplotd, over real sockets and in a real browser.

rigplotd runs in its own folder, fed by a radio played here on a
pseudo-terminal; the page is opened in headless Chromium with every name but
127.0.0.1 unresolvable, as on a LAN with no internet.

Environment: RIGPLOT_BIN_DIR (the build folder holding rigplotd),
RIGPLOT_SCREENSHOTS (optional: where the page's screenshots go).
"""
import gzip
import json
import math
import os
import random
import shutil
import signal
import socket
import sqlite3
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest
import urllib.request
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from nmea import sentence  # noqa: E402
from pty_radio import PtyRadio  # noqa: E402
from wait import wait_until  # noqa: E402

BIN = os.environ.get("RIGPLOT_BIN_DIR", os.path.join(os.path.dirname(__file__), "../../build"))
SHOTS = os.environ.get("RIGPLOT_SCREENSHOTS")


def degrees_minutes(value, width):
    whole = int(abs(value))
    return f"{whole:0{width}d}{(abs(value) - whole) * 60:07.4f}"


def report(callsign, lat=35.66, lon=139.70, symbol="0", course=90.0, message="Hello"):
    body = (f"GPRMC,012345,A,{degrees_minutes(lat, 2)},{'N' if lat >= 0 else 'S'},"
            f"{degrees_minutes(lon, 3)},{'E' if lon >= 0 else 'W'},012.0,{course:05.1f},071226,,,A")
    line = f"{callsign},{symbol}{',' if len(symbol) < 2 else ' '}{message}"
    return (sentence(body) + "\r\n" + line + "\r\n").encode("ascii")


class Rigplotd:
    """rigplotd in `folder` (its RIGPLOT.ini and TEMP), stderr collected line by line."""

    def __init__(self, folder, radio, *options):
        with open(os.path.join(folder, "RIGPLOT.ini"), "w") as f:
            f.write(f"{radio.name} 9600\n")
        self.folder = folder
        self.process = subprocess.Popen(
            [os.path.join(BIN, "rigplotd"), *options], cwd=folder, stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, env=dict(os.environ, TEMP=folder))
        self.lines = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        wait_until("rigplotd's start line", lambda: self.line("listening on") or self.process.poll() is not None,
                   seen=lambda: self.lines)
        start = self.line("listening on")
        if start is None:
            raise AssertionError(f"rigplotd did not start: {self.lines}")
        self.url = start.split(", page ")[1].split()[0] if ", page " in start else None

    def _read(self):
        for raw in self.process.stderr:
            self.lines.append(raw.decode("utf-8", "replace").rstrip("\n"))

    def line(self, text):
        return next((line for line in self.lines if text in line), None)

    def map_script(self):
        try:
            with open(os.path.join(self.folder, "0.mps"), "rb") as f:
                return f.read().decode("cp932")
        except FileNotFoundError:
            return ""

    def stop(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            self.process.wait(timeout=20)
        self.reader.join(timeout=5)
        return self.process.returncode


class Session(unittest.TestCase):
    def setUp(self):
        self.folder = tempfile.mkdtemp(prefix="rigplot-web-")
        self.addCleanup(shutil.rmtree, self.folder, True)
        self.radio = PtyRadio()
        self.addCleanup(self.radio.close)

    def start(self, *options, folder=None, radio=None):
        if folder is None:
            folder = tempfile.mkdtemp(dir=self.folder)
        run = Rigplotd(folder, radio or self.radio, *options)
        self.addCleanup(lambda: run.process.poll() is None and (run.process.kill(), run.process.wait()))
        return run


def http(url, method="GET", body=None):
    """Status, headers and body of one request, whatever the status."""
    request = urllib.request.Request(url, method=method, data=body)
    try:
        with urllib.request.urlopen(request, timeout=10) as response:
            return response.status, response.headers, response.read()
    except urllib.error.HTTPError as error:
        return error.code, error.headers, error.read()


def raw_exchange(port, data, timeout=5.0, end_request=True):
    """Sends bytes on a new connection (and its end, unless told not to), then
    reads until the server closes it. Returns what came back, or None when the
    server kept the connection open."""
    with socket.create_connection(("127.0.0.1", port), timeout=timeout) as sock:
        try:
            sock.sendall(data)
            if end_request:
                sock.shutdown(socket.SHUT_WR)
        except OSError:
            pass  # the server may refuse before it has read everything
        answer = b""
        try:
            while chunk := sock.recv(65536):
                answer += chunk
        except ConnectionResetError:
            pass
        except socket.timeout:
            return None
        return answer


def png(rgb, size=256):
    """A one-colour PNG tile."""
    def chunk(kind, data):
        return struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
    rows = b"".join(b"\x00" + bytes(rgb) * size for _ in range(size))
    return (b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", size, size, 8, 2, 0, 0, 0)) +
            chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def mbtiles(path, tiles, **metadata):
    """An MBTiles file of `tiles` {(z, x, y): bytes}, y counted from the north as the page asks."""
    with sqlite3.connect(path) as db:
        db.execute("CREATE TABLE metadata (name TEXT, value TEXT)")
        db.execute("CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, tile_data BLOB)")
        db.executemany("INSERT INTO metadata VALUES (?, ?)", metadata.items())
        db.executemany("INSERT INTO tiles VALUES (?, ?, ?, ?)",
                       [(z, x, (1 << z) - 1 - y, data) for (z, x, y), data in tiles.items()])
    db.close()
    return path


# Tokyo Bay at zooms 9 and 10, every tile a colour of its own.
BAY = {"format": "png", "minzoom": "9", "maxzoom": "10", "name": "Bay", "attribution": "<a href='x'>My map</a>",
       "bounds": "139.22,35.03,140.62,36.07", "center": "139.9,35.6,10"}


def bay_tiles():
    def column(lon, z):
        return int((lon + 180) / 360 * (1 << z))

    def row(lat, z):
        return int((1 - math.asinh(math.tan(math.radians(lat))) / math.pi) / 2 * (1 << z))
    return {(z, x, y): png(((x * 37) % 256, (y * 53) % 256, z * 20))
            for z in (9, 10) for x in range(column(139.22, z), column(140.62, z) + 1)
            for y in range(row(36.07, z), row(35.03, z) + 1)}


class EventStream:
    """Reads /events on a thread and keeps every `stations` event's data."""

    def __init__(self, url):
        self.events = []
        self.response = urllib.request.urlopen(url + "events", timeout=60)
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        event, data = None, []
        try:
            for raw in self.response:
                line = raw.decode("utf-8").rstrip("\n")
                if line.startswith("event: "):
                    event = line[len("event: "):]
                elif line.startswith("data: "):
                    data.append(line[len("data: "):])
                elif line == "" and event == "stations":
                    self.events.append(json.loads("\n".join(data)))
                    event, data = None, []
        except (OSError, ValueError):
            pass

    def callsigns(self):
        return [f["properties"]["callsign"] for f in self.events[-1]["features"]] if self.events else None


class ServerTest(Session):
    def test_answers_only_what_it_serves_and_survives_hostile_clients(self):
        run = self.start("--web", "127.0.0.1:0")
        port = int(run.url.rsplit(":", 1)[1].strip("/"))
        stream = EventStream(run.url)
        wait_until("the event at connecting", lambda: stream.callsigns() == [], seen=stream.callsigns)
        self.radio.send(report("JA1AAA", symbol="2", course=45))
        wait_until("JA1AAA's event", lambda: stream.callsigns() == ["JA1AAA"], seen=stream.callsigns)

        for path, kind in [("/", "text/html"), ("/map.js", "text/javascript"), ("/map.css", "text/css"),
                           ("/coast.js", "text/javascript"), ("/coast.json", "application/json"),
                           ("/leaflet.js", "text/javascript"), ("/leaflet.css", "text/css"),
                           ("/stations.geojson", "application/geo+json"),
                           ("/stations.kml", "application/vnd.google-earth.kml+xml"),
                           ("/status.json", "application/json")]:
            status, headers, body = http(run.url.rstrip("/") + path)
            self.assertEqual((status, headers.get_content_type()), (200, kind), path)
            self.assertTrue(body, path)
            self.assertIn("script-src 'self'", headers["Content-Security-Policy"], path)
            self.assertIn("img-src https://tile.openstreetmap.org data:;",
                          headers["Content-Security-Policy"], path)
            self.assertEqual(headers["X-Content-Type-Options"], "nosniff", path)
            self.assertIsNone(headers["Set-Cookie"], path)
        self.assertEqual(json.loads(http(run.url + "stations.geojson")[2])["features"][0]["properties"]
                         ["callsign"], "JA1AAA")
        status = json.loads(http(run.url + "status.json")[2])
        self.assertEqual({k: status[k] for k in ("port", "baud_rate", "adapter_present", "reports_stored",
                                                  "stations")},
                         {"port": "/dev/" + self.radio.name, "baud_rate": 9600, "adapter_present": True,
                          "reports_stored": 1, "stations": 1})
        self.assertEqual([(o["name"], o["working"]) for o in status["outputs"]],
                         [(os.path.join(run.folder, "0.mps"), True), (run.url, True)])
        head = http(run.url, "HEAD")
        self.assertEqual((head[0], head[2]), (200, b""))

        for method in ["POST", "PUT", "DELETE", "PATCH", "OPTIONS"]:
            status, headers, _ = http(run.url + "status.json", method, b"x=1" if method == "POST" else None)
            self.assertEqual((status, headers["Allow"]), (405, "GET, HEAD"), method)
        for path in ["/index.html", "/stationsXgeojson", "/stations.geojson/", "//status.json",
                     "/events/1", "/../etc/passwd", "/%2e%2e/%2e%2e/etc/passwd", "/images/layers.png"]:
            self.assertEqual(raw_exchange(port, f"GET {path} HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())[:12],
                             b"HTTP/1.1 404", path)

        # Oversized requests are refused as they arrive, not after.
        long_line = b"GET /" + b"a" * 5000 + b" HTTP/1.1\r\n\r\n"
        self.assertEqual(raw_exchange(port, long_line)[:12], b"HTTP/1.1 414")
        big_head = b"GET / HTTP/1.1\r\n" + b"X-Pad: " + b"b" * 100 + b"\r\n" * 1 + \
            (b"X-Pad: " + b"b" * 100 + b"\r\n") * 200 + b"\r\n"
        self.assertEqual(raw_exchange(port, big_head)[:12], b"HTTP/1.1 431")
        endless = raw_exchange(port, b"GET / HTTP/1.1\r\nX: " + b"c" * 65536, end_request=False)
        self.assertIn(endless[:12] if endless is not None else None, (b"", b"HTTP/1.1 431"),
                      "a header line that never ends")

        # A few hundred malformed requests, each on a connection of its own.
        rng = random.Random(13)
        fixed = [b"\r\n\r\n", b"GET\r\n\r\n", b"GET / HTTP/9.9\r\n\r\n", b"GET /\x00 HTTP/1.1\r\n\r\n",
                 b"GET / HTTP/1.1\r\nContent-Length: 99999999999999999999\r\n\r\n",
                 b"GET / HTTP/1.1\r\nContent-Length: -5\r\n\r\n",
                 b"GET / HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n",
                 b"GET / HTTP/1.1\r\nRange: bytes=" + b"0-1," * 500 + b"2-3\r\n\r\n",
                 b"GET / HTTP/1.1\r\nno colon here\r\n\r\n", b"GET / HTTP/1.1\r\n folded\r\n\r\n",
                 b"GET http://example.org/ HTTP/1.1\r\n\r\n", b"GET /%zz%00 HTTP/1.1\r\n\r\n",
                 b"GET / HTTP/1.1\r\nExpect: 100-continue\r\n\r\n", b"\xff\xfe" * 300]
        malformed = fixed + [bytes(rng.randrange(256) for _ in range(rng.randrange(1, 3000)))
                             for _ in range(150)] + \
            [b"GET /" + bytes(rng.choice(b"\x00\r\n %/?#\xff\x80a") for _ in range(rng.randrange(1, 40))) +
             b" HTTP/1.1\r\n" + b"H: \x01\x7f\xff\r\n" * rng.randrange(0, 5) + b"\r\n" for _ in range(150)]
        for data in malformed:
            answer = raw_exchange(port, data)
            self.assertIsNotNone(answer, data[:60])
        self.radio.send(report("JA2BBB", lat=34.7, lon=135.5, symbol="6"))
        wait_until("JA2BBB's event after the malformed requests",
                   lambda: stream.callsigns() == ["JA1AAA", "JA2BBB"], seen=stream.callsigns)

        # 64 idle connections: the open event stream and the link go on; the
        # idle ones are dropped and the page answers again.
        idle = [socket.create_connection(("127.0.0.1", port), timeout=30) for _ in range(64)]
        self.addCleanup(lambda: [sock.close() for sock in idle])
        self.radio.send(report("JA3CCC", lat=34.0, lon=133.0, symbol="11"))
        wait_until("JA3CCC's event beside 64 idle connections",
                   lambda: stream.callsigns() == ["JA1AAA", "JA2BBB", "JA3CCC"], seen=stream.callsigns)
        self.assertIn("JA3CCC", run.map_script())
        for sock in idle:
            answer = sock.recv(4096)  # b"" once dropped, or the busy answer
            self.assertIn(answer[:12], (b"", b"HTTP/1.1 503"))
        wait_until("the page answering again", lambda: http(run.url)[0] == 200)
        self.assertEqual(json.loads(http(run.url + "status.json")[2])["reports_stored"], 3)
        self.assertIsNone(run.process.poll())
        self.assertEqual(run.stop(), 0, run.lines)

    def test_holes_an_attacker_on_the_network_would_use(self):
        run = self.start("--web", "127.0.0.1:0")
        port = int(run.url.rsplit(":", 1)[1].strip("/"))
        self.assertIsNone(run.line("warning"), run.lines)

        def ask(path, *headers):
            answer = raw_exchange(port, f"GET {path} HTTP/1.1\r\n".encode() +
                                  b"".join(h.encode() + b"\r\n" for h in headers) + b"\r\n")
            head, _, body = answer.partition(b"\r\n\r\n")
            lines = head.decode("latin-1").split("\r\n")
            fields = {k.lower(): v.strip() for k, _, v in (line.partition(":") for line in lines[1:])}
            return int(lines[0].split()[1]), fields, body, answer

        here = f"Host: 127.0.0.1:{port}"
        # Only this machine's names, with the port, are a Host through loopback:
        # a rebound name is refused before anything is read for it.
        for host, status in [(f"127.0.0.1:{port}", 200), (f"localhost:{port}", 200),
                             (f"LocalHost:{port}", 200), (f"[::1]:{port}", 200),
                             (f"attacker.example:{port}", 421), ("127.0.0.1", 421),
                             (f"localhost:{port + 1}", 421), (f"127.0.0.1.attacker.example:{port}", 421),
                             (None, 421)]:
            got, _, body, _ = ask("/status.json", *([f"Host: {host}"] if host else []))
            self.assertEqual(got, status, host)
            self.assertEqual(b"baud_rate" in body, status == 200, host)

        # A Range of thousands of parts costs nothing: it is ignored.
        full = ask("/leaflet.js", here)[2]
        for ranges in ["-," * 3000 + "0-1", "0-1", "0-1,2-3"]:
            got, fields, body, answer = ask("/leaflet.js", here, "Range: bytes=" + ranges)
            self.assertEqual((got, body), (200, full), ranges[:10])
            self.assertNotIn("content-range", fields)
            self.assertLess(len(answer), 200_000)

        # The assets come compressed as the build made them, each form with a
        # strong tag of its own; a tag the browser holds gets 304 and no body.
        tags = set()
        for accept, coding in [("gzip, deflate, br", "br"), ("gzip", "gzip"), ("br;q=0, gzip;q=0.5", "gzip"),
                               ("br;q=0.000, gzip;q=0", None), ("", None)]:
            got, fields, body, _ = ask("/leaflet.js", here, "Accept-Encoding: " + accept)
            self.assertEqual((got, fields.get("content-encoding")), (200, coding), accept)
            if coding == "gzip":
                self.assertEqual(gzip.decompress(body), full)
            etag = fields["etag"]
            tags.add(etag)
            self.assertTrue(etag.startswith('"') and "max-age" in fields["cache-control"], fields)
            again, fields, body, _ = ask("/leaflet.js", here, "Accept-Encoding: " + accept,
                                         "If-None-Match: \"other\", " + etag)
            self.assertEqual((again, body, fields["etag"]), (304, b"", etag), accept)
        self.assertEqual(len(tags), 3)
        got, fields, _, _ = ask("/", here)
        self.assertEqual(ask("/", here, "If-None-Match: " + fields["etag"])[0], 304)
        self.assertEqual(ask("/map.js", here, "If-None-Match: " + fields["etag"])[0], 200)

        # A body is never taken for a request: one answer, then the end.
        smuggled = f"GET /status.json HTTP/1.1\r\n{here}\r\n\r\n"
        for framing in [f"Content-Length: {len(smuggled)}\r\n\r\n{smuggled}",
                        f"Transfer-Encoding: chunked\r\n\r\n{len(smuggled):x}\r\n{smuggled}\r\n0\r\n\r\n"]:
            answer = raw_exchange(port, f"GET /map.css HTTP/1.1\r\n{here}\r\n{framing}".encode())
            self.assertEqual(answer.count(b"HTTP/1.1 "), 1, framing[:20])
            self.assertIn(b"Connection: close", answer)
        # Two requests without a body on one connection are both answered.
        both = raw_exchange(port, (f"HEAD /map.css HTTP/1.1\r\n{here}\r\n\r\n" + smuggled).encode())
        self.assertEqual(both.count(b"HTTP/1.1 200"), 2)
        self.assertEqual(run.stop(), 0, run.lines)

    def test_viewers_are_limited_by_the_setting_not_by_threads(self):
        run = self.start("--web", "127.0.0.1:0", "--web-clients", "120")
        port = int(run.url.rsplit(":", 1)[1].strip("/"))
        tasks = os.path.join("/proc", str(run.process.pid), "task")
        threads = len(os.listdir(tasks))

        def stream():
            sock = socket.create_connection(("127.0.0.1", port), timeout=60)
            self.addCleanup(sock.close)
            sock.sendall(f"GET /events HTTP/1.1\r\nHost: 127.0.0.1:{port}\r\n\r\n".encode())
            return sock
        # A hundred viewers, half of them reading nothing at all: each live one
        # gets every event, and the server's threads stay as they were.
        live = [stream() for _ in range(50)]
        stalled = [stream() for _ in range(50)]
        wait_until("the page answering beside 100 streams", lambda: http(run.url + "status.json")[0] == 200)
        self.assertEqual(len(os.listdir(tasks)), threads)
        for n in range(100):
            self.radio.send(report(f"JA{n % 10}X{n:03d}", message="M" * 20))
        wait_until("the 100 reports stored", lambda: run.map_script().count("point") >= 100,
                   seen=lambda: run.map_script().count("point"))
        last = "JA9X099".encode()
        for sock in live:
            seen = b""
            while last not in seen:
                chunk = sock.recv(1 << 20)
                self.assertTrue(chunk, "a live stream ended")
                seen = seen[-64:] + chunk
        # The cap is the setting: past it, 503 at once.
        extra = [stream() for _ in range(25)]
        busy = [sock.recv(64)[:12] for sock in extra]
        self.assertIn(b"HTTP/1.1 503", busy)
        with open(f"/proc/{run.process.pid}/status") as f:
            status = dict(line.split(":", 1) for line in f if ":" in line)
        self.assertLess(int(status["VmHWM"].split()[0]), 64 * 1024, "peak RSS in kB")
        self.assertEqual(run.stop(), 0, run.lines)

    def test_network_address_warns_and_keeps_the_host_rule_for_loopback(self):
        run = self.start("--web", "0.0.0.0:0")
        port = int(run.url.rsplit(":", 1)[1].strip("/"))
        warning = run.line("warning")
        self.assertIn(f"0.0.0.0:{port}", warning)
        self.assertIn("anyone who can reach it can see the stations", warning)
        rebound = f"GET /status.json HTTP/1.1\r\nHost: attacker.example:{port}\r\n\r\n".encode()
        self.assertEqual(raw_exchange(port, rebound)[:12], b"HTTP/1.1 421")
        # From the network any name is taken, as the README says.
        probe = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        try:
            probe.connect(("192.0.2.1", 9))
            address = probe.getsockname()[0]
        except OSError:
            address = "127.0.0.1"
        finally:
            probe.close()
        if address.startswith("127."):
            self.skipTest("no address but loopback on this machine")
        with socket.create_connection((address, port), timeout=10) as sock:
            sock.sendall(f"GET /status.json HTTP/1.1\r\nHost: shack.example:{port}\r\nConnection: close\r\n\r\n".encode())
            self.assertEqual(sock.recv(12), b"HTTP/1.1 200")

    def test_an_address_not_up_yet_is_taken_for_when_it_comes(self):
        # A LAN address before DHCP at boot; nothing is sent to it.
        run = self.start("--web", "192.0.2.1:0")
        self.assertIsNone(run.line("page not served"), run.lines)
        self.assertIn("192.0.2.1:", run.line("warning"))
        self.assertEqual(run.stop(), 0, run.lines)
        self.assertEqual(run.stop(), 0, run.lines)

    def test_tiles_from_an_mbtiles_file(self):
        tiles = bay_tiles()
        # One large tile, left unread until the file is cut short under the server.
        big = bytes(random.Random(3).randrange(256) for _ in range(200_000))
        path = mbtiles(os.path.join(self.folder, "bay.mbtiles"), {**tiles, (8, 227, 100): big}, **BAY)
        before = os.stat(path).st_mtime_ns
        run = self.start("--web", "127.0.0.1:0", "--tiles", "mbtiles:" + path)
        base = run.url.rstrip("/")
        (z, x, y), data = max(tiles.items())
        status, headers, body = http(f"{base}/tiles/{z}/{x}/{y}")
        self.assertEqual((status, headers["Content-Type"], body), (200, "image/png", data))
        self.assertIn("max-age=86400", headers["Cache-Control"])
        self.assertIn("img-src 'self' data:;", headers["Content-Security-Policy"])
        request = urllib.request.Request(f"{base}/tiles/{z}/{x}/{y}", headers={"If-None-Match": headers["ETag"]})
        with self.assertRaises(urllib.error.HTTPError) as fresh:
            urllib.request.urlopen(request, timeout=10)
        self.assertEqual(fresh.exception.code, 304)
        # Every tile comes back as stored, the rows flipped; the tags differ.
        tags = set()
        for (z, x, y), data in tiles.items():
            status, headers, body = http(f"{base}/tiles/{z}/{x}/{y}.png")
            self.assertEqual((status, body), (200, data), (z, x, y))
            tags.add(headers["ETag"])
        self.assertEqual(len(tags), len(tiles))
        for missing in ["/tiles/8/227/101", f"/tiles/{z}/{x}/{(1 << z) - 1 - y}", "/tiles/9/454",
                        "/tiles/9/454/201/1", "/tiles/9/99999/1", "/tiles/-1/0/0", "/tiles/9/454/201.pbf",
                        "/tiles/", "/tiles/31/0/0"]:
            status, headers, _ = http(base + missing)
            self.assertEqual((status, headers["ETag"]), (404, None), missing)
        page = http(run.url)[2].decode()
        self.assertIn('data-tiles="/tiles/{z}/{x}/{y}"', page)
        self.assertIn('data-attribution="My map"', page)
        self.assertIn('&quot;minZoom&quot;:9,&quot;maxZoom&quot;:10,&quot;bounds&quot;:[[35.03,139.22],[36.07,140.62]]',
                      page)
        self.assertEqual(os.stat(path).st_mtime_ns, before, "opened read-only")
        os.truncate(path, os.path.getsize(path) - 150_000)
        self.assertEqual(http(base + "/tiles/8/227/100")[0], 503, "a damaged file is not a missing tile")
        self.assertEqual(run.stop(), 0, run.lines)
        self.assertEqual([n for n in os.listdir(self.folder) if n.startswith("bay")], ["bay.mbtiles"])

        # A file the page cannot use is a wrong command line.
        with open(os.path.join(self.folder, "junk.mbtiles"), "wb") as f:
            f.write(b"SQLite format 3\x00" + bytes(random.Random(5).randrange(256) for _ in range(8000)))
        vector = mbtiles(os.path.join(self.folder, "vector.mbtiles"), {(0, 0, 0): b"\x1a\x00"}, format="pbf")
        plain = os.path.join(self.folder, "plain.sqlite")
        sqlite3.connect(plain).execute("CREATE TABLE t (a)").connection.close()
        no_format = mbtiles(os.path.join(self.folder, "noformat.mbtiles"), {(0, 0, 0): png((0, 0, 0))})
        for name, said in [("missing.mbtiles", "cannot open"), ("junk.mbtiles", "not an MBTiles file"),
                           ("vector.mbtiles", "vector tiles (pbf)"), ("plain.sqlite", "not an MBTiles file"),
                           (no_format, "tile format '' is not png")]:
            refused = subprocess.run([os.path.join(BIN, "rigplotd"), "--tiles", "mbtiles:" + os.path.join(self.folder, name)],
                                     cwd=self.folder, capture_output=True, text=True, timeout=30)
            self.assertEqual(refused.returncode, 2, name)
            self.assertIn("rigplotd: --tiles: ", refused.stderr, name)
            self.assertIn(said, refused.stderr.splitlines()[0], name)

    def test_port_in_use_is_said_once_and_the_link_goes_on(self):
        first = self.start("--web", "127.0.0.1:0")
        port = first.url.rsplit(":", 1)[1].strip("/")
        other = PtyRadio()
        self.addCleanup(other.close)
        second = self.start("--web", "127.0.0.1:" + port, radio=other)
        self.assertIsNone(second.url, second.lines)
        other.send(report("JA4DDD"))
        wait_until("JA4DDD in the second copy's map script", lambda: "JA4DDD" in second.map_script())
        self.assertEqual(second.stop(), 0)
        said = [line for line in second.lines if "page" in line]
        self.assertEqual(said, [f"rigplotd: page not served: cannot listen on 127.0.0.1:{port}: "
                                "Address already in use"])
        self.assertEqual(http(first.url + "status.json")[0], 200)
        self.assertIsNone(self.start("--web", "off", radio=other).url)


class BrowserTest(Session):
    @classmethod
    def setUpClass(cls):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service
        cls.profile = tempfile.mkdtemp(prefix="rigplot-chromium-")
        options = webdriver.ChromeOptions()
        for argument in ["--headless=new", "--no-sandbox", "--disable-dev-shm-usage",
                         "--disable-background-networking", "--disable-component-update",
                         "--disable-sync", "--no-first-run", "--window-size=1200,760",
                         "--user-data-dir=" + cls.profile,
                         "--host-resolver-rules=MAP * ~NOTFOUND, EXCLUDE 127.0.0.1"]:
            options.add_argument(argument)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        # Chromium keeps its crash reports and settings under HOME whatever the
        # profile: give it one of its own, inside the profile.
        home = os.path.join(cls.profile, "home")
        env = dict(os.environ, HOME=home, XDG_CONFIG_HOME=home + "/.config",
                   XDG_CACHE_HOME=home + "/.cache", XDG_DATA_HOME=home + "/.local/share")
        cls.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver", env=env), options=options)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        shutil.rmtree(cls.profile, True)

    def find(self, css):
        return self.browser.find_elements("css selector", css)

    # Read in one script each, so that a page changing meanwhile cannot leave stale elements.
    def titles(self):
        return sorted(self.browser.execute_script(
            "return [...document.querySelectorAll('.leaflet-marker-icon')].map(e => e.title);"))

    def rows(self):
        return self.browser.execute_script(
            "return [...document.querySelectorAll('#rows tr')].map(r => r.cells[0].textContent);")

    def notice_shown(self):
        return self.find("#notice")[0].is_displayed()

    def screenshot(self, name):
        if SHOTS:
            os.makedirs(SHOTS, exist_ok=True)
            self.browser.save_screenshot(os.path.join(SHOTS, name))

    def test_page_follows_reports_clears_and_restarts(self):
        folder = tempfile.mkdtemp(dir=self.folder)
        run = self.start("--web", "127.0.0.1:0", folder=folder)
        self.browser.get(run.url)
        wait_until("the empty table", lambda: self.find("#count")[0].text == "0 局受信",
                   seen=lambda: self.find("#count")[0].text)
        self.assertFalse(self.find("#trails-box")[0].is_displayed(), "no trails without a history file")

        stations = [("JA1ABC", 35.68, 139.76, "0", 0), ("JH2XYZ", 35.17, 136.90, "3", 270),
                    ("JR3QQQ", 34.69, 135.50, "5", 0), ("JE4RRR", 34.39, 132.46, "12", 0),
                    ("JF5SSS", 33.84, 132.77, "Z", 0)]
        for callsign, lat, lon, symbol, course in stations:
            self.radio.send(report(callsign, lat, lon, symbol, course, message=f"QRV {callsign[-3:]}"))
        heard = sorted(s[0] for s in stations)
        wait_until("five markers titled by callsign", lambda: self.titles() == heard, seen=self.titles)
        self.assertEqual(self.rows(), [s[0] for s in reversed(stations)], "rows, last heard first")
        wait_until("the map fitted to every marker", lambda: self.browser.execute_script(
            "const m = document.getElementById('map').getBoundingClientRect();"
            "return [...document.querySelectorAll('.leaflet-marker-icon')].every(e => {"
            "  const r = e.getBoundingClientRect();"
            "  return r.left >= m.left && r.right <= m.right && r.top >= m.top && r.bottom <= m.bottom; });"))

        self.find("#rows tr")[-1].click()  # the first heard: JA1ABC
        def popup_text():  # as shown, once it has faded in
            return "".join(e.text for e in self.find(".leaflet-popup-content"))
        popup = wait_until("JA1ABC's popup", lambda: "JA1ABC" in popup_text() and popup_text(),
                           seen=popup_text)
        for text in ["JA1ABC", "受信日時 ", "データ日時 26/12/07 01:23:45 UTC", "移動速度 22.22 km/h",
                     "移動方向 0°", "レピータ", "メッセージ QRV ABC"]:
            self.assertIn(text, popup)
        time.sleep(0.5)  # the popup fades in
        self.screenshot("page.png")
        errors = [e["message"] for e in self.browser.get_log("browser")
                  if "Content Security Policy" in e["message"] or "TypeError" in e["message"]]
        self.assertEqual(errors, [])

        run.process.send_signal(signal.SIGUSR1)
        wait_until("the clear on the page", lambda: not self.titles() and not self.rows(),
                   seen=self.titles)

        self.assertEqual(run.stop(), 0)
        wait_until("the lost-connection notice", self.notice_shown)
        self.screenshot("lost.png")
        port = run.url.rsplit(":", 1)[1].strip("/")
        again = self.start("--web", "127.0.0.1:" + port, folder=folder)
        self.radio.send(report("JA6TTT", 33.59, 130.40, "1", 90))
        wait_until("the page back with JA6TTT", lambda: not self.notice_shown() and self.titles() == ["JA6TTT"],
                   seen=self.titles)
        self.assertEqual(again.stop(), 0)

    def count(self, css):
        return self.browser.execute_script(f"return document.querySelectorAll({json.dumps(css)}).length;")

    def test_trails_and_the_stations_remembered_after_a_restart(self):
        folder = tempfile.mkdtemp(dir=self.folder)
        history = os.path.join(folder, "history.sqlite")
        run = self.start("--web", "127.0.0.1:0", "--history", history, folder=folder)
        self.browser.get(run.url)
        wait_until("the trails control", lambda: self.find("#trails-box")[0].is_displayed())
        for callsign, points in [("JA1MOV", [(35.60, 139.60), (35.62, 139.63), (35.65, 139.66)]),
                                 ("JA2MOV", [(35.50, 139.80), (35.52, 139.78)]),
                                 ("JA3FIX", [(35.70, 139.70), (35.70, 139.70)])]:
            for lat, lon in points:
                self.radio.send(report(callsign, lat, lon))
        wait_until("three markers", lambda: self.titles() == ["JA1MOV", "JA2MOV", "JA3FIX"], seen=self.titles)
        self.browser.execute_script(
            "const s = document.getElementById('trails'); s.value = '6'; s.dispatchEvent(new Event('change'));")
        wait_until("one line per moving station", lambda: self.count("path.trail") == 2,
                   seen=lambda: self.count("path.trail"))
        next(r for r in self.find("#rows tr") if r.text.startswith("JA1MOV")).click()
        wait_until("JA1MOV's own track", lambda: self.count("path.trail.focus") == 1)
        self.screenshot("trails.png")
        port = run.url.rsplit(":", 1)[1].strip("/")
        self.assertEqual(run.stop(), 0)

        again = self.start("--web", "127.0.0.1:" + port, "--history", history, folder=folder)
        self.browser.get(again.url)
        remembered = lambda: self.browser.execute_script(  # noqa: E731
            "return [...document.querySelectorAll('#history-rows tr.from-history')].map(r => r.cells[0].textContent);")
        wait_until("the last day's stations, greyed", lambda: sorted(remembered()) == ["JA1MOV", "JA2MOV", "JA3FIX"],
                   seen=remembered)
        self.assertEqual(self.count("path.from-history"), 3)
        self.assertEqual(self.titles(), [])
        self.assertEqual(self.find("#count")[0].text, "0 局受信", "stations.geojson stays the table")
        self.screenshot("remembered.png")
        self.radio.send(report("JA3FIX", 35.70, 139.70))
        wait_until("JA3FIX heard again, no longer greyed",
                   lambda: sorted(remembered()) == ["JA1MOV", "JA2MOV"] and self.titles() == ["JA3FIX"],
                   seen=remembered)
        self.assertEqual(self.count("path.from-history"), 2)
        self.assertEqual(again.stop(), 0)

    def test_own_tiles_and_the_coastline_without_internet(self):
        path = mbtiles(os.path.join(self.folder, "bay.mbtiles"), bay_tiles(), **BAY)
        run = self.start("--web", "127.0.0.1:0", "--tiles", "mbtiles:" + path)
        self.browser.get_log("browser")
        self.browser.get(run.url)
        tiles = lambda: self.browser.execute_script(  # noqa: E731
            "return [...document.querySelectorAll('img.leaflet-tile')].map(i => [i.complete, i.naturalWidth]);")
        wait_until("the file's tiles, all loaded", lambda: len(tiles()) >= 4 and all(t == [True, 256] for t in tiles()),
                   seen=tiles)
        self.assertIn("My map", self.find(".leaflet-control-attribution")[0].text)
        self.screenshot("mbtiles.png")
        self.assertEqual([e["message"] for e in self.browser.get_log("browser") if "/tiles/" in e["message"]], [])
        self.assertEqual(run.stop(), 0)

        # With no tiles, and with the default tiles out of reach, land is drawn
        # under inland stations and none under one at sea.
        stations = [("JA0AAA", 36.65, 138.18), ("JA2BBB", 36.14, 137.25), ("JA1CCC", 35.66, 138.57)]
        at_sea = ("JA1SEA", 35.10, 139.40)
        pixel = """
            const map = window.rigplotMap, canvas = document.querySelector('.leaflet-coast-pane canvas');
            if (!canvas || document.body.dataset.coast !== 'drawn') return null;
            const r = canvas.getBoundingClientRect(), m = map.getContainer().getBoundingClientRect();
            const p = map.latLngToContainerPoint([arguments[0], arguments[1]]);
            const x = Math.round((m.left + p.x - r.left) * canvas.width / r.width);
            const y = Math.round((m.top + p.y - r.top) * canvas.height / r.height);
            return [...canvas.getContext('2d').getImageData(x, y, 1, 1).data];"""
        land = [242, 238, 223, 255]
        for options in [("--tiles", "none"), ()]:
            run = self.start("--web", "127.0.0.1:0", *options)
            self.browser.get(run.url)
            for callsign, lat, lon in stations + [at_sea]:
                self.radio.send(report(callsign, lat, lon))
            wait_until("four markers", lambda: len(self.titles()) == 4, seen=self.titles)
            # Read all four at once: while the map still moves to fit the
            # markers, a pixel read alone may be taken from the old view.
            pixels = lambda: [self.browser.execute_script(pixel, lat, lon)  # noqa: E731
                              for _, lat, lon in stations + [at_sea]]
            wait_until(f"land under {', '.join(s[0] for s in stations)} and none under {at_sea[0]}",
                       lambda: (p := pixels())[:3] == [land] * 3 and p[3] is not None and p[3][:3] != land[:3],
                       seen=lambda: (options, pixels()))
            self.assertIn("GSHHG", self.find(".leaflet-control-attribution")[0].text)
            self.screenshot(f"coast{len(options)}.png")
            self.assertEqual(run.stop(), 0)
            run.process.wait()


if __name__ == "__main__":
    unittest.main(verbosity=2)
