// A refresh of the article index while another build of the same index holds its lock; where
// a search is told to look; a cache that is not private.

#include "app/index/article_index.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "app/base/replaceable_texts.h"
#include "app/index/index_store.h"
#include "support/program_texts/program_texts.h"
#include "support/testing/scratch_directory.h"

namespace kb::index {
namespace {

namespace fs = std::filesystem;

// Says that another build runs, in its own words and in the summary's reason, and touches
// nothing: the build under way goes on, and once it is over a refresh runs again. What a
// search made of the index stays its own when a refresh ends after it.
TEST(ArticleIndexTest, ARefreshWhileAnotherBuildRunsSaysSo) {
  kb::testing::ScratchDirectory scratch;
  fs::create_directories(scratch.path() / "kb" / "ZEB");
  scratch.Write("kb/ZEB/ZEB1.htm", "<!-- Article starts -->printer");
  setenv("XDG_CACHE_HOME", (scratch.path() / "cache").c_str(), 1);
  const fs::path previous = fs::current_path();
  fs::current_path(scratch.path() / "kb");

  ArticleIndex index({});
  const std::string_view names[] = {"ZEB1.htm"};
  std::vector<char> must_read(1);
  PlacesToLook places;
  index.ChooseArticles(names, Query::Phrase("printer"), {}, 1, must_read, places);
  EXPECT_EQ(index.last_search_use().reason, "none yet");
  std::string problem;
  ASSERT_TRUE(index.Refresh(1, problem)) << problem;
  EXPECT_EQ(index.last_use().state, "built");
  EXPECT_EQ(index.last_search_use().reason, "none yet");
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

// The cache is used only through a folder of the user's own that no one else may write in: a
// folder of one's own that the group or others may write is refused, as is having no cache
// folder at all, and the index is then neither built nor used. In a private folder, what a
// killed build left and a lock or index of the wrong kind are cleared, and the build goes on.
TEST(ArticleIndexTest, UsesOnlyAPrivateCacheAndClearsItsOwnLeftovers) {
  kb::testing::ScratchDirectory scratch;
  fs::create_directories(scratch.path() / "kb" / "ZEB");
  scratch.Write("kb/ZEB/ZEB1.htm", "<!-- Article starts -->printer");
  const fs::path cache = scratch.path() / "cache";
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);
  const fs::path previous = fs::current_path();
  fs::current_path(scratch.path() / "kb");
  const Query phrase = Query::Phrase("printer");
  const std::string_view names[] = {"ZEB1.htm"};
  std::vector<char> must_read(1);
  PlacesToLook places;
  const auto search = [&](ArticleIndex& index) {
    index.ChooseArticles(names, phrase, {}, 1, must_read, places);
    return index.last_use();
  };

  std::string problem;
  for (const mode_t shared : {0777, 0770, 0730}) {
    fs::create_directories(cache / "kbsearch");
    chmod((cache / "kbsearch").c_str(), shared);
    ArticleIndex index({});
    EXPECT_FALSE(index.Refresh(1, problem));
    EXPECT_EQ(index.last_use().reason, "cache not private") << std::oct << shared;
    EXPECT_EQ(search(index).reason, "cache not private");
    EXPECT_TRUE(fs::is_empty(cache / "kbsearch"));
  }
  chmod((cache / "kbsearch").c_str(), 0700);
  {
    ArticleIndex index({});
    ASSERT_TRUE(index.Refresh(1, problem)) << problem;
    EXPECT_EQ(search(index).state, "used");
  }

  const char* home = std::getenv("HOME");
  const std::string saved_home = home ? home : "";
  unsetenv("XDG_CACHE_HOME");
  unsetenv("HOME");
  {
    ArticleIndex index({});
    EXPECT_FALSE(index.Refresh(1, problem));
    EXPECT_EQ(index.last_use().reason, "cache not private");
    EXPECT_EQ(search(index).reason, "cache not private");
  }
  setenv("HOME", saved_home.c_str(), 1);
  setenv("XDG_CACHE_HOME", cache.c_str(), 1);

  std::string store;
  for (const auto& entry : fs::directory_iterator(CacheFolder())) {
    if (entry.path().extension() == ".db") store = entry.path().string();
  }
  ASSERT_FALSE(store.empty());
  fs::remove(store);
  fs::create_directories(store + "/inner");
  fs::remove(store + ".lock");
  ASSERT_EQ(mkfifo((store + ".lock").c_str(), 0600), 0);
  std::ofstream(store + ".new") << "left by a killed build";
  {
    ArticleIndex index({});
    EXPECT_EQ(search(index).state, "not used");
    ASSERT_TRUE(index.Refresh(1, problem)) << problem;
    EXPECT_EQ(search(index).state, "used");
  }
  EXPECT_TRUE(fs::is_regular_file(store));
  EXPECT_FALSE(fs::exists(store + ".new"));
  fs::current_path(previous);
}

// An article read for the query's grams alone comes with the bytes of the stretches that hold
// each term's; one read for a doubt, and every article of a search the stretches' bytes say
// nothing of (the text), come with none.
TEST(ArticleIndexTest, TellsWhereInTheArticlesReadForTheirGramsTheTermsCanLie) {
  kb::testing::ScratchDirectory scratch;
  fs::create_directories(scratch.path() / "kb" / "ZEB");
  std::string long_page(5 * kStretchBytes, 'x');
  long_page.replace(2 * kStretchBytes + kStretchOverlap + 10, 9, " printer ");
  long_page.replace(3 * kStretchBytes + kStretchOverlap + 10, 7, " paper ");
  long_page.replace(4 * kStretchBytes + 2000, 9, " printer ");
  scratch.Write("kb/ZEB/ZEB1.htm", long_page);
  scratch.Write("kb/ZEB/ZEB2.htm", "<!-- Article starts -->printer paper");
  // Most articles do not hold them: else all are read, as the full scan reads them.
  scratch.Write("kb/ZEB/ZEB3.htm", "<!-- Article starts -->pencil");
  scratch.Write("kb/ZEB/ZEB4.htm", "<!-- Article starts -->ink");
  scratch.Write("kb/ZEB/ZEB5.htm", "<!-- Article starts -->toner");
  setenv("XDG_CACHE_HOME", (scratch.path() / "cache").c_str(), 1);
  const fs::path previous = fs::current_path();
  fs::current_path(scratch.path() / "kb");
  // A timestamp this close to the index's reading would be doubted.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ArticleIndex index({});
  std::string problem;
  ASSERT_TRUE(index.Refresh(1, problem)) << problem;

  using Places = std::vector<std::vector<TermPlaces>>;
  const auto inode_of = [](const fs::path& path) {
    struct stat status {};
    EXPECT_EQ(stat(path.c_str(), &status), 0);
    return static_cast<uint64_t>(status.st_ino);
  };
  const std::vector<std::string_view> names = {"ZEB1.htm", "ZEB2.htm", "ZEB3.htm", "ZEB4.htm",
                                               "ZEB5.htm"};
  const auto places_of = [&](const Query& query, const MatchSettings& settings) {
    std::vector<char> must_read(names.size(), 1);
    PlacesToLook places;
    index.ChooseArticles(names, query, settings, 1, must_read, places);
    EXPECT_EQ(must_read, (std::vector<char>{1, 1, 0, 0, 0}));
    Places terms(2);
    for (std::size_t at = 0; at < terms.size(); ++at) {
      if (const ArticlePlaces* found = places.Of(at)) {
        EXPECT_EQ(found->inode, inode_of(fs::path("ZEB") / names[at]));
        EXPECT_EQ(found->size, fs::file_size(fs::path("ZEB") / names[at]));
        terms[at] = found->terms;
      }
    }
    return terms;
  };
  EXPECT_EQ(places_of(Query::Phrase("Printer"), {}),
            (Places{{{0, {BytesOfStretch(2), BytesOfStretch(4)}}}, {{0, {BytesOfStretch(0)}}}}));
  Query words;
  ASSERT_EQ(ParseQuery("-ink printer a paper", QueryKind::kWords, words), QueryProblem::kNone);
  EXPECT_EQ(places_of(words, {}),
            (Places{{{1, {BytesOfStretch(2), BytesOfStretch(4)}}, {3, {BytesOfStretch(3)}}},
                    {{1, {BytesOfStretch(0)}}, {3, {BytesOfStretch(0)}}}}));
  EXPECT_EQ(places_of(Query::Phrase("printer"), {.mode = MatchMode::kText}), Places(2));

  std::ofstream(scratch.path() / "kb/ZEB/ZEB2.htm", std::ios::app) << " printer";
  EXPECT_EQ(places_of(Query::Phrase("printer"), {})[1], std::vector<TermPlaces>());
  fs::current_path(previous);
}

}  // namespace
}  // namespace kb::index
