#pragma once

// Two lanes for the searches running at once: those that read many articles (common words,
// or any search the index cannot narrow) give way to those that read few, so that a few
// clients asking for common words do not slow everyone else's rare queries. Before each
// article it reads, a heavy search waits while any light one runs; each waits so for at most
// kMostGivingWay in all, so that it ends even while light searches never cease.
//
// Light searches run no more at once than the lanes were given (about the processors): the others
// wait their turn, in the order they came. A light search is short, so one that waits for
// another to end is answered sooner than if all ran at once and shared the processors, which
// would make each take as many times longer as searches run; the longest of them most of
// all. A search found to be heavy leaves its turn to the next.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <stop_token>

namespace kb::server {

// A search reading more articles than this is heavy: a common word read in most of 40,000
// articles, where a rare query's candidates are at most a few hundred.
inline constexpr std::size_t kHeavyArticles = 2000;
inline constexpr std::chrono::milliseconds kMostGivingWay{300};

class SearchLanes {
 public:
  // At most `light_at_once` light searches run at once (at least one).
  explicit SearchLanes(std::size_t light_at_once = SIZE_MAX);

  // One search, from its start to its end; light until it is found to be heavy. Used from
  // the search's threads at once. Starts when a light search may run, or once `stop` is
  // requested (it then ends early, running alongside).
  class Search {
   public:
    Search(SearchLanes& lanes, std::stop_token stop);
    ~Search();
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;

    // Once the search knows how many articles it reads.
    void Reads(std::size_t articles);
    // Around a wait for something another search holds (the index): meanwhile the search
    // counts not among those running, so that another may use the processor. It counts again
    // once it goes on, whether or not that leaves room for others.
    void Pause();
    void Resume();
    // Before each article: a heavy search waits while a light one runs, or until it is
    // stopped, within what is left of its kMostGivingWay.
    void GiveWay();

   private:
    // Under the lanes' mutex: no longer among the light searches running; whether it was.
    bool LeaveLight();

    SearchLanes& lanes_;
    std::stop_token stop_;
    std::atomic<bool> heavy_{false};
    // Under the lanes' mutex: whether it is among light_, and whether it paused.
    bool counted_light_ = false;
    bool paused_ = false;
    std::chrono::steady_clock::duration waited_{};  // under the lanes' mutex
  };

  // The light searches running now, and those waiting for their turn.
  std::size_t light() const;
  std::size_t waiting() const;

 private:
  // Under the mutex: ends a light search's turn; wakes the search next in turn, alone, when
  // there is room for it.
  void LightEnded();
  void WakeNext();

  const std::size_t light_at_once_;
  mutable std::mutex mutex_;
  std::condition_variable_any light_gone_;  // for heavy searches giving way: light_ fell to 0
  std::size_t light_ = 0;
  // The searches waiting, in the order they came, each woken by its own condition: a search
  // ending wakes one of them, not all to see whose turn it is.
  std::map<uint64_t, std::condition_variable_any*> turns_;
  uint64_t next_turn_ = 0;
};

}  // namespace kb::server
