#include "app/search.h"

#include "app/browser_launch.h"
#include "app/results_page.h"
#include "app/scan.h"
#include "app/templates.h"

namespace kb {

void LoadTemplates(SearchState& state, SearchScreen& screen) {
  LoadPageTemplates(state, screen);
}

void RunSearch(SearchState& state, SearchScreen& screen, PageHandling handling) {
  ScanKnowledgeBase(state, screen);
  if (state.file_queue.Count() > 0) {
    WriteResultsPage(state, screen);
    if (handling == PageHandling::kOpenInBrowser) LaunchBrowser(state, screen);
  }
  screen.ShowStatus("");
}

}  // namespace kb
