#pragma once

// kbsearch-cli's output formats, one printer each, writing to standard output as the search
// reaches each article. Every write is checked (platform/result_output.h): one that fails
// stops the search.

#include <chrono>
#include <functional>
#include <string_view>

#include "app/search/printer.h"
#include "cli/json_lines.h"
#include "platform/result_output.h"

namespace kb::cli {

// How the articles found and the failures reported go to standard output.
enum class ResultFormat {
  kPathLines,            // each article's path and a newline
  kNullTerminatedPaths,  // each article's path and a NUL byte
  kJsonLines,            // a JSON object per article and per failure (cli/json_lines.h)
};

// Each found article's path, ended by `terminator` (a newline, or a NUL byte for -0).
class PathPrinter final : public Printer {
 public:
  // `output` must outlive the printer.
  PathPrinter(platform::ResultOutput& output, char terminator);

  void ArticleFound(const FoundArticle& article) override;
  void DeliverResults() override { output_.Flush(); }

 private:
  platform::ResultOutput& output_;
  char terminator_;
};

// A JSON line per found article and per failure, in their order, and a summary line at the
// end (cli/json_lines.h).
class JsonLinesPrinter final : public Printer {
 public:
  // The summary times the search from `started`; `add_index_use`, when set, adds what became
  // of the article index to it. A words `query` gives the summary its terms and each mark the
  // term it marks.
  JsonLinesPrinter(platform::ResultOutput& output, std::chrono::steady_clock::time_point started,
                   std::function<void(SearchSummary&)> add_index_use = {}, Query query = {});

  void ArticleFound(const FoundArticle& article) override;
  void FailureReported(const Failure& failure) override;
  void DeliverResults() override { output_.Flush(); }
  void SearchDone(const SearchReport& report) override;

 private:
  platform::ResultOutput& output_;
  std::chrono::steady_clock::time_point started_;
  std::function<void(SearchSummary&)> add_index_use_;
  Query query_;
};

}  // namespace kb::cli
