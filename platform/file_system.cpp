// What the file services make of the calls of an Env; nothing here calls the system itself.

#include "platform/file_system.h"

#include <algorithm>
#include <utility>

namespace kb::platform {

SystemError File::ReadCached(uint64_t /*offset*/, std::span<char> /*buffer*/, std::size_t& count,
                             bool& cached) {
  count = 0;
  cached = false;
  return system_error::kNotSupported;
}

SystemError File::WillRead() {
  return system_error::kNotSupported;
}

SystemError File::ReadAt(uint64_t offset, std::span<char> buffer, std::size_t& count) {
  count = 0;
  while (count < buffer.size()) {
    std::size_t got = 0;
    if (const SystemError error = Read(offset + count, buffer.subspan(count), got)) return error;
    if (got == 0) break;
    count += got;
  }
  return system_error::kNone;
}

SystemError File::WriteAt(uint64_t offset, std::span<const char> bytes, std::size_t& count) {
  count = 0;
  while (count < bytes.size()) {
    std::size_t put = 0;
    if (const SystemError error = Write(offset + count, bytes.subspan(count), put)) return error;
    // A write that makes no progress would make none on a retry either.
    if (put == 0) return system_error::kDiskFull;
    count += put;
  }
  return system_error::kNone;
}

SystemError Env::ResolvePath(std::string_view /*path*/, std::string& /*resolved*/) {
  return system_error::kNotSupported;
}

SystemError File::Size(uint64_t& size) {
  FileStatus status;
  if (const SystemError error = Status(status)) return error;
  size = status.size;
  return system_error::kNone;
}

FolderEnv::FolderEnv(Env& target, std::string_view folder_path)
    : EnvWrapper(target), prefix_(std::string(folder_path) + "/") {
  if (target.OpenFolder(folder_path, folder_) != system_error::kNone) folder_.reset();
}

SystemError FolderEnv::OpenFile(std::string_view path, const OpenOptions& options,
                                std::unique_ptr<File>& file) {
  if (folder_ && path.size() > prefix_.size() && path.starts_with(prefix_)) {
    const std::string_view name = path.substr(prefix_.size());
    if (name.find('/') == std::string_view::npos) return folder_->OpenFile(name, options, file);
  }
  return EnvWrapper::OpenFile(path, options, file);
}

SystemError OpenRegularFile(Env& env, std::string_view path, Access access, Lock lock,
                            Disposition disposition, std::unique_ptr<File>& file, uint64_t& size) {
  file.reset();
  OpenOptions options;
  options.access = access;
  // Never emptied by the open itself: an existing file is emptied only once its lock is held.
  options.creation = disposition == Disposition::kCreateOrTruncate ? Creation::kOpenOrCreate
                                                                   : Creation::kOpenExisting;
  std::unique_ptr<File> opened;
  if (const SystemError error = env.OpenFile(path, options, opened)) return error;

  FileStatus status;
  if (const SystemError error = opened->Status(status)) return error;
  if (status.type != FileType::kRegular) return system_error::kAccessDenied;
  if (!status.has_write_permission && access != Access::kRead) return system_error::kAccessDenied;

  if (const SystemError error = opened->Lock(lock)) return error;

  if (disposition == Disposition::kCreateOrTruncate && status.size != 0) {
    if (const SystemError error = opened->Truncate(0)) return error;
    status.size = 0;
  }
  size = status.size;
  file = std::move(opened);
  return system_error::kNone;
}

SystemError OpenFileForReading(Env& env, std::string_view path, Lock lock,
                               std::span<char> first_bytes, std::unique_ptr<File>& file,
                               std::size_t& count, uint64_t& size, bool follow_links) {
  file.reset();
  count = 0;
  std::unique_ptr<File> opened;
  if (const SystemError error = env.OpenFile(path, {.follow_links = follow_links}, opened)) {
    return error;
  }
  if (const SystemError error = opened->Lock(lock)) return error;

  std::size_t got = 0;
  const bool read = opened->Read(0, first_bytes, got) == system_error::kNone;
  if (read && got > 0 && got < first_bytes.size()) {
    count = got;
    size = count;
    file = std::move(opened);
    return system_error::kNone;
  }

  FileStatus status;
  if (const SystemError error = opened->Status(status)) return error;
  if (status.type != FileType::kRegular) return system_error::kAccessDenied;
  size = status.size;
  count = read ? static_cast<std::size_t>(std::min<uint64_t>(got, size)) : 0;
  file = std::move(opened);
  return system_error::kNone;
}

SystemError MakeDirectories(Env& env, std::string_view path, uint32_t permissions) {
  // Each folder from the top down: the path up to each "/" after its first byte, then whole.
  for (std::size_t end = 0; end != std::string_view::npos;) {
    end = path.find('/', end + 1);
    const std::string_view folder = path.substr(0, end);
    if (folder.ends_with('/')) continue;  // "//", or a "/" that ends the path
    const SystemError error = env.MakeDirectory(folder, permissions);
    if (error == system_error::kNone) continue;
    FileStatus status;
    const bool there =
        error == system_error::kFileExists &&
        env.PathStatus(folder, /*follow_links=*/true, status) == system_error::kNone &&
        status.type == FileType::kDirectory;
    if (!there) return error;
  }
  return system_error::kNone;
}

}  // namespace kb::platform
