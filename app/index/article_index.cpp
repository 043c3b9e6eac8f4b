#include "app/index/article_index.h"

#include "app/match/article_region.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <span>
#include <thread>
#include <tuple>
#include <vector>

#include "app/base/replaceable_texts.h"
#include "app/index/index_store.h"
#include "app/index/recent_locks.h"
#include "app/scan/scan.h"
#include "files/directory_listing.h"
#include "files/tree_listing.h"
#include "platform/beneath_folder.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "support/pipeline/ordered_pipeline.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb::index {
namespace {

constexpr std::string_view kNoneYet = "none yet";
constexpr std::string_view kRemote = "network file system";
constexpr std::string_view kCacheNotWritable = "cache not writable";
constexpr std::string_view kCacheNotPrivate = "cache not private";
constexpr std::string_view kImage = "image file system";
constexpr std::string_view kClock = "clock";
constexpr std::string_view kOff = "off";
constexpr std::string_view kBuildRunning = "build running";
constexpr std::string_view kOtherPart = "other article part";
// The grams of a group looked up: those held by at most this share of the rows. Reading the
// rows of a commoner one costs more than reading the few articles it would rule out (measured on
// 40,000 pages: leaving out those held by over 30% of the rows, 40 queries looked up their grams
// in 25% less time and read 4% more bytes of articles; over 10%, 50% less time and twice the
// bytes).
constexpr double kMostHeldLookedUp = 0.3;
// And at most this many of them, the rarest: on three samples of 40 queries, 8 took 31% to 44%
// less time to look up than all, for 1% to 8% more bytes of articles read; 6 read twice the
// bytes.
constexpr std::size_t kMostGramsLookedUp = 8;
// The share of the indexed articles that may hold a phrase beyond which checking every
// article's status costs more than the reads it spares: a check costs about a third of the
// read of a small article.
constexpr std::size_t kMostNumerator = 2;
constexpr std::size_t kMostDenominator = 3;
// Articles read and turned into grams at once while the index is written.
constexpr std::size_t kRefreshBatch = 256;
// The articles of a folder beyond FolderWatch::kMostFolders are checked at every search.
constexpr std::size_t kMostWatchedFolders = platform::FolderWatch::kMostFolders;

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
  StoreFile store;
  std::string store_path;  // for messages: the path the cache folder was opened by
};

// The excluded patterns as the store's header records them.
std::string ExcludeText(const std::vector<std::string>& exclude) {
  std::string text;
  for (const std::string& pattern : exclude) text.append(text.empty() ? "" : "\n").append(pattern);
  return text;
}

// A tree's store is the knowledge base's own folder's: its articles may lie in any folder
// beneath it, each of which is proven, as the articles are, by its articles' statuses.
Place FindPlace(bool making_folder, const IndexSettings& settings) {
  Place place;
  const KnowledgeBase& base = settings.knowledge_base;
  const std::string_view articles_folder = base.ArticleFolder();
  place.identity.marker = settings.article.marker;
  place.identity.ignore = IgnoreListText(settings.article.ignore);
  place.identity.articles = base.articles;
  place.identity.exclude = ExcludeText(base.exclude);
  const platform::FileSystemOf articles = platform::FileSystemOfPath(articles_folder);
  const std::optional<std::string> folder = platform::CanonicalPath(".");
  if (!articles.known || !folder ||
      !platform::StatusOfPath(articles_folder, place.identity.articles_folder)) {
    place.refusal = kNoneYet;
    return place;
  }
  if (articles.remote) {
    place.refusal = kRemote;
    return place;
  }
  if (articles.image) {
    place.refusal = kImage;
    return place;
  }
  const std::string cache = CacheFolder();
  using Outcome = platform::PrivateFolder::Outcome;
  Outcome outcome = Outcome::kNotPrivate;
  place.store.folder = platform::PrivateFolder::Open(cache, making_folder, outcome);
  switch (outcome) {
    case Outcome::kOpened:
      break;
    case Outcome::kMissing:
      place.refusal = kNoneYet;
      return place;
    case Outcome::kNotPrivate:
      place.refusal = kCacheNotPrivate;
      return place;
    case Outcome::kRemote:
    case Outcome::kNotWritable:
      place.refusal = kCacheNotWritable;
      return place;
  }
  place.identity.folder = *folder;
  place.identity.file_system = articles.id;
  place.identity.user = platform::UserId();
  place.identity.groups = platform::GroupIds();
  const platform::ExactStatus& zeb = place.identity.articles_folder;
  // Another layout of the same folder is another store; ZEB's keeps the name it always had.
  const uint64_t hash =
      base.ListsArticleFolder()
          ? NameHash(*folder)
          : NameHash(Concat({*folder, std::string_view("\0", 1), place.identity.articles,
                             std::string_view("\0", 1), place.identity.exclude}));
  char name[120];
  std::snprintf(name, sizeof name, "%016llx-%u.%u-%llu.db", static_cast<unsigned long long>(hash),
                zeb.device_major, zeb.device_minor, static_cast<unsigned long long>(zeb.inode));
  place.store.name = name;
  place.store_path = cache + "/" + name;
  return place;
}

// True when the article as it is now may differ from what the index read. A search doubts a
// locked article too (Locked), which a refresh would read again for nothing.
bool Doubtful(const IndexedArticle& indexed, const platform::ExactStatus& now, int64_t clock) {
  return !indexed.whole || !now.regular || now != indexed.status ||
         now.mtime_ns > indexed.read_at_ns - kUnsureSpanNs ||
         now.ctime_ns > indexed.read_at_ns - kUnsureSpanNs || indexed.read_at_ns > clock;
}

bool Locked(const platform::ExactStatus& now, const std::set<platform::LockedFile>& locked) {
  return locked.contains({now.device_major, now.device_minor, now.inode});
}

// One article read whole for the index.
struct ReadArticle {
  explicit ReadArticle(const ArticlePart& part) : grams(part) {}
  std::string name;
  IndexedArticle indexed;
  ArticleGrams grams;
};

// Reads the article through `env`, by its name after `prefix` (the knowledge base's
// ArticlePathPrefix).
void ReadWhole(platform::Env& env, std::string_view prefix, const platform::StatusFolder& folder,
               ReadArticle& article) {
  IndexedArticle& indexed = article.indexed;
  indexed.read_at_ns = platform::RealTimeNs();
  indexed.whole = false;
  if (!folder.StatusOf(article.name, indexed.status) || !indexed.status.regular) return;
  std::unique_ptr<platform::File> file;
  if (env.OpenFile(Concat({prefix, article.name}), {}, file) != platform::system_error::kNone ||
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
void Evict(const platform::PrivateFolder& cache, const std::string& keep, uint64_t limit) {
  struct Store {
    uint64_t size = 0;
    int64_t used_ns = 0;
  };
  std::map<std::string, Store> stores;
  for (const platform::FolderEntry& entry : cache.Entries()) {
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
    if (name != keep) by_age.emplace_back(store.used_ns, name);
  }
  std::sort(by_age.begin(), by_age.end());
  for (const auto& [used, name] : by_age) {
    if (total <= limit) break;
    for (const std::string& file : IndexStore::FileNames(name)) cache.Remove(file);
    total -= stores[name].size;
  }
}

// The first rows of the articles of `indexed` that `stretch_rows` (ascending) name stretches
// of, each once and in ascending order; `by_row` holds the articles' (first row, place),
// sorted. The stretch of an article no longer indexed names none.
std::vector<int64_t> ArticleRowsOf(const IndexedArticles& indexed,
                                   const std::vector<std::pair<int64_t, std::size_t>>& by_row,
                                   const std::vector<int64_t>& stretch_rows) {
  std::vector<int64_t> rows;
  std::size_t at = 0;  // the last of `by_row` that starts at or before the stretch
  for (const int64_t stretch : stretch_rows) {
    // Galloping from the last: a rare phrase's few stretches lie far apart among the 40,000
    // articles, a common one's many close together.
    std::size_t step = 1;
    while (at + step < by_row.size() && by_row[at + step].first <= stretch) {
      at += step;
      step *= 2;
    }
    const auto past = std::upper_bound(
        by_row.begin() + static_cast<std::ptrdiff_t>(at),
        by_row.begin() + static_cast<std::ptrdiff_t>(std::min(at + step, by_row.size())), stretch,
        [](int64_t row, const std::pair<int64_t, std::size_t>& entry) {
          return row < entry.first;
        });
    at = past == by_row.begin() ? 0 : static_cast<std::size_t>(past - by_row.begin()) - 1;
    if (by_row.empty() || by_row[at].first > stretch) continue;
    const auto [first, place] = by_row[at];
    if (stretch < first + indexed[place].second.stretches &&
        (rows.empty() || rows.back() != first)) {
      rows.push_back(first);
    }
  }
  return rows;
}

}  // namespace

std::string CacheFolder() {
  if (std::optional<std::string> cache = platform::EnvironmentVariable("XDG_CACHE_HOME");
      cache && !cache->empty() && cache->front() == '/') {
    return *cache + "/kbsearch";
  }
  if (std::optional<std::string> home = platform::EnvironmentVariable("HOME");
      home && !home->empty() && home->front() == '/') {
    return *home + "/.cache/kbsearch";
  }
  return {};
}

IndexUse ArticleIndex::last_use() const {
  const std::lock_guard lock(use_mutex_);
  return use_;
}

IndexUse ArticleIndex::last_search_use() const {
  const std::lock_guard lock(use_mutex_);
  return search_use_;
}

struct ArticleIndex::Kept {
  std::string store_path;
  std::unique_ptr<IndexStore> store;
  IndexedArticles indexed;
  // The latest moment an article of `indexed` was read at.
  int64_t latest_read_ns = 0;
  // `indexed`'s (first row, place) sorted, made as the store is loaded, and its (device,
  // inode, place) sorted, made when first needed after: so that the stretches holding a
  // phrase, and the few locks held, lead to their articles without a lookup per article.
  std::vector<std::pair<int64_t, std::size_t>> by_row;
  std::vector<std::tuple<uint32_t, uint32_t, uint64_t, std::size_t>> by_inode;
  std::unique_ptr<platform::FolderWatch> watch;
  // The folders of the articles ("" for the articles' folder, else a path ending in "/"),
  // each true when it is watched and reached through no symbolic link: a change to an
  // article of one name in it, or to the folder itself, then shows in the watch.
  std::map<std::string, bool, std::less<>> folders;
  // For each of `indexed`: a check proved its status, and no event came about it since.
  std::vector<char> proven;
  // The names of the last check, end to end in its order, and where each ends; for each,
  // whether its folder is watched so, and where `indexed` holds it (when `places_known`). A
  // search that lists the very same names takes them as they are, unless the folders were
  // watched afresh or the store loaded again since: a search of an unchanged knowledge base
  // then looks up no article by name.
  std::string listed;
  std::vector<std::size_t> listed_ends;
  std::vector<char> watched;
  std::vector<std::size_t> places;
  bool places_known = false;
};

// The statuses of some of the listed articles, taken from the moment it is made, so that the
// search's other work (opening the index, looking up the phrase) overlaps them: on threads of
// their own when there are many, else on the calling thread when Finish is called.
class StatusPass {
 public:
  struct Status {
    platform::ExactStatus status;
    bool known = false;
    bool alone = false;  // with `alone` asked: StatusFolder::HasThisNameAlone
  };

  // The statuses of `names` at `wanted` (places in `names`, ascending) in the folder `folder`,
  // and, with `alone`, whether each is its file's only name.
  StatusPass(std::string_view folder, std::span<const std::string_view> names,
             std::vector<std::size_t> wanted, bool alone, std::size_t threads)
      : names_(names), wanted_(std::move(wanted)), alone_(alone), statuses_(wanted_.size()) {
    folder_ = platform::StatusFolder::Open(folder);
    if (!folder_ || wanted_.size() < kFewestForThreads) return;
    // The calling thread joins in when Finish is called.
    const std::size_t runs = (wanted_.size() + kRun - 1) / kRun;
    const std::size_t helpers = std::min(std::max<std::size_t>(threads, 1), runs) - 1;
    for (std::size_t helper = 0; helper < helpers; ++helper) {
      helpers_.emplace_back([this] { Take(); });
    }
  }

  // Every wanted status taken (the calling thread helping); false when the folder could not be
  // opened.
  bool Finish() {
    if (folder_) Take();
    for (std::jthread& helper : helpers_) helper.join();
    return folder_ != nullptr;
  }
  // The work left undone: the statuses will not be asked for.
  void Abandon() { next_ = wanted_.size(); }

  // After Finish: the status of names[at], taken now when it was not wanted.
  Status operator[](std::size_t at) const {
    // When every name is wanted, names[at] is wanted at `at`.
    const auto found = wanted_.size() == names_.size()
                           ? wanted_.begin() + static_cast<std::ptrdiff_t>(at)
                           : std::lower_bound(wanted_.begin(), wanted_.end(), at);
    if (found != wanted_.end() && *found == at) {
      return statuses_[static_cast<std::size_t>(found - wanted_.begin())];
    }
    return Take(names_[at]);
  }
  const platform::StatusFolder& folder() const { return *folder_; }

 private:
  // Names are claimed a run at a time, so that the threads seldom meet at the counter.
  static constexpr std::size_t kRun = 128;
  // Fewer statuses than this are taken faster than threads start.
  static constexpr std::size_t kFewestForThreads = 256;

  void Take() {
    for (std::size_t start = next_.fetch_add(kRun); start < wanted_.size();
         start = next_.fetch_add(kRun)) {
      for (std::size_t at = start; at < std::min(start + kRun, wanted_.size()); ++at) {
        statuses_[at] = Take(names_[wanted_[at]]);
      }
    }
  }
  Status Take(std::string_view name) const {
    Status now;
    now.known = folder_->StatusOf(name, now.status);
    now.alone = alone_ && now.known && folder_->HasThisNameAlone(name);
    return now;
  }

  std::span<const std::string_view> names_;
  std::vector<std::size_t> wanted_;
  bool alone_;
  std::vector<Status> statuses_;
  std::unique_ptr<platform::StatusFolder> folder_;
  std::atomic<std::size_t> next_{0};
  std::vector<std::jthread> helpers_;  // last: joined first
};

ArticleIndex::ArticleIndex(IndexSettings settings) : settings_(settings) {
  if (settings_.locks_age.count() > 0) {
    recent_locks_ = std::make_unique<RecentLocks>(settings_.locks_age);
  }
}

ArticleIndex::~ArticleIndex() = default;

namespace {

// The folder of the article `name`: "" for the articles' folder, else its path ending in "/".
std::string_view FolderOf(std::string_view name) {
  const std::size_t slash = name.rfind('/');
  return slash == std::string_view::npos ? std::string_view() : name.substr(0, slash + 1);
}

// Whether `names` are those kept end to end in `kept`, each ending where `ends` says.
bool SameNames(std::span<const std::string_view> names, std::string_view kept,
               const std::vector<std::size_t>& ends) {
  if (names.size() != ends.size()) return false;
  std::size_t begin = 0;
  for (std::size_t at = 0; at < names.size(); ++at) {
    const std::string_view name = names[at];
    if (ends[at] - begin != name.size() ||
        !std::equal(name.begin(), name.end(), kept.data() + begin)) {
      return false;
    }
    begin = ends[at];
  }
  return true;
}

// Marks each of `indexed` whose file, as it was read, is one of `files` (below).
void MarkLocked(const IndexedArticles& indexed, const std::set<platform::LockedFile>& files,
                std::vector<std::tuple<uint32_t, uint32_t, uint64_t, std::size_t>>& by_inode,
                std::vector<char>& marks);

}  // namespace

void ArticleIndex::FollowWatch(std::span<const std::string_view> names) {
  Kept& kept = *kept_;
  platform::FolderWatch::Changes changes;
  if (kept.watch) changes = kept.watch->Take();
  // A folder of watched articles moved, removed, replaced or made a link, as its parent's
  // watch sees it (its own says so too, but for a link): what its path now leads to was
  // never checked.
  const bool folder_changed =
      std::any_of(changes.names.begin(), changes.names.end(),
                  [&](const std::string& name) { return kept.folders.contains(name + "/"); });
  if (!kept.watch || changes.everything || folder_changed) {
    // The watches come before the check, so that no change after it goes unseen.
    kept.watch = platform::FolderWatch::OpenEmpty();
    kept.folders.clear();
    kept.listed.clear();
    kept.listed_ends.clear();
    std::fill(kept.proven.begin(), kept.proven.end(), 0);
  } else {
    // A name made for a proven article (a hard link, in a watched folder) changes its link
    // count, which the kernel tells a watch on the file alone, not its folder's: the article
    // is proven no more, whatever is written through its other name later.
    std::set<platform::LockedFile> named;
    std::unique_ptr<platform::StatusFolder> folder;
    for (const std::string& name : changes.names) {
      if (const std::size_t place = PlaceOf(kept.indexed, name); place != kNotIndexed) {
        kept.proven[place] = 0;
      }
      if (!folder) folder = platform::StatusFolder::Open(settings_.knowledge_base.ArticleFolder());
      platform::ExactStatus status;
      if (folder && folder->StatusOf(name, status) && status.regular) {
        named.emplace(status.device_major, status.device_minor, status.inode);
      }
    }
    if (!named.empty()) {
      std::vector<char> marks(kept.indexed.size());
      MarkLocked(kept.indexed, named, kept.by_inode, marks);
      for (std::size_t place = 0; place < marks.size(); ++place) {
        if (marks[place]) kept.proven[place] = 0;
      }
    }
  }
  if (SameNames(names, kept.listed, kept.listed_ends)) return;
  kept.listed.clear();
  kept.listed_ends.clear();
  kept.listed_ends.reserve(names.size());
  for (const std::string_view name : names) {
    kept.listed.append(name);
    kept.listed_ends.push_back(kept.listed.size());
  }
  kept.places_known = false;
  // Listings give a folder's articles together: one lookup for each run of them.
  kept.watched.assign(names.size(), 0);
  std::optional<std::string_view> folder;
  bool watched = false;
  for (std::size_t at = 0; at < names.size(); ++at) {
    if (const std::string_view now = FolderOf(names[at]); now != folder) {
      folder = now;
      watched = WatchFolder(now);
    }
    kept.watched[at] = watched;
  }
}

bool ArticleIndex::WatchFolder(std::string_view folder) {
  Kept& kept = *kept_;
  if (const auto found = kept.folders.find(folder); found != kept.folders.end()) {
    return found->second;
  }
  bool watched = false;
  if (kept.watch && kept.folders.size() < kMostWatchedFolders) {
    if (folder.empty()) {
      watched = kept.watch->Add(settings_.knowledge_base.ArticleFolder(), "");
    } else {
      // Its parent is watched first, and it is then checked to be no link: a change of what
      // its path leads to shows in the parent's watch.
      const std::size_t slash = folder.rfind('/', folder.size() - 2);
      const std::string_view parent =
          slash == std::string_view::npos ? std::string_view() : folder.substr(0, slash + 1);
      const std::string path = WalkedFolderPath(folder);
      platform::FileStatus own;
      watched = WatchFolder(parent) &&
                platform::Env::Default().PathStatus(path, /*follow_links=*/false, own) ==
                    platform::system_error::kNone &&
                own.type == platform::FileType::kDirectory && kept.watch->Add(path, folder);
    }
  }
  kept.folders.emplace(folder, watched);
  return watched;
}

bool ArticleIndex::OpenKept(const StoreFile& store_file, const StoreIdentity& identity) {
  Kept& kept = *kept_;
  if (kept.store && !kept.store->Unchanged()) kept.store.reset();
  if (kept.store) return true;
  kept.places_known = false;
  kept.indexed.clear();
  kept.by_inode.clear();
  kept.by_row.clear();
  kept.proven.clear();
  kept.store = IndexStore::Open(store_file, identity, settings_.cache_limit);
  if (!kept.store) return false;
  const bool loaded = kept.store->BeginRead() && kept.store->LoadArticles(kept.indexed);
  kept.store->EndRead();
  kept.proven.assign(kept.indexed.size(), 0);
  kept.latest_read_ns = 0;
  kept.by_row.reserve(kept.indexed.size());
  for (std::size_t place = 0; place < kept.indexed.size(); ++place) {
    const IndexedArticle& article = kept.indexed[place].second;
    kept.latest_read_ns = std::max(kept.latest_read_ns, article.read_at_ns);
    kept.by_row.emplace_back(article.row, place);
  }
  std::sort(kept.by_row.begin(), kept.by_row.end());
  if (!loaded) kept.store.reset();
  return loaded;
}

std::vector<std::size_t> ArticleIndex::ArticlesToCheck(std::span<const std::string_view> names) {
  Kept& kept = *kept_;
  std::vector<std::size_t> to_check;
  if (settings_.watch) FollowWatch(names);
  // A store written since (by a refresh) is loaded again, and none of its articles is proven
  // then: every status is taken, on every thread, while it loads.
  if (!settings_.watch || !kept.store || !kept.store->Unchanged()) {
    to_check.resize(names.size());
    std::iota(to_check.begin(), to_check.end(), std::size_t{0});
    return to_check;
  }
  PlaceNames(names);
  for (std::size_t at = 0; at < names.size(); ++at) {
    const std::size_t held = kept.places[at];
    if (held == kNotIndexed || !kept.proven[held]) to_check.push_back(at);
  }
  return to_check;
}

void ArticleIndex::PlaceNames(std::span<const std::string_view> names) {
  Kept& kept = *kept_;
  if (kept.places_known) return;
  kept.places = PlacesOf(kept.indexed, names);
  kept.places_known = true;
}

std::string_view ArticleIndex::LookUp(const StoreFile& store_file, const StoreIdentity& identity,
                                      const PhraseGrams& sought, int64_t clock,
                                      std::vector<int64_t>& rows,
                                      std::vector<std::vector<int64_t>>& stretch_rows) {
  Kept& kept = *kept_;
  if (!OpenKept(store_file, identity)) return kNoneYet;
  if (clock < kept.store->built_at_ns()) return kClock;
  // The articles holding each group's grams (but the commonest) in one stretch, then those that
  // hold them all: a few more than hold every gram, which the search reads and rules out.
  bool read = kept.store->BeginRead();
  for (std::size_t group = 0; read && group < sought.groups.size(); ++group) {
    std::vector<int64_t> stretches;
    read = kept.store->RowsHolding(sought.view,
                                   kept.store->GramsToLookUp(sought.view, sought.groups[group],
                                                             kMostHeldLookedUp, kMostGramsLookedUp),
                                   stretches);
    std::vector<int64_t> holding = ArticleRowsOf(kept.indexed, kept.by_row, stretches);
    stretch_rows.push_back(std::move(stretches));
    if (group > 0) {
      std::vector<int64_t> all;
      std::set_intersection(rows.begin(), rows.end(), holding.begin(), holding.end(),
                            std::back_inserter(all));
      holding = std::move(all);
    }
    rows = std::move(holding);
  }
  kept.store->EndRead();
  if (!read) {
    kept.store.reset();
    return kNoneYet;
  }
  NoteUse(store_file);
  return {};
}

namespace {

// For each of `indexed`: whether its row holds the phrase's grams, and whether a lock is held
// on the file it was.
constexpr char kHoldsGrams = 1;
constexpr char kLocked = 2;

// Marks with kHoldsGrams each article whose first row is one of `rows`; `by_row` holds the
// articles' (first row, place), sorted.
// The bytes of the stretches of `article` that `stretch_rows` (ascending) name, those that
// overlap or touch made one.
std::vector<ByteRange> RangesOfStretches(const IndexedArticle& article,
                                         const std::vector<int64_t>& stretch_rows) {
  std::vector<ByteRange> ranges;
  for (auto row = std::lower_bound(stretch_rows.begin(), stretch_rows.end(), article.row);
       row != stretch_rows.end() && *row < article.row + article.stretches; ++row) {
    const ByteRange bytes = BytesOfStretch(static_cast<std::size_t>(*row - article.row));
    if (!ranges.empty() && bytes.start <= ranges.back().end) {
      ranges.back().end = std::max(ranges.back().end, bytes.end);
    } else {
      ranges.push_back(bytes);
    }
  }
  return ranges;
}

void MarkRows(const std::vector<int64_t>& rows,
              const std::vector<std::pair<int64_t, std::size_t>>& by_row,
              std::vector<char>& marks) {
  for (const int64_t row : rows) {
    for (auto found =
             std::lower_bound(by_row.begin(), by_row.end(), std::pair{row, std::size_t{0}});
         found != by_row.end() && found->first == row; ++found) {
      marks[found->second] |= kHoldsGrams;
    }
  }
}

// Marks with kLocked each of `indexed` whose file, as it was read, is one of `locked`;
// `by_inode` is made when empty.
void MarkLocked(const IndexedArticles& indexed, const std::set<platform::LockedFile>& locked,
                std::vector<std::tuple<uint32_t, uint32_t, uint64_t, std::size_t>>& by_inode,
                std::vector<char>& marks) {
  if (locked.empty()) return;
  if (by_inode.empty()) {
    by_inode.reserve(indexed.size());
    for (std::size_t place = 0; place < indexed.size(); ++place) {
      const platform::ExactStatus& status = indexed[place].second.status;
      by_inode.emplace_back(status.device_major, status.device_minor, status.inode, place);
    }
    std::sort(by_inode.begin(), by_inode.end());
  }
  for (const auto& [major, minor, inode] : locked) {
    for (auto found = std::lower_bound(by_inode.begin(), by_inode.end(),
                                       std::tuple{major, minor, inode, std::size_t{0}});
         found != by_inode.end() && std::get<0>(*found) == major && std::get<1>(*found) == minor &&
         std::get<2>(*found) == inode;
         ++found) {
      marks[std::get<3>(*found)] |= kLocked;
    }
  }
}

}  // namespace

void ArticleIndex::Decide(std::span<const std::string_view> names, const StatusPass& statuses,
                          const std::vector<int64_t>& rows, const PhraseGrams& sought,
                          const std::vector<std::vector<int64_t>>& stretch_rows, int64_t clock,
                          const std::set<platform::LockedFile>& locked,
                          const platform::ExactStatus& zeb, std::vector<char>& must_read,
                          PlacesToLook& places_to_look, IndexUse& use) {
  Kept& kept = *kept_;
  const std::vector<std::size_t>& places = kept.places;
  use.articles_read = 0;
  // Whether the index may vouch for articles on each device other than ZEB's.
  std::map<std::pair<uint32_t, uint32_t>, bool> trusted_devices;
  const auto trusted = [&](std::size_t at, const platform::ExactStatus& status) {
    const std::pair device{status.device_major, status.device_minor};
    if (device == std::pair{zeb.device_major, zeb.device_minor}) return true;
    const auto [found, added] = trusted_devices.try_emplace(device, false);
    if (added) {
      const platform::FileSystemOf system = statuses.folder().FileSystemOfEntry(names[at]);
      found->second = system.known && !system.remote && !system.image;
    }
    return found->second;
  };
  // The proven articles, most often all, are decided from these alone: a few rows hold the
  // phrase, a few files are locked, and none was read after the clock's present.
  std::vector<char> marks(kept.indexed.size());
  MarkRows(rows, kept.by_row, marks);
  if (settings_.watch) MarkLocked(kept.indexed, locked, kept.by_inode, marks);
  const bool read_later = kept.latest_read_ns > clock;
  for (std::size_t at = 0; at < names.size(); ++at) {
    const std::size_t held = places[at];
    bool doubtful = held == kNotIndexed;
    bool locked_only = false;  // doubted for a lock alone
    if (!doubtful && kept.proven[held]) {
      doubtful = read_later && kept.indexed[held].second.read_at_ns > clock;
      locked_only = !doubtful && (marks[held] & kLocked) != 0;
    } else if (!doubtful) {
      const StatusPass::Status now = statuses[at];
      doubtful = !now.known || Doubtful(kept.indexed[held].second, now.status, clock) ||
                 !trusted(at, now.status);
      locked_only = !doubtful && Locked(now.status, locked);
      if (!doubtful && !locked_only && settings_.watch && kept.watched[at] && now.alone) {
        kept.proven[held] = 1;
      }
    }
    must_read[at] = doubtful || locked_only || (marks[held] & kHoldsGrams) != 0;
    if (must_read[at] && !doubtful && !locked_only && !stretch_rows.empty()) {
      const IndexedArticle& article = kept.indexed[held].second;
      ArticlePlaces places{.inode = article.status.inode, .size = article.status.size, .terms = {}};
      for (std::size_t group = 0; group < stretch_rows.size(); ++group) {
        places.terms.push_back({.term = sought.terms[group],
                                .ranges = RangesOfStretches(article, stretch_rows[group])});
      }
      places_to_look.Add(at, std::move(places));
    }
    use.articles_read += must_read[at];
    use.articles_doubted += doubtful || locked_only;
    use.articles_locked += locked_only;
  }
  use.state = "used";
}

void ArticleIndex::Prepare(const Query& query, const MatchSettings& settings) {
  if (!settings_.enabled || recent_locks_ || !GramsOfQuery(query, settings).refusal.empty()) {
    return;
  }
  // Where no thread can be made, the locks are read when they are taken.
  prepared_locks_ = std::async(std::launch::async | std::launch::deferred, platform::LockedFiles);
}

void ArticleIndex::AwaitRecentLocks() const {
  if (recent_locks_) recent_locks_->Read();
}

void ArticleIndex::ChooseArticles(std::span<const std::string_view> names, const Query& query,
                                  const MatchSettings& settings, std::size_t threads,
                                  std::vector<char>& must_read, PlacesToLook& places) {
  IndexUse use{
      .state = "not used", .reason = {}, .articles_read = static_cast<int32_t>(names.size())};
  const auto finish = [&](std::string_view reason) {
    use.reason = reason;
    const std::lock_guard lock(use_mutex_);
    use_ = use;
    search_use_ = use;
  };
  if (!settings_.enabled) return finish(kOff);
  if (settings.article != settings_.article) return finish(kOtherPart);
  const Place place = FindPlace(false, settings_);
  if (!place.refusal.empty()) return finish(place.refusal);
  const PhraseGrams sought = GramsOfQuery(query, settings);
  if (!sought.refusal.empty()) return finish(sought.refusal);
  if (!place.store.folder->HoldsPrivateFile(place.store.name)) return finish(kNoneYet);
  const int64_t clock = platform::RealTimeNs();

  if (!settings_.watch || !kept_ || kept_->store_path != place.store_path) {
    kept_ = std::make_unique<Kept>();
    kept_->store_path = place.store_path;
  }
  // Every article is checked, but those a kept index proved since; the check runs while the
  // index is opened and looked in.
  StatusPass statuses(settings_.knowledge_base.ArticleFolder(), names, ArticlesToCheck(names),
                      settings_.watch, threads);
  std::vector<int64_t> rows;
  std::vector<std::vector<int64_t>> stretch_rows;
  const std::string_view refusal =
      LookUp(place.store, place.identity, sought, clock, rows, stretch_rows);
  // Bytes of the stream are bytes of the file when the stream is the whole page's bytes.
  if (sought.view != GramView::kBytes || !settings.article.has_default_marker()) {
    stretch_rows.clear();
  }
  // A phrase in most articles spares few reads, fewer than the check costs: every article is
  // read, as the full scan reads them.
  const bool most =
      refusal.empty() && rows.size() * kMostDenominator > kept_->indexed.size() * kMostNumerator;
  if (!refusal.empty() || most) statuses.Abandon();
  if (most) {
    statuses.Finish();
    use.state = "used";
    return finish({});
  }
  std::shared_ptr<const std::set<platform::LockedFile>> locked;
  if (refusal.empty() && recent_locks_) {
    locked = recent_locks_->Read();
  } else if (refusal.empty()) {
    locked = std::make_shared<const std::set<platform::LockedFile>>(
        prepared_locks_.valid() ? prepared_locks_.get() : platform::LockedFiles());
  }
  if (refusal.empty()) PlaceNames(names);
  if (!statuses.Finish() || !refusal.empty()) return finish(refusal.empty() ? kNoneYet : refusal);
  Decide(names, statuses, rows, sought, stretch_rows, clock, *locked,
         place.identity.articles_folder, must_read, places, use);
  finish({});
}

namespace {

// How long a use of an index leaves it the most recently used one: a search marks the index
// again only after this long, so that repeated searches write nothing.
constexpr int64_t kUseSpanNs = int64_t{3600} * 1'000'000'000;

std::string RefusalProblem(std::string_view refusal, const KnowledgeBase& base) {
  if (refusal == kNoneYet) {
    return base.ListsArticleFolder() ? "no ZEB folder to index" : "cannot read the folder .";
  }
  if (refusal == kRemote) return "the knowledge base is on a network file system";
  if (refusal == kImage) {
    return "the knowledge base is on a file system read from an image, whose times do not "
           "show a change";
  }
  if (refusal == kCacheNotPrivate) {
    const std::string cache = CacheFolder();
    if (cache.empty()) return "there is no cache folder: neither XDG_CACHE_HOME nor HOME is set";
    return "the cache folder is not private (it must be yours, and no one else may write in it): " +
           cache;
  }
  return "the cache folder cannot be written: " + CacheFolder();
}

// The store to write, while the caller holds the lock on its builds: the one there when it
// proves itself and is worth keeping (not too full of tombstones, not from before a backwards
// clock), else a new one.
std::unique_ptr<IndexStore> StoreToWrite(const Place& place, uint64_t most_bytes) {
  std::unique_ptr<IndexStore> store = IndexStore::Open(place.store, place.identity, most_bytes);
  if (store &&
      (store->tombstones() * 5 > store->rows() || store->built_at_ns() > platform::RealTimeNs())) {
    store.reset();
  }
  return store ? std::move(store)
               : IndexStore::Create(place.store, place.identity, /*builds_locked=*/true);
}

// The names of the articles, as a search lists them; false when they cannot be listed. What a
// tree's listing could not take in is left out, as it is from the search.
bool ListArticleNames(const KnowledgeBase& base, std::vector<std::string>& names) {
  if (!base.ListsArticleFolder()) {
    ListedPaths paths;
    std::vector<TreeProblem> problems;
    if (!ListTree(paths,
                  {.articles = base.articles,
                   .exclude = base.exclude,
                   .most_depth = base.most_depth,
                   .most_articles = base.most_articles},
                  problems)) {
      return false;
    }
    names.reserve(paths.size());
    for (std::size_t at = 0; at < paths.size(); ++at) names.emplace_back(paths.name(at));
    return true;
  }
  Queue<FileRecord> listing;
  if (!ListDirectory(listing, kArticlePattern, 0, ListingDetail::kNames)) return false;
  names.reserve(static_cast<std::size_t>(listing.Count()));
  for (int32_t entry = 1; entry <= listing.Count(); ++entry) {
    listing.Get(entry);
    names.emplace_back(listing.record().name.clipped());
  }
  return true;
}

// The listed articles a search would doubt, but for a lock: those to read again. A lock says
// nothing of what the article holds (a search reads a locked article for the failure the
// lock may bring it), and reading it again would give what the index holds.
std::vector<std::string> ArticlesToRead(const std::vector<std::string>& names,
                                        const IndexedArticles& indexed,
                                        const platform::StatusFolder& folder) {
  const int64_t clock = platform::RealTimeNs();
  std::vector<std::string> stale;
  for (const std::string& name : names) {
    const std::size_t place = PlaceOf(indexed, name);
    platform::ExactStatus now;
    if (place == kNotIndexed || !folder.StatusOf(name, now) ||
        Doubtful(indexed[place].second, now, clock)) {
      stale.push_back(name);
    }
  }
  return stale;
}

// Reads `stale` whole, on up to `threads` threads, and writes what it read into `store`,
// which is being written, telling `progress` of each. An article that still cannot be read as
// it could not before is left as it is. False when a write failed or `stop` came first.
// A tree's articles are opened beneath the knowledge base, as a search opens them.
bool WriteArticles(IndexStore& store, const std::vector<std::string>& stale,
                   const KnowledgeBase& base, const ArticlePart& part,
                   const IndexedArticles& indexed, const platform::StatusFolder& folder,
                   std::size_t threads, std::stop_token stop, const RefreshProgress& progress) {
  std::optional<platform::BeneathEnv> beneath_root;
  platform::Env& env = base.ListsArticleFolder() ? platform::Env::Default()
                                                 : beneath_root.emplace(platform::Env::Default());
  const auto total = static_cast<int32_t>(stale.size());
  if (progress) progress(0, total);
  bool written = true;
  const bool finished = RunInOrder<std::unique_ptr<ReadArticle>>(
      stale.size(), {.threads = threads, .window = kRefreshBatch}, stop,
      [&] {
        return [&](std::size_t at) {
          auto article = std::make_unique<ReadArticle>(part);
          article->name = stale[at];
          ReadWhole(env, base.ArticlePathPrefix(), folder, *article);
          return article;
        };
      },
      [&](std::size_t at, std::unique_ptr<ReadArticle>& article) {
        const std::size_t before = PlaceOf(indexed, article->name);
        const bool unchanged = before != kNotIndexed && !indexed[before].second.whole &&
                               !article->indexed.whole &&
                               indexed[before].second.status == article->indexed.status;
        if (!unchanged) {
          written = written && store.PutArticle(article->name, article->indexed, article->grams);
        }
        if (progress) progress(static_cast<int32_t>(at + 1), total);
      });
  return finished && written;
}

// The size of the store `store` with the files beside it.
uint64_t StoreBytes(const StoreFile& store) {
  uint64_t bytes = 0;
  for (const std::string& file :
       {store.name, store.name + "-wal", IndexStore::SealName(store.name)}) {
    platform::ExactStatus status;
    if (store.folder->StatusOf(file, status)) bytes += status.size;
  }
  return bytes;
}

}  // namespace

bool ArticleIndex::Failed(std::string_view reason) {
  const std::lock_guard lock(use_mutex_);
  use_ = {.state = "not used", .reason = reason};
  return false;
}

void ArticleIndex::NoteUse(const StoreFile& store_file) {
  const std::string seal = IndexStore::SealName(store_file.name);
  platform::ExactStatus status;
  if (store_file.folder->StatusOf(seal, status) &&
      status.mtime_ns + kUseSpanNs < platform::RealTimeNs()) {
    store_file.folder->Touch(seal);
  }
}

bool ArticleIndex::Refresh(std::size_t threads, std::string& problem, std::stop_token stop,
                           const RefreshProgress& progress) {
  if (!settings_.enabled) {
    problem = "the index is off in the settings (Index = off)";
    return Failed(kOff);
  }
  const KnowledgeBase& base = settings_.knowledge_base;
  const Place place = FindPlace(true, settings_);
  if (!place.refusal.empty()) {
    problem = RefusalProblem(place.refusal, base);
    return Failed(place.refusal);
  }
  // Held until the store is closed: declared first, it goes last.
  bool busy = false;
  const std::unique_ptr<platform::File> build_lock = IndexStore::LockBuilds(place.store, busy);
  if (busy) {
    problem = Concat({ProgramText(text::kIndexBuildRunning), place.store_path});
    return Failed(kBuildRunning);
  }
  // A build that was stopped for good (killed) left its new store behind.
  if (build_lock) IndexStore::RemoveLeftovers(place.store);
  std::unique_ptr<IndexStore> store =
      build_lock ? StoreToWrite(place, settings_.cache_limit) : nullptr;
  if (!store) {
    problem = "cannot write the index " + place.store_path;
    return Failed(kCacheNotWritable);
  }
  std::vector<std::string> names;
  if (!ListArticleNames(base, names)) {
    problem = base.ListsArticleFolder() ? "cannot read the folder ZEB" : "cannot read the folder .";
    return Failed(kNoneYet);
  }
  const std::unique_ptr<platform::StatusFolder> folder =
      platform::StatusFolder::Open(base.ArticleFolder());
  IndexedArticles indexed;
  const bool loaded = folder && store->BeginRead() && store->LoadArticles(indexed);
  store->EndRead();
  if (!loaded || !store->BeginWrite()) {
    problem = "cannot read the index " + place.store_path;
    return Failed(kCacheNotWritable);
  }
  const std::vector<std::string> stale = ArticlesToRead(names, indexed, *folder);
  bool written = WriteArticles(*store, stale, base, settings_.article, indexed, *folder, threads,
                               stop, progress);
  if (stop.stop_requested()) {
    problem = "stopped";
    return Failed({});
  }
  std::sort(names.begin(), names.end());
  bool forgot = false;
  for (const auto& [name, article] : indexed) {
    if (written && !std::binary_search(names.begin(), names.end(), name)) {
      written = store->ForgetArticle(name);
      forgot = true;
    }
  }
  // An index that needs nothing is left as it was, unwritten: a store written again loses what
  // the searches that keep it open proved by the watch.
  const bool untouched = stale.empty() && !forgot && !store->building();
  if (!untouched && (!written || !store->Commit() || !store->Seal())) {
    problem = "cannot write the index " + place.store_path;
    return Failed(kCacheNotWritable);
  }
  store.reset();
  Evict(*place.store.folder, place.store.name, settings_.cache_limit);
  const std::lock_guard lock(use_mutex_);
  use_ = {.state = "built",
          .reason = {},
          .articles_listed = static_cast<int32_t>(names.size()),
          .articles_read = static_cast<int32_t>(stale.size()),
          .index_bytes = StoreBytes(place.store)};
  return true;
}

void BackgroundRefresh::AfterSearch() {
  const IndexUse use = index_.last_search_use();
  // Articles doubted for a lock alone are left as they are by a refresh.
  const bool called_for =
      use.reason == kNoneYet || (use.state == "used" && use.articles_doubted > use.articles_locked);
  if (called_for) Start();
}

void BackgroundRefresh::Start() {
  if (running_.exchange(true)) return;
  if (refresh_.joinable()) refresh_.join();
  refresh_ = std::jthread([this](std::stop_token stop) {
    platform::LowerThreadPriority();
    std::string ignored;
    index_.Refresh(threads_, ignored, stop);
    running_ = false;
  });
}

}  // namespace kb::index
