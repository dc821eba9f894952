#!/usr/bin/env python3
"""Holds two `trovex export --format jsonl` outputs of one Wine prefix against
each other: that of trovex.exe through Wine's own wininet, and that of the
Linux build reading the prefix's index.dat files. Record for record and in
order, every field must be equal, but for the differences named in KNOWN.
Paths are compared from the user's Windows folder down, with '/' for '\\'.

    export_diff.py WINDOWS_JSONL LINUX_JSONL     exit 0 when alike, else 1
"""
import json
import re
import sys

# Fields that the two sides fill otherwise by design, with the reason.
KNOWN = {
    # wininet does not say which container an entry came from: trovex.exe
    # takes the folder two levels above the local file, and an entry without
    # one has none. The Linux build knows the index.dat it read.
    "container": "wininet names no container",
}

BELOW_WINDOWS = re.compile(r"^.*[\\/]AppData[\\/]Local[\\/]Microsoft[\\/]Windows[\\/]")


def comparable_path(path):
    return BELOW_WINDOWS.sub("", path).replace("\\", "/") if path else path


def records(path):
    with open(path, encoding="utf-8") as lines:
        for number, line in enumerate(lines, 1):
            if not line.strip():
                continue
            record = json.loads(line)
            record["local_file"] = comparable_path(record.get("local_file"))
            yield number, record


def container_agrees(windows, linux):
    """The container trovex.exe derives, where it can derive one, is the
    Linux build's."""
    if not windows["container"]:
        return windows["local_file"] is None or windows["local_file"] == ""
    return comparable_path(windows["container"]) == comparable_path(linux["container"])


def main():
    windows = list(records(sys.argv[1]))
    linux = list(records(sys.argv[2]))
    problems = []
    if len(windows) != len(linux):
        problems.append(f"trovex.exe exports {len(windows)} records, the Linux build {len(linux)}")
    for (line, w), (_, l) in zip(windows, linux):
        if w.get("url") != l.get("url"):
            problems.append(f"record {line}: url {w.get('url')!r} against {l.get('url')!r}")
            continue
        for field in sorted(set(w) | set(l)):
            if field in KNOWN:
                continue
            if w.get(field) != l.get(field):
                problems.append(f"{w['url']!r}: {field} {w.get(field)!r} against {l.get(field)!r}")
        if not container_agrees(w, l):
            problems.append(f"{w['url']!r}: container {w['container']!r} against {l['container']!r}")
    for problem in problems:
        print("    " + problem)
    if not problems:
        print(f"exported {len(windows)} records alike, field for field")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
