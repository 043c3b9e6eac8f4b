#pragma once

// The scan of one article: open it as the search does, read it block by block through the
// article matcher, close it, and say what came of it. A plain function over a file object and
// a matcher that the caller owns, so that every thread of a search scans with its own. A
// failure is part of the outcome; the calling thread's error state is left as the file's
// last operation left it.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/found_article.h"
#include "app/base/knowledge_base.h"
#include "app/match/query_matcher.h"
#include "app/scan/article_filter.h"
#include "app/scan/large_article_scan.h"
#include "files/block_file.h"
#include "files/file_declaration.h"
#include "support/error_state/error_state.h"
#include "support/text/text.h"

namespace kb {

// How the articles' block file (DosFile) is declared: its name variable holds any article's
// path whole (`longest_path` bytes: KnowledgeBase::LongestArticlePath), and its buffer takes an
// ordinary article in one read.
FileDeclaration ArticleFileDeclaration(std::size_t longest_path = kLongestArticlePath);

// What scanning one article came to.
struct ArticleOutcome {
  // What failed, and the number of the error table that says why (its text is
  // ErrorTextOf(ErrorMessage(error_code)), support/error_state/error_state.h).
  struct Failure {
    enum Kind {
      kNone,
      kOpen,  // the article could not be opened: nothing was read
      kRead,  // reading failed after the open: what was read before is searched all the same
    };
    Kind kind = kNone;
    int32_t error_code = 0;

    bool operator==(const Failure&) const = default;
  };
  Failure failure;

  bool matched = false;
  std::string excerpt = {};  // when matched: at most kExcerptLength bytes after the marker
  // When matched and the matcher counts hits: QueryMatcher::hits(), and each term's.
  std::optional<uint64_t> hits = {};
  std::vector<uint64_t> term_hits = {};
  // With the hits: ArticleMatcher::length(), the bytes of the view they were counted in.
  std::optional<uint64_t> length = {};
  // What the scan's caller asked to collect about a matched article (app/scan/scan.h).
  ArticleDetails details = {};

  bool operator==(const ArticleOutcome&) const = default;
};

// A matched article as the scan hands it to what inspects it.
struct InspectedArticle {
  std::string_view path;
  const ArticleOutcome& outcome;
  // The article's bytes from its start as the scan read them, when it kept them (KeptArticle):
  // the whole article, or as much of it as was kept. None when they were not kept.
  std::optional<std::string_view> bytes;
  // Where its first hits start in its bytes, when the scan counted them there
  // (QueryMatcher::hit_starts).
  std::span<const uint64_t> hit_starts = {};
};

// Collects more about a matched article, on the thread that read it; what it returns travels
// in the outcome's `details`.
using MatchInspection = std::function<ArticleDetails(const InspectedArticle& article)>;

// The bytes that the kept copies of all the threads of a scan may hold at once, so that a scan
// of huge articles on many threads stays within a bound: a copy that would go beyond it is
// dropped, and what inspects that article reads it again. Shared by the threads.
class KeptBudget {
 public:
  explicit KeptBudget(std::size_t bytes) : bytes_(bytes) {}

  // Takes `bytes` of the budget; false, taking nothing, when fewer are left.
  bool Take(std::size_t bytes);
  void Give(std::size_t bytes);
  // The most that was taken at once.
  std::size_t most_taken() const { return most_taken_.load(); }

 private:
  const std::size_t bytes_;
  std::atomic<std::size_t> taken_ = 0;
  std::atomic<std::size_t> most_taken_ = 0;
};

// The bytes of the article being scanned, kept for what inspects it once it has matched: a
// view of the file's buffer when one read took the article in whole (the usual case, which
// copies nothing), else a copy of its first `most` bytes, made within the budget (which the
// caller owns, and which outlives it). The copy is freed, and its budget given back, when
// the article is done (Release) or when the copy does not fit.
class KeptArticle {
 public:
  KeptArticle(std::size_t most, KeptBudget& budget) : most_(most), budget_(budget) {}
  KeptArticle(const KeptArticle&) = delete;
  KeptArticle& operator=(const KeptArticle&) = delete;
  ~KeptArticle() { Release(); }

  // A new article begins, of `size` bytes as its open found: a copy takes that much room at
  // once (as far as `most`), without growing by steps that would each copy it.
  void Start(uint64_t size);
  // The next bytes read; `whole` when they are the whole article, read at once.
  void Add(std::string_view piece, bool whole);
  // Room in the copy for the next `count` bytes at most (as far as `most`), to read them
  // straight into it; Added then tells how many came. Empty when the copy was dropped or does
  // not fit in the budget, which drops it.
  std::span<char> Room(std::size_t count);
  void Added(std::size_t count);
  // The bytes kept, or none when the copy did not fit in the budget.
  std::optional<std::string_view> bytes() const;
  // Frees the copy.
  void Release();

  std::size_t most() const { return most_; }

 private:
  // Makes room for `size` bytes in all, within the budget; false, dropping the copy, when
  // they do not fit.
  bool Reserve(std::size_t size);

  std::size_t most_;
  KeptBudget& budget_;
  std::unique_ptr<char[]> copy_;  // of taken_ bytes, the first size_ of them kept
  std::size_t size_ = 0;
  std::size_t expected_ = 0;  // the article's size, as far as `most`
  std::size_t taken_ = 0;     // of the budget, for the copy's room
  bool dropped_ = false;
  std::string_view bytes_;
};

// Scans the article at `path` with `file` (closed; ArticleFileDeclaration's) and `matcher`
// (holding the query). The article is opened for reading, denying others writing, and read
// only as far as its outcome needs: to its end when the matcher counts hits. `file` is closed
// again when it returns. A large article is read on as many threads as `sharing` allows
// (app/scan/large_article_scan.h), with the same outcome, unless the matcher counts hits.
//
// When it matched, `inspect` (if set) is called with the file still open, and with the bytes
// that `kept` (if not null) kept of it, read in the scan's own pass; the copy is released
// when it returns.
//
// `stop` is asked between reads, so that a long article ends promptly when the search is
// asked to stop; what comes of an article cut short so says nothing and is to be dropped.
//
// `may_hold`, when not null, says where in the article some of the query's terms can lie
// (PlacesToLook, app/scan/article_filter.h): for the plain byte search (QueryMatcher::
// byte_terms) of the file it speaks of (its inode and size), those bytes are read first, and
// when a term is not there the article is done, opened without a match, as its whole reading
// would have found it. They are passed over when they come to half the article or more.
ArticleOutcome ScanArticle(std::string_view path, BlockFile& file, QueryMatcher& matcher,
                           const ArticleSharing& sharing, const std::stop_token& stop,
                           const MatchInspection& inspect = {}, KeptArticle* kept = nullptr,
                           const ArticlePlaces* may_hold = nullptr);

}  // namespace kb
