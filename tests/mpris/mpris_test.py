"""usage: mpris_test.py BUILD_DIR SOURCE_DIR. playerctl drives the real server on a private bus (the test reruns itself
under dbus-run-session); a raw TCP client hears what a client hears; gdbus monitor records what is announced."""
import atexit, os, re, struct, subprocess, sys, urllib.parse, zlib
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)) + "/../support")
from real_server import Client, Server, check, listening, report, wait
"MPRIS_TEST_BUS" in os.environ or os.execvpe(  # Debian's Python, which has mutagen
    "dbus-run-session", ["dbus-run-session", "--", "/usr/bin/python3", *sys.argv], dict(os.environ, MPRIS_TEST_BUS="1"))
MPRIS, PATH, TRACK = "org.mpris.MediaPlayer2", "/org/mpris/MediaPlayer2", "/org/tallowcrest/track/"
NAME, PROPS, bus = MPRIS + ".tallowcrest", "org.freedesktop.DBus.Properties", os.environ["DBUS_SESSION_BUS_ADDRESS"]
server = Server(sys.argv[1], bus=bus)
run = lambda *command: subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=30)
ctl = lambda *args: run("playerctl", "-p", "tallowcrest", *args).stdout.strip().strip("'")
call = lambda method, *args: run("gdbus", "call", "-e", "-d", NAME, "-o", PATH, "-m", method, *args)  # URIs as they are
for name in (b"alpha.mp3", b"bravo.mp3", b"caf\xe9.mp3"):
    run("sox", "-n", "-r", "44100", "-c", "2", os.fsencode(server.media) + b"/" + name, "synth", "60", "sine", "440")
server.start()
atexit.register(subprocess.Popen(["stdbuf", "-oL", "gdbus", "monitor", "-e", "-d", NAME],
                                 stdout=open(f"{server.home}/bus", "w")).kill)
signals = lambda pattern: re.findall(pattern, open(f"{server.home}/bus").read())
last = lambda key: ([None] + signals(rf"'{key}': <(?:objectpath )?'?([^'>]*)"))[-1]  # as last announced
wait("gdbus monitor", lambda: signals("owned by"))
props = call(PROPS + ".GetAll", MPRIS).stdout + call(PROPS + ".GetAll", MPRIS + ".Player").stdout
for pair in ([f"'Can{name}': <true>" for name in "Quit Raise GoNext GoPrevious Play Pause Seek Control".split()]
             + [f"'{name}Rate': <1.0>" for name in ("", "Minimum", "Maximum")] + ["'LoopStatus': <'Playlist'>",
             "'Identity': <'Tallowcrest Server'>", "'DesktopEntry': <'tallowcrest-server'>", "'HasTrackList': <false>",
             "'SupportedUriSchemes': <['file']>", "'SupportedMimeTypes': <['audio/mpeg']>",
             "'PlaybackStatus': <'Stopped'>", "'Shuffle': <false>", "'Volume': <0.50118"]):
    check(pair, pair in props, True)
check("LoopStatus is read-only", call(PROPS + ".Set", MPRIS + ".Player", "LoopStatus", "<'None'>").returncode, 1)
(client := Client(server.port)).send(b"00")
rows = client.hear(b"\r\nEND")[len(b"START"):].split(b"\r\n")
title = lambda row: os.path.basename(rows[row])[:-4].decode(errors="replace")
url = lambda row: "file://" + urllib.parse.quote(rows[row], safe="/")
odd = next(row for row in range(3) if b"\xe9" in rows[row])  # the name that is no UTF-8
# Actions in the tables: playerctl's arguments, a method called with gdbus, or what the client sends.
act = lambda a: client.send(a) if isinstance(a, bytes) else call(*a) if isinstance(a, tuple) else ctl(*a.split())
# Metadata and the track announced: a file opened by its URI is none of the rows; next and previous wrap from none.
meta = lambda: [ctl("metadata", key) for key in ("title", "xesam:url", "mpris:trackid")] + [last("mpris:trackid")]
track = lambda row, id=None: [title(row), url(row)] + [TRACK + str(row if id is None else id)] * 2
for action, want in ((f"open {url(odd)}", track(odd, "unlisted")), ("next", track(0)), ("next", track(1)),
                     ("next", track(2)), ("next", track(0)), ("previous", track(2)), ("previous", track(1))):
    act(action)
    check(f"{action}: metadata", meta, want)
for uri in ("http://localhost/a.mp3", "file:///nowhere.mp3", "file://elsewhere" + url(0)[7:], "file:alpha.mp3",
            url(0) + "%00"):
    check(f"OpenUri {uri} refused", "InvalidArgs" in call(MPRIS + ".Player.OpenUri", uri).stderr, True)
check("refusals change nothing", ctl("metadata", "xesam:url"), url(1))
check("length", lambda: abs(int(ctl("metadata", "mpris:length") or 0) - 60e6) < 1e5, True)
# Each step: an action, what it reads, its value: as announced, or the position in tens of seconds (SetPosition for
# a track not playing is ignored). Volumes: the player's level as a gain, clamped to 0..1; a client's change shows.
status, shuffle, volume = lambda: last("PlaybackStatus"), lambda: last("Shuffle"), lambda: (volumes() or [0])[-1]
volumes = lambda: [f"{float(v):.6f}" for v in signals(r"'Volume': <([\d.e-]+)>")]  # as announced, in turn
at = lambda: round(float(ctl("position") or -10) / 10)
gain = lambda level: f"{10 ** (level / 2000) if level > -10000 else 0:.6f}"
for action, probe, want in (
        ("play-pause", status, "Paused"), ("play-pause", status, "Playing"), ("pause", status, "Paused"),
        ("play", status, "Playing"), ("stop", status, "Stopped"), ("play-pause", status, "Playing"),
        ("position 30", at, 3), ("position 10+", at, 4), ("position 100-", at, 0),
        ((MPRIS + ".Player.SetPosition", TRACK + "0", "20000000"), at, 0), ("volume 0.5", volume, gain(-602)),
        ((PROPS + ".Set", MPRIS + ".Player", "Volume", "<-0.3>"), volume, gain(-10000)), (b"05", volume, gain(-9900)),
        ("volume 2", volume, gain(0)), ("shuffle On", shuffle, "true"), ("shuffle Off", shuffle, "false"),
        (b"07True", shuffle, "true"), (b"07False", shuffle, "false")):
    act(action)
    check(f"{action}: {want}", probe, want)
[client.hear(notice) for notice in (b"CODE_13True", b"CODE_13False")]  # what the client heard of MPRIS's shuffles
# With no client the end of a track plays the next row, and the metadata follows.
client.socket.close()
wait("the server listening again", lambda: listening(server.port))
ctl("position", "58")
check("after the end", lambda: (last("mpris:trackid"), ctl("metadata", "title")), (f"{TRACK}2", title(2)))
# New tags on the playing (paused) track, read at a list refresh: announced, and each field as the bus gives it.
import mutagen.id3 as id3  # Debian's python3-mutagen
chunk = lambda kind, data: struct.pack(">I", len(data)) + kind + data + struct.pack(">I", zlib.crc32(kind + data))
png = b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", 8, 8, 8, 2, 0, 0, 0)) + chunk(
    b"IDAT", zlib.compress((b"\0" + b"\xc2V\x1b" * 8) * 8)) + chunk(b"IEND", b"")
want = {"TIT2 title": "Tagged Title", "TPE1 artist": "Antonín Dvořák", "TPE2 albumArtist": "Czech Phil",
        "TALB album": "Symphony No. 9", "TCON genre": "Classical", "TRCK trackNumber": "4", "TPOS discNumber": "2",
        "TDRC contentCreated": "1893"}
(tags := id3.ID3()).add(id3.APIC(encoding=3, mime="image/png", type=3, data=png))
[tags.add(getattr(id3, key[:4])(encoding=3, text=text)) for key, text in want.items()]
ctl("pause"), tags.save(os.fsdecode(rows[2])), (client := Client(server.port)).send(b"00"), client.hear(b"\r\nEND")
check("new tags announced", lambda: last("xesam:title"), "Tagged Title")
check("metadata of the tags", [ctl("metadata", "xesam:" + key[5:]) for key in want],
      [*want.values()][:-1] + ["1893-01-01T00:00:00Z"])
art = urllib.parse.unquote(ctl("metadata", "mpris:artUrl"))
check("the cover's thumbnail", art.startswith(f"file://{server.home}/TallowcrestServer/") and os.path.isfile(art[7:]),
      True)
check("each shuffle announced once", signals(r"'Shuffle': <(\w+)>"), ["true", "false"] * 2)
check("each volume announced once", volumes(), [gain(-602), gain(-10000), gain(-9900), gain(0)])
check("jumps announced, in 10 s", [int(us) // 10**7 for us in signals(r"Seeked \(int64 (\d+)")], [3, 4, 0, 5])
# A second server on the bus takes a name of its own; without a bus a server still serves, and says so once.
for address, says in ((bus, 0), ("", 1), ("unix:path=/nonexistent", 1)):
    other = Server(sys.argv[1], server.media, bus=address).start()
    named = lambda: f"tallowcrest.instance{other.process.pid}" in run("playerctl", "-l").stdout.split()
    check(f"a server on bus {address!r} named", named, address == bus)
    check(f"a server on bus {address!r} says so", lambda: other.said().count("tallowcrest.mpris:"), says)
call(MPRIS + ".Quit")
check("Quit ends the server", lambda: server.process.poll() is not None, True)
report("mpris_test")
