#pragma once

// The locks held on files (platform::LockedFiles), read once for the many searches of a
// program that searches several times a second (the search server).
//
// Reading the kernel's list of locks makes it wait for every processor to pass a quiet point
// unless the list was read within the last few milliseconds: 6 to 8 ms, on each read, when
// searches come 20 ms apart. So a search here takes the latest read when that began at most
// `most_age` before it asked, and waits for a new one otherwise; and a read is begun ahead, on
// a thread of its own, as soon as a search takes one past half that age, so that a steady run
// of searches seldom waits at all. A lock taken `most_age` before a search asks is always seen.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <set>
#include <stop_token>
#include <thread>

#include "platform/file_identity.h"

namespace kb::index {

class RecentLocks {
 public:
  using Locks = std::set<platform::LockedFile>;

  explicit RecentLocks(std::chrono::steady_clock::duration most_age);
  // Stops the reading thread, after the read under way if any.
  ~RecentLocks() = default;

  RecentLocks(const RecentLocks&) = delete;
  RecentLocks& operator=(const RecentLocks&) = delete;

  // The locks of a read begun at most `most_age` ago; safe from any thread. Waits for a read
  // when there is none so recent.
  std::shared_ptr<const Locks> Read();

 private:
  // The reading thread: reads whenever a read is wanted.
  void ReadWhenWanted(std::stop_token stop);

  const std::chrono::steady_clock::duration most_age_;
  std::mutex mutex_;
  std::condition_variable_any changed_;
  std::shared_ptr<const Locks> latest_;
  std::chrono::steady_clock::time_point latest_began_;
  bool wanted_ = false;   // a read is asked for
  bool reading_ = false;  // a read is under way
  std::jthread reader_;   // last: stopped and joined first
};

}  // namespace kb::index
