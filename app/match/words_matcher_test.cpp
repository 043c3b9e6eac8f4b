#include "app/match/words_matcher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/base/query.h"
#include "support/text/text.h"

namespace kb {
namespace {

Query Words(std::string_view text) {
  Query query;
  EXPECT_EQ(ParseQuery(text, QueryKind::kWords, query), QueryProblem::kNone) << text;
  return query;
}

TEST(QueryTest, WordsAreSplitAtWhiteSpaceWithQuotesKeepingTheirsAndDashesExcluding) {
  EXPECT_EQ(Words("  thread\tspawn  join ").terms,
            (std::vector<QueryTerm>{{"thread"}, {"spawn"}, {"join"}}));
  EXPECT_EQ(
      Words("\"raw  pointer\" -unsafe -\"two words\" a\"b c\"d").terms,
      (std::vector<QueryTerm>{{"raw  pointer"}, {"unsafe", true}, {"two words", true}, {"ab cd"}}));
  // A lone "-" is a term; "--x" excludes "-x"; "" stands for nothing.
  EXPECT_EQ(Words("- --x \"\" -\"\" .NET").terms,
            (std::vector<QueryTerm>{{"-"}, {"-x", true}, {".NET"}}));
  EXPECT_EQ(Words("join").text, "join");

  Query query = Query::Phrase("kept");
  EXPECT_EQ(ParseQuery("a \"b", QueryKind::kWords, query), QueryProblem::kUnclosedQuote);
  EXPECT_EQ(ParseQuery("-a -\"b c\"", QueryKind::kWords, query), QueryProblem::kNothingRequired);
  EXPECT_EQ(ParseQuery(" \t", QueryKind::kWords, query), QueryProblem::kNothingRequired);
  EXPECT_EQ(query, Query::Phrase("kept"));
  // A phrase is the text as it stands, quotes, dashes and all.
  EXPECT_EQ(ParseQuery("-a \"b", QueryKind::kPhrase, query), QueryProblem::kNone);
  EXPECT_EQ(query, Query::Phrase("-a \"b"));
  EXPECT_EQ(query.terms, (std::vector<QueryTerm>{{"-a \"b"}}));
}

bool Finds(std::string_view query, std::string_view article, const MatchSettings& settings = {}) {
  WordsMatcher matcher(Words(query), settings);
  matcher.StartArticle();
  matcher.Feed(Concat({"<!-- Article starts -->", article}));
  matcher.FinishArticle();
  return matcher.is_result();
}

TEST(WordsMatcherTest, ATermIsFoundWhereAWordStarts) {
  EXPECT_TRUE(Finds("join", "joining"));
  EXPECT_TRUE(Finds("join", "as_join"));
  EXPECT_TRUE(Finds("JOIN spawn", "spawn, then Join"));
  EXPECT_FALSE(Finds("join", "rejoin 2join"));
  EXPECT_FALSE(Finds("eric", "numeric"));
  EXPECT_TRUE(Finds(".NET", "dot.NET"));
  EXPECT_TRUE(Finds("__init__", "x__init__"));
  // Latin-1 words stay whole; a dash or a blank in UTF-8 starts a word, a mark or a digit
  // does not.
  EXPECT_FALSE(Finds("ric", "\xE9ric"));
  EXPECT_TRUE(Finds("join", "\xE2\x80\x94join"));
  EXPECT_FALSE(Finds("join", "e\xCC\x81join"));
  EXPECT_FALSE(Finds("join", "\xD9\xA3join"));
  // Excluded terms, at a word start too.
  EXPECT_FALSE(Finds("spawn -join", "spawn joining"));
  EXPECT_TRUE(Finds("spawn -join", "spawn rejoin"));
  EXPECT_TRUE(Finds("\"two words\"", "in two words"));
  EXPECT_FALSE(Finds("\"two words\"", "twotwo words"));
  // Before folding: a capital with an accent is a letter, folded or not.
  const MatchSettings accents{.case_folding = CaseFolding::kUnicode, .ignore_accents = true};
  EXPECT_TRUE(Finds("eric", "\xC3\x89ric", accents));
  EXPECT_FALSE(Finds("ric", "\xC3\x89ric", accents));
  // A combining accent folds into nothing, and is still the character before.
  EXPECT_FALSE(Finds("join", " \xCC\x81join", accents));
  EXPECT_TRUE(Finds("join", "\xE2\x80\x94join \xC3\x89", accents));
  // In the text, markup counts for nothing: "<b>x</b>join" is the word "xjoin".
  const MatchSettings text{.mode = MatchMode::kText};
  EXPECT_FALSE(Finds("join", "<b>x</b>join", text));
  EXPECT_TRUE(Finds("join", "<p>x</p>join", text));
  EXPECT_TRUE(Finds("join", "<b>x</b>join"));
}

// However an article is cut into pieces, the outcome, the excerpt and the hits of each term
// are those of the article fed whole.
TEST(WordsMatcherTest, PiecesChangeNothing) {
  constexpr const char* kParts[] = {"join ",
                                    "joining",
                                    "as_join ",
                                    "rejoin",
                                    "\xC3\x89ric ",
                                    "e\xCC\x81ric ",
                                    "\xE9ric ",
                                    "<b>jo</b>in",
                                    ".NET ",
                                    "&eacute;ric",
                                    "fish & chips",
                                    "\xC3\x9F ",
                                    "\xE2\x80\x94",
                                    "<!-- Article starts -->",
                                    "  ",
                                    "\n",
                                    "x",
                                    "\xCC\x81"};
  constexpr const char* kQueries[] = {"join",           "eric -rejoin", "\"fish & chips\" .NET",
                                      "\xC3\xA9ric jo", "ss -zz",       "\xE9ric join -x"};
  const MatchSettings kSettings[] = {
      {},
      {.mode = MatchMode::kText},
      {.case_folding = CaseFolding::kUnicode},
      {.case_folding = CaseFolding::kUnicode, .ignore_accents = true, .mode = MatchMode::kText}};
  std::mt19937 random(27);
  for (int round = 0; round < 400; ++round) {
    std::string article;
    for (int part = static_cast<int>(random() % 60); part > 0; --part) {
      article += kParts[random() % std::size(kParts)];
    }
    const Query query = Words(kQueries[random() % std::size(kQueries)]);
    const MatchSettings& settings = kSettings[random() % std::size(kSettings)];
    for (const auto count : {StreamSearch::Count::kFirstOnly, StreamSearch::Count::kAll}) {
      WordsMatcher whole(query, settings, count);
      whole.StartArticle();
      whole.Feed(article);
      whole.FinishArticle();
      WordsMatcher cut(query, settings, count);
      cut.StartArticle();
      for (std::size_t at = 0; at < article.size() && !cut.settled();) {
        const std::size_t size = 1 + random() % 7;
        cut.Feed(std::string_view(article).substr(at, size));
        at += size;
      }
      cut.FinishArticle();
      SCOPED_TRACE(article + " / " + query.text);
      ASSERT_EQ(cut.is_result(), whole.is_result());
      if (!whole.is_result()) continue;
      ASSERT_EQ(cut.excerpt(), whole.excerpt());
      if (count == StreamSearch::Count::kAll) {
        ASSERT_EQ(std::vector<uint64_t>(cut.term_hits().begin(), cut.term_hits().end()),
                  std::vector<uint64_t>(whole.term_hits().begin(), whole.term_hits().end()));
      }
    }
  }
}

TEST(WordsMatcherTest, HitsOfEachTermDoNotOverlapAndCountOnlyAtWordStarts) {
  WordsMatcher matcher(Words("a-a join -zz"), {}, StreamSearch::Count::kAll);
  matcher.StartArticle();
  matcher.Feed("<!-- Article starts -->xa-a-a-a a-a-a joining rejoin JOIN");
  matcher.FinishArticle();
  ASSERT_TRUE(matcher.is_result());
  // "xa-a-a-a": the hit at its third byte starts a word, and the one after it overlaps it.
  EXPECT_EQ(std::vector<uint64_t>(matcher.term_hits().begin(), matcher.term_hits().end()),
            (std::vector<uint64_t>{2, 2, 0}));
  EXPECT_EQ(matcher.hits(), 4u);
}

}  // namespace
}  // namespace kb
