#!/usr/bin/env python3
"""Opens tracks back to back over the protocol, as one client, and times each
answer: "01"+path until "CODE_11" (or "CODE_12" for a failure). Every 7th,
11th and 13th open is followed by a play, a pause and a stop, each sent
once the server has read what came before (requests have no framing but
their reads: two blocks read at once would be one request). Notifications
of a track's end ("CODE_12" while nothing is asked) are skipped.

Prints, after OPENS opens: the count answered, unanswered (no answer within
--timeout s), the 99th percentile and longest answer in ms, and the server's
VmRSS in kB after the first --early opens (once the last has loaded) and
at the end.

usage: stress_client.py --port P --pid PID --opens N TRACK...
"""
import argparse
import os
import socket
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tests/support"))
from real_server import connect, tcp  # noqa: E402


def rss_kb(pid: int) -> int:
    with open(f"/proc/{pid}/status") as status:
        for line in status:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0


def unread_bytes(server_port: int, client_port: int) -> int:
    """What the server's end of the connection holds that the server has not read yet."""
    return sum(unread for local, remote, _, unread in tcp() if (local, remote) == (server_port, client_port))


def wait_until_read(server_port: int, client_port: int) -> None:
    deadline = time.monotonic() + 10
    while unread_bytes(server_port, client_port) and time.monotonic() < deadline:
        time.sleep(0.005)


def main() -> int:
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--pid", type=int, required=True)
    parser.add_argument("--opens", type=int, default=10000)
    parser.add_argument("--early", type=int, default=300)
    parser.add_argument("--timeout", type=float, default=10)
    parser.add_argument("tracks", nargs="+")
    args = parser.parse_args()

    sock = connect(args.port, 10)
    sock.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    client_port = sock.getsockname()[1]
    times, unanswered, pending = [], 0, b""
    early_rss = 0
    for i in range(1, args.opens + 1):
        track = args.tracks[i % len(args.tracks)].encode()
        sent = time.perf_counter()
        sock.sendall(b"01" + track)
        answered = False
        deadline = sent + args.timeout
        while not answered and time.perf_counter() < deadline:
            sock.settimeout(max(deadline - time.perf_counter(), 0.001))
            try:
                chunk = sock.recv(65536)
            except socket.timeout:
                break
            if not chunk:
                print(f"stress_client: the server closed the connection after {i - 1} opens", file=sys.stderr)
                return 1
            pending += chunk
            if b"CODE_11" in pending:
                answered = True
                pending = b""
        if answered:
            times.append((time.perf_counter() - sent) * 1000)
        else:
            unanswered += 1
        for every, request in ((7, b"02"), (11, b"04"), (13, b"03")):
            if i % every == 0:
                # No answer comes: the next request waits until the server has
                # read this one, or both would arrive as one block.
                sock.sendall(request)
                time.sleep(0.002)
                wait_until_read(args.port, client_port)
        if i == args.early:
            # Bursts of opens collapse to the last; let that one load fully
            # so the reading holds the whole decoding chain.
            time.sleep(1)
            early_rss = rss_kb(args.pid)
    times.sort()
    p99 = times[int(len(times) * 0.99) - 1] if times else 0
    print(f"answered {len(times)} unanswered {unanswered} p99_ms {p99:.1f} max_ms {times[-1] if times else 0:.1f} "
          f"rss_early_kb {early_rss} rss_end_kb {rss_kb(args.pid)}")
    return 0 if unanswered == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
