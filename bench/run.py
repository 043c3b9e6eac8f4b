#!/usr/bin/env python3
"""Times kbsearch-cli on a knowledge base against a plain read of the same article files.

Runs, alternating, after one warm-up run each (so all read from the page cache):
  - the plain read on one thread, and on as many threads as kbsearch-cli uses by default;
  - kbsearch-cli with its default threads, and with -j 1;
  - ripgrep, `rg -l -i -F PHRASE ZEB`, as a reference (when it is installed).
Prints the median and best wall time and the peak resident memory of each, the ratios that
kbsearch-cli is held to, the memory each further thread of kbsearch-cli costs, and the load
of the machine before and after. With --syscalls, also counts the system calls of one run of
the plain read and of kbsearch-cli with strace and prints them per article. With --baseline,
also times the kbsearch-cli of another build (an older one, say) in the same alternation,
and prints the ratio of each kbsearch-cli to it: BUILD_DIR's is held to at most 1.05.
--cli-option passes an option to every kbsearch-cli run (--cli-option=--match=text, say).

With --cold, times the first search after the articles left memory instead: before every
run it empties the page cache, with `echo 3 > /proc/sys/vm/drop_caches` when it may (as
root, where the system allows it), else with posix_fadvise(POSIX_FADV_DONTNEED) on every
article, which leaves the folder's entries and the inodes in memory; it says which. It prints
the cold medians of kbsearch-cli (with --no-index, so that every article is read) with its
default threads (and the standby threads that read while the articles are not in memory),
with -j N (N threads alone: the default of the versions before the standby threads) and
-j 16, of the plain read on 1 and N threads and of rg, and the
warm medians of kbsearch-cli against -j N, with the ratios kbsearch-cli is held to.

With --index, times the article index instead, in a cache of its own (a temporary
XDG_CACHE_HOME): its build (`kbsearch-cli --index`) with its processor time, size and peak
memory, then repeat searches through it for rare phrases and for one in most articles,
against the plain read on one thread and against `kbsearch-cli --no-index`, and once more
after the status of 1% of the articles changed (their times are set to now: their bytes stay
as they are); between the two, the window's repeat searches (kbsearch_kept_index_bench, when
built).

With --snippets, times what the snippets page costs on a folder of real documentation (by
default make_doc_knowledge_base.py's): `kbsearch-cli --results classic` against
`--results snippets` for a phrase in few articles, one in about one article of eight and one
in about half of them, alternating, and prints the medians and their ratios against what
the snippets page is held to.

With --words, times queries in words against the phrase search, in a cache of its own: the
two words of "unsafe pointer" with -l against the phrase without the index, two rare words
through the index against the one-thread plain read, the words through the index against
their own --no-index, and the snippets page in relevance order against the order by hits.

With --tree TREE_DIR, times the same articles laid out as a tree (TREE_DIR holds them in
sub-folders; make it from KB_DIR/ZEB with copies, not links, say 400 folders of 100) against KB_DIR's
one ZEB folder: the full scan, and repeat searches through the index, for --phrase.

With --serve, times kbsearch-server under load from wrk instead (bench/serve_bench.py says
what): rare queries on one connection and on 8, common words against the console's page,
rare queries beside common ones, and its peak memory under 16 connections. --serve-seconds
sets how long the 8 connections ask (default 30; the other loads take part of it).

    run.py BUILD_DIR KB_DIR [--runs N] [--phrase TEXT] [--syscalls] [--baseline OLD_BUILD_DIR]
           [--cli-option OPTION]...
    run.py BUILD_DIR KB_DIR --index [--runs N]
    run.py BUILD_DIR KB_DIR --cold [--runs N] [--phrase TEXT]
    run.py BUILD_DIR [KB_DIR] --snippets [--runs N]
    run.py BUILD_DIR KB_DIR --words [--runs N]
    run.py BUILD_DIR KB_DIR --tree TREE_DIR [--runs N] [--phrase TEXT]
    run.py BUILD_DIR KB_DIR --serve [--serve-seconds S]
"""

import argparse
import collections
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

import make_doc_knowledge_base
import serve_bench

# The phrases of --index: rare ones, and one in most articles of a documentation folder.
RARE_PHRASES = ["unsafe pointer", "zzqqxx", "&mut self"]
COMMON_PHRASE = '<div class="docblock">'
# What the index is held to: a repeat search for a rare phrase against the one-thread plain
# read, and one for the common phrase against --no-index.
INDEX_RARE_MOST = 0.40
INDEX_COMMON_MOST = 1.05
INDEX_CHANGED_MOST = 0.05

# The phrases of --snippets, with what the snippets page may cost against the classic one:
# in few articles of the Rust documentation, in about one of eight, in about half.
SNIPPETS_TARGETS = [("unsafe pointer", 1.2), ("unsafe", 1.3), ("pub fn", 2.0)]

# The queries of --words: words in a few hundred articles of the Rust documentation, and two
# rare ones; with what each comparison is held to: (numerator, denominator, most).
WORDS = "unsafe pointer"
RARE_WORDS = "popcount bswap"
# What the same articles in a tree may cost against one ZEB folder.
TREE_MOST = 1.10
WORDS_TARGETS = [
    ("words -l --no-index", "phrase -l --no-index", 1.15),
    ("rare words -l", "plain read, 1 thread", 0.40),
    ("words -l", "words -l --no-index", 1.05),
    ("relevance snippets", "hits snippets", 1.10),
]

# What kbsearch-cli is held to: (numerator, denominator, most).
TARGETS = [
    ("kbsearch-cli", "plain read, 1 thread", 0.70),
    ("kbsearch-cli", "plain read, N threads", 1.20),
    ("kbsearch-cli -j 1", "plain read, 1 thread", 1.25),
]
# What kbsearch-cli is held to against the --baseline build's, on medians.
MOST_AGAINST_BASELINE = 1.05
MOST_THREADS = 16  # kbsearch-cli's default: one thread per processor, at most this many
# What the default search is held to against -j N, the same threads without standby ones:
# (state of the cache, most).
COLD_TARGETS = [("cold", 0.40), ("warm", 1.05)]


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


def articles_of(kb):
    folder = os.path.join(kb, "ZEB")
    return [os.path.join(folder, name) for name in sorted(os.listdir(folder))]


def empty_cache(method, articles):
    """Empties the page cache of the articles by `method`; gives the method that worked."""
    if method == "drop_caches":
        os.sync()
        try:
            with open("/proc/sys/vm/drop_caches", "w") as control:
                control.write("3\n")
            return method
        except OSError:
            method = "fadvise"
    for path in articles:
        descriptor = os.open(path, os.O_RDONLY)
        try:
            os.posix_fadvise(descriptor, 0, 0, os.POSIX_FADV_DONTNEED)
        finally:
            os.close(descriptor)
    return method


def run_cold(options, cli, plain, threads):
    """Times each command from an emptied page cache, then the default against -j N warm."""
    articles = articles_of(options.kb)
    method = "drop_caches" if os.geteuid() == 0 else "fadvise"
    # The index would spare the search most reads: what is timed here is the scan.
    scan = [cli, "--no-index"]
    commands = {
        "kbsearch-cli": scan + [options.phrase],
        f"kbsearch-cli -j {threads}": scan + ["-j", str(threads), options.phrase],
        "kbsearch-cli -j 16": scan + ["-j", "16", options.phrase],
        "plain read, 1 thread": [plain, "-j", "1"],
        f"plain read, {threads} threads": [plain, "-j", str(threads)],
    }
    ripgrep = shutil.which("rg")
    if ripgrep:
        commands["rg -l -i -F"] = [ripgrep, "-l", "-i", "-F", options.phrase, "ZEB"]
    method = empty_cache(method, articles)
    print(f"{len(articles)} article files, {options.runs} runs each, phrase "
          f"\"{options.phrase}\", N = {threads} threads; before: {load()}")
    print("  the cache emptied before each run by " +
          ("drop_caches: articles, folder entries and inodes all read from the disk"
           if method == "drop_caches" else
           "posix_fadvise(POSIX_FADV_DONTNEED) on every article: their bytes read from the "
           "disk, the folder's entries and the inodes still in memory"))

    cold = {name: [] for name in commands}
    for _ in range(options.runs):
        for name, command in commands.items():
            empty_cache(method, articles)
            seconds, _, status = run_once(command, options.kb)
            if status not in (0, 1):
                sys.exit(f"{name} failed with exit status {status}")
            cold[name].append(seconds)
    warm_names = ["kbsearch-cli", f"kbsearch-cli -j {threads}"]
    for name in warm_names:
        run_once(commands[name], options.kb)
    warm = {name: [] for name in warm_names}
    for _ in range(max(options.runs, 7)):
        for name in warm_names:
            warm[name].append(run_once(commands[name], options.kb)[0])

    median = {("cold", name): statistics.median(values) for name, values in cold.items()}
    median.update({("warm", name): statistics.median(values) for name, values in warm.items()})
    for (state, name), value in median.items():
        values = cold[name] if state == "cold" else warm[name]
        print(f"  {state} {name:28} median {value * 1000:8.1f} ms   best "
              f"{min(values) * 1000:8.1f} ms")
    if not ripgrep:
        print(f"  cold {'rg -l -i -F':28} not installed")
    for state, most in COLD_TARGETS:
        ratio = median[(state, "kbsearch-cli")] / median[(state, f"kbsearch-cli -j {threads}")]
        verdict = "ok" if ratio <= most else "MISSED"
        print(f"  {state}: kbsearch-cli / kbsearch-cli -j {threads}: {ratio:.3f} "
              f"(at most {most:.2f}: {verdict})")
    print(f"  after: {load()}")
def directory_size(path):
    return sum(os.path.getsize(os.path.join(folder, name))
               for folder, _, names in os.walk(path) for name in names)


def median_times(commands, directory, runs):
    """Median seconds, peak RSS in KiB and median processor seconds (user and system) of each
    command, run alternating after a warm-up."""
    for command in commands.values():
        run_once(command, directory)
    times = {name: [] for name in commands}
    peaks = {name: [] for name in commands}
    processor = {name: [] for name in commands}
    for _ in range(runs):
        for name, command in commands.items():
            before = os.times()
            seconds, peak, _ = run_once(command, directory)
            after = os.times()
            times[name].append(seconds)
            peaks[name].append(peak)
            processor[name].append(after.children_user - before.children_user +
                                   after.children_system - before.children_system)
    return ({name: statistics.median(values) for name, values in times.items()},
            {name: max(values) for name, values in peaks.items()},
            {name: statistics.median(values) for name, values in processor.items()})


def index_bench(cli, plain, kb, runs):
    """Times repeat searches through the article index; see the module's text."""
    cache = tempfile.mkdtemp(prefix="kbsearch-bench-cache-")
    os.environ["XDG_CACHE_HOME"] = cache
    try:
        articles = sorted(os.listdir(os.path.join(kb, "ZEB")))
        print(f"{len(articles)} article files, {runs} runs each; before: {load()}")
        before = resource.getrusage(resource.RUSAGE_CHILDREN)
        seconds, peak, status = run_once([cli, "--index"], kb)
        after = resource.getrusage(resource.RUSAGE_CHILDREN)
        if status != 0:
            sys.exit(f"kbsearch-cli --index failed with exit status {status}")
        # The processor time tells the build's own cost on a busy machine, where the wall time
        # mostly tells the load.
        processor = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
        print(f"  index built in {seconds:.2f} s ({processor:.2f} s of processor time), "
              f"peak RSS {peak / 1024:.1f} MiB, {directory_size(cache) / 2**20:.1f} MiB on disk")
        # Articles written less than 2 seconds before they were indexed are read by every
        # search until the index reads them again.
        time.sleep(2.1)
        run_once([cli, "--index"], kb)

        def compare(label):
            commands = {"plain read, 1 thread": [plain, "-j", "1"]}
            for phrase in RARE_PHRASES + [COMMON_PHRASE]:
                commands[phrase] = [cli, "-l", phrase]
                commands[phrase + " --no-index"] = [cli, "-l", "--no-index", phrase]
            median, peaks, _ = median_times(commands, kb, runs)
            base = median["plain read, 1 thread"]
            print(f"  {label}: plain read, 1 thread {base * 1000:.1f} ms")
            ratios = {}
            for phrase in RARE_PHRASES + [COMMON_PHRASE]:
                ratios[phrase] = median[phrase] / base
                print(f"    {phrase!r:26} indexed {median[phrase] * 1000:8.1f} ms "
                      f"({ratios[phrase]:.3f}x, peak RSS {peaks[phrase] / 1024:.1f} MiB)   "
                      f"--no-index {median[phrase + ' --no-index'] * 1000:8.1f} ms")
            for phrase in RARE_PHRASES:
                verdict = "ok" if ratios[phrase] <= INDEX_RARE_MOST else "MISSED"
                print(f"    {phrase!r}: {ratios[phrase]:.3f} of the plain read "
                      f"(at most {INDEX_RARE_MOST:.2f}: {verdict})")
            common = median[COMMON_PHRASE] / median[COMMON_PHRASE + " --no-index"]
            verdict = "ok" if common <= INDEX_COMMON_MOST else "MISSED"
            print(f"    {COMMON_PHRASE!r}: {common:.3f} of --no-index "
                  f"(at most {INDEX_COMMON_MOST:.2f}: {verdict})")
            return ratios

        unchanged = compare("nothing changed")
        kept = os.path.join(os.path.dirname(cli), "..", "bench", "kbsearch_kept_index_bench")
        if os.path.exists(kept):
            print("  the window's repeat searches (index kept open, watched):")
            sys.stdout.flush()
            subprocess.run([kept, kb, str(runs)], check=True)
        now = time.time()
        for name in articles[::100]:
            os.utime(os.path.join(kb, "ZEB", name), (now, now))
        changed = compare("1% of the articles changed")
        for phrase in RARE_PHRASES:
            more = changed[phrase] - unchanged[phrase]
            verdict = "ok" if more <= INDEX_CHANGED_MOST else "MISSED"
            print(f"  {phrase!r} after 1% changed: {more:+.3f} of the plain read "
                  f"(at most +{INDEX_CHANGED_MOST:.2f}: {verdict})")
        print(f"  after: {load()}")
    finally:
        shutil.rmtree(cache, ignore_errors=True)


def words_bench(cli, plain, kb, runs):
    """Times queries in words; see the module's text."""
    cache = tempfile.mkdtemp(prefix="kbsearch-bench-cache-")
    os.environ["XDG_CACHE_HOME"] = cache
    try:
        print(f"{len(os.listdir(os.path.join(kb, 'ZEB')))} article files, {runs} runs each; "
              f"before: {load()}")
        if run_once([cli, "--index"], kb)[2] != 0:
            sys.exit("kbsearch-cli --index failed")
        # Articles written less than 2 seconds before they were indexed are read again.
        time.sleep(2.1)
        run_once([cli, "--index"], kb)
        words = [cli, "--query", "words"]
        commands = {
            "plain read, 1 thread": [plain, "-j", "1"],
            "phrase -l --no-index": [cli, "-l", "--no-index", WORDS],
            "words -l --no-index": words + ["-l", "--no-index", WORDS],
            "words -l": words + ["-l", WORDS],
            "rare words -l": words + ["-l", RARE_WORDS],
            "hits snippets": words + ["--results", "snippets", "--order", "hits", WORDS],
            "relevance snippets": words + ["--results", "snippets", "--order", "relevance", WORDS],
        }
        median, peaks, processor = median_times(commands, kb, runs)
        for name, command in commands.items():
            found = ""
            if name.endswith("-l") or name.endswith("--no-index"):
                listed = subprocess.run(command, cwd=kb, check=False, capture_output=True)
                found = f", {len(listed.stdout.splitlines())} found"
            print(f"  {name:24} median {median[name] * 1000:8.1f} ms   processor "
                  f"{processor[name] * 1000:8.1f} ms   peak RSS {peaks[name] / 1024:6.1f} MiB{found}")
        for numerator, denominator, most in WORDS_TARGETS:
            ratio = median[numerator] / median[denominator]
            verdict = "ok" if ratio <= most else "MISSED"
            print(f"  {numerator} / {denominator}: {ratio:.3f} (at most {most:.2f}: {verdict})")
        print(f"  after: {load()}")
    finally:
        shutil.rmtree(cache, ignore_errors=True)


def tree_bench(cli, kb, tree, phrase, runs):
    """Times a tree of articles against the same articles in one folder; see the module's text."""
    cache = tempfile.mkdtemp(prefix="kbsearch-bench-cache-")
    os.environ["XDG_CACHE_HOME"] = cache
    try:
        tree_option = ["--articles", "**/*.htm"]
        for folder, layout in ((kb, []), (tree, tree_option)):
            run_once([cli, "--index"] + layout, folder)
        time.sleep(2.1)
        print(f"{phrase!r}, {runs} runs each; before: {load()}")
        for label, extra in (("full scan", ["--no-index"]), ("index", [])):
            commands = {"ZEB": [cli, "-l"] + extra + [phrase],
                        "tree": [cli, "-l"] + tree_option + extra + [phrase]}
            folders = {"ZEB": kb, "tree": tree}
            times = {name: [] for name in commands}
            for name, command in commands.items():
                run_once(command, folders[name])
            for _ in range(runs):
                for name, command in commands.items():
                    times[name].append(run_once(command, folders[name])[0])
            zeb, in_tree = statistics.median(times["ZEB"]), statistics.median(times["tree"])
            ratio = in_tree / zeb
            verdict = "ok" if ratio <= TREE_MOST else "MISSED"
            print(f"  {label:9}: ZEB {zeb * 1000:8.1f} ms, tree {in_tree * 1000:8.1f} ms: "
                  f"{ratio:.3f} (at most {TREE_MOST:.2f}: {verdict})")
        print(f"  after: {load()}")
    finally:
        shutil.rmtree(cache, ignore_errors=True)


def load():
    return "load average %.2f %.2f %.2f" % os.getloadavg()


def snippets_bench(cli, kb, runs):
    """Times the snippets page against the classic one; see the module's text.

    Besides the wall time it prints the processor time (user and system) of each: on a busy
    machine with few cores, the wall time says as much about the other programs.
    """
    articles = len(os.listdir(os.path.join(kb, "ZEB")))
    print(f"{articles} article files in {kb}, {runs} runs each; before: {load()}")
    commands = {}
    for phrase, _ in SNIPPETS_TARGETS:
        for results in ("classic", "snippets"):
            # The index would spare the search most reads: what is timed here is the scan.
            commands[(phrase, results)] = [cli, "--no-index", "--results", results, phrase]
    wall, _, processor = median_times(commands, kb, runs)
    for phrase, most in SNIPPETS_TARGETS:
        found = subprocess.run([cli, "--no-index", "-l", phrase], cwd=kb, check=False,
                               capture_output=True).stdout.count(b"\n")
        classic, snippets = wall[(phrase, "classic")], wall[(phrase, "snippets")]
        classic_cpu, snippets_cpu = processor[(phrase, "classic")], processor[(phrase, "snippets")]
        ratio = snippets / classic
        verdict = "ok" if ratio <= most else "MISSED"
        print(f"  {phrase!r:17} in {found:6} articles: classic {classic * 1000:7.1f} ms, "
              f"snippets {snippets * 1000:7.1f} ms: {ratio:.3f} (at most {most:.1f}: {verdict}); "
              f"processor time {classic_cpu * 1000:.0f} ms and {snippets_cpu * 1000:.0f} ms: "
              f"{snippets_cpu / classic_cpu:.3f}")
    print(f"  after: {load()}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("build")
    parser.add_argument("kb", nargs="?", default=make_doc_knowledge_base.DEFAULT_DIRECTORY)
    parser.add_argument("--runs", type=int, default=7)
    parser.add_argument("--phrase", default="zephyr gateway")
    parser.add_argument("--syscalls", action="store_true")
    parser.add_argument("--cold", action="store_true",
                        help="time searches from an emptied page cache (see above)")
    parser.add_argument("--index", action="store_true",
                        help="time repeat searches through the article index")
    parser.add_argument("--snippets", action="store_true",
                        help="time the snippets page against the classic one")
    parser.add_argument("--tree", help="a folder of the same articles in sub-folders")
    parser.add_argument("--words", action="store_true",
                        help="time queries in words and the relevance order")
    parser.add_argument("--serve", action="store_true",
                        help="time kbsearch-server under load (see above)")
    parser.add_argument("--serve-seconds", type=int, default=30,
                        help="how long 8 connections load the server")
    parser.add_argument("--baseline", help="another build folder whose kbsearch-cli to time")
    parser.add_argument("--cli-option", action="append", default=[],
                        help="an option for every kbsearch-cli run (may be repeated)")
    parser.add_argument("--memory-threads", type=int, default=8,
                        help="thread count whose peak memory is set against -j 1's")
    options = parser.parse_args()

    build = os.path.abspath(options.build)
    cli = os.path.join(build, "cli", "kbsearch-cli")
    plain = os.path.join(build, "bench", "kbsearch_plain_read")
    threads = min(len(os.sched_getaffinity(0)), MOST_THREADS)
    if not os.path.isdir(os.path.join(options.kb, "ZEB")):
        sys.exit(f"no knowledge base in {options.kb}: make one with make_doc_knowledge_base.py")
    if options.snippets:
        snippets_bench(cli, options.kb, options.runs)
        return
    if options.serve:
        serve_bench.serve_bench(build, options.kb, run_once, load, options.serve_seconds)
        return
    articles = len(os.listdir(os.path.join(options.kb, "ZEB")))
    if options.cold:
        run_cold(options, cli, plain, threads)
        return
    if options.index:
        index_bench(cli, plain, options.kb, options.runs)
        return
    if options.tree:
        tree_bench(cli, options.kb, options.tree, options.phrase, options.runs)
        return
    if options.words:
        words_bench(cli, plain, options.kb, options.runs)
        return

    commands = {
        "plain read, 1 thread": [plain, "-j", "1"],
        "plain read, N threads": [plain, "-j", str(threads)],
        "kbsearch-cli": [cli] + options.cli_option + [options.phrase],
        "kbsearch-cli -j 1": [cli, "-j", "1"] + options.cli_option + [options.phrase],
    }
    if options.baseline:
        old_cli = os.path.join(os.path.abspath(options.baseline), "cli", "kbsearch-cli")
        for name in ("kbsearch-cli", "kbsearch-cli -j 1"):
            commands["baseline " + name] = [old_cli] + commands[name][1:]
    ripgrep = shutil.which("rg")
    if ripgrep:
        commands["rg -l -i -F"] = [ripgrep, "-l", "-i", "-F", options.phrase, "ZEB"]

    print(f"{articles} article files, {options.runs} runs each, phrase \"{options.phrase}\", "
          f"N = {threads} threads; before: {load()}")
    for name, command in commands.items():
        _, _, status = run_once(command, options.kb)
        if status not in (0, 1):
            sys.exit(f"{name} failed with exit status {status}")

    times = {name: [] for name in commands}
    peaks = {name: [] for name in commands}
    for _ in range(options.runs):
        for name, command in commands.items():
            seconds, peak, _ = run_once(command, options.kb)
            times[name].append(seconds)
            peaks[name].append(peak)

    median = {name: statistics.median(values) for name, values in times.items()}
    for name, values in times.items():
        print(f"  {name.replace('N threads', f'{threads} threads'):33} median "
              f"{median[name] * 1000:8.1f} ms   best {min(values) * 1000:8.1f} ms"
              f"   peak RSS {max(peaks[name]) / 1024:6.1f} MiB")
    if not ripgrep:
        print(f"  {'rg -l -i -F':24} not installed")
    for numerator, denominator, most in TARGETS:
        ratio = median[numerator] / median[denominator]
        verdict = "ok" if ratio <= most else "MISSED"
        print(f"  {numerator} / {denominator.replace('N threads', f'{threads} threads')}: "
              f"{ratio:.3f} (at most {most:.2f}: {verdict})")
    if options.baseline:
        for name in ("kbsearch-cli", "kbsearch-cli -j 1"):
            ratio = median[name] / median["baseline " + name]
            verdict = "ok" if ratio <= MOST_AGAINST_BASELINE else "MISSED"
            print(f"  {name} / baseline {name}: {ratio:.3f} "
                  f"(at most {MOST_AGAINST_BASELINE:.2f}: {verdict})")
    if ripgrep:
        print(f"  rg / kbsearch-cli: {median['rg -l -i -F'] / median['kbsearch-cli']:.2f}"
              " (goal: at least 1.40)")

    # The memory of a thread: what a run with many threads holds at its peak beyond one with
    # a single thread.
    many = options.memory_threads
    single_peaks, many_peaks = [], []
    for _ in range(3):
        single_peaks.append(run_once([cli, "-j", "1", options.phrase], options.kb)[1])
        many_peaks.append(run_once([cli, "-j", str(many), options.phrase], options.kb)[1])
    single, several = statistics.median(single_peaks), statistics.median(many_peaks)
    print(f"  peak RSS kbsearch-cli -j 1 {single / 1024:.1f} MiB, -j {many} {several / 1024:.1f} "
          f"MiB: {(several - single) / (many - 1):.0f} KiB per further thread")
    print(f"  after: {load()}")

    if options.syscalls:
        for name in ("plain read, 1 thread", "kbsearch-cli -j 1"):
            counts = count_syscalls(commands[name], options.kb)
            total = sum(counts.values())
            busiest = ", ".join(f"{call} {count / articles:.2f}"
                                for call, count in counts.most_common(8))
            print(f"  {name:24} {total / articles:.2f} system calls per article: {busiest}")


if __name__ == "__main__":
    main()
