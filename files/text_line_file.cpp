#include "files/text_line_file.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <utility>

#include "files/io_buffer.h"
#include "files/line_reader.h"
#include "files/opened_file.h"
#include "platform/file_system.h"
#include "support/error_state/error_state.h"

namespace kb {
namespace {

constexpr std::string_view kLineEnd = "\r\n";
constexpr char kCtrlZ = 26;

}  // namespace

// What the service keeps about the file while it is open. The size it has seen counts the
// output still in the buffer.
struct TextLineFile::OpenFile : OpenedFile {
  int32_t tab_width = 8;
  bool may_write = false;
  bool added = false;  // an Add was made since Open
};

TextLineFile::TextLineFile(FileDeclaration declaration, platform::Env& env)
    : declaration_(std::move(declaration)),
      env_(env),
      options_(ParseOptions(declaration_.options)),
      name_(declaration_.name_length),
      record_(std::min(declaration_.record_length, kMaxRecordLength)) {}

TextLineFile::~TextLineFile() {
  if (open_) open_->buffer.Flush(*open_->file);
}

bool TextLineFile::is_open() const {
  return open_ != nullptr;
}

void TextLineFile::Open(uint8_t mode) {
  if (open_) {
    PostError(error::kFileAlreadyOpen);
    return;
  }
  std::unique_ptr<OpenFile> opened(new (std::nothrow) OpenFile);
  if (!opened) {
    PostError(error::kInsufficientMemory);
    return;
  }
  const AccessRequest request = RequestFor(mode);
  if (!OpenDeclaredFile(env_, declaration_, name_.clipped(), request,
                        platform::Disposition::kOpenExisting, opened->file, opened->size)) {
    return;
  }
  // A buffer always holds a whole record with its line end.
  const FileSettings settings =
      SettingsFor(options_, declaration_.record_length, mode, record_.size() + kLineEnd.size());
  if (!opened->buffer.Allocate(settings.buffer_size)) {
    PostError(error::kInsufficientMemory);
    return;
  }
  opened->quick_scan = settings.quick_scan;
  opened->tab_width = settings.tab_width;
  opened->may_write = request.access != platform::Access::kRead;
  open_ = std::move(opened);
  ClearError();
}

void TextLineFile::Create() {
  if (open_) {
    PostError(error::kFileAlreadyOpen);
    return;
  }
  if (!declaration_.may_create) {
    PostError(error::kNoCreateAttribute);
    return;
  }
  std::unique_ptr<platform::File> file;
  uint64_t size = 0;
  const AccessRequest exclusive{platform::Access::kWrite, platform::Lock::kExclusive};
  if (!OpenDeclaredFile(env_, declaration_, name_.clipped(), exclusive,
                        platform::Disposition::kCreateOrTruncate, file, size)) {
    return;
  }
  if (const platform::SystemError error = file->Close()) {
    PostError(TransferErrorNumber(error), error);
    return;
  }
  ClearError();
}

void TextLineFile::Set() {
  if (!open_) {
    PostError(error::kFileNotOpen);
    return;
  }
  open_->position = 1;
  ClearError();
}

void TextLineFile::Next() {
  if (!open_) {
    PostError(error::kFileNotOpen);
    return;
  }
  OpenFile& file = *open_;
  if (const platform::SystemError error = file.buffer.Flush(*file.file)) {
    PostError(TransferErrorNumber(error), error);
    return;
  }
  uint64_t start = 0;
  if (!file.NextStart(start)) return;

  LineReader reader(record_.bytes(), file.tab_width);
  reader.Start();
  uint64_t offset = start;
  while (true) {
    std::string_view held = file.buffer.HeldFrom(offset);
    held = held.substr(0, std::min<uint64_t>(held.size(), file.size - offset));
    offset += reader.Feed(held, offset + held.size() >= file.size);
    if (reader.finished()) break;
    if (const platform::SystemError error = file.buffer.Load(*file.file, offset, file.size)) {
      PostError(TransferErrorNumber(error), error);
      return;
    }
  }
  if (reader.end_of_file()) {
    PostError(error::kRecordNotAvailable);
    return;
  }
  file.position = offset + 1;
  ClearError();
}

void TextLineFile::Add() {
  if (!open_) {
    PostError(error::kFileNotOpen);
    return;
  }
  OpenFile& file = *open_;
  if (!file.may_write) {
    PostError(error::kAccessDenied);
    return;
  }
  if (!file.added) {
    file.added = true;
    // A file that ends in Ctrl-Z gets its lines in place of it. A write-only open cannot
    // look at its last byte and leaves it.
    char last = 0;
    std::size_t count = 0;
    if (file.size > 0 &&
        file.file->ReadAt(file.size - 1, {&last, 1}, count) == platform::system_error::kNone &&
        count == 1 && last == kCtrlZ) {
      --file.size;
    }
  }
  const std::string_view line = record_.clipped();
  platform::SystemError error = file.buffer.Write(*file.file, file.size, line);
  if (error == platform::system_error::kNone) {
    error = file.buffer.Write(*file.file, file.size + line.size(), kLineEnd);
  }
  if (error != platform::system_error::kNone) {
    // Some of the output may have reached the file: take its size from the file itself.
    file.file->Size(file.size);
    PostError(TransferErrorNumber(error), error);
    return;
  }
  file.size += line.size() + kLineEnd.size();
  ClearError();
}

void TextLineFile::Close() {
  if (!open_) {
    PostError(error::kFileNotOpen);
    return;
  }
  const platform::SystemError write_error = open_->buffer.Flush(*open_->file);
  const platform::SystemError close_error = open_->file->Close();
  open_.reset();
  if (write_error != platform::system_error::kNone) {
    PostError(TransferErrorNumber(write_error), write_error);
  } else if (close_error != platform::system_error::kNone) {
    PostError(TransferErrorNumber(close_error), close_error);
  } else {
    ClearError();
  }
}

}  // namespace kb
