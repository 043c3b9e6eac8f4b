#pragma once

// How the results page shows what a search found. A plain value; the defaults are the
// classic page: one row per article with its path and the lines that begin it.

namespace kb {

enum class ResultsStyle {
  kClassic,   // each row the article's link and excerpt
  kSnippets,  // and its title, the text around its first hits with the phrase marked, its hits
};

enum class ResultsOrder {
  kName,       // the listing order
  kHits,       // by hits, most first, ties in listing order
  kRelevance,  // titles that hold the query first, then by relevance (app/search/result_order.h)
};

struct ResultsSettings {
  ResultsStyle style = ResultsStyle::kClassic;
  // The snippets page's rows; the classic page's are always in listing order.
  ResultsOrder order = ResultsOrder::kName;
};

}  // namespace kb
