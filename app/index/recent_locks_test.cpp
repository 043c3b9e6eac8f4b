#include "app/index/recent_locks.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <memory>
#include <thread>
#include <vector>

#include "platform/file_system.h"
#include "support/testing/scratch_directory.h"

namespace kb::index {
namespace {

// Reads within the age are one read, shared; a lock taken before a search asks is seen once
// the age has passed, and so is its release.
TEST(RecentLocksTest, ShareOneReadWithinTheAgeAndSeeEveryLockTakenBeforeIt) {
  if (access("/proc/locks", R_OK) != 0) GTEST_SKIP() << "no /proc/locks to read";
  testing::ScratchDirectory scratch;
  const std::string path = scratch.Write("article", "data");
  platform::ExactStatus status;
  ASSERT_TRUE(platform::StatusOfPath(path, status));
  const platform::LockedFile article{status.device_major, status.device_minor, status.inode};

  RecentLocks lasting(std::chrono::hours(1));
  RecentLocks strict(std::chrono::nanoseconds(1));
  const std::shared_ptr<const RecentLocks::Locks> before = lasting.Read();
  std::unique_ptr<platform::File> writer;
  ASSERT_EQ(
      platform::Env::Default().OpenFile(path, {.access = platform::Access::kReadWrite}, writer),
      platform::system_error::kNone);
  ASSERT_EQ(writer->Lock(platform::Lock::kExclusive), platform::system_error::kNone);
  EXPECT_EQ(lasting.Read(), before);
  EXPECT_FALSE(lasting.Read()->contains(article));

  // Searches on several threads at once each get a read begun after they asked.
  std::vector<std::jthread> searches;
  std::vector<char> seen(4);
  for (std::size_t search = 0; search < seen.size(); ++search) {
    searches.emplace_back([&, search] { seen[search] = strict.Read()->contains(article); });
  }
  searches.clear();
  EXPECT_EQ(seen, std::vector<char>(4, 1));
  ASSERT_EQ(writer->Close(), platform::system_error::kNone);
  EXPECT_FALSE(strict.Read()->contains(article));
}

}  // namespace
}  // namespace kb::index
