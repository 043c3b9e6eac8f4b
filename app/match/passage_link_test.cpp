#include "app/match/passage_link.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/match/article_snippets.h"
#include "support/testing/rounds.h"

namespace kb {

void PrintTo(const PassageLink& link, std::ostream* out) {
  *out << "{id '" << link.id << "' prefix '" << link.prefix << "' text '" << link.text
       << "' suffix '" << link.suffix << "'}";
}

namespace {

// The link for the first occurrence of `hit` in `article`, as the article's own bytes.
PassageLink LinkAt(std::string_view article, std::string_view hit) {
  const std::size_t start = article.find(hit);
  EXPECT_NE(start, std::string_view::npos) << hit;
  return LinkToPassage(article, start, hit);
}

// A hit is widened to the whole words around it, with a few whole words before and after it
// from the same run of text, white space as one blank: what a browser finds as whole words.
TEST(PassageLinkTest, TheHitWidenedToWholeWordsWithWordsAroundIt) {
  const std::string article =
      "<p>To add a network\r\n  printer, open the settings of the printers panel and choose "
      "one.</p>";
  EXPECT_EQ(LinkAt(article, "rint"), (PassageLink{.id = "",
                                                  .prefix = "To add a network",
                                                  .text = "printer",
                                                  .suffix = ", open the settings of the"}));
  EXPECT_EQ(LinkAt(article, "network\r\n  print").text, "network printer");
  // At the run's start the words before begin there; cut by the length, after a blank.
  EXPECT_EQ(LinkAt(article, "To ").prefix, "");
  EXPECT_EQ(LinkAt(article, "choose").prefix, "of the printers panel and");
  EXPECT_EQ(LinkAt(article, "choose").suffix, "one.");
  // Non-ASCII letters go on a word, and punctuation ends one.
  EXPECT_EQ(LinkAt("<p>Ein Drucker-\xC3\xBC"
                   "bersicht hier.</p>",
                   "Druck")
                .text,
            "Drucker");
  EXPECT_EQ(LinkAt("<p>Ein \xC3\xBC"
                   "bersicht hier.</p>",
                   "bersicht")
                .text,
            "\xC3\xBC"
            "bersicht");
}

// No words are given where the browser might not find them as they are: a hit that spans
// markup or a reference, a word that markup or a reference joins to more letters, words that
// are not UTF-8. Words before and after stop at markup.
TEST(PassageLinkTest, NoWordsWhereMarkupOrReferencesMayJoinThem) {
  EXPECT_EQ(LinkAt("<p>net<b>work</b> printer</p>", "work").text, "");
  EXPECT_EQ(LinkAt("<p>the <b>printer</b>s</p>", "printer").text, "");
  EXPECT_EQ(LinkAt("<p>caf&eacute;s here</p>", "s here").text, "");
  EXPECT_EQ(LinkAt("<p>fish&amp;chips</p>", "fish").text, "");
  EXPECT_EQ(LinkToPassage("<p>a &lt; b</p>", 3, "a < b").text, "");
  EXPECT_EQ(LinkAt("<p>caf\xE9 noir</p>", "noir").prefix, "");
  EXPECT_EQ(LinkAt("<p>caf\xE9 noir</p>", "caf").text, "");
  // Separate elements, or an inline one that a blank separates, leave the word whole.
  const PassageLink link = LinkAt("<h2>Setup</h2><p>the <b>network</b> printer is</p>", "printer");
  EXPECT_EQ(link.text, "printer");
  EXPECT_EQ(link.prefix, "");
  EXPECT_EQ(link.suffix, "is");
  EXPECT_EQ(LinkAt("<p>fish & chips</p>", "chips").prefix, "");
  // The title is shown in no page.
  EXPECT_EQ(LinkAt("<TITLE>The printer</TITLE><p>x</p>", "printer").text, "");
  EXPECT_EQ(LinkAt("<title>T</title><p>the printer</p>", "printer").text, "printer");
  // A hit across markup, asked for its id alone.
  EXPECT_EQ(LinkToPassage("<h1 id=top>T</h1><p>net<b>work</b></p>", 21, std::nullopt),
            (PassageLink{.id = "top", .prefix = "", .text = "", .suffix = ""}));
}

// The id is the nearest element's before the hit that has one, however the attribute is
// written; one that a link cannot name is passed over.
TEST(PassageLinkTest, TheIdOfTheNearestElementBeforeThatHasOne) {
  EXPECT_EQ(LinkAt("<h2 id=\"setup\">Setup</h2><p>the printer</p>", "printer").id, "setup");
  EXPECT_EQ(LinkAt("<h2 ID = 'a-b'>x</h2><p data-id=\"no\">the printer</p>", "printer").id, "a-b");
  EXPECT_EQ(LinkAt("<h2 class=x id=first>x</h2><h3 id=\"a b\">y</h3>the printer", "printer").id,
            "first");
  EXPECT_EQ(LinkAt("<p title=\"id=no\">the printer</p>", "printer").id, "");
  EXPECT_EQ(LinkAt("the printer <h2 id=after>", "printer").id, "");
}

// Where each byte of the text comes from, read a byte at a time: the byte whose reading made
// it, when the text that byte made is the bytes last read as they stand. The text made so is
// `text`, without what the reader held back at the end.
std::vector<std::optional<std::size_t>> OriginsByteByByte(std::string_view article,
                                                          std::string& text) {
  std::vector<std::optional<std::size_t>> origins;
  HtmlText reader;
  for (std::size_t at = 0; at < article.size(); ++at) {
    const std::string_view out = reader.Extract(article.substr(at, 1));
    const std::size_t out_start = at + 1 - std::min(out.size(), at + 1);
    const bool as_it_stands = out.size() <= at + 1 && article.substr(out_start, out.size()) == out;
    for (std::size_t index = 0; index < out.size(); ++index) {
      origins.push_back(as_it_stands ? std::optional(out_start + index) : std::nullopt);
    }
    text.append(out);
  }
  return origins;
}

// Random articles of several steps, their text made in random pieces, the places in it asked
// for in any order between them: each byte traced as reading the article from its start a
// byte at a time traces it, and the text the same as that reading's.
TEST(TextOriginsTest, EachByteOfTheTextIsTracedAsReadFromTheStart) {
  std::mt19937 random(7);
  constexpr const char* kPieces[] = {"word ",
                                     "<b>",
                                     "</p>",
                                     "&amp;",
                                     "&eacute;",
                                     "  \r\n",
                                     "\xC3\xA9",
                                     "\xC2\xA0",
                                     "<!-- c -->",
                                     "x",
                                     "<",
                                     "&",
                                     "&amp",
                                     "&#x41;",
                                     "<br>",
                                     "\xC2",
                                     "lo",
                                     "<a href='>'>",
                                     "<script>s</script>"};
  int traced = 0;
  for (int round = 0; round < testing::Rounds(60, 4); ++round) {
    std::string article;
    const int pieces = static_cast<int>(random() % 4000);
    for (int piece = 0; piece < pieces; ++piece) article += kPieces[random() % std::size(kPieces)];
    std::string expected_text;
    const std::vector<std::optional<std::size_t>> expected =
        OriginsByteByByte(article, expected_text);

    TextOrigins origins(article);
    std::string text;
    std::size_t read = 0;
    while (read < article.size()) {
      read = std::min(article.size(), read + random() % (3 * TextOrigins::kOriginStep));
      origins.AppendText(read, text);
      for (int asked = 0; asked < 20; ++asked) {
        // Mostly within the text made so far, some past it and past its end.
        const std::size_t offset = random() % (text.size() + 64);
        const std::optional<std::size_t> byte = origins.ByteOf(offset);
        ASSERT_EQ(byte, offset < expected.size() ? expected[offset] : std::nullopt)
            << "round " << round << " offset " << offset << " read " << read;
        traced += byte.has_value();
      }
    }
    origins.AppendText(article.size(), text);
    HtmlText whole;
    std::string whole_text(whole.Extract(article));
    whole_text.append(whole.Finish());
    EXPECT_EQ(text, whole_text) << "round " << round;
    EXPECT_EQ(text.substr(0, expected_text.size()), expected_text) << "round " << round;
  }
  EXPECT_GT(traced, testing::Rounds(60, 4) * 5);  // not a test of nothing
  // Far past the text made, and in no text at all.
  const std::string plain(100'000, 'a');
  TextOrigins origins(plain);
  for (const std::size_t offset : {99'999, 0, 70'000, 100'000}) {
    EXPECT_EQ(origins.ByteOf(offset), offset < plain.size() ? std::optional(offset) : std::nullopt);
  }
  EXPECT_EQ(TextOrigins("").ByteOf(0), std::nullopt);
}

// The snippets link to their passages alike in either mode, from the kept start of an article
// or from all of it.
TEST(PassageLinkTest, SnippetsLinkToTheirPassagesInEitherMode) {
  std::string article = "<title>T</title><h2 id=\"intro\">Intro</h2><p>";
  for (int word = 0; word < 3000; ++word) article += "filler ";
  article += "the network printers panel</p><h2 id=two>More</h2><p>";
  for (int word = 0; word < 100; ++word) article += "filler ";
  article += "a <b>printer</b>s</p>";
  const PassageLink expected{
      .id = "intro", .prefix = "filler filler the network", .text = "printers", .suffix = "panel"};
  for (const MatchMode mode : {MatchMode::kBytes, MatchMode::kText}) {
    const SnippetMaker maker("printer", MatchSettings{.mode = mode});
    const ArticleSnippets shown = maker.Make(article);
    ASSERT_EQ(shown.snippets.size(), 2u);
    EXPECT_EQ(shown.snippets[0].link, expected);
    EXPECT_EQ(shown.snippets[0].link, maker.Make(article, 1).snippets[0].link);
    EXPECT_EQ(shown.snippets[1].link,
              (PassageLink{.id = "two", .prefix = "", .text = "", .suffix = ""}));
    // Words link to their passages too: the hit widened to the word it starts.
    Query words;
    ASSERT_EQ(ParseQuery("network printer", QueryKind::kWords, words), QueryProblem::kNone);
    const ArticleSnippets of_words = SnippetMaker(words, MatchSettings{.mode = mode}).Make(article);
    ASSERT_FALSE(of_words.snippets.empty());
    EXPECT_EQ(of_words.snippets[0].link, (PassageLink{.id = "intro",
                                                      .prefix = "filler filler filler the",
                                                      .text = "network",
                                                      .suffix = "printers panel"}));
  }
}

}  // namespace
}  // namespace kb
