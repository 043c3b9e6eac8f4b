#include "app/index/index_store.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>

#include "support/testing/scratch_directory.h"

namespace kb::index {
namespace {

StoreIdentity Identity() {
  return {.folder = "/kb",
          .articles_folder = {.device_major = 8, .device_minor = 1, .inode = 42},
          .file_system = 7,
          .user = 1000,
          .groups = {100, 1000}};
}

ArticleGrams GramsOf(std::string_view bytes) {
  ArticleGrams grams;
  grams.Feed(bytes);
  grams.Finish();
  return grams;
}

IndexedArticle Article(uint64_t inode) {
  return {.status = {.device_major = 8,
                     .device_minor = 1,
                     .inode = inode,
                     .size = 10,
                     .mtime_ns = 1,
                     .ctime_ns = 2,
                     .regular = true},
          .read_at_ns = 3,
          .whole = true};
}

constexpr uint64_t kAnySize = uint64_t{1} << 40;

StoreFile FileIn(const std::string& folder, std::string name = "index.db") {
  platform::PrivateFolder::Outcome outcome;
  return {platform::PrivateFolder::Open(folder, false, outcome), std::move(name)};
}

class IndexStoreTest : public ::testing::Test {
 protected:
  kb::testing::ScratchDirectory scratch_;
  StoreFile file_ = FileIn(scratch_.path().string());
  std::string path_ = scratch_ / "index.db";
  std::string seal_path_ = scratch_ / "index.db.seal";
};

// Random articles of a few letters stored one by one, some of them twice: the rows the index
// names for a random phrase are exactly those of the articles' latest contents whose grams
// hold it, besides the tombstones, and the articles come back as stored.
TEST_F(IndexStoreTest, NamesTheRowsWhoseGramsHoldThePhrase) {
  std::unique_ptr<IndexStore> store = IndexStore::Create(file_, Identity());
  ASSERT_TRUE(store);
  std::mt19937 random(7);
  const auto text = [&](std::size_t length) {
    std::string bytes(length, ' ');
    for (char& byte : bytes) byte = "abcAB\0<>"[random() % 8];
    return bytes;
  };
  std::map<std::string, std::pair<IndexedArticle, std::string>> latest;
  ASSERT_TRUE(store->BeginWrite());
  for (int put = 0; put < 300; ++put) {
    const std::string name = "ZEB" + std::to_string(random() % 200) + ".htm";
    IndexedArticle article = Article(static_cast<uint64_t>(put));
    const std::string bytes = text(20);
    ASSERT_TRUE(store->PutArticle(name, article, GramsOf(bytes)));
    latest[name] = {article, bytes};
  }
  ASSERT_TRUE(store->Commit());
  ASSERT_TRUE(store->Seal());
  EXPECT_EQ(store->rows(), 300);
  EXPECT_EQ(store->tombstones(), 300 - static_cast<int64_t>(latest.size()));
  store.reset();

  store = IndexStore::Open(file_, Identity(), kAnySize);
  ASSERT_TRUE(store);
  ASSERT_TRUE(store->BeginRead());
  IndexedArticles loaded;
  ASSERT_TRUE(store->LoadArticles(loaded));
  ASSERT_EQ(loaded.size(), latest.size());
  std::map<std::string, std::vector<uint32_t>> held;
  for (const auto& [name, stored] : latest) {
    held[name] = index::GramsOf(stored.second);
    const std::size_t place = PlaceOf(loaded, name);
    ASSERT_NE(place, kNotIndexed);
    EXPECT_EQ(loaded[place].second.row, stored.first.row);
    EXPECT_EQ(loaded[place].second.status, stored.first.status);
  }
  for (int query = 0; query < 200; ++query) {
    const std::string phrase = text(4 + random() % 3);
    const std::vector<uint32_t> wanted = index::GramsOf(phrase);
    std::vector<int64_t> rows;
    ASSERT_TRUE(store->RowsHolding(GramView::kBytes, wanted, rows));
    for (const auto& [name, stored] : latest) {
      const std::vector<uint32_t>& grams = held[name];
      const bool holds = std::includes(grams.begin(), grams.end(), wanted.begin(), wanted.end());
      EXPECT_EQ(std::count(rows.begin(), rows.end(), stored.first.row), holds ? 1 : 0);
    }
  }
  store->EndRead();
}

// Two builds at once would remove each other's file or put one in place half made: while one
// is under way, another cannot start, and the old store stays in use until the new one is
// sealed; a build that is dropped unsealed leaves nothing.
TEST_F(IndexStoreTest, OneBuildAtATimeAndTheOldStoreUntilTheNewOneIsSealed) {
  std::unique_ptr<IndexStore> old = IndexStore::Create(file_, Identity());
  IndexedArticle article = Article(1);
  ASSERT_TRUE(old && old->BeginWrite() &&
              old->PutArticle("ZEB1.htm", article, GramsOf("printer")) && old->Commit() &&
              old->Seal());
  old.reset();

  std::unique_ptr<IndexStore> building = IndexStore::Create(file_, Identity());
  ASSERT_TRUE(building);
  EXPECT_FALSE(IndexStore::Create(file_, Identity()));
  bool busy = false;
  EXPECT_FALSE(IndexStore::LockBuilds(file_, busy));
  EXPECT_TRUE(busy) << "another build holds the lock";
  std::unique_ptr<IndexStore> reading = IndexStore::Open(file_, Identity(), kAnySize);
  ASSERT_TRUE(reading);
  IndexedArticles articles;
  ASSERT_TRUE(reading->BeginRead() && reading->LoadArticles(articles));
  reading->EndRead();
  EXPECT_EQ(articles.size(), 1u);
  building.reset();
  EXPECT_TRUE(IndexStore::Open(file_, Identity(), kAnySize));
  EXPECT_TRUE(IndexStore::LockBuilds(file_, busy));
  EXPECT_FALSE(busy);

  building = IndexStore::Create(file_, Identity());
  ASSERT_TRUE(building && building->BeginWrite() && building->Commit() && building->Seal());
  EXPECT_FALSE(reading->Unchanged());
  reading = IndexStore::Open(file_, Identity(), kAnySize);
  articles.clear();
  ASSERT_TRUE(reading && reading->BeginRead() && reading->LoadArticles(articles));
  EXPECT_TRUE(articles.empty());
}

// A store that is not what it must be is never opened: whatever was done to it, Open gives
// nothing, and Create makes a good one in its place.
TEST_F(IndexStoreTest, RefusesAStoreThatDoesNotProveItself) {
  const auto make = [&] {
    std::unique_ptr<IndexStore> store = IndexStore::Create(file_, Identity());
    IndexedArticle article = Article(1);
    ASSERT_TRUE(store && store->BeginWrite() &&
                store->PutArticle("ZEB1.htm", article, GramsOf("printer")) && store->Commit() &&
                store->Seal());
  };
  make();
  ASSERT_TRUE(IndexStore::Open(file_, Identity(), kAnySize));
  ASSERT_TRUE(IndexStore::Open(file_, Identity(), kAnySize));  // opening changes nothing

  for (auto identity_change : std::vector<std::function<void(StoreIdentity&)>>{
           [](StoreIdentity& id) { id.folder = "/elsewhere"; },
           [](StoreIdentity& id) { id.articles_folder.inode = 43; },
           [](StoreIdentity& id) { id.file_system = 8; }, [](StoreIdentity& id) { id.user = 1001; },
           [](StoreIdentity& id) { id.groups.push_back(5); }}) {
    StoreIdentity other = Identity();
    identity_change(other);
    EXPECT_FALSE(IndexStore::Open(file_, other, kAnySize));
  }

  const std::vector<std::function<void()>> damages = {
      [&] { chmod(path_.c_str(), 0644); },
      [&] { chmod(seal_path_.c_str(), 0640); },
      [&] { std::filesystem::resize_file(path_, 1000); },
      [&] {
        std::fstream file(path_, std::ios::in | std::ios::out | std::ios::binary);
        file.seekp(5000);
        file.write("garbage", 7);
      },
      [&] { std::filesystem::remove(seal_path_); },
      [&] {
        std::filesystem::remove(path_);
        std::filesystem::create_symlink("elsewhere.db", path_);
      },
  };
  for (std::size_t damage = 0; damage < damages.size(); ++damage) {
    make();
    damages[damage]();
    EXPECT_FALSE(IndexStore::Open(file_, Identity(), kAnySize)) << "damage " << damage;
  }
  make();
  EXPECT_TRUE(IndexStore::Open(file_, Identity(), kAnySize));
  struct stat status {};
  ASSERT_EQ(stat(path_.c_str(), &status), 0);
  EXPECT_EQ(status.st_mode & 07777, 0600u);
}

// Whatever lies under one of a store's names that is not a private file (a FIFO, which would
// block an open; a folder; a link to a file elsewhere) is removed before anything is opened:
// the store is read or made as if it were not there, nothing waits, and the link's target is
// untouched.
TEST_F(IndexStoreTest, ClearsSideFilesOfTheWrongKindWithoutWaiting) {
  const std::string outside = scratch_ / "outside.txt";
  scratch_.Write("outside.txt", "kept");
  const std::vector<std::function<void(const std::string&)>> plants = {
      [](const std::string& path) { ASSERT_EQ(mkfifo(path.c_str(), 0600), 0); },
      [](const std::string& path) {
        std::filesystem::create_directories(path + "/inner");
        std::ofstream(path + "/inner/file") << "x";
      },
      [&](const std::string& path) { std::filesystem::create_symlink(outside, path); },
      [](const std::string& path) {
        std::ofstream(path) << "x";
        chmod(path.c_str(), 0644);
      },
  };
  for (const std::string& name : IndexStore::FileNames("index.db")) {
    for (std::size_t plant = 0; plant < plants.size(); ++plant) {
      SCOPED_TRACE(name + ", plant " + std::to_string(plant));
      std::filesystem::remove_all(scratch_ / name);
      {
        std::unique_ptr<IndexStore> store = IndexStore::Create(file_, Identity());
        IndexedArticle article = Article(1);
        ASSERT_TRUE(store && store->BeginWrite() &&
                    store->PutArticle("ZEB1.htm", article, GramsOf("printer")) && store->Commit() &&
                    store->Seal());
      }
      std::filesystem::remove_all(scratch_ / name);
      plants[plant](scratch_ / name);
      std::unique_ptr<IndexStore> store = IndexStore::Open(file_, Identity(), kAnySize);
      const bool vital = name == "index.db" || name == "index.db.seal";
      EXPECT_EQ(store != nullptr, !vital);
      store.reset();
      struct stat status {};
      EXPECT_TRUE(lstat((scratch_ / name).c_str(), &status) != 0 ||
                  (S_ISREG(status.st_mode) && (status.st_mode & 07777) == 0600));
      bool busy = false;
      EXPECT_TRUE(IndexStore::LockBuilds(file_, busy));
      EXPECT_TRUE(IndexStore::Create(file_, Identity()));
    }
  }
  std::ifstream kept(outside);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(kept), {}), "kept");
}

// The seal is read no further than its format reaches: a large file there is no seal. A store
// larger than the limit it is opened with is not opened.
TEST_F(IndexStoreTest, RefusesAnOversizedSealOrStore) {
  std::unique_ptr<IndexStore> store = IndexStore::Create(file_, Identity());
  ASSERT_TRUE(store && store->BeginWrite() && store->Commit() && store->Seal());
  store.reset();
  ASSERT_TRUE(IndexStore::Open(file_, Identity(), kAnySize));
  const uint64_t size = std::filesystem::file_size(path_);
  EXPECT_FALSE(IndexStore::Open(file_, Identity(), size - 1));
  EXPECT_TRUE(IndexStore::Open(file_, Identity(), size));

  std::ifstream seal_file(seal_path_);
  const std::string seal(std::istreambuf_iterator<char>(seal_file), {});
  std::ofstream(seal_path_, std::ios::app) << std::string(64 << 20, ' ');
  EXPECT_FALSE(IndexStore::Open(file_, Identity(), kAnySize));
  std::filesystem::resize_file(seal_path_, seal.size());
  EXPECT_TRUE(IndexStore::Open(file_, Identity(), kAnySize));
}

}  // namespace
}  // namespace kb::index
