#!/usr/bin/env python3
"""Times one track-list request against a running Tallowcrest server.

Connects (retrying while the server is still busy with the previous client),
then measures from sending "00" to the arrival of the last byte of the reply.
The reply has no length: it counts as complete when the bytes after "START"
are "END" or end with CR LF "END" and nothing more arrives for 100 ms; the
quiet time is not part of the measured time. The reply goes into one buffer
allocated and touched before the clock starts, as a native client's would:
a fresh object per recv() costs Python tens of milliseconds of page faults
on a 14 MB reply, which would be timed as if the server spent them.

usage: list_probe.py --port P [--paths FILE]
prints: SECONDS BYTES PATHS
"""
import argparse
import os
import socket
import sys
import time

QUIET_SECONDS = 0.1
BUFFER_BYTES = 32 << 20  # grown when a reply is longer
PAGE_BYTES = 4096

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tests/support"))
from real_server import connect  # noqa: E402


def looks_complete(reply: bytearray, size: int) -> bool:
    if not reply.startswith(b"START"):
        return False
    return size == len(b"STARTEND") and reply[5:8] == b"END" or size > 8 and reply[size - 5:size] == b"\r\nEND"


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--paths", help="write the received paths here, one per line")
    parser.add_argument("--timeout", type=float, default=300, help="longest wait for the next bytes")
    args = parser.parse_args()

    sock = connect(args.port, args.timeout)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    reply = bytearray(BUFFER_BYTES)
    reply[::PAGE_BYTES] = b"\1" * len(range(0, BUFFER_BYTES, PAGE_BYTES))
    size = 0
    sock.settimeout(args.timeout)
    sent = time.perf_counter()
    sock.sendall(b"00")
    last_byte = sent
    while True:
        if size == len(reply):
            reply.extend(bytearray(len(reply)))
        try:
            got = sock.recv_into(memoryview(reply)[size:], 1 << 20)
        except socket.timeout:
            if looks_complete(reply, size):
                break
            raise SystemExit(f"list_probe: no bytes for {args.timeout} s after {size} bytes")
        if not got:
            if looks_complete(reply, size):
                break
            raise SystemExit(f"list_probe: connection closed after {size} bytes")
        size += got
        last_byte = time.perf_counter()
        sock.settimeout(QUIET_SECONDS if looks_complete(reply, size) else args.timeout)
    sock.close()

    body = bytes(reply[len(b"START"):size - len(b"END")])
    paths = body.split(b"\r\n")[:-1] if body else []
    if args.paths:
        with open(args.paths, "wb") as out:
            out.write(b"".join(path + b"\n" for path in paths))
    print(f"{last_byte - sent:.6f} {size} {len(paths)}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
