#include "platform/file_identity.h"

#include <fcntl.h>
#include <grp.h>
#include <linux/magic.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <sstream>

#include "platform/posix_file.h"

namespace kb::platform {
namespace {

int64_t Nanoseconds(const statx_timestamp& time) {
  return static_cast<int64_t>(time.tv_sec) * 1'000'000'000 + time.tv_nsec;
}

bool Statx(int folder, const std::string& name, int flags, ExactStatus& status) {
  struct statx buffer {};
  if (statx(folder, name.c_str(), flags,
            STATX_TYPE | STATX_INO | STATX_SIZE | STATX_MTIME | STATX_CTIME, &buffer) != 0) {
    return false;
  }
  status = {.device_major = buffer.stx_dev_major,
            .device_minor = buffer.stx_dev_minor,
            .inode = buffer.stx_ino,
            .size = buffer.stx_size,
            .mtime_ns = Nanoseconds(buffer.stx_mtime),
            .ctime_ns = Nanoseconds(buffer.stx_ctime),
            .regular = S_ISREG(buffer.stx_mode)};
  return true;
}

}  // namespace

bool StatusAt(int folder, std::string_view name, bool follow_links, ExactStatus& status) {
  return Statx(folder, std::string(name),
               AT_STATX_SYNC_AS_STAT | (follow_links ? 0 : AT_SYMLINK_NOFOLLOW), status);
}

bool IsNetworkFileSystem(uint64_t type) {
  constexpr unsigned long kCifs = 0xFF534D42;
  constexpr unsigned long kSmb2 = 0xFE534D42;
  constexpr unsigned long kFuse = 0x65735546;
  constexpr unsigned long kNinePee = 0x01021997;
  constexpr unsigned long kCeph = 0x00C36400;
  constexpr unsigned long kAfs = 0x5346414F;
  constexpr unsigned long kCoda = 0x73757245;
  constexpr unsigned long kNcp = 0x564C;
  constexpr unsigned long kGfs2 = 0x01161970;
  constexpr unsigned long kOcfs2 = 0x7461636F;
  switch (type) {
    case NFS_SUPER_MAGIC:
    case SMB_SUPER_MAGIC:
    case kCifs:
    case kSmb2:
    case kFuse:
    case kNinePee:
    case kCeph:
    case kAfs:
    case kCoda:
    case kNcp:
    case kGfs2:
    case kOcfs2:
      return true;
    default:
      return false;
  }
}

std::unique_ptr<StatusFolder> StatusFolder::Open(std::string_view path) {
  const int descriptor = open(std::string(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
  if (descriptor < 0) return nullptr;
  return std::unique_ptr<StatusFolder>(new StatusFolder(descriptor));
}

StatusFolder::~StatusFolder() {
  close(descriptor_);
}

bool StatusFolder::StatusOf(std::string_view name, ExactStatus& status) const {
  return Statx(descriptor_, std::string(name), AT_STATX_SYNC_AS_STAT, status);
}

bool StatusFolder::HasThisNameAlone(std::string_view name) const {
  struct stat status {};
  return fstatat(descriptor_, std::string(name).c_str(), &status, AT_SYMLINK_NOFOLLOW) == 0 &&
         S_ISREG(status.st_mode) && status.st_nlink == 1;
}

namespace {

bool IsImageFileSystem(uint64_t type) {
  switch (type) {
    case SQUASHFS_MAGIC:
    case EROFS_SUPER_MAGIC_V1:
    case ISOFS_SUPER_MAGIC:
    case CRAMFS_MAGIC:
    case CRAMFS_MAGIC_WEND:
    case UDF_SUPER_MAGIC:
      return true;
    default:
      return false;
  }
}

FileSystemOf FileSystemOfStatus(const struct statfs& buffer) {
  uint64_t id = 0;
  static_assert(sizeof(buffer.f_fsid) == sizeof(id));
  __builtin_memcpy(&id, &buffer.f_fsid, sizeof(id));
  const auto type = static_cast<uint64_t>(buffer.f_type);
  return {.known = true,
          .remote = IsNetworkFileSystem(type),
          .image = IsImageFileSystem(type),
          .id = id};
}

}  // namespace

FileSystemOf StatusFolder::FileSystemOfEntry(std::string_view name) const {
  const int entry = openat(descriptor_, std::string(name).c_str(), O_PATH | O_CLOEXEC);
  if (entry < 0) return {};
  struct statfs buffer {};
  const bool asked = fstatfs(entry, &buffer) == 0;
  close(entry);
  return asked ? FileSystemOfStatus(buffer) : FileSystemOf{};
}

bool StatusOfPath(std::string_view path, ExactStatus& status) {
  return Statx(AT_FDCWD, std::string(path), AT_STATX_SYNC_AS_STAT, status);
}

FileSystemOf FileSystemOfPath(std::string_view path) {
  struct statfs buffer {};
  if (statfs(std::string(path).c_str(), &buffer) != 0) return {};
  return FileSystemOfStatus(buffer);
}

std::set<LockedFile> LockedFiles() {
  // Lines such as "1: POSIX  ADVISORY  WRITE 1234 08:01:5678 0 EOF"; a lock waited for has
  // "->" after the number.
  const std::string own_process = std::to_string(getpid());
  std::set<LockedFile> locked;
  std::ifstream locks("/proc/locks");
  std::string line;
  while (std::getline(locks, line)) {
    std::istringstream fields(line);
    std::string field;
    std::vector<std::string> words;
    while (fields >> field) {
      if (field != "->") words.push_back(field);
    }
    if (words.size() < 6 || (words[3] == "READ" && words[4] == own_process)) continue;
    unsigned major = 0;
    unsigned minor = 0;
    unsigned long long inode = 0;
    if (std::sscanf(words[5].c_str(), "%x:%x:%llu", &major, &minor, &inode) == 3) {
      locked.emplace(major, minor, inode);
    }
  }
  return locked;
}

int64_t RealTimeNs() {
  timespec now{};
  clock_gettime(CLOCK_REALTIME, &now);
  return static_cast<int64_t>(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
}

uint32_t UserId() {
  return static_cast<uint32_t>(getuid());
}

std::vector<uint32_t> GroupIds() {
  std::vector<gid_t> groups(static_cast<std::size_t>(std::max(getgroups(0, nullptr), 0)));
  const int count = getgroups(static_cast<int>(groups.size()), groups.data());
  std::vector<uint32_t> ids{static_cast<uint32_t>(getgid())};
  for (int i = 0; i < count; ++i) ids.push_back(static_cast<uint32_t>(groups[i]));
  std::sort(ids.begin(), ids.end());
  ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
  return ids;
}

std::optional<std::string> CanonicalPath(std::string_view path) {
  char* resolved = realpath(std::string(path).c_str(), nullptr);
  if (resolved == nullptr) return std::nullopt;
  std::string canonical(resolved);
  std::free(resolved);
  return canonical;
}

int OpenNeverWaiting(const char* path, int flags, int mode) {
  return open(path, flags | O_NONBLOCK, static_cast<mode_t>(mode));
}

bool IsMissingOrPrivateFile(std::string_view path) {
  struct stat status {};
  if (lstat(std::string(path).c_str(), &status) != 0) return errno == ENOENT;
  return S_ISREG(status.st_mode) && status.st_uid == getuid() && (status.st_mode & 07777) == 0600;
}

}  // namespace kb::platform

namespace kb::platform {

std::unique_ptr<FolderWatch> FolderWatch::Open(std::string_view path) {
  std::unique_ptr<FolderWatch> watch = OpenEmpty();
  if (watch && !watch->Add(path, "")) watch.reset();
  return watch;
}

std::unique_ptr<FolderWatch> FolderWatch::OpenEmpty() {
  const int descriptor = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  if (descriptor < 0) return nullptr;
  return std::unique_ptr<FolderWatch>(new FolderWatch(descriptor));
}

bool FolderWatch::Add(std::string_view path, std::string_view prefix) {
  constexpr uint32_t kEvents = IN_ATTRIB | IN_CLOSE_WRITE | IN_CREATE | IN_DELETE | IN_MODIFY |
                               IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
  // A folder watched already gives its watch again (with the same events): it keeps the
  // prefix it had.
  const int watch = inotify_add_watch(descriptor_, std::string(path).c_str(), kEvents | IN_ONLYDIR);
  if (watch < 0 || prefixes_.contains(watch)) return false;
  prefixes_[watch] = prefix;
  return true;
}

FolderWatch::~FolderWatch() {
  close(descriptor_);
}

FolderWatch::Changes FolderWatch::Take() {
  Changes changes;
  changes.everything = broken_;
  alignas(inotify_event) char buffer[64 * 1024];
  for (;;) {
    const ssize_t count = read(descriptor_, buffer, sizeof buffer);
    if (count < 0) {
      // Nothing more for now; anything else and the watch cannot be trusted again.
      if (errno != EAGAIN) broken_ = changes.everything = true;
      break;
    }
    if (count == 0) break;
    for (ssize_t at = 0; at < count;) {
      const auto* event = reinterpret_cast<const inotify_event*>(buffer + at);
      at += static_cast<ssize_t>(sizeof(inotify_event) + event->len);
      if ((event->mask & (IN_Q_OVERFLOW | IN_IGNORED | IN_DELETE_SELF | IN_MOVE_SELF)) != 0) {
        // A folder went or moved: nothing it reports from now on is about what was watched.
        if ((event->mask & IN_Q_OVERFLOW) == 0) broken_ = true;
        changes.everything = true;
      } else if (event->len == 0) {
        changes.everything = true;  // the folder's own status changed
      } else {
        const auto prefix = prefixes_.find(event->wd);
        changes.names.push_back((prefix != prefixes_.end() ? prefix->second : std::string()) +
                                event->name);
      }
    }
  }
  return changes;
}

}  // namespace kb::platform
