#include "app/index/grams.h"

#include <algorithm>
#include <limits>

#include "app/match/html_text.h"

namespace kb::index {
namespace {

unsigned char FoldAscii(unsigned char byte) {
  return byte >= 'a' && byte <= 'z' ? static_cast<unsigned char>(byte - ('a' - 'A')) : byte;
}

void SortUnique(std::vector<uint32_t>& grams) {
  std::sort(grams.begin(), grams.end());
  grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
}

// What a byte is compared as when the case pairs fold the article: bytes above 127 through
// the table, then a-z as A-Z.
unsigned char FoldThroughPairs(unsigned char byte, const CaseTable& table) {
  return FoldAscii(byte < 128 ? byte : table[byte]);
}

// True when the bytes the case pairs make equal to `byte` are those a-z folding alone does.
bool FoldsAlike(unsigned char byte, const CaseTable& table) {
  for (int other = 0; other < 256; ++other) {
    const auto candidate = static_cast<unsigned char>(other);
    const bool with_pairs = FoldThroughPairs(candidate, table) == FoldThroughPairs(byte, table);
    const bool without = FoldAscii(candidate) == FoldAscii(byte);
    if (with_pairs != without) return false;
  }
  return true;
}

}  // namespace

constexpr uint32_t kEmptySlot = 0xFFFFFFFF;
constexpr std::size_t kFirstSetSize = 1024;

std::size_t SlotOf(uint32_t gram, std::size_t mask) {
  // Fibonacci hashing: the high bits of the product mix every byte of the gram.
  return static_cast<std::size_t>((uint64_t{gram} * 0x9E3779B97F4A7C15ULL) >> 32) & mask;
}

void ArticleGrams::GramSet::Add(uint32_t gram) {
  if (gram == kEmptySlot) {
    seen_empty_slot = true;
    return;
  }
  if ((seen_count + 1) * 2 > seen.size()) {
    std::vector<uint32_t> old(std::max(kFirstSetSize, seen.size() * 2), kEmptySlot);
    old.swap(seen);
    seen_count = 0;
    for (uint32_t kept : old) {
      if (kept != kEmptySlot) Add(kept);
    }
  }
  const std::size_t mask = seen.size() - 1;
  for (std::size_t slot = SlotOf(gram, mask);; slot = (slot + 1) & mask) {
    if (seen[slot] == gram) return;
    if (seen[slot] == kEmptySlot) {
      seen[slot] = gram;
      ++seen_count;
      return;
    }
  }
}

std::vector<uint32_t> ArticleGrams::GramSet::Take() {
  std::vector<uint32_t> grams;
  grams.reserve(seen_count + 1);
  for (uint32_t gram : seen) {
    if (gram != kEmptySlot) grams.push_back(gram);
  }
  if (seen_empty_slot) grams.push_back(kEmptySlot);
  std::sort(grams.begin(), grams.end());
  *this = {};
  return grams;
}

void ArticleGrams::Stream::CloseBefore(std::size_t stretch) {
  for (; open_first < stretch; ++open_first) {
    stretches.push_back(open[open_first % 2].Take());
  }
}

void ArticleGrams::Stream::Add(uint32_t gram, std::size_t start) {
  const std::size_t stretch = std::min(start / kStretchBytes, kMostStretches - 1);
  // The stretch before takes the gram too while it starts within the overlap past its end.
  const bool overlap = stretch > 0 && start - stretch * kStretchBytes < kStretchOverlap;
  CloseBefore(overlap ? stretch - 1 : stretch);
  if (overlap) open[(stretch - 1) % 2].Add(gram);
  open[stretch % 2].Add(gram);
}

ByteRange BytesOfStretch(std::size_t stretch) {
  if (stretch + 1 >= kMostStretches) {
    return {.start = stretch * kStretchBytes, .end = std::numeric_limits<uint64_t>::max()};
  }
  // Its last gram starts kStretchOverlap - 1 bytes past its own bytes, and ends a gram later.
  return {.start = stretch * kStretchBytes,
          .end = (stretch + 1) * kStretchBytes + kStretchOverlap - 1 + kGramLength};
}

void ArticleGrams::Stream::Feed(std::string_view piece) {
  for (char byte : piece) {
    last = (last << 8) | FoldAscii(static_cast<unsigned char>(byte));
    ++fed;
    if (fed >= kGramLength) Add(last, fed - kGramLength);
  }
}

void ArticleGrams::Stream::Finish() {
  if (fed < kGramLength) return;
  CloseBefore(std::min((fed - kGramLength) / kStretchBytes, kMostStretches - 1) + 1);
}

void ArticleGrams::Feed(std::string_view piece) {
  bytes_.Feed(bytes_region_.Feed(piece));
  text_.Feed(html_.Extract(text_region_.Feed(piece)));
}

void ArticleGrams::Finish() {
  if (text_region_.started()) text_.Feed(html_.Finish());
  bytes_.Finish();
  text_.Finish();
}

std::vector<uint32_t> GramsOf(std::string_view text) {
  ArticleGrams article;
  article.Feed(text);
  article.Finish();
  std::vector<uint32_t> grams;
  for (const std::vector<uint32_t>& stretch : article.stretches(GramView::kBytes)) {
    grams.insert(grams.end(), stretch.begin(), stretch.end());
  }
  SortUnique(grams);
  return grams;
}

PhraseGrams GramsOfPhrase(std::string_view phrase, const MatchSettings& settings) {
  PhraseGrams result;
  if (settings.folds_unicode()) {
    result.refusal = kRefusedMode;
    return result;
  }
  result.view = settings.mode == MatchMode::kText ? GramView::kText : GramView::kBytes;
  const std::string sought(settings.mode == MatchMode::kText ? CollapseWhiteSpace(phrase)
                                                             : std::string(phrase));
  if (sought.size() < kGramLength) {
    result.refusal = kRefusedShortPhrase;
    return result;
  }
  std::vector<bool> usable(sought.size(), true);
  if (settings.has_case_pairs()) {
    for (std::size_t at = 0; at < sought.size(); ++at) {
      usable[at] = FoldsAlike(static_cast<unsigned char>(sought[at]), settings.case_table);
    }
  }
  std::vector<uint32_t> grams;
  for (std::size_t start = 0; start + kGramLength <= sought.size(); ++start) {
    uint32_t gram = 0;
    bool whole = true;
    for (std::size_t at = start; at < start + kGramLength; ++at) {
      whole = whole && usable[at];
      gram = (gram << 8) | FoldAscii(static_cast<unsigned char>(sought[at]));
    }
    if (whole) grams.push_back(gram);
  }
  SortUnique(grams);
  // Case pairs in every gram leave nothing to look up: the index would name every article.
  if (grams.empty()) {
    result.refusal = kRefusedMode;
  } else {
    result.groups.push_back(std::move(grams));
    result.terms.push_back(0);
  }
  return result;
}

PhraseGrams GramsOfQuery(const Query& query, const MatchSettings& settings) {
  if (!query.is_words()) return GramsOfPhrase(query.text, settings);
  PhraseGrams result;
  result.refusal = kRefusedShortPhrase;
  for (std::size_t term = 0; term < query.terms.size(); ++term) {
    if (query.terms[term].excluded) continue;
    PhraseGrams grams = GramsOfPhrase(query.terms[term].text, settings);
    if (grams.refusal == kRefusedMode && settings.folds_unicode()) return grams;
    if (!grams.refusal.empty()) {
      // A term whose every gram holds a case pair refuses as its phrase would, unless
      // another term narrows.
      if (result.groups.empty() && grams.refusal == kRefusedMode) result.refusal = kRefusedMode;
      continue;
    }
    result.refusal = {};
    result.view = grams.view;
    result.groups.push_back(std::move(grams.groups.front()));
    result.terms.push_back(term);
  }
  return result;
}

}  // namespace kb::index
