#!/usr/bin/env python3
"""playerctl drives and reads the real server on a private session bus.

usage: mpris_test.py BUILD_DIR SOURCE_DIR
Runs itself again under dbus-run-session, so the bus is the test's own. A raw
TCP client stays connected for most of it and hears what a client hears.
"""
import os, random, select, shutil, socket, subprocess, sys, tempfile, time, urllib.parse

if "MPRIS_TEST_BUS" not in os.environ:
    os.environ["MPRIS_TEST_BUS"] = "1"
    os.execvp("dbus-run-session", ["dbus-run-session", "--", sys.executable, *sys.argv])

BUILD = sys.argv[1]
NAME, PATH = "org.mpris.MediaPlayer2.tallowcrest", "/org/mpris/MediaPlayer2"
faults = []


def check(what, got, want):
    if got != want:
        faults.append(f"{what}: got {got!r}, want {want!r}")


def until(probe, want, seconds=20):
    """What probe() answers once it is want, or at the end of the wait."""
    deadline = time.monotonic() + seconds
    while (got := probe()) != want and time.monotonic() < deadline:
        time.sleep(0.05)
    return got


def run(*command):
    return subprocess.run(command, capture_output=True, text=True, errors="replace", timeout=30)


def ctl(*args):
    return run("playerctl", "-p", "tallowcrest", *args).stdout.strip()


def free_port():
    while True:
        with socket.socket() as probe:
            port = random.randrange(10000, 32000)
            if probe.connect_ex(("127.0.0.1", port)) != 0:
                return port


def listening(port):
    lines = open("/proc/net/tcp").readlines() + open("/proc/net/tcp6").readlines()
    return any(f[3] == "0A" and f[1].endswith(f":{port:04X}") for f in (line.split() for line in lines))


def start_server(work, media, bus):
    """The real server in a fresh home with its own settings; bus None: no session bus."""
    home = tempfile.mkdtemp(dir=work)
    port = free_port()
    os.makedirs(f"{home}/config/TallowcrestServer")
    with open(f"{home}/config/TallowcrestServer/TallowcrestServer.conf", "w") as settings:
        settings.write(f'[Settings]\nDir="{media}"\nPort={port}\nWebPort={free_port()}\n')
    env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
    env.update(HOME=home, XDG_CONFIG_HOME=f"{home}/config", XDG_RUNTIME_DIR=home, QT_QPA_PLATFORM="offscreen",
               **({"DBUS_SESSION_BUS_ADDRESS": bus} if bus else {}))
    server = subprocess.Popen([f"{BUILD}/tallowcrest-server"], env=env, stdout=subprocess.DEVNULL,
                              stderr=open(f"{home}/stderr", "w"))
    check("server listens", until(lambda: listening(port) or server.poll() is not None, True, 60) and listening(port), True)
    return server, port, lambda: [line for line in open(f"{home}/stderr") if "session bus" in line]


class Client:
    def __init__(self, port):
        self.sock, self.heard = socket.create_connection(("127.0.0.1", port), timeout=0.2), b""

    def hear(self, expected):
        """What came before expected, once it has come; None if it did not."""
        deadline = time.monotonic() + 20
        while expected not in self.heard and time.monotonic() < deadline:
            try:
                self.heard += self.sock.recv(65536)
            except socket.timeout:
                pass
        before, found, self.heard = self.heard.partition(expected)
        return before if found else None


def main():
    work = tempfile.mkdtemp()
    media = f"{work}/media"
    os.mkdir(media)
    run("sox", "-n", "-r", "44100", "-c", "2", "-b", "16", f"{work}/tone.wav", "synth", "60", "sine", "440")
    run("lame", "--quiet", "-b", "128", f"{work}/tone.wav", f"{work}/tone.mp3")
    for name in (b"alpha.mp3", b"bravo.mp3", b"caf\xe9.mp3"):
        shutil.copy(f"{work}/tone.mp3", os.fsencode(media) + b"/" + name)
    bus = os.environ["DBUS_SESSION_BUS_ADDRESS"]
    server, port, said = start_server(work, media, bus)
    servers = [server]
    try:
        check("on the bus", until(lambda: "tallowcrest" in run("playerctl", "-l").stdout.split(), True), True)
        props = run("gdbus", "introspect", "--session", "--dest", NAME, "--object-path", PATH, "--only-properties").stdout
        for line in ("s Identity = 'Tallowcrest Server'", "s DesktopEntry = 'tallowcrest-server'", "b CanQuit = true",
                     "b CanRaise = true", "b HasTrackList = false", "as SupportedUriSchemes = ['file']",
                     "as SupportedMimeTypes = ['audio/mpeg']", "s LoopStatus = 'Playlist'", "d Rate = 1.0",
                     "d MinimumRate = 1.0", "d MaximumRate = 1.0", "b CanGoNext = true", "b CanGoPrevious = true",
                     "b CanPlay = true", "b CanPause = true", "b CanSeek = true", "b CanControl = true"):
            check(line, f"readonly {line};" in props, True)
        client = Client(port)
        client.sock.sendall(b"00")
        rows = client.hear(b"\r\nEND")[len(b"START"):].split(b"\r\n")
        title = lambda row: os.path.basename(rows[row])[:-4]
        url = lambda row: "file://" + urllib.parse.quote(rows[row], safe="/")
        follow = subprocess.Popen(["playerctl", "-p", "tallowcrest", "--follow", "status"], stdout=subprocess.PIPE, text=True)
        select.select([follow.stdout], [], [], 20)
        check("follow starts with", follow.stdout.readline().strip(), "Stopped")
        # Opening a file by its URI, then next and previous round the list from no selection.
        for command, row, track in ((("open", url(2)), 2, "unlisted"), (("next",), 0, 0), (("next",), 1, 1),
                                    (("next",), 2, 2), (("next",), 0, 0), (("previous",), 2, 2), (("previous",), 1, 1)):
            ctl(*command)
            check(f"{command} client hears", client.hear(b"CODE_11" + title(row)) is not None, True)
            for key, want in (("title", title(row).decode(errors="replace")), ("xesam:url", url(row)),
                              ("mpris:trackid", f"/org/tallowcrest/track/{track}")):
                check(f"{command} {key}", until(lambda: ctl("metadata", key), want), want)
        for uri in ("http://localhost/a.mp3", "file:///nowhere.mp3", "file://elsewhere" + url(0)[7:], url(0) + "%00"):
            check(f"open {uri} refused", run("playerctl", "-p", "tallowcrest", "open", uri).returncode != 0, True)
        check("refusals change nothing", ctl("metadata", "title"), title(1).decode(errors="replace"))
        length = until(lambda: ctl("metadata", "mpris:length") != "", True) and int(ctl("metadata", "mpris:length"))
        check("length near 60 s", abs(length - 60e6) < 1e6, True)

        statuses = (("play-pause", "Paused"), ("play-pause", "Playing"), ("pause", "Paused"), ("play", "Playing"),
                    ("stop", "Stopped"), ("play-pause", "Playing"))
        for command, want in statuses:
            ctl(command)
            check(f"{command} status", until(lambda: ctl("status"), want), want)
        time.sleep(1)
        follow.terminate()
        seen = [line for line in follow.communicate()[0].split() if line]
        seen = [s for i, s in enumerate(seen) if i == 0 or seen[i - 1] != s]
        check("follow saw", seen, ["Playing"] + [want for _, want in statuses])

        # Each row: what is done, what the client then hears, the player's level after it.
        volumes = ((lambda: ctl("volume", "0.5"), None, -602), (lambda: client.sock.sendall(b"05"), None, -502),
                   (lambda: run("gdbus", "call", "--session", "--dest", NAME, "--object-path", PATH, "--method",
                                 "org.freedesktop.DBus.Properties.Set", "org.mpris.MediaPlayer2.Player", "Volume",
                                 "<-0.3>"), None, -10000),
                   (lambda: client.sock.sendall(b"05"), None, -9900), (lambda: ctl("volume", "2"), None, 0))
        for number, (action, _, level) in enumerate(volumes):
            action()
            want = f"{10 ** (level / 2000) if level > -10000 else 0:.6f}"
            check(f"volume step {number}", until(lambda: ctl("volume"), want), want)
        shuffles = ((lambda: ctl("shuffle", "On"), b"CODE_13True", "On"), (lambda: ctl("shuffle", "Off"), b"CODE_13False", "Off"),
                    (lambda: client.sock.sendall(b"07True"), None, "On"), (lambda: client.sock.sendall(b"07False"), None, "Off"))
        for number, (action, heard, want) in enumerate(shuffles):
            action()
            check(f"shuffle step {number} heard", heard is None or client.hear(heard) is not None, True)
            check(f"shuffle step {number}", until(lambda: ctl("shuffle"), want), want)

        # With no client the end of a track plays the next row, and the metadata follows.
        client.sock.close()
        until(lambda: listening(port), True)
        ctl("position", "58")
        check("after the end", until(lambda: ctl("metadata", "mpris:trackid"), "/org/tallowcrest/track/2"),
              "/org/tallowcrest/track/2")
        check("title after the end", ctl("metadata", "title"), title(2).decode(errors="replace"))

        # A second server on the bus takes a name of its own; without a bus a server still serves, and says so once.
        for address, lines in ((bus, 0), (None, 1), ("unix:path=/nonexistent", 1)):
            other, _, other_said = start_server(work, media, address)
            servers.append(other)
            instance = f"tallowcrest.instance{other.pid}"
            check(f"{address} named", until(lambda: instance in run("playerctl", "-l").stdout.split(), bool(address == bus)),
                  bool(address == bus))
            check(f"{address} says", len(until(lambda: len(other_said()) == lines and other_said(), other_said(), 5)), lines)
        check("with a bus it says nothing", said(), [])
        run("gdbus", "call", "--session", "--dest", NAME, "--object-path", PATH, "--method", "org.mpris.MediaPlayer2.Quit")
        check("Quit ends the server", until(lambda: server.poll() is not None, True), True)
    finally:
        for each in servers:
            each.kill()
        shutil.rmtree(work, ignore_errors=True)
    print("\n".join(faults) or "playerctl drives and reads the server")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
