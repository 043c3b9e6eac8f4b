#include "app/scan.h"

#include <string>

#include "app/article_matcher.h"
#include "files/access_mode.h"
#include "support/error_state/error_state.h"
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

// Reads the listed article `name` and appends it to the results when it matches. Returns
// false when it could not be opened (after reporting it). `path` is room for the article's
// path, reused from one article to the next.
bool ScanArticle(std::string_view name, ArticleMatcher& matcher, std::string& path,
                 SearchState& state, SearchScreen& screen) {
  BlockFile& file = state.article_file;
  path.assign(kArticlePathPrefix).append(name);
  file.name().Assign(path);
  file.Open(access_mode::kRead | access_mode::kDenyWrite);
  if (ErrorCode() != 0) {
    screen.ShowMessage(Concat({"Could not open file: ", file.name().clipped(),
                               "|Error: ", NumberToText(ErrorCode()), ", ", ErrorText()}),
                       "", "", "", 0, 0);
    return false;
  }

  file.Set();
  matcher.StartArticle();
  while (!matcher.settled()) {
    file.Next();
    if (ErrorCode() != 0) break;
    matcher.Feed(std::string_view(file.block().data(), file.last_count()));
  }
  file.Close();

  if (matcher.is_result()) {
    ResultRecord& result = state.result_queue.record();
    result.file.Assign(file.name().view());
    result.excerpt.Assign(matcher.excerpt());
    state.result_queue.Append();
  }
  return true;
}

}  // namespace

void ScanKnowledgeBase(SearchState& state, SearchScreen& screen) {
  state.search_text.Assign(Upper(state.search_text.view()));
  state.file_queue.Free();
  // Only the names are read back, so the listing need not ask for each file's status.
  ListDirectory(state.file_queue, kArticlePattern, 0, ListingDetail::kNames, state.env);

  const int32_t listed = state.file_queue.Count();
  if (listed > 0) {
    screen.ShowStatus(kSearchingStatus);
    StartProgress(state, screen);
    state.files_total = listed;
    state.result_queue.Free();

    ArticleMatcher matcher(state.search_text.view());
    std::string path;
    for (int32_t entry = 1; entry <= listed; ++entry) {
      state.file_queue.Get(entry);
      if (ScanArticle(state.file_queue.record().name.clipped(), matcher, path, state, screen)) {
        StepProgress(state, screen);
      }
    }
    EndProgress(state, screen);
  }
  screen.RedrawWindow();
}

}  // namespace kb
