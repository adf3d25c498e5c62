#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Reads the open formats back with independent readers (json, xml.etree,
csv) and checks them against the map script, station by station.

    check_formats.py [EMULATOR] WRITER SESSIONS_DIR

For every captured session and for a stream of hostile reports made here,
WRITER (tests/formats/formats_writer.cpp) runs twice into one scratch
directory, as a program started again would: the GeoJSON and KML describe
the final table like the map script does, and the report log holds every
report of both runs, across local midnight, each day file with one header.
"""
import csv
import datetime
import glob
import html
import io
import json
import os
import re
import subprocess
import sys
import tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from nmea import sentence  # noqa: E402

START = 1796678625  # 2026-12-07 21:23:45 UTC
STEP = 20 * 60
HEADER = ["received_at", "callsign", "repeater", "symbol", "latitude", "longitude",
          "speed_kmh", "course", "utc_date", "utc_time", "message"]
KML = {"k": "http://www.opengis.net/kml/2.2"}
POINT = re.compile(rb'point pos="([^"]*),([^"]*)" oid="(\d+)" gid="([^"]*)" str="([^"]*)" '
                   rb'info="([^"]*)";\r\n')
failures = []


def check(ok, what):
    if not ok:
        failures.append(what)
    return ok


def hostile_stream():
    """Reports whose texts and positions a careless writer would get wrong."""
    def report(lat, ns, lon, ew, callsign, message=b"msg", symbol=b"0", repeater=None,
               speed=b"010.0", course=b"090.0"):
        body = b"GPRMC,012345,A,%s,%s,%s,%s,%s,%s,071226,,,A" % (lat, ns, lon, ew, speed, course)
        out = sentence(body) + b"\r\n"
        if repeater is not None:
            out += repeater + b"\r\n"
        return out + callsign + b"," + symbol + b"," + message + b"\r\n"

    ok = (b"3539.1234", b"N", b"13945.6789", b"E")
    return b"".join([
        report(*ok, b'Q"<&\'\x01\t', message=b'say "hi" <b>&amp;\\'),
        report(*ok, b"\xb1\xb2\xb3\xb4", symbol=b"&>", repeater=b"\x88\xca\x92\x75\x01\x7f"),
        report(*ok, b"JA1\x88", message=b"]]> </description>"),
        report(*ok, b'\x88"X', symbol=b'"<', message=b"\x1b[31m\x7f\x0b\x0c"),
        report(*ok, b"\x85\x40\x85\x80\xfd", speed=b"9" * 32, course=b""),
        report(b"3539.1234", b"S", b"13945.6789", b"W", b"SOUTHW", course=b"007.50"),
        report(b"0000.0000", b"N", b"00000.0000", b"E", b"ZERO"),
        report(b"0000.0000", b"S", b"00000.0000", b"W", b"NEGZERO", course=b"1.2.3"),
        report(b"9000.0000", b"N", b"18000.0000", b"W", b"EDGE"),
        report(b"9000.0001", b"N", b"13945.6789", b"E", b"LAT91"),
        report(b"3539.1234", b"N", b"18000.0001", b"E", b"LON181"),
        report(b"3560.0000", b"N", b"13945.6789", b"E", b"MIN60"),
        report(b"35", b"N", b"13945.6789", b"E", b"CUT1"),
        report(b"3", b"N", b"139", b"E", b"CUT2"),
        report(b"", b"S", b"", b"W", b"EMPTY"),
        report(b"353", b"N", b"13945.6789", b"E", b"CUT3"),
        report(b"3539.", b"N", b"13945.", b"E", b"NODEC"),
        report(*ok, b"=1+2", symbol=b"@A", message=b"=cmd|' /C calc'!A0"),
        report(*ok, b"+CALL", repeater=b"-REP", message=b"\t=1", symbol=b"\x88\xca"),
    ])


def degrees(text, width, limit):
    """Decimal degrees of "35/39.1234" ("-" in front for south or west), or None."""
    m = re.fullmatch(r"(-?)(\d{%d})/(\d\d(?:\.\d*)?)" % width, text)
    if not m or float(m.group(3)) >= 60:
        return None
    value = int(m.group(2)) + float(m.group(3)) / 60
    if value > limit:
        return None
    return -value if m.group(1) else value


def plain(text):
    """A text as the map script's cleaning leaves it (line by line, a field
    ends each), with unreadable characters dropped."""
    lines = []
    for line in text.split("\n"):
        line = "".join(" " if ord(c) < 0x20 or ord(c) == 0x7F else "'" if c == '"' else c
                       for c in line)
        if line.endswith("\\"):
            line = line[:-1] + "/"
        lines.append(re.sub("[\ufffd\x80\uf8f0-\uf8f3]", "", line))
    return "\n".join(lines)


def csv_text(text):
    """A text as the log keeps it: control characters as blanks, and an
    apostrophe in front of what a spreadsheet would run as a formula."""
    safe = "".join(" " if ord(c) < 0x20 or ord(c) == 0x7F else c for c in text)
    return "'" + safe if text[:1] and text[0] in "=+-@\t\r'" else safe


def map_points(path):
    with open(path, "rb") as f:
        data = f.read()
    points = []
    for m in POINT.finditer(data):
        lat, lon, _, gid, callsign, info = (g.decode("cp932", "replace") for g in m.groups())
        lines = info.split("\\n")
        points.append({"lat": lat, "lon": lon, "gid": gid, "callsign": callsign,
                       "received": lines[0].split(":  ", 1)[1][:-3], "speed": lines[2][6:].strip(),
                       "info": "\n".join(lines)})
    check(len(points) == data.count(b"point pos="), "%s: unreadable point lines" % path)
    return points


def check_station(where, point, feature, placemark, row):
    props = feature["properties"]
    check(plain(props["callsign"]) == plain(point["callsign"]), where + ": callsign")
    check(props["gid"] == point["gid"] or plain(props["gid"]) == plain(point["gid"]), where + ": gid")
    lat, lon = degrees(point["lat"], 2, 90), degrees(point["lon"], 3, 180)
    if lat is None or lon is None:
        check(feature["geometry"] is None, where + ": geometry of an unreadable position")
        check(row["latitude"] == row["longitude"] == "", where + ": log position")
    else:
        want = [float("%.6f" % lon), float("%.6f" % lat)]
        check(feature["geometry"] == {"type": "Point", "coordinates": want}, where + ": point")
        check([float(row["longitude"]), float(row["latitude"])] == want, where + ": log position")
    if point["speed"] in ("inf", "nan"):
        check(props["speed_kmh"] is None and row["speed_kmh"] == "", where + ": speed")
    else:
        check("%.2f" % props["speed_kmh"] == point["speed"] == row["speed_kmh"], where + ": speed")
    stamp = datetime.datetime.fromisoformat(props["received_at"])
    check(stamp.strftime("%y/%m/%d %H:%M:%S") == point["received"], where + ": received_at")
    check((stamp.timestamp() - START) % STEP == 0, where + ": received_at's instant")
    check(stamp.utcoffset() == datetime.timedelta(hours=9), where + ": offset of TZ=JST-9")
    # The log's last line for the station is the report the table holds.
    course = None if row["course"] == "" else float(row["course"])
    check(course == props["course"], where + ": log course")
    for name in ("received_at", "callsign", "repeater", "symbol", "utc_date", "utc_time",
                 "message"):
        check(row[name] == csv_text(props[name]), "%s: log %s" % (where, name))
    # KML: the same station, the map script's information text as description.
    check(plain(placemark.findtext("k:name", "", KML)) == plain(props["callsign"]),
          where + ": KML name")
    description = html.unescape(placemark.findtext("k:description", "", KML).replace("<br/>", "\n"))
    check(plain(description) == plain(point["info"]), where + ": KML description")
    style = placemark.findtext("k:styleUrl", None, KML)
    check(style in (None, "#g" + props["gid"]), where + ": KML style")
    coordinates = placemark.findtext("k:Point/k:coordinates", None, KML)
    if feature["geometry"] is None:
        check(coordinates is None, where + ": KML point of an unreadable position")
    else:
        check([float(v) for v in coordinates.split(",")] == feature["geometry"]["coordinates"],
              where + ": KML point")


def check_session(writer, name, stream_path):
    with tempfile.TemporaryDirectory() as out:
        reports = 0
        for _ in range(2):
            run = subprocess.run([*writer, stream_path, out, str(START)], capture_output=True,
                                 text=True, timeout=120)
            if not check(run.returncode == 0, "%s: writer failed: %s" % (name, run.stderr)):
                return
            reports = int(run.stdout)
        points = map_points(os.path.join(out, "0.mps"))
        with open(os.path.join(out, "stations.geojson"), "rb") as f:
            features = json.loads(f.read().decode("utf-8"))["features"]
        placemarks = ET.parse(os.path.join(out, "stations.kml")).getroot().findall(
            ".//k:Placemark", KML)

        rows, last = 0, {}
        days = sorted(glob.glob(os.path.join(out, "log", "rigplot-*.csv")))
        for day in days:
            with open(day, "rb") as f:
                data = f.read()
            check(data.endswith(b"\r\n"), day + ": last line ends in CR LF")
            table = list(csv.reader(io.StringIO(data.decode("utf-8"), newline="")))
            check(table[0] == HEADER and HEADER not in table[1:], day + ": one header, at the top")
            for fields in table[1:]:
                if check(len(fields) == len(HEADER), "%s: fields in %s" % (day, fields)):
                    row = dict(zip(HEADER, fields))
                    check(os.path.basename(day) == "rigplot-%s.csv" % row["received_at"][:10],
                          day + ": line of another day " + row["received_at"])
                    last[row["callsign"]] = row
                    rows += 1
        check(rows == 2 * reports, "%s: %d log lines for %d reports, twice" % (name, rows, reports))
        check(len(days) > 1 or reports * STEP < 86400, name + ": no new file at midnight")

        count = len(points)
        check(len(features) == count and len(placemarks) == count,
              "%s: %d points, %d features, %d placemarks" % (name, count, len(features),
                                                            len(placemarks)))
        for i, (point, feature, placemark) in enumerate(zip(points, features, placemarks)):
            row = last.get(csv_text(feature["properties"]["callsign"]))
            if check(row is not None, "%s station %d: not in the log" % (name, i + 1)):
                check_station("%s station %d" % (name, i + 1), point, feature, placemark, row)
        print("%s: %d reports, %d stations, %d log files" % (name, reports, count, len(days)))


def main():
    # The writer may come behind an emulator (qemu-aarch64 for the arm64 build).
    writer, sessions = sys.argv[1:-1], sys.argv[-1]
    for path in sorted(glob.glob(os.path.join(sessions, "*.nmea"))):
        check_session(writer, os.path.basename(path), path)
    with tempfile.NamedTemporaryFile(suffix=".nmea") as hostile:
        hostile.write(hostile_stream())
        hostile.flush()
        check_session(writer, "hostile", hostile.name)
    for failure in failures[:40]:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
