#!/usr/bin/env python3
"""The systemd unit of kbsearch-server, checked where no systemd runs it.

    unit_test.py verify UNIT
        systemd-analyze verify accepts UNIT, warnings and all (its executable taken as
        /bin/true, which is there, and its manual not looked up). Skipped (77) when
        systemd-analyze is missing.
    unit_test.py serve UNIT KBSEARCH_SERVER SAMPLE
        kbsearch-server runs as UNIT starts it (ExecStart's arguments, the instance a copy of
        SAMPLE, and its Environment: XDG_CACHE_HOME a fresh 0700 folder of the cache
        directory the unit names), on a port of its own: its searches come to use the article
        index, as the API's summary says.
"""

import json
import os
import shlex
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse
import urllib.request

SKIPPED = 77
PROGRAM = "/usr/bin/kbsearch-server"


def fail(message):
    print("FAIL: " + message, file=sys.stderr)
    sys.exit(1)


def service_lines(unit):
    """The unit's settings of its [Service] section, as (key, value), in order."""
    lines = []
    section = None
    with open(unit, encoding="utf-8") as text:
        for line in text:
            line = line.strip()
            if not line or line.startswith(("#", ";")):
                continue
            if line.startswith("["):
                section = line
            elif section == "[Service]" and "=" in line:
                key, value = line.split("=", 1)
                lines.append((key.strip(), value.strip()))
    return lines


def verify(unit):
    analyze = shutil.which("systemd-analyze")
    if analyze is None:
        print("SKIP: systemd-analyze (the systemd package) is missing", file=sys.stderr)
        sys.exit(SKIPPED)
    scratch = tempfile.mkdtemp(prefix="kbsearch-unit-test-")
    try:
        copy = os.path.join(scratch, os.path.basename(unit))
        with open(unit, encoding="utf-8") as text:
            content = text.read()
        if "ExecStart=" + PROGRAM + " " not in content:
            fail(f"the unit does not start {PROGRAM}")
        with open(copy, "w", encoding="utf-8") as text:
            text.write(content.replace("ExecStart=" + PROGRAM + " ", "ExecStart=/bin/true "))
        result = subprocess.run([analyze, "verify", "--man=no", copy], capture_output=True,
                                text=True, check=False)
        said = (result.stdout + result.stderr).strip()
        if result.returncode != 0 or said:
            fail(f"systemd-analyze verify (status {result.returncode}) says:\n{said}")
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
    print("systemd-analyze verify accepts the unit")


def expand(value, specifiers, environment):
    """A unit's value with its specifiers and ${NAME} or $NAME words replaced."""
    for specifier, replacement in specifiers.items():
        value = value.replace(specifier, replacement)
    words = []
    for word in shlex.split(value):
        if word.startswith("$"):
            # An environment variable as a word of its own: its value split on blanks.
            words.extend(environment.get(word.strip("${}"), "").split())
        else:
            words.append(word)
    return words


def search(url, words):
    with urllib.request.urlopen(url + "api/search?query=words&q=" + urllib.parse.quote(words),
                                timeout=10) as answer:
        return json.load(answer)


def serve(unit, program, sample):
    scratch = tempfile.mkdtemp(prefix="kbsearch-unit-test-")
    server = None
    try:
        knowledge_base = os.path.join(scratch, "srv", "kb")
        shutil.copytree(sample, knowledge_base)
        instance = "srv-kb"  # systemd-escape --path of /srv/kb; %f is its path here
        cache_root = os.path.join(scratch, "cache")
        os.mkdir(cache_root, 0o755)
        specifiers = {"%f": knowledge_base, "%i": instance, "%C": cache_root, "%%": "%"}

        # The environment as the unit sets it, the address a port the system chooses.
        environment = {"PATH": os.environ.get("PATH", "/usr/bin:/bin")}
        cache_directory = None
        cache_mode = 0o755
        start = None
        for key, value in service_lines(unit):
            if key == "Environment":
                for assignment in shlex.split(value):
                    name, setting = assignment.split("=", 1)
                    environment[name] = expand(setting, specifiers, environment)[0]
            elif key == "CacheDirectory":
                cache_directory = expand(value, specifiers, environment)[0]
            elif key == "CacheDirectoryMode":
                cache_mode = int(value, 8)
            elif key == "ExecStart":
                start = value
        if start is None or cache_directory is None:
            fail("the unit has no ExecStart or no CacheDirectory")
        environment["KBSEARCH_SERVER_ADDRESS"] = "127.0.0.1:0"
        # What systemd makes of CacheDirectory=: each folder of the path, the last with the
        # mode the unit asks for.
        cache = os.path.join(cache_root, cache_directory)
        os.makedirs(cache)
        os.chmod(cache, cache_mode)
        if environment.get("XDG_CACHE_HOME") != cache:
            fail(f"XDG_CACHE_HOME is {environment.get('XDG_CACHE_HOME')}, not the cache "
                 f"directory {cache}")
        arguments = expand(start, specifiers, environment)
        if arguments[0] != PROGRAM:
            fail(f"the unit starts {arguments[0]}")
        arguments[0] = program

        server = subprocess.Popen(arguments, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
                                  env=environment)
        url = server.stdout.readline().decode().strip()
        if not url.startswith("http://127.0.0.1:"):
            fail(f"the server printed {url!r}, not its URL: {server.stderr.read().decode()}")

        # The index is built in the background at first; once built, searches use it. Each
        # search is another, so that none is answered with what an earlier one found.
        states = []
        for attempt in range(200):
            answer = search(url, f"printer -absent{attempt}")
            index = answer["summary"]["index"]
            states.append((index["state"], index["reason"]))
            if index["state"] == "used":
                break
            time.sleep(0.1)
        if states[-1][0] != "used":
            fail(f"the index was never used; the summary said {sorted(set(states))}")
        if not answer["matches"]:
            fail("the search through the index found nothing")
        if not os.listdir(cache):
            fail("nothing was written into the cache directory")
    finally:
        if server is not None:
            server.terminate()
            try:
                server.wait(timeout=5)
            except subprocess.TimeoutExpired:
                server.kill()
                server.wait()
        shutil.rmtree(scratch, ignore_errors=True)
    print("run as the unit runs it, the server uses the article index in its cache directory")


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "verify":
        verify(sys.argv[2])
    elif len(sys.argv) == 5 and sys.argv[1] == "serve":
        serve(sys.argv[2], sys.argv[3], sys.argv[4])
    else:
        fail("usage: unit_test.py verify UNIT | serve UNIT KBSEARCH_SERVER SAMPLE")


if __name__ == "__main__":
    main()
