#!/usr/bin/env python3
"""Writes app/html_named_references.cpp: the named character references of HTML and the text
each stands for, from the list that ships with Python (html.entities.html5).

    tools/make_html_references.py [OUTPUT]

Run it again when that list changes; the file it writes is committed as it stands.
"""

import html.entities
import os
import sys

HEADER = """\
// The named character references of HTML and the UTF-8 text each stands for, sorted by name.
// Written by tools/make_html_references.py from Python's html.entities.html5; do not edit.

#include "app/html_named_references.h"

#include <algorithm>
#include <iterator>

namespace kb {
namespace {

struct NamedReference {
  std::string_view name;  // with its ";" where the reference needs one
  std::string_view text;
};

constexpr NamedReference kNamedReferences[] = {
"""

FOOTER = """\
};

}  // namespace

static_assert(kLongestReferenceName == %d);
static_assert(kLongestNameWithoutSemicolon == %d);

std::string_view NamedReferenceText(std::string_view name) {
  const auto found =
      std::lower_bound(std::begin(kNamedReferences), std::end(kNamedReferences), name,
                       [](const NamedReference& reference, std::string_view sought) {
                         return reference.name < sought;
                       });
  return found != std::end(kNamedReferences) && found->name == name ? found->text : "";
}

}  // namespace kb
"""


def c_string(data):
    """A C++ string literal of `data`: letters and digits as they are, every other byte in
    octal, so that no escape runs into the character after it."""
    def plain(byte):
        return byte < 0x80 and (chr(byte).isalnum() or chr(byte) == ";")
    return '"' + "".join(chr(b) if plain(b) else f"\\{b:03o}" for b in data) + '"'


def main():
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    output = sys.argv[1] if len(sys.argv) > 1 else os.path.join(root, "app",
                                                                "html_named_references.cpp")
    references = sorted((name.encode("ascii"), text.encode("utf-8"))
                        for name, text in html.entities.html5.items())
    longest = max(len(name.rstrip(b";")) for name, _ in references)
    longest_bare = max(len(name) for name, _ in references if not name.endswith(b";"))
    with open(output, "w", encoding="ascii", newline="\n") as out:
        out.write(HEADER)
        for name, text in references:
            out.write(f"    {{{c_string(name)}, {c_string(text)}}},\n")
        out.write(FOOTER % (longest, longest_bare))


if __name__ == "__main__":
    main()
