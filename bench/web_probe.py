#!/usr/bin/env python3
"""Times the phone remote of a running Tallowcrest server, each figure beside a
reference taken in the same run, and prints one "NAME MEDIAN_MS REFERENCE_MS"
line per figure:

  first_page  GET /api/tracks?offset=0&limit=100 (the page's first page of rows)
              against GET /style.css, a static file of the same server;
              both from opening the connection to its close
  search      GET /api/tracks?q=TITLE over every title, TITLE a deep row's
              against `find ROOT -iname '*TITLE*'` over the tree (warm cache)
  grep        the same search against `grep -ci TITLE PATHS`, PATHS a file
              with every track's path (in the page cache)
  first_paint the page's first contentful paint after navigation in headless
              Chromium at 390 x 844 against that of the 403 page (a short
              static page from the same server)
  first_row   when the first row of the list is in the page, same reference
  change      a track opened with "01" by a TCP client until the page shows
              its title, against the same client receiving "CODE_11"title

usage: web_probe.py --port P --web W --token T --root ROOT --paths PATHS [--runs N] [--parts LIST]
  LIST: which of first_page, search (search and grep), paint (first_paint
  and first_row) and change to time, comma-separated (default: all)
"""
import argparse, json, os, re, socket, statistics, subprocess, sys, time, urllib.parse

if sys.executable != "/usr/bin/python3":  # Debian's has the Selenium bindings
    os.execv("/usr/bin/python3", ["/usr/bin/python3", *sys.argv])
from selenium import webdriver
from selenium.webdriver.chrome.service import Service
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tests/support"))
from real_server import connect  # noqa: E402

# Set before the page's own script runs: when the first row appears, and when
# the title shows the one awaited.
WATCH = """
window.__firstRow = 0; window.__want = null; window.__seen = 0;
new MutationObserver(() => {
  if (!window.__firstRow && document.querySelector('.row')) window.__firstRow = performance.now();
  const title = document.getElementById('title');
  if (title && window.__want !== null && title.textContent === window.__want && !window.__seen)
    window.__seen = performance.timeOrigin + performance.now();
}).observe(document, {childList: true, subtree: true, characterData: true});
"""


def fetch(port, target, token):
    """Milliseconds from connecting to the server's close, and the body."""
    started = time.perf_counter()
    with connect(port) as sock:
        sock.sendall(f"GET {target} HTTP/1.1\r\nAuthorization: Bearer {token}\r\n\r\n".encode())
        reply = b"".join(iter(lambda: sock.recv(1 << 16), b""))
    elapsed = (time.perf_counter() - started) * 1000
    head, _, body = reply.partition(b"\r\n\r\n")
    if b" 200 " not in head.split(b"\r\n")[0]:
        sys.exit(f"web_probe: {target}: {head[:80]!r}")
    return elapsed, body


def paired_medians(runs, measure, reference):
    """Alternates the two after one warm-up of each."""
    measure(), reference()
    pairs = [(measure(), reference()) for _ in range(runs)]
    return statistics.median(p[0] for p in pairs), statistics.median(p[1] for p in pairs)


def timed(command, success=(0,)):
    started = time.perf_counter()
    status = subprocess.run(command, stdout=subprocess.DEVNULL).returncode
    elapsed = (time.perf_counter() - started) * 1000
    if status not in success:
        sys.exit(f"web_probe: {command[0]} failed ({status})")
    return elapsed


def browser(web, token):
    options = webdriver.ChromeOptions()
    for argument in ("--headless", "--no-sandbox", "--disable-gpu"):
        options.add_argument(argument)
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride",
                           {"width": 390, "height": 844, "deviceScaleFactor": 2, "mobile": True})
    driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source": WATCH})
    driver.get(f"http://127.0.0.1:{web}/?pair={token}")
    return driver


def load(driver, url, wait_for_row):
    """The first contentful paint after navigation, and when the first row came, in ms."""
    paint = lambda: driver.execute_script(
        "return (performance.getEntriesByName('first-contentful-paint')[0] || {}).startTime || 0")
    driver.get(url)
    deadline = time.monotonic() + 10
    while not (paint() and (not wait_for_row or driver.execute_script("return window.__firstRow"))):
        if time.monotonic() > deadline:
            sys.exit(f"web_probe: {url} did not paint")
        time.sleep(0.01)
    return paint(), driver.execute_script("return window.__firstRow")


def time_paint(driver, web, runs):
    page, refused = f"http://127.0.0.1:{web}/", f"http://127.0.0.1:{web}/?pair=0"
    load(driver, page, True), load(driver, refused, False)
    timings = [(load(driver, page, True), load(driver, refused, False)[0]) for _ in range(runs)]
    reference = statistics.median(t[1] for t in timings)
    print("first_paint %.2f %.2f" % (statistics.median(t[0][0] for t in timings), reference))
    print("first_row %.2f %.2f" % (statistics.median(t[0][1] for t in timings), reference))


def time_change(driver, web, port, paths, runs):
    """Opens the paths in turn over TCP; the page's clock and ours are the same machine's."""
    load(driver, f"http://127.0.0.1:{web}/", True)
    client = connect(port, 10)
    client.setsockopt(socket.IPPROTO_TCP, socket.TCP_NODELAY, 1)
    changes = []
    for run in range(runs + 1):
        path = paths[run % 2]
        title = os.path.basename(path)[:-4]
        driver.execute_script("window.__want = arguments[0]; window.__seen = 0", title.decode())
        heard = b""
        sent = time.time() * 1000
        client.sendall(b"01" + path)
        while b"CODE_11" + title not in heard:
            heard += client.recv(1 << 16)
        client_ms = time.time() * 1000 - sent
        deadline = time.monotonic() + 10
        while not (seen := driver.execute_script("return window.__seen")):
            if time.monotonic() > deadline:
                sys.exit(f"web_probe: the page never showed {title!r}")
            time.sleep(0.002)
        if run:  # the first is a warm-up
            changes.append((seen - sent, client_ms))
        time.sleep(0.3)  # the failed open of an empty file settles
    client.close()
    print("change %.2f %.2f" % (statistics.median(c[0] for c in changes), statistics.median(c[1] for c in changes)))


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--port", type=int, required=True)
    parser.add_argument("--web", type=int, required=True)
    parser.add_argument("--token", required=True)
    parser.add_argument("--root", required=True)
    parser.add_argument("--paths", required=True)
    parser.add_argument("--runs", type=int, default=9)
    parser.add_argument("--parts", default="first_page,search,paint,change")
    args = parser.parse_args()
    token, web, runs, parts = args.token, args.web, args.runs, args.parts.split(",")

    total = json.loads(fetch(web, "/api/tracks?limit=1", token)[1])["total"]
    far = [json.loads(fetch(web, f"/api/tracks?offset={n}&limit=1", token)[1])["rows"][0]
           for n in (total * 3 // 4, total - 10)]
    paths = [urllib.parse.unquote_to_bytes(row["uri"][len("file://"):]) for row in far]
    deep = far[1]["title"]
    query = urllib.parse.quote(deep)
    if json.loads(fetch(web, f"/api/tracks?q={query}", token)[1])["total"] < 1:
        sys.exit(f"web_probe: the search for {deep!r} found nothing")

    if "first_page" in parts:
        print("first_page %.2f %.2f" % paired_medians(runs, lambda: fetch(web, "/api/tracks?offset=0&limit=100", token)[0],
                                                   lambda: fetch(web, "/style.css", token)[0]))
    if "search" in parts:
        print("search %.2f %.2f" % paired_medians(runs, lambda: fetch(web, f"/api/tracks?q={query}", token)[0],
                                               lambda: timed(["find", args.root, "-iname", f"*{deep}*"])))
        print("grep %.2f %.2f" % paired_medians(runs, lambda: fetch(web, f"/api/tracks?q={query}", token)[0],
                                             lambda: timed(["grep", "-ci", "--", deep, args.paths], {0, 1})))
    if "paint" not in parts and "change" not in parts:
        return 0
    driver = browser(web, token)
    try:
        if "paint" in parts:
            time_paint(driver, web, runs)
        if "change" in parts:
            time_change(driver, web, args.port, paths, runs)
    finally:
        driver.quit()
    return 0


if __name__ == "__main__":
    sys.exit(main())
