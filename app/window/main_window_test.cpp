#include "app/window/main_window.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "app/base/replaceable_texts.h"
#include "support/program_texts/program_texts.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using platform::Event;
using platform::EventKind;

// Records every call as a line of text and plays a script of events. Bound variables are
// read when a control is displayed, as the real window does, and the script can type into
// the entry through its binding. Work runs on the test's thread when the script lets it
// (FinishWork) or when it is waited for; calls handed over run before the next event.
class FakeWindows final : public platform::WindowSystem {
 public:
  struct Step {
    std::function<void(FakeWindows&)> before;  // what the user does first
    std::optional<Event> event;                // then the event it causes; none ends
  };

  void Build(const platform::WindowLayout& layout) override {
    Log("Build " + std::string(layout.title));
    for (const platform::ControlLayout& control : layout.controls)
      labels.emplace_back(control.text);
  }
  void BindText(int32_t control, std::function<std::string()> load,
                std::function<void(std::string_view)> store) override {
    if (control == control::kSearchEntry) {
      load_entry_ = std::move(load);
      store_entry_ = std::move(store);
    }
  }
  void BindNumber(int32_t control, std::function<int32_t()> load) override {
    if (control == control::kProgressBar) load_percent_ = std::move(load);
  }
  void BindRows(int32_t control, std::function<int32_t()> count,
                std::function<std::string(int32_t)>) override {
    if (control == control::kResultList) count_rows_ = std::move(count);
  }
  void SetTitle(std::string_view title) override { Log("SetTitle " + std::string(title)); }
  void Open() override {
    Log("Open");
    script_.push_front({nullptr, Event{.kind = EventKind::kOpenWindow}});
  }
  std::optional<Event> NextEvent() override {
    RunCalls();
    if (close_requested_ || script_.empty()) return std::nullopt;
    Step step = std::move(script_.front());
    script_.pop_front();
    if (step.before) step.before(*this);
    return step.event;
  }
  void SetText(int32_t control, std::string_view text) override {
    Log("SetText " + std::to_string(control) + " '" + std::string(text) + "'");
  }
  void SetVisible(int32_t control, bool visible) override {
    Log((visible ? "Show " : "Hide ") + std::to_string(control));
  }
  void Display(int32_t control) override { Log("Display " + Shown(control)); }
  void DisplayAll() override {
    Log("DisplayAll " + Shown(control::kSearchEntry) + " " + Shown(control::kProgressBar));
  }
  void SetFocus(int32_t control) override { Log("SetFocus " + std::to_string(control)); }
  void SetEnabled(int32_t control, bool enabled) override {
    Log((enabled ? "Enable " : "Disable ") + std::to_string(control));
  }
  void PostCloseRequest() override {
    Log("PostCloseRequest");
    close_requested_ = true;
  }
  void Close() override { Log("Close"); }
  platform::NativeHandle Handle() override { return 77; }
  void Beep() override { Log("Beep"); }
  int32_t ShowMessage(const Message& message) override {
    Log("Message " + message.caption + ": " + message.text);
    return button::kOk;
  }
  void StartWork(std::function<void()> work) override {
    Log("StartWork");
    work_ = std::move(work);
  }
  void WaitForWork() override {
    Log("WaitForWork");
    RunWork();
  }
  void PostCall(std::function<void()> call) override { calls_.push_back(std::move(call)); }
  void Call(const std::function<void()>& call) override { call(); }

  void Type(std::string_view text) { store_entry_(text); }
  // Lets the work run to its end, which the window then hears of.
  void FinishWork() {
    Then([](FakeWindows& w) { w.RunWork(); }, Event{.kind = EventKind::kWorkDone});
  }
  void Then(std::function<void(FakeWindows&)> before, std::optional<Event> event) {
    script_.push_back({std::move(before), event});
  }
  void Then(Event event) { Then(nullptr, event); }

  std::vector<std::string> log;
  std::vector<std::string> labels;  // the controls' texts, as the window was built
  int32_t row_count() { return count_rows_ ? count_rows_() : -1; }

 private:
  void Log(std::string line) { log.push_back(std::move(line)); }
  void RunWork() {
    if (work_) std::exchange(work_, nullptr)();
    RunCalls();
  }
  void RunCalls() {
    while (!calls_.empty()) {
      const std::function<void()> call = std::move(calls_.front());
      calls_.pop_front();
      call();
    }
  }
  std::string Shown(int32_t control) {
    if (control == control::kSearchEntry && load_entry_) return "2 '" + load_entry_() + "'";
    if (control == control::kProgressBar && load_percent_) {
      return "5 " + std::to_string(load_percent_());
    }
    return std::to_string(control);
  }

  std::deque<Step> script_;
  std::function<void()> work_;
  std::deque<std::function<void()>> calls_;
  bool close_requested_ = false;
  std::function<std::string()> load_entry_;
  std::function<void(std::string_view)> store_entry_;
  std::function<int32_t()> load_percent_;
  std::function<int32_t()> count_rows_;
};

constexpr Event Accepted(int32_t control) {
  return Event{.kind = EventKind::kAccepted, .control = control};
}

std::vector<std::string> Lines(const std::vector<std::string>& log, std::string_view prefix) {
  std::vector<std::string> lines;
  for (const std::string& line : log) {
    if (line.starts_with(prefix)) lines.push_back(line);
  }
  return lines;
}

std::size_t IndexOf(const std::vector<std::string>& log, std::string_view line) {
  for (std::size_t i = 0; i < log.size(); ++i) {
    if (log[i] == line) return i;
  }
  return log.size();
}

class MainWindowTest : public ::testing::Test {
 protected:
  int Run() {
    MainWindow window(windows_, steps_);
    return window.Run();
  }

  FakeWindows windows_;
  SearchSteps steps_{
      .load_templates = [](SearchScreen&) { return PageTemplates(); },
      .run_search = [](const SearchRequest&, SearchScreen&) { return SearchReport(); }};
};

TEST_F(MainWindowTest, TemplatesComeBeforeTheWindowAndTheStatusLineStartsEmpty) {
  steps_.load_templates = [](SearchScreen& screen) {
    screen.ShowMessage("Can not open the header file", "", "", "", 0, 0);
    return PageTemplates();
  };
  windows_.Then(Event{.kind = EventKind::kGainFocus});

  EXPECT_EQ(Run(), kExitOk);
  const std::vector<std::string> expected{
      "Build Search Quillon Knowledgebase",
      "Message : Can not open the header file",
      "Open",
      "SetText 6 ''",
      "DisplayAll 2 '' 5 0",
      "SetFocus 1",
      "DisplayAll 2 '' 5 0",
      "Close",
  };
  EXPECT_EQ(windows_.log, expected);
}

TEST_F(MainWindowTest, RefusedValueBeepsShowsTheVariableAndKeepsTheFocus) {
  windows_.Then([](FakeWindows& w) { w.Type("kept"); },
                Event{.kind = EventKind::kRejected, .control = control::kSearchEntry});
  Run();
  const std::size_t beep = IndexOf(windows_.log, "Beep");
  ASSERT_LT(beep + 2, windows_.log.size());
  EXPECT_EQ(windows_.log[beep + 1], "Display 2 'kept'");
  EXPECT_EQ(windows_.log[beep + 2], "SetFocus 2");
}

TEST_F(MainWindowTest, SearchRunsOffTheEventLoopWithSearchAndTheEntryDisabled) {
  std::vector<std::string> searched;
  steps_.run_search = [&](const SearchRequest& request, SearchScreen& screen) {
    searched.push_back(request.query.text);
    screen.ScanEnded(Upper(request.query.text));
    return SearchReport();
  };
  windows_.Then([](FakeWindows& w) { w.Type("linux tips"); }, Accepted(control::kSearchButton));
  // While it runs, nothing but Close and Escape is taken: no second search, no redisplay
  // from variables the search owns.
  windows_.Then(Accepted(control::kSearchButton));
  windows_.Then(Event{.kind = EventKind::kGainFocus});
  windows_.Then(Event{.kind = EventKind::kRejected, .control = control::kSearchEntry});
  windows_.FinishWork();
  windows_.Then(Accepted(control::kSearchButton));
  windows_.FinishWork();

  EXPECT_EQ(Run(), kExitOk);
  EXPECT_EQ(searched, (std::vector<std::string>{"linux tips", "LINUX TIPS"}));
  const std::vector<std::string>& log = windows_.log;
  const std::size_t start = IndexOf(log, "StartWork");
  ASSERT_LT(start, log.size());
  EXPECT_EQ(std::vector<std::string>(log.begin() + start - 2, log.begin() + start + 5),
            (std::vector<std::string>{
                "Disable 2", "Disable 3", "StartWork", "DisplayAll 2 'LINUX TIPS' 5 0",
                "SetText 6 'No article holds \"LINUX TIPS\"'", "Enable 2", "Enable 3"}));
  EXPECT_TRUE(Lines(log, "Beep").empty());
  EXPECT_EQ(Lines(log, "StartWork").size(), 2u);
}

TEST_F(MainWindowTest, ProgressBarIsPaintedOnlyWhenThePercentageChanges) {
  steps_.run_search = [](const SearchRequest& request, SearchScreen& screen) {
    constexpr int32_t kArticles = 40000;
    screen.ScanStarted(kArticles);
    for (int32_t done = 1; done <= kArticles; ++done) screen.ArticleDone(done, kArticles);
    screen.ScanEnded(request.query.text);
    screen.SearchEnded();
    return SearchReport();
  };
  for (int search = 0; search < 2; ++search) {
    windows_.Then(Accepted(control::kSearchButton));
    windows_.FinishWork();
  }
  Run();

  const std::vector<std::string> paints = Lines(windows_.log, "Display 5");
  // Each search: the bar loaded with 0 before it shows, then 1 to 100.
  ASSERT_EQ(paints.size(), 2 * 101u);
  EXPECT_EQ(paints[0], "Display 5 0");
  EXPECT_EQ(paints[100], "Display 5 100");
  EXPECT_EQ(paints[101], "Display 5 0");
  EXPECT_EQ(Lines(windows_.log, "Show 5").size(), 2u);
  EXPECT_EQ(Lines(windows_.log, "Hide 5").size(), 2u);
  EXPECT_LT(IndexOf(windows_.log, "SetText 6 'Searching through files...'"),
            IndexOf(windows_.log, "Display 6"));
}

// A search that shows its stage and bar, then waits for a stop and reports a failure it
// meets afterwards.
SearchReport SearchUntilStopped(SearchScreen& screen, const std::stop_token& stop) {
  screen.ScanStarted(5);
  screen.ArticleDone(2, 5);
  if (!stop.stop_requested()) return SearchReport();
  screen.ShowMessage("Could not open file: ./ZEB/ZEB1.htm", "", "", "", 0, 0);
  return SearchReport{.outcome = SearchOutcome::kCancelled};
}

TEST_F(MainWindowTest, EscapeStopsTheSearchAndLeavesTheWindowReadyForTheNext) {
  std::vector<bool> stopped;
  steps_.run_search = [&](const SearchRequest& request, SearchScreen& screen) {
    stopped.push_back(request.stop.stop_requested());
    return SearchUntilStopped(screen, request.stop);
  };
  windows_.Then(Accepted(control::kSearchButton));
  windows_.Then(Event{.kind = EventKind::kCancel});
  windows_.FinishWork();
  windows_.Then(Event{.kind = EventKind::kCancel});  // no search runs: nothing to stop
  windows_.Then(Accepted(control::kSearchButton));
  windows_.FinishWork();

  EXPECT_EQ(Run(), kExitOk);
  EXPECT_EQ(stopped, (std::vector<bool>{true, false}));
  // A stopped search shows no more boxes; its bar goes, and the status line says it stopped.
  EXPECT_TRUE(Lines(windows_.log, "Message").empty());
  const std::vector<std::string>& log = windows_.log;
  const std::size_t hidden = IndexOf(log, "Hide 5");
  ASSERT_LT(hidden + 4, log.size());
  EXPECT_EQ(std::vector<std::string>(log.begin() + hidden, log.begin() + hidden + 5),
            (std::vector<std::string>{"Hide 5", "DisplayAll 2 '' 5 0", "SetText 6 'Search stopped'",
                                      "Enable 2", "Enable 3"}));
}

// After each search the status line tells how it ended, in the texts in use, the phrase as
// the entry shows it; a scan that listed no article found none, whatever the queue still
// holds from the search before.
TEST_F(MainWindowTest, TheStatusLineTellsHowTheSearchEnded) {
  std::vector<std::pair<int, int>> listed_and_found{{3, 2}, {3, 1}, {3, 0}, {0, 0}};
  std::size_t search = 0;
  steps_.run_search = [&](const SearchRequest& request, SearchScreen& screen) {
    const auto [listed, found] = listed_and_found[search++];
    screen.ScanEnded(Upper(request.query.text));
    SearchReport report{.articles_listed = listed};
    report.found.resize(static_cast<std::size_t>(found));
    return report;
  };
  for (std::size_t i = 0; i < listed_and_found.size(); ++i) {
    windows_.Then([](FakeWindows& w) { w.Type("fish & chips"); }, Accepted(control::kSearchButton));
    windows_.FinishWork();
  }
  ProgramTexts french;
  ASSERT_EQ(french.Replace(text::kFoundStatus, "%N articles trouv\xC3\xA9s pour %P"),
            ProgramTexts::Replacement::kDone);
  UseProgramTexts(std::move(french));
  Run();
  UseProgramTexts(ProgramTexts());

  EXPECT_EQ(Lines(windows_.log, "SetText 6"),
            (std::vector<std::string>{
                "SetText 6 ''", "SetText 6 '2 articles trouv\xC3\xA9s pour FISH & CHIPS'",
                "SetText 6 '1 article found'", "SetText 6 'No article holds \"FISH & CHIPS\"'",
                "SetText 6 'No article holds \"FISH & CHIPS\"'"}));
  EXPECT_EQ(SearchEndStatus(SearchOutcome::kCompleted, 0, "%N%P"), "No article holds \"%N%P\"");
}

// Up and Down in the entry bring back the phrases searched for, newest first, from this run
// and the runs before; each search is written to the history file at once.
TEST_F(MainWindowTest, UpAndDownRecallThePhrasesSearchedFor) {
  testing::ScratchDirectory scratch;
  const std::string file = scratch / "kbsearch/history";
  {
    PhraseHistory earlier;
    earlier.Add("from yesterday");
    ASSERT_TRUE(earlier.Write(platform::Env::Default(), file));
  }
  const Event older{.kind = EventKind::kRecallOlder, .control = control::kSearchEntry};
  const Event newer{.kind = EventKind::kRecallNewer, .control = control::kSearchEntry};
  windows_.Then([](FakeWindows& w) { w.Type("today"); }, Accepted(control::kSearchButton));
  windows_.FinishWork();
  windows_.Then([](FakeWindows& w) { w.Type("half typed"); }, older);
  windows_.Then(older);
  windows_.Then(older);
  windows_.Then(newer);
  windows_.Then(newer);

  MainWindow window(windows_, steps_);
  window.KeepHistoryIn(platform::Env::Default(), file);
  window.Run();

  EXPECT_EQ(Lines(windows_.log, "Display 2"),
            (std::vector<std::string>{"Display 2 'today'", "Display 2 'from yesterday'",
                                      "Display 2 'today'", "Display 2 'half typed'"}));
  EXPECT_EQ(PhraseHistory::Read(platform::Env::Default(), file).phrases(),
            (std::vector<std::string>{"today", "from yesterday"}));
}

TEST_F(MainWindowTest, ClosingDuringASearchStopsItAndWaitsForItBeforeClosing) {
  for (const bool by_button : {true, false}) {
    SCOPED_TRACE(by_button ? "Close button" : "window manager");
    FakeWindows windows;
    bool stop_seen = false;
    steps_.run_search = [&](const SearchRequest& request, SearchScreen& screen) {
      stop_seen = request.stop.stop_requested();
      return SearchUntilStopped(screen, request.stop);
    };
    windows.Then(Accepted(control::kSearchButton));
    // Without the button, the script's end is the window manager's close.
    if (by_button) windows.Then(Accepted(control::kCloseButton));

    MainWindow window(windows, steps_);
    EXPECT_EQ(window.Run(), kExitOk);
    EXPECT_TRUE(stop_seen);
    EXPECT_TRUE(Lines(windows.log, "Message").empty());
    EXPECT_LT(IndexOf(windows.log, "WaitForWork"), IndexOf(windows.log, "Close"));
    EXPECT_EQ(windows.log.back(), "Close");
  }
}

TEST_F(MainWindowTest, CloseButtonEndsTheLoopAndReleasesTheWindow) {
  bool searched_after_close = false;
  steps_.run_search = [&](const SearchRequest&, SearchScreen&) {
    searched_after_close = true;
    return SearchReport();
  };
  windows_.Then(Accepted(control::kCloseButton));
  windows_.Then(Accepted(control::kSearchButton));

  EXPECT_EQ(Run(), kExitOk);
  EXPECT_FALSE(searched_after_close);
  EXPECT_EQ(windows_.log.back(), "Close");
  EXPECT_LT(IndexOf(windows_.log, "PostCloseRequest"), IndexOf(windows_.log, "Close"));
}

// The window's own texts are the program's texts in use.
TEST_F(MainWindowTest, TheWindowShowsTheProgramsTexts) {
  ProgramTexts texts;
  for (const auto& [which, replacement] : {std::pair{&text::kSearchPrompt, "Suche:"},
                                           {&text::kSearchButton, "&Los"},
                                           {&text::kCloseButton,
                                            "Schlie\xC3\x9F"
                                            "en"}}) {
    ASSERT_EQ(texts.Replace(*which, replacement), ProgramTexts::Replacement::kDone);
  }
  UseProgramTexts(std::move(texts));

  Run();
  UseProgramTexts(ProgramTexts());

  EXPECT_EQ(windows_.labels, (std::vector<std::string>{"Suche:", "", "&Los",
                                                       "Schlie\xC3\x9F"
                                                       "en",
                                                       "", "String 1", "", "&Open…"}));
}

// Open… (and Ctrl+O, the same button) opens another knowledge base: its templates are loaded
// as at start, the title names it, and its match settings hold from then on. Pressed while a
// search runs, it waits until the search has ended.
TEST_F(MainWindowTest, OpenChoosesAnotherKnowledgeBaseButNeverDuringASearch) {
  int opened = 0;
  int templates_loaded = 0;
  bool searching = false;
  steps_.title = [&] { return "Title " + std::to_string(opened); };
  steps_.open_other = [&]() -> std::optional<SearchChoices> {
    EXPECT_FALSE(searching);
    ++opened;
    if (opened == 2) return std::nullopt;  // the dialog was cancelled
    SearchChoices choices;
    choices.match_settings.ignore_accents = opened == 1;
    return choices;
  };
  steps_.load_templates = [&](SearchScreen&) {
    ++templates_loaded;
    return PageTemplates();
  };
  steps_.run_search = [&](const SearchRequest& request, SearchScreen& screen) {
    searching = true;
    screen.ScanEnded(Upper(request.query.text));
    searching = false;
    return SearchReport();
  };
  windows_.Then(Accepted(control::kOpenButton));
  windows_.Then([](FakeWindows& w) { w.Type("déjeuner"); }, Accepted(control::kSearchButton));
  windows_.Then(Accepted(control::kOpenButton));
  windows_.Then([&](FakeWindows&) { EXPECT_EQ(opened, 1); }, Event{.kind = EventKind::kGainFocus});
  windows_.FinishWork();
  windows_.Then([](FakeWindows& w) { w.Type("déjeuner"); }, Accepted(control::kSearchButton));
  windows_.FinishWork();
  windows_.Then(Accepted(control::kOpenButton));
  windows_.Then([](FakeWindows& w) { w.Type("déjeuner"); }, Accepted(control::kSearchButton));
  windows_.FinishWork();

  EXPECT_EQ(Run(), kExitOk);
  EXPECT_EQ(opened, 3);
  EXPECT_EQ(templates_loaded, 3);  // at start, then for each knowledge base opened
  EXPECT_EQ(Lines(windows_.log, "SetTitle"),
            (std::vector<std::string>{"SetTitle Title 0", "SetTitle Title 1", "SetTitle Title 3"}));
  // Accents ignored in the first knowledge base opened, not in the last.
  EXPECT_EQ(Lines(windows_.log, "SetText 6 'No article"),
            (std::vector<std::string>{"SetText 6 'No article holds \"DÉJEUNER\"'",
                                      "SetText 6 'No article holds \"DÉJEUNER\"'",
                                      "SetText 6 'No article holds \"DéJEUNER\"'"}));
}

// With words, the prompt says so, and a text that is no query is refused before any search.
TEST_F(MainWindowTest, WordsAreReadAsAQueryAndATextThatIsNoneIsRefused) {
  std::vector<Query> searched;
  steps_.run_search = [&](const SearchRequest& request, SearchScreen&) {
    searched.push_back(request.query);
    return SearchReport();
  };
  windows_.Then([](FakeWindows& w) { w.Type("-alone"); }, Accepted(control::kSearchButton));
  windows_.Then([](FakeWindows& w) { w.Type("join \"two words\" -not"); },
                Accepted(control::kSearchButton));
  windows_.FinishWork();
  MainWindow window(windows_, steps_, {}, QueryKind::kWords);
  window.Run();

  EXPECT_EQ(windows_.labels.front(), "Search for all the words:");
  EXPECT_EQ(
      Lines(windows_.log, "Message"),
      std::vector<std::string>{"Message : " + QueryProblemText(QueryProblem::kNothingRequired)});
  EXPECT_EQ(Lines(windows_.log, "StartWork").size(), 1u);
  ASSERT_EQ(searched.size(), 1u);
  EXPECT_EQ(searched[0].text, "join \"two words\" -not");
  EXPECT_EQ(searched[0].terms, (std::vector<QueryTerm>{{"join"}, {"two words"}, {"not", true}}));
}

TEST(MainWindowLayoutTest, ControlsStandInTabOrderWithTheirNumbers) {
  const platform::WindowLayout& layout = MainWindowLayout();
  EXPECT_EQ(layout.width, 177);
  EXPECT_EQ(layout.height, 51);
  ASSERT_EQ(layout.controls.size(), 8u);
  for (std::size_t i = 0; i < layout.controls.size(); ++i) {
    EXPECT_EQ(layout.controls[i].number, static_cast<int32_t>(i + 1));
  }
  EXPECT_EQ(platform::PictureMaxLength(layout.controls[1].picture), kMaxSearchTextLength);
}

}  // namespace
}  // namespace kb
