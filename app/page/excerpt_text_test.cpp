#include "app/page/excerpt_text.h"

#include <gtest/gtest.h>

#include <cctype>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

#include "app/match/html_text.h"
#include "app/match/testing/random_markup.h"

namespace kb {
namespace {

using namespace std::string_literals;

TEST(ExcerptTextTest, MarkupIsDroppedAndTheRestReadsAsText) {
  struct Case {
    std::string_view excerpt;
    std::string_view shown;
  };
  for (const Case c : {
           Case{R"(<div class="a"><p>Set up the <b>printer</b>.</p></div>)", "Set up the printer."},
           Case{"one<!-- a <b> -- note -->two<!---->three", "onetwothree"},
           Case{"<!-->not a comment--><!-- a --!>b", "not a comment--&gt;b"},
           Case{"<a title=\"a>b\" href='c>d'>link</a> <img alt=x>y>", "link y&gt;"},
           Case{"a<script>b</scriptx>c</script >d<style>e</script>f", "ad"},
           Case{"cut <", "cut &lt;"},
           Case{"cut </", "cut &lt;/"},
           Case{"<!DOCTYPE html><?xml version=\"1.0\"?></p>text", "text"},
           Case{"a<script type=x>if (a<b) x = \"</p>\";</script>b", "ab"},
           Case{"a<STYLE>p { color: red }</Style >b<style>c</script>d", "ab"},
           Case{"a<scripts>b</scripts>c<script2>d", "abcd"},
           Case{"text<script>unended body", "text"},
           Case{"text <a href=\"cut off", "text"},
           Case{"text <!-- cut off -- >", "text"},
           Case{"1 < 2 > 0 and <3 or <\"q\"", "1 &lt; 2 &gt; 0 and &lt;3 or &lt;&quot;q&quot;"},
           Case{"\r\nLine one\r\n\tLine two\r\n", "\r\nLine one\r\n\tLine two\r\n"},
           Case{"words <br>  <p>  ", "words"},
           Case{"<div><img src=x><p></p></div>", ""},
           Case{"it's 'quoted'", "it's 'quoted'"},
       }) {
    EXPECT_EQ(ExcerptText(c.excerpt), c.shown) << c.excerpt;
  }
}

TEST(ExcerptTextTest, OnlyWellFormedCharacterReferencesAreKept) {
  EXPECT_EQ(ExcerptText("&amp; &lt;b&gt; &eacute; &x41; &#233; &#1234567; &#x10FFFF; &#XaB;"),
            "&amp; &lt;b&gt; &eacute; &x41; &#233; &#1234567; &#x10FFFF; &#XaB;");
  const std::string longest_name = "&a" + std::string(31, 'b') + ";";
  EXPECT_EQ(ExcerptText(longest_name), longest_name);
  for (const std::string& malformed :
       {"&"s, "& b"s, "&amp"s, "&1a;"s, "&#;"s, "&#x;"s, "&#12345678;"s, "&#x1234567;"s, "&#x1G;"s,
        "&a-b;"s, "&#-1;"s, "&a" + std::string(32, 'b') + ";"}) {
    EXPECT_EQ(ExcerptText(malformed), "&amp;" + malformed.substr(1)) << malformed;
  }
}

TEST(ExcerptTextTest, ACharacterCutByTheLengthLimitIsDropped) {
  const std::string text(kExcerptLength - 4, 'x');
  // Each sequence, cut after 1, 2 or 3 of its bytes, ends a 201-byte excerpt.
  for (const std::string& sequence : {"\xC3\xA9"s, "\xE2\x82\xAC"s, "\xF0\x9F\x98\x80"s}) {
    for (std::size_t kept = 1; kept < sequence.size(); ++kept) {
      const std::string cut = sequence.substr(0, kept);
      const std::string excerpt = text + std::string(4 - kept, 'y') + cut;
      ASSERT_EQ(excerpt.size(), kExcerptLength);
      EXPECT_EQ(ExcerptText(excerpt), excerpt.substr(0, excerpt.size() - kept));
      // Shorter, the article ended there: the bytes are its own and stay.
      EXPECT_EQ(ExcerptText(excerpt.substr(1)), excerpt.substr(1));
    }
  }
  // A whole character at the end stays; so does every byte of an excerpt that is not UTF-8.
  const std::string whole = text + "y\xE2\x82\xAC";
  EXPECT_EQ(ExcerptText(whole), whole);
  const std::string latin1 =
      std::string("caf\xE9 ").append(kExcerptLength - 7, 'x').append("\xE9\xC3");
  ASSERT_EQ(latin1.size(), kExcerptLength);
  EXPECT_EQ(ExcerptText(latin1), latin1);
  // Bytes that no well-formed sequence starts with are not a cut character either.
  for (const std::string& end : {"\xE0\x80"s, "\xED\xA0"s, "\xF4\x90"s, "\xC0"s, "\xF5"s}) {
    const std::string excerpt = std::string(kExcerptLength - end.size(), 'x') + end;
    EXPECT_EQ(ExcerptText(excerpt), excerpt);
  }
}

// Whatever an article holds, the text shown is safe to put into the page: no markup, and
// every "&" begins a character reference.
TEST(ExcerptTextTest, NoMarkupOfAnyExcerptReachesThePage) {
  std::mt19937 random(20240229);
  for (int round = 0; round < 20000; ++round) {
    const std::string excerpt = testing::RandomMarkup(random, 40, /*references=*/true);
    const std::string shown = ExcerptText(excerpt);
    ASSERT_EQ(shown.find_first_of("<>\""), std::string::npos) << excerpt;
    for (std::size_t at = shown.find('&'); at != std::string::npos; at = shown.find('&', at + 1)) {
      const std::size_t end = shown.find(';', at);
      ASSERT_NE(end, std::string::npos) << excerpt;
      // What a reference holds is letters, digits and "#" only.
      for (std::size_t i = at + 1; i < end; ++i) {
        ASSERT_TRUE(std::isalnum(static_cast<unsigned char>(shown[i])) || shown[i] == '#')
            << excerpt;
      }
    }
    ASSERT_TRUE(shown.empty() || shown.back() != ' ') << excerpt;
  }
}

// The excerpt and the text that a search in the text matches agree on what is markup: without
// its white space and with "<", ">" and '"' read back, the excerpt shown is that text.
TEST(ExcerptTextTest, LeavesOutWhatTheTextOfASearchLeavesOut) {
  const auto without_white_space = [](std::string_view text) {
    std::string kept;
    for (const char byte : text) {
      if (!std::isspace(static_cast<unsigned char>(byte))) kept += byte;
    }
    return kept;
  };
  const auto read_back = [](std::string text) {
    for (const auto& [reference, byte] :
         {std::pair{"&lt;"s, "<"s}, std::pair{"&gt;"s, ">"s}, std::pair{"&quot;"s, "\""s}}) {
      for (std::size_t at; (at = text.find(reference)) != std::string::npos;) {
        text.replace(at, reference.size(), byte);
      }
    }
    return text;
  };
  std::mt19937 random(15);
  HtmlText reader;
  for (int round = 0; round < 20000; ++round) {
    const std::string excerpt = testing::RandomMarkup(random, 20);
    reader.Restart();
    std::string text(reader.Extract(excerpt));
    text += reader.Finish();
    ASSERT_EQ(without_white_space(read_back(ExcerptText(excerpt))), without_white_space(text))
        << excerpt;
  }
}

}  // namespace
}  // namespace kb
