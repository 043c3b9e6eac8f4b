#include "server/search_lanes.h"

#include <utility>

namespace kb::server {

SearchLanes::Search::Search(SearchLanes& lanes, std::stop_token stop)
    : lanes_(lanes), stop_(std::move(stop)) {
  const std::lock_guard lock(lanes_.mutex_);
  ++lanes_.light_;
}

SearchLanes::Search::~Search() {
  if (heavy_) return;
  {
    const std::lock_guard lock(lanes_.mutex_);
    --lanes_.light_;
  }
  lanes_.light_gone_.notify_all();
}

void SearchLanes::Search::Reads(std::size_t articles) {
  if (articles <= kHeavyArticles || heavy_.exchange(true)) return;
  {
    const std::lock_guard lock(lanes_.mutex_);
    --lanes_.light_;
  }
  lanes_.light_gone_.notify_all();
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

std::size_t SearchLanes::light() const {
  const std::lock_guard lock(mutex_);
  return light_;
}

}  // namespace kb::server
