#pragma once

// The validated article index of the knowledge base in the current directory: a per-user
// cache (app/index/index_store.h) of the grams of every article, used by a search to read only
// the articles that may hold the phrase, and only when every listed article is proven, from
// its metadata, to be what the index read.
//
// A search (ChooseArticles) lists nothing itself: the scan's listing decides which articles
// exist and their order. Each listed article is checked with its exact status (on every
// thread of the search when many are to be checked); any doubt sends it to be read: an
// article the index does not hold, or could not read whole, a status that differs in device,
// inode, size, modification or change time to the nanosecond, a status that cannot be had, a
// timestamp within kUnsureSpanNs of the moment the index read it, or a lock some process
// holds on it. The others are read when the grams of one stretch of theirs include every gram
// of the phrase (of each term, for words: app/index/grams.h), and need no reading otherwise.
//
// The index is not used (and every article is read) when it is switched off, when the
// knowledge base or the cache lies on a network or FUSE file system, when the knowledge base
// lies on a file system read from an image, when the cache folder is not private to the user
// (platform/private_folder.h) or cannot be written, when the settings or the phrase are beyond it
// (Unicode folding, ignored accents, fewer than four bytes, another part of the page as the
// article than the index's), when there is none yet for this folder
// (or the one there does not prove itself), and when the clock is earlier than the index's making.
// A search never writes the index; Refresh does.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <set>
#include <stop_token>
#include <string>
#include <string_view>
#include <thread>

#include "app/base/knowledge_base.h"
#include "app/match/match_settings.h"
#include "app/scan/article_filter.h"
#include "platform/file_identity.h"

namespace kb::index {

struct StoreIdentity;
struct StoreFile;
struct PhraseGrams;
class StatusPass;
class RecentLocks;

// A timestamp this close to the moment an article was read may hide a change made in the
// same tick of a coarse clock.
inline constexpr int64_t kUnsureSpanNs = 2'000'000'000;
// The default limit of the whole cache, IndexLimit.
inline constexpr uint64_t kDefaultCacheLimit = uint64_t{1} << 30;

struct IndexSettings {
  // The knowledge base of the current directory: the index holds the articles it lists, by
  // their names in ZEB, or by their paths from the knowledge base for a tree.
  KnowledgeBase knowledge_base = {};
  bool enabled = true;                        // Index = auto; false for off
  uint64_t cache_limit = kDefaultCacheLimit;  // IndexLimit, in bytes
  // For a program that searches again and again (the window): the index stays open between
  // searches, and a watch on each folder of articles (ZEB, or every folder of a tree and
  // those above it, each set before the first check of its articles) tells which articles to
  // check again; the others keep what the last check proved, until a watched folder itself
  // changes (is created, moved, removed or made a link), events are lost or the index is
  // written again. Only an article that is a regular file of one name, in a folder reached
  // through no symbolic link, is kept so: a change to the target of a link, or through
  // another hard link, comes through no event of the watch. Beyond kMostWatchedFolders
  // folders, or the user's limit on watches, the articles of the folders left unwatched are
  // checked at every search.
  bool watch = false;
  // Which part of each page is the article: the index holds the grams of that part, and
  // serves only searches whose settings have the same.
  ArticlePart article = {};
  // For a program whose searches come several a second (the search server): the locks held
  // may come from a read of them begun up to this long before the search, shared with the
  // searches meanwhile (app/index/recent_locks.h). Zero: each search reads them.
  std::chrono::milliseconds locks_age{0};
};

// What became of the index in the last search, or the last refresh, for its summary.
struct IndexUse {
  std::string_view state = "not used";  // "used" or "not used" by a search; "built" by a refresh
  std::string_view reason;              // empty when used or built; else why not
  int32_t articles_listed = 0;          // by a refresh: the articles it listed
  int32_t articles_read = 0;            // the articles the search (or refresh) had to read
  int32_t articles_doubted = 0;         // of those, the ones read for a doubt, not the phrase
  int32_t articles_locked = 0;          // of those, the ones doubted for a lock alone
  uint64_t index_bytes = 0;             // by a refresh: the size of the index it wrote
};

// Told, on the thread that called Refresh, how many of the articles it reads are read: 0 of
// them before the first, then after each.
using RefreshProgress = std::function<void(int32_t done, int32_t total)>;

class ArticleIndex final : public ArticleFilter {
 public:
  explicit ArticleIndex(IndexSettings settings);
  ~ArticleIndex() override;

  // Starts reading the locks held (/proc/locks) on a thread of its own, when the index may
  // serve the phrase and each search reads them: the kernel makes that read wait a while,
  // which the listing then hides.
  void Prepare(const Query& query, const MatchSettings& settings) override;
  // With IndexSettings::locks_age, waits when need be for a read of the locks held that is
  // recent enough for a search asking now, so that the search finds one without waiting while
  // it holds the index (and keeps others from it). Safe from any thread.
  void AwaitRecentLocks() const;
  // Takes the locks read since the last Prepare, or reads them now when there was none. For a
  // query sought in the bytes of whole pages, the articles read for its grams alone (none
  // doubted) come in `places` with the bytes of their stretches that hold each term's.
  void ChooseArticles(std::span<const std::string_view> names, const Query& query,
                      const MatchSettings& settings, std::size_t threads,
                      std::vector<char>& must_read, PlacesToLook& places) override;

  IndexUse last_use() const;
  // What became of the index in the last search alone: a refresh on another thread, which
  // may end between a search and its summary, does not change it.
  IndexUse last_search_use() const;

  // Builds the index of the current directory's knowledge base, or brings it up to date:
  // reads every article that a search would doubt but for a lock, whole, on up to `threads`
  // threads, and
  // forgets those no longer listed; starts afresh when tombstones pass a fifth of the rows.
  // Then evicts the least recently used indexes of the cache beyond the cache limit. False,
  // with `problem` saying why, when it cannot, or when `stop` ended it first (nothing is
  // written then). A new index is written apart and takes the old one's place whole.
  // Afterwards last_use() is "built", with the articles listed and read and the size of the
  // index (its files together); or after a failure
  // "not used", with the reason: "build running" while another build of the same index runs
  // (the problem is then text::kIndexBuildRunning and the index's path), "off", that of a
  // knowledge base or cache the index may not use, or "cache not writable" when writing it
  // failed.
  bool Refresh(std::size_t threads, std::string& problem, std::stop_token stop = {},
               const RefreshProgress& progress = {});

 private:
  // What a watching index keeps from one search to the next.
  struct Kept;

  // Takes the watch's news: articles it names, or all when it lost track or a folder of
  // theirs changed, are unproven. Then watches the folder of each of `names`, unless they are
  // the names of the last check and the folders were not watched afresh since.
  void FollowWatch(std::span<const std::string_view> names);
  // Watches `folder` (as Kept::folders names it) and the folders above it, unless watched;
  // whether it is watched so that its articles may be proven by the watch.
  bool WatchFolder(std::string_view folder);
  // The kept store, opened and its articles loaded (the places of the names then unknown)
  // when it is not open or changed since; false when there is none that proves itself.
  bool OpenKept(const StoreFile& store_file, const StoreIdentity& identity);
  // The places in `names` of the articles to check, ascending: for a watching index those not
  // proven since the last check (all when no store is kept yet, or it was written since), and
  // their places in the kept store known; else all.
  std::vector<std::size_t> ArticlesToCheck(std::span<const std::string_view> names);
  // Makes the places of `names` in the kept store known, unless they are.
  void PlaceNames(std::span<const std::string_view> names);
  // The first rows of the articles one of whose stretches holds every gram of each group
  // sought, sorted, and for each group the rows of the stretches that hold its grams; or why
  // the index cannot tell.
  std::string_view LookUp(const StoreFile& store_file, const StoreIdentity& identity,
                          const PhraseGrams& sought, int64_t clock, std::vector<int64_t>& rows,
                          std::vector<std::vector<int64_t>>& stretch_rows);
  // Which articles must be read: those doubted after their check, and those whose rows hold
  // the phrase's grams, `names` being at the kept places. An article on another device than
  // `zeb` (through a symbolic link) is doubted when that device's file system is a network one
  // or an image. `zeb` is the articles' folder: ZEB, or the knowledge base's for a tree. With
  // `stretch_rows` (for each group of `sought`, the rows of the stretches that hold its grams;
  // none to name no places), an article read for its grams alone comes in `places_to_look`
  // with the bytes of those stretches, by term.
  void Decide(std::span<const std::string_view> names, const StatusPass& statuses,
              const std::vector<int64_t>& rows, const PhraseGrams& sought,
              const std::vector<std::vector<int64_t>>& stretch_rows, int64_t clock,
              const std::set<platform::LockedFile>& locked, const platform::ExactStatus& zeb,
              std::vector<char>& must_read, PlacesToLook& places_to_look, IndexUse& use);
  // Notes that a refresh failed for `reason`; false.
  bool Failed(std::string_view reason);
  // Marks the index as used, for the cache's eviction.
  static void NoteUse(const StoreFile& store_file);

  IndexSettings settings_;
  std::unique_ptr<Kept> kept_;
  // With IndexSettings::locks_age: the reads of the locks the searches share.
  std::unique_ptr<RecentLocks> recent_locks_;
  // The locks Prepare began to read; the read is waited for when the index goes.
  std::future<std::set<platform::LockedFile>> prepared_locks_;
  mutable std::mutex use_mutex_;
  IndexUse use_;
  IndexUse search_use_;
};

// Keeps an index up to date for a program that searches again and again (the window): after
// a search that found no index to use, or doubted some articles, it refreshes the index on a
// thread of its own, so that the next search reads fewer. A search never waits for it; what
// a refresh has not committed yet no search sees.
class BackgroundRefresh {
 public:
  BackgroundRefresh(ArticleIndex& index, std::size_t threads) : index_(index), threads_(threads) {}
  // Stops a refresh under way (it writes nothing then) and waits for its thread.
  ~BackgroundRefresh() = default;

  // After each search, on the thread that ran it: starts a refresh when the search calls
  // for one and none runs.
  void AfterSearch();

  // Starts a refresh unless one runs: for a program that keeps the index from its start (the
  // search server), so that a missing index is being built before the first search asks.
  void Start();

  // Whether a refresh it started is under way.
  bool running() const { return running_; }

 private:
  ArticleIndex& index_;
  std::size_t threads_;
  std::atomic<bool> running_{false};
  std::jthread refresh_;  // last: stopped and joined first
};

// The cache folder: $XDG_CACHE_HOME/kbsearch, or ~/.cache/kbsearch.
std::string CacheFolder();

}  // namespace kb::index
