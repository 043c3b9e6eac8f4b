#include "files/file_replacement.h"

#include <random>
#include <utility>

namespace kb {
namespace {

namespace system_error = platform::system_error;

constexpr std::string_view kNameCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
constexpr std::size_t kHiddenSuffixLength = 6;
// Attempts at a hidden name nobody uses; each is one of 62^6 names.
constexpr int kNameAttempts = 100;
constexpr uint32_t kNewFilePermissions = 0644;
// The hidden file is its owner's alone until its contents are complete: a file that will be
// private must never be open to others on the way.
constexpr uint32_t kHiddenFilePermissions = 0600;

bool IsNameCharacter(char byte) {
  return kNameCharacters.find(byte) != std::string_view::npos;
}

// The folder part of `path` ("." when it has none) and its last component.
std::pair<std::string_view, std::string_view> SplitPath(std::string_view path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string_view::npos) return {".", path};
  return {slash == 0 ? path.substr(0, 1) : path.substr(0, slash), path.substr(slash + 1)};
}

std::string Join(std::string_view folder, std::string_view name) {
  std::string path(folder);
  if (!path.ends_with('/')) path += '/';
  return path.append(name);
}

std::string HiddenName(std::string_view name, std::mt19937& random) {
  std::string hidden = ".";
  hidden.append(name).append(".");
  std::uniform_int_distribution<std::size_t> pick(0, kNameCharacters.size() - 1);
  for (std::size_t i = 0; i < kHiddenSuffixLength; ++i) hidden += kNameCharacters[pick(random)];
  return hidden;
}

}  // namespace

bool IsHiddenReplacementOf(std::string_view entry, std::string_view name) {
  const std::size_t prefix = name.size() + 2;
  if (entry.size() != prefix + kHiddenSuffixLength || entry[0] != '.' ||
      entry.substr(1, name.size()) != name || entry[prefix - 1] != '.') {
    return false;
  }
  for (const char byte : entry.substr(prefix)) {
    if (!IsNameCharacter(byte)) return false;
  }
  return true;
}

FileReplacement::~FileReplacement() {
  Abandon();
}

platform::SystemError FileReplacement::Begin(std::string_view path,
                                             std::unique_ptr<platform::File>& file,
                                             std::optional<uint32_t> permissions) {
  Abandon();
  file.reset();
  const auto [folder, name] = SplitPath(path);
  platform::SystemError error = LockFolder(folder);
  platform::FileStatus old_status;
  if (error == system_error::kNone) error = HoldOldFile(path, old_status);
  if (error == system_error::kNone) {
    if (permissions) {
      permissions_ = *permissions & 0777;
    } else if (old_file_) {
      permissions_ = old_status.permissions;
    } else {
      permissions_ = kNewFilePermissions & ~platform::CreationMask();
    }
    if (folder_) RemoveLeftBehind(folder, name);
    error = CreateHidden(folder, name, file);
  }
  if (error != system_error::kNone) {
    file.reset();
    Abandon();
    return error;
  }
  path_ = path;
  return system_error::kNone;
}

platform::SystemError FileReplacement::Commit(platform::File& file) {
  if (!active()) return system_error::kInvalidHandle;
  platform::SystemError error = file.SetPermissions(permissions_);
  const platform::SystemError close_error = file.Close();
  if (error == system_error::kNone) error = close_error;
  // A record lock taken while the new contents were written holds the old file as well.
  if (error == system_error::kNone && old_file_) error = old_file_->CheckRecordLocks();
  if (error == system_error::kNone) error = env_.Rename(hidden_path_, path_);
  if (error != system_error::kNone) {
    Abandon();
    return error;
  }
  End();
  return system_error::kNone;
}

void FileReplacement::Abandon() {
  if (active()) env_.Remove(hidden_path_);
  End();
}

void FileReplacement::End() {
  hidden_path_.clear();
  path_.clear();
  old_file_.reset();
  folder_.reset();
}

platform::SystemError FileReplacement::LockFolder(std::string_view folder) {
  if (env_.OpenDirectory(folder, folder_) != system_error::kNone) return system_error::kNone;
  const platform::SystemError error = folder_->Lock(platform::Lock::kExclusive);
  if (error == system_error::kSharingViolation) return error;
  if (error != system_error::kNone) folder_.reset();
  return system_error::kNone;
}

platform::SystemError FileReplacement::HoldOldFile(std::string_view path,
                                                   platform::FileStatus& status) {
  platform::FileStatus named;
  const platform::SystemError error = env_.PathStatus(path, false, named);
  if (error == system_error::kFileNotFound) return system_error::kNone;
  if (error != system_error::kNone) return error;
  if (named.type == platform::FileType::kSymbolicLink) return system_error::kNone;
  if (named.type != platform::FileType::kRegular) return system_error::kAccessDenied;

  const platform::OpenOptions options{.access = platform::Access::kReadWrite,
                                      .follow_links = false};
  if (const platform::SystemError refused = env_.OpenFile(path, options, old_file_)) {
    return refused;
  }
  if (const platform::SystemError failed = old_file_->Status(status)) return failed;
  // Something else took the name between the two looks: another program is at work on it.
  if (status.device != named.device || status.inode != named.inode) {
    return system_error::kSharingViolation;
  }
  if (!status.has_write_permission) return system_error::kAccessDenied;
  if (const platform::SystemError held = old_file_->Lock(platform::Lock::kExclusive)) return held;
  return old_file_->CheckRecordLocks();
}

void FileReplacement::RemoveLeftBehind(std::string_view folder, std::string_view name) {
  bool found = false;
  while (folder_->Next(found) == system_error::kNone && found) {
    if (IsHiddenReplacementOf(folder_->name(), name)) env_.Remove(Join(folder, folder_->name()));
  }
}

platform::SystemError FileReplacement::CreateHidden(std::string_view folder, std::string_view name,
                                                    std::unique_ptr<platform::File>& file) {
  std::mt19937 random(std::random_device{}());
  const platform::OpenOptions options{.access = platform::Access::kWrite,
                                      .creation = platform::Creation::kCreateNew,
                                      .follow_links = false,
                                      .permissions = kHiddenFilePermissions & permissions_};
  platform::SystemError error = system_error::kFileExists;
  for (int attempt = 0; attempt < kNameAttempts && error == system_error::kFileExists; ++attempt) {
    std::string hidden_path = Join(folder, HiddenName(name, random));
    error = env_.OpenFile(hidden_path, options, file);
    if (error == system_error::kNone) hidden_path_ = std::move(hidden_path);
  }
  return error;
}

}  // namespace kb
