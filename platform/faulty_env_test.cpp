#include "platform/testing/faulty_env.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <string>
#include <vector>

#include "support/testing/scratch_directory.h"

namespace kb::platform::testing {
namespace {

using kb::testing::ReadAll;
using kb::testing::ScratchDirectory;

TEST(FaultyEnvTest, FailsTheNthMatchingCallOnceAndLetsTheOthersThrough) {
  ScratchDirectory scratch;
  const std::string page = scratch.Write("page", "0123456789");
  const std::string other = scratch.Write("other", "abc");
  FaultyEnv env;
  env.FailNth(Operation::kRead, 2, EIO, "page");

  std::unique_ptr<File> page_file;
  std::unique_ptr<File> other_file;
  ASSERT_EQ(env.OpenFile(page, OpenOptions{}, page_file), system_error::kNone);
  ASSERT_EQ(env.OpenFile(other, OpenOptions{}, other_file), system_error::kNone);
  char bytes[4];
  std::size_t count = 0;
  EXPECT_EQ(page_file->Read(0, bytes, count), system_error::kNone);
  EXPECT_EQ(other_file->Read(0, bytes, count), system_error::kNone) << "not a matching path";
  EXPECT_EQ(page_file->Read(4, bytes, count), system_error::kReadFault);
  EXPECT_EQ(count, 0u);
  EXPECT_EQ(page_file->Read(4, bytes, count), system_error::kNone) << "a fault fails one call";
  EXPECT_EQ(std::string(bytes, count), "4567");
  EXPECT_EQ(env.Calls(Operation::kRead), 4);
  EXPECT_EQ(env.Calls(Operation::kOpen), 2);

  // A failed close has closed the file all the same: its lock is gone.
  ASSERT_EQ(page_file->Lock(Lock::kExclusive), system_error::kNone);
  env.FailNth(Operation::kClose, 1, ENOSPC);
  EXPECT_EQ(page_file->Close(), system_error::kDiskFull);
  std::unique_ptr<File> again;
  ASSERT_EQ(env.OpenFile(page, OpenOptions{}, again), system_error::kNone);
  EXPECT_EQ(again->Lock(Lock::kExclusive), system_error::kNone);
}

TEST(FaultyEnvTest, FailedCallsNeverReachTheFileSystemAndTheHookSeesEveryCall) {
  ScratchDirectory scratch;
  const std::string from = scratch.Write("from", "new");
  const std::string to = scratch.Write("to", "old");
  FaultyEnv env;
  std::vector<Operation> seen;
  env.SetHook([&seen](Operation operation, std::string_view) { seen.push_back(operation); });
  env.FailNth(Operation::kRename, 1, EIO);
  env.FailNth(Operation::kOpen, 1, EMFILE, "absent");
  env.FailNth(Operation::kOpenDirectory, 1, EACCES);

  EXPECT_EQ(env.Rename(from, to), system_error::kWriteFault);
  EXPECT_EQ(ReadAll(to), "old");
  std::unique_ptr<File> file;
  EXPECT_EQ(env.OpenFile(scratch / "absent", OpenOptions{}, file), system_error::kTooManyOpenFiles);
  std::unique_ptr<Directory> directory;
  EXPECT_EQ(env.OpenDirectory(scratch.path().string(), directory), system_error::kAccessDenied);
  EXPECT_EQ(env.Rename(from, to), system_error::kNone);
  EXPECT_EQ(ReadAll(to), "new");
  EXPECT_EQ(seen, (std::vector<Operation>{Operation::kRename, Operation::kOpen,
                                          Operation::kOpenDirectory, Operation::kRename}));
}

}  // namespace
}  // namespace kb::platform::testing
