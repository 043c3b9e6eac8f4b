#include "server/search_service.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "platform/file_system.h"
#include "support/testing/scratch_directory.h"

namespace kb::server {
namespace {

namespace fs = std::filesystem;

// A search reads its articles, and makes the snippets of its page, on as many threads as it is
// given, and finds the same: random articles (one large enough to be read in parts on every
// thread), random queries of both kinds in every order, on one thread and on three. Which
// found articles have their snippets made by the scan then differs, and their page does not.
TEST(SearchServiceTest, FindsTheSameOnAnyNumberOfThreads) {
  kb::testing::ScratchDirectory scratch;
  const fs::path previous = fs::current_path();
  fs::current_path(scratch.path());
  fs::create_directories("ZEB");
  const std::vector<std::string> words = {"alpha", "beta", "gamma", "delta", "epsilon", "zeta"};
  std::mt19937 random(7);
  const auto some_words = [&](std::size_t count) {
    std::string text;
    for (std::size_t at = 0; at < count; ++at) {
      text += words[random() % words.size()] + (random() % 7 == 0 ? "<b>x</b> " : " ");
    }
    return text;
  };
  for (int article = 1; article <= 60; ++article) {
    scratch.Write("ZEB/ZEB" + std::to_string(article) + ".htm",
                  "<html><title>" + some_words(2) + "</title><body><!-- Article starts -->" +
                      some_words(random() % 300) + "</body></html>");
  }
  // Larger than 4 MiB: read in parts, on every thread the search has.
  scratch.Write("ZEB/ZEB61.htm", "<html><body><!-- Article starts -->" + some_words(300) +
                                     std::string(std::size_t{9} << 19, '.') + some_words(300) +
                                     "</body></html>");

  Settings settings;
  settings.use_index = false;  // every article read, on the threads given
  SearchService service(platform::Env::Default(), settings, "the knowledge base", 0);
  for (int round = 0; round < 6; ++round) {
    const QueryKind kind = round % 2 == 0 ? QueryKind::kPhrase : QueryKind::kWords;
    const auto order = static_cast<ResultsOrder>(round % 3);
    Query query;
    ASSERT_FALSE(SearchService::RefusalOf(some_words(1 + round % 3), kind, query));
    std::vector<std::string> answers;
    for (const std::size_t threads : {1, 3}) {
      Findings findings = *service.Search(query, order, {}, threads);
      findings.elapsed = {};
      answers.push_back(
          SearchService::Json(findings, service.ShownPage(findings, 0, 100, threads)));
    }
    EXPECT_EQ(answers[0], answers[1]) << query.text;
    EXPECT_NE(answers[0].find("ZEB"), std::string::npos) << answers[0].substr(0, 400);
  }
  fs::current_path(previous);
}

}  // namespace
}  // namespace kb::server
