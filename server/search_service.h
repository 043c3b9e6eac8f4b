#pragma once

// The searches of the search server: one knowledge base (the current directory), its
// settings loaded once at start, the listing of its articles kept while ZEB is unchanged
// (server/kept_listing.h), and the article index kept open between searches and proven by a
// watch on ZEB, as the window keeps it; while there is none to use, answers come
// from reading every article, and a refresh builds it on a thread of its own at idle
// priority. Every search shows its findings as `kbsearch-cli --json --results snippets` would
// with the same settings, and writes nothing into the knowledge base.
//
// The findings of a search are kept for a request that repeats it while the knowledge base is
// proven unchanged since (server/result_cache.h), by the same watch that keeps the listing.
//
// Search may run on many threads at once; each reads its articles on the threads it is given,
// so that the server, which knows how many searches run, decides how many threads each takes.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/found_article.h"
#include "app/base/query.h"
#include "app/index/article_index.h"
#include "app/setup/settings_file.h"
#include "platform/file_system.h"
#include "server/kept_listing.h"
#include "server/result_cache.h"
#include "server/search_lanes.h"

namespace kb::server {

// A failure a search reported.
struct SearchError {
  std::string message;  // its lines joined by "\n"
  int64_t code = 0;
  std::string path;
};

// What one search found, kept whole; a page of it is shown.
struct Findings {
  std::vector<FoundArticle> found;  // in the order asked for, weighed, without their snippets
  std::vector<SearchError> errors;
  Query query;         // as asked
  std::string phrase;  // its text as compared (upper-cased)
  std::chrono::nanoseconds elapsed{0};
  int32_t articles_listed = 0;
  int32_t articles_opened = 0;
  int32_t articles_read = 0;
  std::string index_state = "not used";
  std::string index_reason;
  bool completed = true;  // false when stopped before its end
};

// What the findings of recent searches may take, by default.
inline constexpr std::size_t kKeptFindingsBytes = std::size_t{32} << 20;

class SearchService {
 public:
  // `settings` as the user's and the knowledge base's settings files left them;
  // `knowledge_base` names the knowledge base in messages ("the current directory" or the
  // folder given); findings kept for repeated searches take at most `kept_findings_bytes`
  // (0: none kept, every search runs); at most `light_at_once` searches that read few
  // articles run at once (SearchLanes), the others wait their turn.
  SearchService(platform::Env& env, const Settings& settings, std::string knowledge_base,
                std::size_t kept_findings_bytes = kKeptFindingsBytes,
                std::size_t light_at_once = SIZE_MAX);
  ~SearchService();
  SearchService(const SearchService&) = delete;
  SearchService& operator=(const SearchService&) = delete;

  // Reads `text` as a query of `kind` into `query`, or says why it cannot be searched for, as
  // kbsearch-cli says it.
  static std::optional<std::string> RefusalOf(std::string_view text, QueryKind kind, Query& query);

  // How a query is read, and its findings ordered, when the request does not say: as the
  // settings say.
  QueryKind query_kind() const { return settings_.query_kind; }
  ResultsOrder order() const { return settings_.results.order; }

  // Searches for `query` (not refused), its findings in `order`, reading the articles on
  // `threads` threads (the findings are the same on any number), or gives the findings kept
  // of the same search when nothing changed since; ends early when `stop` is requested. A kept
  // finding shows the time its search took.
  std::shared_ptr<const Findings> Search(const Query& query, ResultsOrder order,
                                         std::stop_token stop, std::size_t threads = 1);

  // What findings of a search take in memory, about.
  static std::size_t BytesOf(const Findings& findings);

  // The found articles of `findings` from `offset` on, at most `limit` of them, each with what
  // it shows (ArticleDetails::shown). A search weighs every article it finds but makes the
  // snippets of 20 of them alone, from the copies its threads kept (all of a query found in
  // no more): a page of 20 of thousands costs the snippets of 20 more at most, each article
  // read again for them, on up to `threads` threads.
  std::vector<FoundArticle> ShownPage(const Findings& findings, std::size_t offset,
                                      std::size_t limit, std::size_t threads = 1) const;

  // The answer of the API: {"matches": [...], "errors": [...], "summary": {...}}, the matches
  // those of `page` (ShownPage); the summary counts them all.
  static std::string Json(const Findings& findings, std::span<const FoundArticle> page);

 private:
  platform::Env& env_;
  Settings settings_;
  std::string knowledge_base_;
  KnowledgeBase layout_;  // the working directory's, as the settings lay it out
  KeptListing listing_;
  const bool keeping_findings_;
  ResultCache kept_findings_;
  SearchLanes lanes_;       // heavy searches give way to light ones
  std::mutex index_mutex_;  // one search at a time asks the index, which keeps state
  index::ArticleIndex index_;
  index::BackgroundRefresh refresh_;       // after the index: stopped first
  std::atomic<bool> index_served_{false};  // whether a search has used the index yet

  Findings Run(const Query& query, ResultsOrder order, std::stop_token stop, std::size_t threads,
               ArticleListing& listing);
};

}  // namespace kb::server
