#include "files/file_replacement.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <memory>
#include <string>

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
  ASSERT_EQ(file->Close(), system_error::kNone);
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(IsHiddenReplacementOf(
      std::filesystem::path(replacement.hidden_path()).filename().string(), "page"));

  // Another replacement in the folder waits for none: it is refused at once.
  FileReplacement other(env);
  std::unique_ptr<platform::File> other_file;
  EXPECT_EQ(other.Begin(scratch / "elsewhere", other_file), system_error::kSharingViolation);
  EXPECT_EQ(other_file, nullptr);

  ASSERT_EQ(replacement.Commit(), system_error::kNone);
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

}  // namespace
}  // namespace kb
