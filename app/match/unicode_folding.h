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
// Each folding is one object per process. It keeps the folded forms of the characters below
// U+10000 in blocks of 256, each made when a character of it is first folded, so that a
// search pays in time and memory only for the scripts its articles are written in. Any
// number of threads may share a folding: a block is made under a lock and never changes
// after.

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <mutex>
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
    const Block* block = blocks_[code_point >> 8].load(std::memory_order_acquire);
    if (block == nullptr) block = &MakeBlock(code_point >> 8);
    if (const uint32_t place = block->places[code_point & 0xFF]; place != 0) {
      std::memcpy(out, block->folded.data() + (place >> 8), kLongestFolding);
      return place & 0xFF;
    }
    // Two or three bytes, most often.
    for (std::size_t i = 0; i < original.size(); ++i) out[i] = original[i];
    return original.size();
  }

 private:
  static constexpr char32_t kBasicPlaneEnd = 0x10000;

  // The folded forms of 256 characters.
  struct Block {
    // For each character, where its folded form sits in `folded`: offset << 8 | length; 0 for
    // a character that stays as it is.
    std::array<uint32_t, 256> places{};
    // The folded forms, and kLongestFolding bytes more, so that each is copied whole.
    std::string folded;
  };

  explicit UnicodeFolding(bool ignore_accents) : ignore_accents_(ignore_accents) {}

  // Makes the block `number` (characters number * 256 on), unless another thread has.
  const Block& MakeBlock(std::size_t number) const;

  std::size_t FoldAboveBasicPlane(char32_t code_point, std::string_view original, char* out) const;

  // What `code_point` folds to, in UTF-8, asked of utf8proc.
  std::string Compute(char32_t code_point) const;
  // False when utf8proc's data for `code_point` shows at a glance that it stays as it is, which
  // spares most characters the work of Compute.
  bool MayChange(char32_t code_point) const;

  bool ignore_accents_;
  // The blocks of the characters below U+10000, null until made; characters above are
  // computed each time.
  mutable std::array<std::atomic<const Block*>, kBasicPlaneEnd / 256> blocks_{};
  mutable std::mutex making_;
  mutable std::vector<std::unique_ptr<const Block>> made_;  // owns the blocks
};

}  // namespace kb
