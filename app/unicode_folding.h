#pragma once

// What one Unicode character becomes when a search ignores case, and optionally accents,
// beyond the letters a-z.
//
// Case: Unicode simple case folding, one character for one (ẞ and ß fold to ß, the Kelvin
// sign to k, ſ to s, ς and Σ to σ); a character whose only folding is to several (ß to "ss",
// ﬀ to "ff", İ to i and a combining dot) stays as it is. Accents: the character's canonical
// decomposition with every combining mark removed, then folded (Å, Å and å all become a; a
// combining mark on its own becomes nothing). The rules come from utf8proc's character data.
//
// The foldings are built once per process, on first use, and are read-only afterwards, so
// any number of threads may share them.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace kb {

class UnicodeFolding {
 public:
  static const UnicodeFolding& IgnoringCase();
  static const UnicodeFolding& IgnoringCaseAndAccents();

  // The most bytes one character folds to: a canonical decomposition has at most four
  // characters, of at most four bytes each.
  static constexpr std::size_t kLongestFolding = 16;

  // Writes at `out`, which has room for kLongestFolding bytes, the UTF-8 form of what
  // `code_point` folds to, and gives its length. `original` is the character's own UTF-8
  // form, written out as it is when the character stays as it is.
  std::size_t Fold(char32_t code_point, std::string_view original, char* out) const {
    if (code_point >= kBasicPlaneEnd) return FoldAboveBasicPlane(code_point, original, out);
    if (const uint32_t place = basic_plane_[code_point]; place != 0) {
      std::memcpy(out, folded_.data() + (place >> 8), kLongestFolding);
      return place & 0xFF;
    }
    // Two or three bytes, most often.
    for (std::size_t i = 0; i < original.size(); ++i) out[i] = original[i];
    return original.size();
  }

 private:
  static constexpr char32_t kBasicPlaneEnd = 0x10000;

  explicit UnicodeFolding(bool ignore_accents);

  std::size_t FoldAboveBasicPlane(char32_t code_point, std::string_view original, char* out) const;

  // What `code_point` folds to, in UTF-8, asked of utf8proc.
  std::string Compute(char32_t code_point) const;
  // False when utf8proc's data for `code_point` shows at a glance that it stays as it is, which
  // spares most characters the work of Compute.
  bool MayChange(char32_t code_point) const;

  bool ignore_accents_;
  // For each character below U+10000, where its folded form sits in folded_: offset << 8 |
  // length. 0 for a character that stays as it is. Characters above are computed each time.
  std::vector<uint32_t> basic_plane_;
  // The folded forms, and kLongestFolding bytes more, so that each is copied as a whole block.
  std::string folded_;
};

}  // namespace kb
