#pragma once

// The rows of the snippets page: the results page whose rows say why each article matched.
// A row begins with the classic row's link line; its second cell holds, each in an element
// whose class a template's style sheet may style, the article's title (kb-title), its
// excerpt as the classic row shows it (kb-excerpt), its snippets with every occurrence of the
// phrase in <mark> (kb-snippet), and its number of hits (kb-hits). Unstyled, the title is
// bold, the excerpt and hits are small, and a mark is orange, which shows on the results
// table's yellow (a style sheet restyles it with !important). Every text of the article is escaped:
// no markup of an article reaches the page.

#include <cstdint>
#include <string>
#include <string_view>

#include "app/match/article_snippets.h"

namespace kb {

// The row for the article at `path`, with its excerpt (raw bytes after the marker) and what
// it shows: its lines as the page holds them, each but the last ended with CR LF.
std::string SnippetsRow(std::string_view path, std::string_view excerpt,
                        const ArticleSnippets& shown);

// `snippet` as HTML: its text escaped, each mark in an orange <mark>.
std::string MarkedSnippet(const Snippet& snippet);

// "1 hit", or "N hits".
std::string HitsText(int64_t hits);

}  // namespace kb
