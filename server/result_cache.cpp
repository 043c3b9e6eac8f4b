#include "server/result_cache.h"

#include <utility>

namespace kb::server {

bool ResultCache::Reach(uint64_t generation) {
  if (generation < generation_) return false;
  if (generation > generation_) {
    recent_.clear();
    entries_.clear();
    bytes_ = 0;
    generation_ = generation;
  }
  return true;
}

std::shared_ptr<const Findings> ResultCache::Find(const std::string& key, uint64_t generation) {
  const std::lock_guard lock(mutex_);
  if (!Reach(generation)) return nullptr;
  const auto found = entries_.find(key);
  if (found == entries_.end()) return nullptr;
  recent_.splice(recent_.begin(), recent_, found->second);
  return found->second->findings;
}

void ResultCache::Keep(const std::string& key, uint64_t generation,
                       std::shared_ptr<const Findings> findings, std::size_t bytes) {
  const std::lock_guard lock(mutex_);
  if (bytes > capacity_ / 4 || !Reach(generation)) return;
  if (const auto found = entries_.find(key); found != entries_.end()) {
    bytes_ -= found->second->bytes;
    recent_.erase(found->second);
    entries_.erase(found);
  }
  while (bytes_ + bytes > capacity_ && !recent_.empty()) {
    bytes_ -= recent_.back().bytes;
    entries_.erase(recent_.back().key);
    recent_.pop_back();
  }
  recent_.push_front({.key = key, .findings = std::move(findings), .bytes = bytes});
  entries_.emplace(key, recent_.begin());
  bytes_ += bytes;
}

std::size_t ResultCache::bytes() const {
  const std::lock_guard lock(mutex_);
  return bytes_;
}

}  // namespace kb::server
