#!/usr/bin/env python3
"""Times kbsearch-cli on a knowledge base against a plain read of the same article files.

Both run several times, alternating, after one warm-up run each (so both read from the page
cache). Prints the median and best wall time of each, the ratio of the medians, and the peak
resident memory of each. With --syscalls, also counts the system calls of one run of each
with strace and prints them per article.

    run.py BUILD_DIR KB_DIR [--runs N] [--phrase TEXT] [--syscalls]
"""

import argparse
import collections
import os
import statistics
import subprocess
import sys
import tempfile
import time


def run_once(command, directory):
    """Runs `command` in `directory`; gives (seconds, peak RSS in KiB, exit status).

    The command runs under GNU time, whose small process is what the command's process is
    forked from, so the peak it reports is the command's own.
    """
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        start = time.perf_counter()
        status = subprocess.run(["/usr/bin/time", "-f", "%M", "-o", report.name] + command,
                                cwd=directory, stdout=subprocess.DEVNULL,
                                check=False).returncode
        seconds = time.perf_counter() - start
        lines = report.read().split()
        return seconds, int(lines[-1]), status


def count_syscalls(command, directory):
    """The system calls of one run of `command`, by name, as strace -c -f counts them."""
    with tempfile.NamedTemporaryFile("r", suffix=".strace") as report:
        subprocess.run(["strace", "-c", "-f", "-o", report.name] + command, cwd=directory,
                       stdout=subprocess.DEVNULL, check=False)
        counts = collections.Counter()
        for line in report:
            fields = line.split()
            # "% time seconds usecs/call calls [errors] syscall"
            if len(fields) >= 5 and fields[3].isdigit() and fields[-1] != "total":
                counts[fields[-1]] += int(fields[3])
        return counts


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("kb")
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--phrase", default="zephyr gateway")
    parser.add_argument("--syscalls", action="store_true")
    options = parser.parse_args()

    build = os.path.abspath(options.build)
    cli = [os.path.join(build, "cli", "kbsearch-cli"), options.phrase]
    plain = [os.path.join(build, "bench", "kbsearch_plain_read")]
    articles = len(os.listdir(os.path.join(options.kb, "ZEB")))

    for command in (plain, cli):
        _, _, status = run_once(command, options.kb)
        if status not in (0, 1):
            sys.exit(f"{command[0]} failed with exit status {status}")

    times = {"plain read": [], "kbsearch-cli": []}
    peaks = {"plain read": 0, "kbsearch-cli": 0}
    for _ in range(options.runs):
        for name, command in (("plain read", plain), ("kbsearch-cli", cli)):
            seconds, peak, _ = run_once(command, options.kb)
            times[name].append(seconds)
            peaks[name] = max(peaks[name], peak)

    print(f"{articles} article files, {options.runs} runs each, phrase \"{options.phrase}\"")
    for name, values in times.items():
        print(f"  {name:13} median {statistics.median(values) * 1000:8.1f} ms"
              f"   best {min(values) * 1000:8.1f} ms   peak RSS {peaks[name] / 1024:6.1f} MiB")
    ratio = statistics.median(times["kbsearch-cli"]) / statistics.median(times["plain read"])
    print(f"  ratio of medians kbsearch-cli / plain read: {ratio:.3f}")

    if options.syscalls:
        for name, command in (("plain read", plain), ("kbsearch-cli", cli)):
            counts = count_syscalls(command, options.kb)
            total = sum(counts.values())
            busiest = ", ".join(f"{call} {count / articles:.2f}"
                                for call, count in counts.most_common(8))
            print(f"  {name:13} {total / articles:.2f} system calls per article: {busiest}")


if __name__ == "__main__":
    main()
