#include "app/scan/scan.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/base/knowledge_base.h"
#include "app/base/replaceable_texts.h"
#include "files/cold_reads.h"
#include "files/directory_listing.h"
#include "files/tree_listing.h"
#include "platform/beneath_folder.h"
#include "platform/process.h"
#include "support/error_state/error_state.h"
#include "support/pipeline/ordered_pipeline.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

// A failure reported as every failure of the scan is: its text, an empty caption, no icon and
// a single OK button. The error's text comes with its blank filling, as the error state gives
// it.
void ReportScanFailure(FailureReporter& reporter, const ReplaceableText& what,
                       std::string_view path, int32_t error_code) {
  const std::string text =
      Concat({ProgramText(what), path, ProgramText(text::kErrorJoiner), NumberToText(error_code),
              ", ", ErrorTextOf(ErrorMessage(error_code)).view()});
  reporter.ReportFailure({.text = text, .error_code = error_code, .path = path});
}

// What each thread of the scan reads articles with: its step `step` reads the article
// `to_read[step]` of the listing.
class ArticleReader {
 public:
  ArticleReader(const ListedPaths& paths, const std::vector<std::size_t>& to_read,
                const PlacesToLook& places, const ScanRequest& request, platform::Env& env,
                StandbyGate* gate)
      : paths_(paths),
        to_read_(to_read),
        places_(places),
        request_(request),
        env_(env, gate),
        file_(ArticleFileDeclaration(request.knowledge_base.LongestArticlePath()), env_),
        matcher_(MakeQueryMatcher(
            request.query, request.match_settings,
            request.kept_bytes > 0 ? StreamSearch::Count::kAll : StreamSearch::Count::kFirstOnly)),
        sharing_{.threads = request.threads} {
    if (request.kept_bytes > 0) kept_.emplace(request.kept_bytes, *request.kept_budget);
  }

  // The block file keeps a reference to env_.
  ArticleReader(const ArticleReader&) = delete;
  ArticleReader& operator=(const ArticleReader&) = delete;

  // The articles this thread reads next, steps first to end - 1: opened ahead while they come
  // from the disk.
  void Claimed(std::size_t first, std::size_t end) {
    ahead_.clear();
    for (std::size_t step = first; step < end; ++step) ahead_.push_back(paths_[to_read_[step]]);
    env_.OpenAhead(ahead_);
  }

  ArticleOutcome operator()(std::size_t step) {
    if (request_.before_article) request_.before_article();
    const std::size_t place = to_read_[step];
    return ScanArticle(paths_[place], file_, *matcher_, sharing_, request_.stop,
                       request_.inspect_match, kept_ ? &*kept_ : nullptr, places_.Of(place));
  }

 private:
  const ListedPaths& paths_;
  const std::vector<std::size_t>& to_read_;
  const PlacesToLook& places_;
  const ScanRequest& request_;
  ColdReadEnv env_;  // opens the gate to the standby threads while articles are not in memory
  std::vector<std::string_view> ahead_;  // the paths to open ahead, kept for their capacity
  BlockFile file_;
  std::unique_ptr<QueryMatcher> matcher_;
  std::optional<KeptArticle> kept_;  // when the request keeps the articles' bytes
  // A large article is read on as many threads as the scan has: the others would soon wait
  // for it, as none may go past it by more than kArticlesInFlight articles.
  ArticleSharing sharing_;
};

// The articles of the listing to read, by their places in it: those the filter, if any,
// does not spare; and where in them the filter says to look.
std::vector<std::size_t> ArticlesToRead(const ListedPaths& paths, const ScanRequest& request,
                                        PlacesToLook& places) {
  std::vector<char> must_read(paths.size(), 1);
  if (request.filter != nullptr) {
    std::vector<std::string_view> names(paths.size());
    for (std::size_t index = 0; index < paths.size(); ++index) {
      names[index] = paths.name(index);
    }
    request.filter->ChooseArticles(names, request.query, request.match_settings, request.threads,
                                   must_read, places);
  }
  std::vector<std::size_t> to_read;
  to_read.reserve(static_cast<std::size_t>(std::count(must_read.begin(), must_read.end(), 1)));
  for (std::size_t index = 0; index < must_read.size(); ++index) {
    if (must_read[index]) to_read.push_back(index);
  }
  return to_read;
}

}  // namespace

bool ListArticles(platform::Env& env, const KnowledgeBase& base, ListedPaths& paths,
                  FailureReporter& reporter, std::vector<std::string>* walked) {
  if (base.ListsArticleFolder()) {
    if (ListPaths(paths, kArticlePattern, kArticlePathPrefix, 0, env)) return true;
    ReportScanFailure(reporter, text::kFolderUnread, kArticleFolder, ErrorCode());
    return false;
  }
  std::vector<TreeProblem> problems;
  const bool listed = ListTree(paths,
                               {.articles = base.articles,
                                .exclude = base.exclude,
                                .most_depth = base.most_depth,
                                .most_articles = base.most_articles,
                                .walked = walked},
                               problems, env);
  if (!listed && problems.empty()) {
    ReportScanFailure(reporter, text::kFolderUnread, ".", ErrorCode());
  }
  for (const TreeProblem& problem : problems) {
    switch (problem.kind) {
      case TreeProblem::Kind::kFolderUnread:
        ReportScanFailure(reporter, text::kFolderUnread, problem.path, problem.error_code);
        break;
      case TreeProblem::Kind::kTooDeep:
      case TreeProblem::Kind::kTooMany: {
        const bool deep = problem.kind == TreeProblem::Kind::kTooDeep;
        const std::string text =
            Concat({ProgramText(deep ? text::kFolderTooDeep : text::kTooManyArticles),
                    NumberToText(static_cast<int32_t>(deep ? base.most_depth : base.most_articles)),
                    ProgramText(text::kLimitJoiner), problem.path});
        reporter.ReportFailure({.text = text, .path = problem.path});
        break;
      }
    }
  }
  return listed;
}

std::size_t DefaultScanThreads() {
  return std::clamp<std::size_t>(platform::ProcessorCount(), 1, kMostDefaultScanThreads);
}

std::string PhraseAsCompared(std::string_view phrase, const MatchSettings& settings) {
  return Upper(phrase, settings.case_table);
}

std::size_t ScanSink::ArticlesSpared(const ListedPaths& paths, std::size_t first, std::size_t end,
                                     const std::stop_token& stop) {
  // The outcome is made again only after a sink changed it.
  const ArticleOutcome no_match;
  ArticleOutcome spared;
  for (std::size_t at = first; at < end; ++at) {
    if (stop.stop_requested()) return at;
    ArticleDone(paths[at], spared);
    if (!(spared == no_match)) spared = ArticleOutcome{};
  }
  return end;
}

ScanSummary ScanKnowledgeBase(platform::Env& env, const ScanRequest& request, ScanSink& sink) {
  // What the filter does without the listing overlaps it.
  if (request.filter != nullptr) request.filter->Prepare(request.query, request.match_settings);
  const KnowledgeBase& base = request.knowledge_base;
  ListedPaths paths;
  if (request.listing != nullptr) {
    request.listing->List(env, base, paths, sink);
  } else {
    ListArticles(env, base, paths, sink);
  }

  ScanSummary summary{.articles_listed = static_cast<int32_t>(paths.size()),
                      .completed = !request.stop.stop_requested()};
  if (summary.articles_listed == 0) return summary;
  sink.ScanStarted(summary.articles_listed);

  PlacesToLook places;
  const std::vector<std::size_t> to_read = ArticlesToRead(paths, request, places);
  // Every article of the folder ZEB lies in it: opened once, it spares each open the lookup of
  // the folder's path. A tree's articles are opened beneath its root, so that none swapped
  // for a link that leads out since the listing is read.
  std::optional<platform::FolderEnv> article_folder;
  std::optional<platform::BeneathEnv> beneath_root;
  platform::Env& articles =
      base.ListsArticleFolder()
          ? static_cast<platform::Env&>(article_folder.emplace(env, kArticleFolder))
          : beneath_root.emplace(env);
  // While articles are read from the disk, the standby threads read too (files/cold_reads.h).
  // An index may leave few articles to read, or none: no more of them than articles.
  const std::size_t standby = std::min({request.io_depth, kMostIoDepth, to_read.size()});
  StandbyGate disk_reads;
  StandbyGate* const gate = standby > 0 ? &disk_reads : nullptr;

  const auto hand_over = [&](std::size_t index, ArticleOutcome& outcome) {
    const std::string_view path = paths[index];
    const ArticleOutcome::Failure& failure = outcome.failure;
    switch (failure.kind) {
      case ArticleOutcome::Failure::kNone:
        break;
      case ArticleOutcome::Failure::kOpen:
        ReportScanFailure(sink, text::kArticleUnopened, path, failure.error_code);
        break;
      case ArticleOutcome::Failure::kRead:
        ReportScanFailure(sink, text::kArticleUnread, path, failure.error_code);
        break;
    }
    if (failure.kind != ArticleOutcome::Failure::kOpen) ++summary.articles_opened;
    sink.ArticleDone(path, outcome);
  };
  // Only the articles read pass through the pipeline; the spared ones between two of them
  // are handed over in one go (ScanSink::ArticlesSpared) before the next one read. As the
  // pipeline does, a stop is asked before each hand-over.
  std::size_t handed = 0;  // the articles of the listing handed to the sink so far
  bool stopped = false;
  // False when a stop came before every article up to `end` (excluded) was handed over.
  const auto hand_spared_until = [&](std::size_t end) {
    if (handed < end) {
      const std::size_t taken = sink.ArticlesSpared(paths, handed, end, request.stop);
      summary.articles_opened += static_cast<int32_t>(taken - handed);
      handed = taken;
    }
    return handed == end && !request.stop.stop_requested();
  };
  summary.completed = RunInOrder<ArticleOutcome>(
      to_read.size(),
      {.threads = request.threads, .window = kArticlesInFlight, .standby = standby, .gate = gate},
      request.stop, [&] { return ArticleReader(paths, to_read, places, request, articles, gate); },
      [&](std::size_t step, ArticleOutcome& outcome) {
        stopped = stopped || !hand_spared_until(to_read[step]);
        if (!stopped) hand_over(handed++, outcome);
      });
  summary.completed = summary.completed && !stopped && hand_spared_until(paths.size());
  return summary;
}

}  // namespace kb
