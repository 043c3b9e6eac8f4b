#include "cli/console_screen.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "cli/printers.h"
#include "support/text/text.h"

namespace kb::cli {
namespace {

std::string ContentsOf(std::FILE* file) {
  std::fflush(file);
  std::rewind(file);
  std::string contents;
  for (int byte; (byte = std::fgetc(file)) != EOF;) contents += static_cast<char>(byte);
  return contents;
}

std::size_t Count(const std::string& text, std::string_view part) {
  std::size_t count = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) {
    ++count;
  }
  return count;
}

// A search of 250 articles that all match, its results going elsewhere than the terminal:
// the progress line is drawn once for each percentage it shows, never again for a result.
TEST(ConsoleScreenTest, TheProgressLineIsDrawnOnlyWhenItChanges) {
  std::FILE* results_file = std::tmpfile();
  std::FILE* terminal = std::tmpfile();
  ASSERT_NE(results_file, nullptr);
  ASSERT_NE(terminal, nullptr);
  {
    platform::ResultOutput results(fileno(results_file), {});
    PathPrinter paths(results, '\n');
    ConsoleScreen screen(terminal, /*draw_progress=*/true, paths, results.terminal());
    constexpr int kArticles = 250;
    screen.ScanStarted(kArticles);
    for (int done = 1; done <= kArticles; ++done) {
      screen.ArticleDone(done, kArticles);
      screen.ArticleFound({.path = Concat({"./ZEB/ZEB", NumberToText(done), ".htm"})});
    }
    screen.DeliverResults();
    EXPECT_EQ(results.state(), platform::ResultOutput::State::kOpen);
  }
  const std::string drawn = ContentsOf(terminal);
  // 0% when the bar appears, then 1% to 100%.
  EXPECT_EQ(Count(drawn, "%"), 101u);
  for (int percent = 0; percent <= 100; ++percent) {
    EXPECT_EQ(Count(drawn, Concat({"] ", NumberToText(percent), "%"})), 1u) << percent;
  }
  EXPECT_EQ(Count(ContentsOf(results_file), "\n"), 250u);
  std::fclose(results_file);
  std::fclose(terminal);
}

}  // namespace
}  // namespace kb::cli
