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
      counts_hits_(hits == StreamSearch::Count::kAll) {
  for (std::size_t byte = 0; byte < table_.size(); ++byte) {
    table_[byte] = byte < 0x80 ? static_cast<unsigned char>(byte) : settings.case_table[byte];
  }
  if (settings.mode == MatchMode::kText) text_.emplace();
  maps_bytes_ = unicode_ == nullptr && settings.has_case_pairs();
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

std::vector<WordHit> WordsMatcher::HitsIn(const Query& query, const MatchSettings& settings,
                                          std::string_view view) {
  // The terms as the settings have them, a text search's with their white space collapsed;
  // the view is the text already.
  WordsMatcher matcher(query, settings, StreamSearch::Count::kAll);
  matcher.text_.reset();
  matcher.records_hits_ = true;
  matcher.StartArticle();
  matcher.SearchView(view);
  matcher.FinishArticle();
  std::sort(matcher.hits_.begin(), matcher.hits_.end(),
            [](const WordHit& a, const WordHit& b) { return a.start < b.start; });
  return std::move(matcher.hits_);
}

void WordsMatcher::StartArticle() {
  if (text_) text_->Restart();
  held_.clear();
  after_word_ = false;
  window_.clear();
  word_starts_.clear();
  raw_.clear();
  window_start_ = 0;
  kept_ = 0;
  for (Term& term : terms_) term.next = 0;
  std::fill(term_hits_.begin(), term_hits_.end(), 0);
  hits_.clear();
  origin_start_.clear();
  origin_end_.clear();
  view_folded_ = 0;
  marker_.Restart();
}

void WordsMatcher::Feed(std::string_view piece) {
  marker_.Feed(piece);
  if (!terms_settled()) SearchView(text_ ? text_->Extract(piece) : piece);
}

void WordsMatcher::FinishArticle() {
  if (terms_settled()) return;
  if (text_) SearchView(text_->Finish());
  if (!held_.empty()) {
    const std::string rest = std::exchange(held_, {});
    FoldCharacters(rest, /*at_end=*/true);
    SearchWindow();
  }
}

void WordsMatcher::SearchView(std::string_view view) {
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
    // ASCII stays as it is: a run of it at once.
    if (const std::size_t run = AsciiPrefixLength(view.substr(at)); run > 0) {
      const std::size_t first = word_starts_.size();
      word_starts_.resize(first + run);
      char* const starts = word_starts_.data() + first;
      for (std::size_t i = 0; i < run; ++i) {
        const bool in_word = IsAsciiAlphanumeric(view[at + i]);
        starts[i] = !after_word_;
        after_word_ = in_word;
      }
      window_.append(view.substr(at, run));
      if (records_hits_) {
        for (std::size_t i = 0; i < run; ++i) {
          origin_start_.push_back(view_folded_ + at + i);
          origin_end_.push_back(view_folded_ + at + i + 1);
        }
      }
      at += run;
      continue;
    }
    // Beyond ASCII only the folding tells: a byte that starts no valid sequence (or one the
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
    const bool in_word = sequence.length <= 0 || IsWordCharacter(sequence.code_point);
    if (folded_length > 0) {
      word_starts_.push_back(!after_word_);
      word_starts_.resize(word_starts_.size() + folded_length - 1, 0);
      window_.append(folded, folded_length);
      if (records_hits_) {
        origin_start_.resize(window_.size(), view_folded_ + at);
        origin_end_.resize(window_.size(), view_folded_ + at + length);
      }
    }
    after_word_ = in_word;
    at += length;
  }
  view_folded_ += at;
  return at;
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
      const bool word_start = unicode_ == nullptr ? WordStartsAt(at) : word_starts_[at] != 0;
      if ((!term.at_word_start || word_start) && start >= term.next) {
        ++term_hits_[index];
        term.next = start + length;
        if (records_hits_ && unicode_ == nullptr) {
          hits_.push_back({index, start, start + length});
        } else if (records_hits_) {
          hits_.push_back({index, origin_start_[at], origin_end_[at + length - 1]});
        }
        if (!counts_hits_) break;
      }
      from = at + 1;
    }
  }
  // Kept: the bytes a hit may span, and those that tell whether a word starts after them.
  const std::size_t kept = unicode_ == nullptr ? overlap_ + kLongestUtf8Sequence : overlap_;
  const std::size_t dropped = window_.size() - std::min(window_.size(), kept);
  window_.erase(0, dropped);
  if (maps_bytes_) raw_.erase(0, dropped);
  if (unicode_ != nullptr) {
    const auto gone = static_cast<std::ptrdiff_t>(dropped);
    word_starts_.erase(word_starts_.begin(), word_starts_.begin() + gone);
    if (records_hits_) {
      origin_start_.erase(origin_start_.begin(), origin_start_.begin() + gone);
      origin_end_.erase(origin_end_.begin(), origin_end_.begin() + gone);
    }
  }
  window_start_ += dropped;
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
