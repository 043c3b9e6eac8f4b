#include "files/line_reader.h"

#include <algorithm>
#include <new>

namespace kb {
namespace {

constexpr char kTab = 9;
constexpr char kLineFeed = 10;
constexpr char kCarriageReturn = 13;
constexpr char kCtrlZ = 26;
constexpr char kBlank = ' ';

}  // namespace

LineReader::LineReader(std::size_t record_length, int32_t tab_width)
    : record_length_(record_length), tab_width_(tab_width) {}

void LineReader::Start() {
  line_.clear();
  state_ = State::kStarting;
  taken_ = 0;
}

std::size_t LineReader::Feed(std::string_view bytes, bool end_of_data) {
  try {
    return Copy(bytes, end_of_data);
  } catch (const std::bad_alloc&) {
    state_ = State::kOutOfMemory;
    return 0;
  }
}

std::size_t LineReader::Copy(std::string_view bytes, bool end_of_data) {
  std::size_t used = 0;
  while (!finished()) {
    if (used == bytes.size()) {
      if (end_of_data) state_ = state_ == State::kStarting ? State::kEndOfFile : State::kDone;
      break;
    }
    const char byte = bytes[used];
    if (byte == kCtrlZ) {
      if (state_ == State::kStarting) {
        state_ = State::kEndOfFile;
      } else {
        ++used;
        state_ = State::kDone;
      }
      break;
    }
    if (byte == kCarriageReturn) {
      const bool next_is_here = used + 1 < bytes.size();
      if (!next_is_here && !end_of_data) break;
      if (next_is_here && bytes[used + 1] == kLineFeed) {
        used += 2;
        state_ = State::kDone;
        break;
      }
    }
    if (state_ == State::kStarting) state_ = State::kCopying;
    if (state_ == State::kCopying && (line_.size() == record_length_ || taken_ == record_length_)) {
      state_ = State::kSkipping;
    }
    if (state_ == State::kCopying) {
      Store(byte);
      ++taken_;
    }
    ++used;
  }
  return used;
}

void LineReader::Store(char byte) {
  if (byte != kTab) {
    line_ += byte;
  } else if (tab_width_ == kTabAsIs) {
    line_ += kTab;
  } else if (tab_width_ < 0) {
    StoreBlanks(-static_cast<int64_t>(tab_width_));
  } else if (tab_width_ > 0) {
    StoreBlanks(tab_width_ -
                static_cast<int64_t>(line_.size() % static_cast<std::size_t>(tab_width_)));
  }
}

void LineReader::StoreBlanks(int64_t count) {
  // Never past the end of the record.
  const std::size_t room = record_length_ - line_.size();
  line_.append(static_cast<std::size_t>(std::min<uint64_t>(static_cast<uint64_t>(count), room)),
               kBlank);
}

}  // namespace kb
