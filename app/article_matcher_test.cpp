#include "app/article_matcher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/text/text.h"

namespace kb {
namespace {

using namespace std::string_literals;

struct Outcome {
  bool phrase_found;
  bool marker_found;
  std::string excerpt;

  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
  return out << "{phrase " << outcome.phrase_found << ", marker " << outcome.marker_found
             << ", excerpt '" << outcome.excerpt << "'}";
}

// What searching the whole article at once gives.
Outcome WholeArticle(std::string_view phrase, std::string_view article) {
  Outcome outcome{!phrase.empty() && Upper(article).find(Upper(phrase)) != std::string::npos, false,
                  ""};
  const std::size_t marker = article.find(kArticleMarker);
  if (marker != std::string::npos) {
    outcome.marker_found = true;
    const std::string_view clipped = Clip(article);
    const std::size_t start = marker + kArticleMarker.size();
    const std::size_t end = std::min(start + kExcerptLength, clipped.size());
    outcome.excerpt = start < end ? std::string(article.substr(start, end - start)) : "";
    outcome.excerpt = std::string(Clip(outcome.excerpt));
  }
  return outcome;
}

// What the matcher gives when the article is fed in pieces of the given sizes (the last
// piece takes the rest).
Outcome InPieces(ArticleMatcher& matcher, std::string_view article,
                 const std::vector<std::size_t>& sizes) {
  matcher.StartArticle();
  std::size_t at = 0;
  for (std::size_t size : sizes) {
    matcher.Feed(article.substr(at, size));
    at = std::min(article.size(), at + size);
  }
  matcher.Feed(article.substr(at));
  return {matcher.phrase_found(), matcher.marker_found(), std::string(matcher.excerpt())};
}

Outcome InBlocks(std::string_view phrase, std::string_view article, std::size_t block = 4096) {
  ArticleMatcher matcher(phrase);
  return InPieces(matcher, article, std::vector<std::size_t>(article.size() / block, block));
}

TEST(ArticleMatcherTest, ResultNeedsThePhraseInAnyCaseAndTheExactMarker) {
  const std::string article = "<h1>Printer Setup</h1><!-- Article starts -->Plug it in.";
  EXPECT_EQ(InBlocks("PRINTER SETUP", article), (Outcome{true, true, "Plug it in."}));
  EXPECT_EQ(InBlocks("scanner", article), (Outcome{false, true, "Plug it in."}));
  EXPECT_EQ(InBlocks("printer", "Printer <!-- article starts -->x"), (Outcome{true, false, ""}));
  EXPECT_EQ(InBlocks("", article), (Outcome{false, true, "Plug it in."}));
}

TEST(ArticleMatcherTest, ExcerptIsAtMost201BytesAfterTheFirstMarker) {
  const std::string marker(kArticleMarker);
  const std::string long_text(500, 'x');
  EXPECT_EQ(InBlocks("x", marker + long_text).excerpt, std::string(201, 'x'));
  EXPECT_EQ(InBlocks("x", marker + std::string(50, 'y') + std::string(300, ' ')).excerpt,
            std::string(50, 'y'));
  EXPECT_EQ(InBlocks("x", "x" + marker + "   ").excerpt, "");
  EXPECT_EQ(InBlocks("x", "x" + marker + "first" + marker + "second").excerpt,
            "first" + marker + "second");
  // Line ends and zero bytes are part of the excerpt.
  EXPECT_EQ(InBlocks("x", "x" + marker + "a\r\nb\0c"s).excerpt, "a\r\nb\0c"s);
}

TEST(ArticleMatcherTest, BlockBoundariesChangeNothing) {
  const std::string marker(kArticleMarker);
  // A phrase whose blank is the last byte of a block.
  std::string article = std::string(4092, '.') + "foo bar";
  ASSERT_EQ(article[4095], ' ');
  article += marker + "tail";
  EXPECT_EQ(InBlocks("FOO BAR", article), (Outcome{true, true, "tail"}));

  // The marker cut by a block boundary, its excerpt spanning the next one.
  article = std::string(4090, '.') + marker + std::string(4096 - 13, 'e') + "0123456789";
  const Outcome expected{true, true, std::string(4096 - 13, 'e').substr(0, 201)};
  EXPECT_EQ(InBlocks("E", article), expected);
  article = std::string(4096 - 23 - 100, '.') + marker + std::string(100, 'a') +
            std::string(101, 'b') + "ccc";
  EXPECT_EQ(InBlocks("ccc", article).excerpt, std::string(100, 'a') + std::string(101, 'b'));

  // Zero bytes and blanks at block ends are ordinary data.
  article = std::string(4095, '\0') + " needle" + marker;
  EXPECT_TRUE(InBlocks(" NEEDLE", article).phrase_found);
}

TEST(ArticleMatcherTest, FindsEverythingFarBeyondTheFirstBlocks) {
  std::string article(3'000'000, 'z');
  article += "the Needle<!-- Article starts -->after";
  EXPECT_EQ(InBlocks("THE NEEDLE", article), (Outcome{true, true, "after"}));
}

TEST(ArticleMatcherTest, AnyCuttingGivesTheWholeArticleOutcome) {
  std::mt19937 random(11);
  const std::vector<std::string> words = {"ab",
                                          "AB",
                                          "aB ",
                                          " ",
                                          "\0"s,
                                          "\xE1",
                                          "<!-- Article",
                                          " starts -->",
                                          "<!-- Article starts -->",
                                          "<!-- article starts -->",
                                          "x",
                                          "\r\n"};
  for (int round = 0; round < 2000; ++round) {
    std::string article;
    const int count = random() % 40;
    for (int i = 0; i < count; ++i) article += words[random() % words.size()];
    const std::string phrase =
        std::vector<std::string>{"ab", "b a", "ab ab", "S", "\0"s, "a\xE1", "TS -->"}[random() % 7];
    std::vector<std::size_t> sizes;
    for (std::size_t total = 0; total < article.size();) {
      sizes.push_back(random() % 9);
      total += sizes.back();
    }
    ArticleMatcher matcher(phrase);
    EXPECT_EQ(InPieces(matcher, article, sizes), WholeArticle(phrase, article))
        << "phrase '" << phrase << "' article '" << article << "'";
    // The same matcher serves the next article from a clean start.
    EXPECT_EQ(InPieces(matcher, "x", {}), WholeArticle(phrase, "x"));
  }
}

TEST(ArticleMatcherTest, SettlesOnceNothingCanChange) {
  ArticleMatcher matcher("needle");
  matcher.StartArticle();
  matcher.Feed("needle <!-- Article starts -->");
  EXPECT_FALSE(matcher.settled());
  matcher.Feed(std::string(200, 'e'));
  EXPECT_FALSE(matcher.settled());
  matcher.Feed("e");
  EXPECT_TRUE(matcher.settled());

  ArticleMatcher empty("");
  empty.StartArticle();
  EXPECT_TRUE(empty.settled());
}

}  // namespace
}  // namespace kb
