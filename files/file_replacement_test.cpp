#include "files/file_replacement.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "platform/testing/faulty_env.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using kb::testing::ReadAll;
using kb::testing::ScratchDirectory;
namespace system_error = platform::system_error;

TEST(FileReplacementTest, ANewFileAppearsWholeOnlyAtCommitWithTheUsualPermissions) {
  ScratchDirectory scratch;
  const std::string path = scratch / "page";
  platform::Env& env = platform::Env::Default();
  FileReplacement replacement(env);
  std::unique_ptr<platform::File> file;
  const mode_t old_umask = umask(027);
  ASSERT_EQ(replacement.Begin(path, file), system_error::kNone);
  umask(old_umask);
  std::size_t count = 0;
  ASSERT_EQ(file->WriteAt(0, std::string_view("new"), count), system_error::kNone);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(IsHiddenReplacementOf(
      std::filesystem::path(replacement.hidden_path()).filename().string(), "page"));

  // Another replacement in the folder waits for none: it is refused at once.
  FileReplacement other(env);
  std::unique_ptr<platform::File> other_file;
  EXPECT_EQ(other.Begin(scratch / "elsewhere", other_file), system_error::kSharingViolation);
  EXPECT_EQ(other_file, nullptr);

  ASSERT_EQ(replacement.Commit(*file), system_error::kNone);
  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_EQ(std::filesystem::status(path).permissions(), std::filesystem::perms::owner_read |
                                                             std::filesystem::perms::owner_write |
                                                             std::filesystem::perms::group_read);

  // Given up, it leaves the old file and nothing beside it.
  ASSERT_EQ(other.Begin(path, other_file), system_error::kNone);
  other.Abandon();
  EXPECT_EQ(ReadAll(path), "new");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 1);
}

mode_t ModeOf(const std::string& path) {
  struct stat status {};
  return ::lstat(path.c_str(), &status) == 0 ? status.st_mode & 07777 : 0;
}

// Whatever the final permissions, the hidden file is never open to more than they allow, at
// any call made on the way to them: another user can never read a private page through it.
TEST(FileReplacementTest, TheHiddenFileIsNeverWiderThanTheFinalPermissionsAtAnyStep) {
  struct Case {
    mode_t old_page;  // 0: there is none
    mode_t umask;
    mode_t final_permissions;
  };
  for (const Case c : {Case{0600, 022, 0600}, Case{0640, 022, 0640}, Case{0, 022, 0644},
                       Case{0, 077, 0600}, Case{0200, 0, 0200}}) {
    ScratchDirectory scratch;
    const std::string path = scratch / "page";
    if (c.old_page != 0) {
      scratch.Write("page", "old");
      ::chmod(path.c_str(), c.old_page);
    }
    platform::testing::FaultyEnv env;
    FileReplacement replacement(env);
    std::vector<mode_t> seen;
    env.SetHook([&](platform::Operation, std::string_view called) {
      if (replacement.active() && called == replacement.hidden_path()) {
        seen.push_back(ModeOf(replacement.hidden_path()));
      }
    });
    const mode_t old_umask = ::umask(c.umask);
    std::unique_ptr<platform::File> file;
    ASSERT_EQ(replacement.Begin(path, file), system_error::kNone);
    ::umask(old_umask);
    seen.push_back(ModeOf(replacement.hidden_path()));
    std::size_t count = 0;
    ASSERT_EQ(file->WriteAt(0, std::string_view("new"), count), system_error::kNone);
    ASSERT_EQ(replacement.Commit(*file), system_error::kNone);

    EXPECT_EQ(ModeOf(path), c.final_permissions) << std::oct << c.final_permissions;
    ASSERT_GE(seen.size(), 4u);  // after the create, the write, the permissions, the rename
    for (const mode_t mode : seen) {
      EXPECT_EQ(mode & ~c.final_permissions, 0u)
          << std::oct << mode << " on the way to " << c.final_permissions;
    }
  }
}

// A record lock (fcntl, lockf) on any byte of the old file keeps it, whether it is there when
// the replacement begins or taken while the new contents are written.
TEST(FileReplacementTest, ARecordLockOnTheOldFileKeepsIt) {
  ScratchDirectory scratch;
  const std::string path = scratch.Write("page", "old page");
  platform::Env& env = platform::Env::Default();

  const auto lock_with = [&](int command, short type) {
    const int held = ::open(path.c_str(), O_RDWR | O_CLOEXEC);
    struct flock range {};
    range.l_type = type;
    range.l_whence = SEEK_SET;
    range.l_start = 2;
    range.l_len = 1;
    EXPECT_EQ(::fcntl(held, command, &range), 0);
    return held;
  };

  for (const short type : {F_RDLCK, F_WRLCK}) {
    const int held = lock_with(F_OFD_SETLK, type);
    FileReplacement replacement(env);
    std::unique_ptr<platform::File> file;
    EXPECT_EQ(replacement.Begin(path, file), system_error::kSharingViolation);
    EXPECT_EQ(file, nullptr);
    ::close(held);
  }

  // A lock of this very process, as lockf takes it, counts as well.
  FileReplacement replacement(env);
  std::unique_ptr<platform::File> file;
  ASSERT_EQ(replacement.Begin(path, file), system_error::kNone);
  std::size_t count = 0;
  ASSERT_EQ(file->WriteAt(0, std::string_view("new"), count), system_error::kNone);
  const int held = lock_with(F_SETLK, F_WRLCK);
  EXPECT_EQ(replacement.Commit(*file), system_error::kSharingViolation);
  ::close(held);
  EXPECT_EQ(ReadAll(path), "old page");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(scratch.path()), {}), 1);
}

// Replaces the file at `path` in `env` with `contents`; gives the first failure.
platform::SystemError Replace(const std::string& path, std::string_view contents) {
  FileReplacement replacement(platform::Env::Default());
  std::unique_ptr<platform::File> file;
  platform::SystemError error = replacement.Begin(path, file);
  std::size_t count = 0;
  if (error == system_error::kNone) error = file->WriteAt(0, contents, count);
  if (error == system_error::kNone) error = replacement.Commit(*file);
  return error;
}

// The hidden files in `folder`.
std::vector<std::string> HiddenFiles(const std::filesystem::path& folder) {
  std::vector<std::string> hidden;
  for (const auto& entry : std::filesystem::directory_iterator(folder)) {
    if (entry.path().filename().string().starts_with(".")) {
      hidden.push_back(entry.path().filename().string());
    }
  }
  return hidden;
}

// A link in the old file's place, to a file or to nothing, is replaced and what it points
// to never written; a second name of the old file keeps the old contents. A file another
// open holds, one without a write bit, or a folder is not replaced. A hidden file that a
// killed replacement left behind is removed; one that is not of that form stays.
TEST(FileReplacementTest, WhatStandsInTheOldFilesPlaceDecides) {
  ScratchDirectory scratch;
  const std::string path = scratch / "page";
  const std::string outside = scratch.Write("outside", "outside");
  const std::string absent = scratch / "absent";
  for (const std::string& target : {outside, absent}) {
    std::filesystem::remove(path);
    std::filesystem::create_symlink(target, path);
    ASSERT_EQ(Replace(path, "new"), system_error::kNone);
    EXPECT_TRUE(std::filesystem::is_regular_file(std::filesystem::symlink_status(path)));
    EXPECT_EQ(ReadAll(path), "new");
  }
  EXPECT_EQ(ReadAll(outside), "outside");
  EXPECT_FALSE(std::filesystem::exists(absent));
  std::filesystem::create_hard_link(path, scratch / "second name");
  ASSERT_EQ(Replace(path, "newer"), system_error::kNone);
  EXPECT_EQ(ReadAll(scratch / "second name"), "new");
  EXPECT_EQ(ReadAll(path), "newer");

  std::unique_ptr<platform::File> reader;
  uint64_t size = 0;
  ASSERT_EQ(platform::OpenRegularFile(platform::Env::Default(), path, platform::Access::kRead,
                                      platform::Lock::kShared, platform::Disposition::kOpenExisting,
                                      reader, size),
            system_error::kNone);
  EXPECT_EQ(Replace(path, "x"), system_error::kSharingViolation);
  reader.reset();
  ::chmod(path.c_str(), 0444);
  EXPECT_EQ(Replace(path, "x"), system_error::kAccessDenied);
  EXPECT_EQ(ReadAll(path), "newer");
  std::filesystem::remove(path);
  std::filesystem::create_directory(path);
  EXPECT_EQ(Replace(path, "x"), system_error::kAccessDenied);
  EXPECT_TRUE(std::filesystem::is_directory(path));
  EXPECT_EQ(HiddenFiles(scratch.path()), std::vector<std::string>{});

  std::filesystem::remove(path);
  scratch.Write(".page.a1B2c3", "left by a killed replacement");
  scratch.Write(".page.notmine", "someone else's");
  ASSERT_EQ(Replace(path, "x"), system_error::kNone);
  EXPECT_EQ(HiddenFiles(scratch.path()), std::vector<std::string>{".page.notmine"});
}

}  // namespace
}  // namespace kb
