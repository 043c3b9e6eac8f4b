#pragma once

// An Env for tests that counts the calls made through it and makes chosen ones fail as the
// operating system would: "the 3rd write fails with ENOSPC", "the 1st rename of a path
// holding ZebResult fails with EIO". A failed call does not reach the file system. It can
// also run a hook before every call, to delay it or to look at it.
//
// Files and folders opened through it are wrapped, so that their reads, writes, locks and
// closes are counted and can fail too; they name the path they were opened with (a file
// opened in a Folder, the folder's path, "/" and its name). It may be
// used from several threads at once. Tests only.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace kb::platform::testing {

class FaultyEnv : public EnvWrapper {
 public:
  // What runs before every call: the kind of call and the path it is about (for a call on an
  // open file or folder, the path it was opened with; for a rename, the path renamed).
  using Hook = std::function<void(Operation operation, std::string_view path)>;

  explicit FaultyEnv(Env& target = Env::Default()) : EnvWrapper(target) {}

  // Makes the `nth` call of `operation` from now on (1 for the next one) whose path holds
  // `path_part` fail with `os_error`, an errno value such as ENOSPC, translated as the system
  // translates it (SystemErrorOf; OpenErrorOf for an open). File::CheckRecordLocks counts as
  // kLock. Each fault fails one call; several may wait at once.
  void FailNth(Operation operation, int nth, int os_error, std::string path_part = {});
  // Makes every read from now on of a file whose path holds `path_part` fail with `os_error`
  // when it would take in the byte at `offset`, as reads of a bad stretch of a disk fail,
  // whichever read comes to it first.
  void FailReadsOf(uint64_t offset, int os_error, std::string path_part = {});
  // The calls of `operation` made through this Env so far (failed ones included).
  int Calls(Operation operation) const;
  // Runs `hook` before every call from now on; an empty hook runs nothing.
  void SetHook(Hook hook);
  // From now on File::ReadCached finds nothing in memory (true), as after the system emptied
  // its cache, or asks the file system again (false).
  void SetNothingCached(bool nothing_cached) { nothing_cached_ = nothing_cached; }
  bool nothing_cached() const { return nothing_cached_; }

  SystemError OpenFile(std::string_view path, const OpenOptions& options,
                       std::unique_ptr<File>& file) override;
  SystemError PathStatus(std::string_view path, bool follow_links, FileStatus& status) override;
  SystemError Rename(std::string_view from, std::string_view to) override;
  SystemError Remove(std::string_view path) override;
  SystemError OpenDirectory(std::string_view path, std::unique_ptr<Directory>& directory) override;
  SystemError OpenFolder(std::string_view path, std::unique_ptr<Folder>& folder) override;
  SystemError MakeDirectory(std::string_view path, uint32_t permissions) override;

  // Counts the call and runs the hook; the error it is to fail with, or kNone. For the
  // wrapped files and folders.
  SystemError Enter(Operation operation, std::string_view path);
  // Enter for an open for `access`, its failure translated as an open's (OpenErrorOf).
  SystemError EnterOpen(std::string_view path, Access access);
  // The error a read of `length` bytes from `offset` of the file at `path` fails with
  // (FailReadsOf), or kNone. For the wrapped files.
  SystemError ReadFault(std::string_view path, uint64_t offset, std::size_t length) const;

 private:
  struct Fault {
    Operation operation;
    int remaining;  // matching calls until it fails one
    int os_error;
    std::string path_part;
  };

  struct BadByte {
    uint64_t offset;
    int os_error;
    std::string path_part;
  };

  // Counts the call and runs the hook; the errno value it is to fail with, or 0.
  int Take(Operation operation, std::string_view path);

  mutable std::mutex mutex_;
  std::vector<Fault> faults_;
  std::vector<BadByte> bad_bytes_;
  std::vector<int> calls_;
  Hook hook_;
  std::atomic<bool> nothing_cached_ = false;
};

}  // namespace kb::platform::testing
