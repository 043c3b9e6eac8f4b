#include "files/read_ahead.h"

#include <algorithm>
#include <memory>
#include <span>
#include <system_error>
#include <utility>

namespace kb {

ReadAhead::ReadAhead(platform::Env& env, std::size_t count, PathOf path_of,
                     const ReadAheadSettings& settings)
    : env_(env),
      count_(count),
      path_of_(std::move(path_of)),
      depth_(std::max<std::size_t>(settings.depth, 1)) {
  const std::size_t readers =
      std::min({settings.readers != 0 ? settings.readers : depth_, kMostReaders, count_});
  readers_.reserve(readers);
  for (std::size_t made = 0; made < readers; ++made) {
    try {
      readers_.emplace_back([this](const std::stop_token& stop) { ReadAheadUntilDone(stop); });
    } catch (const std::system_error&) {
      break;  // the readers made so far do the reading ahead
    }
  }
}

ReadAhead::~ReadAhead() {
  // All are asked first, so that they leave together rather than one after another.
  for (std::jthread& reader : readers_) reader.request_stop();
  readers_.clear();
}

void ReadAhead::Reached(std::size_t index) {
  const std::size_t end = index + 1;
  std::size_t current = scan_end_.load();
  while (current < end && !scan_end_.compare_exchange_weak(current, end)) {
  }
  // A reader stores wake_at_ before it looks at scan_end_ a last time and sleeps; this looks
  // at wake_at_ after moving scan_end_: one of the two sees the other's store.
  if (end >= wake_at_.load()) {
    const std::lock_guard lock(mutex_);
    wake_at_.store(SIZE_MAX);
    // One reader: it wakes the next when it finds room for more (Claim).
    Wake(false);
  }
}

void ReadAhead::Wake(bool all) {
  ++wakes_;
  if (all) {
    scan_moved_.notify_all();
  } else {
    scan_moved_.notify_one();
  }
}

std::size_t ReadAhead::Claim(const std::stop_token& stop) {
  std::unique_lock lock(mutex_);
  while (!stop.stop_requested()) {
    next_ = std::max(next_, scan_end_.load());
    if (next_ >= count_) break;
    const bool warm = hits_in_a_row_ >= kWarmAfterHits;
    const std::size_t lead = warm ? std::min(kWarmStride, depth_) : depth_;
    if (next_ < scan_end_.load() + lead) {
      const std::size_t index = next_;
      next_ += warm ? kWarmStride : 1;
      if (next_ < scan_end_.load() + lead) Wake(false);
      return index;
    }
    // Every reader that goes to sleep says when it wants waking, then looks at the scan once
    // more (see Reached); a wake finds it back here, whatever it was for.
    wake_at_.store(std::min(wake_at_.load(), next_ - lead + 1));
    if (next_ < scan_end_.load() + lead) continue;
    const std::size_t wakes = wakes_;
    scan_moved_.wait(lock, stop, [&] { return wakes_ != wakes; });
  }
  return count_;
}

bool ReadAhead::Look(std::string_view path) {
  std::unique_ptr<platform::File> file;
  // A file that cannot be opened has nothing to bring in; its own open will say why.
  if (env_.OpenFile(path, {}, file) != platform::system_error::kNone) return true;
  char first = 0;
  std::size_t count = 0;
  bool cached = false;
  const bool in_memory =
      file->ReadCached(0, std::span(&first, 1), count, cached) == platform::system_error::kNone &&
      cached;
  // A file system that cannot tell is asked all the same: the hint costs it nothing.
  if (!in_memory) file->WillRead(0, kReadAheadBytes);
  file->Close();
  return in_memory;
}

void ReadAhead::Reckon(bool in_memory) {
  ++looked_at_;
  const std::lock_guard lock(mutex_);
  if (in_memory) {
    ++hits_in_a_row_;
    return;
  }
  ++found_missing_;
  // Holding back, the readers skipped files: they look at each again from the scan on, all
  // of them.
  if (hits_in_a_row_ >= kWarmAfterHits) {
    next_ = std::min(next_, scan_end_.load());
    Wake(true);
  }
  hits_in_a_row_ = 0;
}

void ReadAhead::ReadAheadUntilDone(const std::stop_token& stop) {
  for (std::size_t index = Claim(stop); index < count_; index = Claim(stop)) {
    const std::string_view path = path_of_(index);
    if (!path.empty()) Reckon(Look(path));
  }
}

}  // namespace kb
