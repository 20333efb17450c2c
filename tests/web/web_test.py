#!/usr/bin/env python3
"""usage: web_test.py BUILD_DIR SOURCE_DIR. The phone remote in headless Chromium at a phone's size, against the
real server on 150,011 rows with a raw TCP client connected; PHONE_SCREENSHOT=FILE saves a picture of the page."""
import atexit, json, os, random, re, shutil, socket, subprocess, sys, tempfile, time, urllib.request

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

work = tempfile.mkdtemp()
media, home = f"{work}/Music", f"{work}/home"
for n in range(ROWS):
    os.makedirs(f"{media}/Artist {n // 1000:03d}", exist_ok=n % 1000 != 0)
    open(f"{media}/Artist {n // 1000:03d}/Song {n:06d}.mp3", "wb").close()
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
wrong = f"{int(token, 16) ^ 1:032x}"
api = lambda path: json.load(urllib.request.urlopen(urllib.request.Request(
    f"http://127.0.0.1:{web}/api/{path}", headers={"Authorization": f"Bearer {token}"}), timeout=10))
(client := socket.create_connection(("127.0.0.1", port), timeout=20)).sendall(b"00")
rows = hear(client, b"\r\nEND")[len(b"START"):].split(b"\r\n")
title = lambda row: os.path.basename(rows[row])[:-4].decode(errors="replace")
shutil.copy(f"{media}/Morning Tide.mp3", os.fsdecode(rows[DEEP]))  # the deep row plays; the list stays

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
