#include "server/search_service.h"

#include <algorithm>
#include <any>
#include <atomic>
#include <thread>
#include <utility>

#include "app/base/knowledge_base.h"
#include "app/match/article_snippets.h"
#include "app/page/excerpt_text.h"
#include "app/search/result_order.h"
#include "app/search/search.h"
#include "app/search/search_json.h"
#include "app/setup/settings_file.h"
#include "support/error_state/error_state.h"
#include "support/message_box/message.h"
#include "support/pipeline/ordered_pipeline.h"
#include "support/text/text.h"
#include "support/text/utf8.h"

namespace kb::server {
namespace {

// How long a search waits for a refresh that keeps it from an index it could use before.
constexpr auto kRefreshWait = std::chrono::milliseconds(500);
// How often it looks whether the refresh has ended meanwhile.
constexpr auto kRefreshLook = std::chrono::milliseconds(2);
// The found articles whose snippets a search makes from the copies its threads keep: a page
// at the API's default size, so that a query found in no more articles reads none again for
// it, and one found in many makes few snippets that its page may not show.
constexpr std::size_t kShownAhead = 20;
// How long before a search the locks it takes for the articles may have been read: an answer
// holds every change complete 100 ms before the question, a lock taken included.
constexpr auto kLocksAge = std::chrono::milliseconds(50);
// The reason a search gives for not using the index while the first one is built.
constexpr std::string_view kBuildRunning = "build running";

// Asks the shared index for one search, one search at a time, and keeps what became of it
// for that search's summary.
//
// While a refresh writes the index, and until it seals what it wrote, the index proves
// nothing and a search would read every article: a second for 40,000 of them, where the
// refresh after an edit ends within milliseconds. So a search that finds the index it used
// before in that state waits for the refresh (at most kRefreshWait), then asks again; the
// index then checks every article as usual, so the answer is as fresh. Once a search found no
// index even so, none waits again until one is used.
class IndexForOneSearch final : public ArticleFilter {
 public:
  IndexForOneSearch(index::ArticleIndex& index, std::mutex& mutex,
                    index::BackgroundRefresh& refresh, std::atomic<bool>& index_served,
                    SearchLanes::Search& lane, std::stop_token stop)
      : index_(index),
        mutex_(mutex),
        refresh_(refresh),
        index_served_(index_served),
        lane_(lane),
        stop_(std::move(stop)) {}

  void ChooseArticles(std::span<const std::string_view> names, const Query& query,
                      const MatchSettings& settings, std::size_t threads,
                      std::vector<char>& must_read, PlacesToLook& places) override {
    if (Choose(names, query, settings, threads, must_read, places, false)) {
      if (WaitForRefresh()) {
        std::fill(must_read.begin(), must_read.end(), 1);
        places.Clear();
        Choose(names, query, settings, threads, must_read, places, true);
      } else {
        const std::lock_guard lock(mutex_);
        refresh_.AfterSearch();
      }
      // A refresh that takes longer (a new index made) or none at all: no search waits again
      // until the index serves one.
      if (use_.state != "used") index_served_ = false;
    }
    if (use_.state == "used") index_served_ = true;
    lane_.Reads(static_cast<std::size_t>(std::count(must_read.begin(), must_read.end(), 1)));
  }

  const index::IndexUse& use() const { return use_; }

 private:
  // Asks the index. Gives whether the search should wait for a refresh and ask again: the
  // index it used before proves nothing now, and `last` (whether it may not ask again) is
  // false. When it will not ask again, the refresh it calls for, if any, starts now that the
  // index is at hand: taking it again after the search would keep others from it once more.
  bool Choose(std::span<const std::string_view> names, const Query& query,
              const MatchSettings& settings, std::size_t threads, std::vector<char>& must_read,
              PlacesToLook& places, bool last) {
    // A read of the locks held may take tens of milliseconds while the processors are busy:
    // it is waited for here, not while every other search waits for the index.
    index_.AwaitRecentLocks();
    lane_.Pause();
    const std::lock_guard lock(mutex_);
    lane_.Resume();
    index_.ChooseArticles(names, query, settings, threads, must_read, places);
    use_ = index_.last_search_use();
    const bool ask_again = !last && use_.reason == "none yet" && index_served_;
    if (!ask_again) refresh_.AfterSearch();
    return ask_again;
  }

  // Waits while a refresh runs, within kRefreshWait; false when it still runs, or the search
  // was stopped.
  bool WaitForRefresh() const {
    const auto until = std::chrono::steady_clock::now() + kRefreshWait;
    while (refresh_.running() && !stop_.stop_requested() &&
           std::chrono::steady_clock::now() < until) {
      std::this_thread::sleep_for(kRefreshLook);
    }
    return !refresh_.running() && !stop_.stop_requested();
  }

  index::ArticleIndex& index_;
  std::mutex& mutex_;
  index::BackgroundRefresh& refresh_;
  std::atomic<bool>& index_served_;
  SearchLanes::Search& lane_;
  std::stop_token stop_;
  index::IndexUse use_;
};

// The kept listing for one search, which tells the generation of the listing it gave.
class ListingForOneSearch final : public ArticleListing {
 public:
  explicit ListingForOneSearch(KeptListing& kept) : kept_(kept) {}

  bool List(platform::Env& env, const KnowledgeBase& base, ListedPaths& paths,
            FailureReporter& reporter) override {
    return kept_.List(env, base, paths, reporter, generation_);
  }

  std::optional<uint64_t> generation() const { return generation_; }

 private:
  KeptListing& kept_;
  std::optional<uint64_t> generation_;
};

// Keeps the failures a search reports; shows nothing.
class CollectingScreen final : public SearchScreen {
 public:
  explicit CollectingScreen(std::vector<SearchError>& errors) : errors_(errors) {}

  void ReportFailure(const Failure& failure) override {
    errors_.push_back({.message = MessageLines(failure.text),
                       .code = failure.error_code,
                       .path = std::string(failure.path)});
  }
  void ScanStarted(int32_t /*articles*/) override {}
  void ArticleDone(int32_t /*done*/, int32_t /*total*/) override {}
  void ScanEnded(std::string_view /*phrase*/) override {}
  void PageBeingWritten() override {}
  void BrowserStarting() override {}
  void SearchEnded() override {}
  int32_t ShowMessage(std::string_view /*text*/, std::string_view /*caption*/,
                      std::string_view /*icon*/, std::string_view /*buttons*/,
                      int32_t default_button, int32_t /*style*/) override {
    return default_button;
  }

 private:
  std::vector<SearchError>& errors_;
};

// The working directory's path, or "" when it cannot be told.
std::string WorkingDirectory() {
  std::string folder;
  if (platform::CurrentDirectory(folder) != platform::system_error::kNone) folder.clear();
  return folder;
}

}  // namespace

SearchService::SearchService(platform::Env& env, const Settings& settings,
                             std::string knowledge_base, std::size_t kept_findings_bytes,
                             std::size_t light_at_once)
    : env_(env),
      settings_(settings),
      knowledge_base_(std::move(knowledge_base)),
      layout_(KnowledgeBaseOf(settings, WorkingDirectory())),
      keeping_findings_(kept_findings_bytes > 0),
      kept_findings_(kept_findings_bytes),
      lanes_(light_at_once),
      index_({.knowledge_base = layout_,
              .enabled = settings.use_index,
              .cache_limit = settings.index_limit,
              .watch = true,
              .article = settings.match.article,
              .locks_age = kLocksAge}),
      refresh_(index_, 1) {
  // The index is built, or proven, at once: the first searches meanwhile read every article
  // and say why.
  refresh_.Start();
}

SearchService::~SearchService() = default;

std::optional<std::string> SearchService::RefusalOf(std::string_view text, QueryKind kind,
                                                    Query& query) {
  if (text.empty()) return "no phrase to search for";
  if (CountCharacters(text) > kMaxSearchTextLength) {
    return Concat(
        {"the phrase is longer than ", NumberToText(kMaxSearchTextLength), " characters"});
  }
  if (const QueryProblem problem = ParseQuery(text, kind, query); problem != QueryProblem::kNone) {
    return QueryProblemText(problem);
  }
  return std::nullopt;
}

std::shared_ptr<const Findings> SearchService::Search(const Query& query, ResultsOrder order,
                                                      std::stop_token stop, std::size_t threads) {
  ListingForOneSearch listing(listing_);
  if (!keeping_findings_) {
    return std::make_shared<const Findings>(Run(query, order, std::move(stop), threads, listing));
  }
  // The key is everything a search is given besides the settings, which are fixed at start:
  // whatever else comes to tell one search from another must join it.
  const std::string key = Concat({query.is_words() ? "words " : "phrase ",
                                  NumberToText(static_cast<int64_t>(order)), " ", query.text});
  if (const std::optional<uint64_t> now = listing_.Proven()) {
    if (std::shared_ptr<const Findings> kept = kept_findings_.Find(key, *now)) return kept;
  }
  // Findings hold for the generation of the listing the search was given while that is
  // still the one proven after it: a change to the knowledge base meanwhile makes another.
  auto findings =
      std::make_shared<const Findings>(Run(query, order, std::move(stop), threads, listing));
  const std::optional<uint64_t> used = listing.generation();
  // Nor are findings made while the first index is built kept: they would say so long after.
  if (used && findings->completed && findings->errors.empty() &&
      findings->index_reason != kBuildRunning && listing_.Proven() == used) {
    kept_findings_.Keep(key, *used, findings, BytesOf(*findings));
  }
  return findings;
}

std::size_t SearchService::BytesOf(const Findings& findings) {
  std::size_t bytes = sizeof findings + findings.phrase.size() + 2 * findings.query.text.size();
  for (const FoundArticle& article : findings.found) {
    bytes += sizeof article + article.path.size() + article.excerpt.size();
    if (const std::optional<ArticleSnippets>& snippets = article.details.shown) {
      bytes += sizeof *snippets + snippets->title.size();
      for (const Snippet& snippet : snippets->snippets) {
        bytes += sizeof snippet + snippet.text.size() + snippet.marks.size() * sizeof(SnippetMark);
      }
    }
  }
  return bytes;
}

Findings SearchService::Run(const Query& query, ResultsOrder order, std::stop_token stop,
                            std::size_t threads, ArticleListing& listing) {
  const auto started = std::chrono::steady_clock::now();
  Findings findings;
  CollectingScreen screen(findings.errors);
  if (layout_.ListsArticleFolder() && ArticleFolderIsMissing(env_)) {
    screen.ReportFailure({.text = Concat({"no ZEB folder in ", knowledge_base_}),
                          .error_code = error::kPathNotFound,
                          .path = kArticleFolder});
  }
  SearchLanes::Search lane(lanes_, stop);
  IndexForOneSearch filter(index_, index_mutex_, refresh_, index_served_, lane, stop);
  findings.query = query;
  const SearchRequest request{
      .knowledge_base = layout_,
      .query = query,
      .match_settings = settings_.match,
      .page_handling = PageHandling::kNone,
      .threads = std::max<std::size_t>(threads, 1),
      .stop = std::move(stop),
      .filter = &filter,
      .listing = &listing,
      // Weighed, for the order and the hits the snippets show; the
      // snippets are made for the page shown (ShownPage).
      .printed_order = order == ResultsOrder::kName ? ResultsOrder::kHits : order,
      .shown_ahead = kShownAhead,
      .before_article = [&lane] { lane.GiveWay(); }};
  SearchReport report = RunSearch(env_, request, screen);
  const index::IndexUse& use = filter.use();
  // The rows of the page the search would write: in the order asked for.
  findings.found.reserve(report.rows.size());
  for (const std::size_t row : ResultOrder(report.found, order)) {
    findings.found.push_back(std::move(report.found[row]));
  }
  findings.phrase = std::move(report.phrase);
  findings.articles_listed = report.articles_listed;
  findings.articles_opened = report.articles_opened;
  // The articles the index spared count as opened.
  findings.articles_read =
      std::max(0, report.articles_opened - (report.articles_listed - use.articles_read));
  findings.index_state = use.state;
  // Until the first index is built, the searches say that it is being built.
  findings.index_reason =
      use.reason == "none yet" && refresh_.running() ? kBuildRunning : use.reason;
  findings.completed = report.outcome == SearchOutcome::kCompleted;
  findings.elapsed = std::chrono::steady_clock::now() - started;
  return findings;
}

std::vector<FoundArticle> SearchService::ShownPage(const Findings& findings, std::size_t offset,
                                                   std::size_t limit, std::size_t threads) const {
  const std::size_t first = std::min(offset, findings.found.size());
  const std::size_t end = first + std::min(limit, findings.found.size() - first);
  std::vector<FoundArticle> page(findings.found.begin() + static_cast<std::ptrdiff_t>(first),
                                 findings.found.begin() + static_cast<std::ptrdiff_t>(end));
  std::vector<FoundArticle*> unshown;
  for (FoundArticle& article : page) {
    if (!article.details.shown) unshown.push_back(&article);
  }
  RunInOrder<ArticleSnippets>(
      unshown.size(), {.threads = threads}, {},
      [&] {
        return [&](std::size_t at) {
          return ShownAfterSearch(env_, layout_, findings.query, settings_.match, *unshown[at]);
        };
      },
      [&](std::size_t at, ArticleSnippets& shown) {
        unshown[at]->details.shown = std::move(shown);
      });
  return page;
}

std::string SearchService::Json(const Findings& findings, std::span<const FoundArticle> page) {
  std::string json = R"({"matches":[)";
  for (std::size_t index = 0; index < page.size(); ++index) {
    const FoundArticle& article = page[index];
    if (index > 0) json += ',';
    json += JsonMatchData(article.path, article.excerpt, ExcerptText(article.excerpt),
                          (article.details.shown ? &*article.details.shown : nullptr),
                          findings.query.is_words());
  }
  json += R"(],"errors":[)";
  for (std::size_t index = 0; index < findings.errors.size(); ++index) {
    if (index > 0) json += ',';
    const SearchError& error = findings.errors[index];
    json += JsonErrorData(error.message, error.code, error.path);
  }
  json += R"(],"summary":)";
  json += JsonSummaryData({.phrase = findings.phrase,
                           .elapsed = findings.elapsed,
                           .articles_listed = findings.articles_listed,
                           .articles_opened = findings.articles_opened,
                           .articles_matched = static_cast<int32_t>(findings.found.size()),
                           .articles_read = findings.articles_read,
                           .index_state = findings.index_state,
                           .index_reason = findings.index_reason,
                           .terms = findings.query.is_words() ? &findings.query.terms : nullptr});
  return json += '}';
}

}  // namespace kb::server
