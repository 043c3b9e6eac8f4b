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
  return opened_ != nullptr && opened_->file != nullptr;
}

uint64_t BlockFile::size() const {
  return is_open() ? opened_->size : 0;
}

std::size_t BlockFile::buffer_size() const {
  return opened_ ? opened_->buffer.capacity() : 0;
}

platform::SystemError BlockFile::ReadAt(uint64_t offset, std::span<char> bytes,
                                        std::size_t& count) const {
  count = 0;
  if (!is_open()) return platform::system_error::kInvalidHandle;
  const uint64_t size = opened_->size;
  if (offset >= size) return platform::system_error::kNone;
  if (bytes.size() > size - offset) bytes = bytes.first(static_cast<std::size_t>(size - offset));
  return opened_->file->ReadAt(offset, bytes, count);
}

platform::SystemError BlockFile::Status(platform::FileStatus& status) const {
  if (!is_open()) return platform::system_error::kInvalidHandle;
  return opened_->file->Status(status);
}

void BlockFile::Open(uint8_t mode) {
  if (is_open()) {
    PostError(error::kFileAlreadyOpen);
    return;
  }
  if (!opened_) {
    opened_.reset(new (std::nothrow) OpenedFile);
    if (!opened_) {
      PostError(error::kInsufficientMemory);
      return;
    }
  }
  OpenedFile& opened = *opened_;
  // The buffer comes first, so that an open for reading can fill it as it opens.
  const FileSettings settings = SettingsFor(options_, kBlockSize, mode, kBlockSize);
  if (!opened.buffer.Allocate(settings.buffer_size)) {
    PostError(error::kInsufficientMemory);
    return;
  }
  const AccessRequest request = RequestFor(mode);
  const bool done =
      request.access == platform::Access::kRead
          ? OpenDeclaredFileForReading(env_, declaration_, name_.clipped(), request.lock,
                                       opened.buffer, opened.file, opened.size)
          : OpenDeclaredFile(env_, declaration_, name_.clipped(), request,
                             platform::Disposition::kOpenExisting, opened.file, opened.size);
  if (!done) return;
  opened.quick_scan = settings.quick_scan;
  opened.position = 0;
  ClearError();
}

void BlockFile::Set() {
  if (!is_open()) {
    PostError(error::kFileNotOpen);
    return;
  }
  opened_->position = 1;
  ClearError();
}

std::string_view BlockFile::HeldFromNext(uint64_t& start) {
  if (!is_open()) {
    PostError(error::kFileNotOpen);
    return {};
  }
  OpenedFile& file = *opened_;
  if (!file.NextStart(start)) return {};
  const auto count = static_cast<std::size_t>(std::min<uint64_t>(kBlockSize, file.size - start));
  if (!file.buffer.Holds(start, count)) {
    KeepBlock();
    if (const platform::SystemError error = file.buffer.Load(*file.file, start, file.size)) {
      PostError(TransferErrorNumber(error), error);
      return {};
    }
    // The file may have shrunk since it was opened.
    if (start >= file.size) {
      PostError(error::kRecordNotAvailable);
      return {};
    }
  }
  const std::string_view held = file.buffer.HeldFrom(start);
  return held.substr(0,
                     static_cast<std::size_t>(std::min<uint64_t>(held.size(), file.size - start)));
}

void BlockFile::Next() {
  uint64_t start = 0;
  const std::string_view held = HeldFromNext(start);
  if (held.empty()) return;
  const std::size_t count = std::min(held.size(), kBlockSize);
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
  opened_->position = start + count + 1;
  ClearError();
}

std::string_view BlockFile::NextBlocks() {
  uint64_t start = 0;
  std::string_view held = HeldFromNext(start);
  if (held.empty()) return {};
  // Whole blocks, but for the file's last one.
  if (start + held.size() < opened_->size) held.remove_suffix(held.size() % kBlockSize);
  opened_->position = start + held.size() + 1;
  ClearError();
  return held;
}

void BlockFile::KeepBlock() {
  if (block_at_ == block_.data()) return;
  std::memcpy(block_.data(), block_at_, kBlockSize);
  block_at_ = block_.data();
}

void BlockFile::Close() {
  if (!is_open()) {
    PostError(error::kFileNotOpen);
    return;
  }
  KeepBlock();
  const platform::SystemError error = opened_->file->Close();
  opened_->file.reset();
  opened_->buffer.Forget();
  if (error != platform::system_error::kNone) {
    PostError(TransferErrorNumber(error), error);
    return;
  }
  ClearError();
}

}  // namespace kb
