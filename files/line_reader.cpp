#include "files/line_reader.h"

#include <algorithm>
#include <cstring>

namespace kb {
namespace {

constexpr char kTab = 9;
constexpr char kLineFeed = 10;
constexpr char kCarriageReturn = 13;
constexpr char kCtrlZ = 26;

}  // namespace

LineReader::LineReader(std::span<char> record, int32_t tab_width)
    : record_(record), tab_width_(tab_width) {}

void LineReader::Start() {
  std::memset(record_.data(), ' ', record_.size());
  state_ = State::kStarting;
  stored_ = 0;
  taken_ = 0;
}

std::size_t LineReader::Feed(std::string_view bytes, bool end_of_data) {
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
    if (state_ == State::kCopying && (stored_ == record_.size() || taken_ == record_.size())) {
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
    record_[stored_++] = byte;
  } else if (tab_width_ == kTabAsIs) {
    record_[stored_++] = kTab;
  } else if (tab_width_ < 0) {
    StoreBlanks(-static_cast<int64_t>(tab_width_));
  } else if (tab_width_ > 0) {
    StoreBlanks(tab_width_ - static_cast<int64_t>(stored_ % static_cast<std::size_t>(tab_width_)));
  }
}

void LineReader::StoreBlanks(int64_t count) {
  // The record is blank already: storing blanks only moves on, never past its end.
  const std::size_t room = record_.size() - stored_;
  stored_ += static_cast<std::size_t>(std::min<int64_t>(count, static_cast<int64_t>(room)));
}

}  // namespace kb
