#include "platform/testing/faulty_env.h"

#include <algorithm>
#include <utility>

namespace kb::platform::testing {
namespace {

class FaultyFile final : public File {
 public:
  FaultyFile(FaultyEnv& env, std::string path, std::unique_ptr<File> file)
      : env_(env), path_(std::move(path)), file_(std::move(file)) {}

  SystemError Lock(platform::Lock lock) override {
    if (const SystemError error = env_.Enter(Operation::kLock, path_)) return error;
    return file_->Lock(lock);
  }
  SystemError Read(uint64_t offset, std::span<char> buffer, std::size_t& count) override {
    count = 0;
    if (const SystemError error = env_.Enter(Operation::kRead, path_)) return error;
    if (const SystemError error = env_.ReadFault(path_, offset, buffer.size())) return error;
    return file_->Read(offset, buffer, count);
  }
  SystemError ReadCached(uint64_t offset, std::span<char> buffer, std::size_t& count,
                         bool& cached) override {
    count = 0;
    cached = false;
    if (const SystemError error = env_.Enter(Operation::kReadCached, path_)) return error;
    if (const SystemError error = env_.ReadFault(path_, offset, buffer.size())) return error;
    if (env_.nothing_cached()) return system_error::kNone;
    return file_->ReadCached(offset, buffer, count, cached);
  }
  SystemError WillRead() override {
    if (const SystemError error = env_.Enter(Operation::kWillRead, path_)) return error;
    return file_->WillRead();
  }
  SystemError Write(uint64_t offset, std::span<const char> bytes, std::size_t& count) override {
    count = 0;
    if (const SystemError error = env_.Enter(Operation::kWrite, path_)) return error;
    return file_->Write(offset, bytes, count);
  }
  SystemError Status(FileStatus& status) override {
    if (const SystemError error = env_.Enter(Operation::kStatus, path_)) return error;
    return file_->Status(status);
  }
  SystemError Truncate(uint64_t size) override {
    if (const SystemError error = env_.Enter(Operation::kTruncate, path_)) return error;
    return file_->Truncate(size);
  }
  SystemError SetPermissions(uint32_t permissions) override {
    if (const SystemError error = env_.Enter(Operation::kSetPermissions, path_)) return error;
    return file_->SetPermissions(permissions);
  }
  SystemError CheckRecordLocks() override {
    if (const SystemError error = env_.Enter(Operation::kLock, path_)) return error;
    return file_->CheckRecordLocks();
  }
  // A failed close closes the file all the same, as the system's does.
  SystemError Close() override {
    const SystemError error = env_.Enter(Operation::kClose, path_);
    const SystemError closed = file_->Close();
    return error != system_error::kNone ? error : closed;
  }

 private:
  FaultyEnv& env_;
  std::string path_;
  std::unique_ptr<File> file_;
};

class FaultyDirectory final : public Directory {
 public:
  FaultyDirectory(FaultyEnv& env, std::string path, std::unique_ptr<Directory> directory)
      : env_(env), path_(std::move(path)), directory_(std::move(directory)) {}

  SystemError Next(bool& found) override {
    found = false;
    if (const SystemError error = env_.Enter(Operation::kReadDirectory, path_)) return error;
    return directory_->Next(found);
  }
  std::string_view name() const override { return directory_->name(); }
  SystemError Status(FileStatus& status) override {
    if (const SystemError error = env_.Enter(Operation::kStatus, path_)) return error;
    return directory_->Status(status);
  }
  bool RecordedType(FileType& type) const override { return directory_->RecordedType(type); }
  SystemError Lock(platform::Lock lock) override {
    if (const SystemError error = env_.Enter(Operation::kLock, path_)) return error;
    return directory_->Lock(lock);
  }

 private:
  FaultyEnv& env_;
  std::string path_;
  std::unique_ptr<Directory> directory_;
};

// Files opened in a folder are wrapped as those opened by path are, and named by their path.
class FaultyFolder final : public Folder {
 public:
  FaultyFolder(FaultyEnv& env, std::string path, std::unique_ptr<Folder> folder)
      : env_(env), path_(std::move(path)), folder_(std::move(folder)) {}

  SystemError OpenFile(std::string_view name, const OpenOptions& options,
                       std::unique_ptr<File>& file) override {
    file.reset();
    std::string path = path_ + "/" + std::string(name);
    if (const SystemError error = env_.EnterOpen(path, options.access)) return error;
    std::unique_ptr<File> opened;
    if (const SystemError error = folder_->OpenFile(name, options, opened)) return error;
    file = std::make_unique<FaultyFile>(env_, std::move(path), std::move(opened));
    return system_error::kNone;
  }

 private:
  FaultyEnv& env_;
  std::string path_;
  std::unique_ptr<Folder> folder_;
};

}  // namespace

void FaultyEnv::FailNth(Operation operation, int nth, int os_error, std::string path_part) {
  const std::lock_guard lock(mutex_);
  faults_.push_back({operation, nth, os_error, std::move(path_part)});
}

void FaultyEnv::FailReadsOf(uint64_t offset, int os_error, std::string path_part) {
  const std::lock_guard lock(mutex_);
  bad_bytes_.push_back({offset, os_error, std::move(path_part)});
}

SystemError FaultyEnv::ReadFault(std::string_view path, uint64_t offset, std::size_t length) const {
  const std::lock_guard lock(mutex_);
  for (const BadByte& bad : bad_bytes_) {
    if (bad.offset >= offset && bad.offset - offset < length &&
        path.find(bad.path_part) != std::string_view::npos) {
      return SystemErrorOf(bad.os_error, Operation::kRead);
    }
  }
  return system_error::kNone;
}

int FaultyEnv::Calls(Operation operation) const {
  const std::lock_guard lock(mutex_);
  const auto index = static_cast<std::size_t>(operation);
  return index < calls_.size() ? calls_[index] : 0;
}

void FaultyEnv::SetHook(Hook hook) {
  const std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

SystemError FaultyEnv::Enter(Operation operation, std::string_view path) {
  const int os_error = Take(operation, path);
  return os_error == 0 ? system_error::kNone : SystemErrorOf(os_error, operation);
}

SystemError FaultyEnv::EnterOpen(std::string_view path, Access access) {
  const int os_error = Take(Operation::kOpen, path);
  return os_error == 0 ? system_error::kNone : OpenErrorOf(os_error, access);
}

int FaultyEnv::Take(Operation operation, std::string_view path) {
  Hook hook;
  int os_error = 0;
  {
    const std::lock_guard lock(mutex_);
    const auto index = static_cast<std::size_t>(operation);
    if (calls_.size() <= index) calls_.resize(index + 1);
    ++calls_[index];
    for (auto fault = faults_.begin(); fault != faults_.end(); ++fault) {
      if (fault->operation != operation || path.find(fault->path_part) == std::string_view::npos) {
        continue;
      }
      if (--fault->remaining > 0) continue;
      os_error = fault->os_error;
      faults_.erase(fault);
      break;
    }
    hook = hook_;
  }
  if (hook) hook(operation, path);
  return os_error;
}

SystemError FaultyEnv::OpenFile(std::string_view path, const OpenOptions& options,
                                std::unique_ptr<File>& file) {
  file.reset();
  if (const SystemError error = EnterOpen(path, options.access)) return error;
  std::unique_ptr<File> opened;
  if (const SystemError error = EnvWrapper::OpenFile(path, options, opened)) return error;
  file = std::make_unique<FaultyFile>(*this, std::string(path), std::move(opened));
  return system_error::kNone;
}

SystemError FaultyEnv::PathStatus(std::string_view path, bool follow_links, FileStatus& status) {
  if (const SystemError error = Enter(Operation::kPathStatus, path)) return error;
  return EnvWrapper::PathStatus(path, follow_links, status);
}

SystemError FaultyEnv::Rename(std::string_view from, std::string_view to) {
  if (const SystemError error = Enter(Operation::kRename, from)) return error;
  return EnvWrapper::Rename(from, to);
}

SystemError FaultyEnv::Remove(std::string_view path) {
  if (const SystemError error = Enter(Operation::kRemove, path)) return error;
  return EnvWrapper::Remove(path);
}

SystemError FaultyEnv::MakeDirectory(std::string_view path, uint32_t permissions) {
  if (const SystemError error = Enter(Operation::kMakeDirectory, path)) return error;
  return EnvWrapper::MakeDirectory(path, permissions);
}

SystemError FaultyEnv::OpenDirectory(std::string_view path, std::unique_ptr<Directory>& directory) {
  directory.reset();
  if (const SystemError error = Enter(Operation::kOpenDirectory, path)) return error;
  std::unique_ptr<Directory> opened;
  if (const SystemError error = EnvWrapper::OpenDirectory(path, opened)) return error;
  directory = std::make_unique<FaultyDirectory>(*this, std::string(path), std::move(opened));
  return system_error::kNone;
}

SystemError FaultyEnv::OpenFolder(std::string_view path, std::unique_ptr<Folder>& folder) {
  folder.reset();
  if (const SystemError error = Enter(Operation::kOpenFolder, path)) return error;
  std::unique_ptr<Folder> opened;
  if (const SystemError error = EnvWrapper::OpenFolder(path, opened)) return error;
  folder = std::make_unique<FaultyFolder>(*this, std::string(path), std::move(opened));
  return system_error::kNone;
}

}  // namespace kb::platform::testing
