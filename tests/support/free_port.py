#!/usr/bin/env python3
"""Prints a TCP port a server can listen on now.

It is taken from below the range connect() hands out to outgoing sockets: a
port there that a client left in TIME_WAIT cannot be listened on for a minute,
even with SO_REUSEADDR, and a client could take it between this check and the
server's listen.
"""
import random
import socket
import sys

LOWEST = 10000


def can_listen_on(port):
    with socket.socket() as probe:
        probe.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
        try:
            probe.bind(("0.0.0.0", port))
        except OSError:
            return False
        return True


def main():
    with open("/proc/sys/net/ipv4/ip_local_port_range") as ports:
        highest = int(ports.read().split()[0]) - 1
    if highest - LOWEST >= 1000:
        for _ in range(200):
            port = random.randint(LOWEST, highest)
            if can_listen_on(port):
                print(port)
                return 0
    with socket.socket() as probe:
        probe.bind(("0.0.0.0", 0))
        print(probe.getsockname()[1])
    return 0


if __name__ == "__main__":
    sys.exit(main())
