#!/usr/bin/env python3
"""The search page in a real browser: headless Chromium driven by Selenium.

Starts kbsearch-server on a small knowledge base made here, on a port of the loopback
address the system chooses, types a query letter by letter and checks that the results
appear and follow the typing; that the choice of order is kept in the address and restored
from it; that Down and Enter open the article scrolled to the marked passage; and that an
article's script can read neither the API, nor the page in a frame, nor the page it opens.

    browser_test.py KBSEARCH_SERVER [SCREENSHOT_FOLDER]

With a SCREENSHOT_FOLDER (or KBSEARCH_SCREENSHOTS set), it also saves the page of results
there, light and dark. Exit status 0 when it passes, 1 when it fails, 77 (skipped) when
Chromium, its driver or Selenium is missing, unless CI is set: there a missing browser
fails the test.
"""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import urllib.parse

SKIPPED = 77
CHROMEDRIVER = "/usr/bin/chromedriver"
# Headless, and nothing that reaches beyond this machine.
CHROMIUM_FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
                  "--no-first-run", "--disable-background-networking",
                  "--disable-component-update", "--disable-sync", "--window-size=1000,900"]

# The articles: three hold "printer", one of them "printer spooler"; the marked passage of
# the spooler sits far below its start, so that a scroll to it can be seen.
FILLER = "<p>" + "Nothing to see in this paragraph. " * 12 + "</p>\n"
ARTICLES = {
    "ZEB00001.htm": ("Printer spooler stops",
                     FILLER * 30 + "<p id=\"passage\">Restart the printer spooler service "
                     "from the console.</p>\n"),
    "ZEB00002.htm": ("Network printer offline",
                     "<p>The network printer shows offline after a sleep.</p>\n"),
    "ZEB00003.htm": ("Printer drivers", "<p>Install the printer driver from the vendor.</p>\n"),
    "ZEB00004.htm": ("Mail quota", "<p>The mailbox is full: archive old mail.</p>\n"),
    "ZEB00005.htm": ("Hostile article", "<button id=\"try\">Try</button>\n"
                     "<pre id=\"verdict\"></pre>\n<script>" + """
document.getElementById('try').addEventListener('click', () => {
  const verdict = {};
  const settle = (what, outcome) => {
    verdict[what] = outcome;
    document.getElementById('verdict').textContent = JSON.stringify(verdict);
  };
  fetch('/api/search?q=quota').then((response) => response.text())
    .then(() => settle('fetch', 'read'), () => settle('fetch', 'refused'));
  const frame = document.createElement('iframe');
  frame.src = '/';
  frame.addEventListener('load', () => {
    try {
      settle('frame', frame.contentDocument.body.textContent.length >= 0 ? 'read' : 'refused');
    } catch (error) {
      settle('frame', 'refused');
    }
  });
  document.body.append(frame);
  const opened = window.open('/');
  setTimeout(() => {
    try {
      settle('window', opened.document.body.textContent.length >= 0 ? 'read' : 'refused');
    } catch (error) {
      settle('window', 'refused');
    }
  }, 1000);
});
""" + "</script>\n"),
}
# What every article holds before the text it is searched for.
MARKER = "<!-- Article starts -->"


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def missing(what):
    if os.environ.get("CI", "").lower() in ("1", "true", "yes"):
        fail(what + " is missing, and CI needs the browser test")
    print("SKIP: " + what + " is missing", file=sys.stderr)
    sys.exit(SKIPPED)


def make_knowledge_base(folder):
    os.mkdir(os.path.join(folder, "ZEB"))
    for name, (title, body) in ARTICLES.items():
        with open(os.path.join(folder, "ZEB", name), "w", encoding="utf-8") as article:
            article.write(f"<html><head><title>{title}</title></head><body>\n"
                          f"<h1>{title}</h1>\n{MARKER}\n{body}</body></html>\n")
    with open(os.path.join(folder, "lheader.htm"), "w", encoding="utf-8") as header:
        header.write("<html><head><meta charset=\"utf-8\"></head><body>\n")
    with open(os.path.join(folder, "lfooter.htm"), "w", encoding="utf-8") as footer:
        footer.write("</body></html>\n")


def start_server(program, folder, home):
    """The server on a port the system chooses; gives the process and its URL."""
    environment = dict(os.environ, HOME=home, XDG_CONFIG_HOME=os.path.join(home, "config"),
                       XDG_CACHE_HOME=os.path.join(home, "cache"))
    server = subprocess.Popen([program, "-C", folder, "127.0.0.1:0"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, env=environment)
    url = server.stdout.readline().decode().strip()
    if not url.startswith("http://127.0.0.1:"):
        server.kill()
        fail(f"the server printed {url!r}, not its URL")
    return server, url


def passage_in_view(browser):
    """Whether the article's marked passage is on the screen."""
    return browser.execute_script(
        "const box = document.getElementById('passage').getBoundingClientRect();"
        "return box.top >= 0 && box.bottom <= window.innerHeight;")


def verdict_of(browser):
    """What the hostile article's script managed so far, by attempt."""
    text = browser.execute_script("return document.getElementById('verdict').textContent;")
    return json.loads(text) if text else {}


def main():
    if len(sys.argv) < 2:
        fail("usage: browser_test.py KBSEARCH_SERVER [SCREENSHOT_FOLDER]")
    program = sys.argv[1]
    shots = sys.argv[2] if len(sys.argv) > 2 else os.environ.get("KBSEARCH_SCREENSHOTS")
    try:
        from selenium import webdriver
        from selenium.common.exceptions import TimeoutException
        from selenium.webdriver.chrome.service import Service
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
        from selenium.webdriver.support.ui import Select, WebDriverWait
    except ImportError:
        missing("Selenium for Python (python3-selenium)")
    if not os.access(CHROMEDRIVER, os.X_OK) or shutil.which("chromium") is None:
        missing("Chromium or its driver (chromium, chromium-driver)")

    scratch = tempfile.mkdtemp(prefix="kbsearch-browser-test-")
    server = None
    browser = None
    try:
        folder = os.path.join(scratch, "kb")
        os.mkdir(folder)
        make_knowledge_base(folder)
        server, url = start_server(program, folder, os.path.join(scratch, "home"))

        options = webdriver.ChromeOptions()
        for flag in CHROMIUM_FLAGS:
            options.add_argument(flag)
        options.add_argument("--user-data-dir=" + os.path.join(scratch, "profile"))
        browser = webdriver.Chrome(service=Service(CHROMEDRIVER), options=options)
        browser.set_page_load_timeout(10)
        wait = WebDriverWait(browser, 5, poll_frequency=0.05)

        browser.get(url)
        box = browser.find_element(By.ID, "q")
        if browser.switch_to.active_element != box:
            fail("the search box does not have the focus")

        # Read in one step: the list is replaced whole as each answer arrives.
        def titles(selector="#results a.title"):
            return browser.execute_script(
                "return Array.from(document.querySelectorAll(arguments[0]),"
                " (link) => link.textContent);", selector)

        def asked():
            query = urllib.parse.urlparse(browser.current_url).query
            return urllib.parse.parse_qs(query).get("q", [""])[0]

        # Until the answer to the whole query shows: one to a shorter stage of the typing may
        # list the same articles, but marks less.
        def settles_on(expected, typed, query=None):
            query = typed if query is None else query

            def answered():
                marks = {mark.lower() for mark in titles("#results mark")}
                return asked() == query and marks == {query.lower()}

            try:
                wait.until(lambda _: answered() and sorted(titles()) == sorted(expected))
            except TimeoutException:
                fail(f"after typing {typed!r} the results are {titles()} for {asked()!r}, "
                     f"not {expected}")

        # Letter by letter, as a user types: the results follow each stage.
        typed = ""
        for letter in "printer":
            box.send_keys(letter)
            typed += letter
            time.sleep(0.03)
        settles_on(["Printer spooler stops", "Network printer offline", "Printer drivers"],
                   typed)
        status = browser.find_element(By.ID, "status").text
        if "3" not in status:
            fail(f"the status says {status!r} for three articles found")
        if not browser.find_elements(By.CSS_SELECTOR, "#results mark"):
            fail("no term is marked in the snippets")
        if "q=printer" not in browser.current_url:
            fail(f"the address {browser.current_url} does not hold the query")

        # The order chosen is asked for at once and kept in the address, from which a
        # bookmark restores it (the results composed by the server meanwhile).
        Select(browser.find_element(By.ID, "order")).select_by_value("hits")
        try:
            wait.until(lambda _: "order=hits" in browser.current_url)
        except TimeoutException:
            fail(f"the address {browser.current_url} does not hold the order chosen")
        browser.get(browser.current_url)
        box = browser.find_element(By.ID, "q")
        if Select(browser.find_element(By.ID, "order")).first_selected_option.get_attribute(
                "value") != "hits":
            fail("the order chosen is not restored from the address")
        if box.get_attribute("value") != "printer":
            fail("the query is not restored from the address")
        settles_on(["Printer spooler stops", "Network printer offline", "Printer drivers"],
                   typed + " (restored)", typed)
        box.send_keys(Keys.END)

        if shots:
            os.makedirs(shots, exist_ok=True)
            for scheme in ("light", "dark"):
                browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {
                    "features": [{"name": "prefers-color-scheme", "value": scheme}]})
                browser.save_screenshot(os.path.join(shots, f"server-results-{scheme}.png"))
            browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})

        for letter in " spooler":
            box.send_keys(letter)
            typed += letter
            time.sleep(0.03)
        settles_on(["Printer spooler stops"], typed)

        # Down selects the first result, Enter opens it at its first snippet's passage.
        box.send_keys(Keys.ARROW_DOWN)
        if titles("#results li.selected a.title") != ["Printer spooler stops"]:
            fail("Down did not select the first result")
        if shots:
            browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {
                "features": [{"name": "prefers-color-scheme", "value": "dark"}]})
            browser.save_screenshot(os.path.join(shots, "server-selected-dark.png"))
            browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {"features": []})
        box.send_keys(Keys.ENTER)
        try:
            wait.until(lambda _: "/kb/ZEB/ZEB00001.htm" in browser.current_url)
            wait.until(lambda _: browser.find_elements(By.ID, "passage"))
        except TimeoutException:
            fail(f"Enter did not open the article: the browser shows {browser.current_url}")
        if browser.find_element(By.TAG_NAME, "h1").text != "Printer spooler stops":
            fail("the article opened is not the one chosen")
        try:
            wait.until(lambda _: passage_in_view(browser))
        except TimeoutException:
            fail(f"the article at {browser.current_url} is not scrolled to the passage")
        if shots:
            browser.save_screenshot(os.path.join(shots, "server-article-opened.png"))

        # An article's script, in its sandbox, reaches neither the API nor the page.
        browser.get(url + "kb/ZEB/ZEB00005.htm")
        browser.find_element(By.ID, "try").click()
        verdict = {}
        try:
            WebDriverWait(browser, 10, poll_frequency=0.1).until(
                lambda _: len(verdict_of(browser)) == 3)
            verdict = verdict_of(browser)
        except TimeoutException:
            verdict = verdict_of(browser)
            fail(f"the article's script did not finish its attempts: {verdict}")
        if verdict != {"fetch": "refused", "frame": "refused", "window": "refused"}:
            fail(f"an article's script read the server's page or API: {verdict}")
    finally:
        if browser is not None:
            browser.quit()
        if server is not None:
            server.send_signal(signal.SIGTERM)
            try:
                server.wait(timeout=5)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
        shutil.rmtree(scratch, ignore_errors=True)
    print("the results followed the typing and the order chosen, Down and Enter opened the "
          "article at the marked passage, and an article's script was kept in its sandbox")


if __name__ == "__main__":
    main()
