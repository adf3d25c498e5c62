#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Makes web/page/coast.json, the page's built-in base map, from GSHHG.

Needs Debian's gmt and gmt-gshhg-low (scripts/install-deps.sh gmt gmt-gshhg-low).
GMT dumps the shorelines and borders cut at its 10-degree bins; the pieces are
joined here into closed rings, simplified for zoom 4-10 and written as
integer deltas in thousandths of a degree, so the file stays small:
  {"land": [[x0, y0, dx, dy, ...], ...], "lakes": [...], "borders": [...]}
"""
import json
import os
import subprocess
import sys
import tempfile

SCALE = 1000      # thousandths of a degree, about 100 m
TOLERANCE = 0.01  # degrees off the line allowed: about 1 km, a few pixels at zoom 10
MIN_AREA = "500"  # km2: smaller islands and lakes are left out


def pieces(args):
    """GMT's multisegment dump as (level, [(lon, lat), ...]) pieces."""
    # In a scratch folder: GMT leaves its gmt.history where it runs.
    with tempfile.TemporaryDirectory() as scratch:
        text = subprocess.run(["gmt", "coast", "-Rd", "-Dl", "-M", "-A" + MIN_AREA] + args,
                              check=True, capture_output=True, text=True, cwd=scratch).stdout
    out = []
    for line in text.splitlines():
        if line.startswith(">"):
            level = int(line.rsplit("Level", 1)[1]) if "Level" in line else 1
            out.append((level, []))
        elif line.strip():
            x, y = map(float, line.split()[:2])
            out[-1][1].append((x, y))
    return [p for p in out if len(p[1]) >= 2]


def key(point):
    # 180 and -180 are the same meridian.
    return (round(point[0] % 360, 4), round(point[1], 4))


def join(segments):
    """Chains pieces whose ends meet; returns the joined lines."""
    starts, ends = {}, {}
    for i, (_, s) in enumerate(segments):
        starts.setdefault(key(s[0]), []).append(i)
        ends.setdefault(key(s[-1]), []).append(i)
    used = [False] * len(segments)
    lines = []
    for i, (level, s) in enumerate(segments):
        if used[i]:
            continue
        used[i] = True
        line = list(s)
        while key(line[-1]) != key(line[0]):
            nxt = [j for j in starts.get(key(line[-1]), []) if not used[j]]
            if not nxt:
                break
            used[nxt[0]] = True
            line += segments[nxt[0]][1][1:]
        while key(line[-1]) != key(line[0]):
            prv = [j for j in ends.get(key(line[0]), []) if not used[j]]
            if not prv:
                break
            used[prv[0]] = True
            line = segments[prv[0]][1][:-1] + line
        lines.append((level, line))
    return lines


def unwrap(line):
    """Longitudes made continuous across 180; a ring round the pole is shut along it."""
    out = [line[0]]
    shift = 0.0
    for (x0, _), (x1, y1) in zip(line, line[1:]):
        if x1 - x0 > 180:
            shift -= 360
        elif x0 - x1 > 180:
            shift += 360
        out.append((x1 + shift, y1))
    if abs(out[-1][0] - out[0][0]) > 180:
        out += [(out[-1][0], -90.0), (out[0][0], -90.0), out[0]]
    return out


def simplify(points, tolerance):
    """Douglas-Peucker, without recursion."""
    if len(points) < 3:
        return points
    keep = [False] * len(points)
    keep[0] = keep[-1] = True
    stack = [(0, len(points) - 1)]
    while stack:
        a, b = stack.pop()
        (ax, ay), (bx, by) = points[a], points[b]
        dx, dy = bx - ax, by - ay
        norm = (dx * dx + dy * dy) ** 0.5
        best, index = 0.0, -1
        for i in range(a + 1, b):
            px, py = points[i]
            if norm == 0:
                d = ((px - ax) ** 2 + (py - ay) ** 2) ** 0.5
            else:
                d = abs(dy * (px - ax) - dx * (py - ay)) / norm
            if d > best:
                best, index = d, i
        if best > tolerance:
            keep[index] = True
            stack += [(a, index), (index, b)]
    return [p for p, k in zip(points, keep) if k]


def encode(points):
    out, last = [], (0, 0)
    for x, y in points:
        q = (round(x * SCALE), round(y * SCALE))
        if out and q == last:
            continue
        out += [q[0] - last[0], q[1] - last[1]]
        last = q
    return out


def main():
    target = sys.argv[1] if len(sys.argv) > 1 else os.path.join(
        os.path.dirname(__file__), "..", "web", "page", "coast.json")
    shores = join(pieces(["-W"]))
    result = {"land": [], "lakes": [], "borders": []}
    for level, ring in shores:
        ring = simplify(unwrap(ring), TOLERANCE)
        if len(ring) < 4:
            continue
        # Levels: 1 land, 2 lake, 3 island in a lake, 4 pond in that island.
        result["land" if level % 2 == 1 else "lakes"].append(encode(ring))
    for _, line in join(pieces(["-N1"])):
        line = simplify(unwrap(line), TOLERANCE)
        if len(line) >= 2:
            result["borders"].append(encode(line))
    with open(target, "w", encoding="ascii") as f:
        json.dump(result, f, separators=(",", ":"))
        f.write("\n")


if __name__ == "__main__":
    main()
