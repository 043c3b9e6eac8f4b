#pragma once

// The one I/O buffer of an open file: either bytes of the file read ahead, or output
// collected before it is written. Reads never take in bytes at or past the end of the file
// as it is known, so what the buffer holds is never stale data from beyond it.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "platform/file_system.h"

namespace kb {

class IoBuffer {
 public:
  // Makes room for `capacity` bytes (at least 1) and drops what was held; room of that size
  // already had is kept. False, and no room, when memory cannot be had.
  bool Allocate(std::size_t capacity);

  std::size_t capacity() const { return capacity_; }

  // The file's bytes from `offset` to the end of what is held; empty when the buffer holds
  // output or `offset` is outside the bytes it holds.
  std::string_view HeldFrom(uint64_t offset) const;
  // True when the bytes from `offset` to `offset` + `length` are held.
  bool Holds(uint64_t offset, std::size_t length) const;

  // Replaces what is held by the file's bytes from `offset`, as many as fit but none at or
  // past `end`. When the file gives fewer (it has shrunk), `end` is lowered to where its
  // bytes stopped. Output must have been flushed.
  platform::SystemError Load(platform::File& file, uint64_t offset, uint64_t& end);
  // Drops the bytes held, so that the next read asks the file afresh. Output must have been
  // flushed.
  void Forget();
  // The whole buffer, for a read made elsewhere (an open that reads as it opens); what was
  // held is dropped. Adopt then tells what the read took in.
  std::span<char> Space();
  // Holds the first `count` bytes of Space() as the file's bytes from `offset`.
  void Adopt(uint64_t offset, std::size_t count);

  // Collects `bytes` to be written at `offset`. Output collected before is written out first
  // when `bytes` does not continue it or does not fit; bytes that do not fit into an empty
  // buffer are written at once.
  platform::SystemError Write(platform::File& file, uint64_t offset, std::string_view bytes);
  // Writes out the output collected. It is dropped even when the write fails.
  platform::SystemError Flush(platform::File& file);

 private:
  bool has_output() const { return holds_output_ && length_ > 0; }

  std::unique_ptr<char[]> bytes_;
  std::size_t capacity_ = 0;
  uint64_t offset_ = 0;     // of the first byte held, in the file
  std::size_t length_ = 0;  // of the bytes held
  bool holds_output_ = false;
};

}  // namespace kb
