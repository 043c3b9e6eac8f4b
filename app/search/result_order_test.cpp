#include "app/search/result_order.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace kb {
namespace {

// Where each article stands in `order`.
std::vector<std::size_t> Ranks(const std::vector<std::size_t>& order) {
  std::vector<std::size_t> ranks(order.size());
  for (std::size_t rank = 0; rank < order.size(); ++rank) ranks[order[rank]] = rank;
  return ranks;
}

// Whether `a` has at least the hits of `b` for every term.
bool HitsAtLeast(const ArticleWeights& a, const ArticleWeights& b) {
  for (std::size_t term = 0; term < a.term_hits.size(); ++term) {
    if (a.term_hits[term] < b.term_hits[term]) return false;
  }
  return true;
}

// Random articles, drawn from few values so that equal lengths and ties come often: titles
// that hold every term rank first; among the rest, at equal length, more hits of every term
// never rank lower, and at equal hits a shorter article never ranks lower; articles that weigh
// the same keep their order; every article comes once.
TEST(RelevanceOrderTest, TitlesFirstThenMoreHitsAndShorterNeverLower) {
  std::mt19937 random(11);
  for (int round = 0; round < 200; ++round) {
    const std::size_t terms = 1 + random() % 3;
    std::vector<ArticleWeights> weights(random() % 30);
    for (ArticleWeights& article : weights) {
      for (std::size_t term = 0; term < terms; ++term) {
        article.term_hits.push_back(1 + random() % (random() % 2 ? 4 : 400));
      }
      article.length = 100 * (1 + random() % 4) * (random() % 5 == 0 ? 1000 : 1);
      article.title_holds_every_term = random() % 4 == 0;
    }
    const std::vector<std::size_t> order = RelevanceOrder(weights);
    std::vector<std::size_t> sorted = order;
    std::sort(sorted.begin(), sorted.end());
    for (std::size_t at = 0; at < sorted.size(); ++at) ASSERT_EQ(sorted[at], at);
    const std::vector<std::size_t> rank = Ranks(order);
    for (std::size_t a = 0; a < weights.size(); ++a) {
      for (std::size_t b = 0; b < weights.size(); ++b) {
        const ArticleWeights& first = weights[a];
        const ArticleWeights& second = weights[b];
        SCOPED_TRACE(::testing::Message() << "round " << round << " articles " << a << " " << b);
        if (first.title_holds_every_term && !second.title_holds_every_term) {
          EXPECT_LT(rank[a], rank[b]);
        }
        if (first.title_holds_every_term != second.title_holds_every_term) continue;
        if (first.length == second.length && HitsAtLeast(first, second) &&
            first.term_hits != second.term_hits) {
          EXPECT_LT(rank[a], rank[b]);
        }
        if (first.term_hits == second.term_hits && first.length < second.length) {
          EXPECT_LT(rank[a], rank[b]);
        }
        if (first == second && a < b) {
          EXPECT_LT(rank[a], rank[b]);
        }
      }
    }
  }
}

// A term's hits count for ever less: with a few more hits, a long article does not pass a short
// one, but with far more it does.
TEST(RelevanceOrderTest, HitsCountForLessAsTheyGrow) {
  const ArticleWeights shorter{.term_hits = {3}, .length = 1'000};
  EXPECT_EQ(
      RelevanceOrder(std::vector{ArticleWeights{.term_hits = {4}, .length = 10'000}, shorter}),
      (std::vector<std::size_t>{1, 0}));
  EXPECT_EQ(
      RelevanceOrder(std::vector{ArticleWeights{.term_hits = {300}, .length = 10'000}, shorter}),
      (std::vector<std::size_t>{0, 1}));
}

// The orders a search's results can come in: by name, by hits (most first, ties by name), by
// relevance; an article without weights counts as none.
TEST(ResultOrderTest, NameHitsAndRelevance) {
  const auto found = [](std::optional<ArticleWeights> weights) {
    return FoundArticle{.details = {.weights = std::move(weights)}};
  };
  const std::vector<FoundArticle> articles = {
      found(ArticleWeights{.term_hits = {2}, .length = 50}),
      found(std::nullopt),
      found(ArticleWeights{.term_hits = {9}, .length = 5000}),
      found(ArticleWeights{.term_hits = {2}, .length = 50, .title_holds_every_term = true}),
  };
  EXPECT_EQ(ResultOrder(articles, ResultsOrder::kName), (std::vector<std::size_t>{0, 1, 2, 3}));
  EXPECT_EQ(ResultOrder(articles, ResultsOrder::kHits), (std::vector<std::size_t>{2, 0, 3, 1}));
  EXPECT_EQ(ResultOrder(articles, ResultsOrder::kRelevance),
            (std::vector<std::size_t>{3, 0, 2, 1}));
  EXPECT_TRUE(ResultOrder({}, ResultsOrder::kRelevance).empty());
}

}  // namespace
}  // namespace kb
