#pragma once

// The findings of recent searches, kept for requests that repeat them while the knowledge
// base is proven unchanged since. Each is kept under its key (everything the search was
// given) and the generation of the knowledge base it was made in (KeptListing::Proven): once
// a newer generation is seen, every older finding is dropped. The findings kept take at most
// `capacity` bytes, as the caller counts them; beyond, the least recently used go first, and
// findings larger than a quarter of it are not kept at all. Safe from any thread.

#include <cstddef>
#include <cstdint>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <unordered_map>

namespace kb::server {

struct Findings;

class ResultCache {
 public:
  explicit ResultCache(std::size_t capacity) : capacity_(capacity) {}

  // The findings kept under `key` in `generation`; nothing when there are none.
  std::shared_ptr<const Findings> Find(const std::string& key, uint64_t generation);

  // Keeps `findings`, of `bytes` bytes, under `key` in `generation`; an older generation's
  // findings are not kept.
  void Keep(const std::string& key, uint64_t generation, std::shared_ptr<const Findings> findings,
            std::size_t bytes);

  std::size_t bytes() const;

 private:
  struct Entry {
    std::string key;
    std::shared_ptr<const Findings> findings;
    std::size_t bytes = 0;
  };

  // Drops everything when `generation` is newer than the findings kept; false when it is
  // older.
  bool Reach(uint64_t generation);

  const std::size_t capacity_;
  mutable std::mutex mutex_;
  uint64_t generation_ = 0;
  std::list<Entry> recent_;  // the most recently used first
  std::unordered_map<std::string, std::list<Entry>::iterator> entries_;
  std::size_t bytes_ = 0;
};

}  // namespace kb::server
