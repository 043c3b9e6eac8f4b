#pragma once

// The screen of the console front end: the human side of kbsearch-cli's output. Messages go
// to standard error, each prefixed with the program's name, "|" breaking lines. The stage
// text and the progress bar are drawn on one line of standard error only when it is a
// terminal, and the bar only when its percentage changes. What the search finds goes to the
// printer of the chosen output format (cli/printers.h), which the screen also hands every
// failure. The status line is drawn only when what it shows changes: a result written to the
// same terminal clears it, and it is drawn again at its next change. A run that a person
// watches ends with a line that says what came of it (the page's path, the index built).

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/search/printer.h"
#include "app/search/search_screen.h"

namespace kb::cli {

class ConsoleScreen final : public SearchScreen, public Printer {
 public:
  // Messages (and, when `draw_progress`, the status line) go to `errors`; found articles and
  // failures to `output` as well, which must outlive the screen and writes to the terminal of
  // the status line when `output_on_terminal`.
  ConsoleScreen(std::FILE* errors, bool draw_progress, Printer& output, bool output_on_terminal);

  void ScanStarted(int32_t articles) override;
  void ArticleDone(int32_t done, int32_t total) override;
  void ScanEnded(std::string_view phrase) override;
  void PageBeingWritten() override;
  void BrowserStarting() override;
  void SearchEnded() override;
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, int32_t default_button, int32_t style) override;
  void ReportFailure(const Failure& failure) override;

  // The search's printer: passes each found article and the report on to `output`.
  void ArticleFound(const FoundArticle& article) override;
  void DeliverResults() override { output_.DeliverResults(); }
  void SearchDone(const SearchReport& report) override;

  int messages_shown() const { return messages_shown_; }

  // kbsearch-cli --index: the status line shows the articles being read for the index, with
  // the bar that ArticleDone moves.
  void IndexingStarted();
  // Writes `line` on a line of its own, without the program's name, once the status line is
  // cleared: the last word of a run that someone watches. Nothing when the screen draws no
  // status line (standard error is no terminal).
  void ShowLastLine(std::string_view line);
  // True when the search began writing its page and no failure was reported before it ended
  // or started the browser. A stop while the page is written is the caller's to see.
  bool page_written() const { return page_ == Page::kWritten; }

 private:
  enum class Page { kNone, kWriting, kWritten, kFailed };

  void ShowStatus(std::string_view text);
  // Rewrites the status line in place.
  void DrawStatusLine();
  // Empties the status line, for a line of its own to be written.
  void ClearStatusLine();

  std::FILE* errors_;
  bool draw_progress_;
  Printer& output_;
  bool output_on_terminal_;
  std::string status_;
  bool bar_visible_ = false;
  int drawn_percent_ = -1;
  bool line_drawn_ = false;  // the status line is on the terminal
  int messages_shown_ = 0;
  Page page_ = Page::kNone;
};

// The last line of kbsearch-cli --index: "530 articles indexed (12 read) in 6.6 s; the index
// takes 4.2 MB". The articles read are left out when they are all those indexed.
std::string IndexSummary(int32_t articles_indexed, int32_t articles_read, double seconds,
                         uint64_t index_bytes);

}  // namespace kb::cli
