#include "app/index/grams.h"

#include <algorithm>

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

void ArticleGrams::Stream::Feed(std::string_view piece) {
  for (char byte : piece) {
    last = (last << 8) | FoldAscii(static_cast<unsigned char>(byte));
    if (fed < kGramLength) ++fed;
    if (fed == kGramLength) grams.push_back(last);
  }
}

void ArticleGrams::Stream::Finish() {
  SortUnique(grams);
}

void ArticleGrams::Feed(std::string_view piece) {
  bytes_.Feed(piece);
  text_.Feed(html_.Extract(piece));
}

void ArticleGrams::Finish() {
  text_.Feed(html_.Finish());
  bytes_.Finish();
  text_.Finish();
}

std::vector<uint32_t> GramsOf(std::string_view text) {
  ArticleGrams grams;
  grams.Feed(text);
  grams.Finish();
  return grams.grams(GramView::kBytes);
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
  for (std::size_t start = 0; start + kGramLength <= sought.size(); ++start) {
    uint32_t gram = 0;
    bool whole = true;
    for (std::size_t at = start; at < start + kGramLength; ++at) {
      whole = whole && usable[at];
      gram = (gram << 8) | FoldAscii(static_cast<unsigned char>(sought[at]));
    }
    if (whole) result.grams.push_back(gram);
  }
  SortUnique(result.grams);
  // Case pairs in every gram leave nothing to look up: the index would name every article.
  if (result.grams.empty()) result.refusal = kRefusedMode;
  return result;
}

}  // namespace kb::index
