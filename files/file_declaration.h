#pragma once

// What a program declares about one of its files, and the rules that text line files and
// block files share when they open one: the option text, the AccessMode byte, the name
// checks and the numbers posted for a refused open.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "files/file_replacement.h"
#include "files/io_buffer.h"
#include "platform/file_system.h"

namespace kb {

// The longest record a file declaration may have.
inline constexpr std::size_t kMaxRecordLength = 65279;
// The length of a declaration's name variable.
inline constexpr std::size_t kFileNameLength = 255;
// Paths of this many characters or more are refused (45), unless a declaration allows longer.
inline constexpr std::size_t kMaxPathLength = 260;
// The largest FILEBUFFERS count honoured (a 32 MiB buffer); larger counts are cut to it.
inline constexpr int32_t kMaxFileBuffers = 65536;

struct FileDeclaration {
  std::size_t record_length = 255;
  // Option text such as "/FILEBUFFERS=100": each option a "/", a word in capitals and
  // optionally "=" and a value. FILEBUFFERS=n sets the I/O buffer to n * 512 bytes (never
  // less than the record); TAB=n sets the tab width of text line files (8 when not given);
  // other words are accepted and ignored.
  std::string options;
  bool may_create = true;
  std::size_t name_length = kFileNameLength;
  // Paths of this many characters or more are refused (45).
  std::size_t path_limit = kMaxPathLength;
  // The record grows to hold each line whole, however long (text line files only): nothing
  // read or written is cut, memory is the only limit. record_length then only sizes the
  // buffer.
  bool growing_record = false;
};

// The settings an open file works with.
struct FileSettings {
  std::size_t buffer_size = 0;
  int32_t tab_width = 8;
  // Buffered data and the file size are reused from one read to the next. On when the
  // AccessMode denies other openers anything; otherwise every read asks the file afresh.
  bool quick_scan = false;
};

// What an option text gives; a file service reads its declaration's text once, when it is
// made, not at every open.
struct FileOptions {
  std::optional<int32_t> file_buffers;  // FILEBUFFERS
  std::optional<int32_t> tab_width;     // TAB
};
FileOptions ParseOptions(std::string_view text);

// The settings for a declaration with `options` and `record_length` opened with `mode`.
// Without FILEBUFFERS the buffer is 1,024 bytes when `mode` denies others anything and 512
// otherwise, raised to twice the record length. It is never smaller than `minimum_buffer`.
FileSettings SettingsFor(const FileOptions& options, std::size_t record_length, uint8_t mode,
                         std::size_t minimum_buffer);
// The same, reading `declaration`'s option text.
FileSettings SettingsFor(const FileDeclaration& declaration, uint8_t mode,
                         std::size_t minimum_buffer);

// What an AccessMode byte asks of the file system. Write access, or denying others
// everything, takes an exclusive lock; read access that denies others writing takes a shared
// lock; every other open takes none (the lock cannot express "deny read" alone). Sharing bits
// outside the five defined values count as compatibility.
struct AccessRequest {
  platform::Access access = platform::Access::kRead;
  platform::Lock lock = platform::Lock::kNone;
};
AccessRequest RequestFor(uint8_t mode);

// The number posted for a SystemError of an open or create: a sharing violation (32) becomes
// 5, a bad path name (161) 3 and an invalid name (123) 45; a full disk (39), which leaves no
// room for a new file, is 339 Handle Disk Full as for a write, and an I/O error 330 Read Fault
// or 329 Write Fault by what the file is opened for, as for a read or a write; every other
// value stands.
int32_t OpenErrorNumber(platform::SystemError error);

// The number posted for a SystemError of a read, a write, a close or a rename: a sharing
// violation (a lock another program holds) and a refused access are 5, as for an open; every
// other value is posted as 300 plus it, in the message table's own words: 339 Handle Disk
// Full (no space, quota or file-size limit), 329 Write Fault and 330 Read Fault (an I/O error
// of the device).
int32_t TransferErrorNumber(platform::SystemError error);

// Opens the file `name` names for `declaration` through `env`, after the checks every open
// and create make: a record length of 0 or above kMaxRecordLength posts 47, an empty name or
// one of declaration.path_limit characters or more posts 45. A refusal of the file system is posted
// as OpenErrorNumber. Returns false after posting; the error state is left alone on success.
bool OpenDeclaredFile(platform::Env& env, const FileDeclaration& declaration, std::string_view name,
                      const AccessRequest& request, platform::Disposition disposition,
                      std::unique_ptr<platform::File>& file, uint64_t& size);

// Begins `replacement` of the file `name` names for `declaration` (files/file_replacement.h),
// with the hidden file it writes in `file`, after the checks of OpenDeclaredFile. A refusal is
// posted as OpenErrorNumber: 5 when the file is held by another, is not a regular file or
// may not be written. Returns false after posting; the error state is left alone on success.
bool BeginDeclaredReplacement(const FileDeclaration& declaration, std::string_view name,
                              FileReplacement& replacement, std::unique_ptr<platform::File>& file);

// OpenDeclaredFile for read access, with the file's first bytes read into `buffer` as part of
// the open (platform::OpenFileForReading), so that a small file costs no status request.
bool OpenDeclaredFileForReading(platform::Env& env, const FileDeclaration& declaration,
                                std::string_view name, platform::Lock lock, IoBuffer& buffer,
                                std::unique_ptr<platform::File>& file, uint64_t& size);

}  // namespace kb
