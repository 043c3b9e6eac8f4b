#!/usr/bin/env python3
"""Prints how long kbsearch-cli takes to end after SIGTERM or SIGINT while its standard output
is a pipe that nobody reads (a paused pager, a stalled consumer): from the signal to the
program's exit, with the old page left alone. The goal is under 100 ms.

    bench/stop_latency.py KBSEARCH_CLI [RUNS]

It makes a knowledge base of 3,000 matching articles in a scratch folder, starts kbsearch-cli
there with a one-page pipe as its standard output, waits until the pipe is full, sends the
signal and times the exit; RUNS times (default 20), alternating the two signals.
"""

import fcntl
import os
import signal
import statistics
import subprocess
import sys
import tempfile
import time

F_SETPIPE_SZ = 1031


def main():
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    cli = os.path.abspath(sys.argv[1])
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
    with tempfile.TemporaryDirectory(prefix="kbsearch-stop-") as kb:
        os.mkdir(os.path.join(kb, "ZEB"))
        for number in range(3000):
            with open(os.path.join(kb, "ZEB", f"ZEB{number:05}.htm"), "w") as article:
                article.write("<!-- Article starts -->The printer is stalled.\n")
        for name, text in (("lheader.htm", "<html>\r\n"), ("lfooter.htm", "</html>\r\n")):
            with open(os.path.join(kb, name), "w") as template:
                template.write(text)
        page = os.path.join(kb, "ZebResult.htm")
        latencies = {signal.SIGTERM: [], signal.SIGINT: []}
        for run in range(runs):
            number = signal.SIGTERM if run % 2 == 0 else signal.SIGINT
            with open(page, "w") as old:
                old.write("old page")
            read_end, write_end = os.pipe()
            capacity = fcntl.fcntl(write_end, F_SETPIPE_SZ, 4096)
            child = subprocess.Popen([cli, "-C", kb, "printer"], stdout=write_end,
                                     stderr=subprocess.DEVNULL,
                                     restore_signals=True)
            os.close(write_end)
            held = bytearray(4)
            while True:
                fcntl.ioctl(read_end, 0x541B, held, True)  # FIONREAD
                if int.from_bytes(held, "little") >= capacity:
                    break
                time.sleep(0.001)
            time.sleep(0.05)  # well inside the wait for room
            sent = time.monotonic()
            child.send_signal(number)
            status = child.wait()
            latencies[number].append((time.monotonic() - sent) * 1000)
            os.close(read_end)
            with open(page) as kept:
                if status != 128 + number or kept.read() != "old page":
                    sys.exit(f"run {run}: exit status {status}, or the page was written")
        for number, times in latencies.items():
            print(f"{signal.Signals(number).name}: median {statistics.median(times):.1f} ms, "
                  f"longest {max(times):.1f} ms over {len(times)} runs")


if __name__ == "__main__":
    main()
