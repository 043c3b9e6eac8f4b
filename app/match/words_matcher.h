#pragma once

// Decides whether one article is a result of a words query (app/base/query.h), from its bytes
// fed piece by piece in file order: it holds every required term and no excluded one, each
// where a word starts, in the article's region (app/match/article_region.h), and the marker
// (app/match/query_matcher.h).
//
// The terms are looked for in the view the settings search, as the phrase is
// (app/match/article_matcher.h): the article's bytes or its text, folded as they say. A term
// is found where it starts a word: where the character before it in that view, before
// folding, is no letter, mark or digit (Unicode categories L, M and N), or where nothing is
// before it. A byte of 80 hex or more that starts no valid UTF-8 sequence counts as a letter,
// so that words in a single-byte code page stay whole. A term that does not begin with a
// letter or a digit (".NET") is found anywhere.
//
// The outcome does not depend on how the article is cut into pieces. Memory stays bounded:
// besides the steps' own, the last bytes of the folded view are kept, as many as a term can
// span, with what is known of the characters before them.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/query.h"
#include "app/match/article_region.h"
#include "app/match/html_text.h"
#include "app/match/match_settings.h"
#include "app/match/phrase_finder.h"
#include "app/match/query_matcher.h"
#include "app/match/unicode_folding.h"

namespace kb {

// Whether `code_point` is a letter, a mark or a digit: a character within a word.
bool IsWordCharacter(char32_t code_point);

// A hit of one term, where a view holds it: the characters of the view that folded into it.
struct WordHit {
  std::size_t term = 0;  // its place among the query's terms
  uint64_t start = 0;
  uint64_t end = 0;
  bool operator==(const WordHit&) const = default;
};

class WordsMatcher final : public QueryMatcher {
 public:
  // The hits of every term of `query` in `view`, a text that is already the view the search
  // looks at (the text step is not applied again), folded as `settings` say; in order of
  // their starts. Each term's hits are those the matcher counts, the first `most` of each at
  // most (so that a text full of them takes bounded room); `term_hits`, when given, gets how
  // many each term has in all.
  static std::vector<WordHit> HitsIn(const Query& query, const MatchSettings& settings,
                                     std::string_view view, std::size_t most = SIZE_MAX,
                                     std::vector<uint64_t>* term_hits = nullptr);

  // The terms of `query` are put through the settings' rules once, here. A term that the
  // rules leave empty (a lone accent when accents are ignored) is never found.
  WordsMatcher(const Query& query, const MatchSettings& settings,
               StreamSearch::Count hits = StreamSearch::Count::kFirstOnly);

  void StartArticle() override;
  void Feed(std::string_view piece) override;
  void FinishArticle() override;

  bool is_result() const override;
  std::string_view excerpt() const override { return marker_.excerpt(); }
  bool settled() const override;

  bool counts_hits() const override { return counts_hits_; }
  uint64_t hits() const override;
  std::span<const uint64_t> term_hits() const override { return term_hits_; }
  uint64_t length() const override { return text_ ? text_length_ : region_length_; }
  // Where the hits counted of the required terms start in the article's bytes, in order, when
  // the matcher counts them in the bytes of the whole page without Unicode folding (where a
  // hit's place in the bytes is where it was found), the article was looked at to its end (no
  // excluded term found), and they are kMostHitStartsKept at most; else none.
  std::span<const uint64_t> hit_starts() const override;
  static constexpr std::size_t kMostHitStartsKept = 1024;
  std::string_view byte_phrase() const override { return {}; }
  std::vector<std::string_view> byte_terms() const override;

 private:
  struct Term {
    std::string sought;  // put through the settings' rules
    PhraseFinder finder;
    bool excluded;
    bool at_word_start;  // found only where a word starts
    uint64_t next = 0;   // where its next hit counted may start: the last one's end
  };

  // A character beyond ASCII, or a byte that starts no valid UTF-8 sequence, as the Unicode
  // folding turned it into folded bytes: where those are in the folded view, where the
  // character was in the view, and whether it is in a word.
  struct Folded {
    uint64_t folded_start;
    uint64_t folded_end;
    uint64_t view_start;
    uint64_t view_end;
    bool in_word;
  };

  // Passes a piece of the view (the bytes, or the text) through the folding, and looks for
  // the terms in it.
  void SearchView(std::string_view view);
  // With Unicode folding: folds the characters of `view` from its start that are whole onto
  // window_, noting those beyond ASCII; gives where they end. At the end of the article every
  // byte left is taken as itself.
  std::size_t FoldCharacters(std::string_view view, bool at_end);
  // Looks for the terms in the window, then keeps its last bytes for the next piece.
  void SearchWindow();
  // Without Unicode folding: whether a word starts at `at` of the window, asked of the bytes
  // before it.
  bool WordStartsAt(std::size_t at) const;
  // With Unicode folding, of the folded view: the character beyond ASCII whose folding holds
  // `position`, if any; whether a word starts at `position` (the start of a character's
  // folding, after a character that is in no word); and where `position` came from in the
  // view.
  const Folded* FoldedHolding(uint64_t position) const;
  bool FoldedWordStartsAt(uint64_t position) const;
  uint64_t ViewOffset(uint64_t position) const;
  // Whether the terms make the article no result whatever follows: an excluded one was found,
  // or a required one can never be.
  bool terms_rule_out() const;
  // Whether the outcome of the terms is known whatever follows, and no hit is left to count.
  bool terms_settled() const;

  std::vector<Term> terms_;
  std::optional<HtmlText> text_;   // when the text is matched
  uint64_t text_length_ = 0;       // the bytes text_ gave for the article so far
  const UnicodeFolding* unicode_;  // null unless the settings fold Unicode
  CaseTable table_;                // else: bytes of 80 hex and above fold through it
  // Without Unicode folding, when the case table folds bytes above 7F: the window's bytes as
  // they are are kept in raw_.
  bool maps_bytes_ = false;
  bool counts_hits_;
  std::size_t overlap_ = 0;    // the longest sought term's size, less 1
  std::string held_;           // the start of a UTF-8 sequence cut by a piece's end
  std::string window_;         // the folded view's last bytes: those kept, then new ones
  std::string raw_;            // see maps_bytes_
  uint64_t window_start_ = 0;  // where window_ starts in the folded view
  std::size_t kept_ = 0;       // bytes of window_ kept from the last piece
  // With Unicode folding: the characters beyond ASCII from the window's start on, and how far
  // the view ran ahead of the folded view at the end of the last one dropped.
  std::vector<Folded> beyond_ascii_;
  uint64_t dropped_shift_ = 0;
  uint64_t view_folded_ = 0;         // bytes of the view folded so far
  std::vector<uint64_t> term_hits_;  // for each term, its hits (or, not counting, 0 or 1)
  // For HitsIn: the hits are recorded, as many of each term as most_recorded_.
  bool records_hits_ = false;
  std::size_t most_recorded_ = 0;
  std::vector<WordHit> hits_;
  // For hit_starts: whether the starts are kept, and whether there were more than are kept.
  bool keeps_starts_ = false;
  bool starts_overflowed_ = false;
  std::vector<uint64_t> starts_;
  ArticleRegion region_;
  uint64_t region_length_ = 0;  // the bytes region_ gave for the article so far
  ArticleMarker marker_;
};

}  // namespace kb
