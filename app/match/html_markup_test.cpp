// The markup reader through the text step of a search (HtmlText), against a plain reading of
// the rules in html_markup.h, on random HTML cut into pieces in every way. Built twice: as
// it is, and without the vector loops (KBSEARCH_PORTABLE_VECTORS).

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <random>
#include <string>
#include <string_view>

#include "app/match/html_markup.h"
#include "app/match/html_text.h"
#include "app/match/testing/random_markup.h"

namespace kb {
namespace {

bool IsWhite(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\f' || byte == '\r';
}

bool IsLetter(char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
}

std::string Lower(std::string_view text) {
  std::string lower(text);
  for (char& byte : lower) byte = IsLetter(byte) ? static_cast<char>(byte | 0x20) : byte;
  return lower;
}

bool BreaksLines(std::string_view name) {
  static constexpr std::string_view kNames[] = {
      "article", "blockquote", "br",      "dd",    "div", "dl",     "dt",    "footer", "h1",
      "h2",      "h3",         "h4",      "h5",    "h6",  "header", "hr",    "li",     "ol",
      "p",       "pre",        "section", "table", "td",  "th",     "title", "tr",     "ul"};
  return std::find(std::begin(kNames), std::end(kNames), name) != std::end(kNames);
}

// Where the attributes of a tag that go on from `at` end: just past its ">", or npos.
std::size_t PastAttributes(std::string_view html, std::size_t at) {
  enum { kAttributes, kBeforeValue, kUnquoted } state = kAttributes;
  for (; at < html.size(); ++at) {
    const char byte = html[at];
    if (byte == '>') return at + 1;
    if (state == kAttributes) {
      if (byte == '=') state = kBeforeValue;
    } else if (state == kBeforeValue) {
      if (byte == '"' || byte == '\'') {
        at = html.find(byte, at + 1);
        if (at == std::string_view::npos) return at;
        state = kAttributes;
      } else if (!IsWhite(byte)) {
        state = kUnquoted;
      }
    } else if (IsWhite(byte)) {
      state = kAttributes;
    }
  }
  return std::string_view::npos;
}

// The text of `html` as html_markup.h and html_text.h tell it, read in one go, for HTML whose
// text holds no "&" and no no-break space.
std::string ReferenceText(std::string_view html) {
  constexpr auto npos = std::string_view::npos;
  std::string text;
  auto past = [&](std::string_view sought, std::size_t from) {
    const std::size_t found = html.find(sought, from);
    return found == npos ? html.size() : found + sought.size();
  };
  for (std::size_t at = 0; at < html.size();) {
    const std::string_view rest = html.substr(at);
    if (rest[0] != '<') {
      text += rest[0];
      ++at;
    } else if (rest == "<" || rest == "</") {
      text += rest;
      at = html.size();
    } else if (rest.starts_with("<!--")) {
      if (rest.substr(4).starts_with(">")) {
        at += 5;
      } else if (rest.substr(4).starts_with("->")) {
        at += 6;
      } else {
        at = std::min(past("-->", at + 4), past("--!>", at + 4));
      }
    } else if (rest[1] == '!' || rest[1] == '?' ||
               (rest[1] == '/' && rest[2] != '>' && !IsLetter(rest[2]))) {
      at = past(">", at + 2);
    } else if (rest.starts_with("</>")) {
      at += 3;
    } else if (IsLetter(rest[1]) || rest[1] == '/') {
      const bool end_tag = rest[1] == '/';
      const std::size_t name = at + (end_tag ? 2 : 1);
      const std::size_t name_end = std::min(html.find_first_of(" \t\n\f\r/>", name), html.size());
      const std::string tag = Lower(html.substr(name, name_end - name));
      std::size_t end = PastAttributes(html, name_end);
      if (end != npos && !end_tag && (tag == "script" || tag == "style")) {
        // Raw text, up to "</" and the name followed by white space, "/" or ">".
        const std::string lower = Lower(html);
        std::size_t close = end;
        while ((close = lower.find("</" + tag, close)) != npos) {
          const std::size_t after = close + 2 + tag.size();
          if (after < html.size() &&
              (IsWhite(html[after]) || html[after] == '/' || html[after] == '>')) {
            break;
          }
          ++close;
        }
        end = close == npos ? npos : PastAttributes(html, close + 2 + tag.size());
      } else if (end != npos && BreaksLines(tag)) {
        text += ' ';
      }
      at = end == npos ? html.size() : end;
    } else {
      text += '<';
      ++at;
    }
  }
  std::string collapsed;
  for (const char byte : text) {
    if (!IsWhite(byte)) {
      collapsed += byte;
    } else if (collapsed.empty() || collapsed.back() != ' ') {
      collapsed += ' ';
    }
  }
  return collapsed;
}

// The text HtmlText gives for `html` handed over in the pieces that `cuts` (ascending
// offsets) make.
std::string TextInPieces(HtmlText& reader, std::string_view html,
                         const std::vector<std::size_t>& cuts) {
  reader.Restart();
  std::string text;
  std::size_t from = 0;
  for (const std::size_t cut : cuts) {
    text += reader.Extract(html.substr(from, cut - from));
    from = cut;
  }
  text += reader.Extract(html.substr(from));
  text += reader.Finish();
  return text;
}

TEST(HtmlMarkupTest, TextOfRandomHtmlInAnyPiecesIsTheReferenceText) {
  std::mt19937 random(1515);
  HtmlText reader;
  for (int round = 0; round < 4000; ++round) {
    const std::string html = testing::RandomMarkup(random, 30);
    const std::string expected = ReferenceText(html);
    ASSERT_EQ(TextInPieces(reader, html, {}), expected) << html;
    // Cut in two at every offset, and into random pieces down to single bytes.
    for (std::size_t cut = 1; round % 4 == 0 && cut < html.size(); ++cut) {
      ASSERT_EQ(TextInPieces(reader, html, {cut}), expected) << html << " cut at " << cut;
    }
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; at < html.size(); at += 1 + random() % 40) cuts.push_back(at);
    ASSERT_EQ(TextInPieces(reader, html, cuts), expected) << html;
  }
  // Longer markup, whose tags and values run past the 16 bytes that a tag's attributes are
  // passed over in.
  for (int round = 0; round < 400; ++round) {
    const std::string html = testing::RandomMarkup(random, 300);
    std::vector<std::size_t> cuts;
    for (std::size_t at = 0; at < html.size(); at += 1 + random() % 200) cuts.push_back(at);
    ASSERT_EQ(TextInPieces(reader, html, cuts), ReferenceText(html)) << html;
  }
}

// The simple tags that the vector loops pass over themselves are read as the states read them.
TEST(HtmlMarkupTest, SimpleTagsAreShortNamesWithQuotedValuesAndNoRawText) {
  const auto simple = [](std::string_view tag) {
    HtmlTagKind kind = HtmlTagKind::kOrdinary;
    const std::size_t length = HtmlMarkup::SimpleTagAt(
        reinterpret_cast<const unsigned char*>(tag.data()), 0, tag.size(), kind);
    return std::pair(length, kind);
  };
  // The attributes are read in blocks of 64 bytes; the tag must end inside what it is given.
  const std::string padding(64, ' ');
  EXPECT_EQ(simple("<p>x"), std::pair(std::size_t{3}, HtmlTagKind::kLineBreaking));
  EXPECT_EQ(simple("</B>"), std::pair(std::size_t{4}, HtmlTagKind::kOrdinary));
  EXPECT_EQ(simple("</script>"), std::pair(std::size_t{9}, HtmlTagKind::kRawText));
  EXPECT_EQ(simple("<section>"), std::pair(std::size_t{9}, HtmlTagKind::kLineBreaking));
  EXPECT_EQ(simple("<li class=\"a>b\" hidden x=\"=\">" + padding),
            std::pair(std::size_t{29}, HtmlTagKind::kLineBreaking));
  EXPECT_EQ(simple("<br/>" + padding), std::pair(std::size_t{5}, HtmlTagKind::kLineBreaking));
  EXPECT_EQ(simple("<a x=>" + padding), std::pair(std::size_t{6}, HtmlTagKind::kOrdinary));
  const std::string long_value = "<a title=\"" + std::string(100, 'v') + "\">" + padding;
  EXPECT_EQ(simple(long_value).first, 112u);
  EXPECT_EQ(simple("<p >" + padding), std::pair(std::size_t{4}, HtmlTagKind::kLineBreaking));
  EXPECT_EQ(simple("<a x=\"y\">").first, 0u);  // fewer than 64 bytes to read
  for (const std::string_view other :
       {"<script>", "<sections>", "<p", "<1>", "</>", "<a-b>", "<", "<!-->", "<script src=\"x\">",
        "<a x='y'>", "<a x = \"y\">", "<a x=y>", "<a \"x\">", "<a x=\"y\"", "<a x=\"y>"}) {
    EXPECT_EQ(simple(std::string(other) + padding).first, 0u) << other;
  }

  // Random attributes, whose quotes and "=" fall on every offset of the blocks: a tag taken
  // as simple ends where the states end it, and every tag of quoted values is taken.
  std::mt19937 random(64);
  static constexpr std::string_view kPieces[] = {" ", "x", "=", "\"", "'", ">", " a=\"v\"", "=\""};
  for (int round = 0; round < 20000; ++round) {
    std::string tag = "<a ";
    for (int n = static_cast<int>(random() % 90); n > 0; --n) tag += kPieces[random() % 8];
    tag += ">" + padding;
    const std::size_t length = simple(tag).first;
    if (length != 0) {
      ASSERT_EQ(length, PastAttributes(tag, 2)) << tag;
    }
  }
  for (std::size_t filler = 0; filler < 140; ++filler) {
    const std::string quoted = "<a " + std::string(filler, 'x') + "=\"y\">" + padding;
    EXPECT_EQ(simple(quoted).first, filler + 8) << filler;
    const std::string unquoted = "<a " + std::string(filler, 'x') + "=y z=\">\">" + padding;
    EXPECT_EQ(simple(unquoted).first, 0u) << filler;
  }
}

}  // namespace
}  // namespace kb
