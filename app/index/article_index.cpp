#include "app/index/article_index.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <thread>
#include <vector>

#include "app/index/index_store.h"
#include "app/scan/scan.h"
#include "files/directory_listing.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace kb::index {
namespace {

constexpr std::string_view kArticlesFolder = "ZEB";
constexpr std::string_view kNoneYet = "none yet";
constexpr std::string_view kRemote = "network file system";
constexpr std::string_view kCacheNotWritable = "cache not writable";
constexpr std::string_view kClock = "clock";
constexpr std::string_view kOff = "off";
// Articles read and turned into grams at once while the index is written.
constexpr std::size_t kRefreshBatch = 256;

// Runs work(i) for every i below `count` on up to `threads` threads, the calling one included.
template <typename Work>
void OnThreads(std::size_t count, std::size_t threads, const Work& work) {
  std::atomic<std::size_t> next{0};
  const auto run = [&] {
    for (std::size_t at = next++; at < count; at = next++) work(at);
  };
  std::vector<std::jthread> helpers;
  const std::size_t wanted = std::min(std::max<std::size_t>(threads, 1), count);
  for (std::size_t helper = 1; helper < wanted; ++helper) helpers.emplace_back(run);
  run();
}

uint64_t NameHash(std::string_view text) {
  uint64_t hash = 0xcbf29ce484222325ULL;
  for (char byte : text) {
    hash ^= static_cast<unsigned char>(byte);
    hash *= 0x100000001b3ULL;
  }
  return hash;
}

// Where the current directory's index lies, and what it must have been made for; or why no
// index may be used there.
struct Place {
  std::string_view refusal;
  StoreIdentity identity;
  std::string store_path;
};

Place FindPlace(bool making_folder) {
  Place place;
  const platform::FileSystemOf articles = platform::FileSystemOfPath(kArticlesFolder);
  const std::optional<std::string> folder = platform::CanonicalPath(".");
  if (!articles.known || !folder ||
      !platform::StatusOfPath(kArticlesFolder, place.identity.articles_folder)) {
    place.refusal = kNoneYet;
    return place;
  }
  if (articles.remote) {
    place.refusal = kRemote;
    return place;
  }
  const std::string cache = CacheFolder();
  if (making_folder && !platform::MakePrivateFolder(cache)) {
    place.refusal = kCacheNotWritable;
    return place;
  }
  const platform::FileSystemOf cache_system = platform::FileSystemOfPath(cache);
  if (!cache_system.known) {
    place.refusal = kNoneYet;
    return place;
  }
  if (cache_system.remote || !platform::FolderIsWritable(cache)) {
    place.refusal = kCacheNotWritable;
    return place;
  }
  place.identity.folder = *folder;
  place.identity.file_system = articles.id;
  place.identity.user = platform::UserId();
  place.identity.groups = platform::GroupIds();
  const platform::ExactStatus& zeb = place.identity.articles_folder;
  char name[120];
  std::snprintf(name, sizeof name, "/%016llx-%u.%u-%llu.db",
                static_cast<unsigned long long>(NameHash(*folder)), zeb.device_major,
                zeb.device_minor, static_cast<unsigned long long>(zeb.inode));
  place.store_path = cache + name;
  return place;
}

// True when the article as it is now may differ from what the index read.
bool Doubtful(const IndexedArticle& indexed, const platform::ExactStatus& now, int64_t clock,
              const std::set<platform::LockedFile>& locked) {
  return !indexed.whole || !now.regular || now != indexed.status ||
         now.mtime_ns > indexed.read_at_ns - kUnsureSpanNs ||
         now.ctime_ns > indexed.read_at_ns - kUnsureSpanNs || indexed.read_at_ns > clock ||
         locked.contains({now.device_major, now.device_minor, now.inode});
}

// One article read whole for the index.
struct ReadArticle {
  std::string name;
  IndexedArticle indexed;
  ArticleGrams grams;
};

void ReadWhole(const platform::StatusFolder& folder, ReadArticle& article) {
  IndexedArticle& indexed = article.indexed;
  indexed.read_at_ns = platform::RealTimeNs();
  indexed.whole = false;
  if (!folder.StatusOf(article.name, indexed.status) || !indexed.status.regular) return;
  platform::Env& env = platform::Env::Default();
  std::unique_ptr<platform::File> file;
  if (env.OpenFile(std::string(kArticlePathPrefix) + article.name, {}, file) !=
          platform::system_error::kNone ||
      file->Lock(platform::Lock::kShared) != platform::system_error::kNone) {
    return;
  }
  std::vector<char> buffer(1 << 16);
  uint64_t offset = 0;
  for (;;) {
    std::size_t count = 0;
    if (file->Read(offset, buffer, count) != platform::system_error::kNone) return;
    if (count == 0) break;
    article.grams.Feed(std::string_view(buffer.data(), count));
    offset += count;
  }
  article.grams.Finish();
  platform::ExactStatus after;
  indexed.whole = file->Close() == platform::system_error::kNone &&
                  folder.StatusOf(article.name, after) && after == indexed.status &&
                  offset == indexed.status.size;
}

// Removes the least recently used indexes of the cache until it holds at most `limit` bytes;
// `keep` stays whatever its age.
void Evict(const std::string& cache, const std::string& keep, uint64_t limit) {
  struct Store {
    uint64_t size = 0;
    int64_t used_ns = 0;
  };
  std::map<std::string, Store> stores;
  for (const platform::FolderEntry& entry : platform::FolderEntries(cache)) {
    const std::size_t end = entry.name.find(".db");
    if (end == std::string::npos) continue;
    Store& store = stores[entry.name.substr(0, end + 3)];
    store.size += entry.size;
    store.used_ns = std::max(store.used_ns, entry.mtime_ns);
  }
  uint64_t total = 0;
  std::vector<std::pair<int64_t, std::string>> by_age;
  for (const auto& [name, store] : stores) {
    total += store.size;
    if (cache + "/" + name != keep) by_age.emplace_back(store.used_ns, name);
  }
  std::sort(by_age.begin(), by_age.end());
  for (const auto& [used, name] : by_age) {
    if (total <= limit) break;
    const std::string path = cache + "/" + name;
    for (const std::string& file :
         {path, path + "-wal", path + "-shm", IndexStore::SealPath(path)}) {
      platform::RemoveFile(file);
    }
    total -= stores[name].size;
  }
}

}  // namespace

std::string CacheFolder() {
  if (std::optional<std::string> cache = platform::EnvironmentVariable("XDG_CACHE_HOME");
      cache && !cache->empty() && cache->front() == '/') {
    return *cache + "/kbsearch";
  }
  return platform::EnvironmentVariable("HOME").value_or("") + "/.cache/kbsearch";
}

IndexUse ArticleIndex::last_use() const {
  const std::lock_guard lock(use_mutex_);
  return use_;
}

struct ArticleIndex::Kept {
  std::string store_path;
  std::unique_ptr<IndexStore> store;
  IndexedArticles indexed;
  std::unique_ptr<platform::FolderWatch> watch;
  // For each of `indexed`: a check proved its status, and no event came about it since.
  std::vector<char> proven;
};

ArticleIndex::ArticleIndex(IndexSettings settings) : settings_(settings) {}

ArticleIndex::~ArticleIndex() = default;

void ArticleIndex::ChooseArticles(std::span<const std::string_view> names, std::string_view phrase,
                                  const MatchSettings& settings, std::size_t threads,
                                  std::vector<char>& must_read) {
  IndexUse use{
      .state = "not used", .reason = {}, .articles_read = static_cast<int32_t>(names.size())};
  const auto finish = [&](std::string_view reason) {
    use.reason = reason;
    const std::lock_guard lock(use_mutex_);
    use_ = use;
  };
  if (!settings_.enabled) return finish(kOff);
  const Place place = FindPlace(false);
  if (!place.refusal.empty()) return finish(place.refusal);
  const PhraseGrams sought = GramsOfPhrase(phrase, settings);
  if (!sought.refusal.empty()) return finish(sought.refusal);

  if (!settings_.watch || !kept_ || kept_->store_path != place.store_path) {
    kept_ = std::make_unique<Kept>();
    kept_->store_path = place.store_path;
  }
  Kept& kept = *kept_;
  if (settings_.watch) {
    platform::FolderWatch::Changes changes;
    if (kept.watch) changes = kept.watch->Take();
    if (!kept.watch || changes.everything) {
      // The watch comes before the check, so that no change after it goes unseen.
      kept.watch = platform::FolderWatch::Open(kArticlesFolder);
      std::fill(kept.proven.begin(), kept.proven.end(), 0);
    }
    for (const std::string& name : changes.names) {
      if (const std::size_t place = PlaceOf(kept.indexed, name); place != kNotIndexed) {
        kept.proven[place] = 0;
      }
    }
  }
  if (kept.store && !kept.store->Unchanged()) kept.store.reset();
  if (!kept.store) {
    kept.indexed.clear();
    kept.proven.clear();
    kept.store = IndexStore::Open(place.store_path, place.identity);
    if (!kept.store) return finish(kNoneYet);
    const bool loaded = kept.store->BeginRead() && kept.store->LoadArticles(kept.indexed);
    kept.store->EndRead();
    kept.proven.assign(kept.indexed.size(), 0);
    if (!loaded) {
      kept.store.reset();
      return finish(kNoneYet);
    }
  }
  const int64_t clock = platform::RealTimeNs();
  if (clock < kept.store->built_at_ns()) return finish(kClock);
  std::vector<int64_t> rows;
  const bool read =
      kept.store->BeginRead() && kept.store->RowsHolding(sought.view, sought.grams, rows);
  kept.store->EndRead();
  if (!read) {
    kept.store.reset();
    return finish(kNoneYet);
  }
  platform::TouchFile(IndexStore::SealPath(place.store_path));
  std::sort(rows.begin(), rows.end());

  const std::set<platform::LockedFile> locked = platform::LockedFiles();
  const std::unique_ptr<platform::StatusFolder> folder =
      platform::StatusFolder::Open(kArticlesFolder);
  if (!folder) return finish(kNoneYet);
  std::atomic<int32_t> to_read{0};
  std::atomic<int32_t> doubted{0};
  const std::vector<std::size_t> places = PlacesOf(kept.indexed, names);
  OnThreads(names.size(), threads, [&](std::size_t at) {
    const std::size_t place = places[at];
    bool doubtful = place == kNotIndexed;
    if (!doubtful && kept.proven[place]) {
      const IndexedArticle& indexed = kept.indexed[place].second;
      doubtful = indexed.read_at_ns > clock ||
                 locked.contains({indexed.status.device_major, indexed.status.device_minor,
                                  indexed.status.inode});
    } else if (!doubtful) {
      platform::ExactStatus now;
      doubtful = !folder->StatusOf(names[at], now) ||
                 Doubtful(kept.indexed[place].second, now, clock, locked);
      // Each place is one name's: the threads write apart.
      if (!doubtful && settings_.watch && folder->HasThisNameAlone(names[at])) {
        kept.proven[place] = 1;
      }
    }
    must_read[at] =
        doubtful || std::binary_search(rows.begin(), rows.end(), kept.indexed[place].second.row);
    if (must_read[at]) ++to_read;
    if (doubtful) ++doubted;
  });
  use.state = "used";
  use.articles_read = to_read;
  use.articles_doubted = doubted;
  finish({});
}

bool ArticleIndex::Refresh(std::size_t threads, std::string& problem, std::stop_token stop) {
  if (!settings_.enabled) {
    problem = "the index is off in the settings (Index = off)";
    return false;
  }
  const Place place = FindPlace(true);
  if (place.refusal == kNoneYet) {
    problem = "no ZEB folder to index";
    return false;
  }
  if (!place.refusal.empty()) {
    problem = place.refusal == kRemote ? "the knowledge base is on a network file system"
                                       : "the cache folder cannot be written: " + CacheFolder();
    return false;
  }
  std::unique_ptr<IndexStore> store = IndexStore::Open(place.store_path, place.identity);
  // A store too full of tombstones, or one from before a backwards clock, starts afresh.
  if (store &&
      (store->tombstones() * 5 > store->rows() || store->built_at_ns() > platform::RealTimeNs())) {
    store.reset();
  }
  if (!store) store = IndexStore::Create(place.store_path, place.identity);
  if (!store) {
    problem = "cannot write the index " + place.store_path;
    return false;
  }

  Queue<FileRecord> listing;
  if (!ListDirectory(listing, kArticlePattern, 0, ListingDetail::kNames)) {
    problem = "cannot read the folder ZEB";
    return false;
  }
  std::vector<std::string> names;
  for (int32_t entry = 1; entry <= listing.Count(); ++entry) {
    listing.Get(entry);
    names.emplace_back(listing.record().name.clipped());
  }
  const std::unique_ptr<platform::StatusFolder> folder =
      platform::StatusFolder::Open(kArticlesFolder);
  IndexedArticles indexed;
  const bool loaded = folder && store->BeginRead() && store->LoadArticles(indexed);
  store->EndRead();
  if (!loaded || !store->BeginWrite()) {
    problem = "cannot read the index " + place.store_path;
    return false;
  }

  const std::set<platform::LockedFile> locked = platform::LockedFiles();
  const int64_t clock = platform::RealTimeNs();
  bool written = true;
  for (std::size_t start = 0; start < names.size() && written; start += kRefreshBatch) {
    if (stop.stop_requested()) {
      problem = "stopped";
      return false;
    }
    const std::size_t count = std::min(kRefreshBatch, names.size() - start);
    std::vector<std::unique_ptr<ReadArticle>> batch(count);
    OnThreads(count, threads, [&](std::size_t at) {
      const std::string& name = names[start + at];
      const std::size_t place = PlaceOf(indexed, name);
      platform::ExactStatus now;
      if (place != kNotIndexed && folder->StatusOf(name, now) &&
          !Doubtful(indexed[place].second, now, clock, locked)) {
        return;
      }
      batch[at] = std::make_unique<ReadArticle>();
      batch[at]->name = name;
      ReadWhole(*folder, *batch[at]);
    });
    for (const std::unique_ptr<ReadArticle>& article : batch) {
      // An article that still cannot be read as it could not before is left as it is.
      const std::size_t before = article ? PlaceOf(indexed, article->name) : kNotIndexed;
      if (before != kNotIndexed && !indexed[before].second.whole && !article->indexed.whole &&
          indexed[before].second.status == article->indexed.status) {
        continue;
      }
      if (article && written) {
        written = store->PutArticle(article->name, article->indexed, article->grams);
      }
    }
  }
  std::sort(names.begin(), names.end());
  for (const auto& [name, article] : indexed) {
    if (written && !std::binary_search(names.begin(), names.end(), name)) {
      written = store->ForgetArticle(name);
    }
  }
  if (!written || !store->Commit() || !store->Seal()) {
    problem = "cannot write the index " + place.store_path;
    return false;
  }
  store.reset();
  Evict(CacheFolder(), place.store_path, settings_.cache_limit);
  return true;
}

void BackgroundRefresh::AfterSearch() {
  const IndexUse use = index_.last_use();
  const bool called_for =
      use.reason == kNoneYet || (use.state == "used" && use.articles_doubted > 0);
  if (!called_for || running_.exchange(true)) return;
  if (refresh_.joinable()) refresh_.join();
  refresh_ = std::jthread([this](std::stop_token stop) {
    platform::LowerThreadPriority();
    std::string ignored;
    index_.Refresh(threads_, ignored, stop);
    running_ = false;
  });
}

}  // namespace kb::index
