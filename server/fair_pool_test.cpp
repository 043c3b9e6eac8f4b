#include "server/fair_pool.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace kb::server {
namespace {

// One thread, held by a first job until released: the order in which the waiting jobs then
// run is the pool's choice alone.
TEST(FairPoolTest, ClientsTakeTurnsAndTheQueueIsBounded) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> started;
  std::mutex mutex;
  std::vector<std::string> order;
  {
    FairPool pool({.threads = 1, .queue_limit = 8, .per_client = 5, .running_per_client = 1});
    EXPECT_TRUE(pool.Submit("busy", [released, &started](std::stop_token) {
      started.set_value();
      released.wait();
    }));
    started.get_future().wait();
    auto record = [&](std::string name) {
      return [&, name](std::stop_token) {
        const std::lock_guard lock(mutex);
        order.push_back(name);
      };
    };
    // A client asking common words fills its share; one past it is refused.
    for (int job = 0; job < 4; ++job) EXPECT_TRUE(pool.Submit("busy", record("common")));
    EXPECT_FALSE(pool.Submit("busy", record("refused")));
    // Two others, each with a rare query, come later.
    EXPECT_TRUE(pool.Submit("a", record("rare a")));
    EXPECT_TRUE(pool.Submit("b", record("rare b")));
    EXPECT_TRUE(pool.Submit("b", record("rare b2")));
    // The queue holds 8 at most, whoever asks.
    EXPECT_TRUE(pool.Submit("c", record("c")));
    EXPECT_FALSE(pool.Submit("d", record("refused")));
    release.set_value();
  }
  // Each client in turn: the rare queries wait behind one common one, not four.
  EXPECT_EQ(order, (std::vector<std::string>{"common", "rare a", "rare b", "c", "common", "rare b2",
                                             "common", "common"}));
}

// Two threads: a client's second job waits for its first, while another client's job takes
// the free thread at once.
TEST(FairPoolTest, AClientRunsOneJobAtATime) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  std::promise<void> rare_ran;
  std::atomic<bool> second_ran{false};
  FairPool pool({.threads = 2, .queue_limit = 8, .per_client = 4, .running_per_client = 1});
  EXPECT_TRUE(pool.Submit("busy", [released](std::stop_token) { released.wait(); }));
  EXPECT_TRUE(pool.Submit("busy", [&](std::stop_token) { second_ran = true; }));
  EXPECT_TRUE(pool.Submit("rare", [&](std::stop_token) { rare_ran.set_value(); }));
  rare_ran.get_future().wait();
  EXPECT_FALSE(second_ran);
  release.set_value();
  pool.Stop();
  EXPECT_TRUE(second_ran);
}

TEST(FairPoolTest, StoppingRunsTheWaitingJobsWithTheirTokenStopped) {
  std::atomic<int> stopped{0};
  std::atomic<int> ran{0};
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  FairPool pool({.threads = 1, .queue_limit = 16, .per_client = 16, .running_per_client = 1});
  EXPECT_TRUE(pool.Submit("x", [released](std::stop_token) { released.wait(); }));
  for (int job = 0; job < 5; ++job) {
    EXPECT_TRUE(pool.Submit("y", [&](std::stop_token stop) {
      ++ran;
      if (stop.stop_requested()) ++stopped;
    }));
  }
  std::thread releaser([&release] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    release.set_value();
  });
  pool.Stop();
  releaser.join();
  EXPECT_EQ(ran, 5);
  EXPECT_EQ(stopped, 5);
  EXPECT_FALSE(pool.Submit("y", [](std::stop_token) {}));
}

}  // namespace
}  // namespace kb::server
