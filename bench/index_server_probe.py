#!/usr/bin/env python3
"""The library index at the real server: memory, peak and the main thread's stalls while it reads a library.

usage: index_server_probe.py BUILD ROOT

Three starts of the real server on ROOT, each in a fresh home:
  - "no index": the index's folder in the cache cannot be made (a plain file has its name), so it runs without one;
    it is left up as long as the first index took, for the stall and memory references;
  - "first index": an empty cache; from listening until /api/state says the reading ended;
  - "restart": the same cache again; from listening until the rescan ended.
Prints key=value lines: seconds, stalls (the longest lateness in the stall log, ms), VmRSS 5 s after the reading ended
and VmHWM (KiB), the database's size.
"""
import atexit, os, shutil, sys, tempfile, time

here = os.path.dirname(os.path.abspath(__file__))
sys.path[:0] = [here, os.path.join(here, "..", "tests", "support")]
from real_server import Server, wait  # noqa: E402
from index_wait import ended  # noqa: E402

build, root = sys.argv[1], sys.argv[2]


def status(pid, key):
    return next(int(line.split()[1]) for line in open(f"/proc/{pid}/status") if line.startswith(key + ":"))


def longest_stall(path):  # the stall log's second field, leaving out the first lines of start-up
    lines = open(path).read().split("\n")[3:] if os.path.exists(path) else []
    return max([float(line.split()[1]) for line in lines if len(line.split()) > 1] or [0.0])


# GStreamer's plugin registry is shared by every start and made by one uncounted start first: making it takes memory
# that a start with a registry never takes.
registry = tempfile.mkdtemp()
atexit.register(shutil.rmtree, registry, True)


def start(cache):
    server = Server(build, media=root)
    server.env.update(XDG_CACHE_HOME=cache(server), TALLOWCREST_STALL_LOG=server.home + "/stalls",
                      GST_REGISTRY=registry + "/registry.bin")
    token = server.run("--pairing-url").stdout.strip().rpartition("pair=")[2]
    started = time.monotonic()
    server.start()
    return server, token, started


def index_run(cache, name):
    server, token, _ = start(cache)
    listened = time.monotonic()
    wait("the index's reading to end", lambda: ended(server.web, token), 3600)
    seconds = time.monotonic() - listened
    time.sleep(5)
    print(f"{name}.seconds={seconds:.2f}")
    print(f"{name}.stall_ms={longest_stall(server.home + '/stalls'):.1f}")
    print(f"{name}.rest_kib={status(server.process.pid, 'VmRSS')}")
    print(f"{name}.peak_kib={status(server.process.pid, 'VmHWM')}")
    print(f"{name}.anon_kib={status(server.process.pid, 'RssAnon')}")
    server.stop()
    return seconds


shared = {}
def cache_of(server):  # one cache folder for the first index and the restart
    if "folder" not in shared:
        shared["folder"] = server.home + "-cache"
        atexit.register(shutil.rmtree, shared["folder"], True)
    os.makedirs(shared["folder"], exist_ok=True)
    return shared["folder"]


def blocked(server):  # the index's own folder is a plain file; GStreamer's registry and the rest of the cache work
    os.makedirs(server.home + "/cache")
    open(server.home + "/cache/TallowcrestServer", "w").close()
    return server.home + "/cache"


warm_up, _, _ = start(blocked)
time.sleep(3)
warm_up.stop()
first = index_run(cache_of, "first")
database = os.path.join(shared["folder"], "TallowcrestServer", "library.sqlite")
print(f"database_bytes={sum(os.path.getsize(database + end) for end in ('', '-wal') if os.path.exists(database + end))}")
index_run(cache_of, "restart")

server, _, _ = start(blocked)
time.sleep(first + 5)
print(f"none.seconds={first:.2f}")
print(f"none.stall_ms={longest_stall(server.home + '/stalls'):.1f}")
print(f"none.rest_kib={status(server.process.pid, 'VmRSS')}")
print(f"none.peak_kib={status(server.process.pid, 'VmHWM')}")
print(f"none.anon_kib={status(server.process.pid, 'RssAnon')}")
server.stop()
