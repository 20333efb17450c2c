"""The real tallowcrest-server for the scripted tests and the benchmarks, and what talks to it."""
import atexit, glob, os, random, shutil, signal, socket, subprocess, sys, tempfile, time

def tcp():  # (local port, remote port, state, bytes unread) of each TCP socket
    for f in (line.split() for table in glob.glob("/proc/net/tcp*") for line in open(table).readlines()[1:]):
        yield int(f[1][-4:], 16), int(f[2][-4:], 16), f[3], int(f[4].split(":")[1], 16)
listening = lambda port: any(local == port and state == "0A" for local, _, state, _ in tcp())
def running(pid):  # a zombie counts as gone
    try: return open(f"/proc/{pid}/stat").read().rsplit(")", 1)[1].split()[0] not in "ZX"
    except (OSError, IndexError): return False
def wait(what, done, seconds=120):  # polls done() until it gives something true, and gives that
    deadline = time.monotonic() + seconds
    while not (got := done()):
        time.sleep(0.02) if time.monotonic() < deadline else sys.exit(f"waited in vain for {what}")
    return got
def connect(port, seconds=120):  # retried while refused: the server listens for one client at a time
    def attempt():
        try: return socket.create_connection(("127.0.0.1", port), timeout=seconds)
        except ConnectionRefusedError: return None
    return wait(f"a connection to port {port}", attempt, seconds)
class Server:  # in a home of its own, offscreen, no display, no session bus unless given; atexit stops it, home goes
    process = None
    def __init__(self, build, media=None, web=None, bus=None):  # media: a folder in its home; web: a free port
        self.home, self.program = tempfile.mkdtemp(), f"{build}/tallowcrest-server"
        self.port = next(p for p in random.sample(range(10000, 32000, 2), 50) if not listening(p) | listening(p + 1))
        self.media, self.web, config = media or self.home + "/Music", self.port + 1 if web is None else web, self.home
        [os.makedirs(folder, exist_ok=True) for folder in (self.media, config + "/TallowcrestServer")]
        open(f"{config}/TallowcrestServer/TallowcrestServer.conf", "w").write(
            f'[Settings]\nDir="{self.media}"\nPort={self.port}\nWebPort={self.web}\n')
        self.env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SESSION_MANAGER")}
        self.env.update(HOME=self.home, XDG_CONFIG_HOME=config, XDG_RUNTIME_DIR=self.home, XDG_DATA_HOME=self.home,
                        XDG_CACHE_HOME=self.home, QT_QPA_PLATFORM="offscreen", DBUS_SESSION_BUS_ADDRESS=bus or "")
        atexit.register(lambda: (self.stop(), shutil.rmtree(self.home, ignore_errors=True)))
    def run(self, *args): return subprocess.run([self.program, *args], env=self.env, capture_output=True, text=True)
    def said(self): return open(f"{self.home}/stderr", errors="replace").read()
    def start(self):  # returns once both ports listen
        self.process = subprocess.Popen([self.program], env=self.env, stdout=subprocess.DEVNULL, start_new_session=True,
                                        stderr=open(f"{self.home}/stderr", "w"))
        wait("the server listening", lambda: (self.process.poll() is None or sys.exit(f"the server ended: {self.said()}"))
             and listening(self.port) and (not self.web or listening(self.web)))
        return self
    def stop(self):  # TERM, and KILL if it has not ended 3 s later
        if self.process and self.process.poll() is None:
            os.killpg(self.process.pid, signal.SIGTERM)
            try: self.process.wait(3)
            except subprocess.TimeoutExpired: os.killpg(self.process.pid, signal.SIGKILL), self.process.wait()
class Client:  # a raw protocol client; what it heard and no hear() took yet waits for the next
    def __init__(self, port): self.socket, self.heard = connect(port), b""
    def send(self, data): self.socket.sendall(data)
    def hear(self, expected):  # what came before expected, once it came
        while expected not in self.heard:
            self.heard += self.socket.recv(1 << 20) or sys.exit(f"the server closed the connection before {expected}")
        before, _, self.heard = self.heard.partition(expected)
        return before
faults, checks = [], []
def check(what, got, want):  # got: a value, or a function asked again until it gives want (for 30 s at most)
    probe, deadline = checks.append(what) or got, time.monotonic() + 30
    while callable(probe) and (got := probe()) != want and time.monotonic() < deadline: time.sleep(0.05)
    got == want or faults.append(f"FAIL {what}: got {got!r}, want {want!r}")
def report(name):
    print(*faults, f"{name}: {len(checks) - len(faults)} passed, {len(faults)} failed", sep="\n")
    sys.exit(bool(faults))
