#include "platform/file_identity.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "support/testing/scratch_directory.h"

namespace kb::platform {
namespace {

namespace fs = std::filesystem;

// A watch on several folders names each one's entries after its prefix, refuses a folder it
// watches already (through a link, under another prefix), and trusts nothing once a folder
// it watches goes.
TEST(FolderWatchTest, NamesTheEntriesOfEachFolderAfterItsPrefix) {
  kb::testing::ScratchDirectory scratch;
  const fs::path root = scratch.path();
  fs::create_directories(root / "a b" / "c");
  fs::create_directory_symlink(root / "a b", root / "link");
  std::unique_ptr<FolderWatch> watch = FolderWatch::OpenEmpty();
  ASSERT_NE(watch, nullptr);
  EXPECT_TRUE(watch->Add(root.string(), ""));
  EXPECT_TRUE(watch->Add((root / "a b").string(), "a b/"));
  EXPECT_TRUE(watch->Add((root / "a b" / "c").string(), "a b/c/"));
  EXPECT_FALSE(watch->Add((root / "link").string(), "link/"));
  EXPECT_FALSE(watch->Add((root / "missing").string(), "missing/"));

  kb::testing::WriteFile(root / "a b" / "c" / "one.htm", "x");
  kb::testing::WriteFile(root / "two.htm", "y");
  FolderWatch::Changes changes = watch->Take();
  EXPECT_FALSE(changes.everything);
  EXPECT_NE(std::find(changes.names.begin(), changes.names.end(), "a b/c/one.htm"),
            changes.names.end());
  EXPECT_NE(std::find(changes.names.begin(), changes.names.end(), "two.htm"), changes.names.end());
  EXPECT_TRUE(watch->Take().names.empty());

  fs::remove_all(root / "a b" / "c");
  changes = watch->Take();
  EXPECT_TRUE(changes.everything);
  EXPECT_NE(std::find(changes.names.begin(), changes.names.end(), "a b/c"), changes.names.end());
}

}  // namespace
}  // namespace kb::platform
