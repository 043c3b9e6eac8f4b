#include "cli/console_screen.h"

#include <string>

#include "app/base/replaceable_texts.h"
#include "support/message_box/message.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb::cli {
namespace {

constexpr int kBarWidth = 40;
// Carriage return, then erase to the end of the line.
constexpr std::string_view kClearLine = "\r\x1b[K";

// `value` with one decimal.
std::string OneDecimal(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.1f", value);
  return text;
}

std::string SizeText(uint64_t bytes) {
  if (bytes < 1024) return Concat({std::to_string(bytes), " bytes"});
  double size = static_cast<double>(bytes) / 1024;
  for (const std::string_view unit : {"KB", "MB", "GB"}) {
    if (size < 1024 || unit == "GB") return Concat({OneDecimal(size), " ", unit});
    size /= 1024;
  }
  return {};
}

}  // namespace

std::string IndexSummary(int32_t articles_indexed, int32_t articles_read, double seconds,
                         uint64_t index_bytes) {
  return Concat({NumberToText(articles_indexed),
                 articles_indexed == 1 ? " article indexed" : " articles indexed",
                 articles_read == articles_indexed
                     ? ""
                     : Concat({" (", NumberToText(articles_read), " read)"}),
                 " in ", OneDecimal(seconds), " s; the index takes ", SizeText(index_bytes)});
}

ConsoleScreen::ConsoleScreen(std::FILE* errors, bool draw_progress, Printer& output,
                             bool output_on_terminal)
    : errors_(errors),
      draw_progress_(draw_progress),
      output_(output),
      output_on_terminal_(output_on_terminal) {}

void ConsoleScreen::ShowStatus(std::string_view text) {
  status_ = text;
  DrawStatusLine();
}

void ConsoleScreen::ScanStarted(int32_t) {
  ShowStatus(ProgramText(text::kSearchingStatus));
  bar_visible_ = true;
  drawn_percent_ = 0;
  DrawStatusLine();
}

void ConsoleScreen::ArticleDone(int32_t done, int32_t total) {
  const int percent = PercentOf(done, total);
  if (percent == drawn_percent_) return;
  drawn_percent_ = percent;
  DrawStatusLine();
}

void ConsoleScreen::ScanEnded(std::string_view) {
  if (!bar_visible_) return;
  bar_visible_ = false;
  DrawStatusLine();
}

void ConsoleScreen::PageBeingWritten() {
  page_ = Page::kWriting;
  ShowStatus(ProgramText(text::kCreatingPageStatus));
}

void ConsoleScreen::BrowserStarting() {
  if (page_ == Page::kWriting) page_ = Page::kWritten;
  ShowStatus(ProgramText(text::kExecutingBrowserStatus));
}

void ConsoleScreen::SearchEnded() {
  if (page_ == Page::kWriting) page_ = Page::kWritten;
  ShowStatus("");
}

void ConsoleScreen::IndexingStarted() {
  ShowStatus("Indexing the articles...");
  bar_visible_ = true;
  drawn_percent_ = 0;
  DrawStatusLine();
}

void ConsoleScreen::ShowLastLine(std::string_view line) {
  if (!draw_progress_) return;
  status_.clear();
  bar_visible_ = false;
  ClearStatusLine();
  const std::string text = Concat({line, "\n"});
  std::fwrite(text.data(), 1, text.size(), errors_);
  std::fflush(errors_);
}

int32_t ConsoleScreen::ShowMessage(std::string_view text, std::string_view caption,
                                   std::string_view icon, std::string_view, int32_t, int32_t) {
  ReportFailure({.text = text, .caption = caption, .icon = icon});
  return button::kOk;
}

void ConsoleScreen::ReportFailure(const Failure& failure) {
  ++messages_shown_;
  if (page_ == Page::kWriting) page_ = Page::kFailed;
  ClearStatusLine();
  const std::string message = Concat({"kbsearch-cli: ", MessageLines(failure.text), "\n"});
  std::fwrite(message.data(), 1, message.size(), errors_);
  output_.FailureReported(failure);
  DrawStatusLine();
}

void ConsoleScreen::ArticleFound(const FoundArticle& article) {
  // A result written to the terminal of the status line would land in the middle of it.
  if (output_on_terminal_) ClearStatusLine();
  output_.ArticleFound(article);
}

void ConsoleScreen::SearchDone(const SearchReport& report) {
  output_.SearchDone(report);
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
