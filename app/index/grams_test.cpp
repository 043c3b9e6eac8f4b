#include "app/index/grams.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>

using namespace std::string_literals;

#include "app/match/article_matcher.h"
#include "support/testing/rounds.h"

namespace kb::index {
namespace {

using Groups = std::vector<std::vector<uint32_t>>;

// Random articles and phrases from a small alphabet that makes matches, markup, references
// and case pairs common; whenever the search finds the phrase, the article's grams hold every
// gram the index would look up for it. A gram too many would lose a match.
TEST(GramsTest, EveryArticleThatMatchesHoldsThePhrasesGrams) {
  const std::string alphabet = "aAbB <>&;/\t\n\x00\xE9\xC9p"s;
  std::mt19937 random(20261208);
  const auto text = [&](std::size_t most) {
    std::string bytes(std::uniform_int_distribution<std::size_t>(0, most)(random), ' ');
    for (char& byte : bytes) {
      byte = alphabet[std::uniform_int_distribution<std::size_t>(0, alphabet.size() - 1)(random)];
    }
    return bytes;
  };
  int served = 0;
  int found = 0;
  const int rounds = testing::Rounds(20000);
  for (int round = 0; round < rounds; ++round) {
    MatchSettings settings;
    if (random() % 2) settings.mode = MatchMode::kText;
    if (random() % 2) settings.case_table[0xE9] = 0xC9;
    const std::string article = text(60);
    std::string phrase = text(8);
    if (random() % 2 && article.size() > 4) {
      const std::size_t start = random() % (article.size() - 4);
      phrase = article.substr(start,
                              4 + random() % std::min<std::size_t>(6, article.size() - start - 3));
    }
    ArticleMatcher matcher(phrase, settings);
    matcher.StartArticle();
    ArticleGrams grams;
    for (std::size_t at = 0; at < article.size();) {
      const std::size_t piece = 1 + random() % 7;
      matcher.Feed(std::string_view(article).substr(at, piece));
      grams.Feed(std::string_view(article).substr(at, piece));
      at += piece;
    }
    matcher.FinishArticle();
    grams.Finish();
    const PhraseGrams sought = GramsOfPhrase(phrase, settings);
    if (!sought.refusal.empty()) continue;
    ++served;
    if (!matcher.phrase_found()) continue;
    ++found;
    const std::vector<uint32_t>& wanted = sought.groups.at(0);
    ASSERT_TRUE(
        std::any_of(grams.stretches(sought.view).begin(), grams.stretches(sought.view).end(),
                    [&](const std::vector<uint32_t>& held) {
                      return std::includes(held.begin(), held.end(), wanted.begin(), wanted.end());
                    }))
        << "article '" << article << "' phrase '" << phrase << "' text "
        << (settings.mode == MatchMode::kText);
  }
  EXPECT_GT(served, rounds / 4);
  EXPECT_GT(found, rounds / 20);
}

// Whatever the cuts, an article's byte grams are each run of four bytes, a-z folded, once and
// in order, in the stretch where it starts and in the one before while it starts within the
// overlap past that one's end; the alphabet has few letters so that grams repeat, and 0xFF so
// that the gram of four of them turns up. Then any run of the article, up to the longest
// phrase, has all its grams in one stretch, and lies whole within that stretch's bytes.
TEST(GramsTest, ByteGramsAreEveryRunOfFourOnceInItsStretches) {
  const std::string alphabet = "aAbz\x00\xFF"s;
  std::mt19937 random(20261209);
  for (int round = 0; round < 60; ++round) {
    std::string article(random() % (4 * kStretchBytes), ' ');
    for (char& byte : article) byte = alphabet[random() % alphabet.size()];
    std::vector<std::vector<uint32_t>> expected;
    for (std::size_t start = 0; start + 4 <= article.size(); ++start) {
      uint32_t gram = 0;
      for (std::size_t at = start; at < start + 4; ++at) {
        const auto byte = static_cast<unsigned char>(article[at]);
        gram = (gram << 8) | (byte >= 'a' && byte <= 'z' ? byte - 32 : byte);
      }
      const std::size_t stretch = start / kStretchBytes;
      expected.resize(stretch + 1);
      expected[stretch].push_back(gram);
      if (stretch > 0 && start % kStretchBytes < kStretchOverlap) {
        expected[stretch - 1].push_back(gram);
      }
    }
    for (std::vector<uint32_t>& grams : expected) {
      std::sort(grams.begin(), grams.end());
      grams.erase(std::unique(grams.begin(), grams.end()), grams.end());
    }
    ArticleGrams grams;
    for (std::size_t at = 0; at < article.size();) {
      const std::size_t piece = 1 + random() % 600;
      grams.Feed(std::string_view(article).substr(at, piece));
      at += piece;
    }
    grams.Finish();
    ASSERT_EQ(grams.stretches(GramView::kBytes), expected) << "round " << round;
    for (int run = 0; run < 20 && article.size() >= kMaxSearchTextBytes; ++run) {
      std::size_t length = 4 + random() % (kMaxSearchTextBytes - 3);
      std::size_t start = random() % (article.size() - length + 1);
      // Every other run is as long as may be, starting in the last bytes of a stretch's own.
      if (run % 2 == 1 && article.size() > kStretchBytes + kMaxSearchTextBytes) {
        length = kMaxSearchTextBytes;
        start = std::min((1 + random() % (article.size() / kStretchBytes)) * kStretchBytes,
                         article.size() - length) -
                1 - random() % 3;
      }
      const std::vector<uint32_t> wanted = GramsOf(article.substr(start, length));
      bool within = false;
      for (std::size_t stretch = 0; stretch < expected.size(); ++stretch) {
        const ByteRange bytes = BytesOfStretch(stretch);
        within = within || (std::includes(expected[stretch].begin(), expected[stretch].end(),
                                          wanted.begin(), wanted.end()) &&
                            bytes.start <= start && start + length <= bytes.end);
      }
      EXPECT_TRUE(within) << "round " << round << " run at " << start << " of " << length;
    }
  }
}

TEST(GramsTest, RefusesWhatTheIndexCannotAnswerExactly) {
  MatchSettings unicode;
  unicode.case_folding = CaseFolding::kUnicode;
  EXPECT_EQ(GramsOfPhrase("printer", unicode).refusal, kRefusedMode);
  MatchSettings accents;
  accents.ignore_accents = true;
  EXPECT_EQ(GramsOfPhrase("printer", accents).refusal, kRefusedMode);
  EXPECT_EQ(GramsOfPhrase("abc", {}).refusal, kRefusedShortPhrase);
  MatchSettings text;
  text.mode = MatchMode::kText;
  // White space runs count as one blank in the text.
  EXPECT_EQ(GramsOfPhrase("a \t  b", text).refusal, kRefusedShortPhrase);
  MatchSettings pairs;
  pairs.case_table[0xE9] = 0xC9;
  EXPECT_EQ(GramsOfPhrase("\xE9\xE9\xE9\xE9", pairs).refusal, kRefusedMode);
  EXPECT_EQ(GramsOfPhrase("\xE9\xE9\xE9\xE9", {}).groups, Groups{GramsOf("\xE9\xE9\xE9\xE9")});
}

// Words narrow by every required term of a gram or more; short and excluded terms by none.
TEST(GramsTest, WordsNarrowByTheGramsOfEveryRequiredTermLongEnough) {
  const auto words = [](std::string_view text) {
    Query query;
    EXPECT_EQ(ParseQuery(text, QueryKind::kWords, query), QueryProblem::kNone);
    return query;
  };
  const std::vector<uint32_t> join = GramsOf("join");
  const PhraseGrams spawn_join = GramsOfQuery(words("spawn a -thread join"), {});
  EXPECT_EQ(spawn_join.groups, (Groups{GramsOf("spawn"), join}));
  EXPECT_EQ(spawn_join.terms, (std::vector<std::size_t>{0, 3}));
  EXPECT_EQ(GramsOfQuery(words("ab cd -thread"), {}).refusal, kRefusedShortPhrase);
  MatchSettings unicode;
  unicode.case_folding = CaseFolding::kUnicode;
  EXPECT_EQ(GramsOfQuery(words("spawn"), unicode).refusal, kRefusedMode);
  MatchSettings pairs;
  pairs.case_table[0xE9] = 0xC9;
  EXPECT_EQ(GramsOfQuery(words("\xE9\xE9\xE9\xE9 ab"), pairs).refusal, kRefusedMode);
  EXPECT_EQ(GramsOfQuery(words("\xE9\xE9\xE9\xE9 join"), pairs).groups, Groups{join});
  EXPECT_EQ(GramsOfQuery(Query::Phrase("spawn a"), {}).groups, GramsOfPhrase("spawn a", {}).groups);
}

// The grams of an article are those of its region: the bytes of it, and the text of it
// without the ignored elements; a page whose region does not begin has none.
TEST(GramsTest, AreThoseOfTheArticlesRegion) {
  const ArticlePart part{.marker = "body", .ignore = {"nav", ".side"}};
  for (const std::string page :
       {"<head><title>Head</title></head><body>Text <nav>Menu</nav> end",
        "<body class=x><p class=\"a side\">Aside</p>Main text", "no body at all"}) {
    ArticleGrams grams(part);
    for (std::size_t at = 0; at < page.size(); at += 5) grams.Feed(page.substr(at, 5));
    grams.Finish();
    const std::string bytes = RegionOf(page, part, false).value_or("");
    HtmlText text;
    const std::string region_text =
        std::string(text.Extract(RegionOf(page, part, true).value_or(""))) +
        std::string(text.Finish());
    // Short pages: one stretch, or none.
    const auto grams_of = [](const std::string& text) {
      return text.size() < kGramLength ? Groups{} : Groups{GramsOf(text)};
    };
    EXPECT_EQ(grams.stretches(GramView::kBytes), grams_of(bytes)) << page;
    EXPECT_EQ(grams.stretches(GramView::kText), grams_of(region_text)) << page;
  }
}

}  // namespace
}  // namespace kb::index
