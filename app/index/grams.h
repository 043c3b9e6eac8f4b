#pragma once

// The 4-grams the article index is made of: every run of four consecutive bytes of an
// article's stream, letters a-z taken as A-Z, as one 32-bit number (the first byte highest).
// Two streams are kept per article: the bytes of its region as they are, and the text of its
// region as the text search sees it (app/match/article_region.h, app/match/html_text.h). An article
// can hold the phrase only when the grams of one stretch of it include every gram of the phrase,
// so the index names the articles worth reading; the matcher decides.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/knowledge_base.h"
#include "app/base/query.h"
#include "app/match/article_region.h"
#include "app/match/html_text.h"
#include "app/match/match_settings.h"
#include "app/scan/article_filter.h"

namespace kb::index {

inline constexpr std::size_t kGramLength = 4;
// An article's grams are kept by stretches of its stream: a stretch holds the grams that start
// within its kStretchBytes, or within the kStretchOverlap bytes past them. A phrase's grams must
// all lie in one stretch, while a long article holds nearly every gram of common words somewhere,
// far apart: in 40,000 pages of documentation, phrases of three words found in a few articles
// left three times the bytes to read without stretches. Every phrase (at most 100 characters of
// four bytes) lies whole in one stretch.
inline constexpr std::size_t kStretchBytes = 8192;
inline constexpr std::size_t kStretchOverlap = 1024;
static_assert(kStretchOverlap + kGramLength >= kMaxSearchTextBytes);
// The stretches of one article, at most: the last one holds the grams of the article's rest.
inline constexpr std::size_t kMostStretches = std::size_t{1} << 16;

// The bytes of the stream whose grams stretch `stretch` holds (its `end` past the stream's end
// for the last stretch): an occurrence of a phrase whose grams that stretch holds from its
// first byte in the stretch's own kStretchBytes lies whole within them.
ByteRange BytesOfStretch(std::size_t stretch);

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
  // The article has ended.
  void Finish();
  // After Finish: the grams of each stretch of the stream, in stream order, each once and in
  // ascending order; none for a stream shorter than a gram.
  const std::vector<std::vector<uint32_t>>& stretches(GramView view) const {
    return view == GramView::kBytes ? bytes_.stretches : text_.stretches;
  }

 private:
  // Each gram of a stretch once: most of an article's grams repeat, and sorting every one of
  // them cost more than reading it. An open-addressed set; kEmptySlot stands in for no gram,
  // and whether that gram itself was seen is kept apart.
  struct GramSet {
    std::vector<uint32_t> seen;
    std::size_t seen_count = 0;
    bool seen_empty_slot = false;
    void Add(uint32_t gram);
    // The grams seen, sorted; the set is left empty.
    std::vector<uint32_t> Take();
  };
  struct Stream {
    uint32_t last = 0;    // the last four bytes seen, folded
    std::size_t fed = 0;  // bytes seen
    // The stretches still taking grams: `open_first` and the one after it.
    std::size_t open_first = 0;
    GramSet open[2];
    std::vector<std::vector<uint32_t>> stretches;
    void Feed(std::string_view piece);
    void Add(uint32_t gram, std::size_t start);
    // Closes the open stretches before `stretch`.
    void CloseBefore(std::size_t stretch);
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
  // Every article that matches holds, for each group, every gram of the group in one stretch:
  // one group for a phrase, one for each required term of words. At least one gram when there
  // is no refusal; each group sorted.
  std::vector<std::vector<uint32_t>> groups;
  // For each group, the place of its term among the query's terms (0 for a phrase).
  std::vector<std::size_t> terms;
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

// Every gram of a whole text, as ArticleGrams finds them in a stream of bytes, each once and in
// ascending order, whatever its stretch.
std::vector<uint32_t> GramsOf(std::string_view text);

}  // namespace kb::index
