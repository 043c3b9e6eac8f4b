#include "app/match/phrase_finder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "support/text/text.h"

namespace kb {
namespace {

using Case = PhraseFinder::Case;

// What a folded search must give: the first place where the upper-cased text holds the
// upper-cased phrase.
std::size_t FoldedReference(std::string_view phrase, std::string_view text) {
  if (phrase.empty()) return std::string::npos;
  return Upper(text).find(Upper(phrase));
}

TEST(PhraseFinderTest, FoldsOnlyTheLettersAToZ) {
  const PhraseFinder hello("hello", Case::kFolded);
  EXPECT_EQ(hello.Find("say HeLlO"), 4u);
  EXPECT_EQ(PhraseFinder("HELLO", Case::kFolded).Find("say hello"), 4u);

  // Bytes that differ from a letter only in the case bit are not letters and stay apart.
  EXPECT_EQ(PhraseFinder("@[\\]^_", Case::kFolded).Find("`{|}~\x7f"), PhraseFinder::npos);
  EXPECT_EQ(PhraseFinder("`{", Case::kFolded).Find("@["), PhraseFinder::npos);
  // Letters above 127 match only in the same case.
  EXPECT_EQ(PhraseFinder("\xC4", Case::kFolded).Find("\xE4"), PhraseFinder::npos);
  EXPECT_EQ(PhraseFinder("\xC4", Case::kFolded).Find("a\xC4"), 1u);
  // The blank is an ordinary byte of the phrase, trailing or not.
  EXPECT_EQ(PhraseFinder("word ", Case::kFolded).Find("word.word "), 5u);
}

TEST(PhraseFinderTest, ExactSearchKeepsCase) {
  const PhraseFinder marker("<!-- Article starts -->", Case::kExact);
  EXPECT_EQ(marker.Find("<!-- article starts --><!-- Article starts -->"), 23u);
  EXPECT_EQ(marker.Find("<!-- ARTICLE STARTS -->"), PhraseFinder::npos);
}

TEST(PhraseFinderTest, NothingIsFoundForAnEmptyPhraseOrAShortText) {
  EXPECT_EQ(PhraseFinder("", Case::kFolded).Find("anything"), PhraseFinder::npos);
  EXPECT_EQ(PhraseFinder("", Case::kExact).Find(""), PhraseFinder::npos);
  EXPECT_EQ(PhraseFinder("abc", Case::kFolded).Find("ab"), PhraseFinder::npos);
  EXPECT_EQ(PhraseFinder("abc", Case::kFolded).Find("abc"), 0u);
}

TEST(PhraseFinderTest, FindsThePhraseAtEveryOffsetAndOnlyTheFirstTime) {
  for (const std::string phrase : {"q", "zq", "Query", "a longer phrase of words 1234"}) {
    const PhraseFinder finder(phrase, Case::kFolded);
    for (std::size_t offset = 0; offset < 200; ++offset) {
      std::string text(offset, '.');
      text += Upper(phrase) + "...." + phrase;
      EXPECT_EQ(finder.Find(text), offset) << phrase << " at " << offset;
      EXPECT_EQ(finder.Find(std::string_view(text).substr(0, offset + phrase.size() - 1)),
                PhraseFinder::npos);
    }
  }
}

TEST(PhraseFinderTest, AgreesWithUpperCasedSearchOnRandomText) {
  std::mt19937 random(7);
  using namespace std::string_literals;
  const std::string alphabet = "aAbB \0\xE1\xC1@`[{"s;
  auto random_text = [&](std::size_t length) {
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
    return text;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string phrase = random_text(1 + random() % 4);
    const std::string text = random_text(random() % 120);
    EXPECT_EQ(PhraseFinder(phrase, Case::kFolded).Find(text), FoldedReference(phrase, text))
        << "phrase '" << phrase << "' text '" << text << "'";
    EXPECT_EQ(PhraseFinder(phrase, Case::kExact).Find(text), text.find(phrase));
  }
}

TEST(PhraseFinderTest, TextMadeOfThePhrasesOwnBytesIsStillSearchedRight) {
  std::string text;
  for (int i = 0; i < 5000; ++i) text += "aB";
  const std::string phrase = "ababababababababababB";
  EXPECT_EQ(PhraseFinder(phrase, Case::kFolded).Find(text + phrase), text.size());
  EXPECT_EQ(PhraseFinder(phrase, Case::kFolded).Find(text), PhraseFinder::npos);

  std::mt19937 random(5);
  auto random_text = [&](std::size_t length) {
    std::string random_bytes;
    for (std::size_t i = 0; i < length; ++i) random_bytes += "aAb"[random() % 3];
    return random_bytes;
  };
  for (int round = 0; round < 300; ++round) {
    const std::string sought = random_text(1 + random() % 30);
    const std::string searched = std::string(random() % 3000, 'a') + random_text(random() % 200);
    EXPECT_EQ(PhraseFinder(sought, Case::kFolded).Find(searched), FoldedReference(sought, searched))
        << sought;
    EXPECT_EQ(PhraseFinder(sought, Case::kExact).Find(searched), searched.find(sought)) << sought;
  }
}

}  // namespace
}  // namespace kb
