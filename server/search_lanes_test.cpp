#include "server/search_lanes.h"

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <thread>
#include <vector>

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

// Light searches beyond those allowed at once wait their turn, in the order they came; one
// found heavy, or ended, lets the next start; a stopped one starts at once and counts not.
TEST(SearchLanesTest, LightSearchesBeyondThoseAllowedTakeTurns) {
  SearchLanes lanes(1);
  std::optional<SearchLanes::Search> first(std::in_place, lanes, std::stop_token{});
  std::vector<int> started;
  std::mutex started_mutex;
  std::stop_source stop_third;
  std::vector<std::jthread> waiters;
  std::vector<std::optional<SearchLanes::Search>> searches(3);
  for (int search = 0; search < 3; ++search) {
    // Each waits before the next is started, so that they come in this order.
    waiters.emplace_back([&, search] {
      searches[search].emplace(lanes, search == 2 ? stop_third.get_token() : std::stop_token{});
      const std::lock_guard lock(started_mutex);
      started.push_back(search);
    });
    while (lanes.waiting() < static_cast<std::size_t>(search + 1)) std::this_thread::yield();
  }
  EXPECT_EQ(lanes.light(), 1u);
  stop_third.request_stop();
  waiters[2].join();
  EXPECT_EQ(lanes.waiting(), 2u);
  EXPECT_EQ(lanes.light(), 1u);

  first->Reads(kHeavyArticles + 1);  // heavy: the next may run
  waiters[0].join();
  EXPECT_EQ(lanes.waiting(), 1u);
  searches[0].reset();
  waiters[1].join();
  EXPECT_EQ(started, (std::vector<int>{2, 0, 1}));
  EXPECT_EQ(lanes.light(), 1u);
  searches[1].reset();
  searches[2].reset();
  first.reset();
  EXPECT_EQ(lanes.light(), 0u);

  // A search that pauses lets the next start, and counts again once it goes on.
  SearchLanes::Search pausing(lanes, {});
  std::optional<SearchLanes::Search> next;
  std::jthread next_thread([&] { next.emplace(lanes, std::stop_token{}); });
  while (lanes.waiting() < 1) std::this_thread::yield();
  pausing.Pause();
  next_thread.join();
  pausing.Resume();
  EXPECT_EQ(lanes.light(), 2u);
  next.reset();
  EXPECT_EQ(lanes.light(), 1u);
}

}  // namespace
}  // namespace kb::server
