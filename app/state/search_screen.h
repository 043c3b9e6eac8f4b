#pragma once

// What the search steps need from the screen. The window implements it with its controls,
// the console front end on the terminal, tests with a recorder. What a call shows is on
// screen when it returns, or, on a screen served by a thread of its own, soon after and in
// the order of the calls; ShowMessage returns only once the user has answered.
//
// A search calls its screen only from the thread that runs it (RunSearch in app/search/search.h),
// never from the threads that read articles for it, so a screen needs no locking of its own;
// one that runs the search on a thread other than the window's passes the calls on to the
// window's thread itself (app/window/main_window.h).

#include <cstdint>
#include <string_view>

#include "app/state/search_state.h"

namespace kb {

// A failure the search reports: its message box, and what the message is about, for a front
// end that reports failures as data as well as text.
struct Failure {
  // The message box, as ShowMessage takes it; a failure's box has a single OK button.
  std::string_view text = {};
  std::string_view caption = {};
  std::string_view icon = {};
  // The error number the text gives: the file services' number (support/error_state), or
  // the browser launch's code.
  int64_t error_code = 0;
  // The file or folder the failure concerns, as the text names it ("./ZEB/ZEB1.htm",
  // "lheader.htm", "./ZebResult.htm", "./ZEB"); empty when it concerns none.
  std::string_view path = {};
};

class SearchScreen {
 public:
  virtual ~SearchScreen() = default;

  // Sets the status line's text and redraws it at once.
  virtual void ShowStatus(std::string_view text) = 0;

  // Shows the progress bar, hidden outside a scan.
  virtual void ShowProgressBar() = 0;
  // Redraws the progress bar with `percent` (0 to 100), the value of ProgressPercent.
  virtual void RedrawProgressBar(uint8_t percent) = 0;
  // Hides the progress bar without redrawing it first.
  virtual void HideProgressBar() = 0;

  // Redisplays every control from the variables it shows (the entry field shows SearchText).
  virtual void RedrawWindow() = 0;

  // Shows a modal message box and returns the bit (or number) of the button pressed. The
  // texts are passed as they were built; trailing blanks are the box's to remove.
  virtual int32_t ShowMessage(std::string_view text, std::string_view caption,
                              std::string_view icon, std::string_view buttons,
                              int32_t default_button, int32_t style) = 0;

  // Reports a failure. By default it shows the failure's message box and nothing else, so a
  // screen that shows only text (the window) overrides ShowMessage alone.
  virtual void ReportFailure(const Failure& failure) {
    ShowMessage(failure.text, failure.caption, failure.icon, "", 0, 0);
  }

  // A found article, as the scan adds it to ResultQueue: in listing order, the path whole
  // and the excerpt without trailing blanks, and, when the page shows snippets, what the
  // article shows (else null; valid during the call). For a front end that shows results as
  // they come; the window shows them through ResultQueue and ignores this.
  virtual void ShowResult(std::string_view path, std::string_view excerpt,
                          const ArticleSnippets* snippets = nullptr) {
    static_cast<void>(path);
    static_cast<void>(excerpt);
    static_cast<void>(snippets);
  }

  // Called once the scan has shown its last result, before the page is written. A front end
  // that holds results back (in a buffer for its output) delivers them here; one that cannot
  // deliver them requests the search's stop, and the page is then not written, so that no
  // page ever stands for results its reader did not get.
  virtual void DeliverResults() {}

  // The window that owns message boxes and shell requests.
  virtual NativeWindowHandle OwnerWindow() = 0;
};

}  // namespace kb
