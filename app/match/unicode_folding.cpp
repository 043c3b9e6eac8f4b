#include "app/match/unicode_folding.h"

#include <utf8proc.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#include "support/text/utf8.h"

namespace kb {
namespace {

// Enough for any character's full case folding or canonical decomposition.
constexpr utf8proc_ssize_t kMostCodePoints = 18;
using CodePoints = std::array<utf8proc_int32_t, kMostCodePoints>;

// `code_point` through utf8proc with `options`; `count` is how many code points it gives, 0 for
// a character the options remove. A failure leaves the character as it is.
void Transform(char32_t code_point, int options, CodePoints& result, utf8proc_ssize_t& count) {
  count =
      utf8proc_decompose_char(static_cast<utf8proc_int32_t>(code_point), result.data(),
                              kMostCodePoints, static_cast<utf8proc_option_t>(options), nullptr);
  if (count < 0 || count > kMostCodePoints) {
    result[0] = static_cast<utf8proc_int32_t>(code_point);
    count = 1;
  }
}

bool SameFullFolding(char32_t first, char32_t second) {
  CodePoints first_folded, second_folded;
  utf8proc_ssize_t first_count, second_count;
  Transform(first, UTF8PROC_CASEFOLD, first_folded, first_count);
  Transform(second, UTF8PROC_CASEFOLD, second_folded, second_count);
  return first_count == second_count &&
         std::equal(first_folded.begin(), first_folded.begin() + first_count,
                    second_folded.begin());
}

// Unicode's simple case folding. utf8proc folds fully (ß to "ss"); where that gives one
// character it is also the simple folding, and where it gives several the simple folding is
// the character's lower case if that folds the same way (ẞ to ß), else the character itself.
char32_t SimpleCaseFolding(char32_t code_point) {
  CodePoints folded;
  utf8proc_ssize_t count;
  Transform(code_point, UTF8PROC_CASEFOLD, folded, count);
  if (count == 1) return static_cast<char32_t>(folded[0]);
  const auto lower =
      static_cast<char32_t>(utf8proc_tolower(static_cast<utf8proc_int32_t>(code_point)));
  return lower != code_point && SameFullFolding(lower, code_point) ? lower : code_point;
}

// Canonical decomposition with the combining marks removed, then simple case folding, until
// nothing changes any more (a folded letter may decompose again).
std::u32string WithoutAccents(char32_t code_point) {
  std::u32string current(1, code_point);
  for (int round = 0; round < 4; ++round) {
    std::u32string next;
    for (const char32_t character : current) {
      CodePoints parts;
      utf8proc_ssize_t count;
      Transform(character, UTF8PROC_DECOMPOSE | UTF8PROC_STRIPMARK, parts, count);
      for (utf8proc_ssize_t i = 0; i < count; ++i) {
        next.push_back(SimpleCaseFolding(static_cast<char32_t>(parts[i])));
      }
    }
    if (next == current) break;
    current = std::move(next);
  }
  return current;
}

bool IsSurrogate(char32_t code_point) {
  return code_point >= 0xD800 && code_point <= 0xDFFF;
}

}  // namespace

const UnicodeFolding& UnicodeFolding::IgnoringCase() {
  static const UnicodeFolding folding(false);
  return folding;
}

const UnicodeFolding& UnicodeFolding::IgnoringCaseAndAccents() {
  static const UnicodeFolding folding(true);
  return folding;
}

const UnicodeFolding::Block& UnicodeFolding::MakeBlock(std::size_t number) const {
  const std::lock_guard lock(making_);
  if (const Block* made = blocks_[number].load(std::memory_order_acquire)) return *made;
  auto block = std::make_unique<Block>();
  // Offset 0 stands for "unchanged", so the folded forms start at 1.
  block->folded.push_back('\0');
  std::string original;
  for (std::size_t index = 0; index < block->places.size(); ++index) {
    const auto code_point = static_cast<char32_t>(number * block->places.size() + index);
    if (code_point < 0x80 || IsSurrogate(code_point) || !MayChange(code_point)) continue;
    const std::string folded = Compute(code_point);
    original.clear();
    AppendUtf8(code_point, original);
    if (folded == original) continue;
    block->places[index] = static_cast<uint32_t>(block->folded.size() << 8 | folded.size());
    block->folded += folded;
  }
  block->folded.append(kLongestFolding, '\0');
  const Block& made = *block;
  made_.push_back(std::move(block));
  blocks_[number].store(&made, std::memory_order_release);
  return made;
}

bool UnicodeFolding::MayChange(char32_t code_point) const {
  const utf8proc_property_t& property =
      *utf8proc_get_property(static_cast<utf8proc_int32_t>(code_point));
  if (property.casefold_seqindex != UINT16_MAX) return true;
  if (!ignore_accents_) return false;
  return property.decomp_seqindex != UINT16_MAX || property.category == UTF8PROC_CATEGORY_MN ||
         property.category == UTF8PROC_CATEGORY_MC || property.category == UTF8PROC_CATEGORY_ME;
}

std::string UnicodeFolding::Compute(char32_t code_point) const {
  std::string folded;
  if (ignore_accents_) {
    for (const char32_t character : WithoutAccents(code_point)) AppendUtf8(character, folded);
  } else {
    AppendUtf8(SimpleCaseFolding(code_point), folded);
  }
  return folded;
}

std::size_t UnicodeFolding::FoldAboveBasicPlane(char32_t code_point, std::string_view original,
                                                char* out) const {
  if (!MayChange(code_point)) {
    original.copy(out, original.size());
    return original.size();
  }
  const std::string folded = Compute(code_point);
  const std::size_t length = std::min(folded.size(), kLongestFolding);
  folded.copy(out, length);
  return length;
}

}  // namespace kb
