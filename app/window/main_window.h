#pragma once

// The program's one window and the procedure that owns it for the whole run. Written against
// the window services of platform/window_system.h, so it runs on Qt in the program and on a
// recording fake in tests.
//
// The procedure (Run):
//  1. takes the search state (allocated by the caller; a null state is reported and ends
//     the run);
//  2. builds the window from its layout table, the entry bound to SearchText, the progress
//     bar to ProgressPercent and the hidden list to ResultQueue;
//  3. loads the page templates, so their messages come before the window;
//  4. opens the window, empties the status line and handles events until the window is
//     asked to close:
//     - opened: redisplays every control from its variable the first time, then puts the
//       focus on the prompt, which passes it on to the entry field;
//     - gained the focus: redisplays every control from its variable;
//     - a value refused by the entry's picture: beeps, shows the variable again, keeps the
//       focus there;
//     - Search: keeps the phrase in the history, disables Search and the entry and runs the
//       search off the window's thread;
//     - Up and Down in the entry: shows an earlier or a later phrase of the history
//       (app/phrase_history.h);
//     - Close: asks for the window to close;
//  5. stops a search that still runs and waits for it, closes the window and releases the
//     queues.
//
// While a search runs the window goes on being served, and the search is its only user of
// the search state: input other than Close, the window manager's close and Escape is
// dropped. Close and the window manager's close stop the search and end the run; Escape
// stops it and leaves the window ready for the next one. When the search has returned,
// Search and the entry take input again, and the status line says how it ended
// (SearchEndStatus).
//
// The window is the search's screen, called from the search's thread: the status line and
// the progress bar are handed over to the window's thread to be painted, the bar only when
// its percentage changes; a message box is shown there too, and the search waits for its
// answer, except once the search is being stopped: then no box is shown any more, and
// ShowMessage returns 0.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/search/search.h"
#include "app/state/search_screen.h"
#include "app/state/search_state.h"
#include "app/window/phrase_history.h"
#include "platform/window_system.h"

namespace kb {

// The controls of the window, by number; the tab order follows the numbers.
namespace control {
inline constexpr int32_t kSearchPrompt = 1;
inline constexpr int32_t kSearchEntry = 2;
inline constexpr int32_t kSearchButton = 3;
inline constexpr int32_t kCloseButton = 4;
inline constexpr int32_t kProgressBar = 5;
inline constexpr int32_t kStatusLine = 6;
inline constexpr int32_t kResultList = 7;
}  // namespace control

// The window's layout table, with the default texts of its labels (the window shows them in
// the program's texts in use, support/program_texts).
const platform::WindowLayout& MainWindowLayout();

// What the window runs: the program passes LoadTemplates and RunSearch (app/search/search.h).
// load_templates runs on the window's thread; run_search on a thread of its own, and stops
// early, returning kCancelled, once `stop` is requested.
struct SearchSteps {
  std::function<void(SearchState&, SearchScreen&)> load_templates;
  std::function<SearchOutcome(SearchState&, SearchScreen&, std::stop_token stop)> run_search;
};

// Exit codes of Run.
inline constexpr int kExitOk = 0;
inline constexpr int kExitNoMemory = 1;

// What the status line keeps after a search, in the program's texts in use: "Search
// stopped" for a cancelled search, else how many articles were found, or that none holds
// `phrase` (as the entry shows it).
std::string SearchEndStatus(SearchOutcome outcome, int32_t found, std::string_view phrase);

// A new, empty search state; null when memory for it cannot be had.
std::unique_ptr<SearchState> NewSearchState();

class MainWindow final : public SearchScreen {
 public:
  // `windows` must outlive this object.
  MainWindow(platform::WindowSystem& windows, SearchSteps steps);

  // The whole life of the window over `state`: kExitOk when the window was closed,
  // kExitNoMemory (after a message box) when `state` is null.
  int Run(std::unique_ptr<SearchState> state);

  // Keeps the phrases searched for in `file` (app/phrase_history.h), read when Run starts and
  // written at each search, through `env`, which must outlive the window. Without this call
  // the history lasts for the run alone.
  void KeepHistoryIn(platform::Env& env, std::string file);

  // The search's screen; used only while Run is running, from the window's thread or from
  // the search's.
  void ShowStatus(std::string_view text) override;
  void ShowProgressBar() override;
  void RedrawProgressBar(uint8_t percent) override;
  void HideProgressBar() override;
  void RedrawWindow() override;
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, int32_t default_button, int32_t style) override;
  NativeWindowHandle OwnerWindow() override;

 private:
  void BuildWindow();
  void HandleEvent(const platform::Event& event);
  void HandleEventWhileSearching(const platform::Event& event);
  void StartSearch();
  void EndSearch();
  void DisplayAll();
  void Recall(const std::optional<std::string>& phrase);
  void ReleaseQueues();

  platform::WindowSystem& windows_;
  SearchSteps steps_;
  // The layout the window is built from, its labels in the program's texts in use.
  std::vector<platform::ControlLayout> controls_;
  platform::WindowLayout layout_;
  std::unique_ptr<SearchState> state_;
  PhraseHistory history_;
  platform::Env* history_env_ = nullptr;
  std::string history_file_;

  // The window's thread only.
  bool first_opened_ = false;
  bool searching_ = false;
  std::stop_source search_stop_;  // of the search that runs or ran last
  int32_t bar_percent_ = 0;       // what the bar shows: ProgressPercent as last handed over

  // Set before a search starts and read by it.
  NativeWindowHandle owner_ = 0;
  // The search's thread only.
  int32_t painted_percent_ = -1;  // the percentage last handed over to be painted
  // Set by the search as it returns; read once the window has heard that it has.
  SearchOutcome outcome_ = SearchOutcome::kCompleted;
};

}  // namespace kb
