#!/usr/bin/env python3
"""Times a Tallowcrest server's start-up from outside the process.

Watches the given files and folders first, prints "ready", then reads the
server's pid and the moment it was started ("PID EPOCH_SECONDS") from stdin.
Waits until the server's TCP port is listening and prints, counted from that
moment, when each watched path was first opened and when the port was first
seen listening (polled every 2 ms in /proc/net/tcp and tcp6, without
connecting, so no client is made). Opens are seen through inotify, which costs
the server nothing; a path never opened prints "-".

usage: start_probe.py --port PORT [--watch PATH]... [--timeout S]
prints: ready, then SECONDS_TO_FIRST_OPEN_OF_EACH_PATH... LISTEN_SECONDS
"""
import argparse
import ctypes
import os
import struct
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tests/support"))
from real_server import listening, running  # noqa: E402

IN_OPEN = 0x00000020
IN_NONBLOCK = 0o4000
POLL_SECONDS = 0.002


class OpenWatch:
    """First opens of a few paths, each a file or a folder itself."""

    def __init__(self, paths):
        # Not ctypes.util.find_library: it runs ldconfig, slow enough on a
        # busy machine to miss the first opens.
        libc = ctypes.CDLL("libc.so.6", use_errno=True)
        self.fd = libc.inotify_init1(IN_NONBLOCK)
        if self.fd < 0:
            raise SystemExit(f"start_probe: no inotify: {os.strerror(ctypes.get_errno())}")
        self.paths = {}
        for path in paths:
            wd = libc.inotify_add_watch(self.fd, os.fsencode(path), IN_OPEN)
            if wd < 0:
                raise SystemExit(f"start_probe: cannot watch {path}: {os.strerror(ctypes.get_errno())}")
            self.paths[wd] = path
        self.opened = {}

    def note(self, when: float) -> None:
        """Records `when` for each path whose first open is pending."""
        try:
            data = os.read(self.fd, 1 << 16)
        except BlockingIOError:
            return
        offset = 0
        while offset + 16 <= len(data):
            wd, mask, _, name_length = struct.unpack_from("iIII", data, offset)
            # name_length 0: the watched path itself, not an entry in a folder.
            if mask & IN_OPEN and name_length == 0:
                self.opened.setdefault(self.paths[wd], when)
            offset += 16 + name_length


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--watch", action="append", default=[])
    parser.add_argument("--timeout", type=float, default=300)
    args = parser.parse_args()

    watch = OpenWatch(args.watch)
    print("ready", flush=True)
    try:
        pid, since = sys.stdin.readline().split()
        pid, since = int(pid), float(since)
    except ValueError:
        raise SystemExit("start_probe: expected PID EPOCH_SECONDS on stdin")
    deadline = time.monotonic() + args.timeout
    while True:
        now = time.time()
        watch.note(now)
        if listening(args.port):
            break
        if not running(pid):
            raise SystemExit("start_probe: the server exited during start-up")
        if time.monotonic() > deadline:
            raise SystemExit(f"start_probe: not listening after {args.timeout} s")
        time.sleep(POLL_SECONDS)
    # Opens in the last interval are only read now; none is later than the listen.
    watch.note(now)
    times = [watch.opened.get(path) for path in args.watch] + [now]
    print(" ".join("-" if t is None else f"{t - since:.4f}" for t in times))
    return 0


if __name__ == "__main__":
    sys.exit(main())
