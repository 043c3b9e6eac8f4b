#include "app/window/main_window.h"

#include <memory>
#include <string>
#include <utility>

#include "app/base/knowledge_base.h"
#include "app/base/replaceable_texts.h"
#include "app/window/window_texts.h"
#include "support/message_box/message.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

using platform::ControlKind;
using platform::ControlLayout;
using platform::EventKind;

constexpr ControlLayout kControls[] = {
    {.number = control::kSearchPrompt,
     .name = "SearchPrompt",
     .kind = ControlKind::kPrompt,
     .text = text::kSearchPrompt.default_text,
     .x = 3,
     .y = 5},
    {.number = control::kSearchEntry,
     .name = "SearchEntry",
     .kind = ControlKind::kEntry,
     .x = 42,
     .y = 5,
     .width = 130,
     .height = 10,
     .picture = "s100"},
    {.number = control::kSearchButton,
     .name = "SearchButton",
     .kind = ControlKind::kButton,
     .text = text::kSearchButton.default_text,
     .x = 41,
     .y = 35,
     .width = 48,
     .height = 14,
     .icon = "Textfind.ico",
     .is_default = true},
    {.number = control::kCloseButton,
     .name = "CloseButton",
     .kind = ControlKind::kButton,
     .text = text::kCloseButton.default_text,
     .x = 123,
     .y = 35,
     .width = 48,
     .height = 14,
     .icon = "ok.ico"},
    {.number = control::kProgressBar,
     .name = "ProgressBar",
     .kind = ControlKind::kProgressBar,
     .x = 42,
     .y = 17,
     .width = 130,
     .height = 8,
     .range_low = 0,
     .range_high = 100,
     .hidden = true},
    {.number = control::kStatusLine,
     .name = "StatusLine",
     .kind = ControlKind::kStaticText,
     .text = "String 1",
     .x = 41,
     .y = 26,
     .width = 130,
     .height = 10},
    {.number = control::kResultList,
     .name = "ResultList",
     .kind = ControlKind::kListBox,
     .x = 41,
     .y = 1,
     .width = 64,
     .height = 3,
     .hidden = true},
    {.number = control::kOpenButton,
     .name = "OpenButton",
     .kind = ControlKind::kButton,
     .text = text::kOpenButton.default_text,
     .x = 3,
     .y = 35,
     .width = 36,
     .height = 14,
     .shortcut = "Ctrl+O"},
};

constexpr platform::WindowLayout kLayout{.title = "Search Quillon Knowledgebase",
                                         .width = 177,
                                         .height = 51,
                                         .font_family = "MS Sans Serif",
                                         .font_points = 8,
                                         .icon = "Textfind.ico",
                                         .controls = kControls};

// The prompt, in the program's texts in use, for a text typed as `query_kind` says.
std::string_view PromptText(QueryKind query_kind) {
  return ProgramText(query_kind == QueryKind::kWords ? text::kWordsSearchPrompt
                                                     : text::kSearchPrompt);
}

// The layout, its labels in the program's texts in use (the prompt that for `query_kind`),
// its controls copied into `controls`.
platform::WindowLayout LayoutWithTexts(std::vector<ControlLayout>& controls, QueryKind query_kind) {
  controls.assign(std::begin(kControls), std::end(kControls));
  for (ControlLayout& labelled : controls) {
    switch (labelled.number) {
      case control::kSearchPrompt:
        labelled.text = PromptText(query_kind);
        break;
      case control::kSearchButton:
        labelled.text = ProgramText(text::kSearchButton);
        break;
      case control::kCloseButton:
        labelled.text = ProgramText(text::kCloseButton);
        break;
      case control::kOpenButton:
        labelled.text = ProgramText(text::kOpenButton);
        break;
    }
  }
  platform::WindowLayout layout = kLayout;
  layout.controls = controls;
  return layout;
}

// The list shows each result's file, as a text of up to 255 characters.
constexpr std::size_t kListRowLength = 255;

}  // namespace

std::string SearchEndStatus(SearchOutcome outcome, int32_t found, std::string_view phrase) {
  if (outcome == SearchOutcome::kCancelled) return std::string(ProgramText(text::kStoppedStatus));
  const std::string_view text = ProgramText(found == 0   ? text::kNotFoundStatus
                                            : found == 1 ? text::kFoundOneStatus
                                                         : text::kFoundStatus);
  // In one pass, so that a phrase holding "%N" is shown as it is.
  std::string status;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const std::string_view rest = text.substr(at);
    if (rest.starts_with("%N")) {
      status += NumberToText(found);
    } else if (rest.starts_with("%P")) {
      status += phrase;
    } else {
      status += text[at];
      continue;
    }
    ++at;
  }
  return status;
}

const platform::WindowLayout& MainWindowLayout() {
  return kLayout;
}

MainWindow::MainWindow(platform::WindowSystem& windows, SearchSteps steps,
                       MatchSettings match_settings, QueryKind query_kind)
    : windows_(windows),
      steps_(std::move(steps)),
      match_settings_(std::move(match_settings)),
      query_kind_(query_kind) {}

void MainWindow::KeepHistoryIn(platform::Env& env, std::string file) {
  history_env_ = &env;
  history_file_ = std::move(file);
}

int MainWindow::Run() {
  first_opened_ = false;
  if (history_env_ != nullptr) history_ = PhraseHistory::Read(*history_env_, history_file_);

  BuildWindow();
  templates_ = steps_.load_templates(*this);
  windows_.Open();
  windows_.SetText(control::kStatusLine, "");

  while (const std::optional<platform::Event> event = windows_.NextEvent()) {
    HandleEvent(*event);
  }
  if (searching_) {
    search_stop_.request_stop();
    windows_.WaitForWork();
    searching_ = false;
  }

  windows_.Close();
  return kExitOk;
}

void MainWindow::BuildWindow() {
  layout_ = LayoutWithTexts(controls_, query_kind_);
  windows_.Build(layout_);
  ShowTitle();
  windows_.BindText(
      control::kSearchEntry, [this] { return search_text_; },
      [this](std::string_view value) { search_text_ = value.substr(0, kMaxSearchTextBytes); });
  windows_.BindNumber(control::kProgressBar, [this] { return bar_percent_; });
  windows_.BindRows(
      control::kResultList, [this] { return static_cast<int32_t>(found_paths_.size()); },
      [this](int32_t number) {
        return found_paths_[static_cast<std::size_t>(number - 1)].substr(0, kListRowLength);
      });
}
void MainWindow::HandleEvent(const platform::Event& event) {
  if (searching_) {
    HandleEventWhileSearching(event);
    return;
  }
  switch (event.kind) {
    case EventKind::kOpenWindow:
      if (!first_opened_) {
        DisplayAll();
        first_opened_ = true;
      }
      windows_.SetFocus(control::kSearchPrompt);
      break;
    case EventKind::kGainFocus:
      DisplayAll();
      first_opened_ = true;
      break;
    case EventKind::kRejected:
      windows_.Beep();
      windows_.Display(event.control);
      windows_.SetFocus(event.control);
      break;
    case EventKind::kAccepted:
      if (event.control == control::kSearchButton) {
        StartSearch();
      } else if (event.control == control::kCloseButton) {
        windows_.PostCloseRequest();
      } else if (event.control == control::kOpenButton) {
        OpenOther();
      }
      break;
    case EventKind::kRecallOlder:
      Recall(history_.Older(search_text_));
      break;
    case EventKind::kRecallNewer:
      Recall(history_.Newer());
      break;
    case EventKind::kCancel:
    case EventKind::kWorkDone:
      break;
  }
}

void MainWindow::Recall(const std::optional<std::string>& phrase) {
  if (!phrase) return;
  search_text_ = *phrase;
  windows_.Display(control::kSearchEntry);
}

void MainWindow::HandleEventWhileSearching(const platform::Event& event) {
  switch (event.kind) {
    case EventKind::kAccepted:
      if (event.control == control::kCloseButton) {
        search_stop_.request_stop();
        windows_.PostCloseRequest();
      } else if (event.control == control::kOpenButton) {
        open_waiting_ = true;
      }
      break;
    case EventKind::kCancel:
      search_stop_.request_stop();
      break;
    case EventKind::kWorkDone:
      EndSearch();
      break;
    case EventKind::kOpenWindow:
    case EventKind::kGainFocus:
    case EventKind::kRejected:
    case EventKind::kRecallOlder:
    case EventKind::kRecallNewer:
      // The controls show what the search hands over; the variables are the search's.
      break;
  }
}

void MainWindow::StartSearch() {
  Query query;
  if (const QueryProblem problem = ParseQuery(search_text_, query_kind_, query);
      problem != QueryProblem::kNone) {
    Message message;
    message.text = QueryProblemText(problem);
    windows_.ShowMessage(message);
    return;
  }
  history_.Add(search_text_);
  // A history that cannot be written is no reason not to search.
  if (history_env_ != nullptr) history_.Write(*history_env_, history_file_);
  searching_ = true;
  search_stop_ = std::stop_source();
  windows_.SetEnabled(control::kSearchEntry, false);
  windows_.SetEnabled(control::kSearchButton, false);
  // The worker has its own copy of everything it searches with, and hands the report back
  // as a call on the window's thread, which runs before the window hears the work is done.
  windows_.StartWork([this, request = SearchRequest{.query = std::move(query),
                                                    .match_settings = match_settings_,
                                                    .templates = templates_,
                                                    .stop = search_stop_.get_token()}] {
    auto report = std::make_shared<SearchReport>(steps_.run_search(request, *this));
    windows_.PostCall([this, report] {
      outcome_ = report->outcome;
      found_count_ = static_cast<int32_t>(report->found.size());
      found_paths_.clear();
      for (const FoundArticle& article : report->found) found_paths_.push_back(article.path);
    });
  });
}

void MainWindow::EndSearch() {
  searching_ = false;
  if (outcome_ == SearchOutcome::kCancelled) {
    // The search stopped where it was: its bar goes, and the controls show their values
    // again.
    windows_.SetVisible(control::kProgressBar, false);
    DisplayAll();
  }
  windows_.SetText(control::kStatusLine, SearchEndStatus(outcome_, found_count_, search_text_));
  windows_.SetEnabled(control::kSearchEntry, true);
  windows_.SetEnabled(control::kSearchButton, true);
  if (std::exchange(open_waiting_, false)) OpenOther();
}

void MainWindow::OpenOther() {
  if (!steps_.open_other) return;
  std::optional<SearchChoices> opened = steps_.open_other();
  if (!opened) return;
  match_settings_ = std::move(opened->match_settings);
  query_kind_ = opened->query_kind;
  windows_.SetText(control::kSearchPrompt, PromptText(query_kind_));
  // What the last search found was another knowledge base's.
  found_paths_.clear();
  found_count_ = 0;
  windows_.SetText(control::kStatusLine, "");
  ShowTitle();
  templates_ = steps_.load_templates(*this);
  DisplayAll();
}

void MainWindow::ShowTitle() {
  if (steps_.title) windows_.SetTitle(steps_.title());
}

void MainWindow::DisplayAll() {
  // Outside a scan the bar, hidden, is at 0.
  bar_percent_ = 0;
  windows_.DisplayAll();
}

void MainWindow::ShowStatus(std::string_view text) {
  windows_.PostCall([this, shown = std::string(text)] {
    windows_.SetText(control::kStatusLine, shown);
    windows_.Display(control::kStatusLine);
  });
}

void MainWindow::ScanStarted(int32_t) {
  ShowStatus(ProgramText(text::kSearchingStatus));
  // The bar may still hold the last scan's value: it takes 0 before it shows.
  painted_percent_ = 0;
  bar_shown_ = true;
  windows_.PostCall([this] {
    bar_percent_ = 0;
    windows_.Display(control::kProgressBar);
    windows_.SetVisible(control::kProgressBar, true);
  });
}

void MainWindow::ArticleDone(int32_t done, int32_t total) {
  const int32_t percent = PercentOf(done, total);
  if (percent == painted_percent_) return;
  painted_percent_ = percent;
  windows_.PostCall([this, percent] {
    bar_percent_ = percent;
    windows_.Display(control::kProgressBar);
  });
}

void MainWindow::ScanEnded(std::string_view phrase) {
  if (std::exchange(bar_shown_, false)) {
    windows_.PostCall([this] { windows_.SetVisible(control::kProgressBar, false); });
  }
  // The entry shows the phrase upper-cased, as a search for it again compares it.
  windows_.Call([this, &phrase] {
    search_text_ = EntryPhraseAfterSearch(search_text_, phrase, match_settings_);
    DisplayAll();
  });
}

void MainWindow::PageBeingWritten() {
  ShowStatus(ProgramText(text::kCreatingPageStatus));
}

void MainWindow::BrowserStarting() {
  ShowStatus(ProgramText(text::kExecutingBrowserStatus));
}

void MainWindow::SearchEnded() {
  ShowStatus("");
}

int32_t MainWindow::ShowMessage(std::string_view text, std::string_view caption,
                                std::string_view icon, std::string_view buttons,
                                int32_t default_button, int32_t style) {
  Message message;
  message.text = text;
  message.caption = caption;
  message.icon = icon;
  message.buttons = buttons;
  message.default_button = default_button;
  message.style = style;
  int32_t result = 0;
  // A search that is being stopped shows no more boxes: the user has asked it to go.
  windows_.Call([&] {
    if (!search_stop_.stop_requested()) result = windows_.ShowMessage(message);
  });
  return result;
}

}  // namespace kb
