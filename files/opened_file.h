#pragma once

// What text line files and block files keep about a file while it is open, and the step of
// reading that both take before each record: finding where it starts and whether the file
// still holds it.

#include <cstdint>
#include <memory>

#include "files/io_buffer.h"
#include "platform/file_system.h"

namespace kb {

struct OpenedFile {
  std::unique_ptr<platform::File> file;
  IoBuffer buffer;
  // Buffered data and the size are reused from one read to the next (FileSettings).
  bool quick_scan = false;
  uint64_t size = 0;      // as last seen
  uint64_t position = 0;  // 1-based offset of the next record; 0 before Set

  // Gives in `start` the 0-based offset of the next record: where the last one ended, or the
  // first one before any read. Without quick_scan the buffer is dropped and the size asked
  // afresh first, since other openers may change the file between reads. Returns false after
  // posting: 300 plus the operating system's number when the size cannot be had, 33 when the
  // record would start at or past the end of the file.
  bool NextStart(uint64_t& start);
};

}  // namespace kb
