#pragma once

// What the scan asks of a matcher: whether one article, fed piece by piece in file order, is a
// result of the query, its excerpt, and where the terms' hits are. An article is a result
// when it holds the query (every required term, no excluded one, as the matcher compares them)
// and the marker "<!-- Article starts -->" byte for byte; its excerpt is what follows the
// first marker. Two matchers exist: ArticleMatcher for the query of one phrase
// (app/match/article_matcher.h) and WordsMatcher for words (app/match/words_matcher.h);
// MakeQueryMatcher chooses. Both take the marker and the excerpt from the article's bytes,
// through ArticleMarker below, so that the excerpt and when an article is settled follow one
// rule.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "app/base/query.h"
#include "app/match/match_settings.h"
#include "app/match/phrase_finder.h"

namespace kb {

inline constexpr std::string_view kArticleMarker = "<!-- Article starts -->";
// The longest excerpt taken after the marker.
inline constexpr std::size_t kExcerptLength = 201;

// The marker and the excerpt after it, looked for in an article's bytes fed in order.
class ArticleMarker {
 public:
  ArticleMarker() : marker_(kArticleMarker, PhraseFinder::Case::kExact) {
    excerpt_.reserve(kExcerptLength);
  }
  void Restart();
  void Feed(std::string_view piece);
  bool found() const { return marker_.found(); }
  // At most kExcerptLength bytes that follow the first marker, without trailing blanks.
  std::string_view excerpt() const;
  // Whether the marker and the whole excerpt after it are in: no further byte changes them.
  bool complete() const { return Complete(found(), excerpt_.size()); }

  // The one rule for when an article's outcome is settled, as far as the marker goes: the
  // marker is found and the excerpt after it is whole. What reads an article in parts asks
  // it of each part and of the parts put together.
  static bool Complete(bool marker_found, std::size_t excerpt_bytes) {
    return marker_found && excerpt_bytes == kExcerptLength;
  }
  // Bytes fed since the article began.
  uint64_t fed() const { return marker_.fed(); }

  // The excerpt that follows a marker at `marker_at`, gathered from a piece of the article
  // that starts at `piece_start` onto what `excerpt` holds so far: the one rule for it.
  static void CollectExcerpt(uint64_t marker_at, std::string_view piece, uint64_t piece_start,
                             std::string& excerpt);

 private:
  StreamSearch marker_;
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
};

// The matcher for `query` under `settings`; with StreamSearch::Count::kAll it counts hits.
std::unique_ptr<QueryMatcher> MakeQueryMatcher(
    const Query& query, const MatchSettings& settings,
    StreamSearch::Count hits = StreamSearch::Count::kFirstOnly);

}  // namespace kb
