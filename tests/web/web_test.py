"""usage: web_test.py BUILD_DIR SOURCE_DIR. The phone remote in headless Chromium at a phone's size, against the real
server on 150,011 rows with a raw TCP client connected."""
import atexit, os, re, shutil, subprocess, sys
if sys.executable != "/usr/bin/python3":  # Debian's has the Selenium bindings; another may come first on PATH
    os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)) + "/../support")
from real_server import Client, Server, check, report
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
DEEP, media = 150_000, (server := Server(sys.argv[1])).media
for n in range(150_010):
    os.makedirs(f"{media}/Artist {n // 1000:03d}", exist_ok=n % 1000 != 0)
    open(f"{media}/Artist {n // 1000:03d}/Song {n:06d}.mp3", "wb").close()
subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", f"{media}/Morning Tide.mp3", "synth", "60", "sine", "440"])
printed = re.fullmatch(rf"http://[0-9.]+:{server.web}/\?pair=([0-9a-f]{{32}})\n", server.run("--pairing-url").stdout)
check("--pairing-url prints the link with a token", bool(printed), True)
(client := Client(server.start().port)).send(b"00")
rows = client.hear(b"\r\nEND")[len(b"START"):].split(b"\r\n")
title = lambda n: os.path.basename(rows[n])[:-4].decode()
row = lambda n: [n, title(n), os.path.relpath(os.path.dirname(rows[n]).decode(), media)]  # untagged: the folder
shutil.copy(f"{media}/Morning Tide.mp3", os.fsdecode(rows[DEEP]))  # the deep row plays; the list stays
(options := webdriver.ChromeOptions()).arguments.extend(["--headless", "--no-sandbox", "--disable-gpu"])
atexit.register((driver := webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)).quit)
driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                       {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True})
script, text = driver.execute_script, lambda id: driver.find_element(By.ID, id).text
driver.get(f"{(base := f'http://127.0.0.1:{server.web}/')}?pair={printed and printed.group(1)}")
check("the pairing link leads to the page, at a phone's size", (driver.current_url, "Scan the code" in
      driver.page_source, script("return [innerWidth, innerHeight]")), (base, False, [390, 844]))
shown = lambda: script("return [...document.querySelectorAll('.row')].map(r => [Number(r.dataset.index), "
                       "r.children[0].textContent, r.children[1].textContent]).sort((a, b) => a[0] - b[0])")
client.send(b"01" + os.fsencode(f"{media}/Morning Tide.mp3"))
check("a track opened over TCP shows with its length; the first row shows",
      lambda: [text("title"), text("total"), *shown()[:1]], ["Morning Tide", "1:00", row(0)])
script(f"document.getElementById('list').scrollTop = {DEEP} * 56")
check(f"row {DEEP} shows, and only rows near it exist", lambda: row(DEEP) in shown() and len(shown()) < 40, True)
driver.find_element(By.CSS_SELECTOR, '[aria-label="Search"]').send_keys(title(DEEP).lower())
check("the search finds the row", shown, [row(DEEP)])
driver.find_element(By.CSS_SELECTOR, ".row").click()
client.hear(b"CODE_11" + title(DEEP).encode())
check("a tapped row plays", lambda: (text("title"), text("state")), (title(DEEP), "Playing"))
for label, heard, state in (("Pause", "", "Paused"), ("Play", "", "Playing"), ("Stop", "", "Stopped"),
                            ("Play", "", "Playing"), ("Next", "CODE_11" + title(DEEP + 1), None),
                            ("Previous", "CODE_11" + title(DEEP), "Playing"), ("Shuffle", "CODE_13True", None)):
    driver.find_element(By.CSS_SELECTOR, f'[aria-label="{label}"]').click()
    heard and client.hear(heard.encode())
    state and check(f"{label} shows {state}", lambda: text("state"), state)
script("const v = document.querySelector('[aria-label=Volume]'); v.value = 0.25; v.dispatchEvent(new Event('input'))")
check("the volume slider sets the server's volume", lambda: round(script("return state.volume"), 2), 0.25)
server.stop()
check("a lost connection shows", lambda: "Reconnecting" in text("banner"), True)
server.start()
check("and goes once the server is back", lambda: driver.find_element(By.ID, "banner").is_displayed(), False)
report("web_test")
