#include "app/search/search.h"

#include "app/page/results_page.h"
#include "app/page/templates.h"
#include "app/scan/scan.h"
#include "app/search/browser_launch.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

// The steps that follow the scan; false when a stop request spares the rest.
bool PublishResults(SearchState& state, SearchScreen& screen, const SearchOptions& options) {
  if (state.file_queue.Count() == 0 || options.page_handling == PageHandling::kNone) return true;
  screen.DeliverResults();
  if (options.stop.stop_requested()) return false;
  // A stop while the page is written leaves the old page in place.
  WriteResultsPage(state, screen, options.stop);
  if (options.stop.stop_requested()) return false;
  if (options.page_handling == PageHandling::kOpenInBrowser) LaunchBrowser(state, screen);
  return true;
}

}  // namespace

void LoadTemplates(SearchState& state, SearchScreen& screen) {
  LoadPageTemplates(state, screen);
}

SearchOutcome RunSearch(SearchState& state, SearchScreen& screen, const SearchOptions& options) {
  const ScanOptions scan{
      .threads = options.threads == 0 ? DefaultScanThreads() : options.threads,
      .stop = options.stop,
      .filter = options.filter,
      .io_depth = options.io_depth.value_or(options.threads == 0 ? kDefaultIoDepth : 0)};
  const bool completed =
      ScanKnowledgeBase(state, screen, scan) && PublishResults(state, screen, options);
  screen.ShowStatus("");
  return completed ? SearchOutcome::kCompleted : SearchOutcome::kCancelled;
}

void ShowSettingsProblems(const std::vector<SettingsProblem>& problems, SearchScreen& screen,
                          SettingsSource source) {
  const TextId lead = source == SettingsSource::kUser ? TextId::kSettingsProblem
                                                      : TextId::kKnowledgeBaseSettingsProblem;
  for (const SettingsProblem& problem : problems) {
    const std::string text = Concat({ProgramText(lead), problem.Describe()});
    screen.ReportFailure({.text = text, .path = problem.file});
  }
}

}  // namespace kb
