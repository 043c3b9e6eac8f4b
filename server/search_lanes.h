#pragma once

// Two lanes for the searches running at once: those that read many articles (common words,
// or any search the index cannot narrow) give way to those that read few, so that a few
// clients asking for common words do not slow everyone else's rare queries. Before each
// article it reads, a heavy search waits while any light one runs; each waits so for at most
// kMostGivingWay in all, so that it ends even while light searches never cease.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <stop_token>

namespace kb::server {

// A search reading more articles than this is heavy: a common word read in most of 40,000
// articles, where a rare query's candidates are at most a few hundred.
inline constexpr std::size_t kHeavyArticles = 2000;
inline constexpr std::chrono::milliseconds kMostGivingWay{300};

class SearchLanes {
 public:
  // One search, from its start to its end; light until it is found to be heavy. Used from
  // the search's threads at once.
  class Search {
   public:
    Search(SearchLanes& lanes, std::stop_token stop);
    ~Search();
    Search(const Search&) = delete;
    Search& operator=(const Search&) = delete;

    // Once the search knows how many articles it reads.
    void Reads(std::size_t articles);
    // Before each article: a heavy search waits while a light one runs, or until it is
    // stopped, within what is left of its kMostGivingWay.
    void GiveWay();

   private:
    SearchLanes& lanes_;
    std::stop_token stop_;
    std::atomic<bool> heavy_{false};
    std::chrono::steady_clock::duration waited_{};  // under the lanes' mutex
  };

  // The light searches running now.
  std::size_t light() const;

 private:
  mutable std::mutex mutex_;
  std::condition_variable_any light_gone_;
  std::size_t light_ = 0;
};

}  // namespace kb::server
