#pragma once

// How many rows of the index hold each gram, estimated: a count-min sketch, kDepth rows of
// kWidth counters, each row indexed by a hash of its own. A gram's estimate is the least of
// its counters: never below the rows added for it (up to the largest a counter holds, which
// only the commonest grams reach), and above only where commoner grams share every one of its
// counters.
//
// A search does not look up the rows of a phrase's commonest grams (IndexStore::GramsToLookUp):
// reading a gram's rows costs in proportion to their number, and a gram of common words ("the ")
// is held by so many rows that it rules out few; nor those of a long phrase beyond its rarest
// few, which rule out little more.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace kb::index {

class GramCounts {
 public:
  static constexpr std::size_t kWidth = std::size_t{1} << 18;
  static constexpr std::size_t kDepth = 2;

  GramCounts() : counters_(kWidth * kDepth, 0) {}

  // One more row holds `gram`. A counter stops at its largest value.
  void Add(uint32_t gram);
  uint16_t Estimate(uint32_t gram) const;

  // Of `grams`, those whose estimates are at most `most_rows`, and of those the `most` with the
  // lowest estimates (the earlier first among equal ones), in their order; when there are none,
  // the one with the lowest estimate.
  std::vector<uint32_t> HeldByAtMost(std::span<const uint32_t> grams, uint64_t most_rows,
                                     std::size_t most) const;

  // The counters as bytes (a few for few grams), and back: nothing for bytes that are not
  // counters so written.
  std::string Bytes() const;
  static std::optional<GramCounts> FromBytes(std::string_view bytes);

 private:
  static std::size_t Slot(uint32_t gram, std::size_t row);
  std::vector<uint16_t> counters_;
};

}  // namespace kb::index
