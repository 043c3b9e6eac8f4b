#pragma once

// The file that holds one knowledge base's article index: an SQLite database (WAL, opened
// defensively, no extensions) with
//   - a header that says which folder, file system, user and format it was made for, and which
//     files of the folder are the articles, and which part of them;
//   - the list of indexed articles, in one value read by one statement: each one's name, its
//     status when it was read, when it was read, whether it was read whole and unchanged, and
//     the number of its gram rows;
//   - two contentless FTS5 tables of the articles' grams (app/index/grams.h), bytes and text,
//     whose tokenizer turns each gram into one token;
//   - for each of the two, the estimated number of rows that hold each gram (GramCounts),
//     counted as rows are added: rows that became tombstones still count, until the store is
//     built again.
// Gram rows are never deleted (contentless tables cannot delete a row without its text): an
// article read again gets new rows, and the old ones are left as tombstones that no article
// points to. A store is used by one thread at a time.
//
// A new store is made in a file of its own beside the old one, without a journal, and takes
// the old one's place, whole, when it is sealed: until then searches use the old one, and a
// build that is stopped or fails leaves it as it was.
//
// The store is trusted only as far as it proves itself: a file that is not the user's own
// with mode 0600, larger than the limit it is opened with, whose header differs from what is
// expected, whose seal (a file beside it that the writer updates after each change, read no
// further than the little its format holds) does not describe it, or that fails to read is
// not used; it is replaced when the index is next written.
//
// Its files lie in a private folder (platform/private_folder.h) and are named through it: the
// store, its logs ("-wal", "-shm", "-journal"), its seal, the lock of its builds and a new
// store being made. Before any of them is opened, whatever lies under one of those names and
// is not a private file of the user's (a link, a FIFO, a folder, a file of another mode) is
// removed; SQLite opens them by a path through the folder held open, never by a path that
// another user could redirect.

#include <sqlite3.h>

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/base/knowledge_base.h"
#include "app/index/gram_counts.h"
#include "app/index/grams.h"
#include "app/match/match_settings.h"
#include "platform/file_identity.h"
#include "platform/file_system.h"
#include "platform/private_folder.h"

namespace kb::index {

// What a store must have been made for.
struct StoreIdentity {
  std::string folder;  // the knowledge base's canonical path
  // The folder the articles are listed from: ZEB, or the knowledge base's own for a tree. Its
  // device and inode count.
  platform::ExactStatus articles_folder;
  uint64_t file_system = 0;
  uint32_t user = 0;
  std::vector<uint32_t> groups;
  // Which part of each page is the article: its grams are those of that part. A store
  // without them was made for the default.
  std::string marker = std::string(kArticleMarker);
  std::string ignore = {};  // the ignored elements, with ", " between
  // Which files are the articles: the pattern and the excluded ones, with "\n" between. A
  // store without them was made for the folder ZEB, and holds only its names.
  std::string articles = std::string(kArticlePattern);
  std::string exclude = {};
};

// Where a store lies: its name in the private cache folder.
struct StoreFile {
  std::shared_ptr<const platform::PrivateFolder> folder;
  std::string name;
};

// One indexed article, by its name in ZEB, or its path from the knowledge base for a tree.
struct IndexedArticle {
  int64_t row = 0;               // of its grams' first stretch (ArticleGrams::stretches)
  int64_t stretches = 1;         // the rows of its grams, from `row` on: one for each stretch
  platform::ExactStatus status;  // when it was read
  int64_t read_at_ns = 0;
  // Read whole, with the same status before and after: its grams are its bytes'.
  bool whole = false;
};

// The indexed articles, sorted by name, byte by byte.
using IndexedArticles = std::vector<std::pair<std::string, IndexedArticle>>;

inline constexpr std::size_t kNotIndexed = static_cast<std::size_t>(-1);
// Where `articles` holds the article named `name`, or kNotIndexed.
std::size_t PlaceOf(const IndexedArticles& articles, std::string_view name);
// For each of `names` (in any order), where `articles` holds it, or kNotIndexed: one sort of
// the names and one pass over both, which keeps a search clear of a lookup per article.
std::vector<std::size_t> PlacesOf(const IndexedArticles& articles,
                                  std::span<const std::string_view> names);

class IndexStore {
 public:
  ~IndexStore();
  IndexStore(const IndexStore&) = delete;
  IndexStore& operator=(const IndexStore&) = delete;

  // The store `file` when it proves itself made for `identity` and holds at most
  // `most_bytes`; nothing otherwise.
  static std::unique_ptr<IndexStore> Open(const StoreFile& file, const StoreIdentity& identity,
                                          uint64_t most_bytes);
  // A new, empty store for `identity`, which replaces whatever `file` holds when it is sealed
  // (and is removed if it never is); nothing when it cannot be made, or while another is
  // being made for `file`. It takes the lock of LockBuilds, unless `builds_locked` says that
  // the caller holds it for as long as the store lives.
  static std::unique_ptr<IndexStore> Create(const StoreFile& file, const StoreIdentity& identity,
                                            bool builds_locked = false);
  // The lock that lets one build of the store `file` (a new store, or writes to the one
  // there) run at a time, taken without waiting: held until the file given is closed.
  // Nothing when it cannot be taken, with `busy` set when another build holds it.
  static std::unique_ptr<platform::File> LockBuilds(const StoreFile& file, bool& busy);
  // Removes what a build that never finished left: a new store that was never sealed. Only
  // for the holder of the lock of LockBuilds.
  static void RemoveLeftovers(const StoreFile& file);

  // The names of a store's seal, of the lock its builds hold, and of every file the store
  // named `name` has in its folder, its own name first.
  static std::string SealName(std::string_view name) { return std::string(name) + ".seal"; }
  static std::string LockName(std::string_view name) { return std::string(name) + ".lock"; }
  static std::vector<std::string> FileNames(std::string_view name);

  // When the store was first built, nanoseconds since the epoch.
  int64_t built_at_ns() const { return built_at_ns_; }

  // Reading: a consistent snapshot between BeginRead and EndRead. False on any failure.
  bool BeginRead();
  void EndRead();
  bool LoadArticles(IndexedArticles& articles);
  // The rows of the stretches (ArticleGrams::stretches; of articles live or not) whose `view`
  // holds every gram of `grams`, in ascending order.
  bool RowsHolding(GramView view, const std::vector<uint32_t>& grams, std::vector<int64_t>& rows);

  // Of `grams`, those to look up in `view`: the `most` rarest of those that at most the share
  // `most_held` of the rows holds, by the store's counts (GramCounts::HeldByAtMost); all of them
  // when the counts cannot be read. Only between BeginRead and EndRead.
  std::vector<uint32_t> GramsToLookUp(GramView view, const std::vector<uint32_t>& grams,
                                      double most_held, std::size_t most);
  // Writing, in one transaction. False on any failure (the transaction is then undone).
  bool BeginWrite();
  bool Commit();
  // Sets the article `name` to `article`, with the grams `grams` as new rows (article.row is
  // assigned); its former rows become tombstones.
  bool PutArticle(std::string_view name, IndexedArticle& article, const ArticleGrams& grams);
  bool ForgetArticle(std::string_view name);
  // Whether it is a new store, made by Create, which Seal puts in its place.
  bool building() const { return !building_.empty(); }
  // Gram rows made, and those no article points to any more.
  int64_t rows() const { return next_row_ - 1; }
  int64_t tombstones() const { return tombstones_; }
  // After a commit: puts a new store in its place, folds the log into the file and seals it
  // as it now is.
  bool Seal();
  // True while the file this store reads is the one it opened, as the writer last sealed it:
  // false once the store was written again, replaced or tampered with.
  bool Unchanged() const;

 private:
  IndexStore(sqlite3* db, StoreFile file) : db_(db), file_(std::move(file)) {}
  enum class Journal { kKept, kWriteAhead, kNone };
  static sqlite3* Connect(const StoreFile& file, std::string_view name, Journal journal);
  // Clears the names of the store's files of anything but private files; false when one
  // cannot be cleared.
  static bool ClearStrangers(const StoreFile& file);
  bool Execute(const char* sql);
  bool ReadHeader(const StoreIdentity& identity);
  bool WriteHeader(const StoreIdentity& identity);
  bool SealHolds();
  bool SaveCounters();
  bool SaveArticles();
  // Reads the gram counts once (a store keeps them from then on); false on a failure, which
  // leaves none. A view whose counts do not read has none.
  bool ReadCounts();
  // Where the members kept for bytes and text (two of each) hold `view`'s.
  static std::size_t ViewIndex(GramView view) { return view == GramView::kBytes ? 0 : 1; }
  bool SaveCounts();
  bool TakePlace();

  sqlite3* db_;
  StoreFile file_;
  // While a new store is made: the file it is made in, which takes file_'s place when sealed.
  std::string building_;
  std::unique_ptr<platform::File> building_lock_;  // held while building_ is made
  // During a write: every article, as the transaction leaves them.
  std::map<std::string, IndexedArticle, std::less<>> writing_;
  // The statements that add gram rows, bytes and text, made at the first write.
  sqlite3_stmt* inserts_[2] = {nullptr, nullptr};
  void FinishStatements();
  std::string seal_;  // as it was when the store was opened or last sealed
  int64_t built_at_ns_ = 0;
  // The gram counts of bytes and text, once read; a store made by Create starts them empty.
  bool counts_read_ = false;
  std::optional<GramCounts> counts_[2];
  int64_t next_row_ = 1;
  int64_t tombstones_ = 0;
};

}  // namespace kb::index
