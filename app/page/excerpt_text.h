#pragma once

// What a reader sees of an excerpt: the words that begin an article, without its markup.
// An excerpt is raw bytes of the article (up to 201 after the marker) and may hold tags,
// comments, scripts, character references and a character cut in two at its end; on the
// results page it is shown as text, and no markup of an article ever reaches the page.

#include <string>
#include <string_view>

#include "app/match/article_matcher.h"

namespace kb {

// The page text of `excerpt`, in this order:
//  1. When the excerpt without its trailing blanks is kExcerptLength bytes long (the article
//     went on after it), every byte of it is well-formed UTF-8 but its last bytes, and those
//     are the start of a well-formed sequence that the cut ended too early, they are dropped:
//     a character cut by the limit is not shown as a broken one. A Latin-1 excerpt is not
//     UTF-8 and keeps every byte.
//  2. From left to right:
//     - markup, as HtmlMarkup reads it (app/match/html_markup.h), is dropped: tags, comments,
//       declarations, and the contents of a script or style up to its end tag; what an
//       excerpt ends inside is dropped to its end, but for a "<" or "</" that ends it, which
//       is text;
//     - "<", ">" and '"' of the text become &lt;, &gt; and &quot;;
//     - "&" that begins a well-formed character reference is kept as it is: "&", a letter,
//       up to 31 letters or digits and ";"; or "&#", 1 to 7 digits and ";"; or "&#x" (or
//       "&#X"), 1 to 6 hex digits and ";". Every other "&" becomes &amp;;
//     - every other byte stays, CR, LF and tab included.
//  3. Trailing blanks are removed.
std::string ExcerptText(std::string_view excerpt);

}  // namespace kb
