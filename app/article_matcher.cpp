#include "app/article_matcher.h"

#include <algorithm>

#include "support/text/text.h"

namespace kb {

ArticleMatcher::StreamSearch::StreamSearch(std::string_view phrase, PhraseFinder::Case mode)
    : finder_(phrase, mode) {
  const std::size_t overlap = finder_.size() > 0 ? finder_.size() - 1 : 0;
  tail_.reserve(overlap);
  seam_.reserve(2 * overlap);
}

void ArticleMatcher::StreamSearch::Restart() {
  tail_.clear();
  fed_ = 0;
  position_ = kNotFound;
}

void ArticleMatcher::StreamSearch::Feed(std::string_view piece) {
  const uint64_t piece_start = fed_;
  fed_ += piece.size();
  if (found() || !can_match()) return;

  // An occurrence that starts in the tail ends within the first size() - 1 bytes of the
  // piece, so the seam holds it whole.
  const std::size_t overlap = finder_.size() - 1;
  if (!tail_.empty()) {
    seam_.assign(tail_).append(piece.substr(0, overlap));
    if (const std::size_t at = finder_.Find(seam_); at != PhraseFinder::npos) {
      position_ = piece_start - tail_.size() + at;
      return;
    }
  }
  if (const std::size_t at = finder_.Find(piece); at != PhraseFinder::npos) {
    position_ = piece_start + at;
    return;
  }

  if (piece.size() >= overlap) {
    tail_.assign(piece.substr(piece.size() - overlap));
  } else {
    tail_.append(piece);
    tail_.erase(0, tail_.size() - std::min(tail_.size(), overlap));
  }
}

ArticleMatcher::ArticleMatcher(std::string_view phrase, const MatchSettings& settings)
    : phrase_(SoughtPhrase(phrase, settings), PhraseFinder::Case::kFolded),
      marker_(kArticleMarker, PhraseFinder::Case::kExact) {
  excerpt_.reserve(kExcerptLength);
  if (settings.mode == MatchMode::kText) text_.emplace();
  if (settings.folds_unicode() || settings.has_case_pairs()) {
    folder_.emplace(settings);
    if (!folder_->MatterFor(SoughtPhrase(phrase, settings))) folder_.reset();
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
  if (text_) text_->Restart();
  if (folder_) folder_->Restart();
}

void ArticleMatcher::Feed(std::string_view piece) {
  const uint64_t piece_start = marker_.fed();
  if (!phrase_.found()) SearchPhrase(piece);
  marker_.Feed(piece);
  if (marker_found() && excerpt_.size() < kExcerptLength) CollectExcerpt(piece, piece_start);
}

void ArticleMatcher::SearchPhrase(std::string_view piece) {
  if (text_) piece = text_->Extract(piece);
  if (folder_) piece = folder_->Fold(piece);
  phrase_.Feed(piece);
}

void ArticleMatcher::FinishArticle() {
  if (phrase_.found()) return;
  if (text_) {
    std::string_view rest = text_->Finish();
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
  return is_result() && excerpt_.size() == kExcerptLength;
}

}  // namespace kb
