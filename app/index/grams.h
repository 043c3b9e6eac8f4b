#pragma once

// The 4-grams the article index is made of: every run of four consecutive bytes of an
// article's stream, letters a-z taken as A-Z, as one 32-bit number (the first byte highest).
// Two streams are kept per article: the bytes of its region as they are, and the text of its
// region as the text search sees it (app/match/article_region.h, app/match/html_text.h). An article
// can hold the phrase only when its grams include every gram of the phrase, so the index names the
// articles worth reading; the matcher decides.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/query.h"
#include "app/match/article_region.h"
#include "app/match/html_text.h"
#include "app/match/match_settings.h"

namespace kb::index {

inline constexpr std::size_t kGramLength = 4;

// Which of an article's two gram sets a search looks in.
enum class GramView { kBytes, kText };

// The grams of one article, fed piece by piece in file order; the outcome does not depend on
// how it is cut.
class ArticleGrams {
 public:
  // `part`: which part of each page is the article.
  explicit ArticleGrams(const ArticlePart& part = {})
      : bytes_region_(part, /*drops_ignored=*/false), text_region_(part, /*drops_ignored=*/true) {}

  void Feed(std::string_view piece);
  // The article has ended; its grams, each once, in ascending order.
  void Finish();
  const std::vector<uint32_t>& grams(GramView view) const {
    return view == GramView::kBytes ? bytes_.grams : text_.grams;
  }

 private:
  struct Stream {
    uint32_t last = 0;    // the last four bytes seen, folded
    std::size_t fed = 0;  // bytes seen, up to kGramLength
    // Each gram seen once: most of an article's grams repeat, and sorting every one of them
    // cost more than reading it. An open-addressed set; kEmptySlot stands in for no gram, and
    // whether that gram itself was seen is kept apart.
    std::vector<uint32_t> seen;
    std::size_t seen_count = 0;
    bool seen_empty_slot = false;
    std::vector<uint32_t> grams;
    void Feed(std::string_view piece);
    void Add(uint32_t gram);
    void Finish();
  };
  Stream bytes_;
  Stream text_;
  ArticleRegion bytes_region_;
  ArticleRegion text_region_;
  HtmlText html_;
};

// What the index can do for one phrase under one set of match settings.
struct PhraseGrams {
  // Why the index cannot answer exactly, for the search's summary; empty when it can.
  std::string_view refusal;
  GramView view = GramView::kBytes;
  // Every article that matches holds each of these; at least one when there is no refusal.
  std::vector<uint32_t> grams;
};

inline constexpr std::string_view kRefusedMode = "mode";
inline constexpr std::string_view kRefusedShortPhrase = "short phrase";

// The grams of `phrase` (as the user typed it) that every article it matches holds, the
// settings comparing. Unicode folding and ignored accents are refused, and so is a phrase
// shorter than a gram as the search looks for it. A gram that holds a byte which the case
// pairs make equal to a byte that the letters a-z alone would not is left out: it would miss
// articles that spell it the other way.
PhraseGrams GramsOfPhrase(std::string_view phrase, const MatchSettings& settings);

// The grams that every article `query` matches holds: a phrase's, or those of every required
// term of words together. Terms shorter than a gram add none, nor do excluded terms; a query
// none of whose terms adds any is refused as the phrase would be.
PhraseGrams GramsOfQuery(const Query& query, const MatchSettings& settings);

// Every gram of a whole text, as ArticleGrams finds them in a stream of bytes.
std::vector<uint32_t> GramsOf(std::string_view text);

}  // namespace kb::index
