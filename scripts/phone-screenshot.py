"""usage: phone-screenshot.py BUILD_DIR OUT.png. The picture of the phone remote in the README: headless Chromium at a
phone's size against the real server on a small tagged library (four albums with covers made by ImageMagick: three
embedded, one a cover.jpg beside the tracks), one track playing."""
import json, os, shutil, subprocess, sys, urllib.request
if sys.executable != "/usr/bin/python3":  # Debian's has Selenium and mutagen
    os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)) + "/../tests/support")
from mutagen.id3 import APIC, ID3, TALB, TDRC, TIT2, TPE1, TPE2, TRCK
from real_server import Server, wait
from selenium import webdriver
from selenium.webdriver.chrome.service import Service

ALBUMS = [  # artist, album, year, ImageMagick's drawing of the cover, where the cover goes, titles
    ("Antonín Dvořák", "Symphony No. 9 “From the New World”", 1893,
     ["gradient:#16324f-#e8a33d", "-fill", "#f6efe2", "-draw", "circle 300,330 300,210"], "embedded",
     ["Adagio – Allegro molto", "Largo", "Molto vivace", "Allegro con fuoco"]),
    ("Maren Solvik", "Lanterns Over Tromsø", 2019,
     ["radial-gradient:#7fd1c7-#1b2a41", "-fill", "#ffffff80", "-draw", "rectangle 80,380 520,400"], "embedded",
     ["Northbound", "Kaldt vann", "Polar Night Waltz"]),
    ("The Copper Hollows", "Dust & Daylight", 2021,
     ["gradient:#c2561b-#3b1f12", "-fill", "#f3d9a4", "-draw", "polygon 300,120 520,480 80,480"], "embedded",
     ["Gravel Roads", "Half a Mile From Home", "Sundown Choir"]),
    ("Léa Moreau", "Café des Lumières", 2016,
     ["gradient:#f7d6e0-#6d3b8c", "-fill", "#2b1b3d", "-draw", "roundrectangle 150,150 450,450 40,40"], "folder",
     ["Rue de la Paix", "Minuit à Montmartre"]),
]
PLAYING = (0, 1)  # album, track

build, out = sys.argv[1], os.path.abspath(sys.argv[2])
server = Server(build)
with open(f"{server.home}/TallowcrestServer/TallowcrestServer.conf", "a") as settings:
    settings.write("AudioOutput=fakesink sync=true\n")  # a machine without sound still plays in time
tone = f"{server.home}/tone.mp3"
subprocess.run(["sox", "-n", "-r", "44100", "-c", "2", tone, "synth", "240", "sine", "330"], check=True)
for number, (artist, album, year, drawing, where, titles) in enumerate(ALBUMS):
    folder = f"{server.media}/{artist}/{album}"
    os.makedirs(folder)
    cover = f"{server.home}/cover{number}.jpg"
    subprocess.run(["/usr/bin/convert", "-size", "600x600", *drawing, cover], check=True)
    if where == "folder":
        shutil.copy(cover, f"{folder}/cover.jpg")
    for track, title in enumerate(titles, 1):
        path = f"{folder}/{track:02d} {title}.mp3"
        shutil.copy(tone, path)
        tags = ID3()
        for frame in (TIT2(encoding=3, text=title), TPE1(encoding=3, text=artist), TPE2(encoding=3, text=artist),
                      TALB(encoding=3, text=album), TRCK(encoding=3, text=str(track)), TDRC(encoding=3, text=str(year))):
            tags.add(frame)
        if where == "embedded":
            tags.add(APIC(encoding=3, mime="image/jpeg", type=3, data=open(cover, "rb").read()))
        tags.save(path)

token = server.run("--pairing-url").stdout.strip().rsplit("=", 1)[1]
server.start()
def api(path, body=None):
    request = urllib.request.Request(f"http://127.0.0.1:{server.web}/api/{path}", headers={
        "Authorization": f"Bearer {token}", "Content-Type": "application/json"},
        data=None if body is None else json.dumps(body).encode())
    return json.load(urllib.request.urlopen(request))
wait("the tags read", lambda: (lambda i: not i["running"] and i["total"] and i["done"] == i["total"])(
    api("state")["indexing"]))
rows = api("tracks")
artist, album, _, _, _, titles = ALBUMS[PLAYING[0]]
index = next(row["index"] for row in rows["rows"] if row["title"] == titles[PLAYING[1]])
api("play", {"index": index, "version": rows["version"]})
api("seek", {"position": 83000})

(options := webdriver.ChromeOptions()).arguments.extend(["--headless", "--no-sandbox", "--disable-gpu"])
driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
try:
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True})
    driver.get(f"http://127.0.0.1:{server.web}/?pair={token}")
    wait("the page", lambda: driver.execute_script(
        "return document.querySelectorAll('.row').length > 8 && document.getElementById('cover').complete"
        " && !document.getElementById('cover').hidden"), 30)
    driver.save_screenshot(out)
finally:
    driver.quit()
print(out)
