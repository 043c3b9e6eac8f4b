#include "app/match/query_matcher.h"

#include <algorithm>

#include "app/match/article_matcher.h"
#include "app/match/words_matcher.h"
#include "support/text/text.h"
#include "support/text/utf8.h"

namespace kb {

ArticleMarker::ArticleMarker(const ArticlePart& part)
    : default_marker_(part.has_default_marker()),
      marker_(kArticleMarker, PhraseFinder::Case::kExact) {
  if (!default_marker_) text_.emplace();
  excerpt_.reserve(kExcerptLength);
}

void ArticleMarker::Restart() {
  marker_.Restart();
  if (text_) text_->Restart();
  region_started_ = false;
  excerpt_full_ = false;
  excerpt_.clear();
}

void ArticleMarker::Feed(std::string_view piece, std::string_view region, bool region_started) {
  if (default_marker_) {
    const uint64_t piece_start = marker_.fed();
    marker_.Feed(piece);
    if (marker_.found() && excerpt_.size() < kExcerptLength) {
      CollectExcerpt(marker_.position(), piece, piece_start, excerpt_);
    }
    return;
  }
  region_started_ = region_started;
  if (!excerpt_full_ && !region.empty()) AddText(text_->Extract(region));
}

void ArticleMarker::Finish() {
  if (text_ && region_started_ && !excerpt_full_) AddText(text_->Finish());
}

void ArticleMarker::AddText(std::string_view text) {
  if (excerpt_.empty() && text.starts_with(' ')) text.remove_prefix(1);
  for (std::size_t at = 0; at < text.size() && !excerpt_full_;) {
    const char byte = text[at];
    const std::string_view written = byte == '&'   ? std::string_view("&amp;")
                                     : byte == '<' ? std::string_view("&lt;")
                                     : byte == '>' ? std::string_view("&gt;")
                                                   : std::string_view();
    if (!written.empty()) {
      if (excerpt_.size() + written.size() > kExcerptLength) {
        excerpt_full_ = true;
      } else {
        excerpt_.append(written);
        ++at;
      }
      continue;
    }
    const Utf8Sequence sequence = DecodeUtf8(text.substr(at));
    const std::size_t length = sequence.length > 0 ? static_cast<std::size_t>(sequence.length) : 1;
    if (excerpt_.size() + length > kExcerptLength) {
      excerpt_full_ = true;
    } else {
      excerpt_.append(text.substr(at, length));
      at += length;
    }
  }
  excerpt_full_ = excerpt_full_ || excerpt_.size() == kExcerptLength;
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
