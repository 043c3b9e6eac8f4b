#include "support/queue/text_queue.h"

#include <new>

#include "support/error_state/error_state.h"

namespace kb {

void TextQueue::Append(std::string_view text) {
  ClearError();
  try {
    entries_.emplace_back(text);
  } catch (const std::bad_alloc&) {
    PostError(error::kInsufficientMemory);
  }
}

std::string_view TextQueue::Get(int32_t number) {
  ClearError();
  if (number < 1 || static_cast<std::size_t>(number) > entries_.size()) {
    PostError(error::kEntryNotFound);
    return {};
  }
  return entries_[static_cast<std::size_t>(number) - 1];
}

int32_t TextQueue::Count() {
  ClearError();
  return static_cast<int32_t>(entries_.size());
}

void TextQueue::Free() {
  ClearError();
  entries_ = {};
}

}  // namespace kb
