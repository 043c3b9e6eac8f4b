#include "files/block_file.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <string_view>
#include <utility>

#include "files/io_buffer.h"
#include "files/opened_file.h"
#include "platform/file_system.h"
#include "support/error_state/error_state.h"

namespace kb {

BlockFile::BlockFile(FileDeclaration declaration, platform::Env& env)
    : declaration_(std::move(declaration)),
      env_(env),
      options_(ParseOptions(declaration_.options)),
      name_(declaration_.name_length) {
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
  std::unique_ptr<OpenedFile> opened(new (std::nothrow) OpenedFile);
  if (!opened) {
    PostError(error::kInsufficientMemory);
    return;
  }
  // The buffer comes first, so that an open for reading can fill it as it opens.
  const FileSettings settings = SettingsFor(options_, kBlockSize, mode, kBlockSize);
  if (!opened->buffer.Allocate(settings.buffer_size)) {
    PostError(error::kInsufficientMemory);
    return;
  }
  const AccessRequest request = RequestFor(mode);
  const bool done =
      request.access == platform::Access::kRead
          ? OpenDeclaredFileForReading(env_, declaration_, name_.clipped(), request.lock,
                                       opened->buffer, opened->file, opened->size)
          : OpenDeclaredFile(env_, declaration_, name_.clipped(), request,
                             platform::Disposition::kOpenExisting, opened->file, opened->size);
  if (!done) return;
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
  OpenedFile& file = *open_;
  uint64_t start = 0;
  if (!file.NextStart(start)) return;
  std::size_t count = static_cast<std::size_t>(std::min<uint64_t>(kBlockSize, file.size - start));
  if (!file.buffer.Holds(start, count)) {
    KeepBlock();
    if (const platform::SystemError error = file.buffer.Load(*file.file, start, file.size)) {
      PostError(TransferErrorNumber(error), error);
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
  if (count == kBlockSize) {
    // A full block is handed out where the buffer holds it: most of an article is never
    // copied.
    block_at_ = held.data();
  } else {
    std::memcpy(block_.data(), held.data(), count);
    std::memset(block_.data() + count, 0, kBlockSize - count);
    block_at_ = block_.data();
  }
  last_count_ = count;
  file.position = start + count + 1;
  ClearError();
}

void BlockFile::KeepBlock() {
  if (block_at_ == block_.data()) return;
  std::memcpy(block_.data(), block_at_, kBlockSize);
  block_at_ = block_.data();
}

void BlockFile::Close() {
  if (!open_) {
    PostError(error::kFileNotOpen);
    return;
  }
  KeepBlock();
  const platform::SystemError error = open_->file->Close();
  open_.reset();
  if (error != platform::system_error::kNone) {
    PostError(TransferErrorNumber(error), error);
    return;
  }
  ClearError();
}

}  // namespace kb
