#pragma once

// The rows of the snippets page: the results page whose rows say why each article matched.
// A row begins with the classic row's link line; its second cell holds, each in an element
// whose class a template's style sheet may style, the article's title (kb-title), its
// excerpt as the classic row shows it (kb-excerpt), its snippets with every occurrence of the
// phrase in <mark> (kb-snippet), and its number of hits (kb-hits). The title links to the
// article, and each snippet to the article opened at its passage (PassageUrl). Unstyled, the title
// is bold, the excerpt and hits are small, and a mark is orange, which shows on the results table's
// yellow (a style sheet restyles it with !important). Every text of the article is escaped: no
// markup of an article reaches the page.

#include <cstdint>
#include <string>
#include <string_view>

#include "app/match/article_snippets.h"

namespace kb {

// The row for the article at `path`, with its excerpt (raw bytes after the marker) and what
// it shows: its lines as the page holds them, each but the last ended with CR LF. Its links
// start with `link_base` (ArticleHref).
std::string SnippetsRow(std::string_view path, std::string_view excerpt,
                        const ArticleSnippets& shown, std::string_view link_base = {});

// `snippet` as HTML: its text escaped, each mark in an orange <mark>.
std::string MarkedSnippet(const Snippet& snippet);

// The URL of the article at `path` (PercentEncodePath) opened at `link`: "#" and the id, if
// any (encoded as a path is), then ":~:text=" and the text fragment, if any: the prefix and
// "-,", the text, ",-" and the suffix, each percent-encoded (PercentEncodeFragmentText), so
// that a browser that knows text fragments scrolls to the passage and highlights it, and one
// that does not lands at the element of the id.
std::string PassageUrl(std::string_view path, const PassageLink& link,
                       std::string_view link_base = {});

// What PassageUrl puts after "#" (ASCII, percent-encoded): empty when `link` has neither an
// id nor a text fragment.
std::string PassageFragment(const PassageLink& link);

// `text` for a text fragment in a URL: every byte but A-Z a-z 0-9 . _ and ~ as % and
// two upper-case hex digits ("-", "&" and "," among them, which a text fragment gives a
// meaning to).
std::string PercentEncodeFragmentText(std::string_view text);

// "1 hit", or "N hits".
std::string HitsText(int64_t hits);

}  // namespace kb
