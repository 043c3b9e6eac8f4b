#include "app/match/phrase_finder.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "app/match/byte_vectors.h"
#include "support/text/ascii.h"

#if KBSEARCH_AVX512
#include <immintrin.h>
#endif

namespace kb {
namespace {

constexpr unsigned char kCaseBit = 0x20;

// How rare each byte is in HTML articles written in English, as a rank: 0 for the most
// common, higher for rarer ones. Letters rank the same in both cases, since a folded search
// looks for both. Only the order matters, and only for speed.
constexpr std::array<uint8_t, 256> MakeRarity() {
  constexpr std::string_view kMostCommonFirst =
      " etaoinsrhldc<>um/\"=fpg\nwyb.,v\rk-10:2;#_x395(4)867jq'z&!?%";
  std::array<uint8_t, 256> rank{};
  rank.fill(static_cast<uint8_t>(kMostCommonFirst.size()));
  for (std::size_t i = kMostCommonFirst.size(); i-- > 0;) {
    const auto byte = static_cast<unsigned char>(kMostCommonFirst[i]);
    rank[byte] = static_cast<uint8_t>(i);
    if (IsAsciiLetter(static_cast<char>(byte))) rank[byte & ~kCaseBit] = static_cast<uint8_t>(i);
  }
  return rank;
}
constexpr std::array<uint8_t, 256> kRarity = MakeRarity();

// Where a phrase's two anchor bytes sit in it, and what a text byte must be, once its mask is
// ORed in, to match each.
struct Anchors {
  std::size_t first_offset, second_offset;
  unsigned char first_mask, first_want, second_mask, second_want;
};

// 0xFF for each of the 16 starts from `at` on where both anchors sit.
Bytes16 CandidatesAt(const Anchors& anchors, const unsigned char* at) {
  const Bytes16 first = Load16(at + anchors.first_offset) | anchors.first_mask;
  const Bytes16 second = Load16(at + anchors.second_offset) | anchors.second_mask;
  return (first == anchors.first_want) & (second == anchors.second_want);
}

// Most stretches of a text hold no candidate at all. These pass over them 64 starts at a time
// and give the first start, from `start` on in steps of 64, whose 64 starts hold a candidate
// or from which fewer than 64 starts are left up to `last_start`.
std::size_t SkipBarrenStretches(const Anchors& anchors, const unsigned char* text,
                                std::size_t start, std::size_t last_start) {
  for (; start + 63 <= last_start; start += 64) {
    const unsigned char* const at = text + start;
    if (!IsZero(CandidatesAt(anchors, at) | CandidatesAt(anchors, at + 16) |
                CandidatesAt(anchors, at + 32) | CandidatesAt(anchors, at + 48))) {
      break;
    }
  }
  return start;
}

#if KBSEARCH_AVX2
// The same with 32-byte vectors, nearly twice as fast, for processors that have AVX2. Written
// out whole: helpers would be compiled without AVX2.
[[gnu::target("avx2")]] std::size_t SkipBarrenStretchesAvx2(const Anchors& anchors,
                                                            const unsigned char* text,
                                                            std::size_t start,
                                                            std::size_t last_start) {
  using Bytes32 = unsigned char __attribute__((vector_size(32)));
  for (; start + 63 <= last_start; start += 64) {
    Bytes32 first_low, first_high, second_low, second_high;
    std::memcpy(&first_low, text + start + anchors.first_offset, 32);
    std::memcpy(&first_high, text + start + 32 + anchors.first_offset, 32);
    std::memcpy(&second_low, text + start + anchors.second_offset, 32);
    std::memcpy(&second_high, text + start + 32 + anchors.second_offset, 32);
    const Bytes32 any = Bytes32(((first_low | anchors.first_mask) == anchors.first_want) &
                                ((second_low | anchors.second_mask) == anchors.second_want)) |
                        Bytes32(((first_high | anchors.first_mask) == anchors.first_want) &
                                ((second_high | anchors.second_mask) == anchors.second_want));
    uint64_t quarters[4];
    std::memcpy(quarters, &any, sizeof quarters);
    if ((quarters[0] | quarters[1] | quarters[2] | quarters[3]) != 0) break;
  }
  return start;
}
#endif

#if KBSEARCH_AVX512
// The same with 64-byte vectors, whose comparisons give a bit per byte at once: about half as
// fast again, for processors that have AVX-512 (BW).
[[gnu::target("avx512bw")]] std::size_t SkipBarrenStretchesAvx512(const Anchors& anchors,
                                                                  const unsigned char* text,
                                                                  std::size_t start,
                                                                  std::size_t last_start) {
  const __m512i first_mask = _mm512_set1_epi8(static_cast<char>(anchors.first_mask));
  const __m512i first_want = _mm512_set1_epi8(static_cast<char>(anchors.first_want));
  const __m512i second_mask = _mm512_set1_epi8(static_cast<char>(anchors.second_mask));
  const __m512i second_want = _mm512_set1_epi8(static_cast<char>(anchors.second_want));
  const unsigned char* const first = text + anchors.first_offset;
  const unsigned char* const second = text + anchors.second_offset;
  for (; start + 63 <= last_start; start += 64) {
    const __mmask64 firsts = _mm512_cmpeq_epi8_mask(
        _mm512_or_si512(_mm512_loadu_si512(first + start), first_mask), first_want);
    const __mmask64 both = _mm512_mask_cmpeq_epi8_mask(
        firsts, _mm512_or_si512(_mm512_loadu_si512(second + start), second_mask), second_want);
    if (both != 0) break;
  }
  return start;
}
#endif

using SkipFunction = std::size_t (*)(const Anchors&, const unsigned char*, std::size_t,
                                     std::size_t);

SkipFunction ChooseSkip() {
#if KBSEARCH_AVX512
  if (__builtin_cpu_supports("avx512bw")) return SkipBarrenStretchesAvx512;
#endif
#if KBSEARCH_AVX2
  if (__builtin_cpu_supports("avx2")) return SkipBarrenStretchesAvx2;
#endif
  return SkipBarrenStretches;
}

}  // namespace

PhraseFinder::PhraseFinder(std::string_view phrase, Case mode) {
  want_.reserve(phrase.size());
  mask_.reserve(phrase.size());
  for (char byte : phrase) {
    const auto value = static_cast<unsigned char>(byte);
    const bool folded = mode == Case::kFolded && IsAsciiLetter(static_cast<char>(value));
    mask_.push_back(folded ? kCaseBit : 0);
    want_.push_back(folded ? value | kCaseBit : value);
  }
  // Two phrase positions match each other when their wanted bytes are equal: a phrase's
  // letters are either all folded or none is.
  longest_border_.assign(want_.size(), 0);
  for (std::size_t i = 1, border = 0; i < want_.size(); ++i) {
    while (border > 0 && want_[i] != want_[border]) border = longest_border_[border - 1];
    if (want_[i] == want_[border]) ++border;
    longest_border_[i] = border;
  }
  // The two rarest positions; for a one-byte phrase both anchors are that byte.
  for (std::size_t i = 1; i < want_.size(); ++i) {
    if (kRarity[want_[i]] > kRarity[want_[first_anchor_]]) first_anchor_ = i;
  }
  second_anchor_ = first_anchor_ == 0 && want_.size() > 1 ? 1 : 0;
  for (std::size_t i = 0; i < want_.size(); ++i) {
    if (i != first_anchor_ && kRarity[want_[i]] > kRarity[want_[second_anchor_]]) {
      second_anchor_ = i;
    }
  }
}

bool PhraseFinder::MatchesAt(const unsigned char* text) const {
  for (std::size_t i = 0; i < want_.size(); ++i) {
    if ((text[i] | mask_[i]) != want_[i]) return false;
  }
  return true;
}

std::size_t PhraseFinder::Find(std::string_view text) const {
  const std::size_t length = want_.size();
  if (length == 0 || text.size() < length) return npos;
  const auto* const bytes = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t last_start = text.size() - length;

  const Anchors anchors{first_anchor_,        second_anchor_,        mask_[first_anchor_],
                        want_[first_anchor_], mask_[second_anchor_], want_[second_anchor_]};
  // Comparing the whole phrase at every candidate would be quadratic on a text made of the
  // phrase's own bytes ("aaaa..." for "aaab"); past this many candidates the linear search
  // takes over.
  std::size_t candidates_left = 64 + text.size() / length;

  // Candidates are start offsets, looked at 16 at a time; each group reads at most up to the
  // phrase's last byte for its last candidate, so it stays inside the text.
  static const SkipFunction skip_barren_stretches = ChooseSkip();
  std::size_t start = 0;
  while (start + 15 <= last_start) {
    start = skip_barren_stretches(anchors, bytes, start, last_start);
    if (start + 15 > last_start) break;
    for (uint32_t bits = ByteBits(CandidatesAt(anchors, bytes + start)); bits != 0;
         bits &= bits - 1) {
      const std::size_t candidate = start + static_cast<std::size_t>(std::countr_zero(bits));
      if (candidates_left-- == 0) return FindLinearly(text, candidate);
      if (MatchesAt(bytes + candidate)) return candidate;
    }
    start += 16;
  }
  for (; start <= last_start; ++start) {
    if (candidates_left-- == 0) return FindLinearly(text, start);
    if (MatchesAt(bytes + start)) return start;
  }
  return npos;
}

std::size_t PhraseFinder::FindLinearly(std::string_view text, std::size_t from) const {
  const std::size_t length = want_.size();
  std::size_t matched = 0;
  for (std::size_t at = from; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    while (matched > 0 && (byte | mask_[matched]) != want_[matched]) {
      matched = longest_border_[matched - 1];
    }
    if ((byte | mask_[matched]) == want_[matched]) ++matched;
    if (matched == length) return at + 1 - length;
  }
  return npos;
}

StreamSearch::StreamSearch(std::string_view phrase, PhraseFinder::Case mode, Count count)
    : finder_(phrase, mode), counting_(count) {
  const std::size_t overlap = finder_.size() > 0 ? finder_.size() - 1 : 0;
  tail_.reserve(overlap);
  seam_.reserve(2 * overlap);
}

void StreamSearch::Restart() {
  tail_.clear();
  fed_ = 0;
  position_ = kNotFound;
  count_ = 0;
  next_ = 0;
  starts_.clear();
}

void StreamSearch::Found(uint64_t position) {
  if (!found()) position_ = position;
  if (counting_ == Count::kAll && starts_.size() < kRecordedStarts) starts_.push_back(position);
  ++count_;
  next_ = position + finder_.size();
}

void StreamSearch::Feed(std::string_view piece) {
  const uint64_t piece_start = fed_;
  fed_ += piece.size();
  const bool first_only = counting_ == Count::kFirstOnly;
  if ((found() && first_only) || !can_match()) return;

  // An occurrence that starts in the tail ends within the first size() - 1 bytes of the
  // piece, so the seam holds it whole. One found in the seam that starts in the piece is
  // left to the search of the piece.
  const std::size_t size = finder_.size();
  const std::size_t overlap = size - 1;
  if (!tail_.empty()) {
    const uint64_t seam_start = piece_start - tail_.size();
    seam_.assign(tail_).append(piece.substr(0, overlap));
    std::size_t from = next_ > seam_start ? static_cast<std::size_t>(next_ - seam_start) : 0;
    while (from < tail_.size()) {
      const std::size_t at = finder_.Find(std::string_view(seam_).substr(from));
      if (at == PhraseFinder::npos || from + at >= tail_.size()) break;
      Found(seam_start + from + at);
      if (first_only) return;
      from += at + size;
    }
  }
  std::size_t from = next_ > piece_start ? static_cast<std::size_t>(next_ - piece_start) : 0;
  while (from < piece.size()) {
    const std::size_t at = finder_.Find(piece.substr(from));
    if (at == PhraseFinder::npos) break;
    Found(piece_start + from + at);
    if (first_only) return;
    from += at + size;
  }

  if (piece.size() >= overlap) {
    tail_.assign(piece.substr(piece.size() - overlap));
  } else {
    tail_.append(piece);
    tail_.erase(0, tail_.size() - std::min(tail_.size(), overlap));
  }
}

}  // namespace kb
