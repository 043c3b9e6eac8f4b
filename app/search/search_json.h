#pragma once

// What a search found, as JSON objects: the same objects for every front end that speaks JSON
// (kbsearch-cli --json wraps each in a line of its own; the search server gathers them into
// one answer).
//   match    {"path": D, "excerpt": D, "page_excerpt": D}, and with the snippets page also
//            "title": D, "hits": number, "snippets": [{"text": "...", "marks": [{"start": S,
//            "end": E}, ...]}, ...]: S and E are byte offsets into the snippet's text (a
//            snippet that is not UTF-8 has "bytes" in base64 in place of "text"); for words,
//            each mark also has "term": the place of the term it marks in the summary's terms;
//            a snippet whose passage a link can open at also has "fragment": what follows
//            "#" in that link (PassageFragment, app/page/snippets_page.h)
//   error    {"message": D, "code": number, "path": D or null}
//   summary  {"phrase": D, for words "terms": [{"word": D, "excluded": bool}, ...],
//             "elapsed_total": {"secs": number, "nanos": number, "human": "0.012345s"},
//             "stats": {"articles_listed": n, "articles_opened": n, "articles_matched": n,
//                       "articles_read": n},
//             "index": {"state": "...", "reason": "..." or null}}
// where D is arbitrary bytes: {"text": "..."} when they are valid UTF-8, else
// {"bytes": "..."} with the bytes in base64 (RFC 4648, padded). Every object is valid UTF-8
// and holds no raw byte below 0x20 (JSON's control characters; DEL, 0x7F, is not one and
// passes as it is, as older builds wrote it).

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/query.h"
#include "app/match/article_snippets.h"

namespace kb {

// `bytes` as a JSON string: '"' and '\' escaped, bytes below 0x20 as \n, \r, \t, \b, \f or
// \u00XX; every other byte, DEL (0x7F) included, as it is.
std::string JsonString(std::string_view bytes);

// `bytes` in base64, padded with "=".
std::string Base64(std::string_view bytes);

// `bytes` as {"text": ...} or {"bytes": ...}.
std::string JsonData(std::string_view bytes);

// A found article: its path, its excerpt as the search keeps it (raw bytes of the article)
// and as the results page shows it (app/page/excerpt_text.h), and what it shows on the snippets
// page when `snippets` is not null; with `words`, each mark says which term it marks.
std::string JsonMatchData(std::string_view path, std::string_view excerpt,
                          std::string_view page_excerpt, const ArticleSnippets* snippets = nullptr,
                          bool words = false);

// A reported failure: its message (lines joined by "\n"), its error number, and the file or
// folder it concerns; an empty path is written as null.
std::string JsonErrorData(std::string_view message, int64_t code, std::string_view path);

struct SearchSummary {
  std::string_view phrase;  // as the search compared it (upper-cased)
  std::chrono::nanoseconds elapsed{0};
  int32_t articles_listed = 0;
  int32_t articles_opened = 0;
  int32_t articles_matched = 0;
  int32_t articles_read = 0;  // those actually read: fewer than opened when an index spared some
  // What became of the article index: "used", "not used" or "built", and why not (empty: null).
  std::string_view index_state = "not used";
  std::string_view index_reason = {};
  // The terms of a words query; none for a phrase.
  const std::vector<QueryTerm>* terms = nullptr;
};

// What a search came to, in all.
std::string JsonSummaryData(const SearchSummary& summary);

}  // namespace kb
