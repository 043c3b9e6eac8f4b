#pragma once

// The scan: every article of the knowledge base in the working directory (the files
// ZEB/ZEB*.htm, or those its pattern names), read and compared with the query, its outcome
// handed to a sink in listing order.
//
// A sink is the scan's one reader: the search passes each outcome on to its screen (the
// progress), its printers (the found articles) and its failures; another caller may pass
// its own. Two hooks let a caller change what the scan does per article without touching
// it: a `filter` spares it the articles known to need no reading (the article index,
// app/scan/article_filter.h), and `inspect_match` collects more about each found article
// on the thread that read it (what a printer needs beyond the path and the excerpt).

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stop_token>
#include <string>
#include <string_view>

#include "app/base/failure.h"
#include "app/base/knowledge_base.h"
#include "app/base/query.h"
#include "app/match/match_settings.h"
#include "app/scan/article_filter.h"
#include "app/scan/article_listing.h"
#include "app/scan/article_scan.h"
#include "platform/file_system.h"

namespace kb {

// The most threads a scan reads with unless it is told a number.
inline constexpr std::size_t kMostDefaultScanThreads = 16;
// The most articles read ahead of the one the sink has reached.
inline constexpr std::size_t kArticlesInFlight = 256;
// Threads that read besides the scan's own while the articles are not in memory, by default
// and at most: a solid-state disk serves that many requests together (files/cold_reads.h).
inline constexpr std::size_t kDefaultIoDepth = 16;
inline constexpr std::size_t kMostIoDepth = 64;

// The threads a scan reads with unless it is told a number: one for each processor the
// program may run on, at most kMostDefaultScanThreads.
std::size_t DefaultScanThreads();

// `phrase` as the scan compares it and the page shows it: upper-cased through the settings'
// case table.
std::string PhraseAsCompared(std::string_view phrase, const MatchSettings& settings);

struct ScanRequest {
  // Where the articles are.
  KnowledgeBase knowledge_base = {};
  // What is looked for; the settings decide what matches it (app/match/match_settings.h).
  Query query = {};
  MatchSettings match_settings = {};
  // Threads reading articles at once, the calling thread included; 1 (or 0) reads them one
  // after another on the calling thread alone.
  std::size_t threads = 1;
  // Asked between articles and between the blocks of each.
  std::stop_token stop = {};
  // When set, asked once the articles are listed which of them need reading; the others
  // count as opened without a match (app/scan/article_filter.h).
  ArticleFilter* filter = nullptr;
  // When set, called for each article that matched, on the thread that read it (so it must
  // be safe to call from several at once), with the article still open; what it returns
  // travels in the outcome's `details` to the sink, in listing order.
  MatchInspection inspect_match = {};
  // When not 0, every article is read to its end and its hits counted (ArticleOutcome::hits),
  // and inspect_match is handed the first `kept_bytes` bytes of each matched one as the scan
  // read them, so that it need not read the article again. 0 reads each article only as far
  // as its outcome needs.
  std::size_t kept_bytes = 0;
  // With kept_bytes, what the copies of the articles not read whole at once may hold at once,
  // on all the threads together (set then; the caller owns it): an article whose copy does
  // not fit is handed to inspect_match without its bytes.
  KeptBudget* kept_budget = nullptr;
  // Standby threads, at most kMostIoDepth, that read as `threads` do while the articles are
  // found not to be in memory, when every thread also opens its next articles ahead
  // (files/cold_reads.h); 0: none, and nothing opened ahead.
  std::size_t io_depth = 0;
  // When set, gives the listing of the articles in place of the folder's own
  // (app/scan/article_listing.h); for a knowledge base that lists the folder ZEB alone.
  ArticleListing* listing = nullptr;
  // When set, called on each reading thread before it reads an article (so it must be safe to
  // call from several at once): a program running several scans at once may hold one back
  // there for a while.
  std::function<void()> before_article = {};
};

// Where the scan's findings go. Every call comes on the thread that called
// ScanKnowledgeBase, in listing order, and the scan waits for it to return.
class ScanSink : public FailureReporter {
 public:
  // The articles are listed: `articles` of them (at least one) will be done. Not called when
  // none is listed.
  virtual void ScanStarted(int32_t articles) = 0;
  // An article is done, in listing order: an article that could not be opened or read has
  // had its failure reported just before.
  virtual void ArticleDone(std::string_view path, ArticleOutcome& outcome) = 0;
  // Articles `first` to `end` (excluded) of `paths` are done, each opened without a match: the
  // articles the request's filter spared, between two it read. Gives the end of those taken,
  // short of `end` when `stop` came first. By default each is handed to ArticleDone in turn,
  // `stop` asked before each; a sink that makes nothing of them but their number may take them
  // at once, as a search through an index hands over most of the folder so.
  virtual std::size_t ArticlesSpared(const ListedPaths& paths, std::size_t first, std::size_t end,
                                     const std::stop_token& stop);
};

// What a scan came to.
struct ScanSummary {
  int32_t articles_listed = 0;
  int32_t articles_opened = 0;  // the listed ones that could be opened (or were triaged)
  bool completed = true;        // false when `stop` ended the scan first
};

// Lists the articles of `base` through `env` into `paths`: the folder ZEB sorted by name
// (ListPaths, files/directory_listing.h) or a tree (ListTree, files/tree_listing.h). A folder
// ZEB that exists but cannot be read is reported once ("Could not read the folder: ./ZEB"); a
// missing one is not. Each folder of a tree that cannot be read is reported so, and a tree
// the listing does not take whole is reported with the limit it met and the first path left
// out. False when the folder ZEB, or the tree's root, could not be read. For a tree, `walked`
// (when given) is filled with the folders walked (TreeListingRequest::walked).
bool ListArticles(platform::Env& env, const KnowledgeBase& base, ListedPaths& paths,
                  FailureReporter& reporter, std::vector<std::string>* walked = nullptr);

// Lists the articles (ListArticles, or request.listing) and hands each one's outcome to
// `sink`.
//
// Articles are opened for reading only, others denied writing, and streamed block by block,
// so memory stays small however large an article is. One that cannot be opened is reported
// and skipped; one whose reading fails is reported, and what was read of it before is
// searched all the same.
//
// With several threads, the articles are read concurrently but the sink sees everything on
// the calling thread, in listing order, exactly as with one thread. At most
// kArticlesInFlight articles are read ahead while the sink is busy (a message box shown).
//
// A stop ends the scan within one block of each article being read; the articles the sink
// was handed until then stand, and the summary says it was not completed.
ScanSummary ScanKnowledgeBase(platform::Env& env, const ScanRequest& request, ScanSink& sink);

}  // namespace kb
