#include "app/page/results_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "app/match/article_snippets.h"
#include "app/page/snippets_page.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using namespace std::string_literals;

TEST(ResultsPageLinesTest, EscapesTheFourMarkupBytesAndNothingElse) {
  EXPECT_EQ(EscapeHtml(R"(<a href="x">Q&A</a>)"), "&lt;a href=&quot;x&quot;&gt;Q&amp;A&lt;/a&gt;");
  const std::string untouched = "it's\r\n\t\0\xE9 ;#%'"s;
  EXPECT_EQ(EscapeHtml(untouched), untouched);
  EXPECT_EQ(EscapeHtml("&amp;"), "&amp;amp;");
  // Against a byte-by-byte reference, with the four bytes anywhere in texts of every length
  // around the 16 bytes looked at at once.
  std::mt19937 random(5);
  const std::string alphabet = "&<>\"a \xE9\x80';";
  for (std::size_t length = 0; length < 160; ++length) {
    std::string text;
    std::string reference;
    const std::size_t one_in = 1 + length % 20;  // how seldom one of the four comes
    for (std::size_t at = 0; at < length; ++at) {
      const char byte = random() % one_in == 0 ? alphabet[random() % 4]
                                               : alphabet[4 + random() % (alphabet.size() - 4)];
      text += byte;
      reference += byte == '&'   ? "&amp;"
                   : byte == '<' ? "&lt;"
                   : byte == '>' ? "&gt;"
                   : byte == '"' ? "&quot;"
                                 : std::string(1, byte);
    }
    EXPECT_EQ(EscapeHtml(text), reference) << text;
  }
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

// A snippet's link opens the article at its passage: the id, then the text fragment, the
// latter percent-encoded but for the unreserved characters other than "-", which, like "&"
// and ",", a text fragment gives a meaning to.
TEST(ResultsPageTest, PassageUrlsCarryTheIdAndTheTextFragmentEncoded) {
  EXPECT_EQ(PercentEncodeFragmentText("a-b&c,d e.f_g~h/%#\xC3\xA9"),
            "a%2Db%26c%2Cd%20e.f_g~h%2F%25%23%C3%A9");
  const std::string path = "./ZEB/ZEB 1.htm";
  EXPECT_EQ(PassageUrl(path, {}), "./ZEB/ZEB%201.htm");
  EXPECT_EQ(PassageUrl(path, {.id = "set-up", .prefix = "", .text = "", .suffix = ""}),
            "./ZEB/ZEB%201.htm#set-up");
  EXPECT_EQ(PassageUrl(path, {.id = "", .prefix = "", .text = "x, y", .suffix = ""}),
            "./ZEB/ZEB%201.htm#:~:text=x%2C%20y");
  EXPECT_EQ(PassageUrl(path, {.id = "h:~:", .prefix = "a-b", .text = "c&d", .suffix = "e"}),
            "./ZEB/ZEB%201.htm#h%3A~%3A:~:text=a%2Db-,c%26d,-e");
}

// Fails the test on any failure reported.
class NoFailures : public FailureReporter {
 public:
  void ReportFailure(const Failure& failure) override { ADD_FAILURE() << failure.text; }
};

// The snippets page as a search writes it, in a folder of its own, from articles whose
// snippets are made as the search makes them.
class SnippetsPageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(scratch_.path());
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  // The page written for `found` and `phrase`, its rows in the order of `rows` (none: in
  // found's order).
  std::string Page(const std::vector<FoundArticle>& found, std::string_view phrase,
                   const std::vector<std::size_t>& rows = {}) {
    NoFailures reporter;
    WriteResultsPage(platform::Env::Default(), templates_, found, rows, phrase, reporter, {},
                     ResultsStyle::kSnippets);
    return testing::ReadAll(scratch_ / "ZebResult.htm");
  }

  const PageTemplates templates_ = {.header = {"<html><body>", "<h1>Results</h1>"},
                                    .footer = {"<p>end</p>", "</body></html>"}};

 private:
  testing::ScratchDirectory scratch_;
  std::filesystem::path previous_;
};

// The summary table and the results table's start, for `count` articles and `phrase` as the
// page writes it.
std::string PageHead(int count, std::string_view phrase) {
  return "<html><body>\r\n<h1>Results</h1>\r\n"
         "<table bgcolor=\"#CDC5B6\" border=\"0\" cellpadding=\"4\" width=\"100%\">\r\n"
         "<tr><td><font face=\"Verdana,Arial\" size=\"3\">\r\n"
         "<b><u>Search found " +
         std::to_string(count) + " pages matching \"" + std::string(phrase) +
         "\"</u></b><br>\r\n"
         "</font></td></tr></table>\r\n";
}

// A row of the snippets page: its link line, then its cell of `pieces`.
std::string Row(std::string_view path, std::string_view pieces) {
  return "<tr><td><a href=\"" + std::string(path) + "\">" + std::string(path) +
         "</a></td>\r\n<td><font face=\"Verdana,Arial\" size=\"2\">\r\n" + std::string(pieces) +
         "</font></td></tr>\r\n";
}

// Articles whose titles, texts and phrase hold the bytes that markup gives a meaning to:
// everything reaches the page escaped, only the phrase is marked, and the rows come in the
// order they are given.
TEST_F(SnippetsPageTest, RowsShowTitleSnippetsAndHitsEscapedInTheOrderGiven) {
  MatchSettings text_search;
  text_search.mode = MatchMode::kText;
  const SnippetMaker maker(R"(x<y & "z")", text_search);
  const auto found = [&](std::string path, std::string_view article) {
    return FoundArticle{.path = std::move(path),
                        .excerpt = "<p>An &amp; excerpt</p>",
                        .details = {.shown = maker.Make(article)}};
  };
  const std::vector<FoundArticle> articles = {
      found("./ZEB/ZEB1.htm", R"(<title>Q&amp;A "one"</title><p>Once: x&lt;y &amp; "z".</p>)"),
      found("./ZEB/ZEB2.htm", R"(<h1>Two &lt;tags&gt;</h1><p>X&lt;Y &amp; "Z" and )"
                              R"(<b>x</b>&lt;y &amp; &quot;z&quot;</p><script>x<y & "z"</script>)"),
      found("./ZEB/ZEB3.htm", R"(<p>x&lt;y &amp; "z" x&lt;y &amp; "z"</p>)"),
      {.path = "./ZEB/ZEB4.htm", .excerpt = "nothing collected"}};
  const std::string mark = R"(<mark style="background:#ff9f43;color:#000">)";
  const std::string marked = mark + "x&lt;y &amp; &quot;z&quot;</mark>";
  const std::string excerpt = "<div class=\"kb-excerpt\"><small>An &amp; excerpt</small></div>\r\n";
  // A hit that holds references opens the article at its top: a link cannot find it.
  const auto snippet_open = [](std::string_view path) {
    return "<div class=\"kb-snippet\"><a href=\"" + std::string(path) +
           "\" style=\"color:inherit\">";
  };

  const std::string by_hits =
      PageHead(4, "X&lt;Y &amp; &quot;Z&quot;") +
      "<table bgcolor=\"#FEFF91\" border=\"1\" cellpadding=\"4\" width=\"100%\">\r\n" +
      // Two hits, shown in one snippet; the first of the two articles that have two.
      Row("./ZEB/ZEB2.htm",
          "<div class=\"kb-title\"><b><a href=\"./ZEB/ZEB2.htm\">Two "
          "&lt;tags&gt;</a></b></div>\r\n" +
              excerpt + snippet_open("./ZEB/ZEB2.htm") + "Two &lt;tags&gt; " + mark +
              "X&lt;Y &amp; &quot;Z&quot;</mark> and " + marked +
              "</a></div>\r\n<div class=\"kb-hits\"><small>2 hits</small></div>\r\n") +
      Row("./ZEB/ZEB3.htm",
          excerpt + snippet_open("./ZEB/ZEB3.htm") + marked + " " + marked +
              "</a></div>\r\n<div class=\"kb-hits\"><small>2 hits</small></div>\r\n") +
      Row("./ZEB/ZEB1.htm",
          "<div class=\"kb-title\"><b><a href=\"./ZEB/ZEB1.htm\">Q&amp;A &quot;one&quot;</a></b>"
          "</div>\r\n" +
              excerpt + snippet_open("./ZEB/ZEB1.htm") + "Q&amp;A &quot;one&quot; Once: " + marked +
              ".</a></div>\r\n<div class=\"kb-hits\"><small>1 hit</small></div>\r\n") +
      // Nothing was collected of this one: its link, its excerpt and no hits.
      Row("./ZEB/ZEB4.htm",
          "<div class=\"kb-excerpt\"><small>nothing collected</small></div>\r\n"
          "<div class=\"kb-hits\"><small>0 hits</small></div>\r\n") +
      "</table>\r\n<p>end</p>\r\n</body></html>\r\n";
  EXPECT_EQ(Page(articles, R"(X<Y & "Z")", {1, 2, 0, 3}), by_hits);

  // Without an order, the rows keep the listing order.
  const std::string by_name = Page(articles, "X");
  EXPECT_LT(by_name.find("ZEB1.htm"), by_name.find("ZEB2.htm"));
  EXPECT_LT(by_name.find("ZEB2.htm"), by_name.find("ZEB3.htm"));
  EXPECT_LT(by_name.find("ZEB3.htm"), by_name.find("ZEB4.htm"));
}

// The rows of a long page are rendered on several threads: each comes once, where the order
// given puts it.
TEST_F(SnippetsPageTest, EveryRowOfALongPageComesOnceInOrder) {
  std::vector<FoundArticle> articles;
  for (int article = 0; article < 400; ++article) {
    const std::string name = std::to_string(article);
    articles.push_back(
        {.path = "./ZEB/ZEB" + name + ".htm",
         .excerpt = name,
         .details = {.shown = ArticleSnippets{
                         .title = name, .hits = article % 7, .snippets = {}, .term_hits = {}}}});
  }
  std::string rows;
  std::vector<std::size_t> order;
  for (int hits = 6; hits >= 0; --hits) {
    for (std::size_t at = 0; at < articles.size(); ++at) {
      const FoundArticle& article = articles[at];
      if (article.details.shown->hits != hits) continue;
      rows += SnippetsRow(article.path, article.excerpt, *article.details.shown) + "\r\n";
      order.push_back(at);
    }
  }
  const std::string page = Page(articles, "X", order);
  const std::string table_open =
      "<table bgcolor=\"#FEFF91\" border=\"1\" cellpadding=\"4\" width=\"100%\">\r\n";
  // Compared whole, without printing pages of 100 KB.
  EXPECT_TRUE(page == PageHead(400, "X") + table_open + rows +
                          "</table>\r\n<p>end</p>\r\n</body></html>\r\n");
}

// With nothing found, the page still holds the templates, and says so.
TEST_F(SnippetsPageTest, NothingFoundIsSaidInsideTheTemplates) {
  EXPECT_EQ(Page({}, "A&B"), PageHead(0, "A&amp;B") + "<p>end</p>\r\n</body></html>\r\n");
}

}  // namespace
}  // namespace kb
