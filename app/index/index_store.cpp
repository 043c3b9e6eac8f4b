#include "app/index/index_store.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <cstring>
#include <string>
#include <unordered_map>

namespace kb::index {
namespace {

// Changes whenever what the store holds, or how, changes: an older store is rebuilt.
constexpr int64_t kFormat = 4;

// The tokenizer of the gram tables. A document is the article's grams, four bytes each (the
// first byte highest); a query names each gram as a bareword of eight hexadecimal digits.
// Either way each gram becomes one token: its 32 bits in five bytes of seven bits each, the
// high bit set, since a token holding a zero byte is not found again.
int CreateTokenizer(void* shared, const char**, int, Fts5Tokenizer** tokenizer) {
  *tokenizer = static_cast<Fts5Tokenizer*>(shared);
  return SQLITE_OK;
}

void DeleteTokenizer(Fts5Tokenizer*) {}

int HexDigit(char digit) {
  if (digit >= '0' && digit <= '9') return digit - '0';
  if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
  return -1;
}

constexpr int kTokenLength = 5;

void GramToken(uint32_t gram, char (&token)[kTokenLength]) {
  for (int at = kTokenLength - 1; at >= 0; --at) {
    token[at] = static_cast<char>(0x80 | (gram & 0x7F));
    gram >>= 7;
  }
}

int Tokenize(Fts5Tokenizer*, void* context, int flags, const char* text, int length,
             int (*emit)(void*, int, const char*, int, int, int)) {
  char token[kTokenLength];
  if ((flags & FTS5_TOKENIZE_DOCUMENT) != 0) {
    for (int at = 0; at + 4 <= length; at += 4) {
      uint32_t gram = 0;
      for (int byte = 0; byte < 4; ++byte) {
        gram = (gram << 8) | static_cast<unsigned char>(text[at + byte]);
      }
      GramToken(gram, token);
      if (const int result = emit(context, 0, token, kTokenLength, at, at + 4);
          result != SQLITE_OK) {
        return result;
      }
    }
    return SQLITE_OK;
  }
  if (length != 8) return SQLITE_ERROR;
  uint32_t gram = 0;
  for (int at = 0; at < 8; ++at) {
    const int digit = HexDigit(text[at]);
    if (digit < 0) return SQLITE_ERROR;
    gram = (gram << 4) | static_cast<uint32_t>(digit);
  }
  GramToken(gram, token);
  return emit(context, 0, token, kTokenLength, 0, length);
}

char kTokenizerName[] = "kbsearch_grams";
// The tokenizer keeps no state; any pointer that is not null will do for its instances.
char tokenizer_instance;
fts5_tokenizer tokenizer_methods{CreateTokenizer, DeleteTokenizer, Tokenize};

bool RegisterTokenizer(sqlite3* db) {
  fts5_api* api = nullptr;
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &statement, nullptr) != SQLITE_OK) {
    return false;
  }
  sqlite3_bind_pointer(statement, 1, &api, "fts5_api_ptr", nullptr);
  sqlite3_step(statement);
  sqlite3_finalize(statement);
  return api != nullptr && api->xCreateTokenizer(api, kTokenizerName, &tokenizer_instance,
                                                 &tokenizer_methods, nullptr) == SQLITE_OK;
}

// A prepared statement, finalized when it goes.
class Statement {
 public:
  Statement(sqlite3* db, const char* sql) {
    if (sqlite3_prepare_v2(db, sql, -1, &statement_, nullptr) != SQLITE_OK) statement_ = nullptr;
  }
  ~Statement() { sqlite3_finalize(statement_); }
  Statement(const Statement&) = delete;
  Statement& operator=(const Statement&) = delete;

  bool ok() const { return statement_ != nullptr; }
  Statement& Bind(int at, int64_t value) {
    if (statement_) sqlite3_bind_int64(statement_, at, value);
    return *this;
  }
  Statement& Bind(int at, std::string_view bytes) {
    if (statement_) {
      sqlite3_bind_blob64(statement_, at, bytes.empty() ? "" : bytes.data(), bytes.size(),
                          SQLITE_TRANSIENT);
    }
    return *this;
  }
  Statement& BindText(int at, std::string_view text) {
    if (statement_)
      sqlite3_bind_text64(statement_, at, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
    return *this;
  }
  // SQLITE_ROW, SQLITE_DONE or an error.
  int Step() { return statement_ ? sqlite3_step(statement_) : SQLITE_ERROR; }
  bool Run() { return Step() == SQLITE_DONE; }
  int64_t Integer(int column) { return sqlite3_column_int64(statement_, column); }
  sqlite3_stmt* statement() const { return statement_; }
  std::string Bytes(int column) {
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(statement_, column));
    return std::string(bytes ? bytes : "",
                       static_cast<std::size_t>(sqlite3_column_bytes(statement_, column)));
  }

 private:
  sqlite3_stmt* statement_ = nullptr;
};

std::string GroupList(const std::vector<uint32_t>& groups) {
  std::string list;
  for (uint32_t group : groups) list += std::to_string(group) + ",";
  return list;
}

// What the seal says of the store file: its identity and the status its last write left.
// Its format holds far fewer bytes than kSealMost: a larger file is no seal.
constexpr std::size_t kSealMost = 256;

std::string SealOf(const StoreFile& file) {
  platform::ExactStatus status;
  if (!file.folder->StatusOf(file.name, status) || !status.regular) return {};
  char seal[200];
  std::snprintf(seal, sizeof seal, "%u:%u %" PRIu64 " %" PRIu64 " %" PRId64 " %" PRId64 "\n",
                status.device_major, status.device_minor, status.inode, status.size,
                status.mtime_ns, status.ctime_ns);
  return seal;
}

std::string GramBytes(const std::vector<uint32_t>& grams) {
  std::string bytes;
  bytes.reserve(grams.size() * 4);
  for (uint32_t gram : grams) {
    for (int shift = 24; shift >= 0; shift -= 8) bytes += static_cast<char>(gram >> shift);
  }
  return bytes;
}

// The article list as one value: the count, then for each article its name's length and
// bytes and its fields, each number in this machine's byte order.
template <typename Number>
void Put(std::string& bytes, Number number) {
  char raw[sizeof number];
  std::memcpy(raw, &number, sizeof number);
  bytes.append(raw, sizeof raw);
}

template <typename Number>
bool Take(std::string_view& bytes, Number& number) {
  if (bytes.size() < sizeof number) return false;
  std::memcpy(&number, bytes.data(), sizeof number);
  bytes.remove_prefix(sizeof number);
  return true;
}

std::string ArticleList(const std::map<std::string, IndexedArticle, std::less<>>& articles) {
  std::string bytes;
  bytes.reserve(8 + articles.size() * 80);
  Put(bytes, uint64_t{articles.size()});
  for (const auto& [name, article] : articles) {
    Put(bytes, static_cast<uint32_t>(name.size()));
    bytes += name;
    Put(bytes, article.row);
    Put(bytes, article.stretches);
    Put(bytes, article.status.device_major);
    Put(bytes, article.status.device_minor);
    Put(bytes, article.status.inode);
    Put(bytes, article.status.size);
    Put(bytes, article.status.mtime_ns);
    Put(bytes, article.status.ctime_ns);
    Put(bytes, article.read_at_ns);
    Put(bytes, static_cast<uint8_t>(article.whole));
  }
  return bytes;
}

// False when `bytes` is not a list ArticleList made, its names strictly ascending.
bool ReadArticleList(std::string_view bytes, IndexedArticles& articles) {
  uint64_t count = 0;
  if (!Take(bytes, count) || count > bytes.size()) return false;
  articles.reserve(static_cast<std::size_t>(count));
  for (uint64_t at = 0; at < count; ++at) {
    uint32_t length = 0;
    if (!Take(bytes, length) || length > bytes.size()) return false;
    std::string name(bytes.substr(0, length));
    bytes.remove_prefix(length);
    if (!articles.empty() && !(articles.back().first < name)) return false;
    IndexedArticle article;
    article.status.regular = true;
    uint8_t whole = 0;
    if (!Take(bytes, article.row) || !Take(bytes, article.stretches) || article.stretches < 1 ||
        !Take(bytes, article.status.device_major) || !Take(bytes, article.status.device_minor) ||
        !Take(bytes, article.status.inode) || !Take(bytes, article.status.size) ||
        !Take(bytes, article.status.mtime_ns) || !Take(bytes, article.status.ctime_ns) ||
        !Take(bytes, article.read_at_ns) || !Take(bytes, whole) || whole > 1) {
      return false;
    }
    article.whole = whole == 1;
    articles.emplace_back(std::move(name), article);
  }
  return bytes.empty();
}

const char* GramTable(GramView view) {
  return view == GramView::kBytes ? "byte_grams" : "text_grams";
}

// SQLite's own way of opening files by path, but for three things. It takes a path as it is
// given, where its own resolves every symbolic link on the way: the path through the folder
// held open would become the folder's path again, open to redirection. It opens nothing but
// a private file of the user's (or a new one): a link, a FIFO or another user's file under a
// log's name is never opened, whoever put it there. And its opens never wait (SQLite's own
// add O_NOFOLLOW).
constexpr char kPrivateVfs[] = "kbsearch-private";
sqlite3_vfs* system_vfs = nullptr;
sqlite3_vfs private_vfs;

int FullPathAsGiven(sqlite3_vfs*, const char* name, int size, char* full) {
  const std::size_t length = std::strlen(name);
  if (name[0] != '/' || length + 1 > static_cast<std::size_t>(size)) return SQLITE_CANTOPEN;
  std::memcpy(full, name, length + 1);
  return SQLITE_OK;
}

int OpenPrivateOnly(sqlite3_vfs*, sqlite3_filename name, sqlite3_file* file, int flags,
                    int* out_flags) {
  if (name != nullptr && !platform::IsMissingOrPrivateFile(name)) {
    file->pMethods = nullptr;
    return SQLITE_CANTOPEN;
  }
  return system_vfs->xOpen(system_vfs, name, file, flags, out_flags);
}

bool RegisterPrivateVfs() {
  static const bool registered = [] {
    system_vfs = sqlite3_vfs_find(nullptr);
    if (system_vfs == nullptr || system_vfs->iVersion < 3 ||
        system_vfs->xSetSystemCall(
            system_vfs, "open",
            reinterpret_cast<sqlite3_syscall_ptr>(platform::OpenNeverWaiting)) != SQLITE_OK) {
      return false;
    }
    private_vfs = *system_vfs;
    private_vfs.pNext = nullptr;
    private_vfs.zName = kPrivateVfs;
    private_vfs.xFullPathname = FullPathAsGiven;
    private_vfs.xOpen = OpenPrivateOnly;
    return sqlite3_vfs_register(&private_vfs, 0) == SQLITE_OK;
  }();
  return registered;
}

}  // namespace

IndexStore::~IndexStore() {
  FinishStatements();
  sqlite3_close_v2(db_);
  // A new store that was never sealed is not kept.
  if (!building_.empty()) file_.folder->Remove(building_);
}

std::vector<std::string> IndexStore::FileNames(std::string_view name) {
  const std::string store(name);
  return {store,
          store + "-wal",
          store + "-shm",
          store + "-journal",
          SealName(name),
          SealName(name) + ".new",
          LockName(name),
          store + ".new",
          store + ".new-journal"};
}

bool IndexStore::ClearStrangers(const StoreFile& file) {
  bool cleared = true;
  for (const std::string& name : FileNames(file.name)) {
    cleared = file.folder->KeepOnlyPrivateFile(name) && cleared;
  }
  return cleared;
}

void IndexStore::RemoveLeftovers(const StoreFile& file) {
  file.folder->Remove(file.name + ".new");
  file.folder->Remove(file.name + ".new-journal");
}

sqlite3* IndexStore::Connect(const StoreFile& file, std::string_view name, Journal journal) {
  sqlite3* db = nullptr;
  const int flags = SQLITE_OPEN_READWRITE | SQLITE_OPEN_NOMUTEX;
  if (!RegisterPrivateVfs() ||
      sqlite3_open_v2(file.folder->PathOf(name).c_str(), &db, flags, kPrivateVfs) != SQLITE_OK) {
    sqlite3_close_v2(db);
    return nullptr;
  }
  sqlite3_db_config(db, SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_LOAD_EXTENSION, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_TRIGGER, 0, nullptr);
  sqlite3_db_config(db, SQLITE_DBCONFIG_ENABLE_VIEW, 0, nullptr);
  sqlite3_busy_timeout(db, 50);
  // Read through a mapping: the article list and the gram lists come without a copy per page.
  const char* setup = "PRAGMA cell_size_check = ON; PRAGMA mmap_size = 1073741824";
  if (journal == Journal::kWriteAhead) {
    setup = "PRAGMA cell_size_check = ON; PRAGMA mmap_size = 1073741824; PRAGMA journal_mode = WAL";
  } else if (journal == Journal::kNone) {
    // A new store is thrown away whole when its making fails: it needs no journal.
    setup =
        "PRAGMA cell_size_check = ON; PRAGMA journal_mode = OFF; PRAGMA synchronous = OFF;"
        " PRAGMA cache_size = -32768";
  }
  if (!RegisterTokenizer(db) || sqlite3_exec(db, setup, nullptr, nullptr, nullptr) != SQLITE_OK) {
    sqlite3_close_v2(db);
    return nullptr;
  }
  return db;
}

bool IndexStore::Execute(const char* sql) {
  return sqlite3_exec(db_, sql, nullptr, nullptr, nullptr) == SQLITE_OK;
}

std::unique_ptr<IndexStore> IndexStore::Open(const StoreFile& file, const StoreIdentity& identity,
                                             uint64_t most_bytes) {
  platform::ExactStatus status;
  if (!ClearStrangers(file) || !file.folder->HoldsPrivateFile(file.name) ||
      !file.folder->StatusOf(file.name, status) || status.size > most_bytes) {
    return nullptr;
  }
  sqlite3* db = Connect(file, file.name, Journal::kKept);
  if (!db) return nullptr;
  std::unique_ptr<IndexStore> store(new IndexStore(db, file));
  if (!store->SealHolds() || !store->ReadHeader(identity)) return nullptr;
  return store;
}

std::unique_ptr<platform::File> IndexStore::LockBuilds(const StoreFile& file, bool& busy) {
  busy = false;
  const std::string name = LockName(file.name);
  std::unique_ptr<platform::File> lock;
  if (!file.folder->KeepOnlyPrivateFile(name) ||
      !(lock = file.folder->OpenPrivateFile(name, platform::Creation::kOpenOrCreate))) {
    return nullptr;
  }
  const platform::SystemError locked = lock->Lock(platform::Lock::kExclusive);
  if (locked == platform::system_error::kNone) return lock;
  busy = locked == platform::system_error::kSharingViolation;
  return nullptr;
}

std::unique_ptr<IndexStore> IndexStore::Create(const StoreFile& file, const StoreIdentity& identity,
                                               bool builds_locked) {
  // One build at a time: another would remove this one's file, or put it in place half made.
  std::unique_ptr<platform::File> lock;
  bool busy = false;
  if (!builds_locked && !(lock = LockBuilds(file, busy))) return nullptr;
  const std::string building = file.name + ".new";
  if (!ClearStrangers(file)) return nullptr;
  RemoveLeftovers(file);
  if (!file.folder->OpenPrivateFile(building, platform::Creation::kCreateNew)) return nullptr;
  sqlite3* db = Connect(file, building, Journal::kNone);
  if (!db) {
    file.folder->Remove(building);
    return nullptr;
  }
  std::unique_ptr<IndexStore> store(new IndexStore(db, file));
  store->building_ = building;
  store->building_lock_ = std::move(lock);
  store->counts_read_ = true;
  for (std::optional<GramCounts>& counts : store->counts_) counts.emplace();
  const bool made = store->Execute(
                        "BEGIN;"
                        "CREATE TABLE header(key TEXT PRIMARY KEY, value) WITHOUT ROWID;"
                        "CREATE TABLE article_list(id INTEGER PRIMARY KEY, list BLOB NOT NULL);"
                        "CREATE TABLE gram_counts(view INTEGER PRIMARY KEY, counts BLOB NOT NULL);"
                        "CREATE VIRTUAL TABLE byte_grams USING fts5(grams, content='', detail=none,"
                        " columnsize=0, tokenize='kbsearch_grams');"
                        "CREATE VIRTUAL TABLE text_grams USING fts5(grams, content='', detail=none,"
                        " columnsize=0, tokenize='kbsearch_grams');") &&
                    store->WriteHeader(identity) && store->SaveArticles() &&
                    store->Execute("COMMIT");
  return made ? std::move(store) : nullptr;
}

bool IndexStore::WriteHeader(const StoreIdentity& identity) {
  built_at_ns_ = platform::RealTimeNs();
  const auto put = [&](const char* key, const std::string& value) {
    Statement insert(db_, "INSERT OR REPLACE INTO header VALUES (?1, ?2)");
    return insert.BindText(1, key).Bind(2, value).Run();
  };
  return put("format", std::to_string(kFormat)) && put("folder", identity.folder) &&
         put("device", std::to_string(identity.articles_folder.device_major) + ":" +
                           std::to_string(identity.articles_folder.device_minor)) &&
         put("inode", std::to_string(identity.articles_folder.inode)) &&
         put("file_system", std::to_string(identity.file_system)) &&
         put("user", std::to_string(identity.user)) && put("groups", GroupList(identity.groups)) &&
         put("marker", identity.marker) && put("ignore", identity.ignore) &&
         // A store of ZEB's articles has the header it always had.
         ((identity.articles == kArticlePattern && identity.exclude.empty()) ||
          (put("articles", identity.articles) && put("exclude", identity.exclude))) &&
         put("built_at", std::to_string(built_at_ns_)) && SaveCounters();
}

bool IndexStore::SaveCounters() {
  Statement insert(db_,
                   "INSERT OR REPLACE INTO header VALUES ('next_row', ?1), ('tombstones', ?2)");
  return insert.Bind(1, std::to_string(next_row_)).Bind(2, std::to_string(tombstones_)).Run();
}

bool IndexStore::ReadHeader(const StoreIdentity& identity) {
  Statement select(db_, "SELECT key, value FROM header");
  std::unordered_map<std::string, std::string> header;
  int step;
  while ((step = select.Step()) == SQLITE_ROW) header[select.Bytes(0)] = select.Bytes(1);
  if (step != SQLITE_DONE) return false;
  const auto is = [&](const char* key, const std::string& value) {
    const auto found = header.find(key);
    return found != header.end() && found->second == value;
  };
  // A key that older stores lack, which were made for its default.
  const auto is_or_default = [&](const char* key, const std::string& value,
                                 const std::string& absent) {
    const auto found = header.find(key);
    return (found != header.end() ? found->second : absent) == value;
  };
  const bool matches = is("format", std::to_string(kFormat)) && is("folder", identity.folder) &&
                       is("device", std::to_string(identity.articles_folder.device_major) + ":" +
                                        std::to_string(identity.articles_folder.device_minor)) &&
                       is("inode", std::to_string(identity.articles_folder.inode)) &&
                       is("file_system", std::to_string(identity.file_system)) &&
                       is("user", std::to_string(identity.user)) &&
                       is("groups", GroupList(identity.groups)) &&
                       is_or_default("marker", identity.marker, std::string(kArticleMarker)) &&
                       is_or_default("ignore", identity.ignore, "") &&
                       is_or_default("articles", identity.articles, std::string(kArticlePattern)) &&
                       is_or_default("exclude", identity.exclude, "");
  if (!matches) return false;
  try {
    built_at_ns_ = std::stoll(header.at("built_at"));
    next_row_ = std::stoll(header.at("next_row"));
    tombstones_ = std::stoll(header.at("tombstones"));
  } catch (const std::exception&) {
    return false;
  }
  return next_row_ >= 1 && tombstones_ >= 0;
}

bool IndexStore::SealHolds() {
  const std::optional<std::string> seal =
      file_.folder->ReadPrivateFile(SealName(file_.name), kSealMost);
  if (!seal || *seal != SealOf(file_)) return false;
  seal_ = *seal;
  return true;
}

bool IndexStore::Unchanged() const {
  const std::optional<std::string> seal =
      file_.folder->ReadPrivateFile(SealName(file_.name), kSealMost);
  return seal && *seal == seal_ && SealOf(file_) == seal_;
}

void IndexStore::FinishStatements() {
  for (sqlite3_stmt*& insert : inserts_) {
    sqlite3_finalize(insert);
    insert = nullptr;
  }
}

bool IndexStore::TakePlace() {
  FinishStatements();
  sqlite3_close_v2(db_);
  db_ = nullptr;
  // The old store's logs must not be read into the new one.
  const platform::PrivateFolder& folder = *file_.folder;
  for (const std::string& old : {file_.name, file_.name + "-wal", file_.name + "-shm",
                                 file_.name + "-journal", SealName(file_.name)}) {
    if (!folder.KeepOnlyPrivateFile(old) || !folder.Remove(old)) return false;
  }
  if (!folder.Rename(building_, file_.name)) return false;
  building_.clear();
  building_lock_.reset();
  db_ = Connect(file_, file_.name, Journal::kWriteAhead);
  return db_ != nullptr;
}

bool IndexStore::Seal() {
  if (!building_.empty() && !TakePlace()) return false;
  // The log folded into the file, so that the file alone holds what the seal vouches for.
  if (sqlite3_wal_checkpoint_v2(db_, nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr) !=
      SQLITE_OK) {
    return false;
  }
  seal_ = SealOf(file_);
  return !seal_.empty() && file_.folder->WritePrivateFile(SealName(file_.name), seal_);
}

bool IndexStore::BeginRead() {
  // A read transaction starts with the first read: the header is read back so that the
  // snapshot is taken now.
  if (!Execute("BEGIN")) return false;
  Statement select(db_, "SELECT count(*) FROM header");
  if (select.Step() == SQLITE_ROW) return true;
  Execute("ROLLBACK");
  return false;
}

void IndexStore::EndRead() {
  Execute("COMMIT");
}

std::size_t PlaceOf(const IndexedArticles& articles, std::string_view name) {
  const auto found = std::lower_bound(
      articles.begin(), articles.end(), name,
      [](const auto& entry, std::string_view wanted) { return entry.first < wanted; });
  return found != articles.end() && found->first == name
             ? static_cast<std::size_t>(found - articles.begin())
             : kNotIndexed;
}

std::vector<std::size_t> PlacesOf(const IndexedArticles& articles,
                                  std::span<const std::string_view> names) {
  std::vector<std::size_t> order(names.size());
  for (std::size_t at = 0; at < order.size(); ++at) order[at] = at;
  // Listings most often come in byte order already.
  if (!std::is_sorted(names.begin(), names.end())) {
    std::sort(order.begin(), order.end(),
              [&](std::size_t left, std::size_t right) { return names[left] < names[right]; });
  }
  std::vector<std::size_t> places(names.size(), kNotIndexed);
  std::size_t article = 0;
  for (std::size_t at : order) {
    while (article < articles.size() && std::string_view(articles[article].first) < names[at]) {
      ++article;
    }
    if (article < articles.size() && articles[article].first == names[at]) places[at] = article;
  }
  return places;
}

bool IndexStore::LoadArticles(IndexedArticles& articles) {
  Statement select(db_, "SELECT list FROM article_list WHERE id = 1");
  if (select.Step() != SQLITE_ROW) return false;
  const auto* bytes = static_cast<const char*>(sqlite3_column_blob(select.statement(), 0));
  const auto size = static_cast<std::size_t>(sqlite3_column_bytes(select.statement(), 0));
  return ReadArticleList(std::string_view(bytes ? bytes : "", size), articles);
}

bool IndexStore::SaveArticles() {
  Statement save(db_, "INSERT OR REPLACE INTO article_list VALUES (1, ?1)");
  return save.Bind(1, ArticleList(writing_)).Run();
}

bool IndexStore::ReadCounts() {
  counts_read_ = true;
  Statement select(db_, "SELECT view, counts FROM gram_counts");
  int step;
  while ((step = select.Step()) == SQLITE_ROW) {
    const int64_t view = select.Integer(0);
    if (view == 0 || view == 1) counts_[view] = GramCounts::FromBytes(select.Bytes(1));
  }
  if (step == SQLITE_DONE) return true;
  counts_[0] = counts_[1] = std::nullopt;
  return false;
}

bool IndexStore::SaveCounts() {
  for (int64_t view = 0; view < 2; ++view) {
    if (!counts_[view]) continue;
    Statement save(db_, "INSERT OR REPLACE INTO gram_counts VALUES (?1, ?2)");
    if (!save.Bind(1, view).Bind(2, counts_[view]->Bytes()).Run()) return false;
  }
  return true;
}

std::vector<uint32_t> IndexStore::GramsToLookUp(GramView view, const std::vector<uint32_t>& grams,
                                                double most_held, std::size_t most) {
  if (!counts_read_) ReadCounts();
  const std::optional<GramCounts>& counts = counts_[ViewIndex(view)];
  return counts ? counts->HeldByAtMost(grams, static_cast<uint64_t>(most_held * rows()), most)
                : grams;
}

bool IndexStore::RowsHolding(GramView view, const std::vector<uint32_t>& grams,
                             std::vector<int64_t>& rows) {
  std::string query;
  for (uint32_t gram : grams) {
    char word[10];
    std::snprintf(word, sizeof word, "%08" PRIx32 " ", gram);
    query += word;
  }
  const std::string sql = std::string("SELECT rowid FROM ") + GramTable(view) + " WHERE " +
                          GramTable(view) + " MATCH ?1";
  Statement select(db_, sql.c_str());
  select.BindText(1, query);
  int step;
  while ((step = select.Step()) == SQLITE_ROW) rows.push_back(select.Integer(0));
  std::sort(rows.begin(), rows.end());
  return step == SQLITE_DONE;
}

bool IndexStore::BeginWrite() {
  IndexedArticles articles;
  if (!Execute("BEGIN IMMEDIATE")) return false;
  if (!LoadArticles(articles) || (!counts_read_ && !ReadCounts())) {
    Execute("ROLLBACK");
    return false;
  }
  writing_.clear();
  for (auto& [name, article] : articles) writing_.emplace_hint(writing_.end(), name, article);
  return true;
}

bool IndexStore::Commit() {
  int64_t live = 0;
  for (const auto& [name, article] : writing_) live += article.stretches;
  tombstones_ = rows() - live;
  // A new store's segments merged into one: a search looks up each gram once.
  const bool merged =
      building_.empty() || (Execute("INSERT INTO byte_grams(byte_grams) VALUES ('optimize')") &&
                            Execute("INSERT INTO text_grams(text_grams) VALUES ('optimize')"));
  if (merged && SaveArticles() && SaveCounters() && SaveCounts() && Execute("COMMIT")) {
    return true;
  }
  Execute("ROLLBACK");
  return false;
}

bool IndexStore::PutArticle(std::string_view name, IndexedArticle& article,
                            const ArticleGrams& grams) {
  // Its stretches take the rows from next_row_ on, so that the rows of a gram's articles lie
  // close together, as the index stores their differences.
  article.row = next_row_;
  article.stretches =
      static_cast<int64_t>(std::max({std::size_t{1}, grams.stretches(GramView::kBytes).size(),
                                     grams.stretches(GramView::kText).size()}));
  next_row_ += article.stretches;
  for (GramView view : {GramView::kBytes, GramView::kText}) {
    const std::vector<std::vector<uint32_t>>& stretches = grams.stretches(view);
    if (stretches.empty()) continue;
    if (std::optional<GramCounts>& counts = counts_[ViewIndex(view)]) {
      for (const std::vector<uint32_t>& stretch : stretches) {
        for (const uint32_t gram : stretch) counts->Add(gram);
      }
    }
    sqlite3_stmt*& insert = inserts_[ViewIndex(view)];
    if (!insert) {
      const std::string sql =
          std::string("INSERT INTO ") + GramTable(view) + "(rowid, grams) VALUES (?1, ?2)";
      if (sqlite3_prepare_v3(db_, sql.c_str(), -1, SQLITE_PREPARE_PERSISTENT, &insert, nullptr) !=
          SQLITE_OK) {
        return false;
      }
    }
    // Each stretch is a row of its own.
    for (std::size_t stretch = 0; stretch < stretches.size(); ++stretch) {
      const std::string bytes = GramBytes(stretches[stretch]);
      sqlite3_bind_int64(insert, 1, article.row + static_cast<int64_t>(stretch));
      sqlite3_bind_blob64(insert, 2, bytes.data(), bytes.size(), SQLITE_STATIC);
      const int step = sqlite3_step(insert);
      sqlite3_reset(insert);
      if (step != SQLITE_DONE) return false;
    }
  }
  writing_.insert_or_assign(std::string(name), article);
  return true;
}

bool IndexStore::ForgetArticle(std::string_view name) {
  if (const auto found = writing_.find(name); found != writing_.end()) writing_.erase(found);
  return true;
}

}  // namespace kb::index
