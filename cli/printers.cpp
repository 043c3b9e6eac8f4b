#include "cli/printers.h"

#include <string>
#include <utility>

#include "app/page/excerpt_text.h"
#include "app/search/search.h"
#include "cli/json_lines.h"
#include "support/message_box/message.h"

namespace kb::cli {
namespace {

// Standard output reaches a terminal line by line and a pipe or file in blocks, as with other
// tools that print lines. With a status line drawn, a line must be out before the status
// line is drawn again after it.
void Write(std::FILE* output, std::string_view bytes, bool flush) {
  std::fwrite(bytes.data(), 1, bytes.size(), output);
  if (flush) std::fflush(output);
}

}  // namespace

PathPrinter::PathPrinter(std::FILE* output, char terminator, bool flush_each)
    : output_(output), terminator_(terminator), flush_each_(flush_each) {}

void PathPrinter::ArticleFound(const FoundArticle& article) {
  Write(output_, article.path + terminator_, flush_each_);
}

JsonLinesPrinter::JsonLinesPrinter(std::FILE* output, bool flush_each,
                                   std::chrono::steady_clock::time_point started,
                                   std::function<void(SearchSummary&)> add_index_use)
    : output_(output),
      flush_each_(flush_each),
      started_(started),
      add_index_use_(std::move(add_index_use)) {}

void JsonLinesPrinter::ArticleFound(const FoundArticle& article) {
  Write(JsonMatchLine(article.path, article.excerpt, ExcerptText(article.excerpt)));
}

void JsonLinesPrinter::FailureReported(const Failure& failure) {
  Write(JsonErrorLine(MessageLines(failure.text), failure.error_code, failure.path));
}

void JsonLinesPrinter::SearchDone(const SearchReport& report) {
  // The summary ends the output: written whole, flushed or not.
  SearchSummary summary{.phrase = report.phrase,
                        .elapsed = std::chrono::steady_clock::now() - started_,
                        .articles_listed = report.articles_listed,
                        .articles_opened = report.articles_opened,
                        .articles_matched = static_cast<int32_t>(report.found.size()),
                        .articles_read = report.articles_opened};
  if (add_index_use_) add_index_use_(summary);
  const std::string line = JsonSummaryLine(summary);
  std::fwrite(line.data(), 1, line.size(), output_);
}

void JsonLinesPrinter::Write(std::string_view line) {
  cli::Write(output_, line, flush_each_);
}

}  // namespace kb::cli
