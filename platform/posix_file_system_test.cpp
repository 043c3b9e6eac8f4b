#include "platform/file_system.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <string>
#include <vector>

#include "support/testing/scratch_directory.h"

namespace kb::platform {
namespace {

using kb::testing::ReadAll;
using kb::testing::ScratchDirectory;

SystemError Open(const std::string& path, Access access, Lock lock, File& file,
                 Disposition disposition = Disposition::kOpenExisting) {
  uint64_t size = 0;
  return OpenFile(path, access, lock, disposition, file, size);
}

TEST(OpenFileTest, RefusesWhatIsNotARegularFileWithoutWaiting) {
  ScratchDirectory scratch;
  ASSERT_EQ(mkfifo((scratch / "fifo").c_str(), 0666), 0);
  File file;
  // Neither open may block although no process is at the other end of the FIFO.
  EXPECT_EQ(Open(scratch / "fifo", Access::kRead, Lock::kNone, file), system_error::kAccessDenied);
  EXPECT_EQ(Open(scratch / "fifo", Access::kReadWrite, Lock::kExclusive, file),
            system_error::kAccessDenied);
  EXPECT_EQ(Open(scratch / "fifo", Access::kWrite, Lock::kNone, file), system_error::kAccessDenied);
  EXPECT_EQ(Open(scratch.path().string(), Access::kRead, Lock::kNone, file),
            system_error::kAccessDenied);
  EXPECT_EQ(Open(scratch.path().string(), Access::kReadWrite, Lock::kNone, file),
            system_error::kAccessDenied);
  EXPECT_FALSE(file.is_open());
}

TEST(OpenFileTest, RefusesNamesThatCannotBePaths) {
  ScratchDirectory scratch;
  std::filesystem::create_symlink("loop", scratch / "loop");
  File file;
  EXPECT_EQ(Open(std::string("a\0b", 3), Access::kRead, Lock::kNone, file),
            system_error::kInvalidName);
  EXPECT_EQ(Open(scratch / std::string(300, 'n'), Access::kRead, Lock::kNone, file),
            system_error::kInvalidName);
  EXPECT_EQ(Open(scratch / "loop", Access::kRead, Lock::kNone, file), system_error::kBadPathName);
}

TEST(OpenFileTest, LocksExcludeConflictingOpensUntilClosed) {
  ScratchDirectory scratch;
  const std::string path = scratch.Write("shared", "data");
  File writer;
  ASSERT_EQ(Open(path, Access::kReadWrite, Lock::kExclusive, writer), system_error::kNone);

  File other;
  EXPECT_EQ(Open(path, Access::kRead, Lock::kShared, other), system_error::kSharingViolation);
  EXPECT_EQ(Open(path, Access::kReadWrite, Lock::kExclusive, other),
            system_error::kSharingViolation);
  EXPECT_EQ(Open(path, Access::kWrite, Lock::kExclusive, other, Disposition::kCreateOrTruncate),
            system_error::kSharingViolation);
  EXPECT_EQ(ReadAll(path), "data") << "a create refused by the lock must not empty the file";
  EXPECT_EQ(Open(path, Access::kRead, Lock::kNone, other), system_error::kNone);

  ASSERT_EQ(writer.Close(), system_error::kNone);
  File reader;
  ASSERT_EQ(Open(path, Access::kRead, Lock::kShared, reader), system_error::kNone);
  EXPECT_EQ(Open(path, Access::kRead, Lock::kShared, other), system_error::kNone);
  EXPECT_EQ(Open(path, Access::kReadWrite, Lock::kExclusive, writer),
            system_error::kSharingViolation);
}

TEST(FileTest, CreatesEmptiesReadsAndWritesAtOffsets) {
  ScratchDirectory scratch;
  const std::string path = scratch.Write("file", "old contents");
  File file;
  uint64_t size = 99;
  ASSERT_EQ(OpenFile(path, Access::kReadWrite, Lock::kExclusive, Disposition::kCreateOrTruncate,
                     file, size),
            system_error::kNone);
  EXPECT_EQ(size, 0u);
  EXPECT_EQ(ReadAll(path), "");

  std::size_t count = 0;
  ASSERT_EQ(file.WriteAt(0, std::string_view("hello world"), count), system_error::kNone);
  EXPECT_EQ(count, 11u);
  ASSERT_EQ(file.WriteAt(6, std::string_view("WORLD"), count), system_error::kNone);
  ASSERT_EQ(file.Size(size), system_error::kNone);
  EXPECT_EQ(size, 11u);

  std::vector<char> buffer(8, '#');
  ASSERT_EQ(file.ReadAt(4, buffer, count), system_error::kNone);
  EXPECT_EQ(std::string(buffer.data(), count), "o WORLD") << "a read stops at the end";
  ASSERT_EQ(file.ReadAt(11, buffer, count), system_error::kNone);
  EXPECT_EQ(count, 0u);

  File created;
  ASSERT_EQ(OpenFile(scratch / "new", Access::kWrite, Lock::kExclusive,
                     Disposition::kCreateOrTruncate, created, size),
            system_error::kNone);
  EXPECT_TRUE(std::filesystem::is_regular_file(scratch / "new"));
}

TEST(FileTest, MovingHandsTheDescriptorOver) {
  ScratchDirectory scratch;
  const std::string path = scratch.Write("file", "x");
  File first;
  ASSERT_EQ(Open(path, Access::kRead, Lock::kExclusive, first), system_error::kNone);
  File second = std::move(first);
  EXPECT_FALSE(first.is_open());
  EXPECT_TRUE(second.is_open());
  File other;
  EXPECT_EQ(Open(path, Access::kRead, Lock::kShared, other), system_error::kSharingViolation);
  second = File();
  EXPECT_EQ(Open(path, Access::kRead, Lock::kShared, other), system_error::kNone);
}

TEST(DirectoryReaderTest, ListsEveryEntryAndFollowsLinks) {
  ScratchDirectory scratch;
  scratch.Write("file", "12345");
  std::filesystem::create_directory(scratch / "sub");
  std::filesystem::create_symlink("file", scratch / "link");
  std::filesystem::create_symlink("absent", scratch / "dangling");
  ASSERT_EQ(mkfifo((scratch / "fifo").c_str(), 0666), 0);

  DirectoryReader reader;
  ASSERT_EQ(reader.Open(scratch.path().string()), system_error::kNone);
  std::vector<std::string> names;
  while (reader.Next()) {
    const std::string name(reader.name());
    names.push_back(name);
    FileStatus status;
    const SystemError error = reader.Status(status);
    if (name == "file" || name == "link") {
      EXPECT_EQ(error, system_error::kNone);
      EXPECT_EQ(status.type, FileType::kRegular);
      EXPECT_EQ(status.size, 5u);
      EXPECT_TRUE(status.has_write_permission);
    } else if (name == "sub") {
      EXPECT_EQ(status.type, FileType::kDirectory);
    } else if (name == "fifo") {
      EXPECT_EQ(status.type, FileType::kOther);
    } else if (name == "dangling") {
      EXPECT_EQ(error, system_error::kFileNotFound);
    }
  }
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names,
            (std::vector<std::string>{".", "..", "dangling", "fifo", "file", "link", "sub"}));

  EXPECT_EQ(reader.Open(scratch / "absent"), system_error::kPathNotFound);
  EXPECT_FALSE(reader.Next());
  EXPECT_NE(reader.Open(scratch / "file"), system_error::kNone);
}

TEST(ToLocalTimeTest, UsesTheProcessTimeZone) {
  setenv("TZ", "UTC-2", 1);  // two hours east of UTC
  tzset();
  CalendarTime local;
  ASSERT_TRUE(ToLocalTime(1709247599, local));  // 2024-02-29 22:59:59 UTC
  EXPECT_EQ(local.year, 2024);
  EXPECT_EQ(local.month, 3);
  EXPECT_EQ(local.day, 1);
  EXPECT_EQ(local.hour, 0);
  EXPECT_EQ(local.minute, 59);
  EXPECT_EQ(local.second, 59);
}

TEST(CurrentDirectoryTest, IsTheProcessWorkingDirectory) {
  std::string path;
  ASSERT_EQ(CurrentDirectory(path), system_error::kNone);
  EXPECT_EQ(std::filesystem::path(path), std::filesystem::current_path());
}

}  // namespace
}  // namespace kb::platform
