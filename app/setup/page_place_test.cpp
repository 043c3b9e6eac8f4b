#include "app/setup/page_place.h"

#include <gtest/gtest.h>

#include <string>

namespace kb {
namespace {

TEST(PagePlaceTest, APageAwayFromItsTreeLinksToTheArticlesByTheirUrls) {
  KnowledgeBase zeb{.root = "/kb"};
  PlaceResultsPage(zeb, "/tmp/page.htm");
  EXPECT_EQ(zeb.page, kResultsPageName);
  EXPECT_EQ(zeb.link_base, "");

  KnowledgeBase tree{.root = "/usr/share/doc/a b%", .articles = "**/*.html"};
  PlaceResultsPage(tree, "/tmp/page.htm");
  EXPECT_EQ(tree.page, "/tmp/page.htm");
  EXPECT_EQ(tree.link_base, "file:///usr/share/doc/a%20b%25/");
}

TEST(PagePlaceTest, EachKnowledgeBaseHasAPageNameOfItsOwn) {
  EXPECT_EQ(PlacedPageName("/usr/share/doc/python3.11/html"),
            "%2Fusr%2Fshare%2Fdoc%2Fpython3.11%2Fhtml.htm");
  const std::string deep = "/" + std::string(300, 'a');
  const std::string name = PlacedPageName(deep);
  EXPECT_LE(name.size(), 255u);
  EXPECT_NE(name, PlacedPageName(deep + "b"));
  EXPECT_NE(name, PlacedPageName("/b" + deep));
}

}  // namespace
}  // namespace kb
