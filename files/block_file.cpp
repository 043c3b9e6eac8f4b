#include "files/block_file.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "files/error_state.h"
#include "files/io_buffer.h"
#include "platform/file_system.h"

namespace kb {

// What the service keeps about the file while it is open.
class BlockFile::OpenFile {
 public:
  platform::File file;
  bool quick_scan = false;
  uint64_t size = 0;      // as last seen
  uint64_t position = 0;  // 1-based offset of the next block; 0 before Set
  IoBuffer buffer;
};

BlockFile::BlockFile(FileDeclaration declaration)
    : declaration_(std::move(declaration)), name_(declaration_.name_length) {
  declaration_.record_length = kBlockSize;
}

BlockFile::~BlockFile() = default;

bool BlockFile::is_open() const {
  return open_ != nullptr;
}

void BlockFile::Open(uint8_t mode) {
  if (open_) {
    PostError(error::kFileAlreadyOpen);
    return;
  }
  std::unique_ptr<OpenFile> opened(new (std::nothrow) OpenFile);
  if (!opened) {
    PostError(error::kInsufficientMemory);
    return;
  }
  if (!OpenDeclaredFile(declaration_, name_.clipped(), RequestFor(mode),
                        platform::Disposition::kOpenExisting, opened->file, opened->size)) {
    return;
  }
  const FileSettings settings = SettingsFor(declaration_, mode, kBlockSize);
  if (!opened->buffer.Allocate(settings.buffer_size)) {
    PostError(error::kInsufficientMemory);
    return;
  }
  opened->quick_scan = settings.quick_scan;
  open_ = std::move(opened);
  ClearError();
}

void BlockFile::Set() {
  if (!open_) {
    PostError(error::kFileNotOpen);
    return;
  }
  open_->position = 1;
  ClearError();
}

void BlockFile::Next() {
  if (!open_) {
    PostError(error::kFileNotOpen);
    return;
  }
  OpenFile& file = *open_;
  if (!file.quick_scan) {
    // Other openers may change the file between reads: ask it afresh.
    file.buffer.Forget();
    if (const platform::SystemError error = file.file.Size(file.size)) {
      PostError(0, error);
      return;
    }
  }
  const uint64_t start = file.position == 0 ? 0 : file.position - 1;
  if (start >= file.size) {
    PostError(error::kRecordNotAvailable);
    return;
  }
  std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(kBlockSize, file.size - start));
  if (!file.buffer.Holds(start, count)) {
    if (const platform::SystemError error = file.buffer.Load(file.file, start, file.size)) {
      PostError(0, error);
      return;
    }
    // The file may have shrunk since it was opened.
    if (start >= file.size) {
      PostError(error::kRecordNotAvailable);
      return;
    }
    count = std::min<std::size_t>(count, file.size - start);
  }
  const std::string_view held = file.buffer.HeldFrom(start);
  block_.fill('\0');
  std::memcpy(block_.data(), held.data(), count);
  last_count_ = count;
  file.position = start + count + 1;
  ClearError();
}

void BlockFile::Close() {
  if (!open_) {
    PostError(error::kFileNotOpen);
    return;
  }
  const platform::SystemError error = open_->file.Close();
  open_.reset();
  if (error != platform::system_error::kNone) {
    PostError(error::kAccessDenied, error);
    return;
  }
  ClearError();
}

}  // namespace kb
