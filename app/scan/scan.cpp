#include "app/scan/scan.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "app/base/knowledge_base.h"
#include "app/base/replaceable_texts.h"
#include "files/cold_reads.h"
#include "files/directory_listing.h"
#include "platform/process.h"
#include "support/error_state/error_state.h"
#include "support/pipeline/ordered_pipeline.h"
#include "support/program_texts/program_texts.h"
#include "support/queue/record_queue.h"
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

// The paths of the listed articles, to be read from any thread while the scan runs.
class ArticlePaths {
 public:
  explicit ArticlePaths(Queue<FileRecord>& listing) {
    const int32_t count = listing.Count();
    ends_.reserve(static_cast<std::size_t>(count));
    for (int32_t entry = 1; entry <= count; ++entry) {
      listing.Get(entry);
      bytes_.append(kArticlePathPrefix).append(listing.record().name.clipped());
      ends_.push_back(bytes_.size());
    }
  }

  std::size_t size() const { return ends_.size(); }
  std::string_view operator[](std::size_t index) const {
    const std::size_t begin = index == 0 ? 0 : ends_[index - 1];
    return std::string_view(bytes_).substr(begin, ends_[index] - begin);
  }

 private:
  std::string bytes_;
  std::vector<std::size_t> ends_;  // where each path ends in bytes_
};

// What each thread of the scan reads articles with.
class ArticleReader {
 public:
  ArticleReader(const ArticlePaths& paths, const std::vector<char>& must_read,
                const ScanRequest& request, platform::Env& env, StandbyGate* gate)
      : paths_(paths),
        must_read_(must_read),
        request_(request),
        env_(env, gate),
        file_(ArticleFileDeclaration(), env_),
        matcher_(
            request.phrase, request.match_settings,
            request.kept_bytes > 0 ? StreamSearch::Count::kAll : StreamSearch::Count::kFirstOnly),
        sharing_{.threads = request.threads} {
    if (request.kept_bytes > 0) kept_.emplace(request.kept_bytes);
  }

  // The block file keeps a reference to env_.
  ArticleReader(const ArticleReader&) = delete;
  ArticleReader& operator=(const ArticleReader&) = delete;

  // The articles this thread reads next: opened ahead while they come from the disk.
  void Claimed(std::size_t first, std::size_t end) {
    ahead_.clear();
    for (std::size_t index = first; index < end; ++index) {
      if (must_read_[index]) ahead_.push_back(paths_[index]);
    }
    env_.OpenAhead(ahead_);
  }

  ArticleOutcome operator()(std::size_t index) {
    if (!must_read_[index]) return {};
    const std::string_view path = paths_[index];
    return ScanArticle(path, file_, matcher_, sharing_, request_.stop, request_.inspect_match,
                       kept_ ? &*kept_ : nullptr);
  }

 private:
  const ArticlePaths& paths_;
  const std::vector<char>& must_read_;
  const ScanRequest& request_;
  ColdReadEnv env_;  // opens the gate to the standby threads while articles are not in memory
  std::vector<std::string_view> ahead_;  // the paths to open ahead, kept for their capacity
  BlockFile file_;
  ArticleMatcher matcher_;
  std::optional<KeptArticle> kept_;  // when the request keeps the articles' bytes
  // A large article is read on as many threads as the scan has: the others would soon wait
  // for it, as none may go past it by more than kArticlesInFlight articles.
  ArticleSharing sharing_;
};

}  // namespace

std::size_t DefaultScanThreads() {
  return std::clamp<std::size_t>(platform::ProcessorCount(), 1, kMostDefaultScanThreads);
}

std::string PhraseAsCompared(std::string_view phrase, const MatchSettings& settings) {
  return Upper(phrase, settings.case_table);
}

ScanSummary ScanKnowledgeBase(platform::Env& env, const ScanRequest& request, ScanSink& sink) {
  Queue<FileRecord> listing;
  // Only the names are read back, so the listing need not ask for each file's status.
  if (!ListDirectory(listing, kArticlePattern, 0, ListingDetail::kNames, env)) {
    ReportScanFailure(sink, text::kFolderUnread, kArticleFolder, ErrorCode());
  }

  ScanSummary summary{.articles_listed = listing.Count(),
                      .completed = !request.stop.stop_requested()};
  if (summary.articles_listed == 0) return summary;
  sink.ScanStarted(summary.articles_listed);

  const ArticlePaths paths(listing);
  listing.Dispose();
  std::vector<char> must_read(paths.size(), 1);
  if (request.filter != nullptr) {
    std::vector<std::string_view> names(paths.size());
    for (std::size_t index = 0; index < paths.size(); ++index) {
      names[index] = paths[index].substr(kArticlePathPrefix.size());
    }
    request.filter->ChooseArticles(names, request.phrase, request.match_settings, request.threads,
                                   must_read);
  }
  // Every article lies in the one folder: opened once, it spares each open the lookup of
  // the folder's path.
  platform::FolderEnv articles(env, kArticleFolder);
  // While articles are read from the disk, the standby threads read too (files/cold_reads.h).
  // An index may leave few articles to read, or none: no more of them than articles.
  const auto to_read = static_cast<std::size_t>(std::count(must_read.begin(), must_read.end(), 1));
  const std::size_t standby = std::min({request.io_depth, kMostIoDepth, to_read});
  StandbyGate disk_reads;
  StandbyGate* const gate = standby > 0 ? &disk_reads : nullptr;
  summary.completed = RunInOrder<ArticleOutcome>(
      paths.size(),
      {.threads = request.threads, .window = kArticlesInFlight, .standby = standby, .gate = gate},
      request.stop, [&] { return ArticleReader(paths, must_read, request, articles, gate); },
      [&](std::size_t index, ArticleOutcome& outcome) {
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
      });
  return summary;
}

}  // namespace kb
