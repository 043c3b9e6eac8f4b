#include "cli/console_screen.h"

#include "app/page/excerpt_text.h"
#include "cli/json_lines.h"
#include "support/message_box/message.h"
#include "support/text/text.h"

namespace kb::cli {
namespace {

constexpr int kBarWidth = 40;
// Carriage return, then erase to the end of the line.
constexpr std::string_view kClearLine = "\r\x1b[K";

}  // namespace

ConsoleScreen::ConsoleScreen(platform::ResultOutput& results, std::FILE* errors, bool draw_progress,
                             ResultFormat format)
    : results_(results), errors_(errors), draw_progress_(draw_progress), format_(format) {}

void ConsoleScreen::ShowStatus(std::string_view text) {
  status_ = text;
  DrawStatusLine();
}

void ConsoleScreen::ShowProgressBar() {
  bar_visible_ = true;
  drawn_percent_ = 0;
  DrawStatusLine();
}

void ConsoleScreen::RedrawProgressBar(uint8_t percent) {
  if (percent == drawn_percent_) return;
  drawn_percent_ = percent;
  DrawStatusLine();
}

void ConsoleScreen::HideProgressBar() {
  bar_visible_ = false;
  DrawStatusLine();
}

int32_t ConsoleScreen::ShowMessage(std::string_view text, std::string_view caption,
                                   std::string_view icon, std::string_view, int32_t, int32_t) {
  ReportFailure({.text = text, .caption = caption, .icon = icon});
  return button::kOk;
}

void ConsoleScreen::ReportFailure(const Failure& failure) {
  ++messages_shown_;
  ClearStatusLine();
  const std::string lines = MessageLines(failure.text);
  const std::string message = Concat({"kbsearch-cli: ", lines, "\n"});
  std::fwrite(message.data(), 1, message.size(), errors_);
  if (format_ == ResultFormat::kJsonLines) {
    WriteResult(JsonErrorLine(lines, failure.error_code, failure.path));
  }
  DrawStatusLine();
}

void ConsoleScreen::ShowResult(std::string_view path, std::string_view excerpt,
                               const ArticleSnippets* snippets) {
  switch (format_) {
    case ResultFormat::kPathLines:
      WriteResult(Concat({path, "\n"}));
      break;
    case ResultFormat::kNullTerminatedPaths:
      WriteResult(Concat({path, std::string_view("", 1)}));
      break;
    case ResultFormat::kJsonLines:
      WriteResult(JsonMatchLine(path, excerpt, ExcerptText(excerpt), snippets));
      break;
  }
}

void ConsoleScreen::WriteResult(std::string_view bytes) {
  // A result written to the terminal of the status line would land in the middle of it.
  if (results_.terminal()) ClearStatusLine();
  results_.Write(bytes);
}

void ConsoleScreen::ClearStatusLine() {
  if (!line_drawn_) return;
  std::fwrite(kClearLine.data(), 1, kClearLine.size(), errors_);
  std::fflush(errors_);
  line_drawn_ = false;
}

void ConsoleScreen::DrawStatusLine() {
  if (!draw_progress_) return;
  line_drawn_ = true;
  std::string line(kClearLine);
  line += status_;
  if (bar_visible_) {
    const int filled = drawn_percent_ * kBarWidth / 100;
    line += Concat({status_.empty() ? "" : " ", "[", std::string(filled, '#'),
                    std::string(kBarWidth - filled, '.'), "] ", NumberToText(drawn_percent_), "%"});
  }
  std::fwrite(line.data(), 1, line.size(), errors_);
  std::fflush(errors_);
}

}  // namespace kb::cli
