#include "app/window/window_texts.h"

#include <gtest/gtest.h>

#include <string>

#include "support/text/utf8.h"

namespace kb {
namespace {

constexpr std::string_view kFixed = "Search Quillon Knowledgebase";

TEST(WindowTitleTest, NamesTheFolderWithTheHomeAsTildeAndKeepsTheEndOfALongPath) {
  EXPECT_EQ(WindowTitle(kFixed, "/home/ann/kb", "/home/ann"),
            "Search Quillon Knowledgebase - ~/kb");
  EXPECT_EQ(WindowTitle(kFixed, "/home/ann", "/home/ann/"), "Search Quillon Knowledgebase - ~");
  EXPECT_EQ(WindowTitle(kFixed, "/home/anna/kb", "/home/ann"),
            "Search Quillon Knowledgebase - /home/anna/kb");
  EXPECT_EQ(WindowTitle(kFixed, "/srv/kb", "/"), "Search Quillon Knowledgebase - /srv/kb");
  EXPECT_EQ(WindowTitle(kFixed, "/srv/kb", ""), "Search Quillon Knowledgebase - /srv/kb");

  // Two trees whose last folders are both named html stay apart.
  const std::string python = "/home/ann/documentation/reference/python-3.11.4-docs/library/html";
  const std::string rust = "/home/ann/documentation/reference/rust-1.70-std-documentation/std/html";
  const std::string python_title = WindowTitle(kFixed, python, "/home/ann");
  const std::string rust_title = WindowTitle(kFixed, rust, "/home/ann");
  EXPECT_EQ(python_title,
            "Search Quillon Knowledgebase - …/reference/python-3.11.4-docs/library/html");
  EXPECT_EQ(rust_title,
            "Search Quillon Knowledgebase - …/reference/rust-1.70-std-documentation/std/html");

  // Characters, not bytes, are counted, and none is cut in two.
  for (const std::string& folder :
       {"/" + std::string(60, 'x'), "/a/" + std::string(30, 'b') + "/" + std::string(40, 'c'),
        "/données/" + std::string(20, 'd') + "/é" + std::string(30, 'e')}) {
    SCOPED_TRACE(folder);
    const std::string title = WindowTitle(kFixed, folder, "/home/ann");
    const std::string path = title.substr(kFixed.size() + 3);
    EXPECT_TRUE(path.starts_with("…"));
    EXPECT_LE(CountCharacters(path), kTitlePathLength);
    EXPECT_TRUE(folder.ends_with(path.substr(std::string_view("…").size())));
    EXPECT_TRUE(IsUtf8(path));
  }
}

TEST(EntryPhraseTest, UnicodeFoldingShowsCapitalsWithAccentsAndNeverLonger) {
  MatchSettings accents;
  accents.ignore_accents = true;
  MatchSettings unicode;
  unicode.case_folding = CaseFolding::kUnicode;
  for (const MatchSettings& settings : {accents, unicode}) {
    EXPECT_EQ(EntryPhraseAfterSearch("déjeuner", "DéJEUNER", settings), "DÉJEUNER");
    EXPECT_EQ(EntryPhraseAfterSearch("straße ǆ ω", "X", settings), "STRAßE Ǆ Ω");
    // ı (2 bytes) has I (1 byte); ɐ (2 bytes) has Ɐ (3 bytes), left alone.
    EXPECT_EQ(EntryPhraseAfterSearch("ıɐ", "X", settings), "Iɐ");
    // Bytes that are no UTF-8 stay.
    EXPECT_EQ(EntryPhraseAfterSearch("a\xE9z", "X", settings), "A\xE9Z");
  }
  // The case table's search shows the phrase as it compared it.
  EXPECT_EQ(EntryPhraseAfterSearch("déjeuner", "DéJEUNER", MatchSettings()), "DéJEUNER");
}

}  // namespace
}  // namespace kb
