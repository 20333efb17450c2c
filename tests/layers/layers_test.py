#!/usr/bin/env python3
"""Fails on any include that reaches from a layer up into one above it.

usage: layers_test.py BUILD_DIR SOURCE_DIR
Every folder under src/ is a layer; a file may include its own layer and
those ranked below it. mpris/ and web/ are hands at the machine beside the
shell: they sit on server, and only the shell's start-up reaches them.
"""
import pathlib
import re
import sys

RANK = {"library": 0, "playback": 1, "remote": 2, "server": 3, "mpris": 4, "web": 4, "shell": 5}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([a-z_]+)/')


def main():
    src = pathlib.Path(sys.argv[2]) / "src"
    faults = []
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in RANK:
            faults.append(f"{path}: folder {layer!r} is no known layer")
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or match.group(1) == layer:
                continue
            target = match.group(1)
            if RANK.get(target, 99) >= RANK[layer]:
                faults.append(f"{path}:{number}: {layer} includes {target}, a layer not below it")
    print("\n".join(faults) or "every include goes down")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
