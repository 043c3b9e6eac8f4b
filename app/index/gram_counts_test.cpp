#include "app/index/gram_counts.h"

#include <gtest/gtest.h>

#include <map>
#include <random>

namespace kb::index {
namespace {

TEST(GramCountsTest, EstimatesAreNeverBelowTheCountAndPickTheRarest) {
  std::mt19937 random(20261209);
  GramCounts counts;
  std::map<uint32_t, uint32_t> added;
  // Many more grams than counters, most of them rare, as an index's are.
  for (int gram = 0; gram < 400000; ++gram) {
    const uint32_t value = random();
    const uint32_t times = random() % 64 == 0 ? 1 + random() % 5000 : 1 + random() % 3;
    for (uint32_t time = 0; time < times; ++time) counts.Add(value);
    added[value] += times;
  }
  // The rare ones seldom share both counters with a common one.
  std::size_t rare = 0, seen_rare = 0;
  for (const auto& [gram, times] : added) {
    ASSERT_GE(counts.Estimate(gram), times) << gram;
    if (times > 3) continue;
    ++rare;
    seen_rare += counts.Estimate(gram) < 100;
  }
  EXPECT_GT(seen_rare, rare * 99 / 100);
}

// A phrase's grams but those held by too many rows and those beyond the rarest few; the rarest
// when all are held by too many.
TEST(GramCountsTest, LeaveOutTheCommonestGrams) {
  GramCounts counts;
  const std::vector<uint32_t> grams = {0x74686520, 0x68652061, 0x65206172, 0x20617267};
  const uint32_t times[] = {900, 50, 700, 10};
  for (std::size_t at = 0; at < grams.size(); ++at) {
    for (uint32_t time = 0; time < times[at]; ++time) counts.Add(grams[at]);
  }
  EXPECT_EQ(counts.HeldByAtMost(grams, 100, 8), (std::vector<uint32_t>{0x68652061, 0x20617267}));
  EXPECT_EQ(counts.HeldByAtMost(grams, 5, 8), (std::vector<uint32_t>{0x20617267}));
  EXPECT_EQ(counts.HeldByAtMost(grams, 1000, 8), grams);
  EXPECT_EQ(counts.HeldByAtMost(grams, 1000, 3),
            (std::vector<uint32_t>{0x68652061, 0x65206172, 0x20617267}));
  EXPECT_EQ(counts.HeldByAtMost({}, 1000, 3), std::vector<uint32_t>{});
}

// Few grams take few bytes, many take every counter; both read back as they were, and bytes
// cut or out of order do not read.
TEST(GramCountsTest, BytesGiveTheSameCountsAndOnlyThose) {
  for (const uint32_t grams : {1000u, 500000u}) {
    GramCounts counts;
    for (uint32_t gram = 0; gram < grams; ++gram) {
      for (uint32_t time = 0; time <= gram % 7; ++time) counts.Add(gram * 2654435761u);
    }
    const std::string bytes = counts.Bytes();
    EXPECT_EQ(bytes.size() < 100000, grams == 1000u);
    const std::optional<GramCounts> read = GramCounts::FromBytes(bytes);
    ASSERT_TRUE(read);
    for (uint32_t gram = 0; gram < grams + 1000; ++gram) {
      ASSERT_EQ(read->Estimate(gram * 2654435761u), counts.Estimate(gram * 2654435761u));
    }
    EXPECT_FALSE(GramCounts::FromBytes(std::string_view(bytes).substr(1)));
    EXPECT_FALSE(GramCounts::FromBytes(std::string_view(bytes).substr(0, bytes.size() - 1)));
  }
  GramCounts two;
  two.Add(1);
  two.Add(2);
  const std::string bytes = two.Bytes();
  ASSERT_EQ(bytes.size() % 6, 0u);
  EXPECT_FALSE(
      GramCounts::FromBytes(bytes.substr(bytes.size() / 2) + bytes.substr(0, bytes.size() / 2)));
  EXPECT_TRUE(GramCounts::FromBytes(""));  // no gram counted
}

}  // namespace
}  // namespace kb::index
