#!/usr/bin/env python3
"""Makes a synthetic knowledge base for the benchmarks: DIR/ZEB/ZEB*.htm and the templates.

Article sizes spread from 1 KB to 200 KB around a median of about 10 KB (mean about 12 KB),
so a few are larger than 60,000 bytes; one more article of 50 MB can be added. Most
articles hold the marker; some hold the benchmark phrase in mixed case, before or after
the marker. With --non-ascii, that share of the words are written in UTF-8 with letters
beyond ASCII (accented Latin, Greek, Cyrillic), as in articles written in other languages.

    make_knowledge_base.py DIR [--articles N] [--huge-mb M] [--seed S] [--non-ascii SHARE]
"""

import argparse
import math
import os
import random

PHRASE = "zephyr gateway"  # its words are not in the vocabulary: only planted copies match
MARKER = "<!-- Article starts -->"
WORDS = (
    "the of and to in a is that for it as was with be by on not he this are or his from at "
    "which but have an they you were her she there been one all we their has would when if "
    "so no will more about up out who get them some could into what time other than then "
    "printer network driver install settings update window search folder file open close "
    "click select user account password server mail message print page document backup "
    "restore disk memory screen display keyboard mouse cable power reset error warning "
    "Windows Setup Control Panel Device Manager Office Outlook Excel Word System Help"
).split()
NON_ASCII_WORDS = (
    "été Größe naïve Café façade Straße über Ärger niño déjà-vu résumé Ελλάδα σύστημα "
    "ΣΦΑΛΜΑ Привет сеть ПРИНТЕР Øre Åland İstanbul ﬁle K"
).split()
TAGS = ["<p>", "</p>", "<b>", "</b>", "<br>", "<li>", "</li>", '<a href="ZEB00001.htm">', "</a>"]


def make_pool(rng, size, non_ascii):
    """About `size` bytes of article-like text: words, some markup, CR LF line ends; the
    share `non_ascii` of the words beyond ASCII."""
    pieces, length, column = [], 0, 0
    while length < size:
        piece = rng.choice(TAGS) if rng.random() < 0.06 else rng.choice(WORDS)
        if non_ascii and piece in WORDS and rng.random() < non_ascii:
            piece = rng.choice(NON_ASCII_WORDS)
        if column > 70:
            piece += "\r\n"
            column = 0
        else:
            piece += " "
            column += len(piece)
        pieces.append(piece)
        length += len(piece)
    return "".join(pieces).encode("utf-8")


def mixed_case(rng, text):
    return "".join(c.upper() if rng.random() < 0.5 else c for c in text)


def article_size(rng):
    size = int(math.exp(rng.gauss(math.log(10_000), 0.6)))
    return max(1_000, min(200_000, size))


def write_article(path, rng, pool, size, planted):
    title = f"<html><head><title>Article {os.path.basename(path)}</title></head><body>\r\n"
    head = title.encode()
    if rng.random() < 0.9:
        head += f"<h1>Topic</h1>\r\n{MARKER}".encode()
    start = rng.randrange(0, len(pool) - size)
    body = bytearray(head + pool[start:start + max(0, size - len(head))])
    if planted:
        at = rng.randrange(0, len(body))
        body[at:at] = b" " + mixed_case(rng, PHRASE).encode() + b" "
    with open(path, "wb") as out:
        out.write(body)


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("directory")
    parser.add_argument("--articles", type=int, default=40_000)
    parser.add_argument("--huge-mb", type=int, default=50, help="0 for no huge article")
    parser.add_argument("--phrase-share", type=float, default=0.02)
    parser.add_argument("--seed", type=int, default=1)
    parser.add_argument("--non-ascii", type=float, default=0.0)
    options = parser.parse_args()

    rng = random.Random(options.seed)
    pool = make_pool(rng, 1 << 20, options.non_ascii)
    articles = os.path.join(options.directory, "ZEB")
    os.makedirs(articles, exist_ok=True)
    with open(os.path.join(options.directory, "lheader.htm"), "wb") as out:
        out.write(b"<!DOCTYPE html>\r\n<html><head><meta charset=\"utf-8\"></head><body>\r\n")
    with open(os.path.join(options.directory, "lfooter.htm"), "wb") as out:
        out.write(b"</body></html>\r\n")

    article_bytes = 0
    for number in range(options.articles):
        size = article_size(rng)
        planted = rng.random() < options.phrase_share
        write_article(os.path.join(articles, f"ZEB{number:05d}.htm"), rng, pool, size, planted)
        article_bytes += size
    if options.huge_mb > 0:
        path = os.path.join(articles, "ZEBhuge.htm")
        with open(path, "wb") as out:
            out.write(f"<html><body>{MARKER}\r\n".encode())
            for _ in range(options.huge_mb):
                out.write(pool[: 1 << 20])
            out.write(mixed_case(rng, PHRASE).encode() + b" at the very end\r\n")
    print(f"{options.articles} articles, {article_bytes / options.articles / 1000:.1f} KB mean"
          f"{f', and one of {options.huge_mb} MB' if options.huge_mb else ''}, in {articles}")


if __name__ == "__main__":
    main()
