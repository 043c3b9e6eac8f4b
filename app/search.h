#pragma once

// The two things a front end does with the search: load the page templates once at start,
// and run one search for each press of Search.

#include "app/search_screen.h"
#include "app/search_state.h"

namespace kb {

// Loads lheader.htm and lfooter.htm from the current directory into the header and footer
// queues. A template that cannot be opened is reported in a message box.
void LoadTemplates(SearchState& state, SearchScreen& screen);

// What a search does with the results page once it is written.
enum class PageHandling {
  kOpenInBrowser,  // hand it to the browser (the window; the console front end's --open)
  kWriteOnly,      // leave it on disk (the console front end without --open)
};

// One search for state.search_text in the current directory: scans the articles; when at
// least one article file was listed, writes ZebResult.htm and, unless asked to write only,
// hands it to the browser; then clears the status line. Failures are reported in message
// boxes; none ends the program.
void RunSearch(SearchState& state, SearchScreen& screen,
               PageHandling handling = PageHandling::kOpenInBrowser);

}  // namespace kb
