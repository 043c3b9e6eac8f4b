#include "app/match/query_matcher.h"

#include <algorithm>

#include "app/match/article_matcher.h"
#include "app/match/words_matcher.h"
#include "support/text/text.h"

namespace kb {

void ArticleMarker::Restart() {
  marker_.Restart();
  excerpt_.clear();
}

void ArticleMarker::Feed(std::string_view piece) {
  const uint64_t piece_start = marker_.fed();
  marker_.Feed(piece);
  if (marker_.found() && excerpt_.size() < kExcerptLength) {
    CollectExcerpt(marker_.position(), piece, piece_start, excerpt_);
  }
}

void ArticleMarker::CollectExcerpt(uint64_t marker_at, std::string_view piece, uint64_t piece_start,
                                   std::string& excerpt) {
  const uint64_t excerpt_start = marker_at + kArticleMarker.size();
  const uint64_t wanted_end = excerpt_start + kExcerptLength;
  const uint64_t from = std::max(excerpt_start + excerpt.size(), piece_start);
  const uint64_t to = std::min(wanted_end, piece_start + piece.size());
  if (from < to) excerpt.append(piece.substr(from - piece_start, to - from));
}

std::string_view ArticleMarker::excerpt() const {
  return Clip(excerpt_);
}

std::unique_ptr<QueryMatcher> MakeQueryMatcher(const Query& query, const MatchSettings& settings,
                                               StreamSearch::Count hits) {
  if (query.is_words()) return std::make_unique<WordsMatcher>(query, settings, hits);
  return std::make_unique<ArticleMatcher>(query.text, settings, hits);
}

}  // namespace kb
