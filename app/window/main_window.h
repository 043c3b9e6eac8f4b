#pragma once

// The program's one window and the procedure that owns it for the whole run. Written against
// the window services of platform/window_system.h, so it runs on Qt in the program and on a
// recording fake in tests.
//
// The procedure (Run):
//  1. builds the window from its layout table, the entry bound to the phrase (SearchText),
//     the progress bar to its percentage and the hidden list to the articles last found;
//  2. loads the page templates, so their messages come before the window;
//  3. opens the window, empties the status line and handles events until the window is
//     asked to close:
//     - opened: redisplays every control from its value the first time, then puts the
//       focus on the prompt, which passes it on to the entry field;
//     - gained the focus: redisplays every control from its value;
//     - a value refused by the entry's picture: beeps, shows the value again, keeps the
//       focus there;
//     - Search: keeps the phrase in the history, disables Search and the entry and runs the
//       search off the window's thread;
//     - Up and Down in the entry: shows an earlier or a later phrase of the history
//       (app/window/phrase_history.h);
//     - Close: asks for the window to close;
//     - Open… or Ctrl+O: asks for another knowledge base (SearchSteps::open_other); when one
//       is opened, loads its templates as at start, names it in the title and empties the
//       status line; pressed while a search runs, it waits until the search has ended;
//  4. stops a search that still runs and waits for it, and closes the window.
//
// A search runs on a worker that copies its inputs (the phrase, the match settings, the
// templates: a SearchRequest) and hands its events and its report back to the window's
// thread as calls (platform::WindowSystem::PostCall); the window's values are the window
// thread's alone. Besides the stop request, the two threads share only the reply of a
// message box, which the worker waits for (WindowSystem::Call).
//
// While a search runs the window goes on being served: input other than Close, the window
// manager's close and Escape is dropped. Close and the window manager's close stop the
// search and end the run; Escape stops it and leaves the window ready for the next one. When
// the search has returned, Search and the entry take input again, and the status line says
// how it ended (SearchEndStatus).
//
// The status line and the progress bar are painted on the window's thread, the bar only
// when its percentage changes; a message box is shown there too, and the search waits for
// its answer, except once the search is being stopped: then no box is shown any more, and
// ShowMessage returns 0.

#include <cstdint>
#include <functional>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/query.h"
#include "app/match/match_settings.h"
#include "app/page/templates.h"
#include "app/search/search.h"
#include "app/search/search_screen.h"
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
inline constexpr int32_t kOpenButton = 8;
}  // namespace control

// The window's layout table, with the default texts of its labels (the window shows them in
// their replacements in use, app/base/replaceable_texts.h).
const platform::WindowLayout& MainWindowLayout();

// What the window runs: the program passes LoadTemplates and RunSearch (app/search/search.h).
// load_templates runs on the window's thread; run_search on a thread of its own, and stops
// early, returning kCancelled, once the request's stop is requested.
//
// open_other, when given, runs on the window's thread, never while a search runs: it asks
// for another knowledge base and makes it the one searched, giving how it is searched, or
// nothing when none was opened. title, when given, is the window's title (WindowTitle,
// app/window/window_texts.h), asked for when the window is built and after each knowledge
// base opened.
// How the knowledge base searched compares and reads what is typed.
struct SearchChoices {
  MatchSettings match_settings = {};
  QueryKind query_kind = QueryKind::kPhrase;
};

struct SearchSteps {
  std::function<PageTemplates(SearchScreen&)> load_templates;
  std::function<SearchReport(const SearchRequest&, SearchScreen&)> run_search;
  std::function<std::optional<SearchChoices>()> open_other = {};
  std::function<std::string()> title = {};
};

// Exit code of Run.
inline constexpr int kExitOk = 0;

// What the status line keeps after a search, in the program's texts in use: "Search
// stopped" for a cancelled search, else how many articles were found, or that none holds
// `phrase` (as the entry shows it).
std::string SearchEndStatus(SearchOutcome outcome, int32_t found, std::string_view phrase);

class MainWindow final : public SearchScreen {
 public:
  // `windows` must outlive this object; searches compare as `match_settings` say, and read
  // the text typed as `query_kind` says (with words, the prompt says so; a text that is no
  // query is refused with a message box and not searched for).
  MainWindow(platform::WindowSystem& windows, SearchSteps steps, MatchSettings match_settings = {},
             QueryKind query_kind = QueryKind::kPhrase);

  // The whole life of the window: kExitOk when the window was closed.
  int Run();

  // Keeps the phrases searched for in `file` (app/window/phrase_history.h), read when Run
  // starts and written at each search, through `env`, which must outlive the window. Without
  // this call the history lasts for the run alone.
  void KeepHistoryIn(platform::Env& env, std::string file);

  // The search's screen; used only while Run is running, from the search's thread (the
  // templates' failures from the window's).
  void ScanStarted(int32_t articles) override;
  void ArticleDone(int32_t done, int32_t total) override;
  void ScanEnded(std::string_view phrase) override;
  void PageBeingWritten() override;
  void BrowserStarting() override;
  void SearchEnded() override;
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, int32_t default_button, int32_t style) override;

 private:
  void BuildWindow();
  void HandleEvent(const platform::Event& event);
  void HandleEventWhileSearching(const platform::Event& event);
  void StartSearch();
  void EndSearch();
  void OpenOther();
  void ShowTitle();
  void DisplayAll();
  void Recall(const std::optional<std::string>& phrase);
  void ShowStatus(std::string_view text);

  platform::WindowSystem& windows_;
  const SearchSteps steps_;
  MatchSettings match_settings_;  // of the knowledge base searched
  QueryKind query_kind_;
  // The layout the window is built from, its labels in the program's texts in use.
  std::vector<platform::ControlLayout> controls_;
  platform::WindowLayout layout_;

  // The window's thread only.
  PageTemplates templates_;
  std::string search_text_;               // SearchText: what the entry shows
  std::vector<std::string> found_paths_;  // the articles the last search found
  int32_t found_count_ = 0;               // of the last search: 0 when it listed no article
  PhraseHistory history_;
  platform::Env* history_env_ = nullptr;  // where the history is kept, if anywhere
  std::string history_file_;
  bool first_opened_ = false;
  bool searching_ = false;
  bool open_waiting_ = false;                          // Open… was pressed while a search ran
  std::stop_source search_stop_;                       // of the search that runs or ran last
  int32_t bar_percent_ = 0;                            // what the bar shows, as last handed over
  SearchOutcome outcome_ = SearchOutcome::kCompleted;  // of the search that ran last

  // The search's thread only.
  int32_t painted_percent_ = -1;  // the percentage last handed over to be painted
  bool bar_shown_ = false;        // the bar was shown for the scan that runs
};

}  // namespace kb
