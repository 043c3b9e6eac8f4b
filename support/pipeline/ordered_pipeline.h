#pragma once

// Work spread over several threads whose results are taken strictly in order: items 0 to
// count - 1 are produced on up to `threads` threads at once and consumed one by one, in index
// order, on the thread that runs the pipeline. Knows nothing of files or the OS.
//
// The calling thread is the consumer and one of the producers: whenever the next item is not
// ready yet and the window has room, it produces the next unclaimed item itself. The other
// producers are threads of the pipeline's own, made when it starts and joined before it
// returns. So one thread runs the plain loop "produce i, consume i" with nothing extra, and
// the consumer sleeps only when every item in the window is claimed and the next is still
// being produced elsewhere.
//
// At most `window` items are claimed and not yet consumed: producers that run ahead wait for
// room, however slow the consumer is (it may wait for a person to answer a message), so
// memory stays bounded however many items there are. The other producers claim items a few
// at a time (at most kLargestBatch, and few enough for every thread to find room) and hand
// each over as soon as it is produced, so that the threads meet at their one lock seldom
// however many there are, and a slow item holds back no other.
//
// Standby producers, besides those, produce only while a gate (StandbyGate) is open: work
// that waits on something outside the processors (a disk) may take more threads than work
// that keeps them busy, and the caller opens the gate while it sees such waits. They are made
// only once the consumer sees the gate open, so a run that never opens it makes none.
//
// A stop request ends the run promptly: no item is consumed after the consumer has seen it,
// producers claim no new item, and every thread has left when RunInOrder returns. Producing
// one item may take long; a producer that should stop within it watches the same token.

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <stop_token>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace kb {

// The most items a producer claims at once.
inline constexpr std::size_t kLargestBatch = 16;

// Lets a pipeline's standby producers work, or keeps them waiting: open, they produce as the
// others do; closed, each finishes the items it has claimed and waits. Any thread may open or
// close it, as often as it likes: a call that changes nothing costs one atomic load.
class StandbyGate {
 public:
  bool is_open() const { return open_.load(std::memory_order_relaxed); }
  void Open() {
    if (is_open()) return;
    const std::lock_guard lock(mutex_);
    open_.store(true);
    opened_.notify_all();
  }
  void Close() {
    if (is_open()) open_.store(false);
  }
  // Waits until the gate is open (true) or `stop` is requested (false).
  bool WaitOpen(const std::stop_token& stop) {
    if (is_open()) return true;
    std::unique_lock lock(mutex_);
    return opened_.wait(lock, stop, [this] { return open_.load(); });
  }

 private:
  std::atomic<bool> open_ = false;
  std::mutex mutex_;
  std::condition_variable_any opened_;
};

struct PipelineSettings {
  // Threads producing at once, the calling thread included; 0 counts as 1. No more threads
  // are made than there are items to share out.
  std::size_t threads = 1;
  // Items produced and not yet consumed, at most; 0 counts as 1.
  std::size_t window = 256;
  // Standby producers besides `threads`, working while `gate` is open; none without a gate.
  std::size_t standby = 0;
  StandbyGate* gate = nullptr;
};

// Runs the pipeline over items 0 to count - 1:
//  - `make_producer()` is called once on each producing thread, on that thread, before it
//    produces anything; what it returns, `producer`, is that thread's own and is called as
//    `producer(index)`, returning the Item for `index`. Producers run concurrently: whatever
//    they share must be safe to use from several threads;
//  - `consume(index, item)` is called on the calling thread for every index in increasing
//    order, with the Item produced for it (an lvalue the consumer may move from);
//  - a producer that has a member `Claimed(first, end)` is told, before it produces them, of
//    each run of items first to end - 1 it is about to produce in that order (not of the
//    items the calling thread produces one at a time), so that it may prepare them together.
// Item must be default-constructible and move-assignable.
//
// Returns true when every item was consumed, false when `stop` ended the run first. A thread
// that cannot be made leaves its share to the others.
template <typename Item, typename MakeProducer, typename Consume>
bool RunInOrder(std::size_t count, const PipelineSettings& settings, std::stop_token stop,
                MakeProducer make_producer, Consume consume) {
  if (count == 0) return true;
  const std::size_t threads = std::min(std::max<std::size_t>(settings.threads, 1), count);
  const std::size_t standby =
      settings.gate != nullptr ? std::min(settings.standby, count - threads) : 0;
  if (threads == 1 && standby == 0) {
    auto producer = make_producer();
    for (std::size_t index = 0; index < count; ++index) {
      if (stop.stop_requested()) return false;
      Item item = producer(index);
      if (stop.stop_requested()) return false;
      consume(index, item);
    }
    return true;
  }

  const std::size_t window = std::max<std::size_t>(settings.window, 1);
  // Producers claim items in batches and the consumer takes every ready item in one go, so
  // that the lock is taken far less often than once per item, however many threads share it.
  // A batch leaves room in the window for every thread to claim one, and a few items give
  // every thread several batches: 19 long articles found for a query, in batches of 16, had
  // one thread make the snippets of 16 while the other stood idle.
  const std::size_t batch = std::clamp<std::size_t>(
      std::min(window / 2, count / 4) / (threads + standby), 1, kLargestBatch);
  std::vector<Item> slots(window);  // item i lives in slots[i % window]
  // By slot: produced and not yet consumed. An item's slot belongs to the thread that claimed
  // the item until it is marked ready, then to the consumer until it is consumed. Marking an
  // item ready takes no lock: the consumer is woken only when it waits.
  std::vector<std::atomic<bool>> ready(window);
  std::atomic<bool> consumer_waiting = false;

  // Guarded by `mutex`:
  std::mutex mutex;
  std::condition_variable_any room;        // producers wait here for the window to move
  std::condition_variable_any next_ready;  // the consumer waits here for item `consumed`
  std::size_t claimed = 0;                 // items handed out to producers
  std::size_t consumed = 0;                // items consumed; the next one to consume
  std::size_t producers_waiting = 0;

  // Every thread of the run waits on `quitting`: requested by `stop`, and by the run itself
  // when it ends, however it ends, so that no thread outlives it.
  std::stop_source quit;
  const std::stop_callback forward_stop(stop, [&quit] { quit.request_stop(); });
  const std::stop_token quitting = quit.get_token();

  const auto has_room = [&] { return claimed < count && claimed < consumed + window; };
  // Claims up to `most` items from `claimed` on; called with `mutex` held, when there is room.
  const auto claim = [&](std::size_t most) {
    const std::size_t first = claimed;
    claimed = std::min({claimed + most, count, consumed + window});
    return first;
  };
  // Marks item `index` ready, and wakes the consumer if it waits. The consumer sets its flag
  // before it looks at the item's, and a producer looks at the flag after it marks the item:
  // one of the two sees the other's mark.
  const auto publish = [&](std::size_t index) {
    ready[index % window].store(true);
    if (consumer_waiting.load()) {
      std::lock_guard lock(mutex);
      next_ready.notify_one();
    }
  };

  const auto produce_until_done = [&](bool on_standby) {
    auto producer = make_producer();
    std::unique_lock lock(mutex);
    while (true) {
      if (on_standby && !settings.gate->is_open()) {
        lock.unlock();
        if (!settings.gate->WaitOpen(quitting)) return;
        lock.lock();
      }
      ++producers_waiting;
      room.wait(lock, quitting, [&] { return claimed >= count || has_room(); });
      --producers_waiting;
      if (quitting.stop_requested() || claimed >= count) return;
      const std::size_t first = claim(batch);
      const std::size_t end = claimed;
      lock.unlock();
      if constexpr (requires { producer.Claimed(first, end); }) producer.Claimed(first, end);
      for (std::size_t index = first; index < end && !stop.stop_requested(); ++index) {
        slots[index % window] = producer(index);
        publish(index);
      }
      lock.lock();
    }
  };

  std::vector<std::jthread> helpers;
  helpers.reserve(threads - 1 + standby);
  // Makes the threads that produce as `on_standby` says, up to `end` in all besides the
  // calling thread's; a thread that cannot be made leaves its share to those made.
  const auto make_helpers = [&](std::size_t end, bool on_standby) {
    while (helpers.size() < end) {
      try {
        helpers.emplace_back(produce_until_done, on_standby);
      } catch (const std::system_error&) {
        return;
      }
    }
  };
  make_helpers(threads - 1, false);
  const std::size_t made_first = helpers.size();
  bool standby_made = standby == 0;
  // Destroyed before `helpers`, which then join.
  const struct QuitOnExit {
    std::stop_source& quit;
    ~QuitOnExit() { quit.request_stop(); }
  } quit_on_exit{quit};

  auto producer = make_producer();
  std::unique_lock lock(mutex);
  // The run's own token is asked before each item: a producer that saw it may have cut its
  // item short, and such an item is never consumed.
  while (!stop.stop_requested()) {
    if (consumed == count) return true;
    if (!standby_made && settings.gate->is_open()) {
      standby_made = true;
      lock.unlock();
      make_helpers(made_first + standby, true);
      lock.lock();
    }
    if (ready[consumed % window].load()) {
      std::size_t end = consumed + 1;
      while (end < count && end < consumed + window && ready[end % window].load()) ++end;
      lock.unlock();
      for (std::size_t index = consumed; index < end; ++index) {
        if (stop.stop_requested()) return false;
        consume(index, slots[index % window]);
      }
      lock.lock();
      for (std::size_t index = consumed; index < end; ++index) ready[index % window].store(false);
      consumed = end;
      if (producers_waiting > 0) room.notify_all();
    } else if (has_room()) {
      // One item at a time, so that what is ready is taken soon.
      const std::size_t own_index = claim(1);
      lock.unlock();
      slots[own_index % window] = producer(own_index);
      ready[own_index % window].store(true);
      lock.lock();
    } else {
      consumer_waiting.store(true);
      next_ready.wait(lock, quitting, [&] { return ready[consumed % window].load(); });
      consumer_waiting.store(false);
    }
  }
  return false;
}

}  // namespace kb
