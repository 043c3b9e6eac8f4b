#pragma once

// Random HTML for the tests of what reads markup: bits of tags, comments and declarations
// that may or may not close, quotes, script and style contents, and runs of plain text long
// enough for the vector loops; with character references, whole and broken, when asked.

#include <iterator>
#include <random>
#include <string>
#include <string_view>

namespace kb::testing {

// Up to `most_pieces` pieces of markup; with `references`, of character references too
// (without, the text holds no "&").
inline std::string RandomMarkup(std::mt19937& random, int most_pieces, bool references = false) {
  // clang-format off
  static constexpr std::string_view kMarkup[] = {
      "<", ">", "/", "!", "-", "?", "=", "\"", "'", " ", "\t", "\r\n", "a", "p", "x", "3", "br",
      "script", "STYLE", "<p>", "</P>", "<br/>", "<li>", "</td>", "<b>", "</b>", "<!--", "-->",
      "--!>", "<!-->", "<!--->", "<!", "</", "<?", "</>", "</ 3>", "<3", "<a title=\"",
      "<td class='", "<img alt=x>y ", "<script>", "<script type=x>", "</script", "</SCRIPT>",
      "</scriptx>", "<style>", "</style>", "<div id=x>", "<blockquote>", "</blockquotes>", "<h1 >",
      "<title", "<x-y:z>", "<a/b>", " = ",
      "plain words of text that run on past thirty-two bytes ",
      "\xC3\xA9t\xC3\xA9 ", "if (a<b) c = '</p>'; ", "    ", "\f", "<b>x</b", "<!-- --!>",
      "<a href=\"x.html\" title=\"y z\">", "<span class=\"", " id=\"", "\">", "=\"", "<li ",
      "<td hidden>", "<div class=\"a\" = \"b\">",
  };
  // clang-format on
  static constexpr std::string_view kReferences[] = {"&",   ";",       "#",    "&#x41;", "&amp;",
                                                     "&lt", "&#65536", "\xE9", "&#"};
  constexpr std::size_t kMarkupCount = std::size(kMarkup);
  std::uniform_int_distribution<std::size_t> pick(
      0, kMarkupCount + (references ? std::size(kReferences) : 0) - 1);
  std::uniform_int_distribution<int> count(0, most_pieces);
  std::string html;
  for (int n = count(random); n > 0; --n) {
    const std::size_t piece = pick(random);
    html += piece < kMarkupCount ? kMarkup[piece] : kReferences[piece - kMarkupCount];
  }
  return html;
}

}  // namespace kb::testing
