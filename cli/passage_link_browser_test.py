#!/usr/bin/env python3
"""Usage: passage_link_browser_test.py KBSEARCH_CLI

Writes the snippets page for a long article with kbsearch-cli, opens it in headless Chromium,
clicks the first snippet's link and checks that the article opens at the passage: scrolled
down to it, with the hit in the viewport and highlighted by the browser (the hit's pixels on
the highlight's colour, the words after it on the page's white). A screenshot of the article
as opened is saved to $KBSEARCH_SHOTS_DIR (by default the test's scratch folder, which is
removed).

Exits 77 (skipped) when chromium, chromedriver or Python's selenium is missing.
"""

import functools
import http.server
import os
import shutil
import struct
import subprocess
import sys
import tempfile
import threading
import time
import zlib

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.by import By
except ImportError:
    print("Python's selenium is not installed")
    sys.exit(77)

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
CHROMEDRIVER = shutil.which("chromedriver")
if not CHROMIUM or not CHROMEDRIVER:
    print("chromium or chromedriver is not installed")
    sys.exit(77)

# A long article: the passage lies far below the first screen, under a heading with an id.
FILLER = "<p>" + "Hay and straw fill the barn from floor to roof. " * 12 + "</p>\n"
ARTICLE = (
    "<html><head><title>Office equipment</title></head><body>\n"
    "<!-- Article starts -->\n<h1>Office equipment</h1>\n" + FILLER * 60 +
    '<h2 id="set-up">Setting up</h2>\n'
    "<p>Open the network printers panel and choose one from the list.</p>\n" + FILLER * 60 +
    "</body></html>\n")


def decode_png(data):
    """The pixels of an 8-bit RGB or RGBA PNG without interlacing: (width, height, rows of
    (r, g, b) tuples)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n", "not a PNG"
    at = 8
    compressed = b""
    while at < len(data):
        length, kind = struct.unpack(">I4s", data[at:at + 8])
        body = data[at + 8:at + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, "unexpected PNG"
            channels = 3 if colour == 2 else 4
        elif kind == b"IDAT":
            compressed += body
        at += 12 + length
    raw = zlib.decompress(compressed)
    stride = width * channels
    rows = []
    previous = bytearray(stride)
    for y in range(height):
        start = y * (stride + 1)
        kind = raw[start]
        row = bytearray(raw[start + 1:start + 1 + stride])
        for x in range(stride):
            left = row[x - channels] if x >= channels else 0
            up = previous[x]
            up_left = previous[x - channels] if x >= channels else 0
            if kind == 1:
                row[x] = (row[x] + left) & 0xFF
            elif kind == 2:
                row[x] = (row[x] + up) & 0xFF
            elif kind == 3:
                row[x] = (row[x] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - up_left
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - up_left)
                predictor = left if pa <= pb and pa <= pc else up if pb <= pc else up_left
                row[x] = (row[x] + predictor) & 0xFF
        rows.append([tuple(row[x:x + 3]) for x in range(0, stride, channels)])
        previous = row
    return width, height, rows


def coloured_share(rows, rect):
    """The share of the pixels in `rect` (left, top, right, bottom) that are neither white nor
    grey: a highlight's colour rather than the page or its black text."""
    left, top, right, bottom = (int(round(value)) for value in rect)
    total = coloured = 0
    for y in range(max(0, top), min(len(rows), bottom)):
        for x in range(max(0, left), min(len(rows[y]), right)):
            r, g, b = rows[y][x]
            total += 1
            if max(r, g, b) - min(r, g, b) > 24:
                coloured += 1
    return coloured / total if total else 0.0


# The rectangles, in the viewport, of the hit's word and of the words after it.
RECTS_SCRIPT = """
const walker = document.createTreeWalker(document.body, NodeFilter.SHOW_TEXT);
while (walker.nextNode()) {
  const node = walker.currentNode;
  const at = node.data.indexOf('network printers panel');
  if (at < 0) continue;
  const rect = (from, to) => {
    const range = document.createRange();
    range.setStart(node, from);
    range.setEnd(node, to);
    const r = range.getBoundingClientRect();
    return [r.left, r.top, r.right, r.bottom];
  };
  const hit = at + 'network '.length;
  return {hit: rect(hit, hit + 'printers'.length),
          after: rect(hit + 'printers '.length, hit + 'printers panel and choose'.length),
          scrollY: window.scrollY, height: window.innerHeight, hash: location.hash};
}
return null;
"""


def main():
    cli = os.path.abspath(sys.argv[1])
    scratch = tempfile.mkdtemp(prefix="kbsearch-browser-")
    shots = os.environ.get("KBSEARCH_SHOTS_DIR") or scratch
    os.makedirs(shots, exist_ok=True)
    server = None
    driver = None
    try:
        kb = os.path.join(scratch, "kb")
        os.makedirs(os.path.join(kb, "ZEB"))
        with open(os.path.join(kb, "ZEB", "ZEB1.htm"), "w", encoding="utf-8") as article:
            article.write(ARTICLE)
        with open(os.path.join(kb, "lheader.htm"), "w") as header:
            header.write("<html><body>\r\n")
        with open(os.path.join(kb, "lfooter.htm"), "w") as footer:
            footer.write("</body></html>\r\n")
        subprocess.run([cli, "-C", kb, "--no-kb-settings", "--results", "snippets", "printer"],
                       check=True, stdout=subprocess.DEVNULL,
                       env=dict(os.environ, KBSEARCH_ENV=os.devnull))

        # Served as a web site would serve it.
        class Quiet(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass

        handler = functools.partial(Quiet, directory=kb)
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        threading.Thread(target=server.serve_forever, daemon=True).start()

        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                     "--no-first-run", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--window-size=1000,700",
                     "--user-data-dir=" + os.path.join(scratch, "profile")):
            options.add_argument(flag)
        driver = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        driver.set_page_load_timeout(30)
        driver.get("http://127.0.0.1:%d/ZebResult.htm" % server.server_address[1])
        link = driver.find_element(By.CSS_SELECTOR, ".kb-snippet a")
        href = link.get_attribute("href")
        assert "#set-up:~:text=" in href, href
        link.click()

        # The browser scrolls to the passage once the article has loaded.
        rects = None
        deadline = time.monotonic() + 15
        while time.monotonic() < deadline:
            if "ZEB1.htm" in driver.current_url:
                rects = driver.execute_script(RECTS_SCRIPT)
                if rects and rects["scrollY"] > 0:
                    break
            time.sleep(0.2)
        time.sleep(0.5)  # the highlight is painted after the scroll
        rects = driver.execute_script(RECTS_SCRIPT)
        shot = driver.get_screenshot_as_png()
        shot_path = os.path.join(shots, "passage-link.png")
        with open(shot_path, "wb") as out:
            out.write(shot)
        print("screenshot:", shot_path)

        assert rects, "the passage is not in the article opened"
        print("link:", href)
        print("opened:", rects)
        assert rects["scrollY"] > 0, "the article was not scrolled"
        assert rects["hash"] == "#set-up", rects["hash"]
        top, bottom = rects["hit"][1], rects["hit"][3]
        assert 0 <= top and bottom <= rects["height"], "the hit is not in the viewport"
        _, _, rows = decode_png(shot)
        ratio = len(rows) / rects["height"]  # the screenshot's pixels per CSS pixel
        scale = lambda rect: [value * ratio for value in rect]
        hit_share = coloured_share(rows, scale(rects["hit"]))
        after_share = coloured_share(rows, scale(rects["after"]))
        print("highlighted share: hit %.2f, words after it %.2f" % (hit_share, after_share))
        assert hit_share > 0.5, "the hit is not highlighted"
        assert after_share < 0.1, "more than the hit is highlighted"
        print("PASS")
        return 0
    finally:
        if driver:
            driver.quit()
        if server:
            server.shutdown()
        shutil.rmtree(scratch, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
