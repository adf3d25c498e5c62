#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""rigplotd.exe under Wine, with COM1 on a pseudo-terminal: this side plays the
radio (see wine_session.py for the set-up)."""
import json
import os
import re
import select
import signal
import sqlite3
import subprocess
import time
import unittest
import urllib.request

from wine_session import (BIN, LOG, PATIENCE, PORT_FAILED, SETTINGS_MISSING, SHIM, TEMP, Radio,
                          map_script, point_line, pty_log, report, station_count, wait_for_map,
                          wait_until, wine_env)
import wine_session


def setUpModule():
    wine_session.start()


def tearDownModule():
    wine_session.stop()


class Rigplotd:
    """One run of rigplotd.exe in its own directory holding RIGPLOT.ini."""

    def __init__(self, radio, settings=b"COM1 9600\r\n", launcher=None, options=("--web", "off")):
        self.dir = wine_session.program_dir(settings)
        if os.path.exists(LOG):
            os.remove(LOG)
        env = wine_env(LD_PRELOAD=SHIM, RIGPLOT_PTY_WATCH=radio.path if radio else "",
                       RIGPLOT_PTY_LOG=LOG)
        program = os.path.join(BIN, "rigplotd.exe")
        command = ["wine", program, *options] if launcher is None else \
            ["wine", os.path.join(BIN, "console_events.exe"), launcher, "Z:" + program.replace("/", "\\"),
             *options]
        self.process = subprocess.Popen(command, cwd=self.dir, env=env,
                                        stdin=subprocess.DEVNULL if launcher is None else subprocess.PIPE,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.output = b""

    def kill(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait(timeout=10)
        for pipe in (self.process.stdin, self.process.stdout, self.process.stderr):
            if pipe:
                pipe.close()

    def wait_listening(self):
        """Reads its stderr until it says it is listening."""
        def listening():
            if select.select([self.process.stderr], [], [], 0.5)[0]:
                self.output += os.read(self.process.stderr.fileno(), 4096)
            return b"listening" in self.output or self.process.poll() is not None

        wait_until("rigplotd.exe to say it is listening", listening, lambda: self.output)
        if b"listening" not in self.output:
            raise AssertionError(
                f"rigplotd.exe ended with {self.process.returncode}: {self.output}")

    def finish(self, timeout=PATIENCE):
        """Its exit status; killed, and said so in its output, if it does not
        end within the timeout."""
        try:
            out, err = self.process.communicate(timeout=timeout)
        except subprocess.TimeoutExpired:
            self.process.kill()
            out, err = self.process.communicate(timeout=10)
            err += b"\n(the test killed it: no exit within %d s)" % timeout
        self.output += out + err
        return self.process.returncode

    def send_event(self):
        """Lets console_events send its event now."""
        self.process.stdin.write(b"\n")
        self.process.stdin.flush()

    def stop(self):
        self.process.send_signal(signal.SIGINT)  # Wine raises Ctrl+C from SIGINT
        return self.finish()

    def cpu_seconds(self):
        with open(f"/proc/{self.process.pid}/stat") as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


class SerialTest(unittest.TestCase):
    def setUp(self):
        self.radio = Radio()

    def start(self, **options):
        run = Rigplotd(self.radio, **options)
        self.addCleanup(run.kill)
        return run

    def tearDown(self):
        self.radio.close()

    def assertNothingSentToTheRadio(self, run):
        self.assertEqual([line for line in pty_log() if line.startswith("write")], [])
        self.assertEqual(self.radio.pending_for_radio(), b"")

    def test_reports_rewrite_the_map_script(self):
        run = self.start()
        run.wait_listening()
        self.radio.send(report("JA1ABC") + b"noise\r\n" + report("JH2XYZ", "73", course="90"))
        self.radio.send(report("JA1ABC", "QRV", time_="012350"))
        data = wait_for_map("QRV", lambda d: b"QRV" in d)
        self.assertEqual(run.stop(), 0, run.output)
        self.assertIn(b"stopped after 3 reports", run.output)

        lines = data.split(b"\r\n")
        self.assertEqual(lines[-1], b"", "the file ends with CR LF")
        lines = lines[:-1]
        self.assertEqual(len(lines), 3 + 95 + 2 + 3)
        self.assertNotIn(b"\r\r", data)
        self.assertNotIn(b"\n", b"".join(lines))
        self.assertEqual(lines[0], b'mapserver script ver = "1.0";')
        self.assertRegex(lines[1], re.compile(re.escape('theme str="D-STAR位置情報 ('.encode("cp932"))))
        self.assertEqual(lines[2], ('addon url="file://Z:' + TEMP.replace("/", "\\") + '\\0.mps" '
                                    'title="D-STARリアルタイム位置情報" updatable="yes";').encode("cp932"))
        self.assertEqual(lines[3], 'group gid="0" gname="移動局Ａ";'.encode("cp932"))
        self.assertRegex(lines[98], point_line(1, "JA1ABC", "0.5", "123.4", "01:23:50", "QRV"))
        self.assertRegex(lines[99], point_line(2, "JH2XYZ", "0.4", "90", message="73"))
        self.assertEqual(lines[100], 'message str=" 2 局受信しました。";'.encode("cp932"))
        self.assertEqual(lines[101:], [b'disp area="current" scale="5000000";', b"mapserver end;"])
        self.assertEqual(map_script(), data, "the stop leaves the map script as it was")
        self.assertNothingSentToTheRadio(run)

    def test_page_serves_status_and_events(self):
        run = self.start(options=("--web", "127.0.0.1:0"))
        run.wait_listening()
        url = re.search(rb"page (http://[0-9.:]+/)", run.output).group(1).decode()
        events = urllib.request.urlopen(url + "events", timeout=30)
        self.addCleanup(events.close)
        self.assertEqual(events.readline(), b"retry: 2000\n")
        self.radio.send(report("JA1ABC"))
        deadline = time.monotonic() + PATIENCE
        seen = []
        while b'"callsign":"JA1ABC"' not in (line := events.readline()):
            seen.append(line)
            self.assertLess(time.monotonic(), deadline, f"no stations event with JA1ABC; saw {seen}")
        with urllib.request.urlopen(url + "status.json", timeout=30) as response:
            status = json.load(response)
        self.assertEqual([status[k] for k in ("port", "baud_rate", "adapter_present", "reports_stored", "stations")],
                         ["\\\\.\\COM1", 9600, True, 1, 1])
        # The same server as on Linux: a rebound name is refused, a file the
        # browser holds is not sent again.
        for path, headers, code in [("status.json", {"Host": "attacker.example"}, 421),
                                    ("map.js", {"If-None-Match": "*"}, 304)]:
            with self.assertRaises(urllib.error.HTTPError) as answer:
                urllib.request.urlopen(urllib.request.Request(url + path, headers=headers), timeout=30)
            self.assertEqual(answer.exception.code, code, path)
        self.assertEqual(run.stop(), 0, run.output)

    def test_report_split_over_reads(self):
        run = self.start()
        run.wait_listening()
        whole = report("JR3QQQ")
        self.radio.send(whole[:40])
        wait_until("rigplotd.exe to read the first 40 bytes", pty_log, pty_log)
        time.sleep(0.3)
        self.assertEqual(map_script(), b"", "half a report writes nothing")
        self.radio.send(whole[40:])
        data = wait_for_map("JR3QQQ", lambda d: b"JR3QQQ" in d)
        self.assertEqual(run.stop(), 0, run.output)
        self.assertEqual(station_count(data), 1)
        self.assertEqual(pty_log(), ["read 40", "read %d" % (len(whole) - 40)])
        self.assertNothingSentToTheRadio(run)

    def test_700_queued_bytes_are_read_as_512_and_188(self):
        # Queued before the program opens the port, so the first wait finds
        # all of them; the seventh report straddles the two reads.
        stream = b"".join(report("ST%d" % n) for n in range(8))
        stream += b"x" * (700 - len(stream) - 2) + b"\r\n"
        self.assertEqual(len(stream), 700)
        self.assertNotEqual(512 % len(report("ST0")), 0, "a report straddles the two reads")
        self.radio.send(stream)
        run = self.start()
        run.wait_listening()
        data = wait_for_map("8 stations", lambda d: station_count(d) == 8)
        self.assertEqual(run.stop(), 0, run.output)
        self.assertEqual(station_count(data), 8)
        self.assertEqual(pty_log(), ["read 512", "read 188"])
        self.assertIn(b"stopped after 8 reports", run.output)
        self.assertNothingSentToTheRadio(run)

    def test_console_events_run_the_stop_sequence(self):
        for event in ("break", "close"):
            with self.subTest(event=event):
                run = self.start(launcher=event)
                run.wait_listening()
                self.radio.send(report("JA1ABC"))
                wait_for_map("1 station", lambda d: station_count(d) == 1)
                run.send_event()
                self.assertEqual(run.finish(), 0, run.output)
                self.assertIn(b"stopped after 1 reports", run.output)
                self.assertEqual(station_count(map_script()), 1)
                self.assertNothingSentToTheRadio(run)

    def test_idle_line_and_ctrl_c(self):
        run = self.start()
        run.wait_listening()
        before = run.cpu_seconds()
        time.sleep(2)
        idle = run.cpu_seconds() - before
        self.assertEqual(run.stop(), 0, run.output)
        self.assertIn(b"stopped after 0 reports", run.output)
        self.assertLess(idle, 0.5, "the worker must sleep while the line is idle")
        self.assertEqual(map_script(), b"", "no report, no map script")
        self.assertEqual(pty_log(), [])
        self.assertNothingSentToTheRadio(run)

    def test_adapter_removed_and_back(self):
        run = self.start()
        run.wait_listening()
        self.radio.send(report("JA1ABC"))
        wait_for_map("1 station", lambda d: station_count(d) == 1)
        self.radio.unplug()
        time.sleep(1)
        before = run.cpu_seconds()
        time.sleep(2)
        gone = run.cpu_seconds() - before
        # Plugged in again under the same name; the report waits on the line
        # until the worker, looking once a second, opens it again.
        self.radio = Radio()
        self.radio.send(report("JH2XYZ"))
        data = wait_for_map("2 stations", lambda d: station_count(d) == 2)
        self.assertEqual(run.stop(), 0, run.output)
        self.assertEqual(station_count(data), 2, "the table outlives the adapter")
        self.assertLess(gone, 0.5, "no busy loop while the adapter is away")
        self.assertIn(b"stopped after 2 reports", run.output)

    def test_unmapped_port_gives_the_port_message(self):
        run = self.start(settings=b"COM9 9600\r\n")
        self.assertEqual(run.finish(), 1, run.output)
        self.assertIn(PORT_FAILED, run.output)
        self.assertIn(b"\\\\.\\COM9: ", run.output)
        self.assertNotIn(b"listening", run.output)

    def test_missing_settings_file_gives_its_message(self):
        run = self.start(settings=None)
        self.assertEqual(run.finish(), 1, run.output)
        self.assertIn(SETTINGS_MISSING, run.output)
        self.assertNotIn(b"listening", run.output)

    def test_mqtt_is_refused_plainly_in_this_build(self):
        run = self.start(options=("--mqtt", "mqtt://127.0.0.1"))
        self.assertEqual(run.finish(), 2, run.output)
        self.assertIn(b"this build has no MQTT", run.output)
        self.assertNotIn(b"listening", run.output)

    def test_history_and_mbtiles_tiles(self):
        # Names beyond ASCII: the program must read its arguments as UTF-8,
        # not in the console's code page.
        history = os.path.join(wine_session.WORK, "履歴.sqlite")
        tiles = os.path.join(wine_session.WORK, "地図.mbtiles")
        tile = b"\x89PNG\r\n\x1a\n one tile"
        with sqlite3.connect(tiles) as db:
            db.execute("CREATE TABLE metadata (name TEXT, value TEXT)")
            db.execute("CREATE TABLE tiles (zoom_level INTEGER, tile_column INTEGER, tile_row INTEGER, "
                       "tile_data BLOB)")
            db.executemany("INSERT INTO metadata VALUES (?, ?)",
                           [("format", "png"), ("minzoom", "9"), ("maxzoom", "9"), ("name", "Bay")])
            db.execute("INSERT INTO tiles VALUES (9, 454, 310, ?)", (tile,))  # y = 201 from the north
        db.close()
        run = self.start(options=("--web", "127.0.0.1:0", "--history", "Z:" + history,
                                  "--tiles", "mbtiles:Z:" + tiles))
        run.wait_listening()
        url = re.search(rb"page (http://[0-9.:]+/)", run.output).group(1).decode()
        with urllib.request.urlopen(url + "tiles/9/454/201.png", timeout=30) as response:
            self.assertEqual(response.read(), tile)
        self.radio.send(report("JA1ABC") + report("JA1ABC", "QRV", time_="012350"))

        def track():
            with urllib.request.urlopen(url + "tracks.geojson?callsign=JA1ABC", timeout=30) as response:
                features = json.load(response)["features"]
            return features and features[0]["properties"]["points"] == 2 and features[0]
        feature = wait_until("a track of JA1ABC's two reports", track, lambda: run.output)
        self.assertEqual(feature["geometry"]["coordinates"][0], [139.761315, 35.652057])
        self.assertEqual(run.stop(), 0, run.output)
        with sqlite3.connect(history) as db:
            rows = db.execute("SELECT callsign, message, latitude, receiver FROM report ORDER BY rowid").fetchall()
            checked = db.execute("PRAGMA integrity_check").fetchone()
        db.close()
        self.assertEqual(rows, [("JA1ABC", "Hello", 35.652057, ""), ("JA1ABC", "QRV", 35.652057, "")])
        self.assertEqual(checked, ("ok",))

if __name__ == "__main__":
    unittest.main(verbosity=2)
