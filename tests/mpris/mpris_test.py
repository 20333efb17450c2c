#!/usr/bin/env python3
"""usage: mpris_test.py BUILD_DIR SOURCE_DIR. playerctl drives the real server on a private bus (the test reruns itself
under dbus-run-session); a raw TCP client hears what a client hears; gdbus monitor records what is announced."""
import atexit, os, re, shutil, socket, subprocess, sys, tempfile, time, urllib.parse

if "MPRIS_TEST_BUS" not in os.environ:
    os.environ["MPRIS_TEST_BUS"] = "1"
    os.execvp("dbus-run-session", ["dbus-run-session", "--", sys.executable, *sys.argv])
BUILD, MPRIS, PATH = sys.argv[1], "org.mpris.MediaPlayer2", "/org/mpris/MediaPlayer2"
NAME, TRACK, PROPS, faults = MPRIS + ".tallowcrest", "/org/tallowcrest/track/", "org.freedesktop.DBus.Properties", []
run = lambda *command: subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=30)
ctl = lambda *args: run("playerctl", "-p", "tallowcrest", *args).stdout.strip().strip("'")
# Not through playerctl, which rewrites a URI before it sends it.
call = lambda method, *args: run("gdbus", "call", "-e", "-d", NAME, "-o", PATH, "-m", method, *args)

def check(what, got, want, seconds=20):  # got: a value, or a function asked until it gives want or the time is up
    probe, deadline = got, time.monotonic() + seconds
    while callable(probe) and (got := probe()) != want and time.monotonic() < deadline:
        time.sleep(0.05)
    if got != want:
        faults.append(f"{what}: got {got!r}, want {want!r}")

def listening(port):
    lines = open("/proc/net/tcp").readlines() + open("/proc/net/tcp6").readlines()
    return any(f[3] == "0A" and f[1].endswith(f":{port:04X}") for f in (line.split() for line in lines))

def hear(expected):  # what came before expected, once it came (the socket's timeout ends the test)
    while expected not in heard[0]:
        heard[0] += client.recv(65536) or sys.exit(f"the server closed the connection before {expected}")
    before, _, heard[0] = heard[0].partition(expected)
    return before

def start_server(work, media, bus):
    """The real server in a fresh home; bus None: no session bus. Returns it, its port and what it says of itself."""
    home = tempfile.mkdtemp(dir=work)
    with socket.create_server(("127.0.0.1", 0)) as a, socket.create_server(("127.0.0.1", 0)) as b:
        port, web = a.getsockname()[1], b.getsockname()[1]
    os.makedirs(conf := f"{home}/config/TallowcrestServer")
    open(f"{conf}/TallowcrestServer.conf", "w").write(f'[Settings]\nDir="{media}"\nPort={port}\nWebPort={web}\n')
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
    env.update(HOME=home, XDG_CONFIG_HOME=f"{home}/config", XDG_RUNTIME_DIR=home, QT_QPA_PLATFORM="offscreen",
               **({"DBUS_SESSION_BUS_ADDRESS": bus} if bus else {}))
    servers.append(server := subprocess.Popen([f"{BUILD}/tallowcrest-server"], env=env, stdout=subprocess.DEVNULL,
                                              stderr=open(f"{home}/stderr", "w")))
    check(f"server on bus {bus} listens", lambda: listening(port), True, 60)
    return server, port, lambda: [line for line in open(f"{home}/stderr") if line.startswith("tallowcrest.mpris:")]

work = tempfile.mkdtemp()
media, bus = tempfile.mkdtemp(dir=work), os.environ["DBUS_SESSION_BUS_ADDRESS"]
for name in (b"alpha.mp3", b"bravo.mp3", b"caf\xe9.mp3"):
    run("sox", "-n", "-r", "44100", "-c", "2", os.fsencode(media) + b"/" + name, "synth", "60", "sine", "440")
servers, watchers, heard = [], [], [b""]
server, port, _ = start_server(work, media, bus)
atexit.register(lambda: ([each.kill() for each in servers + watchers], shutil.rmtree(work, ignore_errors=True)))
for command in (["gdbus", "monitor", "--session", "--dest", NAME], ["playerctl", "-p", "tallowcrest", "-F", "status"]):
    watchers.append(subprocess.Popen(["stdbuf", "-oL", *command], stdout=open(f"{work}/{command[0]}", "w")))
check("watching", lambda: "owned by" in open(f"{work}/gdbus").read() and open(f"{work}/playerctl").read(), "Stopped\n")
props = call(PROPS + ".GetAll", MPRIS).stdout + call(PROPS + ".GetAll", MPRIS + ".Player").stdout
for pair in ([f"'Can{name}': <true>" for name in "Quit Raise GoNext GoPrevious Play Pause Seek Control".split()]
             + [f"'{name}Rate': <1.0>" for name in ("", "Minimum", "Maximum")] + ["'LoopStatus': <'Playlist'>",
             "'Identity': <'Tallowcrest Server'>", "'DesktopEntry': <'tallowcrest-server'>", "'HasTrackList': <false>",
             "'SupportedUriSchemes': <['file']>", "'SupportedMimeTypes': <['audio/mpeg']>"]):
    check(pair, pair in props, True)
check("LoopStatus is read-only", call(PROPS + ".Set", MPRIS + ".Player", "LoopStatus", "<'None'>").returncode, 1)
(client := socket.create_connection(("127.0.0.1", port), timeout=20)).sendall(b"00")
rows = hear(b"\r\nEND")[len(b"START"):].split(b"\r\n")
title = lambda row: os.path.basename(rows[row])[:-4].decode(errors="replace")
url = lambda row: "file://" + urllib.parse.quote(rows[row], safe="/")
odd = next(row for row in range(3) if b"\xe9" in rows[row])  # the name that is no UTF-8
# Actions in the tables: playerctl's arguments, a method called with gdbus, or what the client sends.
act = lambda a: client.sendall(a) if isinstance(a, bytes) else call(*a) if isinstance(a, tuple) else ctl(*a.split())
# A file opened by its URI is none of the rows; next and previous go round the list from no selection.
for action, row, track in ((f"open {url(odd)}", odd, "unlisted"), ("next", 0, 0), ("next", 1, 1), ("next", 2, 2),
                           ("next", 0, 0), ("previous", 2, 2), ("previous", 1, 1)):
    act(action)
    hear(b"CODE_11" + os.path.basename(rows[row])[:-4])
    for key, want in (("title", title(row)), ("xesam:url", url(row)), ("mpris:trackid", f"{TRACK}{track}")):
        check(f"{action} {key}", lambda: ctl("metadata", key), want)
for uri in ("http://localhost/a.mp3", "file:///nowhere.mp3", "file://elsewhere" + url(0)[7:], "file:alpha.mp3",
            url(0) + "%00"):
    check(f"OpenUri {uri} refused", "InvalidArgs" in call(MPRIS + ".Player.OpenUri", uri).stderr, True)
check("refusals change nothing", ctl("metadata", "xesam:url"), url(1))
check("length", lambda: abs(int(ctl("metadata", "mpris:length") or 0) - 60e6) < 1e5, True)
# Each step: an action, what it reads, its value. Positions in tens of seconds: SetPosition for a track not playing
# is ignored. Volumes: the player's level as a gain; the client's "louder" moves on from the level MPRIS set.
status, volume, shuffle = [lambda what=what: ctl(what) for what in ("status", "volume", "shuffle")]
at = lambda: round(float(ctl("position") or -10) / 10)
gain = lambda level: f"{10 ** (level / 2000) if level > -10000 else 0:.6f}"
steps = (("play-pause", status, "Paused"), ("play-pause", status, "Playing"), ("pause", status, "Paused"),
         ("play", status, "Playing"), ("stop", status, "Stopped"), ("play-pause", status, "Playing"),
         ("position 30", at, 3), ("position 10+", at, 4), ("position 100-", at, 0),
         ((MPRIS + ".Player.SetPosition", TRACK + "0", "20000000"), at, 0), ("volume 0.5", volume, gain(-602)),
         (b"05", volume, gain(-502)), ((PROPS + ".Set", MPRIS + ".Player", "Volume", "<-0.3>"), volume, gain(-10000)),
         (b"05", volume, gain(-9900)), ("volume 2", volume, gain(0)), ("shuffle On", shuffle, "On"),
         ("shuffle Off", shuffle, "Off"), (b"07True", shuffle, "On"), (b"07False", shuffle, "Off"))
for action, probe, want in steps:
    act(action)
    check(f"{action}: {want}", probe, want)
[hear(notice) for notice in (b"CODE_13True", b"CODE_13False")]  # what the client heard of MPRIS's shuffles
# With no client the end of a track plays the next row, and the metadata follows.
client.close()
check("listens again", lambda: listening(port), True)
ctl("position", "58")
check("after the end", lambda: (ctl("metadata", "mpris:trackid"), ctl("metadata", "title")), (f"{TRACK}2", title(2)))
time.sleep(0.5)
follow, signals = open(f"{work}/playerctl").read().split(), open(f"{work}/gdbus").read()
tracks = re.findall(r"'mpris:trackid': <objectpath '/org/tallowcrest/track/(\w+)'>", signals)
distinct = lambda seen: [s for i, s in enumerate(seen) if i == 0 or seen[i - 1] != s]
for what, got, want in (
        ("follow", distinct(follow), ["Stopped", "Playing"] + [want for _, probe, want in steps if probe is status]),
        ("tracks", distinct(tracks), ["unlisted", "0", "1", "2", "0", "2", "1", "2"]),
        ("volumes", [f"{float(v):.6f}" for v in re.findall(r"'Volume': <([\d.e-]+)>", signals)],
         [want for _, probe, want in steps if probe is volume]),
        ("shuffles", re.findall(r"'Shuffle': <(\w+)>", signals), ["true", "false"] * 2),
        ("jumps in 10 s", [int(us) // 10**7 for us in re.findall(r"Seeked \(int64 (\d+)", signals)], [3, 4, 0, 5])):
    check(f"announced {what}", got, want)
# A second server on the bus takes a name of its own; without a bus a server still serves, and says so once.
for address, lines in ((bus, 0), (None, 1), ("unix:path=/nonexistent", 1)):
    other, _, other_said = start_server(work, media, address)
    instance = f"tallowcrest.instance{other.pid}"
    check(f"{address} named", lambda: instance in run("playerctl", "-l").stdout.split(), address == bus, 5)
    check(f"{address} says", lambda: len(other_said()), lines, 5)
call(MPRIS + ".Quit")
check("Quit ends the server", lambda: server.poll() is not None, True)
sys.exit("\n".join(faults) or print("playerctl drives and reads the server"))
