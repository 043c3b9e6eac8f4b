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

// The last line: on a terminal only, on a line of its own after the status line is cleared,
// without the program's name; the page counts as written only when no failure came while it
// was written.
TEST(ConsoleScreenTest, TheLastLineIsForATerminalAndThePageIsWrittenOnlyWithoutAFailure) {
  for (const bool on_terminal : {false, true}) {
    std::FILE* errors = std::tmpfile();
    ASSERT_NE(errors, nullptr);
    platform::ResultOutput results(fileno(errors), {});
    PathPrinter paths(results, '\n');
    ConsoleScreen screen(errors, on_terminal, paths, false);
    screen.ScanStarted(1);
    screen.ArticleDone(1, 1);
    screen.ScanEnded("X");
    EXPECT_FALSE(screen.page_written());
    screen.PageBeingWritten();
    EXPECT_FALSE(screen.page_written());
    screen.SearchEnded();
    EXPECT_TRUE(screen.page_written());
    screen.ShowLastLine("/kb/ZebResult.htm");
    const std::string shown = ContentsOf(errors);
    EXPECT_EQ(shown.ends_with("\r\x1b[K/kb/ZebResult.htm\n"), on_terminal) << shown;
    EXPECT_EQ(shown.empty(), !on_terminal) << shown;
    std::fclose(errors);
  }

  std::FILE* errors = std::tmpfile();
  ASSERT_NE(errors, nullptr);
  platform::ResultOutput results(fileno(errors), {});
  PathPrinter paths(results, '\n');
  ConsoleScreen screen(errors, true, paths, false);
  screen.PageBeingWritten();
  screen.ReportFailure({.text = "Can not write the results file."});
  screen.BrowserStarting();
  screen.SearchEnded();
  EXPECT_FALSE(screen.page_written());
  screen.PageBeingWritten();
  screen.BrowserStarting();
  screen.ReportFailure({.text = "No program associated with this file"});
  EXPECT_TRUE(screen.page_written());
  std::fclose(errors);
}

TEST(ConsoleScreenTest, TheIndexSummarySaysWhatWasIndexedAndItsSize) {
  EXPECT_EQ(IndexSummary(530, 530, 6.64, 4'404'019),
            "530 articles indexed in 6.6 s; the index takes 4.2 MB");
  EXPECT_EQ(IndexSummary(1, 0, 0.01, 1023),
            "1 article indexed (0 read) in 0.0 s; the index takes 1023 bytes");
  EXPECT_EQ(IndexSummary(40'000, 12, 0.24, uint64_t{3} << 30),
            "40000 articles indexed (12 read) in 0.2 s; the index takes 3.0 GB");
  EXPECT_EQ(IndexSummary(2, 2, 1, 1536), "2 articles indexed in 1.0 s; the index takes 1.5 KB");
}

}  // namespace
}  // namespace kb::cli
