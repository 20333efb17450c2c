#!/usr/bin/env python3
"""Fails on any include or link that breaks the layering.

usage: layers_test.py BUILD_DIR SOURCE_DIR
Every folder under src/ is a layer; a file may include its own layer and
those ranked below it, less the pairs in APART. mpris/ and web/ are hands at
the machine beside the shell: they sit on server, reach the player and the
shell never, nor each other, and only the shell's start-up links them, and
privately, so that nothing built on the shell sees them.
"""
import pathlib
import re
import sys

RANK = {"library": 0, "playback": 1, "remote": 2, "server": 3, "mpris": 4, "web": 4, "shell": 5}
# (layer, what it never includes although it ranks lower)
APART = {("remote", "playback"), ("mpris", "playback"), ("web", "playback")}
INCLUDE = re.compile(r'^\s*#\s*include\s*"([a-z_]+)/')
LINK = re.compile(r"target_link_libraries\(\s*tallowcrest_shell\b([^)]*)\)", re.S)


def include_faults(src):
    for path in sorted(src.rglob("*")):
        if path.suffix not in (".h", ".cpp"):
            continue
        layer = path.relative_to(src).parts[0]
        if layer not in RANK:
            yield f"{path}: folder {layer!r} is no known layer"
            continue
        for number, line in enumerate(path.read_text(errors="replace").splitlines(), 1):
            match = INCLUDE.match(line)
            if not match or match.group(1) == layer:
                continue
            target = match.group(1)
            if RANK.get(target, 99) >= RANK[layer] or (layer, target) in APART:
                yield f"{path}:{number}: {layer} includes {target}"


def link_faults(src):
    text = (src / "shell" / "CMakeLists.txt").read_text()
    for hand in ("tallowcrest_mpris", "tallowcrest_web"):
        visibility = None
        for match in LINK.finditer(text):
            for word in match.group(1).split():
                if word in ("PUBLIC", "PRIVATE", "INTERFACE"):
                    visibility = word
                elif word == hand:
                    break
            else:
                continue
            break
        else:
            visibility = "missing"
        if visibility != "PRIVATE":
            yield f"src/shell/CMakeLists.txt: the shell links {hand} {visibility}, not PRIVATE"


def main():
    src = pathlib.Path(sys.argv[2]) / "src"
    faults = list(include_faults(src)) + list(link_faults(src))
    print("\n".join(faults) or "every include goes down and the hands are linked privately")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
