#pragma once

// The screen of the console front end. Each article found goes to standard output as the
// search reaches it: its path and a newline, its path and a NUL byte, or a JSON line. Every
// write there is checked (platform/result_output.h): one that fails stops the search, and
// what was held back is delivered before the page is written (DeliverResults).
// Messages go to standard error, each prefixed with the program's name, "|" breaking lines;
// in JSON, each failure is also a JSON line of standard output, in its place among the
// articles. The status text and the progress bar are drawn on one line of standard error
// only when it is a terminal, and the line only when what it shows changes: a result written
// to the same terminal clears it, and it is drawn again at its next change.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/state/search_screen.h"
#include "platform/result_output.h"

namespace kb::cli {

// How the articles found and the failures reported go to standard output.
enum class ResultFormat {
  kPathLines,            // each article's path and a newline
  kNullTerminatedPaths,  // each article's path and a NUL byte
  kJsonLines,            // a JSON object per article and per failure (cli/json_lines.h)
};

class ConsoleScreen : public SearchScreen {
 public:
  // Found articles (and, in JSON, failures) are written to `results` in `format`, messages
  // (and, when `draw_progress`, the status line) to `errors`.
  ConsoleScreen(platform::ResultOutput& results, std::FILE* errors, bool draw_progress,
                ResultFormat format = ResultFormat::kPathLines);

  void ShowStatus(std::string_view text) override;
  void ShowProgressBar() override;
  void RedrawProgressBar(uint8_t percent) override;
  void HideProgressBar() override;
  void RedrawWindow() override {}
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, int32_t default_button, int32_t style) override;
  void ReportFailure(const Failure& failure) override;
  void ShowResult(std::string_view path, std::string_view excerpt,
                  const ArticleSnippets* snippets = nullptr) override;
  void DeliverResults() override { results_.Flush(); }
  NativeWindowHandle OwnerWindow() override { return 0; }

  int messages_shown() const { return messages_shown_; }

 private:
  // Rewrites the status line in place.
  void DrawStatusLine();
  // Empties the status line, for a line of its own to be written.
  void ClearStatusLine();
  // Writes `bytes` to `results`; on the status line's terminal, the status line is cleared
  // first and drawn again at its next change.
  void WriteResult(std::string_view bytes);

  platform::ResultOutput& results_;
  std::FILE* errors_;
  bool draw_progress_;
  ResultFormat format_;
  std::string status_;
  bool bar_visible_ = false;
  int drawn_percent_ = -1;
  bool line_drawn_ = false;  // the status line is on the terminal
  int messages_shown_ = 0;
};

}  // namespace kb::cli
