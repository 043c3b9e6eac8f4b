#include "cli/printers.h"

#include <string>
#include <utility>

#include "app/page/excerpt_text.h"
#include "app/search/search.h"
#include "cli/json_lines.h"
#include "support/message_box/message.h"

namespace kb::cli {

PathPrinter::PathPrinter(platform::ResultOutput& output, char terminator)
    : output_(output), terminator_(terminator) {}

void PathPrinter::ArticleFound(const FoundArticle& article) {
  output_.Write(article.path + terminator_);
}

JsonLinesPrinter::JsonLinesPrinter(platform::ResultOutput& output,
                                   std::chrono::steady_clock::time_point started,
                                   std::function<void(SearchSummary&)> add_index_use, Query query)
    : output_(output),
      started_(started),
      add_index_use_(std::move(add_index_use)),
      query_(std::move(query)) {}

void JsonLinesPrinter::ArticleFound(const FoundArticle& article) {
  // With the snippets page, the search collected what the article shows.
  output_.Write(JsonMatchLine(article.path, article.excerpt, ExcerptText(article.excerpt),
                              article.details.shown ? &*article.details.shown : nullptr,
                              query_.is_words()));
}

void JsonLinesPrinter::FailureReported(const Failure& failure) {
  output_.Write(JsonErrorLine(MessageLines(failure.text), failure.error_code, failure.path));
}

void JsonLinesPrinter::SearchDone(const SearchReport& report) {
  SearchSummary summary{.phrase = report.phrase,
                        .elapsed = std::chrono::steady_clock::now() - started_,
                        .articles_listed = report.articles_listed,
                        .articles_opened = report.articles_opened,
                        .articles_matched = static_cast<int32_t>(report.found.size()),
                        .articles_read = report.articles_opened,
                        .terms = query_.is_words() ? &query_.terms : nullptr};
  if (add_index_use_) add_index_use_(summary);
  output_.Write(JsonSummaryLine(summary));
}

}  // namespace kb::cli
