#include "server/result_cache.h"

#include <gtest/gtest.h>

#include <memory>

#include "server/search_service.h"

namespace kb::server {
namespace {

TEST(ResultCacheTest, KeepsTheRecentlyUsedWithinItsBytesAndForgetsOlderGenerations) {
  ResultCache cache(400);
  auto one = std::make_shared<const Findings>();
  auto two = std::make_shared<const Findings>();
  auto three = std::make_shared<const Findings>();
  cache.Keep("one", 1, one, 100);
  cache.Keep("two", 1, two, 100);
  EXPECT_EQ(cache.Find("one", 1), one);
  cache.Keep("big", 1, three, 101);  // more than a quarter: not kept
  EXPECT_EQ(cache.Find("big", 1), nullptr);
  cache.Keep("three", 1, three, 100);
  cache.Keep("four", 1, three, 100);
  cache.Keep("five", 1, three, 100);  // "two", used least recently, makes room
  EXPECT_EQ(cache.bytes(), 400u);
  EXPECT_EQ(cache.Find("two", 1), nullptr);
  EXPECT_EQ(cache.Find("one", 1), one);
  cache.Keep("one", 1, two, 50);  // kept again: replaced
  EXPECT_EQ(cache.Find("one", 1), two);
  EXPECT_EQ(cache.bytes(), 350u);

  // A newer generation: nothing older holds, and findings of an older one are not kept.
  EXPECT_EQ(cache.Find("one", 2), nullptr);
  EXPECT_EQ(cache.bytes(), 0u);
  cache.Keep("one", 1, one, 10);
  EXPECT_EQ(cache.Find("one", 2), nullptr);
  cache.Keep("one", 2, one, 10);
  EXPECT_EQ(cache.Find("one", 2), one);
}

}  // namespace
}  // namespace kb::server
