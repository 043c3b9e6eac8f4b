// A refresh of the article index while another build of the same index holds its lock.

#include "app/index/article_index.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "app/base/replaceable_texts.h"
#include "app/index/index_store.h"
#include "support/program_texts/program_texts.h"
#include "support/testing/scratch_directory.h"

namespace kb::index {
namespace {

namespace fs = std::filesystem;

// Says that another build runs, in its own words and in the summary's reason, and touches
// nothing: the build under way goes on, and once it is over a refresh runs again.
TEST(ArticleIndexTest, ARefreshWhileAnotherBuildRunsSaysSo) {
  kb::testing::ScratchDirectory scratch;
  fs::create_directories(scratch.path() / "kb" / "ZEB");
  scratch.Write("kb/ZEB/ZEB1.htm", "<!-- Article starts -->printer");
  setenv("XDG_CACHE_HOME", (scratch.path() / "cache").c_str(), 1);
  const fs::path previous = fs::current_path();
  fs::current_path(scratch.path() / "kb");

  ArticleIndex index({});
  std::string problem;
  ASSERT_TRUE(index.Refresh(1, problem)) << problem;
  std::string store;
  for (const auto& entry : fs::directory_iterator(CacheFolder())) {
    if (entry.path().extension() == ".db") store = entry.path().string();
  }
  ASSERT_FALSE(store.empty());

  bool busy = false;
  platform::PrivateFolder::Outcome outcome;
  const StoreFile store_file{platform::PrivateFolder::Open(CacheFolder(), false, outcome),
                             fs::path(store).filename().string()};
  std::unique_ptr<platform::File> other_build = IndexStore::LockBuilds(store_file, busy);
  ASSERT_TRUE(other_build);
  EXPECT_FALSE(index.Refresh(1, problem));
  EXPECT_EQ(problem, std::string(ProgramText(text::kIndexBuildRunning)) + store);
  EXPECT_EQ(index.last_use().state, "not used");
  EXPECT_EQ(index.last_use().reason, "build running");

  other_build.reset();
  EXPECT_TRUE(index.Refresh(1, problem)) << problem;
  EXPECT_EQ(index.last_use().state, "built");
  fs::current_path(previous);
}

}  // namespace
}  // namespace kb::index
