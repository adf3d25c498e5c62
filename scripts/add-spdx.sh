#!/usr/bin/env bash
# SPDX-License-Identifier: MIT
# Puts "SPDX-License-Identifier: MIT" at the head of every source file of the
# project that opens with a header comment and lacks the line: C and C++, shell
# and Python (after the #! line), CMake, NSIS, the page's own script and style.
# Captured data, settings files and files from others are left alone. Safe to
# run again: a file that has the line is not touched.
#
# Usage: scripts/add-spdx.sh [FILE...]   (no FILE: every file git tracks)
set -euo pipefail
cd "$(dirname "$0")/.."
if (($#)); then
  printf '%s\n' "$@"
else
  git ls-files
fi | python3 -c '
import os, re, sys

TAG = "SPDX-License-Identifier: MIT"
# Folder prefixes never touched: captured streams and expected outputs.
SKIP = ("tests/data/", "fuzz/corpus", "docs/", ".ci/")

def comment_for(path, lines):
    name = os.path.basename(path)
    ext = os.path.splitext(name)[1]
    first = lines[0] if lines else ""
    if ext in (".cpp", ".h", ".c", ".cc", ".js") and first.startswith("//"):
        return "// " + TAG + "\n", 0
    if ext == ".css" and first.startswith("/*"):
        return "/* " + TAG + " */\n", 0
    if ext in (".cmake", ".nsi") or name == "CMakeLists.txt":
        mark = ";" if ext == ".nsi" else "#"
        if ext == ".nsi" and first.startswith("Target "):
            return mark + " " + TAG + "\n", 1
        return (mark + " " + TAG + "\n", 0) if first.startswith(mark) else (None, 0)
    if first.startswith("#!"):
        return "# " + TAG + "\n", 1
    if ext == ".py" and (first.startswith("\"\"\"") or first.startswith("#")):
        return "# " + TAG + "\n", 0
    return None, 0

changed = 0
for path in (line.strip() for line in sys.stdin):
    if not path or path.startswith(SKIP) or not os.path.isfile(path) or os.path.islink(path):
        continue
    try:
        with open(path, encoding="utf-8") as f:
            lines = f.readlines()
    except UnicodeDecodeError:
        continue
    if any(TAG in line for line in lines[:5]):
        continue
    line, at = comment_for(path, lines)
    if line is None:
        continue
    lines.insert(at, line)
    mode = os.stat(path).st_mode
    with open(path, "w", encoding="utf-8") as f:
        f.writelines(lines)
    os.chmod(path, mode)
    changed += 1
    print(path)
print(f"{changed} files given the SPDX line", file=sys.stderr)
'
