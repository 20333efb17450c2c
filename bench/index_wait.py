#!/usr/bin/env python3
"""Waits until the server's library index has ended its reading of the whole list (its /api/state says so).

usage: index_wait.py WEB_PORT TOKEN [SECONDS]   (exit status 1 when SECONDS, 3600 by default, pass first)
"""
import json, socket, sys, time


def indexing(port, token):
    with socket.create_connection(("127.0.0.1", port), timeout=30) as sock:
        sock.sendall(f"GET /api/state HTTP/1.1\r\nAuthorization: Bearer {token}\r\nConnection: close\r\n\r\n".encode())
        reply = b""
        while chunk := sock.recv(65536):
            reply += chunk
    return json.loads(reply.partition(b"\r\n\r\n")[2])["indexing"]


def ended(port, token):
    state = indexing(port, token)
    return not state["running"] and state["total"] > 0 and state["done"] == state["total"]


if __name__ == "__main__":
    port, token, seconds = int(sys.argv[1]), sys.argv[2], float(sys.argv[3]) if len(sys.argv) > 3 else 3600
    deadline = time.monotonic() + seconds
    while not ended(port, token):
        if time.monotonic() > deadline:
            sys.exit(1)
        time.sleep(0.1)
