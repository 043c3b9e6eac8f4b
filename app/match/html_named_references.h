#pragma once

// The named character references of HTML ("&amp;", "&eacute;", "&NotEqualTilde;"), the full
// set browsers know. Most need their ";"; a few old ones ("&amp", "&copy") are also known
// without it. The table, html_named_references.inc, is written by
// tools/make_html_references.py.

#include <cstddef>
#include <string_view>

namespace kb {

// The most letters and digits a reference's name has, and the most that one known without
// its ";" has.
inline constexpr std::size_t kLongestReferenceName = 31;
inline constexpr std::size_t kLongestNameWithoutSemicolon = 6;

// The UTF-8 text that "&" followed by `name` stands for, with `name` holding the ";" that
// ends it, if any ("amp;" and "amp" both give "&"); empty when `name` is no reference.
std::string_view NamedReferenceText(std::string_view name);

}  // namespace kb
