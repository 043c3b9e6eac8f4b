// Reading on from the middle of an article gives the text that reading from its start gives
// from there, on random markup resumed at every point where it can be.

#include "app/match/html_resume.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "app/match/html_text.h"
#include "app/match/testing/random_markup.h"
#include "support/testing/rounds.h"

namespace kb {
namespace {

// The text of `article` from its start, up to `at` or whole.
std::string TextUpTo(std::string_view article, std::size_t at, bool whole) {
  HtmlText reader;
  std::string text(reader.Extract(article.substr(0, at)));
  if (whole) text += reader.Extract(article.substr(at));
  if (whole) text += reader.Finish();
  return text;
}

TEST(TextResumer, ReadsOnAsFromTheStart) {
  std::mt19937 random(1919);
  int resumed = 0;
  int tried = 0;
  for (int round = 0, rounds = testing::Rounds(3000); round < rounds; ++round) {
    // Documentation-like pages now and then: tags with values in quotes and some text.
    std::string article = testing::RandomMarkup(random, 120, round % 3 == 0);
    if (round % 2 == 0) {
      for (int n = 0; n < 20; ++n) article += "<li><a href=\"x.html\" title=\"t\">Text</a></li> ";
      article += testing::RandomMarkup(random, 40);
    }
    const std::string whole = TextUpTo(article, article.size(), true);
    TextResumer resumer(article);
    // Points asked for go further on, as the snippets ask for them.
    for (std::size_t from = 0; from < article.size(); from += 1 + random() % 97) {
      ++tried;
      HtmlText reader;
      const std::optional<std::size_t> at = resumer.Resume(from, article.size(), reader);
      if (!at) continue;
      ++resumed;
      ASSERT_GT(*at, from);
      std::string text = TextUpTo(article, *at, false);
      text += reader.Extract(std::string_view(article).substr(*at));
      text += reader.Finish();
      ASSERT_EQ(text, whole) << "resumed from " << from << " at " << *at << " in " << article;
    }
  }
  // Most points of such markup can be resumed at.
  EXPECT_GT(resumed, tried / 8);
}

}  // namespace
}  // namespace kb
