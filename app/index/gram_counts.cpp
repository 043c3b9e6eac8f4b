#include "app/index/gram_counts.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>

namespace kb::index {

namespace {

// Odd multipliers whose products' high bits spread the grams over a row, one for each row.
constexpr uint32_t kMultipliers[GramCounts::kDepth] = {0x9E3779B1u, 0x85EBCA77u};
static_assert(GramCounts::kWidth == std::size_t{1} << 18);  // the top 18 bits of a product

}  // namespace

std::size_t GramCounts::Slot(uint32_t gram, std::size_t row) {
  return row * kWidth + ((gram * kMultipliers[row]) >> 14);
}

void GramCounts::Add(uint32_t gram) {
  for (std::size_t row = 0; row < kDepth; ++row) {
    uint16_t& counter = counters_[Slot(gram, row)];
    if (counter != std::numeric_limits<uint16_t>::max()) ++counter;
  }
}

uint16_t GramCounts::Estimate(uint32_t gram) const {
  uint16_t least = std::numeric_limits<uint16_t>::max();
  for (std::size_t row = 0; row < kDepth; ++row)
    least = std::min(least, counters_[Slot(gram, row)]);
  return least;
}

std::vector<uint32_t> GramCounts::HeldByAtMost(std::span<const uint32_t> grams, uint64_t most_rows,
                                               std::size_t most) const {
  std::vector<std::pair<uint16_t, std::size_t>> counted;  // (estimate, place in `grams`)
  counted.reserve(grams.size());
  for (std::size_t at = 0; at < grams.size(); ++at) counted.emplace_back(Estimate(grams[at]), at);
  std::stable_sort(counted.begin(), counted.end(),
                   [](const auto& a, const auto& b) { return a.first < b.first; });
  std::size_t kept = 0;
  while (kept < counted.size() && kept < most && counted[kept].first <= most_rows) ++kept;
  kept = std::max<std::size_t>(kept, std::min<std::size_t>(1, counted.size()));
  std::vector<std::size_t> places;
  for (std::size_t at = 0; at < kept; ++at) places.push_back(counted[at].second);
  std::sort(places.begin(), places.end());
  std::vector<uint32_t> held;
  for (const std::size_t at : places) held.push_back(grams[at]);
  return held;
}

// Either every counter, or, when fewer bytes, each counter that is not zero as its place
// (four bytes) and its value (two), in ascending order of place. The two never have the same
// size: every counter takes a number of bytes that six does not divide.
static_assert((GramCounts::kWidth * GramCounts::kDepth * sizeof(uint16_t)) % 6 != 0);

std::string GramCounts::Bytes() const {
  const std::size_t dense = counters_.size() * sizeof(uint16_t);
  const std::size_t used = counters_.size() - std::count(counters_.begin(), counters_.end(), 0);
  std::string bytes;
  if (used * 6 >= dense) {
    bytes.resize(dense);
    std::memcpy(bytes.data(), counters_.data(), dense);
    return bytes;
  }
  bytes.reserve(used * 6);
  for (uint32_t place = 0; place < counters_.size(); ++place) {
    if (counters_[place] == 0) continue;
    char entry[6];
    std::memcpy(entry, &place, 4);
    std::memcpy(entry + 4, &counters_[place], 2);
    bytes.append(entry, sizeof entry);
  }
  return bytes;
}

std::optional<GramCounts> GramCounts::FromBytes(std::string_view bytes) {
  GramCounts counts;
  const std::size_t dense = counts.counters_.size() * sizeof(uint16_t);
  if (bytes.size() == dense) {
    std::memcpy(counts.counters_.data(), bytes.data(), dense);
    return counts;
  }
  if (bytes.size() > dense || bytes.size() % 6 != 0) return std::nullopt;
  int64_t last = -1;
  for (std::size_t at = 0; at < bytes.size(); at += 6) {
    uint32_t place;
    uint16_t value;
    std::memcpy(&place, bytes.data() + at, 4);
    std::memcpy(&value, bytes.data() + at + 4, 2);
    if (place >= counts.counters_.size() || static_cast<int64_t>(place) <= last || value == 0) {
      return std::nullopt;
    }
    counts.counters_[place] = value;
    last = place;
  }
  return counts;
}

}  // namespace kb::index
