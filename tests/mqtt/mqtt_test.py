#!/usr/bin/python3
# SPDX-License-Identifier: MIT
"""rigplotd publishing to a real mosquitto, started here on a free loopback
port with its own configuration and data folder (no system service).

Environment: RIGPLOT_BIN_DIR (the build folder holding rigplotd).
"""
import getpass
import json
import os
import resource
import shutil
import signal
import socket
import sqlite3
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from datetime import datetime

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "web"))
sys.path.insert(0, os.path.join(HERE, "..", "support"))
from pty_radio import PtyRadio  # noqa: E402
from wait import wait_until  # noqa: E402
import web_test  # noqa: E402
from web_test import BIN, EventStream, Session, http, report  # noqa: E402

MOSQUITTO = "/usr/sbin/mosquitto"


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def make_certificates(folder):
    """A private authority, and a certificate it signs for localhost and 127.0.0.1."""
    def openssl(*args):
        subprocess.run(["openssl", *args], cwd=folder, check=True, capture_output=True)
    openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "2", "-subj", "/CN=test CA",
            "-keyout", "ca.key", "-out", "ca.pem")
    openssl("req", "-newkey", "rsa:2048", "-nodes", "-subj", "/CN=localhost",
            "-keyout", "server.key", "-out", "server.csr")
    with open(os.path.join(folder, "san.ext"), "w") as f:
        f.write("subjectAltName=DNS:localhost,IP:127.0.0.1\n")
    openssl("x509", "-req", "-in", "server.csr", "-CA", "ca.pem", "-CAkey", "ca.key", "-CAcreateserial",
            "-days", "2", "-extfile", "san.ext", "-out", "server.pem")
    return os.path.join(folder, "ca.pem")


class Broker:
    """mosquitto on `port`, its session store in `folder`, so a restart keeps
    a persistent subscriber's session."""

    def __init__(self, folder, port=None, users=None, tls=False):
        self.folder, self.port = folder, port or free_port()
        # As root, mosquitto would switch to its own user, who cannot read this folder.
        config = [f"listener {self.port} 127.0.0.1", f"user {getpass.getuser()}", "persistence true",
                  f"persistence_location {folder}/"]
        if tls:
            self.ca = make_certificates(folder)
            config += [f"cafile {self.ca}", f"certfile {folder}/server.pem", f"keyfile {folder}/server.key"]
        if users:
            passwords = os.path.join(folder, "passwords")
            open(passwords, "w").close()
            for user, password in users.items():
                subprocess.run(["mosquitto_passwd", "-b", passwords, user, password], check=True)
            config += ["allow_anonymous false", f"password_file {passwords}"]
        else:
            config.append("allow_anonymous true")
        self.config = os.path.join(folder, "mosquitto.conf")
        with open(self.config, "w") as f:
            f.write("\n".join(config) + "\n")
        self.process = None
        self.start()

    def start(self):
        self.log = open(os.path.join(self.folder, "mosquitto.log"), "ab")
        self.process = subprocess.Popen([MOSQUITTO, "-c", self.config], stdout=self.log,
                                        stderr=subprocess.STDOUT)
        wait_until("mosquitto listening", self._listening)

    def _listening(self):
        try:
            socket.create_connection(("127.0.0.1", self.port), timeout=1).close()
            return True
        except OSError:
            return False

    def stop(self):
        if self.process and self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=30)
        self.log.close()

    def url(self, user=""):
        return f"mqtt://{user + '@' if user else ''}127.0.0.1:{self.port}"


class Subscriber:
    """mosquitto_sub printing topic TAB payload, one message a line."""

    def __init__(self, broker, *topics, extra=()):
        args = ["mosquitto_sub", "-h", "127.0.0.1", "-p", str(broker.port), "-q", "1",
                "-F", "%t\t%p", *extra]
        for topic in topics:
            args += ["-t", topic]
        self.process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.messages = []
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in self.process.stdout:
            topic, _, payload = raw.decode("utf-8").rstrip("\n").partition("\t")
            self.messages.append((topic, payload))

    def on(self, topic):
        return [payload for t, payload in self.messages if t == topic]

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.reader.join(timeout=5)
        self.process.stdout.close()


def retained(broker, topic, login=(), host="127.0.0.1"):
    """Every retained message under `topic` now, as a dict topic -> payload."""
    out = subprocess.run(["mosquitto_sub", "-h", host, "-p", str(broker.port), "-t", topic, *login,
                          "--retained-only", "-W", "2", "-F", "%t\t%p"],
                         capture_output=True, timeout=30).stdout.decode("utf-8")
    return dict(line.partition("\t")[::2] for line in out.splitlines())


class NoPort:
    """For a hub: its RIGPLOT.ini names a port that is not there, which it never opens."""
    name = "/dev/rigplot-no-such-port"


class MqttTest(Session):
    def broker(self, **kwargs):
        folder = tempfile.mkdtemp(dir=self.folder)
        broker = Broker(folder, **kwargs)
        self.addCleanup(broker.stop)
        return broker

    def subscribe(self, broker, *topics, extra=()):
        sub = Subscriber(broker, *topics, extra=extra)
        self.addCleanup(sub.stop)
        return sub

    def geojson_features(self, path):
        with open(path, encoding="utf-8") as f:
            return [line.rstrip(",") for line in f.read().splitlines() if line.startswith("{\"type\":\"Feature\"")]

    def test_reports_stations_status_discovery_and_clear(self):
        broker = self.broker()
        everything = self.subscribe(broker, "rigplot/#", "homeassistant/#")
        geojson = os.path.join(self.folder, "stations.geojson")
        run = self.start("--web", "off", "--geojson", geojson, "--mqtt", broker.url(),
                         "--receiver", "hill1", "--homeassistant")
        wait_until("the broker connected", lambda: run.line("MQTT broker"), seen=lambda: run.lines)
        self.radio.send(report("JA1ABC A", lat=35.5, lon=139.25, message="first"))
        self.radio.send(report("JA2XYZ", lat=-33.75, lon=-70.5, course=180.0))
        wait_until("both reports published",
                   lambda: len(everything.on("rigplot/hill1/report")) == 2,
                   seen=lambda: everything.messages)

        # The same bytes as the file's Feature, plus the receiver.
        files = self.geojson_features(geojson)
        sent = everything.on("rigplot/hill1/report")
        self.assertEqual([f[:-2] + ',"receiver":"hill1"}}' for f in files], sent)
        self.assertEqual(json.loads(sent[0])["properties"]["callsign"], "JA1ABC A")

        status = json.loads(retained(broker, "rigplot/hill1/status")["rigplot/hill1/status"])
        self.assertEqual((status["online"], status["receiver"], status["port"]),
                         (True, "hill1", self.radio.path))
        self.assertTrue(status["version"] and status["started"])

        # A newcomer sees every station at once.
        stations = retained(broker, "rigplot/hill1/station/+")
        self.assertEqual(stations, {"rigplot/hill1/station/JA1ABC%20A": sent[0],
                                    "rigplot/hill1/station/JA2XYZ": sent[1]})

        # Home Assistant: a device tracker per station, placed by its attributes.
        configs = retained(broker, "homeassistant/device_tracker/#")
        config = json.loads(configs["homeassistant/device_tracker/rigplot_hill1/JA1ABC_20A/config"])
        self.assertEqual(len(configs), 2)
        self.assertEqual(config["unique_id"], "rigplot_hill1_JA1ABC_20A")
        self.assertEqual(config["source_type"], "gps")
        self.assertEqual(config["availability_topic"], "rigplot/hill1/status")
        self.assertIn("value_json.online", config["availability_template"])
        self.assertEqual(config["device"]["identifiers"], ["rigplot_hill1_JA1ABC_20A"])
        attributes = json.loads(retained(broker, config["json_attributes_topic"])[config["json_attributes_topic"]])
        self.assertEqual({k: attributes[k] for k in ("latitude", "longitude", "gps_accuracy", "course",
                                                     "repeater", "message")},
                         {"latitude": 35.5, "longitude": 139.25, "gps_accuracy": 0, "course": 90,
                          "repeater": "", "message": "first"})
        self.assertAlmostEqual(attributes["speed"], 12 * 1.852, places=2)

        # A clear removes every retained station, says so, and the radio goes on.
        run.process.send_signal(signal.SIGUSR1)
        wait_until("the clear published", lambda: everything.on("rigplot/hill1/cleared"),
                   seen=lambda: everything.messages)
        wait_until("retained stations removed",
                   lambda: not retained(broker, "rigplot/hill1/station/+")
                   and not retained(broker, "homeassistant/#")
                   and not retained(broker, "rigplot/hill1/homeassistant/#"))
        self.radio.send(report("JA3NEW"))
        wait_until("a report after the clear",
                   lambda: list(retained(broker, "rigplot/hill1/station/+")) == ["rigplot/hill1/station/JA3NEW"])

        # A stop says offline; a crash leaves it to the last will.
        self.assertEqual(run.stop(), 0)
        # Published before the stop ended; the subscriber may still be reading it.
        wait_until("the stop's offline status",
                   lambda: json.loads(everything.on("rigplot/hill1/status")[-1]) == {"online": False},
                   seen=lambda: everything.on("rigplot/hill1/status"))
        crash = self.start("--web", "off", "--mqtt", broker.url(), "--receiver", "hill2")
        wait_until("the second receiver online",
                   lambda: '"online":true' in retained(broker, "rigplot/hill2/status").get("rigplot/hill2/status", ""))
        crash.process.kill()
        wait_until("the last will", lambda: retained(broker, "rigplot/hill2/status").get("rigplot/hill2/status") == '{"online":false}')

    def test_broker_away_reports_wait_in_order_and_the_bound_drops_the_oldest(self):
        broker = self.broker()
        # A persistent QoS 1 session: the broker keeps its messages over the restart.
        sub = self.subscribe(broker, "rigplot/+/report",
                             extra=["-c", "-i", f"rigplot-test-{os.getpid()}"])
        small_radio = PtyRadio()
        self.addCleanup(small_radio.close)
        run = self.start("--web", "off", "--mqtt", broker.url(), "--receiver", "big")
        small = self.start("--web", "off", "--mqtt", broker.url(), "--receiver", "small",
                           "--mqtt-queue", "5", radio=small_radio)
        for r in (run, small):
            wait_until("connected", lambda: r.line("connected"), seen=lambda: r.lines)
        self.radio.send(report("JH1N000"))
        wait_until("the first report", lambda: sub.on("rigplot/big/report"), seen=lambda: sub.messages)

        broker.stop()
        for r in (run, small):
            wait_until("the broker gone said", lambda: r.line("gone"), seen=lambda: r.lines)
        for n in range(1, 51):
            self.radio.send(report(f"JH1N{n:03d}"))
        for n in range(1, 9):
            small_radio.send(report(f"JS1S{n:03d}"))
        wait_until("all heard while away", lambda: "JH1N050" in run.map_script()
                   and "JS1S008" in small.map_script())
        wait_until("dropping said while the broker is away", lambda: small.line("dropping the oldest"),
                   seen=lambda: small.lines)
        broker.start()

        def callsigns(receiver):
            return [json.loads(p)["properties"]["callsign"] for p in sub.on(f"rigplot/{receiver}/report")]
        wait_until("the 50 after the broker came back", lambda: len(callsigns("big")) >= 51,
                   seen=lambda: callsigns("big"))
        wait_until("the small queue's last 5", lambda: len(callsigns("small")) >= 5,
                   seen=lambda: callsigns("small"))
        self.assertEqual(callsigns("big"), [f"JH1N{n:03d}" for n in range(51)])
        self.assertEqual(callsigns("small"), [f"JS1S{n:03d}" for n in range(4, 9)])
        for r, dropped in ((run, 0), (small, 1)):
            wait_until("back said", lambda: r.line("back"), seen=lambda: r.lines)
            self.assertEqual([line.count("gone") for line in r.lines].count(1), 1, r.lines)
            self.assertEqual(sum("dropping the oldest" in line for line in r.lines), dropped, r.lines)

    def test_unreachable_and_refused_are_said_once_and_the_radio_goes_on(self):
        broker = self.broker(users={"club": "secret"})
        nobody = free_port()
        password = os.path.join(self.folder, "password")
        with open(password, "w") as f:
            f.write("secret\n")
        radios = [self.radio, PtyRadio(), PtyRadio()]
        for radio in radios[1:]:
            self.addCleanup(radio.close)
        os.environ["RIGPLOT_MQTT_PASSWORD"] = "wrong"
        try:
            # A hub first and alone, until the broker has refused it three times.
            hub = self.start("--no-radio", "--web", "off", "--mqtt", broker.url("club"), "--subscribe",
                             "rigplot/+/report", radio=NoPort)

            def refusals():
                with open(os.path.join(broker.folder, "mosquitto.log"), "rb") as f:
                    return f.read().count(b"not authorised")
            wait_until("three refusals", lambda: refusals() >= 3, seen=refusals)
            runs = [self.start("--web", "off", "--mqtt", f"mqtt://127.0.0.1:{nobody}", radio=radios[0]),
                    self.start("--web", "off", "--mqtt", broker.url("club"), radio=radios[1]),
                    self.start("--web", "off", "--mqtt", broker.url("club"), "--receiver", "ok",
                               "--mqtt-password-file", password, radio=radios[2])]

        finally:
            del os.environ["RIGPLOT_MQTT_PASSWORD"]
        said = ["unreachable", "refused the login", "connected"]
        for run, what in zip(runs, said):
            wait_until(what, lambda: run.line(what), seen=lambda: run.lines)
        # Several reconnects later, each still said once, and every report mapped.
        for n in range(1, 21):
            for radio in radios:
                radio.send(report(f"JA1R{n:03d}"))
        self.assertEqual(sum("refused the login" in line for line in hub.lines), 1, hub.lines)
        self.assertEqual(hub.stop(), 0)
        for run, what in zip(runs, said):
            wait_until("the map script", lambda: "JA1R020" in run.map_script())
            self.assertEqual(sum(what in line for line in run.lines), 1, run.lines)
            self.assertEqual(run.stop(), 0)
        self.assertIn("JA1R020", retained(broker, "rigplot/ok/station/+", ("-u", "club", "-P", "secret")).get("rigplot/ok/station/JA1R020", ""))

    def test_tls_with_the_given_authority_and_not_with_another(self):
        broker = self.broker(tls=True)
        other = make_certificates(tempfile.mkdtemp(dir=self.folder))
        url = f"mqtts://localhost:{broker.port}"
        good = self.start("--web", "off", "--mqtt", url, "--mqtt-ca", broker.ca, "--receiver", "tls")
        bad_radio = PtyRadio()
        self.addCleanup(bad_radio.close)
        bad = self.start("--web", "off", "--mqtt", url, "--mqtt-ca", other, "--receiver", "nottls",
                         radio=bad_radio)
        wait_until("the TLS broker connected", lambda: good.line("connected"), seen=lambda: good.lines)
        wait_until("the wrong authority said", lambda: bad.line("MQTT broker"), seen=lambda: bad.lines)
        self.radio.send(report("JA1TLS"))
        bad_radio.send(report("JA1BAD"))
        wait_until("both mapped", lambda: "JA1TLS" in good.map_script() and "JA1BAD" in bad.map_script())
        login = ("--cafile", broker.ca)
        wait_until("the report over TLS, not the other",
                   lambda: list(retained(broker, "rigplot/+/station/+", login, "localhost"))
                   == ["rigplot/tls/station/JA1TLS"],
                   seen=lambda: retained(broker, "rigplot/+/station/+", login, "localhost"))
        self.assertNotIn("connected", bad.line("MQTT broker"))

    def test_hub_merges_two_receivers_and_counts_hostile_payloads(self):
        broker = self.broker()
        second = PtyRadio()
        self.addCleanup(second.close)
        # hill2 also subscribes: its page shows hill1's stations beside its own.
        hills = [self.start("--web", "off", "--mqtt", broker.url(), "--receiver", "hill1"),
                 self.start("--web", "127.0.0.1:0", "--mqtt", broker.url(), "--receiver", "hill2",
                            "--subscribe", "rigplot/+/report", radio=second)]
        for hill in hills:
            wait_until("connected", lambda: hill.line("connected"), seen=lambda: hill.lines)
        geojson = os.path.join(self.folder, "hub.geojson")
        kml, log = os.path.join(self.folder, "hub.kml"), os.path.join(self.folder, "log")
        history = os.path.join(self.folder, "hub.sqlite")
        hub = self.start("--no-radio", "--web", "127.0.0.1:0", "--mqtt", broker.url(), "--subscribe",
                         "rigplot/+/report", "--geojson", geojson, "--kml", kml, "--log", log,
                         "--history", history, radio=NoPort)
        wait_until("the hub connected", lambda: hub.line("connected"), seen=lambda: hub.lines)
        page = EventStream(hub.url)

        def merged(path=geojson):
            try:
                with open(path, encoding="utf-8") as f:
                    return {s["properties"]["callsign"]: s for s in json.load(f)["features"]}
            except (FileNotFoundError, ValueError):
                return {}
        self.radio.send(report("JA1ABC A", lat=35.5, lon=139.25))
        self.radio.send(report("JA1ONE"))
        wait_until("hill1's two", lambda: len(merged()) == 2, seen=merged)
        # The same fix time: the later arrival, hill2's, wins.
        second.send(report("JA1ABC A", lat=35.75, lon=139.5))
        second.send(report("JA2TWO", lat=-33.75, lon=-70.5))
        wait_until("hill2's two merged", lambda: len(merged()) == 3
                   and merged()["JA1ABC A"]["properties"]["receiver"] == "hill2", seen=merged)
        stations = merged()
        self.assertEqual({c: [r["receiver"] for r in s["properties"]["receivers"]] for c, s in stations.items()},
                         {"JA1ABC A": ["hill1", "hill2"], "JA1ONE": ["hill1"], "JA2TWO": ["hill2"]})
        self.assertEqual(stations["JA1ABC A"]["geometry"]["coordinates"], [139.5, 35.75])
        self.assertTrue(all(r["heard"] for r in stations["JA1ABC A"]["properties"]["receivers"]))
        # The page and the KML show the same merged table.
        wait_until("the page's event", lambda: page.events and len(page.events[-1]["features"]) == 3,
                   seen=lambda: page.events)
        self.assertEqual(json.loads(http(hub.url + "stations.geojson")[2]), {
            "type": "FeatureCollection", "features": list(stations.values())})
        with open(kml, encoding="utf-8") as f:
            self.assertEqual(f.read().count("Heard by:<br/>hill1 20"), 2)
        hill2 = hills[1].url.rstrip(",") + "stations.geojson"  # the start line goes on after the page
        wait_until("hill2's page", lambda: json.loads(http(hill2)[2])["features"] == list(stations.values()),
                   seen=lambda: http(hill2)[2])
        self.assertNotIn("JA1ONE", hills[1].map_script())  # the map script stays the radio's
        # In a browser: the list and the popup name the receivers.
        web_test.BrowserTest.setUpClass()
        self.addCleanup(web_test.BrowserTest.tearDownClass)
        browser = web_test.BrowserTest.browser
        browser.get(hub.url)
        def listed():
            return browser.execute_script("return [...document.querySelectorAll('#rows tr')].map(r => "
                                          "[r.cells[0].firstChild.textContent, r.querySelector('.receivers').textContent]);")
        wait_until("the list with receivers", lambda: sorted(listed()) == [
            ["JA1ABC A", "hill1, hill2"], ["JA1ONE", "hill1"], ["JA2TWO", "hill2"]], seen=listed)
        browser.execute_script("[...document.querySelectorAll('#rows tr')].find(r => "
                               "r.cells[0].firstChild.textContent === 'JA1ABC A').click();")
        def popup():
            return "".join(e.text for e in browser.find_elements("css selector", ".leaflet-popup-content"))
        wait_until("the popup's receivers", lambda: "受信局 hill1" in popup() and "受信局 hill2" in popup(),
                   seen=popup)

        # Hostile payloads are dropped by kind, each kind said once; the hub goes on.
        def variant(**changes):
            f = json.loads(json.dumps(stations["JA1ONE"]))
            for key, value in changes.items():
                if key == "coordinates":
                    f["geometry"]["coordinates"] = value
                else:
                    f["properties"][key] = value
            return json.dumps(f)
        big = os.path.join(self.folder, "big")
        with open(big, "w") as f:
            f.write("x" * (1 << 20))
        hostile = [("-m", "not json"), ("-m", "not json either"), ("-f", big), ("-m", "[1,2]"),
                   ("-m", variant(message="x" * 5000)), ("-m", variant(callsign=5)),
                   ("-m", variant(receiver='"><script>')), ("-m", variant(received_at='1"}')),
                   ("-m", variant(coordinates=[139.0, 1e308])), ("-m", variant(coordinates=["a", 1]))]
        for flag, payload in hostile:
            subprocess.run(["mosquitto_pub", "-h", "127.0.0.1", "-p", str(broker.port), "-q", "1",
                            "-t", "rigplot/evil/report", flag, payload], check=True, timeout=30)
        self.radio.send(report("JA3AFT"))
        wait_until("a report after them", lambda: "JA3AFT" in merged(), seen=merged)
        self.assertEqual(len(merged()), 4)
        dropped = json.loads(http(hub.url + "status.json")[2])["payloads_dropped"]
        self.assertEqual(dropped, {"oversized": 2, "not_json": 2, "not_feature": 2, "bad_coordinates": 2,
                                   "wrong_type": 2})
        (day,) = os.listdir(log)
        with open(os.path.join(log, day), encoding="utf-8") as f:
            csv = f.read()
        self.assertEqual([line.split(",")[1] for line in csv.splitlines()[1:]],
                         ["JA1ABC A", "JA1ONE", "JA1ABC A", "JA2TWO", "JA3AFT"])
        # The history holds every report merged, with its receiver, and the page's tracks name both.
        def tracks():
            return {f["properties"]["callsign"]: f["properties"]["receivers"]
                    for f in json.loads(http(hub.url + "tracks.geojson")[2])["features"]}
        wait_until("the tracks", lambda: len(tracks()) == 4, seen=tracks)
        self.assertEqual(tracks()["JA1ABC A"], ["hill1", "hill2"])
        self.assertEqual(hub.stop(), 0)
        # The file alone, without the log the page's connection kept, holds them all.
        alone = shutil.copy(history, os.path.join(self.folder, "alone.sqlite"))
        with sqlite3.connect(f"file:{alone}?mode=ro", uri=True) as db:
            rows = db.execute("SELECT callsign, receiver, received FROM report ORDER BY id").fetchall()
        self.assertEqual([row[:2] for row in rows], [("JA1ABC A", "hill1"), ("JA1ONE", "hill1"),
                         ("JA1ABC A", "hill2"), ("JA2TWO", "hill2"), ("JA3AFT", "hill1")])
        # At the time the receiver heard it.
        self.assertEqual({row[1]: row[2] for row in rows if row[0] == "JA1ABC A"},
                         {r["receiver"]: datetime.fromisoformat(r["heard"]).timestamp()
                          for r in stations["JA1ABC A"]["properties"]["receivers"]})
        self.assertEqual(sum("dropping MQTT payloads" in line for line in hub.lines), 5, hub.lines)
        self.assertIn("dropped 2 oversized, 2 not_json, 2 not_feature, 2 bad_coordinates, 2 wrong_type",
                      hub.line("stopped after 5 reports merged"))

        # A hub needs a filter.
        for options in (["--no-radio", "--mqtt", broker.url()], ["--no-radio", "--subscribe", "x"]):
            usage = subprocess.run([os.path.join(BIN, "rigplotd"), *options],
                                   capture_output=True, timeout=30)
            self.assertEqual(usage.returncode, 2, usage.stderr)
        # A file that is no history file stops a hub as it stops a radio, untouched.
        foreign = os.path.join(self.folder, "foreign.sqlite")
        with open(foreign, "wb") as f:
            f.write(b"x" * 4096)
        refused = subprocess.run([os.path.join(BIN, "rigplotd"), "--no-radio", "--web", "off", "--mqtt",
                                  broker.url(), "--subscribe", "x", "--history", foreign],
                                 capture_output=True, timeout=30)
        self.assertEqual(refused.returncode, 1, refused.stderr)
        self.assertTrue(refused.stderr.startswith(b"The history file cannot be used"), refused.stderr)
        with open(foreign, "rb") as f:
            self.assertEqual(f.read(), b"x" * 4096)

        # A full disk, played by a file size limit the hub inherits (writes past it fail, with
        # SIGXFSZ ignored): said once, and the hub merges on.
        said, full_geojson = os.path.join(self.folder, "full.txt"), os.path.join(self.folder, "full.geojson")
        limit = resource.getrlimit(resource.RLIMIT_FSIZE)
        ignored = signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (64 * 1024, limit[1]))
        try:
            with open(said, "wb") as err:
                full = subprocess.Popen([os.path.join(BIN, "rigplotd"), "--no-radio", "--web", "off", "--mqtt",
                                         broker.url(), "--subscribe", "rigplot/+/report", "--geojson",
                                         full_geojson, "--history", os.path.join(self.folder, "full.sqlite")],
                                        stderr=err, restore_signals=False)
        finally:
            resource.setrlimit(resource.RLIMIT_FSIZE, limit)
            signal.signal(signal.SIGXFSZ, ignored)
        self.addCleanup(lambda: full.poll() is None and (full.kill(), full.wait()))

        def lines():
            with open(said, encoding="utf-8") as f:
                return f.read().splitlines()
        wait_until("the full hub connected", lambda: "connected" in "".join(lines()), seen=lines)
        # One commit per report: the write-ahead log outgrows the limit within a few.
        for n in range(1, 201):
            self.radio.send(report(f"JF1F{n:03d}"))
            time.sleep(0.05)
            if "cannot be written" in "".join(lines()):
                break
        wait_until("the full disk said", lambda: "cannot be written" in "".join(lines()), seen=lines)
        self.radio.send(report("JF1LAST"))
        wait_until("a report after it merged", lambda: "JF1LAST" in merged(full_geojson),
                   seen=lambda: merged(full_geojson))
        full.send_signal(signal.SIGTERM)
        self.assertEqual(full.wait(timeout=30), 0, lines())
        self.assertEqual(sum("cannot be written" in line for line in lines()), 1, lines())
        self.assertIn("stopped after", lines()[-1])


if __name__ == "__main__":
    unittest.main()
