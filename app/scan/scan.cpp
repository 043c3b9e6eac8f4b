#include "app/scan/scan.h"

#include <algorithm>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "app/match/article_snippets.h"
#include "app/scan/article_scan.h"
#include "files/read_ahead.h"
#include "platform/process.h"
#include "support/error_state/error_state.h"
#include "support/pipeline/ordered_pipeline.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

void StartProgress(SearchState& state, SearchScreen& screen) {
  state.progress_percent = 0;
  state.files_done = 0;
  state.files_total = 0;
  screen.ShowProgressBar();
}

void StepProgress(SearchState& state, SearchScreen& screen) {
  ++state.files_done;
  state.progress_percent = static_cast<uint8_t>(PercentOf(state.files_done, state.files_total));
  screen.RedrawProgressBar(state.progress_percent);
}

void EndProgress(SearchState& state, SearchScreen& screen) {
  state.progress_percent = 0;
  screen.HideProgressBar();
}

// A failure reported as every failure of the scan is: its text, an empty caption, no icon and
// a single OK button.
void ShowFailure(SearchScreen& screen, TextId what, std::string_view path, int32_t error_code,
                 std::string_view error_text) {
  const std::string text = Concat({ProgramText(what), path, ProgramText(TextId::kErrorJoiner),
                                   NumberToText(error_code), ", ", error_text});
  screen.ReportFailure({.text = text, .error_code = error_code, .path = path});
}

// The paths of the listed articles, to be read from any thread while the scan runs (the
// listing's queue reads through its one record buffer).
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

// Reads the article at `path` whole into `bytes`, up to kLargestSnippetArticle bytes; false
// when it cannot be read.
bool ReadWholeArticle(platform::Env& env, std::string_view path, std::string& bytes) {
  std::unique_ptr<platform::File> file;
  uint64_t size = 0;
  std::size_t count = 0;
  bytes.resize(kBlockSize);
  if (platform::OpenFileForReading(env, path, platform::Lock::kNone, bytes, file, count, size) !=
      platform::system_error::kNone) {
    return false;
  }
  const std::size_t wanted =
      static_cast<std::size_t>(std::min<uint64_t>(size, kLargestSnippetArticle));
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

// What each thread of the scan reads articles with.
class ArticleReader {
 public:
  ArticleReader(const ArticlePaths& paths, const std::vector<char>& must_read,
                std::string_view phrase, const MatchSettings& settings, bool snippets,
                platform::Env& env, std::size_t threads, ReadAhead* read_ahead,
                std::stop_token stop)
      : paths_(paths),
        must_read_(must_read),
        env_(env),
        file_(ArticleFileDeclaration(), env),
        matcher_(phrase, settings),
        sharing_{.threads = threads},
        read_ahead_(read_ahead),
        stop_(std::move(stop)) {
    if (snippets) snippet_maker_.emplace(phrase, settings);
  }

  ArticleOutcome operator()(std::size_t index) {
    if (!must_read_[index]) return {};
    if (read_ahead_ != nullptr) read_ahead_->Reached(index);
    ArticleOutcome outcome = ScanArticle(paths_[index], file_, matcher_, sharing_, stop_);
    if (snippet_maker_ && outcome.matched && !stop_.stop_requested()) {
      // Read again whole, now that it is known to be shown: the scan reads only as far as the
      // outcome needs, and no further than the block at hand.
      if (ReadWholeArticle(env_, paths_[index], article_)) {
        outcome.snippets = snippet_maker_->Make(article_);
      }
    }
    return outcome;
  }

 private:
  const ArticlePaths& paths_;
  const std::vector<char>& must_read_;
  platform::Env& env_;
  BlockFile file_;
  ArticleMatcher matcher_;
  std::optional<SnippetMaker> snippet_maker_;  // when the page shows snippets
  std::string article_;                        // the article read whole for its snippets
  // A large article is read on as many threads as the scan has: the others would soon wait
  // for it, as none may go past it by more than kArticlesInFlight articles.
  ArticleSharing sharing_;
  ReadAhead* read_ahead_;  // null: none
  std::stop_token stop_;
};

// What the search does for one article once its turn has come: report a failure, keep a
// match, step the progress for an article that was opened.
void Present(std::string_view path, const ArticleOutcome& outcome, SearchState& state,
             SearchScreen& screen) {
  switch (outcome.failure) {
    case ArticleOutcome::Failure::kNone:
      break;
    case ArticleOutcome::Failure::kOpen:
      ShowFailure(screen, TextId::kArticleUnopened, path, outcome.error_code,
                  outcome.error_text.view());
      return;
    case ArticleOutcome::Failure::kRead:
      ShowFailure(screen, TextId::kArticleUnread, path, outcome.error_code,
                  outcome.error_text.view());
      break;
  }
  if (outcome.matched) {
    ResultRecord& result = state.result_queue.record();
    result.file.Assign(path);
    result.excerpt.Assign(outcome.excerpt);
    state.result_queue.Append();
    const bool snippets = state.results_settings.style == ResultsStyle::kSnippets;
    if (snippets) state.result_snippets.push_back(outcome.snippets);
    screen.ShowResult(path, outcome.excerpt, snippets ? &outcome.snippets : nullptr);
  }
  StepProgress(state, screen);
}

}  // namespace

std::size_t DefaultScanThreads() {
  return std::clamp<std::size_t>(platform::ProcessorCount(), 1, kMostDefaultScanThreads);
}

bool ScanKnowledgeBase(SearchState& state, SearchScreen& screen, const ScanOptions& options) {
  // The phrase is matched as it was typed, the settings deciding what matches it: case pairs
  // meant for a single-byte code page would break a UTF-8 phrase upper-cased through them.
  const std::string phrase(state.search_text.view());
  state.search_text.Assign(Upper(phrase, state.match_settings.case_table));
  state.file_queue.Free();
  // Only the names are read back, so the listing need not ask for each file's status.
  if (!ListDirectory(state.file_queue, kArticlePattern, 0, ListingDetail::kNames, state.env)) {
    ShowFailure(screen, TextId::kFolderUnread, kArticleFolder, ErrorCode(), ErrorText());
  }

  bool completed = !options.stop.stop_requested();
  const int32_t listed = state.file_queue.Count();
  if (listed > 0) {
    screen.ShowStatus(ProgramText(TextId::kSearchingStatus));
    StartProgress(state, screen);
    state.files_total = listed;
    state.result_queue.Free();
    state.result_snippets.clear();

    const ArticlePaths paths(state.file_queue);
    std::vector<char> must_read(paths.size(), 1);
    if (options.filter != nullptr) {
      std::vector<std::string_view> names(paths.size());
      for (std::size_t index = 0; index < paths.size(); ++index) {
        names[index] = paths[index].substr(kArticlePathPrefix.size());
      }
      options.filter->ChooseArticles(names, phrase, state.match_settings, options.threads,
                                     must_read);
    }
    // Every article lies in the one folder: opened once, it spares each open the lookup of
    // the folder's path.
    platform::FolderEnv articles(state.env, kArticleFolder);
    std::optional<ReadAhead> read_ahead;
    if (options.io_depth > 0) {
      // Only the articles that are to be read are read ahead.
      read_ahead.emplace(
          articles, paths.size(),
          [&paths, &must_read](std::size_t index) {
            return must_read[index] ? paths[index] : std::string_view();
          },
          ReadAheadSettings{.depth = options.io_depth});
    }
    completed = RunInOrder<ArticleOutcome>(
        paths.size(), {.threads = options.threads, .window = kArticlesInFlight}, options.stop,
        [&] {
          return ArticleReader(paths, must_read, phrase, state.match_settings,
                               state.results_settings.style == ResultsStyle::kSnippets, articles,
                               options.threads, read_ahead ? &*read_ahead : nullptr, options.stop);
        },
        [&](std::size_t index, const ArticleOutcome& outcome) {
          Present(paths[index], outcome, state, screen);
        });
    EndProgress(state, screen);
  }
  screen.RedrawWindow();
  return completed;
}

}  // namespace kb
