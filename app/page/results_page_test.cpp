#include "app/page/results_page.h"

#include <gtest/gtest.h>

#include <string>

namespace kb {
namespace {

using namespace std::string_literals;

TEST(ResultsPageLinesTest, EscapesTheFourMarkupBytesAndNothingElse) {
  EXPECT_EQ(EscapeHtml(R"(<a href="x">Q&A</a>)"), "&lt;a href=&quot;x&quot;&gt;Q&amp;A&lt;/a&gt;");
  const std::string untouched = "it's\r\n\t\0\xE9 ;#%'"s;
  EXPECT_EQ(EscapeHtml(untouched), untouched);
  EXPECT_EQ(EscapeHtml("&amp;"), "&amp;amp;");
}

TEST(ResultsPageLinesTest, LinkTargetIsAPercentEncodedRelativeUrl) {
  EXPECT_EQ(LinkLine("./ZEB/ZEB1.htm"),
            R"(<tr><td><a href="./ZEB/ZEB1.htm">./ZEB/ZEB1.htm</a></td>)");
  EXPECT_EQ(PercentEncodePath("./ZEB/ZEB a#b%c.htm"), "./ZEB/ZEB%20a%23b%25c.htm");
  EXPECT_EQ(PercentEncodePath("AZaz09-._~/"), "AZaz09-._~/");
  EXPECT_EQ(PercentEncodePath("\"<&>?+\x7F\x80\xFF"), "%22%3C%26%3E%3F%2B%7F%80%FF");
  EXPECT_EQ(
      LinkLine("./ZEB/ZEB<b>&\".htm"),
      R"(<tr><td><a href="./ZEB/ZEB%3Cb%3E%26%22.htm">./ZEB/ZEB&lt;b&gt;&amp;&quot;.htm</a></td>)");
}

TEST(ResultsPageLinesTest, SummaryUsesThePluralForAnyCountAndEscapesThePhrase) {
  EXPECT_EQ(SummaryLine(1, "PRINTER"),
            R"(<b><u>Search found 1 pages matching "PRINTER"</u></b><br>)");
  EXPECT_EQ(SummaryLine(40000, R"(<"A&B">)"),
            R"(<b><u>Search found 40000 pages matching "&lt;&quot;A&amp;B&quot;&gt;"</u></b><br>)");
}

}  // namespace
}  // namespace kb
