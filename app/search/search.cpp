#include "app/search/search.h"

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <utility>

#include "app/base/knowledge_base.h"
#include "app/base/replaceable_texts.h"
#include "app/match/article_snippets.h"
#include "app/page/results_page.h"
#include "app/scan/scan.h"
#include "app/search/result_order.h"
#include "platform/beneath_folder.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

// The most of a found article that its title and snippets are taken from (its hits are counted
// to its end): far more than any page holds, and little enough that the search's memory stays
// within a few tens of MiB of what it is without snippets, however many threads read.
constexpr std::size_t kLargestSnippetArticle = 16 << 20;
// What the scan's copies of the found articles that one read did not take whole may hold at
// once, on all its threads together; an article whose copy does not fit is read again, one
// at a time.
constexpr std::size_t kKeptArticlesBudget = 2 * kLargestSnippetArticle;
// The first read of an article read whole.
constexpr std::size_t kFirstRead = 64 * 1024;

// Reads the article at `path` whole into `bytes`, up to kLargestSnippetArticle bytes; false
// when it cannot be read.
bool ReadWholeArticle(platform::Env& env, std::string_view path, std::string& bytes) {
  std::unique_ptr<platform::File> file;
  uint64_t size = 0;
  std::size_t count = 0;
  bytes.resize(kFirstRead);
  if (platform::OpenFileForReading(env, path, platform::Lock::kNone, bytes, file, count, size) !=
      platform::system_error::kNone) {
    return false;
  }
  const auto wanted = static_cast<std::size_t>(std::min<uint64_t>(size, kLargestSnippetArticle));
  if (count < wanted) {
    bytes.resize(wanted);
    std::size_t rest = 0;
    const std::span<char> room(bytes.data() + count, wanted - count);
    if (file->ReadAt(count, room, rest) != platform::system_error::kNone) return false;
    count += rest;
  }
  bytes.resize(std::min(count, wanted));
  return true;
}

// Passes the scan's findings on: failures and progress to the screen, found articles into
// the report and, unless they are to be handed over in an order once the scan ends, to the
// printers.
class SearchSink final : public ScanSink {
 public:
  SearchSink(SearchScreen& screen, const std::vector<Printer*>& printers, bool hold_back,
             std::vector<FoundArticle>& found)
      : screen_(screen), printers_(printers), hold_back_(hold_back), found_(found) {}

  void ReportFailure(const Failure& failure) override { screen_.ReportFailure(failure); }

  void ScanStarted(int32_t articles) override {
    total_ = articles;
    screen_.ScanStarted(articles);
  }

  void ArticleDone(std::string_view path, ArticleOutcome& outcome) override {
    if (outcome.matched) {
      found_.push_back({.path = std::string(path),
                        .excerpt = std::move(outcome.excerpt),
                        .details = std::move(outcome.details)});
      if (!hold_back_) {
        for (Printer* printer : printers_) printer->ArticleFound(found_.back());
      }
    }
    // The progress counts the articles that could be opened.
    if (outcome.failure.kind != ArticleOutcome::Failure::kOpen)
      screen_.ArticleDone(++done_, total_);
  }
  std::size_t ArticlesSpared(const ListedPaths&, std::size_t first, std::size_t end,
                             const std::stop_token& stop) override {
    if (stop.stop_requested()) return first;
    done_ += static_cast<int32_t>(end - first);
    screen_.ArticleDone(done_, total_);
    return end;
  }

 private:
  SearchScreen& screen_;
  const std::vector<Printer*>& printers_;
  bool hold_back_;
  std::vector<FoundArticle>& found_;
  int32_t total_ = 0;
  int32_t done_ = 0;
};

// What the search collects about each found article, for the page, its order and the
// printers.
struct WantedDetails {
  bool shown = false;    // ArticleDetails::shown: the snippets page
  bool weights = false;  // ArticleDetails::weights: an order by hits or relevance
  bool title = false;    // and in them, whether the title holds the query: by relevance
};

WantedDetails WantedDetailsOf(const SearchRequest& request) {
  WantedDetails wanted{.shown = request.results.style == ResultsStyle::kSnippets};
  for (const std::optional<ResultsOrder> order :
       {wanted.shown ? std::optional(request.results.order) : std::nullopt,
        request.printed_order}) {
    if (!order || *order == ResultsOrder::kName) continue;
    wanted.weights = true;
    wanted.title = wanted.title || *order == ResultsOrder::kRelevance;
  }
  return wanted;
}

// What the search collects about each found article, made on the thread that read it from
// the bytes the scan kept of it; read again only when the scan could not keep them (a read
// failed). None when nothing is wanted.
MatchInspection DetailsInspection(platform::Env& env, const SearchRequest& request,
                                  WantedDetails wanted) {
  if (!wanted.shown && !wanted.weights) return {};
  auto maker = std::make_shared<const SnippetMaker>(request.query, request.match_settings);
  const bool words = request.query.is_words();
  // Read again one at a time: each may take kLargestSnippetArticle bytes and the text made
  // of them.
  auto one_read_again = std::make_shared<std::mutex>();
  // What is left of SearchRequest::shown_ahead; below zero once spent.
  auto ahead_left =
      std::make_shared<std::atomic<int64_t>>(static_cast<int64_t>(request.shown_ahead));
  return [&env, maker, one_read_again, ahead_left, words,
          wanted](const InspectedArticle& found) -> ArticleDetails {
    ArticleDetails details;
    if (wanted.weights) {
      details.weights = ArticleWeights{.term_hits = found.outcome.term_hits,
                                       .length = found.outcome.length.value_or(0)};
    }
    // Made ahead only from a copy the scan kept: never an article read again for it.
    const bool kept = found.bytes && found.outcome.hits;
    const bool shown = wanted.shown || (kept && ahead_left->fetch_sub(1) > 0);
    if (!shown && !wanted.title) return details;
    // What the article shows, and whether its title holds the phrase, from `article`: all of
    // it or its start as the scan kept it, or all of it read again.
    const auto collect = [&](std::string_view article, bool read_again) {
      if (shown) {
        const auto hits = static_cast<int64_t>(found.outcome.hits.value_or(0));
        if (!read_again) {
          details.shown = maker->Make(article, hits, found.hit_starts, found.outcome.term_hits);
        } else if (found.outcome.hits &&
                   found.outcome.failure.kind == ArticleOutcome::Failure::kNone) {
          // A copy that did not fit: the scan counted the hits to the article's end. Where
          // words were found tells only where their text is made, each hit found again there;
          // a phrase's would be taken as its hits.
          details.shown =
              maker->Make(article, hits, words ? found.hit_starts : std::span<const uint64_t>(),
                          found.outcome.term_hits);
        } else {
          details.shown = maker->Make(article);
        }
      }
      if (wanted.title) {
        details.weights->title_holds_every_term =
            details.shown ? details.shown->title_holds_terms
                          : maker->TitleHoldsTerms(SnippetMaker::Title(article));
      }
    };
    if (kept) {
      collect(*found.bytes, false);
      return details;
    }
    const std::lock_guard lock(*one_read_again);
    std::string article;
    if (ReadWholeArticle(env, found.path, article)) {
      collect(article, true);
    } else if (shown) {
      details.shown = ArticleSnippets{};
    }
    return details;
  };
}

// Hands the found articles to the printers in `order`.
void PrintInOrder(const std::vector<FoundArticle>& found, ResultsOrder order,
                  const std::vector<Printer*>& printers) {
  for (const std::size_t at : ResultOrder(found, order)) {
    for (Printer* printer : printers) printer->ArticleFound(found[at]);
  }
}

// The steps that follow the scan; false when a stop request spares the rest.
bool PublishResults(platform::Env& env, const SearchRequest& request, SearchScreen& screen,
                    const std::vector<Printer*>& printers, SearchReport& report) {
  if (report.articles_listed == 0 || request.page_handling == PageHandling::kNone) return true;
  for (Printer* printer : printers) printer->DeliverResults();
  if (request.stop.stop_requested()) return false;
  screen.PageBeingWritten();
  // A stop while the page is written leaves the old page in place.
  WriteResultsPage(
      env, request.templates, report.found, report.rows, report.phrase, screen, request.stop,
      request.results.style,
      {.path = request.knowledge_base.page, .link_base = request.knowledge_base.link_base});
  if (request.stop.stop_requested()) return false;
  if (request.page_handling == PageHandling::kOpenInBrowser) {
    screen.BrowserStarting();
    report.launch = LaunchBrowser(request.knowledge_base.page, screen);
  }
  return true;
}

}  // namespace

void ShowSettingsProblems(const std::vector<SettingsProblem>& problems, FailureReporter& screen,
                          SettingsSource source) {
  const ReplaceableText& lead = source == SettingsSource::kUser
                                    ? text::kSettingsProblem
                                    : text::kKnowledgeBaseSettingsProblem;
  for (const SettingsProblem& problem : problems) {
    const std::string text = Concat({ProgramText(lead), problem.Describe()});
    screen.ReportFailure({.text = text, .path = problem.file});
  }
}

PageTemplates LoadTemplates(platform::Env& env, FailureReporter& screen,
                            const KnowledgeBase& base) {
  const auto missing = [&env](std::string_view name) {
    platform::FileStatus status;
    return env.PathStatus(name, /*follow_links=*/true, status) ==
           platform::system_error::kFileNotFound;
  };
  if (!base.ListsArticleFolder() && missing(base.header_template) &&
      missing(base.footer_template)) {
    return PlainPageTemplates();
  }
  return LoadPageTemplates(env, screen, base.header_template, base.footer_template);
}

SearchReport RunSearch(platform::Env& env, const SearchRequest& request, SearchScreen& screen,
                       const std::vector<Printer*>& printers) {
  SearchReport report;
  report.phrase = PhraseAsCompared(request.query.text, request.match_settings);
  SearchSink sink(screen, printers, request.printed_order.has_value(), report.found);
  KeptBudget kept_budget(kKeptArticlesBudget);
  const WantedDetails wanted = WantedDetailsOf(request);
  // A tree's articles, read again for their details, are opened beneath its root as the scan
  // opens them.
  std::optional<platform::BeneathEnv> beneath_root;
  platform::Env& article_env =
      request.knowledge_base.ListsArticleFolder() ? env : beneath_root.emplace(env);
  const ScanRequest scan{
      .knowledge_base = request.knowledge_base,
      .query = request.query,
      .match_settings = request.match_settings,
      .threads = request.threads == 0 ? DefaultScanThreads() : request.threads,
      .stop = request.stop,
      .filter = request.filter,
      .inspect_match = request.inspect_match ? request.inspect_match
                                             : DetailsInspection(article_env, request, wanted),
      .kept_bytes = wanted.shown || wanted.weights ? kLargestSnippetArticle : 0,
      .kept_budget = &kept_budget,
      .io_depth = request.io_depth.value_or(request.threads == 0 ? kDefaultIoDepth : 0),
      .listing = request.listing,
      .before_article = request.before_article};
  const ScanSummary summary = ScanKnowledgeBase(env, scan, sink);
  report.articles_listed = summary.articles_listed;
  report.articles_opened = summary.articles_opened;
  screen.ScanEnded(report.phrase);
  report.rows = ResultOrder(report.found, request.results.style == ResultsStyle::kSnippets
                                              ? request.results.order
                                              : ResultsOrder::kName);
  if (summary.completed && request.printed_order) {
    PrintInOrder(report.found, *request.printed_order, printers);
  }

  const bool completed =
      summary.completed && PublishResults(env, request, screen, printers, report);
  report.outcome = completed ? SearchOutcome::kCompleted : SearchOutcome::kCancelled;
  screen.SearchEnded();
  for (Printer* printer : printers) printer->SearchDone(report);
  return report;
}

ArticleSnippets ShownAfterSearch(platform::Env& env, const KnowledgeBase& base, const Query& query,
                                 const MatchSettings& settings, const FoundArticle& found) {
  std::optional<platform::BeneathEnv> beneath_root;
  platform::Env& article_env = base.ListsArticleFolder() ? env : beneath_root.emplace(env);
  std::string article;
  if (!ReadWholeArticle(article_env, found.path, article)) return {};
  const SnippetMaker maker(query, settings);
  if (const std::optional<ArticleWeights>& weights = found.details.weights) {
    return maker.Make(article, static_cast<int64_t>(weights->hits()), {}, weights->term_hits);
  }
  return maker.Make(article);
}

}  // namespace kb
