#pragma once

// What the scan asks of a matcher: whether one article, fed piece by piece in file order, is a
// result of the query, its excerpt, and where the terms' hits are. An article is a result
// when it holds the query (every required term, no excluded one, as the matcher compares them)
// in the part of the page that is the article (its region, app/match/article_region.h), and
// the marker "<!-- Article starts -->" byte for byte (or, with another marker, when its region
// begins); its excerpt is what follows the first marker. Two matchers exist: ArticleMatcher
// for the query of one phrase (app/match/article_matcher.h) and WordsMatcher for words
// (app/match/words_matcher.h); MakeQueryMatcher chooses. Both take the marker and the excerpt
// through ArticleMarker below, so that the excerpt and when an article is settled follow one
// rule.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/query.h"
#include "app/match/html_text.h"
#include "app/match/match_settings.h"
#include "app/match/phrase_finder.h"

namespace kb {

// The longest excerpt taken after the marker.
inline constexpr std::size_t kExcerptLength = 201;

// Whether a page is an article, and its excerpt, from its bytes fed in order. With the default
// marker (ArticlePart::has_default_marker) a page is an article when its bytes hold the marker,
// and the excerpt is the bytes that follow the first marker. With another marker, a page is an
// article when its region begins (app/match/article_region.h), and the excerpt is the start of
// the region's text (HtmlText, markup and ignored elements left out, without the blank it may
// begin with), with "&", "<" and ">" written as references, so that it reads as the bytes of
// an article do; kExcerptLength bytes at most, never cutting a reference or a character.
class ArticleMarker {
 public:
  explicit ArticleMarker(const ArticlePart& part = {});
  void Restart();
  // The page's next bytes, `piece`, and what the region holds of them, `region`, as
  // ArticleRegion gives them; `region_started` once it has begun.
  void Feed(std::string_view piece, std::string_view region, bool region_started);
  // The page has ended.
  void Finish();
  bool found() const { return default_marker_ ? marker_.found() : region_started_; }
  // At most kExcerptLength bytes, without trailing blanks.
  std::string_view excerpt() const;
  // Whether the marker and the whole excerpt are in: no further byte changes them.
  bool complete() const {
    return default_marker_ ? Complete(found(), excerpt_.size()) : found() && excerpt_full_;
  }

  // The one rule for when an article's outcome is settled, as far as the default marker goes:
  // the marker is found and the excerpt after it is whole. What reads an article in parts asks
  // it of each part and of the parts put together.
  static bool Complete(bool marker_found, std::size_t excerpt_bytes) {
    return marker_found && excerpt_bytes == kExcerptLength;
  }

  // The excerpt that follows a default marker at `marker_at`, gathered from a piece of the
  // article that starts at `piece_start` onto what `excerpt` holds so far: the one rule for it.
  static void CollectExcerpt(uint64_t marker_at, std::string_view piece, uint64_t piece_start,
                             std::string& excerpt);

 private:
  // Adds the text of the region to the excerpt, as far as it takes.
  void AddText(std::string_view text);

  bool default_marker_;
  StreamSearch marker_;
  std::optional<HtmlText> text_;  // of the region, with another marker
  bool region_started_ = false;
  bool excerpt_full_ = false;
  std::string excerpt_;
};

class QueryMatcher {
 public:
  virtual ~QueryMatcher() = default;

  // Forgets the previous article.
  virtual void StartArticle() = 0;
  // The next bytes of the article.
  virtual void Feed(std::string_view piece) = 0;
  // The article has ended: what the steps held back in case more followed is looked at.
  virtual void FinishArticle() = 0;

  // Whether the article holds the query, and the marker.
  virtual bool is_result() const = 0;
  // At most kExcerptLength bytes that follow the first marker, without trailing blanks.
  virtual std::string_view excerpt() const = 0;
  // True when no further byte can change the outcome or the excerpt, so the rest of the
  // article need not be read.
  virtual bool settled() const = 0;

  // Whether the matcher counts every hit, and so needs every byte of the article.
  virtual bool counts_hits() const = 0;
  // When it counts them, once the article has ended: the hits of all the terms together, and
  // of each term in the query's order (0 for the excluded ones). A term's hits are its
  // occurrences that do not overlap, from left to right, in the view the settings search.
  virtual uint64_t hits() const = 0;
  virtual std::span<const uint64_t> term_hits() const = 0;
  // When it counts them, once the article has ended: the bytes of the view the settings
  // search, before any folding (the article's bytes, markup and all, or its text).
  virtual uint64_t length() const = 0;
  // Where the first hits of the first term start in the article's bytes, when the matcher
  // counts them in the bytes themselves; else none.
  virtual std::span<const uint64_t> hit_starts() const = 0;

  // When the matcher is the plain byte search of one phrase, that phrase as sought (a-z
  // matching A-Z): what a stretch of bytes holds then does not depend on the bytes before it,
  // so that the reading of a large article may be shared out (app/scan/large_article_scan.h).
  // Else empty.
  virtual std::string_view byte_phrase() const = 0;
  // When the matcher is the plain byte search of the whole page (its bytes as they are, a-z
  // matching A-Z and no other byte folded): each of the query's terms as sought, in the
  // query's order (the phrase alone for a phrase), each found only where those bytes hold it,
  // so that a few of the article's bytes read apart may tell that a term is not there. Else
  // none.
  virtual std::vector<std::string_view> byte_terms() const = 0;
};

// The matcher for `query` under `settings`; with StreamSearch::Count::kAll it counts hits.
std::unique_ptr<QueryMatcher> MakeQueryMatcher(
    const Query& query, const MatchSettings& settings,
    StreamSearch::Count hits = StreamSearch::Count::kFirstOnly);

}  // namespace kb
