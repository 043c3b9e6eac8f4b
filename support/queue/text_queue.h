#pragma once

// A queue of texts of any length, numbered from 1 in append order: the lines of a page
// template, which are kept whole however long they are.
//
// As the record queues (support/queue/record_queue.h), every operation but Dispose first
// clears the error state, then posts 8 "Insufficient Memory" when memory for an entry cannot
// be had (the queue is left unchanged) and 30 "Entry Not Found" for an entry number below 1
// or above the count.

#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

namespace kb {

class TextQueue {
 public:
  // Adds a copy of `text` as the new last entry.
  void Append(std::string_view text);
  // Entry `number`, valid until the queue is freed; empty when there is none.
  std::string_view Get(int32_t number);
  int32_t Count();
  // Removes every entry and releases their memory; the queue stays usable.
  void Free();
  // Removes every entry and releases their memory, leaving the error state alone.
  void Dispose() { entries_ = {}; }

 private:
  std::deque<std::string> entries_;
};

}  // namespace kb
