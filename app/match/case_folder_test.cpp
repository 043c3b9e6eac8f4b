#include "app/match/case_folder.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <thread>
#include <vector>

#include "support/text/text.h"
#include "support/text/utf8.h"

namespace kb {
namespace {

struct Pair {
  std::string_view first;
  std::string_view second;
  bool match;
};

// Whether the two texts match each other once folded, as the phrase search compares them
// (a-z matching A-Z).
bool Match(const MatchSettings& settings, std::string_view first, std::string_view second) {
  CaseFolder folder(settings);
  return Upper(folder.FoldWhole(first)) == Upper(folder.FoldWhole(second));
}

void ExpectPairs(const MatchSettings& settings, std::initializer_list<Pair> pairs) {
  for (const Pair& pair : pairs) {
    EXPECT_EQ(Match(settings, pair.first, pair.second), pair.match)
        << "'" << pair.first << "' and '" << pair.second << "'";
  }
}

TEST(CaseFolderTest, UnicodeFoldingIsSimpleCaseFolding) {
  ExpectPairs({.case_folding = CaseFolding::kUnicode},
              {
                  {"\u00DF", "\u1E9E", true},  // ß and capital ẞ
                  {"\u00DF", "ss", false},     // folding ß to "ss" is not simple
                  {"STRASSE", "stra\u00DFe", false},
                  {"\u0130", "i", false},  // İ folds only to i and a combining dot
                  {"\u0130", "I", false},
                  {"\u0131", "I", false},      // dotless ı has no folding
                  {"\u03C2", "\u03C3", true},  // final sigma, sigma, capital sigma
                  {"\u03A3", "\u03C2", true},
                  {"\u212A", "k", true},  // the Kelvin sign
                  {"K", "\u212A", true},
                  {"\u017F", "S", true},    // long s
                  {"\uFB00", "ff", false},  // the ﬀ ligature folds only to "ff"
                  {"\u00C9T\u00C9", "\u00E9t\u00E9", true},
                  {"\u00E9", "e", false},
                  {"\u212B", "\u00E5", true},          // the angstrom sign
                  {"\U00010400", "\U00010428", true},  // Deseret, above U+FFFF
                  {"\U0001F600", "\U0001F600", true},
              });
}

TEST(CaseFolderTest, IgnoringAccentsDropsCombiningMarks) {
  ExpectPairs({.case_folding = CaseFolding::kAscii, .ignore_accents = true},
              {
                  {"na\u00EFve", "naive", true},
                  {"NA\u00CFVE", "naive", true},
                  {"nai\u0308ve", "na\u00EFve", true},  // decomposed and composed forms
                  {"\u00C5", "A", true},
                  {"\u212B", "a", true},
                  {"\u0130", "i", true},
                  {"\u00E9", "\u00EA", true},
                  {"\u0301", "", true},    // an accent on its own is nothing
                  {"\u00F8", "o", false},  // ø is a letter of its own, not o with a mark
                  {"\u00DF", "ss", false},
                  {"\u1E9E", "\u00DF", true},
              });
}

TEST(CaseFolderTest, BytesThatAreNotUtf8MatchOnlyThemselves) {
  const MatchSettings unicode{.case_folding = CaseFolding::kUnicode};
  ExpectPairs(unicode, {
                           {"\xE9", "\xC9", false},  // Latin-1 é and É
                           {"\xC3", "\xC3", true},
                           {"\xC1\x81", "a", false},                // an overlong A
                           {"\xED\xA0\x80", "\xED\xA0\x80", true},  // a surrogate
                       });
  CaseFolder folder(unicode);
  for (const std::string_view bytes : {"\xE9t\xE9", "\xC3(", "\xF4\x90\x80\x80", "\x80\xBF"}) {
    EXPECT_EQ(folder.FoldWhole(bytes), bytes);
  }
  EXPECT_EQ(folder.FoldWhole("\xC3\x89\xC3"), "\xC3\xA9\xC3") << "É, then a cut sequence";
}

TEST(CaseFolderTest, CasePairsFoldBytesOfASingleByteCodePage) {
  MatchSettings latin1;
  latin1.case_table[0xE9] = 0xC9;
  ExpectPairs(latin1, {
                          {"caf\xE9", "CAF\xC9", true},
                          {"\xE8", "\xC8", false},
                          {"\xE9", "e", false},
                      });
  CaseFolder folder(latin1);
  EXPECT_TRUE(folder.MatterFor(folder.FoldWhole("caf\xE9")));
  // Where the phrase holds no byte that another folds to, articles need no folding.
  EXPECT_FALSE(folder.MatterFor(folder.FoldWhole("cafe \xE8")));
}

// What `text` folds to, character by character: the table's byte for each byte above 127, or
// each UTF-8 character's folding, bytes that are not UTF-8 (a sequence cut by the end too)
// as they are.
std::string ReferenceFolding(const MatchSettings& settings, std::string_view text) {
  std::string folded;
  if (!settings.folds_unicode()) {
    for (const char byte : text) {
      const auto value = static_cast<unsigned char>(byte);
      folded += value < 0x80 ? byte : static_cast<char>(settings.case_table[value]);
    }
    return folded;
  }
  const UnicodeFolding& folding = settings.ignore_accents ? UnicodeFolding::IgnoringCaseAndAccents()
                                                          : UnicodeFolding::IgnoringCase();
  for (std::size_t at = 0; at < text.size();) {
    const Utf8Sequence sequence = DecodeUtf8(text.substr(at));
    if (sequence.length <= 0) {
      folded += text[at++];
      continue;
    }
    const auto length = static_cast<std::size_t>(sequence.length);
    char out[UnicodeFolding::kLongestFolding];
    folded.append(out, folding.Fold(sequence.code_point, text.substr(at, length), out));
    at += length;
  }
  return folded;
}

// Random text of ASCII runs (long enough for the 16-byte steps), letters beyond ASCII of
// every length, combining marks, and bytes that are not UTF-8, folded whole and in random
// pieces at every length and every alignment in memory: always as the reference folds it.
// The portable build of this test runs the loop without SSE2.
TEST(CaseFolderTest, AnyTextInAnyPiecesFoldsAsCharacterByCharacter) {
  const std::string_view pieces[] = {"a",
                                     "Z",
                                     " ",
                                     "\xC3\x89",
                                     "\xC3\xA9",
                                     "\xCE\xA3",
                                     "\xCF\x82",
                                     "\xE2\x84\xAA",
                                     "\xCC\x81",
                                     "\xF0\x90\x90\x80",
                                     "\xE9",
                                     "\xC3",
                                     "\xED\xA0\x80",
                                     "\xE1\xBA\x9E",
                                     "\x80"};
  MatchSettings latin1;
  latin1.case_table[0xE9] = 0xC9;
  const MatchSettings foldings[] = {
      latin1,
      {.case_folding = CaseFolding::kUnicode},
      {.case_folding = CaseFolding::kUnicode, .ignore_accents = true}};
  std::mt19937 random(3);
  for (int round = 0; round < 6; ++round) {
    std::string buffer;
    while (buffer.size() < 120) {
      if (random() % 3 == 0) {
        buffer.append(random() % 40, static_cast<char>('a' + random() % 26));
      } else {
        buffer += pieces[random() % std::size(pieces)];
      }
    }
    for (const MatchSettings& settings : foldings) {
      CaseFolder folder(settings);
      for (std::size_t align = 0; align < 16; ++align) {
        for (std::size_t length = 0; align + length <= 100; ++length) {
          const std::string_view text = std::string_view(buffer).substr(align, length);
          const std::string expected = ReferenceFolding(settings, text);
          ASSERT_EQ(folder.FoldWhole(text), expected) << round << " " << align << " " << length;
          folder.Restart();
          std::string in_pieces;
          for (std::size_t at = 0; at < text.size();) {
            const std::size_t piece = std::min<std::size_t>(1 + random() % 20, text.size() - at);
            in_pieces += folder.Fold(text.substr(at, piece));
            at += piece;
          }
          in_pieces += folder.Finish();
          ASSERT_EQ(in_pieces, expected) << round << " " << align << " " << length;
        }
      }
    }
  }
}

// The foldings are made block by block as characters need them, by whichever thread comes
// first; every thread must see the same folding. The scripts here are ones no other test
// folds, so that the threads race to make their blocks.
TEST(CaseFolderTest, ThreadsShareTheFoldingsAsTheyAreMade) {
  std::string text;
  for (char32_t character = 0x0530; character < 0x0590; ++character) AppendUtf8(character, text);
  for (char32_t character = 0x10A0; character < 0x1400; ++character) AppendUtf8(character, text);
  for (char32_t character = 0x2C00; character < 0x2C60; ++character) AppendUtf8(character, text);
  for (const bool ignore_accents : {false, true}) {
    const MatchSettings settings{.case_folding = CaseFolding::kUnicode,
                                 .ignore_accents = ignore_accents};
    std::vector<std::string> folded(4);
    {
      std::vector<std::jthread> threads;
      for (std::string& result : folded) {
        threads.emplace_back([&] { result = CaseFolder(settings).FoldWhole(text); });
      }
    }
    for (const std::string& result : folded) EXPECT_EQ(result, folded[0]);
    EXPECT_NE(folded[0], text) << "the scripts have capitals";
  }
}

}  // namespace
}  // namespace kb
