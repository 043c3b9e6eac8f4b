#include "app/match/article_matcher.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/match/case_folder.h"
#include "app/match/html_text.h"
#include "support/text/text.h"

namespace kb {
namespace {

using namespace std::string_literals;

struct Outcome {
  bool phrase_found;
  bool marker_found;
  std::string excerpt;

  bool operator==(const Outcome&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Outcome& outcome) {
  return out << "{phrase " << outcome.phrase_found << ", marker " << outcome.marker_found
             << ", excerpt '" << outcome.excerpt << "'}";
}

// What searching the whole article at once gives.
Outcome WholeArticle(std::string_view phrase, std::string_view article) {
  Outcome outcome{!phrase.empty() && Upper(article).find(Upper(phrase)) != std::string::npos, false,
                  ""};
  const std::size_t marker = article.find(kArticleMarker);
  if (marker != std::string::npos) {
    outcome.marker_found = true;
    const std::string_view clipped = Clip(article);
    const std::size_t start = marker + kArticleMarker.size();
    const std::size_t end = std::min(start + kExcerptLength, clipped.size());
    outcome.excerpt = start < end ? std::string(article.substr(start, end - start)) : "";
    outcome.excerpt = std::string(Clip(outcome.excerpt));
  }
  return outcome;
}

// What the matcher gives when the article is fed in pieces of the given sizes (the last
// piece takes the rest).
Outcome InPieces(ArticleMatcher& matcher, std::string_view article,
                 const std::vector<std::size_t>& sizes) {
  matcher.StartArticle();
  std::size_t at = 0;
  for (std::size_t size : sizes) {
    matcher.Feed(article.substr(at, size));
    at = std::min(article.size(), at + size);
  }
  matcher.Feed(article.substr(at));
  return {matcher.phrase_found(), matcher.marker_found(), std::string(matcher.excerpt())};
}

Outcome InBlocks(std::string_view phrase, std::string_view article, std::size_t block = 4096) {
  ArticleMatcher matcher(phrase);
  return InPieces(matcher, article, std::vector<std::size_t>(article.size() / block, block));
}

TEST(ArticleMatcherTest, ResultNeedsThePhraseInAnyCaseAndTheExactMarker) {
  const std::string article = "<h1>Printer Setup</h1><!-- Article starts -->Plug it in.";
  EXPECT_EQ(InBlocks("PRINTER SETUP", article), (Outcome{true, true, "Plug it in."}));
  EXPECT_EQ(InBlocks("scanner", article), (Outcome{false, true, "Plug it in."}));
  EXPECT_EQ(InBlocks("printer", "Printer <!-- article starts -->x"), (Outcome{true, false, ""}));
  EXPECT_EQ(InBlocks("", article), (Outcome{false, true, "Plug it in."}));
}

TEST(ArticleMatcherTest, ExcerptIsAtMost201BytesAfterTheFirstMarker) {
  const std::string marker(kArticleMarker);
  const std::string long_text(500, 'x');
  EXPECT_EQ(InBlocks("x", marker + long_text).excerpt, std::string(201, 'x'));
  EXPECT_EQ(InBlocks("x", marker + std::string(50, 'y') + std::string(300, ' ')).excerpt,
            std::string(50, 'y'));
  EXPECT_EQ(InBlocks("x", "x" + marker + "   ").excerpt, "");
  EXPECT_EQ(InBlocks("x", "x" + marker + "first" + marker + "second").excerpt,
            "first" + marker + "second");
  // Line ends and zero bytes are part of the excerpt.
  EXPECT_EQ(InBlocks("x", "x" + marker + "a\r\nb\0c"s).excerpt, "a\r\nb\0c"s);
}

TEST(ArticleMatcherTest, FindsEverythingFarBeyondTheFirstBlocks) {
  std::string article(3'000'000, 'z');
  article += "the Needle<!-- Article starts -->after";
  EXPECT_EQ(InBlocks("THE NEEDLE", article), (Outcome{true, true, "after"}));
}

// A piece of HTML and the text a reader sees in it, a blank standing for any white space.
// Each piece ends where it ends whatever follows it.
struct Fragment {
  std::string html;
  std::string text;
};

const std::vector<Fragment> kFragments = {
    // Words, in several scripts and forms; bytes that are not UTF-8.
    {"Stra\u00DFe", "Stra\u00DFe"},
    {"STRASSE", "STRASSE"},
    {"\u1E9E", "\u1E9E"},
    {"na\u00EFve", "na\u00EFve"},
    {"nai\u0308ve", "nai\u0308ve"},
    {"NAIVE", "NAIVE"},
    {"\u00C5", "\u00C5"},
    {"A\u030A", "A\u030A"},
    {"\u212A", "\u212A"},
    {"k", "k"},
    {"\u017F", "\u017F"},
    {"\u03C3\u03C2\u03A3", "\u03C3\u03C2\u03A3"},
    {"\u0130", "\u0130"},
    {"i", "i"},
    {"\uFB00", "\uFB00"},
    {"ff", "ff"},
    {"\U0001F600", "\U0001F600"},
    {"\U00010400", "\U00010400"},
    {"\xE9", "\xE9"},
    {"\xC9", "\xC9"},
    {"\xC3", "\xC3"},
    {"\x80", "\x80"},
    {"\x01\x0B", "\x01\x0B"},
    {"Iterator", "Iterator"},
    {"\0 aB"s, "\0 aB"s},
    {std::string(90, 'e'), std::string(90, 'e')},
    {"trait", "trait"},
    {"< ", "< "},
    {"<3", "<3"},
    {"a<=b", "a<=b"},
    // White space, written out or as references.
    {" ", " "},
    {"\r\n", " "},
    {"\t\f", " "},
    {" \n ", " "},
    {"\u00A0", " "},
    {"&nbsp;", " "},
    {"&nbsp", " "},
    {"&#10;", " "},
    {"&#x20;", " "},
    {"&Tab;", " "},
    // Tags: most count as nothing, those that break a line or a block as white space.
    {"<b>", ""},
    {"</code>", ""},
    {"<a href=\"x>y\" title='p>q'>", ""},
    {"<img alt=x>", ""},
    {"<h7>", ""},
    {"<blockquotes>", ""},
    {"</>", ""},
    {"<p>", " "},
    {"</P >", " "},
    {"<br/>", " "},
    {"<div\nclass=\"c\">", " "},
    {"<h1>", " "},
    {"</td>", " "},
    {"<TR/>", " "},
    {"<blockquote>", " "},
    {"<title>", " "},
    // Comments, declarations, and the contents of scripts and styles.
    {"<!-- c -->", ""},
    {"<!---->", ""},
    {"<!-->", ""},
    {"<!--->", ""},
    {"<!-- a -- b --!>", ""},
    {"<!DOCTYPE html>", ""},
    {"<?xml v?>", ""},
    {"</3 x>", ""},
    {"<!-x>", ""},
    {"<!-- Article starts -->", ""},
    {"<!-- article starts -->", ""},
    {"<script>if (a<b) x='</p>';</scripty></script>", ""},
    {"<SCRIPT type=\"t\">a</Script >", ""},
    {"<style>p>b{}</style >", ""},
    // References, well formed and not.
    {"&amp;", "&"},
    {"&amp;mut", "&mut"},
    {"&lt;", "<"},
    {"&eacute;", "\u00E9"},
    {"&Eacute;", "\u00C9"},
    {"&NotEqualTilde;", "\u2242\u0338"},
    {"&#233;", "\u00E9"},
    {"&#xE9;", "\u00E9"},
    {"&#XC9;", "\u00C9"},
    {"&#65", "A"},
    {"&#128;", "\u20AC"},
    {"&#0;", "\uFFFD"},
    {"&#1114112;", "\uFFFD"},
    {"&#xD800;", "\uFFFD"},
    {"&#99999999999;", "\uFFFD"},
    {"&copy2", "\u00A92"},
    {"&notit;", "\u00ACit;"},
    {"&nosuch;", "&nosuch;"},
    {"&#;", "&#;"},
    {"&#x;", "&#x;"},
    {"& ", "& "},
    {"&amp", "&"},
    {"&Kopf;", "\U0001D542"},
    {"&#x212A;", "\u212A"},
};

// What may end an article: a piece that would go on if more followed.
const std::vector<Fragment> kEndings = {
    {"", ""},
    {"&", "&"},
    {"<", "<"},
    {"</", "</"},
    {"&#", "&#"},
    {"&#x", "&#x"},
    {"&#65", "A"},
    {"&#x4b", "K"},
    {"&amp", "&"},
    {"&copy", "\u00A9"},
    {"&nosuch", "&nosuch"},
    {"\xC2", "\xC2"},
    {"\xE2\x84", "\xE2\x84"},
    {"<p", ""},
    {"<!-- open", ""},
    {"<script>x", ""},
};

// Every run of blanks as one.
std::string CollapseBlanks(std::string_view text) {
  std::string collapsed;
  for (const char byte : text) {
    if (byte != ' ' || collapsed.empty() || collapsed.back() != ' ') collapsed.push_back(byte);
  }
  return collapsed;
}

// What searching the whole article at once gives with `settings`: the phrase folded, looked
// for in the article (or in its text, made from what each fragment shows) folded the same way;
// how often it is there, without overlaps, from left to right.
std::size_t CountInWhole(std::string_view phrase, std::string_view article, std::string_view text,
                         const MatchSettings& settings) {
  const bool in_text = settings.mode == MatchMode::kText;
  std::string sought(in_text ? CollapseWhiteSpace(phrase) : phrase);
  std::string searched(in_text ? text : article);
  if (settings.folds_unicode() || settings.has_case_pairs()) {
    sought = CaseFolder(settings).FoldWhole(sought);
    searched = CaseFolder(settings).FoldWhole(searched);
  }
  if (sought.empty()) return 0;
  std::size_t count = 0;
  const std::string upper = Upper(searched);
  for (std::size_t at = upper.find(Upper(sought)); at != std::string::npos;
       at = upper.find(Upper(sought), at + sought.size())) {
    ++count;
  }
  return count;
}

MatchSettings Settings(CaseFolding folding, bool ignore_accents, bool case_pairs, MatchMode mode) {
  MatchSettings settings{.case_folding = folding, .ignore_accents = ignore_accents, .mode = mode};
  if (case_pairs) settings.case_table[0xE9] = 0xC9;
  return settings;
}

// The article is made of random fragments, the phrase of part of its text or of words with
// random white space between them. Every way of cutting the article in two, and a few ways
// of cutting it in many, must give what searching it whole gives, whatever the settings; the
// marker and the excerpt likewise, the excerpt often cut by the length limit.
TEST(ArticleMatcherTest, EveryCuttingFindsWhatTheWholeTextHolds) {
  const std::vector<MatchSettings> all_settings = {
      Settings(CaseFolding::kAscii, false, false, MatchMode::kBytes),
      Settings(CaseFolding::kAscii, false, false, MatchMode::kText),
      Settings(CaseFolding::kAscii, false, true, MatchMode::kText),
      Settings(CaseFolding::kAscii, false, true, MatchMode::kBytes),
      Settings(CaseFolding::kUnicode, false, false, MatchMode::kText),
      Settings(CaseFolding::kUnicode, false, false, MatchMode::kBytes),
      Settings(CaseFolding::kAscii, true, false, MatchMode::kText),
      Settings(CaseFolding::kUnicode, true, false, MatchMode::kBytes),
  };
  const std::vector<std::string> joints = {" ", "\t\r\n", "\u00A0", "  "};
  std::mt19937 random(10);
  int found = 0;
  for (int round = 0; round < 400; ++round) {
    std::string article, text;
    for (int count = random() % 16; count > 0; --count) {
      const Fragment& fragment = kFragments[random() % kFragments.size()];
      article += fragment.html;
      text += fragment.text;
    }
    const Fragment& ending = kEndings[random() % kEndings.size()];
    article += ending.html;
    text = CollapseBlanks(text + ending.text);

    std::string phrase;
    if (random() % 2 == 0 && !text.empty()) {
      const std::size_t start = random() % text.size();
      phrase = text.substr(start, 1 + random() % 12);
    } else {
      for (int count = 1 + random() % 2; count > 0; --count) {
        if (!phrase.empty()) phrase += joints[random() % joints.size()];
        phrase += kFragments[random() % 27].text;
      }
    }

    const MatchSettings& settings = all_settings[random() % all_settings.size()];
    const std::size_t hits = CountInWhole(phrase, article, text, settings);
    const bool expected = hits > 0;
    found += expected;
    // The matcher that counts hits is fed the same pieces and must count them all.
    ArticleMatcher matcher(phrase, settings);
    ArticleMatcher counter(phrase, settings, StreamSearch::Count::kAll);
    const auto cut = [&](std::vector<std::size_t> sizes) {
      matcher.StartArticle();
      counter.StartArticle();
      std::size_t at = 0;
      for (const std::size_t size : sizes) {
        matcher.Feed(std::string_view(article).substr(at, size));
        counter.Feed(std::string_view(article).substr(at, size));
        at = std::min(article.size(), at + size);
      }
      matcher.Feed(std::string_view(article).substr(at));
      counter.Feed(std::string_view(article).substr(at));
      matcher.FinishArticle();
      counter.FinishArticle();
      EXPECT_EQ(counter.hits(), hits) << "phrase '" << phrase << "' article '" << article << "'";
      // And the length of the view they were counted in.
      EXPECT_EQ(counter.length(), settings.mode == MatchMode::kText ? text.size() : article.size())
          << "article '" << article << "'";
      return matcher.phrase_found();
    };
    for (std::size_t first = 0; first <= article.size(); ++first) {
      ASSERT_EQ(cut({first}), expected)
          << "phrase '" << phrase << "' article '" << article << "' cut at " << first;
    }
    ASSERT_EQ(cut(std::vector<std::size_t>(article.size(), 1)), expected)
        << "phrase '" << phrase << "' article '" << article << "' byte by byte";
    std::vector<std::size_t> sizes;
    for (std::size_t total = 0; total < article.size(); total += sizes.back()) {
      sizes.push_back(random() % 7);
    }
    ASSERT_EQ(cut(sizes), expected) << "phrase '" << phrase << "' article '" << article << "'";
    // The marker and the excerpt are the article's bytes whatever the settings.
    const Outcome whole = WholeArticle("", article);
    EXPECT_EQ(matcher.marker_found(), whole.marker_found);
    EXPECT_EQ(matcher.excerpt(), whole.excerpt);
  }
  // Both outcomes were tried often.
  EXPECT_GT(found, 100);
  EXPECT_LT(found, 300);
}

TEST(ArticleMatcherTest, SettlesOnceNothingCanChange) {
  ArticleMatcher matcher("needle");
  matcher.StartArticle();
  matcher.Feed("needle <!-- Article starts -->");
  EXPECT_FALSE(matcher.settled());
  matcher.Feed(std::string(200, 'e'));
  EXPECT_FALSE(matcher.settled());
  matcher.Feed("e");
  EXPECT_TRUE(matcher.settled());

  ArticleMatcher empty("");
  empty.StartArticle();
  EXPECT_TRUE(empty.settled());
}

}  // namespace
}  // namespace kb
