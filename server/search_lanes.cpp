#include "server/search_lanes.h"

#include <algorithm>
#include <utility>

namespace kb::server {

SearchLanes::SearchLanes(std::size_t light_at_once)
    : light_at_once_(std::max<std::size_t>(light_at_once, 1)) {}

SearchLanes::Search::Search(SearchLanes& lanes, std::stop_token stop)
    : lanes_(lanes), stop_(std::move(stop)) {
  std::unique_lock lock(lanes_.mutex_);
  const uint64_t turn = lanes_.next_turn_++;
  std::condition_variable_any woken;
  lanes_.turns_.emplace(turn, &woken);
  woken.wait(lock, stop_, [&] {
    return lanes_.turns_.begin()->first == turn && lanes_.light_ < lanes_.light_at_once_;
  });
  lanes_.turns_.erase(turn);
  counted_light_ = !stop_.stop_requested();
  if (counted_light_) ++lanes_.light_;
  // The next in turn may start too, when there is room.
  lanes_.WakeNext();
}

SearchLanes::Search::~Search() {
  const std::lock_guard lock(lanes_.mutex_);
  LeaveLight();
}

void SearchLanes::Search::Reads(std::size_t articles) {
  if (articles <= kHeavyArticles || heavy_.exchange(true)) return;
  const std::lock_guard lock(lanes_.mutex_);
  LeaveLight();
}

void SearchLanes::Search::Pause() {
  const std::lock_guard lock(lanes_.mutex_);
  paused_ = LeaveLight();
}

bool SearchLanes::Search::LeaveLight() {
  const bool was = counted_light_;
  if (was) lanes_.LightEnded();
  counted_light_ = false;
  return was;
}

void SearchLanes::Search::Resume() {
  const std::lock_guard lock(lanes_.mutex_);
  if (!paused_ || heavy_) return;
  paused_ = false;
  counted_light_ = true;
  ++lanes_.light_;
}

void SearchLanes::Search::GiveWay() {
  if (!heavy_) return;
  std::unique_lock lock(lanes_.mutex_);
  if (lanes_.light_ == 0 || waited_ >= kMostGivingWay) return;
  const auto began = std::chrono::steady_clock::now();
  lanes_.light_gone_.wait_for(lock, stop_, kMostGivingWay - waited_,
                              [this] { return lanes_.light_ == 0; });
  waited_ += std::chrono::steady_clock::now() - began;
}

void SearchLanes::LightEnded() {
  if (--light_ == 0) light_gone_.notify_all();
  WakeNext();
}

void SearchLanes::WakeNext() {
  if (!turns_.empty() && light_ < light_at_once_) turns_.begin()->second->notify_one();
}

std::size_t SearchLanes::light() const {
  const std::lock_guard lock(mutex_);
  return light_;
}

std::size_t SearchLanes::waiting() const {
  const std::lock_guard lock(mutex_);
  return turns_.size();
}

}  // namespace kb::server
