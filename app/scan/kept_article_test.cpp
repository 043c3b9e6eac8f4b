#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "app/scan/article_scan.h"

namespace kb {
namespace {

constexpr std::size_t kMost = 300'000;
constexpr std::size_t kBudget = 1'000'000;

// An article of `size` bytes that tells its copies apart: a stretch of random letters
// starting at `seed`.
std::string ArticleOf(std::size_t size, uint32_t seed) {
  static const std::string letters = [] {
    std::string made(4 * kMost, ' ');
    std::mt19937 random(1);
    for (char& byte : made) byte = static_cast<char>('a' + random() % 26);
    return made;
  }();
  return letters.substr(seed % (letters.size() - size), size);
}

// Keeps `article` as the scan would, in reads of random sizes (or in one whole read), and
// checks what is kept: its first kMost bytes, or nothing when the copy did not fit.
void KeepLikeTheScan(KeptArticle& kept, std::string_view article, std::mt19937& random) {
  // The article may have grown or shrunk since its open.
  kept.Start(article.size() / 2 + random() % (article.size() + 1));
  if (random() % 4 == 0) {
    kept.Add(article, true);
    ASSERT_EQ(kept.bytes(), article);
    return;
  }
  for (std::size_t at = 0; at < article.size();) {
    const std::size_t piece = std::min<std::size_t>(article.size() - at, 1 + random() % 70'000);
    kept.Add(article.substr(at, piece), false);
    at += piece;
  }
  if (const std::optional<std::string_view> bytes = kept.bytes()) {
    ASSERT_EQ(*bytes, article.substr(0, kMost));
  }
}

// Threads that keep large articles hold no more than the budget at once, every copy kept is
// the article's start, and every copy's share comes back once its article is done.
TEST(KeptArticleTest, CopiesOnEveryThreadStayWithinOneBudget) {
  KeptBudget budget(kBudget);
  std::vector<std::jthread> threads;
  for (uint32_t thread = 0; thread < 8; ++thread) {
    threads.emplace_back([&budget, thread] {
      std::mt19937 random(thread);
      KeptArticle kept(kMost, budget);
      for (int article = 0; article < 30; ++article) {
        const std::string text = ArticleOf(random() % (2 * kMost), random());
        KeepLikeTheScan(kept, text, random);
        kept.Release();
      }
    });
  }
  threads.clear();
  EXPECT_LE(budget.most_taken(), kBudget);
  EXPECT_TRUE(budget.Take(kBudget)) << "a copy's share was not given back";
}

// One thread alone always keeps what fits in the budget, and never what does not; a copy
// dropped leaves the next article's copy whole.
TEST(KeptArticleTest, ACopyIsDroppedOnlyWhenItDoesNotFit) {
  std::mt19937 random(7);
  KeptBudget budget(kBudget);
  KeptArticle small(kMost, budget);
  KeepLikeTheScan(small, ArticleOf(kMost + 1, 1), random);
  EXPECT_TRUE(small.bytes());

  KeptBudget tight(kMost / 2);
  KeptArticle kept(kMost, tight);
  for (const std::size_t size : {kMost / 4, kMost, kMost / 3, 2 * kMost, std::size_t{100}}) {
    kept.Start(size);
    const std::string text = ArticleOf(size, static_cast<uint32_t>(size));
    kept.Add(std::string_view(text).substr(0, size / 2), false);
    kept.Add(std::string_view(text).substr(size / 2), false);
    SCOPED_TRACE(size);
    EXPECT_EQ(kept.bytes().has_value(), size <= kMost / 2);
    if (kept.bytes()) {
      EXPECT_EQ(*kept.bytes(), text);
    }
  }
  kept.Release();
  EXPECT_TRUE(tight.Take(kMost / 2));
}

}  // namespace
}  // namespace kb
