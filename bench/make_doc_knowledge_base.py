#!/usr/bin/env python3
"""Makes a knowledge base of real documentation for the benchmarks: DIR/ZEB/ZEB*.htm and the templates.

The articles are HTML pages of documentation installed on this machine, by default the Rust
toolchain's (`rustc --print sysroot`/share/doc/rust/html, about 48,000 pages of 1 KB to
8 MB, median about 4 KB). Each page becomes one article with the marker put right after its
`<body ...>` tag, where a converter of pages into articles puts it, so the excerpt is the
start of the page's body; a page without a body tag gets it at its start. The pages are
taken evenly spread over their sorted paths, so every part of the documentation is in it.
The templates are the sample knowledge base's.

With more articles than there are pages (--articles 200000), every page is used again as
often as needed: each further use is a copy of its own, not a link, and holds a comment
after its `<head>` tag that names the copy, so no two articles have the same bytes and none
share their data on the disk or in the page cache.

    make_doc_knowledge_base.py [DIR] [--articles N] [--source HTML_DIR]

DIR is /tmp/doc-kb unless given, where run.py --snippets looks for it.

A phrase found in many articles of the Rust documentation: "unsafe pointer".
"""

import argparse
import os
import re
import shutil
import subprocess
import sys

MARKER = b"<!-- Article starts -->"
BODY_TAG = re.compile(rb"<body\b[^>]*>", re.IGNORECASE)
HEAD_TAG = re.compile(rb"<head\b[^>]*>", re.IGNORECASE)
DEFAULT_DIRECTORY = "/tmp/doc-kb"
SAMPLE = os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir, "sample")


def default_source():
    try:
        sysroot = subprocess.run(["rustc", "--print", "sysroot"], check=True,
                                 capture_output=True, text=True).stdout.strip()
    except (OSError, subprocess.CalledProcessError):
        return None
    return os.path.join(sysroot, "share", "doc", "rust", "html")


def html_pages(source):
    """The paths of every .html page under `source`, sorted, so a run is repeatable."""
    pages = []
    for folder, _, names in os.walk(source):
        pages.extend(os.path.join(folder, name) for name in names if name.endswith(".html"))
    pages.sort()
    return pages


def article_bytes(page, copy, number):
    """The article made from the bytes of `page`: the marker after its body tag and, for a
    `copy` beyond the first, a comment naming it after its head tag."""
    body = BODY_TAG.search(page)
    at = body.end() if body else 0
    article = page[:at] + MARKER + page[at:]
    if copy:
        head = HEAD_TAG.search(article)
        at = head.end() if head else 0
        note = f"<!-- copy {copy} of the page of article {number} -->".encode()
        article = article[:at] + note + article[at:]
    return article


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("directory", nargs="?", default=DEFAULT_DIRECTORY)
    parser.add_argument("--articles", type=int, default=40_000,
                        help="how many articles; more than the pages makes distinct copies")
    parser.add_argument("--source", default=default_source(),
                        help="the folder of HTML pages (default: the Rust documentation)")
    options = parser.parse_args()
    if options.articles < 1:
        sys.exit("--articles must be at least 1")
    if not options.source or not os.path.isdir(options.source):
        sys.exit(f"no folder of documentation pages: {options.source} (give one with --source)")

    pages = html_pages(options.source)
    if not pages:
        sys.exit(f"no .html pages under {options.source}")
    articles = os.path.join(options.directory, "ZEB")
    if os.path.isdir(articles) and os.listdir(articles):
        sys.exit(f"{articles} is not empty: give a new folder, so no article of another run stays")
    os.makedirs(articles, exist_ok=True)
    for template in ("lheader.htm", "lfooter.htm"):
        shutil.copyfile(os.path.join(SAMPLE, template),
                        os.path.join(options.directory, template))

    width = len(str(options.articles - 1))
    total = 0
    for number in range(options.articles):
        if options.articles <= len(pages):
            index, copy = number * len(pages) // options.articles, 0
        else:
            index, copy = number % len(pages), number // len(pages)
        with open(pages[index], "rb") as page:
            article = article_bytes(page.read(), copy, index)
        with open(os.path.join(articles, f"ZEB{number:0{width}d}.htm"), "wb") as out:
            out.write(article)
        total += len(article)
    print(f"{options.articles} articles from {len(pages)} pages of {options.source}, "
          f"{total / 1e6:.0f} MB ({total / options.articles / 1000:.1f} KB mean), in {articles}")


if __name__ == "__main__":
    main()
