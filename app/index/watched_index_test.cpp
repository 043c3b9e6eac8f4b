// The window's way of using the index: one ArticleIndex kept open across searches, with its
// watch on ZEB telling which articles to check again. Random changes between searches; every
// search through it finds, reports and counts exactly what the same search finds without it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "app/index/article_index.h"
#include "app/scan/scan.h"
#include "support/testing/scratch_directory.h"

namespace kb::index {
namespace {

namespace fs = std::filesystem;
using kb::testing::WriteFile;

// What a scan shows: each result and each failure, in order.
class Recorder : public ScanSink {
 public:
  void ReportFailure(const Failure& failure) override {
    shown.push_back("failure " + std::string(failure.text));
  }
  void ScanStarted(int32_t) override {}
  void ArticleDone(std::string_view path, ArticleOutcome& outcome) override {
    if (outcome.matched) shown.push_back("result " + std::string(path) + " " + outcome.excerpt);
  }
  std::vector<std::string> shown;
};

std::string RandomArticle(std::mt19937& random) {
  constexpr const char* kWords[] = {
      "printer", "PRINTER",          "unsafe pointer",          "<b>bold</b>",
      "&amp;",   "fish &amp; chips", "<!-- Article starts -->", "\n",
      "zzqq"};
  std::string bytes;
  for (int word = static_cast<int>(random() % 8); word > 0; --word) {
    bytes.append(kWords[random() % std::size(kWords)]).append(" ");
  }
  return bytes;
}

std::vector<std::string> Search(std::string_view phrase, MatchMode mode, ArticleFilter* filter,
                                int32_t& opened, const KnowledgeBase& base = {}) {
  Recorder sink;
  const ScanSummary summary = ScanKnowledgeBase(platform::Env::Default(),
                                                {.knowledge_base = base,
                                                 .query = Query::Phrase(phrase),
                                                 .match_settings = {.mode = mode},
                                                 .threads = 2,
                                                 .filter = filter},
                                                sink);
  opened = summary.articles_opened;
  return sink.shown;
}

// Searches for a random phrase, in bytes and in text, through the index and without it, and
// requires the same findings and the same articles opened; counts the searches that used the
// index and the reads it spared.
void CompareWithAndWithout(ArticleIndex& index, std::mt19937& random, int step,
                           const KnowledgeBase& base, int& used, int& spared) {
  for (const MatchMode mode : {MatchMode::kBytes, MatchMode::kText}) {
    const std::string phrase = (random() % 2) ? "printer" : (random() % 2) ? "zzqq" : "bold";
    int32_t opened_with = 0;
    int32_t opened_without = 0;
    const std::vector<std::string> with = Search(phrase, mode, &index, opened_with, base);
    const IndexUse use = index.last_use();
    const std::vector<std::string> without = Search(phrase, mode, nullptr, opened_without, base);
    ASSERT_EQ(with, without) << "step " << step << " " << phrase;
    ASSERT_EQ(opened_with, opened_without) << "step " << step;
    used += use.state == "used";
    spared += opened_with - use.articles_read;
  }
}

TEST(WatchedIndexTest, SearchesThroughTheKeptIndexAreSearchesWithout) {
  kb::testing::ScratchDirectory scratch;
  const fs::path kb = scratch.path() / "kb";
  const fs::path zeb = kb / "ZEB";
  fs::create_directories(zeb);
  setenv("XDG_CACHE_HOME", (scratch.path() / "cache").c_str(), 1);
  const fs::path previous = fs::current_path();
  fs::current_path(kb);
  std::mt19937 random(static_cast<unsigned>(std::random_device{}()));
  const unsigned seed = random();
  random.seed(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  for (int article = 0; article < 30; ++article) {
    WriteFile(zeb / ("ZEB" + std::to_string(article) + ".htm"), RandomArticle(random));
  }
  WriteFile(kb / "outside.htm", "<!-- Article starts -->printer");
  fs::create_symlink(kb / "outside.htm", zeb / "ZEBlink.htm");
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));

  ArticleIndex index({.watch = true});
  std::string problem;
  ASSERT_TRUE(index.Refresh(2, problem)) << problem;
  // Once built, a refresh with nothing to read again or forget leaves the store as it was
  // sealed, and what the watch proves by it.
  std::string store;
  for (const auto& entry : fs::directory_iterator(CacheFolder())) {
    if (entry.path().extension() == ".db") store = entry.path().string();
  }
  const std::string seal = kb::testing::ReadAll(store + ".seal");
  const fs::file_time_type written = fs::last_write_time(store);
  ASSERT_TRUE(index.Refresh(2, problem)) << problem;
  EXPECT_EQ(kb::testing::ReadAll(store + ".seal"), seal);
  EXPECT_EQ(fs::last_write_time(store), written);
  int used = 0;
  int spared = 0;
  for (int step = 0; step < 60; ++step) {
    std::vector<fs::path> articles;
    for (const auto& entry : fs::directory_iterator(zeb)) articles.push_back(entry.path());
    std::sort(articles.begin(), articles.end());
    const fs::path some =
        articles.empty() ? zeb / "ZEBx.htm" : articles[random() % articles.size()];
    int lock = -1;
    std::error_code ignored;
    switch (random() % 12) {
      case 0: {  // same size, other bytes, the modification time put back
        if (!fs::is_regular_file(some)) break;
        const auto before = fs::last_write_time(some);
        std::string bytes = kb::testing::ReadAll(some.string());
        for (char& byte : bytes) byte = byte == 'r' ? 'R' : byte == 'p' ? 'z' : byte;
        WriteFile(some, bytes);
        fs::last_write_time(some, before, ignored);
        break;
      }
      case 1:
        std::ofstream(some, std::ios::app) << " printer";
        break;
      case 2:
        fs::rename(some, zeb / ("ZEB" + std::to_string(random() % 40) + ".htm"), ignored);
        break;
      case 3:
        fs::remove_all(some, ignored);
        break;
      case 4:
        WriteFile(zeb / ("ZEB" + std::to_string(random() % 40) + "n.htm"), RandomArticle(random));
        break;
      case 5:
        chmod(some.c_str(), (random() % 2) ? 0 : 0644);
        break;
      case 6:
        lock = open(some.c_str(), O_RDONLY | O_CLOEXEC);
        if (lock >= 0) flock(lock, LOCK_EX | LOCK_NB);
        break;
      case 7:  // the link's target changes, outside ZEB
        std::ofstream(kb / "outside.htm", std::ios::app) << (random() % 2 ? " zzqq" : " bold");
        break;
      case 8:
        fs::remove_all(some, ignored);
        fs::create_directory(some, ignored);
        break;
      case 9: {  // ZEB renamed and made again: late, since it leaves no index until a refresh
        if (step < 45) break;
        fs::remove_all(kb / "ZEB.old");
        fs::rename(zeb, kb / "ZEB.old");
        fs::copy(kb / "ZEB.old", zeb, fs::copy_options::recursive | fs::copy_options::copy_symlinks,
                 ignored);
        break;
      }
      default:  // what the window's background refresh does
        index.Refresh(2, problem);
        break;
    }
    ASSERT_NO_FATAL_FAILURE(CompareWithAndWithout(index, random, step, {}, used, spared));
    if (lock >= 0) close(lock);
  }
  fs::current_path(previous);
  EXPECT_GT(used, 20);
  // How many reads the index spares depends on how recently the changes came before each
  // refresh read them (an article changed within two seconds of it is read again), that is on
  // the machine's speed: the test asks only that it spared some.
  EXPECT_GT(spared, 0);
}

// A search that lists as many articles as the last, one of them under another name, finds
// each where the index holds it, not where the last listing had it. A proven article given a
// second name is checked again.
TEST(WatchedIndexTest, ALikeListingWithOneNameChangedIsLookedUpAfresh) {
  kb::testing::ScratchDirectory scratch;
  const fs::path zeb = scratch.path() / "kb" / "ZEB";
  fs::create_directories(zeb);
  setenv("XDG_CACHE_HOME", (scratch.path() / "cache").c_str(), 1);
  const fs::path previous = fs::current_path();
  fs::current_path(scratch.path() / "kb");
  for (const char* name : {"ZEB1.htm", "ZEB2.htm", "ZEB3.htm"}) {
    WriteFile(zeb / name, "<!-- Article starts -->plain words");
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ArticleIndex index({.watch = true});
  std::string problem;
  ASSERT_TRUE(index.Refresh(1, problem)) << problem;
  const Query phrase = Query::Phrase("printer");
  const std::vector<std::string_view> before = {"ZEB1.htm", "ZEB2.htm", "ZEB3.htm"};
  for (int search = 0; search < 2; ++search) {
    std::vector<char> must_read(before.size(), 1);
    PlacesToLook places;
    index.ChooseArticles(before, phrase, {}, 1, must_read, places);
    EXPECT_EQ(must_read, std::vector<char>(before.size(), 0));
    EXPECT_EQ(index.last_search_use().articles_read, 0);
  }

  fs::remove(zeb / "ZEB2.htm");
  WriteFile(zeb / "ZEB4.htm", "<!-- Article starts -->printer");
  const std::vector<std::string_view> after = {"ZEB1.htm", "ZEB3.htm", "ZEB4.htm"};
  std::vector<char> must_read(after.size(), 1);
  PlacesToLook places;
  index.ChooseArticles(after, phrase, {}, 1, must_read, places);
  EXPECT_EQ(must_read, (std::vector<char>{0, 0, 1}));
  EXPECT_EQ(index.last_search_use().state, "used");

  // A proven article given a second name, and written through it: the folder's watch is told
  // of the new name alone, and the article is proven no more.
  fs::create_hard_link(zeb / "ZEB1.htm", zeb / "second name.txt");
  index.ChooseArticles(after, phrase, {}, 1, must_read, places);
  std::ofstream(zeb / "second name.txt", std::ios::app) << " printer";
  std::fill(must_read.begin(), must_read.end(), 1);
  index.ChooseArticles(after, phrase, {}, 1, must_read, places);
  EXPECT_EQ(must_read, (std::vector<char>{1, 0, 1}));

  // An article another program holds a lock on (a writer's, since a search does not count its
  // own program's read locks) is read, but a refresh would read it again for nothing: a search
  // that doubts it alone starts none.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  ASSERT_TRUE(index.Refresh(1, problem)) << problem;
  std::unique_ptr<platform::File> held;
  ASSERT_EQ(platform::Env::Default().OpenFile((zeb / "ZEB3.htm").string(),
                                              {.access = platform::Access::kReadWrite}, held),
            platform::system_error::kNone);
  ASSERT_EQ(held->Lock(platform::Lock::kExclusive), platform::system_error::kNone);
  BackgroundRefresh refresh(index, 1);
  std::fill(must_read.begin(), must_read.end(), 1);
  index.ChooseArticles(after, phrase, {}, 1, must_read, places);
  EXPECT_EQ(must_read, (std::vector<char>{1, 1, 1}));
  EXPECT_EQ(index.last_search_use().articles_doubted, 1);
  EXPECT_EQ(index.last_search_use().articles_locked, 1);
  refresh.AfterSearch();
  EXPECT_FALSE(refresh.running());
  fs::current_path(previous);
}

// The regular files and the folders beneath `root`, links not followed, each sorted.
void TreeEntries(const fs::path& root, std::vector<fs::path>& files,
                 std::vector<fs::path>& folders) {
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_symlink()) continue;
    if (entry.is_directory()) folders.push_back(entry.path());
    if (entry.is_regular_file()) files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  std::sort(folders.begin(), folders.end());
}

// A copy of the folder `from` at `to`, each file with `words` added: the same paths beneath,
// other articles.
void CopyWithWords(const fs::path& from, const fs::path& to, std::string_view words) {
  std::error_code ignored;
  fs::copy(from, to, fs::copy_options::recursive | fs::copy_options::copy_symlinks, ignored);
  for (const auto& entry : fs::recursive_directory_iterator(to, ignored)) {
    if (entry.is_regular_file() && !entry.is_symlink())
      std::ofstream(entry.path(), std::ios::app) << words;
  }
}

// The same over a tree of articles in nested folders, whose folders are made, renamed,
// replaced by copies or by links to others between searches.
TEST(WatchedIndexTest, SearchesOfATreeThroughTheKeptIndexAreSearchesWithout) {
  kb::testing::ScratchDirectory scratch;
  const fs::path kb = scratch.path() / "kb";
  setenv("XDG_CACHE_HOME", (scratch.path() / "cache").c_str(), 1);
  std::mt19937 random(static_cast<unsigned>(std::random_device{}()));
  const unsigned seed = random();
  random.seed(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  const std::vector<fs::path> start = {kb, kb / "one", kb / "one" / "two words", kb / "three",
                                       kb / ".hidden"};
  for (const fs::path& folder : start) {
    fs::create_directories(folder);
    for (int article = 0; article < 6; ++article) {
      WriteFile(folder / ("a " + std::to_string(article) + ".htm"), RandomArticle(random));
    }
  }
  WriteFile(kb / "one" / "caf\xE9 \xFF.htm", "<!-- Article starts -->printer");  // not UTF-8
  WriteFile(scratch.path() / "outside.htm", "<!-- Article starts -->printer");
  fs::create_symlink(scratch.path() / "outside.htm", kb / "three" / "outside.htm");
  // A link to a link to a folder: the folder is listed through the first.
  fs::create_directory_symlink("c link", kb / "b link");
  fs::create_directory_symlink("three", kb / "c link");
  const fs::path previous = fs::current_path();
  fs::current_path(kb);
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));

  const KnowledgeBase base{.articles = "**/*.htm", .exclude = {"three/a 5.htm"}};
  ArticleIndex index({.knowledge_base = base, .watch = true});
  std::string problem;
  ASSERT_TRUE(index.Refresh(2, problem)) << problem;
  int used = 0;
  int spared = 0;
  for (int step = 0; step < 60; ++step) {
    std::vector<fs::path> files;
    std::vector<fs::path> folders;
    TreeEntries(kb, files, folders);
    const fs::path some = files.empty() ? kb / "x.htm" : files[random() % files.size()];
    // Any folder but the knowledge base's own, which is the current one.
    const fs::path folder = folders.empty() ? kb / "new" : folders[random() % folders.size()];
    const fs::path other = folders.empty() ? kb : folders[random() % folders.size()];
    const std::string number = std::to_string(random() % 20);
    std::error_code ignored;
    switch (random() % 15) {
      case 0:
        std::ofstream(some, std::ios::app) << " printer";
        break;
      case 1:
        fs::rename(some, folder / ("a " + number + ".htm"), ignored);
        break;
      case 2:
        fs::remove(some, ignored);
        break;
      case 3:
        WriteFile((random() % 2 ? kb : other) / ("a " + number + ".htm"), RandomArticle(random));
        break;
      case 4:  // a new sub-folder, with an article
        fs::create_directories(folder / ("new " + number), ignored);
        WriteFile(folder / ("new " + number) / "a 1.htm", RandomArticle(random));
        break;
      case 5:  // a folder renamed, or moved into another
        fs::rename(folder, (random() % 2 ? folder.parent_path() : other) / ("moved " + number),
                   ignored);
        break;
      case 6:  // a folder put aside, and copies in its place with other words
        fs::remove_all(folder.string() + " old", ignored);
        fs::rename(folder, folder.string() + " old", ignored);
        CopyWithWords(folder.string() + " old", folder, " zzqq");
        break;
      case 7:  // a folder replaced by a link to a copy of it with other words
        fs::remove_all(folder.string() + " alt", ignored);
        CopyWithWords(folder, folder.string() + " alt", " bold");
        fs::remove_all(folder, ignored);
        fs::create_directory_symlink(folder.filename().string() + " alt", folder, ignored);
        break;
      case 8:  // a second name for an article, changed through it later
        fs::create_hard_link(some, folder / ("link " + number + ".htm"), ignored);
        break;
      case 9:
        fs::remove_all(folder, ignored);
        break;
      case 10: {  // an article changed through a link to its folder
        const fs::path link = kb / ("link " + number);
        if (!fs::exists(link)) fs::create_directory_symlink(folder, link, ignored);
        std::ofstream(some, std::ios::app) << " bold";
        break;
      }
      case 11:  // the second link of "b link" led elsewhere
        fs::remove(kb / "c link", ignored);
        fs::create_directory_symlink(other, kb / "c link", ignored);
        break;
      default:
        index.Refresh(2, problem);
        break;
    }
    ASSERT_NO_FATAL_FAILURE(CompareWithAndWithout(index, random, step, base, used, spared));
  }
  fs::current_path(previous);
  EXPECT_GT(used, 20);
  EXPECT_GT(spared, 0);
}

}  // namespace
}  // namespace kb::index
