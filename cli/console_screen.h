#pragma once

// The screen of the console front end. The path of each article found goes to standard
// output as the search reaches it, one per line. Messages go to standard error, each
// prefixed with the program's name, "|" breaking lines. The status text and the progress bar
// are drawn on one line of standard error only when it is a terminal, and the bar only when
// its percentage changes.

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>

#include "app/search_screen.h"

namespace kb::cli {

class ConsoleScreen : public SearchScreen {
 public:
  // Found articles are written to `results`, messages (and, when `draw_progress`, the status
  // line) to `errors`.
  ConsoleScreen(std::FILE* results, std::FILE* errors, bool draw_progress);

  void ShowStatus(std::string_view text) override;
  void ShowProgressBar() override;
  void RedrawProgressBar(uint8_t percent) override;
  void HideProgressBar() override;
  void RedrawWindow() override {}
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, int32_t default_button, int32_t style) override;
  void ShowResult(std::string_view path, std::string_view excerpt) override;
  NativeWindowHandle OwnerWindow() override { return 0; }

  int messages_shown() const { return messages_shown_; }

 private:
  // Rewrites the status line in place.
  void DrawStatusLine();
  // Empties the status line, for a line of its own to be written.
  void ClearStatusLine();

  std::FILE* results_;
  std::FILE* errors_;
  bool draw_progress_;
  std::string status_;
  bool bar_visible_ = false;
  int drawn_percent_ = -1;
  int messages_shown_ = 0;
};

}  // namespace kb::cli
