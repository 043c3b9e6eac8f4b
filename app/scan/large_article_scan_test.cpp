#include "app/scan/large_article_scan.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <random>
#include <string>
#include <string_view>

#include "app/match/article_matcher.h"
#include "app/scan/article_scan.h"
#include "files/access_mode.h"
#include "platform/testing/faulty_env.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using namespace std::string_view_literals;

// What one read of an article's file takes in.
constexpr std::size_t kRead = 65536;

// Random bytes that never make up the phrase or the marker, made once: an article takes a
// stretch of them from a random place, which does for the scan what new bytes would do at a
// small part of the cost (under ThreadSanitizer, drawing each byte took most of the test).
std::string_view Filler() {
  static const std::string filler = [] {
    static constexpr std::string_view kBytes = "abc xyz<>!-\r\n\0"sv;
    std::mt19937 random(11);
    std::string bytes(16 * kRead, ' ');
    for (char& byte : bytes) byte = kBytes[random() % kBytes.size()];
    return bytes;
  }();
  return filler;
}

// A large article made at random: filler with the phrase in mixed case, the marker, a marker
// in the wrong case and blanks planted, often astride a seam between reads (and so, maybe,
// between parts), just before one or near the start. `phrase_at` is where the phrase was
// planted last.
std::string RandomArticle(std::mt19937& random, std::string_view phrase, std::size_t& phrase_at) {
  const std::size_t size = kRead * (2 + random() % 6) + random() % kRead;
  std::string text(Filler().substr(random() % (Filler().size() - size), size));
  const auto plant = [&](std::string what) {
    const std::size_t seam = kRead * (1 + random() % (size / kRead));
    std::size_t at = random() % (size - what.size());
    switch (random() % 5) {
      case 0:  // astride the seam
        at = seam - 1 - random() % std::max<std::size_t>(what.size() - 1, 1);
        break;
      case 1:
      case 2:  // ending up to 250 bytes before it
        at = seam - what.size() - random() % 250;
        break;
      case 3:  // near the start, as a marker mostly is
        at = random() % 1000;
        break;
    }
    at = std::min(at, size - what.size());
    text.replace(at, what.size(), what);
    return at;
  };
  const auto copies = [&] { return std::array{0, 1, 1, 1, 1, 2}[random() % 6]; };
  for (int copy = copies(); copy > 0; --copy) {
    std::string mixed(phrase);
    for (char& byte : mixed) {
      if (byte >= 'a' && byte <= 'z' && random() % 2) byte = static_cast<char>(byte - 'a' + 'A');
    }
    phrase_at = plant(mixed);
  }
  for (int copy = copies(); copy > 0; --copy) plant(std::string(kArticleMarker));
  if (random() % 4 == 0) plant("<!-- article starts -->");
  if (random() % 4 == 0) plant(std::string(250, ' '));
  return text;
}

// The outcome of scanning the article `path` holds with `sharing`, through a file system whose
// reads of the byte at `bad_byte` fail (none when it is past the end) and on which the article
// shrinks to `shrink_to` bytes (0: never) just before its second read.
ArticleOutcome Scan(const testing::ScratchDirectory& scratch, std::string_view text,
                    std::string_view phrase, const ArticleSharing& sharing, uint64_t bad_byte,
                    std::size_t shrink_to) {
  const std::string path = scratch.Write("ZEB1.htm", text);
  platform::testing::FaultyEnv env;
  env.FailReadsOf(bad_byte, EIO);
  std::mutex mutex;
  int reads = 0;
  env.SetHook([&](platform::Operation operation, std::string_view) {
    const std::lock_guard lock(mutex);
    if (operation == platform::Operation::kRead && ++reads == 2 && shrink_to != 0) {
      std::filesystem::resize_file(path, shrink_to);
    }
  });
  BlockFile file(ArticleFileDeclaration(), env);
  ArticleMatcher matcher(phrase);
  return ScanArticle(path, file, matcher, sharing, {});
}

// However a large article is cut into parts and shared out, and wherever its reads fail or it
// ends, its outcome is that of reading it from its start on one thread.
TEST(LargeArticleScanTest, SharingOutTheReadingChangesNoOutcome) {
  testing::ScratchDirectory scratch;
  std::mt19937 random(7);
  for (int round = 0; round < 200; ++round) {
    static constexpr std::string_view kPhrases[] = {"needle pin", "n", "a b", "needle"};
    const std::string_view phrase = kPhrases[random() % std::size(kPhrases)];
    std::size_t phrase_at = 0;
    const std::string text = RandomArticle(random, phrase, phrase_at);
    // A bad stretch anywhere, or in one of the two reads after the phrase.
    uint64_t bad_byte = UINT64_MAX;
    if (random() % 3 == 0) bad_byte = random() % text.size();
    if (random() % 3 == 0) bad_byte = phrase_at + kRead * (1 + random() % 2);
    const std::size_t shrink_to = random() % 4 == 0 ? kRead + random() % (text.size() - kRead) : 0;
    const ArticleSharing sharing{.threads = 2 + random() % 3,
                                 .smallest_article = 0,
                                 .part_size = random() % 3 == 0 ? 1 : kRead * (1 + random() % 3)};
    SCOPED_TRACE("round " + std::to_string(round));

    const ArticleOutcome alone = Scan(scratch, text, phrase, {}, bad_byte, shrink_to);
    const ArticleOutcome shared = Scan(scratch, text, phrase, sharing, bad_byte, shrink_to);
    EXPECT_EQ(shared.failure, alone.failure);
    EXPECT_EQ(shared.matched, alone.matched);
    EXPECT_EQ(shared.excerpt, alone.excerpt);
  }

  // What the rounds share out: an article larger than one read, searched for its bytes.
  BlockFile file(ArticleFileDeclaration());
  file.name().Assign(scratch.Write("ZEB2.htm", std::string(3 * kRead, 'x')));
  file.Open(access_mode::kRead | access_mode::kDenyWrite);
  EXPECT_TRUE(ShouldShare(file, ArticleMatcher("x"), {.threads = 2, .smallest_article = 0}));
  EXPECT_FALSE(ShouldShare(file, ArticleMatcher("x"), {.threads = 1, .smallest_article = 0}));
  EXPECT_FALSE(ShouldShare(file, ArticleMatcher("x", {.mode = MatchMode::kText}),
                           {.threads = 2, .smallest_article = 0}));
  EXPECT_FALSE(ShouldShare(file, ArticleMatcher("x"), {.threads = 2}));
  // Nor is the search of a part of the page, whose start may lie anywhere: a large article is
  // read from its start then, in blocks, with the outcome of reading it whole.
  const MatchSettings part{.mode = MatchMode::kText,
                           .article = {.marker = "<main>", .ignore = {"nav"}}};
  EXPECT_FALSE(ShouldShare(file, ArticleMatcher("x", part), {.threads = 2, .smallest_article = 0}));
  const std::string page = "needle" + std::string(2 * kRead, 'x') + "<main> Begins <nav>" +
                           std::string(kRead, 'n') + " needle</nav>" + std::string(kRead, ' ') +
                           "a needle";
  for (const std::string_view phrase : {"needle", "x"}) {
    const std::string path = scratch.Write("ZEB3.htm", page);
    BlockFile large(ArticleFileDeclaration());
    ArticleMatcher matcher(phrase, part);
    const ArticleOutcome outcome =
        ScanArticle(path, large, matcher, {.threads = 3, .smallest_article = 0}, {});
    EXPECT_EQ(outcome.matched, phrase == "needle");
    EXPECT_EQ(outcome.excerpt, phrase == "needle" ? "Begins a needle" : "");
  }
}

// Where the filter says the terms can lie is read first, and the article is done without a
// match when a term is not there, even when it lies elsewhere: the filter is trusted. Once each
// is found there, the article is read whole, its every hit counted. Places that come to half
// the article, places of another file (another inode or size), a search other than the plain
// byte search and a failed read of the places all leave the article to be read whole.
TEST(ArticleScanTest, LooksFirstWhereTheFilterSaysTheTermsCanLie) {
  testing::ScratchDirectory scratch;
  std::string page = "<!-- Article starts -->" + std::string(4 * kRead, 'x');
  page.replace(5000, 7, " Needle");
  page.replace(2 * kRead, 7, " thread");
  page.replace(3 * kRead, 7, " needle");
  const std::string path = scratch.Write("ZEB1.htm", page);
  struct stat status {};
  ASSERT_EQ(stat(path.c_str(), &status), 0);
  const auto scan = [&](const Query& query, std::vector<TermPlaces> terms,
                        const MatchSettings& settings = {}, uint64_t bad_byte = UINT64_MAX,
                        uint64_t inode = 0) {
    platform::testing::FaultyEnv env;
    env.FailReadsOf(bad_byte, EIO);
    BlockFile file(ArticleFileDeclaration(), env);
    const std::unique_ptr<QueryMatcher> matcher =
        MakeQueryMatcher(query, settings, StreamSearch::Count::kAll);
    const ArticlePlaces places{.inode = inode != 0 ? inode : status.st_ino,
                               .size = page.size(),
                               .terms = std::move(terms)};
    return ScanArticle(path, file, *matcher, {}, {}, {}, nullptr, &places);
  };
  const Query phrase = Query::Phrase("needle");
  const ArticleOutcome elsewhere =
      scan(phrase, {{0, {{0, 4000}, {3 * kRead + 3, 3 * kRead + 9000}}}});
  EXPECT_FALSE(elsewhere.matched);
  EXPECT_EQ(elsewhere.failure.kind, ArticleOutcome::Failure::kNone);
  const ArticleOutcome found = scan(phrase, {{0, {{0, 4000}, {3 * kRead, 3 * kRead + 9000}}}});
  EXPECT_TRUE(found.matched);
  EXPECT_EQ(found.hits, 2u);

  EXPECT_TRUE(scan(phrase, {{0, {{0, 2 * kRead + 100}}}}).matched);
  EXPECT_TRUE(scan(phrase, {{0, {{0, 4000}}}}, {.mode = MatchMode::kText}).matched);
  EXPECT_EQ(scan(phrase, {{0, {{0, 4000}}}}, {}, 100).failure.kind, ArticleOutcome::Failure::kRead);
  EXPECT_TRUE(scan(phrase, {{0, {{0, 4000}}}}, {}, UINT64_MAX, status.st_ino + 1).matched);

  Query words;
  ASSERT_EQ(ParseQuery("needle thread", QueryKind::kWords, words), QueryProblem::kNone);
  EXPECT_FALSE(scan(words, {{0, {{3 * kRead, 3 * kRead + 9000}}}, {1, {{0, 4000}}}}).matched);
  // A term that may lie anywhere leaves the other looked for in its places alone.
  EXPECT_FALSE(scan(words, {{0, {{0, page.size()}}}, {1, {{0, 4000}}}}).matched);
  const ArticleOutcome both =
      scan(words, {{0, {{3 * kRead, 3 * kRead + 9000}}}, {1, {{2 * kRead, 2 * kRead + 9000}}}});
  EXPECT_TRUE(both.matched);
  EXPECT_EQ(both.term_hits, (std::vector<uint64_t>{2, 1}));
}

}  // namespace
}  // namespace kb
