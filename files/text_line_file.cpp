#include "files/text_line_file.h"

#include <algorithm>
#include <new>
#include <string_view>
#include <utility>

#include "files/access_mode.h"
#include "files/file_replacement.h"
#include "files/io_buffer.h"
#include "files/line_reader.h"
#include "files/opened_file.h"
#include "platform/file_system.h"
#include "support/error_state/error_state.h"

namespace kb {
namespace {

constexpr char kCtrlZ = 26;

}  // namespace

// What the service keeps about the file while it is open. The size it has seen counts the
// output still in the buffer.
struct TextLineFile::OpenFile : OpenedFile {
  OpenFile(std::size_t record_length, int32_t tab_width) : reader(record_length, tab_width) {}

  LineReader reader;  // kept from line to line, so that its room is reused
  bool may_write = false;
  bool added = false;  // an Add was made since Open
  // The file written is the hidden one of a replacement (Replace); absent for Open.
  std::unique_ptr<FileReplacement> replacement;
};

TextLineFile::TextLineFile(FileDeclaration declaration, platform::Env& env)
    : declaration_(std::move(declaration)),
      env_(env),
      options_(ParseOptions(declaration_.options)),
      name_(declaration_.name_length),
      record_(declaration_.growing_record
                  ? TextField::Growing()
                  : TextField(std::min(declaration_.record_length, kMaxRecordLength))) {}

TextLineFile::~TextLineFile() {
  // A replacement that was not committed is given up as its FileReplacement goes.
  if (open_ && !open_->replacement) open_->buffer.Flush(*open_->file);
}

FileSettings TextLineFile::SettingsFor(uint8_t mode) const {
  // A buffer always holds a whole record of a fixed length with its line end.
  return kb::SettingsFor(options_, declaration_.record_length, mode,
                         declaration_.record_length + kLineEnd.size());
}

bool TextLineFile::is_open() const {
  return open_ != nullptr;
}

void TextLineFile::Open(uint8_t mode) {
  if (open_) {
    PostError(error::kFileAlreadyOpen);
    return;
  }
  const FileSettings settings = SettingsFor(mode);
  const std::size_t record_length = declaration_.growing_record ? kGrowingRecord : record_.size();
  std::unique_ptr<OpenFile> opened(new (std::nothrow) OpenFile(record_length, settings.tab_width));
  if (!opened) {
    PostError(error::kInsufficientMemory);
    return;
  }
  const AccessRequest request = RequestFor(mode);
  if (!OpenDeclaredFile(env_, declaration_, name_.clipped(), request,
                        platform::Disposition::kOpenExisting, opened->file, opened->size)) {
    return;
  }
  if (!opened->buffer.Allocate(settings.buffer_size)) {
    PostError(error::kInsufficientMemory);
    return;
  }
  opened->quick_scan = settings.quick_scan;
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

void TextLineFile::Replace() {
  if (open_) {
    PostError(error::kFileAlreadyOpen);
    return;
  }
  if (!declaration_.may_create) {
    PostError(error::kNoCreateAttribute);
    return;
  }
  // Written by this open alone, as a file that denies others everything.
  const FileSettings settings = SettingsFor(access_mode::kWrite | access_mode::kDenyAll);
  std::unique_ptr<OpenFile> opened(new (std::nothrow) OpenFile(1, settings.tab_width));
  if (opened) opened->replacement.reset(new (std::nothrow) FileReplacement(env_));
  if (!opened || !opened->replacement) {
    PostError(error::kInsufficientMemory);
    return;
  }
  if (!BeginDeclaredReplacement(declaration_, name_.clipped(), *opened->replacement,
                                opened->file)) {
    return;
  }
  if (!opened->buffer.Allocate(settings.buffer_size)) {
    PostError(error::kInsufficientMemory);
    return;
  }
  opened->quick_scan = settings.quick_scan;
  opened->may_write = true;
  opened->added = true;  // a new file: there is no Ctrl-Z to write over
  open_ = std::move(opened);
  ClearError();
}

void TextLineFile::Commit() {
  if (!open_ || !open_->replacement) {
    Close();
    return;
  }
  const std::unique_ptr<OpenFile> file = std::move(open_);
  platform::SystemError error = file->buffer.Flush(*file->file);
  if (error == platform::system_error::kNone) {
    error = file->replacement->Commit(*file->file);
  } else {
    file->replacement->Abandon();
  }
  if (error != platform::system_error::kNone) {
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

  LineReader& reader = file.reader;
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
    record_.Clear();
    PostError(error::kRecordNotAvailable);
    return;
  }
  if (reader.out_of_memory() || !record_.Assign(reader.line())) {
    PostError(error::kInsufficientMemory);
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
  if (open_->replacement) {
    open_.reset();
    ClearError();
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
