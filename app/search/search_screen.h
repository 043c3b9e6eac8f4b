#pragma once

// What a search tells its screen, as search events: the scan started, an article was done,
// the scan ended, the page is being written, the browser is being started, the search ended,
// and each failure to show. The window shows them with its controls, the console front end
// on the terminal, tests with a recorder. A screen shows what an event means (a status
// text, a progress bar) as it sees fit.
//
// A search calls its screen only from the thread that runs it (RunSearch in
// app/search/search.h), never from the threads that read articles for it, so a screen needs
// no locking of its own; one that runs the search on a thread other than the window's passes
// the events on to the window's thread itself (app/window/main_window.h).

#include <cstdint>
#include <string_view>

#include "app/base/failure.h"

namespace kb {

class SearchScreen : public FailureReporter {
 public:
  // The scan has listed `articles` articles (at least one) and starts on them: the stage
  // text "Searching through files..." and a progress bar at 0.
  virtual void ScanStarted(int32_t articles) = 0;
  // One more article was opened and searched: `done` of `total` (the progress bar shows
  // PercentOf(done, total), support/text/text.h).
  virtual void ArticleDone(int32_t done, int32_t total) = 0;
  // The scan is over, whether it listed articles or not, and compared `phrase` (the phrase
  // upper-cased, as the page shows it): a progress bar shown goes.
  virtual void ScanEnded(std::string_view phrase) = 0;
  // The stage text "Creating index page...".
  virtual void PageBeingWritten() = 0;
  // The stage text "Executing browser...".
  virtual void BrowserStarting() = 0;
  // The search is over: the stage text goes.
  virtual void SearchEnded() = 0;

  // Shows a modal message box and returns the bit (or number) of the button pressed, once
  // the user has answered. The texts are passed as they were built; trailing blanks are the
  // box's to remove.
  virtual int32_t ShowMessage(std::string_view text, std::string_view caption,
                              std::string_view icon, std::string_view buttons,
                              int32_t default_button, int32_t style) = 0;

  // By default a failure shows its message box and nothing else, so a screen that shows only
  // text (the window) overrides ShowMessage alone.
  void ReportFailure(const Failure& failure) override {
    ShowMessage(failure.text, failure.caption, failure.icon, "", 0, 0);
  }
};

}  // namespace kb
