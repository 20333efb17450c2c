#!/usr/bin/env python3
"""usage: web_test.py BUILD_DIR SOURCE_DIR. The phone remote in headless Chromium at a phone's size, against the
real server on 150,012 rows with a raw TCP client connected; PHONE_SCREENSHOT=FILE saves a picture of the page."""
import atexit, contextlib, json, os, random, re, shutil, socket, subprocess, sys, tempfile, time, urllib.parse

if sys.executable != "/usr/bin/python3":  # Debian's has the Selenium bindings; another may come first on PATH
    os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By

BUILD, ROWS, DEEP = sys.argv[1], 150_010, 150_000
faults, heard = [], [b""]  # heard: what the TCP client heard and no check took yet

def check(what, got, want, seconds=20):
    """got: the value, or a function asked again until it gives want or the time is up."""
    probe, deadline = got, time.monotonic() + seconds
    while callable(probe) and (got := probe()) != want and time.monotonic() < deadline:
        time.sleep(0.05)
    if got != want:
        faults.append(f"{what}: got {got!r}, want {want!r}")

def listening(port):
    lines = open("/proc/net/tcp").readlines() + open("/proc/net/tcp6").readlines()
    return any(f[3] == "0A" and f[1].endswith(f":{port:04X}") for f in (line.split() for line in lines))

def hear(client, expected):  # what the client heard before expected; waits for it (the socket's timeout ends the test)
    while expected not in heard[0]:
        heard[0] += client.recv(1 << 20) or sys.exit(f"the server closed the connection before {expected}")
    before, _, heard[0] = heard[0].partition(expected)
    return before

def http(port, head, body=b""):  # status and body: the server closes the connection after them, or upgrades it
    reply = b""
    with contextlib.suppress(ConnectionResetError), socket.create_connection(("127.0.0.1", port), timeout=10) as sock:
        sock.sendall(head.encode() + b"\r\n\r\n" + body)  # a reset: refused, no place left
        while not re.match(rb"HTTP/1.1 101 .*\r\n\r\n.*}", reply, re.S) and (chunk := sock.recv(65536)):
            reply += chunk
    head, _, content = reply.partition(b"\r\n\r\n")
    return int(head.split()[1]) if reply else None, content

work = tempfile.mkdtemp()
media, home = f"{work}/Music", f"{work}/home"
for n in range(ROWS):
    os.makedirs(f"{media}/Artist {n // 1000:03d}", exist_ok=n % 1000 != 0)
    open(f"{media}/Artist {n // 1000:03d}/Song {n:06d}.mp3", "wb").close()
open(os.fsencode(media) + b"/Caf\xe9.mp3", "wb").close()
subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", f"{media}/Morning Tide.mp3", "synth", "60", "sine", "440"])
port, web = [port for port in random.sample(range(10000, 32000), 20) if not listening(port)][:2]
os.makedirs(conf := f"{home}/config/TallowcrestServer")
open(f"{conf}/TallowcrestServer.conf", "w").write(f'[Settings]\nDir="{media}"\nPort={port}\nWebPort={web}\n')
env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WAYLAND_DISPLAY", "DBUS_SESSION_BUS_ADDRESS")}
env.update(HOME=home, XDG_CONFIG_HOME=f"{home}/config", XDG_RUNTIME_DIR=work, QT_QPA_PLATFORM="offscreen")
start = lambda: subprocess.Popen([f"{BUILD}/tallowcrest-server"], env=env, stderr=subprocess.DEVNULL)
printed = subprocess.run([f"{BUILD}/tallowcrest-server", "--pairing-url"], env=env, capture_output=True, text=True)
match = re.fullmatch(rf"http://[0-9.]+:{web}/\?pair=([0-9a-f]{{32}})\n", printed.stdout)
check("--pairing-url", bool(match), True)
token, server, driver = match.group(1) if match else "0" * 32, start(), None
atexit.register(lambda: (driver and driver.quit(), server.kill(), shutil.rmtree(work, ignore_errors=True)))
check("listening", lambda: listening(port) and listening(web) or server.poll(), True, 60)
bearer, wrong = f"Authorization: Bearer {token}", f"{int(token, 16) ^ 1:032x}"
api = lambda path: json.loads(http(web, f"GET /api/{path} HTTP/1.1\r\n{bearer}")[1])
old_version = api("tracks?limit=1")["version"]
(client := socket.create_connection(("127.0.0.1", port), timeout=20)).sendall(b"00")
rows = hear(client, b"\r\nEND")[len(b"START"):].split(b"\r\n")
title = lambda row: os.path.basename(rows[row])[:-4].decode(errors="replace")
shutil.copy(f"{media}/Morning Tide.mp3", os.fsdecode(rows[DEEP]))  # the deep row plays; the list stays
version = api("tracks?limit=1")["version"]
# API edge cases. Each row: the request, its status, a word of the one-line answer.
post = lambda path, body: (f"POST /api/{path} HTTP/1.1\r\n{bearer}\r\nContent-Length: {len(body)}", body)
play = lambda index, version: post("play", json.dumps({"index": index, "version": version}).encode())
upgrade = ("GET /api/events HTTP/1.1\r\nHost: x\r\nUpgrade: websocket\r\nConnection: Upgrade\r\n"
           "Sec-WebSocket-Version: 13\r\nSec-WebSocket-Key: dGhlIHNhbXBsZSBub25jZQ==")
for head, body, status, word in (
        ("GET /api/state HTTP/1.1", b"", 403, "Scan the code again"),
        (f"GET /api/state HTTP/1.1\r\nAuthorization: Bearer {wrong}", b"", 403, "Scan the code again"),
        (f"{upgrade}\r\nCookie: tallowcrest={wrong}", b"", 403, "Scan the code again"),
        (f"{upgrade}\r\n{bearer}\r\nOrigin: http://elsewhere", b"", 403, "Scan the code again"),
        (f"{upgrade}\r\nCookie: a=b; tallowcrest={token}", b"", 101, '"state":"stopped"'),
        (*post("play", b'{"index": 1,'), 400, "not JSON"),
        (*play(0, old_version), 409, "changed"),
        (*play(len(rows), version), 400, "no row"),
        (*post("control", b'{"action": "dance"}'), 400, "unknown action"),
        (*post("volume", b'{"volume": 1.01}'), 400, "from 0 to 1"),
        (*post("shuffle", b'{"shuffle": "yes"}'), 400, "true or false"),
        (*post("volume", b'{"volume": 0.5}'.ljust(65536)), 200, '"volume":0.5'),
        (f"POST /api/volume HTTP/1.1\r\n{bearer}\r\nContent-Length: 65537", b"", 413, "64 KiB"),
        (f"GET /api/tracks?limit=501 HTTP/1.1\r\n{bearer}", b"", 400, "limit")):
    got, content = http(web, head, body)
    reason = json.loads(content)["error"] if content.startswith(b'{"error') else content.decode(errors="replace")
    check(head.splitlines()[0], (got, word in reason and "\n" not in reason.strip()), (status, True))
check("refusals play nothing", [api("state")[key] for key in ("title", "state")], ["", "stopped"])
cafe = rows.index(os.fsencode(media) + b"/Caf\xe9.mp3")
check("search", [(found := api("tracks?q=CAF"))["total"], found["rows"][0]["index"], found["rows"][0]["uri"]],
      [1, cafe, "file://" + urllib.parse.quote(rows[cafe], safe="/")])
# At most 32 connections: the 33rd is closed at once, and a place frees when one goes.
held = [socket.create_connection(("127.0.0.1", web), timeout=5) for _ in range(33)]
check("33rd refused", held.pop().recv(1), b"")
held.pop().close()
check("a place frees", lambda: http(web, f"GET /api/state HTTP/1.1\r\n{bearer}")[0], 200)
[sock.close() for sock in held]

options = webdriver.ChromeOptions()
[options.add_argument(argument) for argument in ("--headless", "--no-sandbox", "--disable-gpu")]
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                       {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True})
base = f"http://127.0.0.1:{web}"
for url in (base + "/", f"{base}/?pair={wrong}", f"{base}/?pair={token}"):
    driver.get(url)
    check(f"{url} refused", "Scan the code again" in driver.page_source, not url.endswith(token))
check("pairing leads to", (driver.current_url, driver.execute_script("return [innerWidth, innerHeight]")),
      (base + "/", [390, 844]))
cookie = driver.get_cookie("tallowcrest") or {}
check("cookie", (cookie.get("value"), cookie.get("httpOnly"), cookie.get("sameSite")), (token, True, "Strict"))
script, text = driver.execute_script, lambda id: driver.find_element(By.ID, id).text
shown = lambda: script("return [...document.querySelectorAll('.row')].map(r => [Number(r.dataset.index), "
                       "r.children[0].textContent, r.children[1].textContent]).sort((a, b) => a[0] - b[0])")
row = lambda n: [n, title(n), os.path.dirname(rows[n]).decode()]
client.sendall(b"01" + os.fsencode(f"{media}/Morning Tide.mp3"))
check("a track changed over TCP shows", lambda: [text("title"), text("total"), *shown()[:1]],
      ["Morning Tide", "1:00", row(0)])
os.environ.get("PHONE_SCREENSHOT") and driver.save_screenshot(os.environ["PHONE_SCREENSHOT"])
script(f"document.getElementById('list').scrollTop = {DEEP} * 56")
check(f"row {DEEP} shows, and only rows near it exist", lambda: row(DEEP) in shown() and len(shown()) < 40, True)
driver.find_element(By.CSS_SELECTOR, '[aria-label="Search"]').send_keys(title(DEEP).lower())
check("search finds", shown, [row(DEEP)])
driver.find_element(By.CSS_SELECTOR, ".row").click()
hear(client, b"CODE_11" + title(DEEP).encode())  # the tap
check("tap: shown", lambda: (text("title"), text("state")), (title(DEEP), "Playing"))
for name, notice, state in (("Pause", None, "Paused"), ("Play", None, "Playing"), ("Stop", None, "Stopped"),
                           ("Play", None, "Playing"), ("Next", "CODE_11" + title(DEEP + 1), None),
                           ("Previous", "CODE_11" + title(DEEP), "Playing"), ("Shuffle", "CODE_13True", None)):
    driver.find_element(By.CSS_SELECTOR, f'[aria-label="{name}"]').click()
    notice and hear(client, notice.encode())
    state and check(f"{name}: shown", lambda: text("state"), state)
script("const v = document.querySelector('[aria-label=Volume]'); v.value = 0.25; v.dispatchEvent(new Event('input'))")
check("volume", lambda: round(api("state")["volume"], 2), 0.25)
# The connection drops: the page says so, and comes back with the server.
server.kill()
check("drop shown", lambda: "Reconnecting" in text("banner"), True)
server = start()
check("back", lambda: driver.find_element(By.ID, "banner").is_displayed(), False, 60)
sys.exit("\n".join(faults) or print("the phone remote works in a browser"))
