#include "app/match/article_matcher.h"

#include <algorithm>

#include "support/text/text.h"

namespace kb {

ArticleMatcher::ArticleMatcher(std::string_view phrase, const MatchSettings& settings,
                               StreamSearch::Count hits)
    : sought_(SoughtPhrase(phrase, settings)),
      counts_hits_(hits == StreamSearch::Count::kAll),
      phrase_(sought_, PhraseFinder::Case::kFolded, hits),
      marker_(kArticleMarker, PhraseFinder::Case::kExact) {
  excerpt_.reserve(kExcerptLength);
  if (settings.mode == MatchMode::kText) text_.emplace();
  if (settings.folds_unicode() || settings.has_case_pairs()) {
    folder_.emplace(settings);
    if (!folder_->MatterFor(sought_)) folder_.reset();
  }
}

std::string ArticleMatcher::SoughtPhrase(std::string_view phrase, const MatchSettings& settings) {
  std::string sought(settings.mode == MatchMode::kText ? CollapseWhiteSpace(phrase) : phrase);
  if (settings.folds_unicode() || settings.has_case_pairs()) {
    sought = CaseFolder(settings).FoldWhole(sought);
  }
  return sought;
}

void ArticleMatcher::StartArticle() {
  phrase_.Restart();
  marker_.Restart();
  excerpt_.clear();
  text_length_ = 0;
  if (text_) text_->Restart();
  if (folder_) folder_->Restart();
}

void ArticleMatcher::Feed(std::string_view piece) {
  const uint64_t piece_start = marker_.fed();
  if (!phrase_.found() || counts_hits_) SearchPhrase(piece);
  marker_.Feed(piece);
  if (marker_found() && excerpt_.size() < kExcerptLength) CollectExcerpt(piece, piece_start);
}

void ArticleMatcher::SearchPhrase(std::string_view piece) {
  if (text_) {
    piece = text_->Extract(piece);
    text_length_ += piece.size();
  }
  if (folder_) piece = folder_->Fold(piece);
  phrase_.Feed(piece);
}

void ArticleMatcher::FinishArticle() {
  if (phrase_.found() && !counts_hits_) return;
  if (text_) {
    std::string_view rest = text_->Finish();
    text_length_ += rest.size();
    if (folder_) rest = folder_->Fold(rest);
    phrase_.Feed(rest);
  }
  if (folder_) phrase_.Feed(folder_->Finish());
}

void ArticleMatcher::CollectExcerpt(std::string_view piece, uint64_t piece_start) {
  const uint64_t excerpt_start = marker_.position() + kArticleMarker.size();
  const uint64_t wanted_end = excerpt_start + kExcerptLength;
  const uint64_t from = std::max(excerpt_start + excerpt_.size(), piece_start);
  const uint64_t to = std::min(wanted_end, piece_start + piece.size());
  if (from < to) excerpt_.append(piece.substr(from - piece_start, to - from));
}

std::string_view ArticleMatcher::excerpt() const {
  return Clip(excerpt_);
}

bool ArticleMatcher::settled() const {
  if (!phrase_.can_match()) return true;
  return !counts_hits_ && is_result() && excerpt_.size() == kExcerptLength;
}

}  // namespace kb
