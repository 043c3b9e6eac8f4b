#include "files/io_buffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <span>

namespace kb {

bool IoBuffer::Allocate(std::size_t capacity) {
  if (!bytes_ || capacity != capacity_) {
    // Not value-initialised: a large buffer costs only the pages that reads and writes touch.
    bytes_.reset(new (std::nothrow) char[std::max<std::size_t>(capacity, 1)]);
    capacity_ = bytes_ ? capacity : 0;
  }
  length_ = 0;
  holds_output_ = false;
  return bytes_ != nullptr;
}

std::string_view IoBuffer::HeldFrom(uint64_t offset) const {
  if (holds_output_ || offset < offset_ || offset >= offset_ + length_) return {};
  const auto start = static_cast<std::size_t>(offset - offset_);
  return {bytes_.get() + start, length_ - start};
}

bool IoBuffer::Holds(uint64_t offset, std::size_t length) const {
  return !holds_output_ && offset >= offset_ && offset + length <= offset_ + length_;
}

platform::SystemError IoBuffer::Load(platform::File& file, uint64_t offset, uint64_t& end) {
  Forget();
  if (offset >= end) return platform::system_error::kNone;
  const std::size_t wanted = static_cast<std::size_t>(std::min<uint64_t>(capacity_, end - offset));
  std::size_t count = 0;
  const platform::SystemError error = file.ReadAt(offset, {bytes_.get(), wanted}, count);
  if (error != platform::system_error::kNone) return error;
  offset_ = offset;
  length_ = count;
  if (count < wanted) end = offset + count;
  return platform::system_error::kNone;
}

void IoBuffer::Forget() {
  holds_output_ = false;
  length_ = 0;
}

std::span<char> IoBuffer::Space() {
  Forget();
  return {bytes_.get(), capacity_};
}

void IoBuffer::Adopt(uint64_t offset, std::size_t count) {
  holds_output_ = false;
  offset_ = offset;
  length_ = std::min(count, capacity_);
}

platform::SystemError IoBuffer::Write(platform::File& file, uint64_t offset,
                                      std::string_view bytes) {
  if (bytes.empty()) return platform::system_error::kNone;
  const bool continues = holds_output_ && offset == offset_ + length_;
  if (has_output() && (!continues || length_ + bytes.size() > capacity_)) {
    if (const platform::SystemError error = Flush(file)) return error;
  }
  if (bytes.size() > capacity_) {
    Forget();
    std::size_t count = 0;
    return file.WriteAt(offset, std::span<const char>(bytes), count);
  }
  if (!has_output()) {
    holds_output_ = true;
    offset_ = offset;
    length_ = 0;
  }
  std::memcpy(bytes_.get() + length_, bytes.data(), bytes.size());
  length_ += bytes.size();
  return platform::system_error::kNone;
}

platform::SystemError IoBuffer::Flush(platform::File& file) {
  if (!holds_output_) return platform::system_error::kNone;
  const std::size_t length = length_;
  holds_output_ = false;
  length_ = 0;
  if (length == 0) return platform::system_error::kNone;
  std::size_t count = 0;
  return file.WriteAt(offset_, {bytes_.get(), length}, count);
}

}  // namespace kb
