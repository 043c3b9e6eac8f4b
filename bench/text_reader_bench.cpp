// Times the reading of articles' text, in memory, without the files: the text reader over
// whole articles, and the snippets of the articles that hold a phrase. For the markup reader's
// speed, which the snippets page's byte search spends most of its extra time in.
//
//   kbsearch_text_reader_bench KB_DIR PHRASE [ROUNDS]
//
// Loads every ZEB/ZEB*.htm of KB_DIR that holds PHRASE (bytes, ASCII case folded), then for
// ROUNDS rounds (default 5) times, on one thread: the text of each found article, in pieces
// of 64 KiB; the snippets of each (as the scan makes them, its hits counted and the first
// ones placed); the snippets of each for PHRASE as a query of words, and for PHRASE in the
// text (of the whole text). Prints the least time of each, its speed, and the tags read. A
// measuring tool, not part of the program, so it reads the files directly.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "app/match/article_matcher.h"
#include "app/match/article_snippets.h"
#include "app/match/html_text.h"
#include "app/match/phrase_finder.h"

namespace {

// The least of the times: on a machine that other work shares, what the work itself costs.
double Least(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

template <typename Work>
double LeastSeconds(int rounds, Work&& work) {
  std::vector<double> times;
  for (int round = 0; round < rounds; ++round) {
    const auto started = std::chrono::steady_clock::now();
    work();
    times.push_back(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count());
  }
  return Least(times);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s KB_DIR PHRASE [ROUNDS]\n", argv[0]);
    return 2;
  }
  const std::string phrase = argv[2];
  const int rounds = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
  // The hits counted as the scan counts them, with where the first ones start.
  kb::ArticleMatcher matcher(phrase, {}, kb::StreamSearch::Count::kAll);
  std::vector<std::string> articles;
  std::vector<int64_t> hits;
  std::vector<std::vector<uint64_t>> hit_starts;
  std::size_t bytes = 0;
  std::size_t tags = 0;
  for (const auto& entry :
       std::filesystem::directory_iterator(std::filesystem::path(argv[1]) / "ZEB")) {
    std::ifstream in(entry.path(), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    std::string article = content.str();
    matcher.StartArticle();
    matcher.Feed(article);
    matcher.FinishArticle();
    if (matcher.hits() == 0) continue;
    bytes += article.size();
    tags += static_cast<std::size_t>(std::count(article.begin(), article.end(), '<'));
    articles.push_back(std::move(article));
    hits.push_back(static_cast<int64_t>(matcher.hits()));
    hit_starts.emplace_back(matcher.hit_starts().begin(), matcher.hit_starts().end());
  }
  std::printf("%zu articles hold \"%s\": %.1f MB, %zu \"<\"\n", articles.size(), phrase.c_str(),
              bytes / 1e6, tags);

  std::size_t text_bytes = 0;
  const double text_seconds = LeastSeconds(rounds, [&] {
    kb::HtmlText reader;
    text_bytes = 0;
    for (const std::string& article : articles) {
      reader.Restart();
      for (std::size_t at = 0; at < article.size(); at += 64 * 1024) {
        text_bytes += reader.Extract(std::string_view(article).substr(at, 64 * 1024)).size();
      }
      text_bytes += reader.Finish().size();
    }
  });
  std::printf("text:     %.3f s, %.0f MB/s, %.1f ns a \"<\" (%.1f MB of text)\n", text_seconds,
              bytes / 1e6 / text_seconds, text_seconds * 1e9 / static_cast<double>(tags),
              text_bytes / 1e6);

  const kb::SnippetMaker maker(phrase, {});
  std::size_t snippets = 0;
  const double snippet_seconds = LeastSeconds(rounds, [&] {
    snippets = 0;
    for (std::size_t index = 0; index < articles.size(); ++index) {
      snippets += maker.Make(articles[index], hits[index], hit_starts[index]).snippets.size();
    }
  });
  std::printf("snippets: %.3f s, %.0f MB/s of found articles (%zu snippets)\n", snippet_seconds,
              bytes / 1e6 / snippet_seconds, snippets);

  // The same articles' snippets for the phrase as words, and in the text: made of the whole
  // text, each linked to its hit's bytes.
  kb::Query words;
  if (kb::ParseQuery(phrase, kb::QueryKind::kWords, words) != kb::QueryProblem::kNone) {
    std::fprintf(stderr, "\"%s\" is no query of words\n", phrase.c_str());
    return 2;
  }
  const struct {
    const char* name;
    kb::SnippetMaker maker;
  } of_text[] = {{"words:   ", kb::SnippetMaker(words, {})},
                 {"in text: ", kb::SnippetMaker(phrase, {.mode = kb::MatchMode::kText})}};
  for (const auto& [name, text_maker] : of_text) {
    const double seconds = LeastSeconds(rounds, [&] {
      snippets = 0;
      for (const std::string& article : articles)
        snippets += text_maker.Make(article).snippets.size();
    });
    std::printf("%s %.3f s, %.0f MB/s of found articles (%zu snippets)\n", name, seconds,
                bytes / 1e6 / seconds, snippets);
  }
  return 0;
}
