#include "app/match/article_matcher.h"

#include <algorithm>

#include "support/text/text.h"

namespace kb {

ArticleMatcher::ArticleMatcher(std::string_view phrase, const MatchSettings& settings,
                               StreamSearch::Count hits)
    : sought_(SoughtPhrase(phrase, settings)),
      counts_hits_(hits == StreamSearch::Count::kAll),
      phrase_(sought_, PhraseFinder::Case::kFolded, hits),
      region_(settings.article, settings.mode == MatchMode::kText),
      marker_(settings.article) {
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
  region_.Restart();
  region_length_ = 0;
  marker_.Restart();
  term_hits_ = 0;
  text_length_ = 0;
  if (text_) text_->Restart();
  if (folder_) folder_->Restart();
}

void ArticleMatcher::Feed(std::string_view piece) {
  const std::string_view region = region_.Feed(piece);
  region_length_ += region.size();
  if (!phrase_.found() || counts_hits_) SearchPhrase(region);
  marker_.Feed(piece, region, region_.started());
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
  marker_.Finish();
  if (!phrase_.found() || counts_hits_) {
    if (text_) {
      std::string_view rest = text_->Finish();
      text_length_ += rest.size();
      if (folder_) rest = folder_->Fold(rest);
      phrase_.Feed(rest);
    }
    if (folder_) phrase_.Feed(folder_->Finish());
  }
  term_hits_ = phrase_.count();
}

bool ArticleMatcher::settled() const {
  if (!phrase_.can_match()) return true;
  return !counts_hits_ && phrase_found() && marker_.complete();
}

}  // namespace kb
