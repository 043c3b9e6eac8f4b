#pragma once

// What a front end does with the search: show the settings file's problems and load the page
// templates once at start, and run one search for each press of Search.

#include <cstddef>
#include <optional>
#include <stop_token>

#include "app/scan/article_filter.h"
#include "app/setup/settings_file.h"
#include "app/state/search_screen.h"
#include "app/state/search_state.h"

namespace kb {

// Shows each problem in a message box of its own, as the template messages are shown: the
// text "Problem in the settings file: " (or, for SettingsSource::kKnowledgeBase, "Problem in
// the knowledge base's settings file: "; the program's texts in use) and the problem
// described, an empty caption, no icon, a single OK button. A front end shows them once, at
// start, before the templates are read.
void ShowSettingsProblems(const std::vector<SettingsProblem>& problems, SearchScreen& screen,
                          SettingsSource source = SettingsSource::kUser);

// Loads lheader.htm and lfooter.htm from the current directory into the header and footer
// queues. A template that cannot be opened is reported in a message box.
void LoadTemplates(SearchState& state, SearchScreen& screen);

// What a search does with the results page.
enum class PageHandling {
  kOpenInBrowser,  // write it and hand it to the browser (the window; kbsearch-cli --open)
  kWriteOnly,      // write it and leave it on disk (kbsearch-cli)
  kNone,           // neither write it nor start anything (kbsearch-cli --list)
};

struct SearchOptions {
  PageHandling page_handling = PageHandling::kOpenInBrowser;
  // Threads reading articles at once, the one that runs the search included: 0 for
  // DefaultScanThreads() (app/scan/scan.h), 1 to read them one after another on that thread.
  std::size_t threads = 0;
  // Asks the search to stop, from any thread (a std::stop_source's token).
  std::stop_token stop = {};
  // When set, spares the scan the articles it knows need no reading (app/scan/article_filter.h).
  ArticleFilter* filter = nullptr;
  // Articles read ahead of those threads while the articles are not in memory (ScanOptions):
  // none given, kDefaultIoDepth (app/scan/scan.h) with the default threads and none with a
  // number of threads given, so that a number of threads means those threads alone.
  std::optional<std::size_t> io_depth = std::nullopt;
};

enum class SearchOutcome {
  kCompleted,
  kCancelled,  // stopped through SearchOptions::stop
};

// One search for state.search_text in the current directory: scans the articles; when at
// least one article file was listed, writes ZebResult.htm and, unless asked to write only,
// hands it to the browser (with PageHandling::kNone, neither); then clears the status line.
// Failures are reported through screen.ReportFailure; none ends the program.
//
// RunSearch may run on any thread, one search at a time for a state; it calls `screen` on
// that thread alone (app/state/search_screen.h) and uses `state` alone until it returns. To cancel
// it from another thread, request a stop of options.stop's source: the scan stops within
// one block of the articles being read, the threads it made are gone when RunSearch returns,
// and the result is kCancelled. A cancelled search writes no page and starts no browser, so
// the previous page stays as it was (a stop that comes while the page is being written
// leaves the old page in place; one that comes after the new page took its place spares only
// the browser); the bar is hidden, the window redrawn and the status line cleared as after
// any search, and state.result_queue holds the articles found before the stop.
SearchOutcome RunSearch(SearchState& state, SearchScreen& screen,
                        const SearchOptions& options = {});

}  // namespace kb
