#pragma once

// A found article as the search hands it to its printers: a plain value, with what the search
// collected about it when the results asked for it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "app/base/shown_article.h"

namespace kb {

// What an order of the results weighs of a found article (app/search/result_order.h).
struct ArticleWeights {
  // The hits of each term of the query, in the view the search matches (the article's bytes,
  // or its text), folded as it folds: those ArticleMatcher::hits() counts.
  std::vector<uint64_t> term_hits = {};
  // The bytes of that view: the article's bytes, markup and all, or the bytes of its text.
  uint64_t length = 0;
  // Whether the article's title holds every term where a word starts (ArticleSnippets::title,
  // SnippetMaker::TitleHoldsTerms); false when it was not asked.
  bool title_holds_every_term = false;

  uint64_t hits() const {
    uint64_t sum = 0;
    for (const uint64_t hits : term_hits) sum += hits;
    return sum;
  }
  bool operator==(const ArticleWeights&) const = default;
};

// What the search collected about a found article, each part only when the results ask for it.
struct ArticleDetails {
  std::optional<ArticleSnippets> shown = {};   // with the snippets page (and its JSON)
  std::optional<ArticleWeights> weights = {};  // with an order by hits or by relevance
  bool operator==(const ArticleDetails&) const = default;
};

struct FoundArticle {
  std::string path = {};  // as the article was opened, whole ("./ZEB/ZEB1.htm")
  std::string excerpt =
      {};  // the bytes after the marker, at most kExcerptLength, trailing blanks off
  ArticleDetails details = {};
};

}  // namespace kb
