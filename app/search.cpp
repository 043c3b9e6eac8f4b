#include "app/search.h"

#include "app/browser_launch.h"
#include "app/results_page.h"
#include "app/scan.h"
#include "app/templates.h"

namespace kb {
namespace {

// The steps that follow the scan; false when a stop request spares the rest.
bool PublishResults(SearchState& state, SearchScreen& screen, const SearchOptions& options) {
  if (state.file_queue.Count() == 0 || options.page_handling == PageHandling::kNone) return true;
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
      .io_depth = options.io_depth.value_or(options.threads == 0 ? kDefaultIoDepth : 0)};
  const bool completed =
      ScanKnowledgeBase(state, screen, scan) && PublishResults(state, screen, options);
  screen.ShowStatus("");
  return completed ? SearchOutcome::kCompleted : SearchOutcome::kCancelled;
}

}  // namespace kb
