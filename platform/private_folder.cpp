#include "platform/private_folder.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

#include <cerrno>

#include "platform/posix_file.h"

namespace kb::platform {
namespace {

constexpr int kOpenFlags = O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;

bool IsPrivate(const struct stat& status) {
  return S_ISREG(status.st_mode) && status.st_uid == getuid() && (status.st_mode & 07777) == 0600;
}

bool SingleName(std::string_view name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string_view("/\0", 2)) == std::string_view::npos;
}

// Removes the entry `name` of `folder`, and when it is a folder all it holds first.
bool RemoveEntry(int folder, const char* name, int depth) {
  if (unlinkat(folder, name, 0) == 0 || errno == ENOENT) return true;
  if (errno != EISDIR && errno != EPERM) return false;
  if (depth > 16) return false;
  const int inner = openat(folder, name, O_RDONLY | O_DIRECTORY | kOpenFlags);
  if (inner < 0) return false;
  DIR* entries = fdopendir(inner);
  if (entries == nullptr) {
    close(inner);
    return false;
  }
  bool removed = true;
  while (const dirent* entry = readdir(entries)) {
    const std::string_view entry_name(entry->d_name);
    if (entry_name != "." && entry_name != "..") {
      removed = RemoveEntry(dirfd(entries), entry->d_name, depth + 1) && removed;
    }
  }
  closedir(entries);
  return removed && (unlinkat(folder, name, AT_REMOVEDIR) == 0 || errno == ENOENT);
}

// Makes the missing folders of `path` (absolute), each with mode 0700.
void MakeFolders(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    mkdir(path.substr(0, slash).c_str(), 0700);
    if (slash == std::string::npos) break;
  }
}

}  // namespace

std::unique_ptr<PrivateFolder> PrivateFolder::Open(std::string_view path, bool make,
                                                   Outcome& outcome) {
  outcome = Outcome::kNotPrivate;
  const std::string whole(path);
  if (whole.empty() || whole.front() != '/' || whole.find('\0') != std::string::npos) {
    return nullptr;
  }
  if (make) MakeFolders(whole);
  // A link in the folder's own place is refused: whoever may write the folder above could put
  // one there, to any folder of the user's.
  const int descriptor = open(whole.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (descriptor < 0) {
    if (errno == ENOENT) {
      outcome = make ? Outcome::kNotWritable : Outcome::kMissing;
    } else if (errno != ENOTDIR && errno != ELOOP) {
      outcome = Outcome::kNotWritable;
    }
    return nullptr;
  }
  std::unique_ptr<PrivateFolder> folder(new PrivateFolder(descriptor));
  // What was opened is checked, not what the path names now.
  struct stat status {};
  if (fstat(descriptor, &status) != 0 || !S_ISDIR(status.st_mode) || status.st_uid != getuid() ||
      (status.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
    return nullptr;
  }
  struct statfs system {};
  if (fstatfs(descriptor, &system) != 0) return nullptr;
  if (IsNetworkFileSystem(static_cast<uint64_t>(system.f_type))) {
    outcome = Outcome::kRemote;
    return nullptr;
  }
  if (faccessat(descriptor, ".", W_OK | X_OK, 0) != 0) {
    outcome = Outcome::kNotWritable;
    return nullptr;
  }
  outcome = Outcome::kOpened;
  return folder;
}

PrivateFolder::~PrivateFolder() {
  close(descriptor_);
}

std::string PrivateFolder::PathOf(std::string_view name) const {
  return "/proc/self/fd/" + std::to_string(descriptor_) + "/" + std::string(name);
}

bool PrivateFolder::KeepOnlyPrivateFile(std::string_view name) const {
  if (!SingleName(name)) return false;
  const std::string native(name);
  struct stat status {};
  if (fstatat(descriptor_, native.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0) {
    return errno == ENOENT;
  }
  return IsPrivate(status) || RemoveEntry(descriptor_, native.c_str(), 0);
}

bool PrivateFolder::HoldsPrivateFile(std::string_view name) const {
  struct stat status {};
  return SingleName(name) &&
         fstatat(descriptor_, std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
         IsPrivate(status);
}

bool PrivateFolder::StatusOf(std::string_view name, ExactStatus& status) const {
  return SingleName(name) && StatusAt(descriptor_, name, /*follow_links=*/false, status);
}

std::unique_ptr<File> PrivateFolder::OpenPrivateFile(std::string_view name,
                                                     Creation creation) const {
  if (!SingleName(name)) return nullptr;
  int flags = O_RDWR | kOpenFlags;
  if (creation == Creation::kOpenOrCreate) flags |= O_CREAT;
  if (creation == Creation::kCreateNew) flags |= O_CREAT | O_EXCL;
  int descriptor;
  do {
    descriptor = openat(descriptor_, std::string(name).c_str(), flags, 0600);
  } while (descriptor < 0 && errno == EINTR);
  if (descriptor < 0) return nullptr;
  // A file this open made has mode 0600 less the umask: it is set whole. One found there must
  // already be private.
  struct stat status {};
  if (fstat(descriptor, &status) == 0 && S_ISREG(status.st_mode) && status.st_uid == getuid() &&
      status.st_size == 0 && (status.st_mode & 07777) != 0600 && (status.st_mode & 0077) == 0) {
    fchmod(descriptor, 0600);
    fstat(descriptor, &status);
  }
  if (!IsPrivate(status)) {
    close(descriptor);
    return nullptr;
  }
  return AdoptFile(descriptor);
}

std::optional<std::string> PrivateFolder::ReadPrivateFile(std::string_view name,
                                                          std::size_t most) const {
  if (!SingleName(name)) return std::nullopt;
  const int descriptor = openat(descriptor_, std::string(name).c_str(), O_RDONLY | kOpenFlags);
  if (descriptor < 0) return std::nullopt;
  struct stat status {};
  std::optional<std::string> bytes;
  if (fstat(descriptor, &status) == 0 && IsPrivate(status) &&
      static_cast<uint64_t>(status.st_size) <= most) {
    std::string read(most + 1, '\0');
    std::size_t done = 0;
    for (;;) {
      const ssize_t count =
          pread(descriptor, read.data() + done, read.size() - done, static_cast<off_t>(done));
      if (count < 0 && errno == EINTR) continue;
      if (count <= 0) {
        if (count == 0) bytes = read.substr(0, done);
        break;
      }
      done += static_cast<std::size_t>(count);
      if (done == read.size()) break;  // grew past `most` since its status was taken
    }
  }
  close(descriptor);
  return bytes;
}

bool PrivateFolder::WritePrivateFile(std::string_view name, std::string_view bytes) const {
  const std::string temporary = std::string(name) + ".new";
  if (!KeepOnlyPrivateFile(temporary) || !Remove(temporary)) return false;
  std::unique_ptr<File> file = OpenPrivateFile(temporary, Creation::kCreateNew);
  bool written = file != nullptr;
  std::size_t done = 0;
  while (written && done < bytes.size()) {
    std::size_t count = 0;
    written = file->Write(done, bytes.substr(done), count) == system_error::kNone && count > 0;
    done += count;
  }
  written = file && file->Close() == system_error::kNone && written;
  if (written && Rename(temporary, name)) return true;
  Remove(temporary);
  return false;
}

bool PrivateFolder::Remove(std::string_view name) const {
  return SingleName(name) &&
         (unlinkat(descriptor_, std::string(name).c_str(), 0) == 0 || errno == ENOENT);
}

bool PrivateFolder::Rename(std::string_view from, std::string_view to) const {
  return SingleName(from) && SingleName(to) &&
         renameat(descriptor_, std::string(from).c_str(), descriptor_, std::string(to).c_str()) ==
             0;
}

bool PrivateFolder::Touch(std::string_view name) const {
  return SingleName(name) &&
         utimensat(descriptor_, std::string(name).c_str(), nullptr, AT_SYMLINK_NOFOLLOW) == 0;
}

std::vector<FolderEntry> PrivateFolder::Entries() const {
  std::vector<FolderEntry> entries;
  const int listed = openat(descriptor_, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (listed < 0) return entries;
  DIR* directory = fdopendir(listed);
  if (directory == nullptr) {
    close(listed);
    return entries;
  }
  while (const dirent* entry = readdir(directory)) {
    struct stat status {};
    if (fstatat(dirfd(directory), entry->d_name, &status, AT_SYMLINK_NOFOLLOW) != 0 ||
        !S_ISREG(status.st_mode)) {
      continue;
    }
    entries.push_back({.name = entry->d_name,
                       .size = static_cast<uint64_t>(status.st_size),
                       .mtime_ns = static_cast<int64_t>(status.st_mtim.tv_sec) * 1'000'000'000 +
                                   status.st_mtim.tv_nsec});
  }
  closedir(directory);
  return entries;
}

}  // namespace kb::platform
