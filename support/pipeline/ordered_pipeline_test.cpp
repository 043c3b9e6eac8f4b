#include "support/pipeline/ordered_pipeline.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <random>
#include <set>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace kb {
namespace {

// What one run saw, checked against what any correct run must do.
struct Observed {
  std::vector<std::size_t> consumed;  // indexes in the order consumed
  std::vector<std::string> items;     // the items consumed
  std::set<std::thread::id> producer_threads;
  std::set<std::thread::id> working_threads;  // those that produced an item
  std::size_t producers_made = 0;
  bool gate_opened = false;
  bool window_kept = true;
  bool runs_kept = true;  // each helper produced exactly the runs it was told of, in order
  bool completed = false;
};

std::string ItemFor(std::size_t index) {
  return "item " + std::to_string(index) + std::string(index % 40, '*');
}

// Runs a pipeline whose producers take a random short while per item, and whose consumer
// asks for a stop once it has consumed `stop_after` items (never when it is count or more).
// With a gate and `toggle_gate`, the consumer opens it at item 10 of every 64 and closes it
// at item 40.
Observed RunPipeline(std::size_t count, const PipelineSettings& settings, std::size_t stop_after,
                     uint32_t seed, bool toggle_gate = true) {
  Observed observed;
  std::mutex observed_mutex;
  std::atomic<std::size_t> consumed{0};
  std::atomic<int> producing{0};
  std::stop_source stop;
  const std::size_t window = std::max<std::size_t>(settings.window, 1);
  const std::thread::id caller = std::this_thread::get_id();

  observed.completed = RunInOrder<std::string>(
      count, settings, stop.get_token(),
      [&] {
        uint32_t own_seed;
        {
          std::lock_guard lock(observed_mutex);
          own_seed = seed + static_cast<uint32_t>(++observed.producers_made);
          observed.producer_threads.insert(std::this_thread::get_id());
        }
        struct Producer {
          Observed& observed;
          std::mutex& observed_mutex;
          std::atomic<std::size_t>& consumed;
          std::atomic<int>& producing;
          std::size_t window;
          std::mt19937 random;
          const std::thread::id caller;
          std::size_t next_claimed = 0;
          std::size_t claimed_end = 0;

          void Claimed(std::size_t first, std::size_t end) {
            // Producers may find their runs broken at the same time: the finding is shared, so
            // it is written under the lock.
            if (next_claimed != claimed_end || first >= end) {
              std::lock_guard lock(observed_mutex);
              observed.runs_kept = false;
            }
            next_claimed = first;
            claimed_end = end;
          }
          std::string operator()(std::size_t index) {
            ++producing;
            {
              std::lock_guard lock(observed_mutex);
              observed.working_threads.insert(std::this_thread::get_id());
              if (index >= consumed.load() + window) observed.window_kept = false;
            }
            // The calling thread produces one item at a time, and is told of none.
            if (std::this_thread::get_id() != caller) {
              if (index != next_claimed || index >= claimed_end) observed.runs_kept = false;
              ++next_claimed;
            }
            // Some items take long enough for the others to overtake them.
            const uint32_t pause = random() % 16;
            if (pause == 0) std::this_thread::sleep_for(std::chrono::microseconds(200));
            if (pause == 1) std::this_thread::yield();
            --producing;
            return ItemFor(index);
          }
        };
        return Producer{.observed = observed,
                        .observed_mutex = observed_mutex,
                        .consumed = consumed,
                        .producing = producing,
                        .window = window,
                        .random = std::mt19937(own_seed),
                        .caller = caller};
      },
      [&](std::size_t index, std::string& item) {
        observed.consumed.push_back(index);
        observed.items.push_back(std::move(item));
        consumed = index + 1;
        if (settings.gate != nullptr && toggle_gate) {
          if (index % 64 == 10) {
            settings.gate->Open();
            observed.gate_opened = true;
          }
          if (index % 64 == 40) settings.gate->Close();
        }
        if (observed.consumed.size() == stop_after) stop.request_stop();
      });
  EXPECT_EQ(producing.load(), 0) << "a producer outlived the run";
  return observed;
}

TEST(OrderedPipelineTest, EveryThreadCountAndWindowConsumesEachItemOnceInOrder) {
  std::mt19937 random(20240611);
  for (std::size_t threads = 1; threads <= 8; ++threads) {
    for (const std::size_t window : {0u, 1u, 2u, 5u, 256u}) {
      for (int round = 0; round < 6; ++round) {
        const std::size_t count = round == 0 ? 0 : random() % 400;
        // Every other round with standby producers, working now and then.
        const std::size_t standby = round % 2 == 0 ? 0 : threads;
        StandbyGate gate;
        const PipelineSettings settings{.threads = threads,
                                        .window = window,
                                        .standby = standby,
                                        .gate = standby > 0 ? &gate : nullptr};
        const Observed observed = RunPipeline(count, settings, SIZE_MAX, random());
        SCOPED_TRACE("threads " + std::to_string(threads) + " window " + std::to_string(window) +
                     " count " + std::to_string(count) + " standby " + std::to_string(standby));
        EXPECT_TRUE(observed.completed);
        ASSERT_EQ(observed.consumed.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
          ASSERT_EQ(observed.consumed[i], i);
          ASSERT_EQ(observed.items[i], ItemFor(i));
        }
        EXPECT_TRUE(observed.window_kept);
        EXPECT_TRUE(observed.runs_kept);
        // The standby producers are made once the consumer sees the gate open, if it does.
        const std::size_t own_producers = std::min(threads, count);
        EXPECT_GE(observed.producers_made, own_producers);
        EXPECT_LE(observed.producers_made,
                  observed.gate_opened ? std::min(threads + standby, count) : own_producers);
        EXPECT_EQ(observed.producer_threads.size(), observed.producers_made);
        if (count > 0) {
          EXPECT_EQ(observed.producer_threads.count(std::this_thread::get_id()), 1u)
              << "the caller produces too";
        }
      }
    }
  }
}

TEST(OrderedPipelineTest, StandbyProducersAreNotEvenMadeWhileTheGateStaysClosed) {
  StandbyGate gate;
  const Observed observed =
      RunPipeline(500, {.threads = 2, .window = 16, .standby = 4, .gate = &gate}, SIZE_MAX, 3,
                  /*toggle_gate=*/false);
  EXPECT_TRUE(observed.completed);
  EXPECT_EQ(observed.consumed.size(), 500u);
  EXPECT_EQ(observed.producers_made, 2u);
  EXPECT_LE(observed.working_threads.size(), 2u);

  // Opened from the start, the gate lets them all work.
  gate.Open();
  const Observed opened = RunPipeline(
      5000, {.threads = 2, .window = 16, .standby = 4, .gate = &gate}, SIZE_MAX, 4, false);
  EXPECT_EQ(opened.producers_made, 6u);
  EXPECT_TRUE(opened.runs_kept);
}

TEST(OrderedPipelineTest, AStopAskedWhileConsumingEndsTheRunAfterThatItem) {
  std::mt19937 random(7);
  for (std::size_t threads = 1; threads <= 8; ++threads) {
    for (int round = 0; round < 8; ++round) {
      const std::size_t count = 1 + random() % 300;
      const std::size_t stop_after = 1 + random() % count;
      const Observed observed = RunPipeline(
          count, {.threads = threads, .window = 1 + random() % 64}, stop_after, random());
      SCOPED_TRACE("threads " + std::to_string(threads));
      EXPECT_EQ(observed.completed, false);
      ASSERT_EQ(observed.consumed.size(), stop_after);
      for (std::size_t i = 0; i < stop_after; ++i) ASSERT_EQ(observed.consumed[i], i);
    }
  }
}

TEST(OrderedPipelineTest, AStopFromAnotherThreadWakesAConsumerWaitingForASlowItem) {
  for (std::size_t threads = 1; threads <= 8; ++threads) {
    std::stop_source stop;
    std::atomic<bool> stuck_item_started{false};
    std::thread requester([&] {
      while (!stuck_item_started) std::this_thread::yield();
      stop.request_stop();
    });
    std::vector<std::size_t> consumed;
    const bool completed = RunInOrder<int>(
        1000, {.threads = threads, .window = 16}, stop.get_token(),
        [&] {
          return [&](std::size_t index) {
            if (index == 3) {
              // Item 3 never ends by itself: only the stop ends it, as a long article does.
              stuck_item_started = true;
              while (!stop.stop_requested()) std::this_thread::yield();
            }
            return static_cast<int>(index);
          };
        },
        [&](std::size_t index, int&) { consumed.push_back(index); });
    requester.join();
    EXPECT_FALSE(completed);
    EXPECT_LE(consumed.size(), 3u) << "item 3 was cut short and must not be consumed";
  }
}

// A few long items are shared out, not claimed by one thread while another stands idle: the
// other thread stalls on the first item it takes until the caller has made half of them, which
// it can only when the stalled thread did not claim them all at once. The caller makes its
// first item only once the other thread stalls, so that it cannot make them all before.
TEST(OrderedPipelineTest, AFewItemsAreSharedOutBetweenTheThreads) {
  constexpr std::size_t kItems = 19;
  const std::thread::id caller = std::this_thread::get_id();
  std::atomic<std::size_t> made_by_caller{0};
  std::atomic<bool> other_stalled{false};
  std::atomic<bool> stalled_out{false};
  const auto wait_until = [&](auto done) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done() && !stalled_out) {
      std::this_thread::yield();
      stalled_out = std::chrono::steady_clock::now() > until;
    }
  };
  std::vector<std::size_t> consumed;
  EXPECT_TRUE(RunInOrder<int>(
      kItems, {.threads = 2, .window = 256}, {},
      [&] {
        return [&, stalled = false](std::size_t index) mutable {
          if (std::this_thread::get_id() == caller) {
            if (made_by_caller == 0) wait_until([&] { return other_stalled.load(); });
            ++made_by_caller;
          } else if (!std::exchange(stalled, true)) {
            other_stalled = true;
            wait_until([&] { return made_by_caller >= kItems / 2; });
          }
          return static_cast<int>(index);
        };
      },
      [&](std::size_t index, int&) { consumed.push_back(index); }));
  EXPECT_FALSE(stalled_out) << "the caller was left " << made_by_caller << " items";
  EXPECT_EQ(consumed.size(), kItems);
}

}  // namespace
}  // namespace kb
