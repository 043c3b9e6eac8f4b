#include "server/kept_listing.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "app/base/knowledge_base.h"
#include "app/scan/scan.h"
#include "platform/testing/faulty_env.h"
#include "support/testing/scratch_directory.h"

namespace kb::server {
namespace {

namespace fs = std::filesystem;

std::vector<std::string> Paths(const ListedPaths& paths) {
  std::vector<std::string> all;
  for (std::size_t index = 0; index < paths.size(); ++index) all.emplace_back(paths[index]);
  return all;
}

class KeptListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::current_path(scratch_.path());
    fs::create_directories("ZEB");
    for (const char* name : {"ZEB1.htm", "ZEB2.htm"})
      scratch_.Write(std::string("ZEB/") + name, "a");
  }
  void TearDown() override { fs::current_path(previous_); }

  // Lists `base` through `listing`; whether a folder was read to give the listing.
  bool ListedAfresh(std::vector<std::string>& paths, const KnowledgeBase& base = {}) {
    const int before = env_.Calls(platform::Operation::kOpenDirectory);
    ListedPaths listed;
    Reporter reporter;
    EXPECT_TRUE(listing_.List(env_, base, listed, reporter));
    paths = Paths(listed);
    // The listing kept is the knowledge base's listing now.
    ListedPaths fresh;
    EXPECT_TRUE(ListArticles(platform::Env::Default(), base, fresh, reporter));
    EXPECT_EQ(paths, Paths(fresh));
    EXPECT_EQ(reporter.failures, 0);
    return env_.Calls(platform::Operation::kOpenDirectory) > before;
  }

  struct Reporter final : FailureReporter {
    void ReportFailure(const Failure& /*failure*/) override { ++failures; }
    int failures = 0;
  };

  kb::testing::ScratchDirectory scratch_;
  fs::path previous_;
  platform::testing::FaultyEnv env_;
  KeptListing listing_;
};

TEST_F(KeptListingTest, KeptWhileTheFolderIsUnchangedAndListedAfreshAfterAnyChange) {
  std::vector<std::string> paths;
  EXPECT_TRUE(ListedAfresh(paths));
  EXPECT_EQ(paths.size(), 2u);
  EXPECT_FALSE(ListedAfresh(paths));
  EXPECT_FALSE(ListedAfresh(paths));

  scratch_.Write("ZEB/ZEB3.htm", "new");
  EXPECT_TRUE(ListedAfresh(paths));
  EXPECT_EQ(paths.size(), 3u);
  EXPECT_FALSE(ListedAfresh(paths));

  fs::rename("ZEB/ZEB1.htm", "ZEB/ZEB9.htm");
  EXPECT_TRUE(ListedAfresh(paths));
  fs::remove("ZEB/ZEB2.htm");
  EXPECT_TRUE(ListedAfresh(paths));
  EXPECT_EQ(paths.size(), 2u);

  // ZEB itself replaced: another folder, listed and watched afresh.
  fs::rename("ZEB", "ZEB.old");
  fs::create_directories("ZEB");
  scratch_.Write("ZEB/ZEB7.htm", "other");
  EXPECT_TRUE(ListedAfresh(paths));
  EXPECT_EQ(paths, std::vector<std::string>{"./ZEB/ZEB7.htm"});
  EXPECT_FALSE(ListedAfresh(paths));
  scratch_.Write("ZEB/ZEB8.htm", "more");
  EXPECT_TRUE(ListedAfresh(paths));

  // No folder: nothing listed, as the folder's own listing says, until it comes back.
  fs::rename("ZEB", "ZEB.gone");
  EXPECT_TRUE(ListedAfresh(paths));
  EXPECT_TRUE(paths.empty());
  fs::rename("ZEB.gone", "ZEB");
  EXPECT_TRUE(ListedAfresh(paths));
  EXPECT_EQ(paths.size(), 2u);
  EXPECT_FALSE(ListedAfresh(paths));
}

TEST_F(KeptListingTest, AGenerationHoldsUntilAChangeAndNoneWhileAnArticleEscapesTheWatch) {
  EXPECT_EQ(listing_.Proven(), std::nullopt);  // nothing kept yet
  std::vector<std::string> paths;
  ListedAfresh(paths);
  const std::optional<uint64_t> first = listing_.Proven();
  ASSERT_TRUE(first.has_value());
  EXPECT_EQ(listing_.Proven(), first);

  // Written in place: the listing is the same, the generation is not.
  std::ofstream("ZEB/ZEB1.htm", std::ios::app) << "more";
  EXPECT_EQ(listing_.Proven(), std::nullopt);
  EXPECT_TRUE(ListedAfresh(paths));
  const std::optional<uint64_t> second = listing_.Proven();
  ASSERT_TRUE(second.has_value());
  EXPECT_NE(second, first);

  // An article through a link, or with another name outside ZEB, changes unseen.
  scratch_.Write("outside.htm", "b");
  fs::create_symlink("../outside.htm", "ZEB/ZEB3.htm");
  EXPECT_TRUE(ListedAfresh(paths));
  EXPECT_EQ(listing_.Proven(), std::nullopt);
  fs::remove("ZEB/ZEB3.htm");
  fs::create_hard_link("outside.htm", "ZEB/ZEB3.htm");
  EXPECT_TRUE(ListedAfresh(paths));
  EXPECT_EQ(listing_.Proven(), std::nullopt);
  // Its other name gone, it is proven again from the next change on.
  fs::remove("outside.htm");
  scratch_.Write("ZEB/ZEB4.htm", "c");
  EXPECT_TRUE(ListedAfresh(paths));
  EXPECT_TRUE(listing_.Proven().has_value());
}

// A tree's listing is kept while no folder it walked changes, one without articles too; a
// folder made since is watched from the listing after it. A tree that walks a link to a
// folder is listed afresh every time: where the link leads may change unseen.
TEST_F(KeptListingTest, ATreeIsKeptWhileNoFolderItWalkedChanges) {
  const KnowledgeBase tree{.articles = "**/*.htm"};
  fs::create_directories("a b/c");
  fs::create_directories("empty/deeper");
  scratch_.Write("a b/c/one.htm", "x");
  std::vector<std::string> paths;
  EXPECT_TRUE(ListedAfresh(paths, tree));
  EXPECT_EQ(paths.size(), 3u);
  EXPECT_FALSE(ListedAfresh(paths, tree));
  EXPECT_TRUE(listing_.Proven().has_value());

  scratch_.Write("empty/deeper/two.htm", "y");
  EXPECT_TRUE(ListedAfresh(paths, tree));
  EXPECT_EQ(paths.size(), 4u);
  EXPECT_FALSE(ListedAfresh(paths, tree));
  fs::rename("a b/c", "a b/d");
  EXPECT_TRUE(ListedAfresh(paths, tree));
  EXPECT_FALSE(ListedAfresh(paths, tree));
  fs::create_directories("new/sub");
  EXPECT_TRUE(ListedAfresh(paths, tree));
  EXPECT_FALSE(ListedAfresh(paths, tree));
  scratch_.Write("new/sub/three.htm", "z");
  EXPECT_TRUE(ListedAfresh(paths, tree));
  EXPECT_EQ(paths.size(), 5u);
  std::ofstream("a b/d/one.htm", std::ios::app) << "more";
  EXPECT_EQ(listing_.Proven(), std::nullopt);

  fs::create_directory_symlink("a b", "0 link");
  EXPECT_TRUE(ListedAfresh(paths, tree));
  EXPECT_TRUE(ListedAfresh(paths, tree));
  EXPECT_EQ(listing_.Proven(), std::nullopt);
}

}  // namespace
}  // namespace kb::server
