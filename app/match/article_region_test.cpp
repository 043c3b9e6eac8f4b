#include "app/match/article_region.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "app/match/article_matcher.h"
#include "app/match/html_text.h"
#include "app/match/testing/text_of.h"
#include "app/match/words_matcher.h"
#include "support/testing/rounds.h"
#include "support/text/text.h"

namespace kb {
namespace {

using testing::TextOf;

ArticlePart Part(std::string marker, std::vector<std::string> ignore = {}) {
  return {.marker = std::move(marker), .ignore = std::move(ignore)};
}

// The region of `page` fed in pieces of `piece` bytes; "none" when it does not begin.
std::string InPieces(std::string_view page, const ArticlePart& part, std::size_t piece) {
  ArticleRegion region(part, true);
  std::string out;
  for (std::size_t at = 0; at < page.size(); at += piece)
    out += region.Feed(page.substr(at, piece));
  return region.started() ? out : "none";
}

TEST(ArticleRegionTest, BeginsAfterTheMarkerOrTheBodyTag) {
  const std::string page =
      "<head><title>T</title></head><body class=x>\n<nav>menu</nav>"
      "<div role=main>Text</div></body>";
  for (const std::size_t piece : {1, 3, 1000}) {
    EXPECT_EQ(InPieces(page, Part("<div role=main>"), piece), "Text</div></body>");
    EXPECT_EQ(InPieces(page, Part("body"), piece),
              "\n<nav>menu</nav><div role=main>Text</div></body>");
    EXPECT_EQ(InPieces(page, Part("<div role=other>"), piece), "none");
    EXPECT_EQ(InPieces(page, Part(std::string(kArticleMarker)), piece), page);
  }
  // A body tag in a comment or a script is no body tag.
  EXPECT_EQ(InPieces("<!-- <body> --><script><body></script>x", Part("body"), 2), "none");
}

TEST(ArticleRegionTest, IgnoredElementsCountAsOneBlankUpToTheirMatchingEndTag) {
  const auto region = [](std::string_view page, std::vector<std::string> ignore) {
    const std::string whole = InPieces(page, Part("body", ignore), page.size());
    for (std::size_t piece = 1; piece < page.size(); ++piece) {
      EXPECT_EQ(InPieces(page, Part("body", ignore), piece), whole) << page << " by " << piece;
    }
    return whole;
  };
  // Nested elements of the same name are counted; others are not.
  EXPECT_EQ(region("<body>a<nav>b<nav>c</nav>d<div>e</nav>f", {"nav"}), "a<nav> f");
  // By class, with the class among others, in any quotes; not by another attribute.
  EXPECT_EQ(region("<body>a<div id=s class='x side'>b</div>c<p title=side>d</p>", {".side"}),
            "a<div id=s class='x side'> c<p title=side>d</p>");
  // An element that is not closed runs to the end; one that never has contents ends at once.
  EXPECT_EQ(region("<body>a<img class=side>b<aside>c", {"aside", ".side"}),
            "a<img class=side> b<aside> ");
  // Tags in comments and scripts do not count.
  EXPECT_EQ(region("<body><nav><!-- </nav> --><script>'</nav>'</script>x</nav>y", {"nav"}),
            "<nav> y");
  // Names are compared in lower case.
  EXPECT_EQ(region("<body><NAV>x</Nav>y", {"nav"}), "<NAV> y");
}

TEST(ArticleRegionTest, ListsOfIgnoredElementsAreNamesAndClasses) {
  std::vector<std::string> ignore;
  EXPECT_EQ(ParseIgnoreList(" Nav, header ,.side-bar,,.x.y  ", ignore), std::nullopt);
  EXPECT_EQ(ignore, (std::vector<std::string>{"nav", "header", ".side-bar", ".x.y"}));
  EXPECT_EQ(IgnoreListText(ignore), "nav, header, .side-bar, .x.y");
  EXPECT_EQ(ParseIgnoreList("nav, 3d", ignore), "3d");
  EXPECT_EQ(ParseIgnoreList(".", ignore), ".");
  EXPECT_EQ(ParseIgnoreList("div#main", ignore), "div#main");
  EXPECT_EQ(ignore.size(), 4u);  // unchanged by a refused list
  EXPECT_EQ(ParseIgnoreList("", ignore), std::nullopt);
  EXPECT_TRUE(ignore.empty());
  EXPECT_EQ(MarkerOf("BODY"), std::string(kBodyMarker));
  EXPECT_EQ(MarkerOf(""), std::nullopt);
}

// The reference: the region of a whole page, read from a list of its tags.
struct Tag {
  std::size_t start;
  std::size_t end;  // past its ">"
  std::string name;
  bool end_tag;
  std::string classes;  // the class attribute's value, among blanks
};

std::vector<Tag> TagsOf(std::string_view page) {
  std::vector<Tag> tags;
  HtmlMarkup markup;
  const std::regex class_value(R"re((?:^|\s)class\s*=\s*(?:"([^"]*)"|'([^']*)'|([^\s>]*)))re",
                               std::regex::icase);
  for (std::size_t at = 0; (at = page.find('<', at)) != std::string_view::npos;) {
    const std::size_t start = at;
    markup.Open();
    HtmlMarkup::Stop stop = HtmlMarkup::Stop::kInside;
    at = markup.Read(page, at + 1, stop);
    if (stop != HtmlMarkup::Stop::kTagEnded) continue;
    Tag tag{start, at, std::string(markup.EndedTagName()), markup.EndedEndTag(), ""};
    const std::string text(page.substr(start, at - start));
    std::smatch found;
    if (!tag.end_tag && std::regex_search(text, found, class_value)) {
      tag.classes = " " + found[1].str() + found[2].str() + found[3].str() + " ";
    }
    tags.push_back(std::move(tag));
  }
  return tags;
}

std::optional<std::string> ReferenceRegion(std::string_view page, const ArticlePart& part,
                                           bool drops_ignored) {
  std::size_t start = 0;
  if (part.marker == kBodyMarker) {
    const std::vector<Tag> tags = TagsOf(page);
    const auto body = std::ranges::find_if(
        tags, [](const Tag& tag) { return tag.name == "body" && !tag.end_tag; });
    if (body == tags.end()) return std::nullopt;
    start = body->end;
  } else if (!part.has_default_marker()) {
    start = page.find(part.marker);
    if (start == std::string_view::npos) return std::nullopt;
    start += part.marker.size();
  }
  const std::string_view region = page.substr(start);
  if (!drops_ignored) return std::string(region);
  const std::vector<Tag> tags = TagsOf(region);
  const auto ignored = [&](const Tag& tag) {
    return !tag.end_tag && std::ranges::any_of(part.ignore, [&](const std::string& entry) {
      return entry.starts_with('.')
                 ? tag.classes.find(" " + entry.substr(1) + " ") != std::string::npos
                 : entry == tag.name;
    });
  };
  std::string kept;
  std::size_t from = 0;
  for (std::size_t at = 0; at < tags.size(); ++at) {
    if (tags[at].start < from || !ignored(tags[at])) continue;
    kept += region.substr(from, tags[at].end - from);
    kept += ' ';
    from = tags[at].end;
    if (tags[at].name == "img" || tags[at].name == "br") continue;
    from = region.size();
    for (std::size_t depth = 1, inner = at + 1; inner < tags.size(); ++inner) {
      if (tags[inner].name != tags[at].name) continue;
      depth += tags[inner].end_tag ? -1 : 1;
      if (depth == 0) {
        from = tags[inner].end;
        break;
      }
    }
  }
  return kept + std::string(region.substr(std::min(from, region.size())));
}

// The excerpt of a region whose marker is not the default.
std::string ReferenceExcerpt(std::string_view region) {
  std::string text = TextOf(region);
  if (text.starts_with(' ')) text.erase(0, 1);
  std::string excerpt;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const std::string written = text[at] == '&'   ? "&amp;"
                                : text[at] == '<' ? "&lt;"
                                : text[at] == '>' ? "&gt;"
                                                  : std::string(1, text[at]);
    if (excerpt.size() + written.size() > kExcerptLength) break;
    excerpt += written;
  }
  return std::string(Clip(excerpt));
}

std::size_t CountFolded(std::string_view view, std::string_view phrase) {
  const std::string folded = Upper(view);
  const std::string sought = Upper(phrase);
  std::size_t count = 0;
  for (std::size_t at = 0; !sought.empty() && (at = folded.find(sought, at)) != std::string::npos;
       at += sought.size()) {
    ++count;
  }
  return count;
}

// Random pages of tags that the ignore lists and markers name, nested or not, closed or not,
// some hidden in comments and scripts, with words between.
std::string RandomPage(std::mt19937& random) {
  static constexpr std::string_view kPieces[] = {
      "<body>",
      "<BODY class=b>",
      "</body>",
      "<nav>",
      "</nav>",
      "<NAV class=\"m\">",
      "<div class=\"side x\">",
      "<div class='side'>",
      "<div>",
      "</div>",
      "</DIV>",
      "<aside id=side>",
      "</aside>",
      "<img class=side alt=x>",
      "<br class=side>",
      "<!-- <nav> -->",
      "<script>'</nav>'</script>",
      "<main>",
      "<p>",
      "</p>",
      "<i>",
      "&amp; ",
      "a &lt;b&gt; ",
      "side ",
      "word ",
      "more words ",
      "Word",
      "\xC3\xA9t\xC3\xA9 ",
      "  \n ",
      "<!-- start -->",
      "START",
      "<div class=\"body\">",
  };
  std::string page;
  for (int count = static_cast<int>(random() % 40); count > 0; --count) {
    page += kPieces[random() % std::size(kPieces)];
  }
  return page;
}

TEST(ArticleRegionTest, MatchersAgreeWithTheWholePageRegionWhateverTheCutting) {
  const std::vector<ArticlePart> parts = {
      Part(std::string(kArticleMarker)),
      Part(std::string(kArticleMarker), {"nav"}),
      Part("body"),
      Part("body", {"nav", ".side", "aside"}),
      Part("<!-- start -->", {".m", "div"}),
      Part("START", {"br", "img"}),
      Part("<div class=\"body\">", {".x"}),
  };
  const std::vector<std::string> phrases = {"word", "side", "words more", "<b>",
                                            "& a",  "body", "t\xC3\xA9"};
  std::mt19937 random(29);
  int found = 0;
  const int rounds = testing::Rounds(1500, 300);
  for (int round = 0; round < rounds; ++round) {
    std::string page = RandomPage(random);
    if (random() % 3 == 0) page.insert(random() % (page.size() + 1), kArticleMarker);
    ArticlePart part = parts[random() % parts.size()];
    const MatchMode mode = random() % 2 == 0 ? MatchMode::kBytes : MatchMode::kText;
    // Elements are ignored in the text alone: the settings refuse them with the bytes.
    if (mode == MatchMode::kBytes) part.ignore.clear();
    const MatchSettings settings{.mode = mode, .article = part};
    const bool text = mode == MatchMode::kText;
    const std::string& phrase = phrases[random() % phrases.size()];

    const std::optional<std::string> region = ReferenceRegion(page, part, text);
    const std::string view = !region ? "" : text ? TextOf(*region) : *region;
    const std::size_t hits = CountFolded(view, text ? CollapseWhiteSpace(phrase) : phrase);
    const bool marked = part.has_default_marker() ? page.find(kArticleMarker) != std::string::npos
                                                  : region.has_value();
    std::string excerpt;
    if (part.has_default_marker() && marked) {
      excerpt = Clip(std::string_view(page)
                         .substr(page.find(kArticleMarker) + kArticleMarker.size())
                         .substr(0, kExcerptLength));
    } else if (marked) {
      excerpt = ReferenceExcerpt(*ReferenceRegion(page, part, true));
    }
    found += hits > 0 && marked;

    const Query words{.kind = QueryKind::kWords,
                      .text = "word -side",
                      .terms = {{.text = "word"}, {.text = "side", .excluded = true}}};
    const std::vector<WordHit> word_hits = WordsMatcher::HitsIn(words, settings, view);
    const bool words_match =
        marked &&
        std::ranges::any_of(word_hits, [](const WordHit& hit) { return hit.term == 0; }) &&
        std::ranges::none_of(word_hits, [](const WordHit& hit) { return hit.term == 1; });

    ArticleMatcher matcher(phrase, settings, StreamSearch::Count::kAll);
    WordsMatcher words_matcher(words, settings);
    const std::size_t piece = 1 + random() % 9;
    matcher.StartArticle();
    words_matcher.StartArticle();
    for (std::size_t at = 0; at < page.size(); at += piece) {
      matcher.Feed(std::string_view(page).substr(at, piece));
      words_matcher.Feed(std::string_view(page).substr(at, piece));
    }
    matcher.FinishArticle();
    words_matcher.FinishArticle();
    const auto context = [&] {
      return "page '" + page + "' marker '" + part.marker + "' " + (text ? "text" : "bytes") +
             " phrase '" + phrase + "' by " + std::to_string(piece);
    };
    ASSERT_EQ(matcher.hits(), hits) << context();
    ASSERT_EQ(matcher.is_result(), hits > 0 && marked) << context();
    ASSERT_EQ(matcher.length(), view.size()) << context();
    ASSERT_EQ(matcher.excerpt(), excerpt) << context();
    ASSERT_EQ(words_matcher.is_result(), words_match) << context();
    ASSERT_EQ(words_matcher.excerpt(), excerpt) << context();
    // The region of the whole page is the same.
    ASSERT_EQ(RegionOf(page, part, text), region) << context();
  }
  EXPECT_GT(found, rounds / 10);
  EXPECT_LT(found, rounds * 4 / 5);
}

}  // namespace
}  // namespace kb
