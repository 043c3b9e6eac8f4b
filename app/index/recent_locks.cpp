#include "app/index/recent_locks.h"

#include <utility>

namespace kb::index {

RecentLocks::RecentLocks(std::chrono::steady_clock::duration most_age)
    : most_age_(most_age), reader_([this](std::stop_token stop) { ReadWhenWanted(stop); }) {}

std::shared_ptr<const RecentLocks::Locks> RecentLocks::Read() {
  const auto asked = std::chrono::steady_clock::now();
  std::unique_lock lock(mutex_);
  const auto recent = [&] { return latest_ && latest_began_ >= asked - most_age_; };
  if (recent()) {
    if (latest_began_ < asked - most_age_ / 2 && !reading_ && !wanted_) {
      wanted_ = true;
      changed_.notify_all();
    }
    return latest_;
  }
  wanted_ = true;
  changed_.notify_all();
  changed_.wait(lock, recent);
  return latest_;
}

void RecentLocks::ReadWhenWanted(std::stop_token stop) {
  std::unique_lock lock(mutex_);
  while (changed_.wait(lock, stop, [this] { return wanted_; })) {
    wanted_ = false;
    reading_ = true;
    const auto began = std::chrono::steady_clock::now();
    lock.unlock();
    auto locks = std::make_shared<const Locks>(platform::LockedFiles());
    lock.lock();
    latest_ = std::move(locks);
    latest_began_ = began;
    reading_ = false;
    changed_.notify_all();
  }
}

}  // namespace kb::index
