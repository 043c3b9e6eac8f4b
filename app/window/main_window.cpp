#include "app/window/main_window.h"

#include <new>
#include <string>

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
     .text = "Search for:",
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
     .text = "&Search",
     .x = 41,
     .y = 35,
     .width = 48,
     .height = 14,
     .icon = "Textfind.ico",
     .is_default = true},
    {.number = control::kCloseButton,
     .name = "CloseButton",
     .kind = ControlKind::kButton,
     .text = "Close",
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
};

constexpr platform::WindowLayout kLayout{.title = "Search Quillon Knowledgebase",
                                         .width = 177,
                                         .height = 51,
                                         .font_family = "MS Sans Serif",
                                         .font_points = 8,
                                         .icon = "Textfind.ico",
                                         .controls = kControls};

// The layout, its labels in the program's texts in use, its controls copied into `controls`.
platform::WindowLayout LayoutWithTexts(std::vector<ControlLayout>& controls) {
  controls.assign(std::begin(kControls), std::end(kControls));
  for (ControlLayout& labelled : controls) {
    switch (labelled.number) {
      case control::kSearchPrompt:
        labelled.text = ProgramText(TextId::kSearchPrompt);
        break;
      case control::kSearchButton:
        labelled.text = ProgramText(TextId::kSearchButton);
        break;
      case control::kCloseButton:
        labelled.text = ProgramText(TextId::kCloseButton);
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
  if (outcome == SearchOutcome::kCancelled) return std::string(ProgramText(TextId::kStoppedStatus));
  const std::string_view text = ProgramText(found == 0   ? TextId::kNotFoundStatus
                                            : found == 1 ? TextId::kFoundOneStatus
                                                         : TextId::kFoundStatus);
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

std::unique_ptr<SearchState> NewSearchState() {
  try {
    return std::unique_ptr<SearchState>(new (std::nothrow) SearchState);
  } catch (const std::bad_alloc&) {
    return nullptr;  // a member's own buffer could not be had
  }
}

MainWindow::MainWindow(platform::WindowSystem& windows, SearchSteps steps)
    : windows_(windows), steps_(std::move(steps)) {}

void MainWindow::KeepHistoryIn(platform::Env& env, std::string file) {
  history_env_ = &env;
  history_file_ = std::move(file);
}

int MainWindow::Run(std::unique_ptr<SearchState> state) {
  if (!state) {
    Message no_memory;
    no_memory.text = ProgramText(TextId::kNoMemory);
    no_memory.caption = ProgramText(TextId::kErrorCaption);
    no_memory.icon = kStopIcon;
    windows_.ShowMessage(no_memory);
    return kExitNoMemory;
  }
  state_ = std::move(state);
  first_opened_ = false;
  if (history_env_ != nullptr) history_ = PhraseHistory::Read(*history_env_, history_file_);

  BuildWindow();
  steps_.load_templates(*state_, *this);
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
  ReleaseQueues();
  state_.reset();
  return kExitOk;
}

void MainWindow::BuildWindow() {
  layout_ = LayoutWithTexts(controls_);
  windows_.Build(layout_);
  SearchState& state = *state_;
  windows_.BindText(
      control::kSearchEntry, [&state] { return std::string(state.search_text.view()); },
      [&state](std::string_view value) { state.search_text.Assign(value); });
  // The bar shows ProgressPercent as the search hands it over: the window's thread never
  // reads the variable while the search may be writing it.
  windows_.BindNumber(control::kProgressBar, [this] { return bar_percent_; });
  // A row is read through the queue's record buffer, as every reader of a queue does.
  windows_.BindRows(
      control::kResultList, [&state] { return state.result_queue.Count(); },
      [&state](int32_t number) {
        state.result_queue.Get(number);
        return std::string(state.result_queue.record().file.clipped().substr(0, kListRowLength));
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
      }
      break;
    case EventKind::kRecallOlder:
      Recall(history_.Older(state_->search_text.view()));
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
  state_->search_text.Assign(*phrase);
  windows_.Display(control::kSearchEntry);
}

void MainWindow::HandleEventWhileSearching(const platform::Event& event) {
  switch (event.kind) {
    case EventKind::kAccepted:
      if (event.control == control::kCloseButton) {
        search_stop_.request_stop();
        windows_.PostCloseRequest();
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
  history_.Add(state_->search_text.view());
  // A history that cannot be written is no reason not to search.
  if (history_env_ != nullptr) history_.Write(*history_env_, history_file_);
  searching_ = true;
  search_stop_ = std::stop_source();
  owner_ = windows_.Handle();
  windows_.SetEnabled(control::kSearchEntry, false);
  windows_.SetEnabled(control::kSearchButton, false);
  windows_.StartWork([this, stop = search_stop_.get_token()] {
    outcome_ = steps_.run_search(*state_, *this, stop);
  });
}

void MainWindow::EndSearch() {
  searching_ = false;
  if (outcome_ == SearchOutcome::kCancelled) {
    // The search stopped where it was: its bar goes, and the controls show their variables
    // again.
    windows_.SetVisible(control::kProgressBar, false);
    DisplayAll();
  }
  // A scan that listed no article leaves the last search's results in the queue.
  const int32_t found = state_->file_queue.Count() == 0 ? 0 : state_->result_queue.Count();
  windows_.SetText(control::kStatusLine,
                   SearchEndStatus(outcome_, found, state_->search_text.view()));
  windows_.SetEnabled(control::kSearchEntry, true);
  windows_.SetEnabled(control::kSearchButton, true);
}

void MainWindow::DisplayAll() {
  bar_percent_ = state_->progress_percent;
  windows_.DisplayAll();
}

void MainWindow::ReleaseQueues() {
  state_->header_queue.Free();
  state_->footer_queue.Free();
  state_->file_queue.Dispose();
  state_->footer_queue.Dispose();
  state_->header_queue.Dispose();
  state_->result_queue.Dispose();
}

void MainWindow::ShowStatus(std::string_view text) {
  windows_.PostCall([this, shown = std::string(text)] {
    windows_.SetText(control::kStatusLine, shown);
    windows_.Display(control::kStatusLine);
  });
}

void MainWindow::ShowProgressBar() {
  // The bar may still hold the last scan's value: it takes the current one before it shows.
  painted_percent_ = state_->progress_percent;
  windows_.PostCall([this, percent = painted_percent_] {
    bar_percent_ = percent;
    windows_.Display(control::kProgressBar);
    windows_.SetVisible(control::kProgressBar, true);
  });
}

void MainWindow::RedrawProgressBar(uint8_t percent) {
  if (percent == painted_percent_) return;
  painted_percent_ = percent;
  windows_.PostCall([this, percent] {
    bar_percent_ = percent;
    windows_.Display(control::kProgressBar);
  });
}

void MainWindow::HideProgressBar() {
  windows_.PostCall([this] { windows_.SetVisible(control::kProgressBar, false); });
}

void MainWindow::RedrawWindow() {
  // The search waits meanwhile, so the window's thread may read its variables.
  windows_.Call([this] { DisplayAll(); });
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

NativeWindowHandle MainWindow::OwnerWindow() {
  return owner_;
}

}  // namespace kb
