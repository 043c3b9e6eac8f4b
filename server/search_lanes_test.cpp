#include "server/search_lanes.h"

#include <gtest/gtest.h>

#include <optional>
#include <thread>

namespace kb::server {
namespace {

TEST(SearchLanesTest, HeavySearchesGiveWayToLightOnesWithinTheirShare) {
  SearchLanes lanes;
  std::optional<SearchLanes::Search> light(std::in_place, lanes, std::stop_token{});
  SearchLanes::Search heavy(lanes, {});
  EXPECT_EQ(lanes.light(), 2u);
  heavy.Reads(kHeavyArticles);
  EXPECT_EQ(lanes.light(), 2u);
  heavy.Reads(kHeavyArticles + 1);
  heavy.Reads(kHeavyArticles + 1);
  EXPECT_EQ(lanes.light(), 1u);

  // While a light search runs, a heavy one waits its whole share, then never again; two of
  // its threads together spend one share.
  const auto began = std::chrono::steady_clock::now();
  {
    std::jthread other_thread([&] { heavy.GiveWay(); });
    heavy.GiveWay();
  }
  heavy.GiveWay();
  EXPECT_GE(std::chrono::steady_clock::now() - began, kMostGivingWay);

  // A light search ending lets a waiting heavy one go on; a stopped one does not wait.
  SearchLanes::Search waiting(lanes, {});
  waiting.Reads(kHeavyArticles + 1);
  std::jthread waiter([&] { waiting.GiveWay(); });
  light.reset();
  EXPECT_EQ(lanes.light(), 0u);
  waiter.join();
  std::stop_source stop;
  SearchLanes::Search light_again(lanes, {});
  SearchLanes::Search stopped(lanes, stop.get_token());
  stopped.Reads(kHeavyArticles + 1);
  stop.request_stop();
  stopped.GiveWay();
}

}  // namespace
}  // namespace kb::server
