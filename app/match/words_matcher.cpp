#include "app/match/words_matcher.h"

#include <utf8proc.h>

#include <algorithm>
#include <utility>

#include "app/match/case_folder.h"
#include "support/text/ascii.h"
#include "support/text/utf8.h"

namespace kb {
namespace {

// Whether the sequence at the start of `text` (not empty) is a character within a word: a
// byte that starts no valid sequence counts as a letter.
bool StartsWithWordCharacter(std::string_view text) {
  const Utf8Sequence sequence = DecodeUtf8(text);
  return sequence.length <= 0 || IsWordCharacter(sequence.code_point);
}

}  // namespace

bool IsWordCharacter(char32_t code_point) {
  if (code_point < 0x80) return IsAsciiAlphanumeric(static_cast<char>(code_point));
  switch (utf8proc_category(static_cast<utf8proc_int32_t>(code_point))) {
    case UTF8PROC_CATEGORY_LU:
    case UTF8PROC_CATEGORY_LL:
    case UTF8PROC_CATEGORY_LT:
    case UTF8PROC_CATEGORY_LM:
    case UTF8PROC_CATEGORY_LO:
    case UTF8PROC_CATEGORY_MN:
    case UTF8PROC_CATEGORY_MC:
    case UTF8PROC_CATEGORY_ME:
    case UTF8PROC_CATEGORY_ND:
    case UTF8PROC_CATEGORY_NL:
    case UTF8PROC_CATEGORY_NO:
      return true;
    default:
      return false;
  }
}

WordsMatcher::WordsMatcher(const Query& query, const MatchSettings& settings,
                           StreamSearch::Count hits)
    : unicode_(!settings.folds_unicode() ? nullptr
               : settings.ignore_accents ? &UnicodeFolding::IgnoringCaseAndAccents()
                                         : &UnicodeFolding::IgnoringCase()),
      counts_hits_(hits == StreamSearch::Count::kAll),
      region_(settings.article, settings.mode == MatchMode::kText),
      marker_(settings.article) {
  for (std::size_t byte = 0; byte < table_.size(); ++byte) {
    table_[byte] = byte < 0x80 ? static_cast<unsigned char>(byte) : settings.case_table[byte];
  }
  if (settings.mode == MatchMode::kText) text_.emplace();
  maps_bytes_ = unicode_ == nullptr && settings.has_case_pairs();
  keeps_starts_ = counts_hits_ && !text_ && unicode_ == nullptr;
  const bool folds = settings.folds_unicode() || settings.has_case_pairs();
  for (const QueryTerm& term : query.terms) {
    const std::string typed(settings.mode == MatchMode::kText ? CollapseWhiteSpace(term.text)
                                                              : term.text);
    std::string sought = folds ? CaseFolder(settings).FoldWhole(typed) : typed;
    const bool at_word_start = !typed.empty() && StartsWithWordCharacter(typed);
    overlap_ = std::max(overlap_, sought.size() > 0 ? sought.size() - 1 : 0);
    PhraseFinder finder(sought, PhraseFinder::Case::kFolded);
    terms_.push_back({.sought = std::move(sought),
                      .finder = std::move(finder),
                      .excluded = term.excluded,
                      .at_word_start = at_word_start});
  }
  term_hits_.assign(terms_.size(), 0);
}

std::vector<std::string_view> WordsMatcher::byte_terms() const {
  if (unicode_ != nullptr || text_ || maps_bytes_ || !region_.whole_page()) return {};
  std::vector<std::string_view> sought;
  for (const Term& term : terms_) sought.push_back(term.sought);
  return sought;
}

std::vector<WordHit> WordsMatcher::HitsIn(const Query& query, const MatchSettings& settings,
                                          std::string_view view, std::size_t most,
                                          std::vector<uint64_t>* term_hits) {
  // The terms as the settings have them, a text search's with their white space collapsed;
  // the view is the text already.
  WordsMatcher matcher(query, settings, StreamSearch::Count::kAll);
  matcher.text_.reset();
  matcher.records_hits_ = true;
  matcher.keeps_starts_ = false;
  matcher.most_recorded_ = most;
  matcher.StartArticle();
  matcher.SearchView(view);
  matcher.FinishArticle();
  if (term_hits != nullptr) term_hits->assign(matcher.term_hits_.begin(), matcher.term_hits_.end());
  std::sort(matcher.hits_.begin(), matcher.hits_.end(),
            [](const WordHit& a, const WordHit& b) { return a.start < b.start; });
  return std::move(matcher.hits_);
}

void WordsMatcher::StartArticle() {
  if (text_) text_->Restart();
  text_length_ = 0;
  held_.clear();
  window_.clear();
  raw_.clear();
  window_start_ = 0;
  kept_ = 0;
  for (Term& term : terms_) term.next = 0;
  std::fill(term_hits_.begin(), term_hits_.end(), 0);
  hits_.clear();
  starts_.clear();
  starts_overflowed_ = false;
  beyond_ascii_.clear();
  dropped_shift_ = 0;
  view_folded_ = 0;
  region_.Restart();
  region_length_ = 0;
  marker_.Restart();
}

void WordsMatcher::Feed(std::string_view piece) {
  const std::string_view region = region_.Feed(piece);
  region_length_ += region.size();
  marker_.Feed(piece, region, region_.started());
  if (!terms_settled()) SearchView(text_ ? text_->Extract(region) : region);
}

void WordsMatcher::FinishArticle() {
  marker_.Finish();
  if (!terms_settled()) {
    if (text_) SearchView(text_->Finish());
    if (!held_.empty()) {
      const std::string rest = std::exchange(held_, {});
      FoldCharacters(rest, /*at_end=*/true);
      SearchWindow();
    }
  }
  // Found term by term, window by window.
  std::sort(starts_.begin(), starts_.end());
}

std::span<const uint64_t> WordsMatcher::hit_starts() const {
  // An excluded term found ends the search of the article: the rest of it was not looked at.
  if (!keeps_starts_ || starts_overflowed_ || !region_.whole_page() || terms_rule_out()) return {};
  return starts_;
}

void WordsMatcher::SearchView(std::string_view view) {
  if (text_) text_length_ += view.size();
  if (unicode_ == nullptr) {
    // Folding keeps every byte in its place: the bytes themselves are searched, and whether a
    // word starts at a hit is asked of the bytes before it.
    const std::size_t before = window_.size();
    window_.append(view);
    if (maps_bytes_) {
      raw_.append(view);
      for (std::size_t at = before; at < window_.size(); ++at) {
        window_[at] = static_cast<char>(table_[static_cast<unsigned char>(window_[at])]);
      }
    }
    SearchWindow();
    return;
  }
  // A character cut by the last piece's end is completed by this one's first bytes.
  std::string joined;
  if (!held_.empty()) {
    joined = std::exchange(held_, {}).append(view);
    view = joined;
  }
  held_.assign(view.substr(FoldCharacters(view, /*at_end=*/false)));
  SearchWindow();
}

std::size_t WordsMatcher::FoldCharacters(std::string_view view, bool at_end) {
  char folded[UnicodeFolding::kLongestFolding];
  std::size_t at = 0;
  while (at < view.size()) {
    // ASCII stays as it is: a run of it at once, and nothing noted of it.
    if (const std::size_t run = AsciiPrefixLength(view.substr(at)); run > 0) {
      window_.append(view.substr(at, run));
      at += run;
      continue;
    }
    // Beyond ASCII the folding tells: a byte that starts no valid sequence (or one the
    // article's end cuts) stays as it is, and counts as a letter.
    const Utf8Sequence sequence = DecodeUtf8(view.substr(at));
    if (sequence.length == 0 && !at_end) break;
    std::size_t length = 1;
    std::size_t folded_length = 1;
    if (sequence.length > 0) {
      length = static_cast<std::size_t>(sequence.length);
      folded_length = unicode_->Fold(sequence.code_point, view.substr(at, length), folded);
    } else {
      folded[0] = view[at];
    }
    const uint64_t folded_start = window_start_ + window_.size();
    window_.append(folded, folded_length);
    beyond_ascii_.push_back(
        {.folded_start = folded_start,
         .folded_end = folded_start + folded_length,
         .view_start = view_folded_ + at,
         .view_end = view_folded_ + at + length,
         .in_word = sequence.length <= 0 || IsWordCharacter(sequence.code_point)});
    at += length;
  }
  view_folded_ += at;
  return at;
}

const WordsMatcher::Folded* WordsMatcher::FoldedHolding(uint64_t position) const {
  const auto after =
      std::upper_bound(beyond_ascii_.begin(), beyond_ascii_.end(), position,
                       [](uint64_t at, const Folded& folded) { return at < folded.folded_start; });
  if (after == beyond_ascii_.begin()) return nullptr;
  const Folded& before = *(after - 1);
  return position < before.folded_end ? &before : nullptr;
}

uint64_t WordsMatcher::ViewOffset(uint64_t position) const {
  // An ASCII byte: as far past the character beyond ASCII before it as it is in the view.
  const auto after =
      std::upper_bound(beyond_ascii_.begin(), beyond_ascii_.end(), position,
                       [](uint64_t at, const Folded& folded) { return at < folded.folded_start; });
  if (after == beyond_ascii_.begin()) return position + dropped_shift_;
  const Folded& before = *(after - 1);
  return position < before.folded_end ? before.view_start
                                      : before.view_end + (position - before.folded_end);
}

bool WordsMatcher::FoldedWordStartsAt(uint64_t position) const {
  auto after =
      std::upper_bound(beyond_ascii_.begin(), beyond_ascii_.end(), position,
                       [](uint64_t at, const Folded& folded) { return at < folded.folded_start; });
  // The character that folded into `position` itself, if it is one beyond ASCII, comes last
  // among those whose folding starts there: before it only characters folded into nothing.
  if (after != beyond_ascii_.begin()) {
    const Folded& last = *(after - 1);
    if (last.folded_start < position && position < last.folded_end) return false;
    if (last.folded_start == position && last.folded_end > position) --after;
  }
  // The character before: the last one beyond ASCII when its folding ends here (folded into
  // nothing, perhaps), else the ASCII byte before.
  if (after != beyond_ascii_.begin() && (after - 1)->folded_end == position) {
    return !(after - 1)->in_word;
  }
  if (position == 0) return true;
  return !IsAsciiAlphanumeric(window_[static_cast<std::size_t>(position - 1 - window_start_)]);
}

bool WordsMatcher::WordStartsAt(std::size_t at) const {
  const std::string_view bytes = maps_bytes_ ? raw_ : window_;
  if (at == 0) return window_start_ == 0;
  // The character before: the valid sequence that ends there, from the nearest byte before
  // that is no continuation byte (every such byte starts a character), else a byte that
  // starts no valid sequence, which counts as a letter.
  for (std::size_t back = 1; back <= std::min(at, kLongestUtf8Sequence); ++back) {
    const auto byte = static_cast<unsigned char>(bytes[at - back]);
    if ((byte & 0xC0) == 0x80) continue;
    const Utf8Sequence sequence = DecodeUtf8(bytes.substr(at - back, back));
    return sequence.length == static_cast<int>(back) && !IsWordCharacter(sequence.code_point);
  }
  return false;
}

void WordsMatcher::SearchWindow() {
  const std::string_view window = window_;
  for (std::size_t index = 0; index < terms_.size(); ++index) {
    Term& term = terms_[index];
    const std::size_t length = term.sought.size();
    if (length == 0 || (!counts_hits_ && term_hits_[index] > 0)) continue;
    // The occurrences that end in the new bytes: those within the kept ones were looked at.
    std::size_t from = kept_ >= length ? kept_ - length + 1 : 0;
    while (from < window.size()) {
      std::size_t at = term.finder.Find(window.substr(from));
      if (at == PhraseFinder::npos) break;
      at += from;
      const uint64_t start = window_start_ + at;
      const bool word_start = unicode_ == nullptr ? WordStartsAt(at) : FoldedWordStartsAt(start);
      if ((!term.at_word_start || word_start) && start >= term.next) {
        ++term_hits_[index];
        term.next = start + length;
        if (keeps_starts_ && !term.excluded) {
          if (starts_.size() < kMostHitStartsKept) {
            starts_.push_back(start);
          } else {
            starts_overflowed_ = true;
          }
        }
        if (!records_hits_ || term_hits_[index] > most_recorded_) {
          // Counted, not recorded.
        } else if (unicode_ == nullptr) {
          hits_.push_back({index, start, start + length});
        } else {
          const uint64_t last = start + length - 1;
          const Folded* const holding = FoldedHolding(last);
          hits_.push_back({index, ViewOffset(start),
                           holding != nullptr ? holding->view_end : ViewOffset(last) + 1});
        }
        if (!counts_hits_) break;
      }
      from = at + 1;
    }
  }
  // Kept: the bytes a hit may span, and those that tell whether a word starts after them.
  const std::size_t kept = overlap_ + kLongestUtf8Sequence;
  const std::size_t dropped = window_.size() - std::min(window_.size(), kept);
  window_.erase(0, dropped);
  if (maps_bytes_) raw_.erase(0, dropped);
  window_start_ += dropped;
  // What is known of the characters beyond ASCII that lie wholly before the window is no
  // longer needed, but for how far the view has run ahead of the folded text there.
  const auto gone =
      std::find_if(beyond_ascii_.begin(), beyond_ascii_.end(),
                   [&](const Folded& folded) { return folded.folded_end >= window_start_; });
  if (gone != beyond_ascii_.begin()) {
    dropped_shift_ = (gone - 1)->view_end - (gone - 1)->folded_end;
    beyond_ascii_.erase(beyond_ascii_.begin(), gone);
  }
  kept_ = window_.size();
}

bool WordsMatcher::is_result() const {
  if (!marker_.found()) return false;
  for (std::size_t index = 0; index < terms_.size(); ++index) {
    if ((term_hits_[index] > 0) == terms_[index].excluded) return false;
  }
  return true;
}

uint64_t WordsMatcher::hits() const {
  uint64_t hits = 0;
  for (std::size_t index = 0; index < terms_.size(); ++index) {
    if (!terms_[index].excluded) hits += term_hits_[index];
  }
  return hits;
}

bool WordsMatcher::terms_rule_out() const {
  if (records_hits_) return false;  // every hit is wanted
  for (std::size_t index = 0; index < terms_.size(); ++index) {
    const Term& term = terms_[index];
    if (term.excluded ? term_hits_[index] > 0 : term.sought.empty()) return true;
  }
  return false;
}

bool WordsMatcher::terms_settled() const {
  if (terms_rule_out()) return true;
  if (counts_hits_) return false;
  for (std::size_t index = 0; index < terms_.size(); ++index) {
    const Term& term = terms_[index];
    // An excluded term may come later.
    if (term.excluded ? !term.sought.empty() : term_hits_[index] == 0) return false;
  }
  return true;
}

bool WordsMatcher::settled() const {
  return terms_rule_out() || (terms_settled() && marker_.complete());
}

}  // namespace kb
