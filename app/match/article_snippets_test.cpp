#include "app/match/article_snippets.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "app/base/query.h"
#include "app/match/article_matcher.h"
#include "app/match/html_text.h"
#include "app/match/testing/text_of.h"
#include "support/testing/rounds.h"
#include "support/text/utf8.h"

namespace kb {
namespace {

using testing::TextOf;

bool SameIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto fold = [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 32) : c; };
    if (fold(a[i]) != fold(b[i])) return false;
  }
  return true;
}

// The reference: non-overlapping occurrences from left to right, found one position at a time.
std::vector<TextSpan> NaiveOccurrences(std::string_view text, std::string_view phrase) {
  std::vector<TextSpan> found;
  for (std::size_t at = 0; at + phrase.size() <= text.size();) {
    if (SameIgnoringAsciiCase(text.substr(at, phrase.size()), phrase)) {
      found.push_back({at, at + phrase.size()});
      at += phrase.size();
    } else {
      ++at;
    }
  }
  return found;
}

std::size_t Characters(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t at = 0; at < text.size(); ++count) {
    const int length = DecodeUtf8(text.substr(at)).length;
    at += length > 0 ? static_cast<std::size_t>(length) : 1;
  }
  return count;
}

std::string_view WithoutEllipses(std::string_view text, std::size_t& offset) {
  offset = 0;
  if (text.starts_with(kEllipsis)) {
    offset = kEllipsis.size();
    text.remove_prefix(offset);
  }
  if (text.ends_with(kEllipsis)) text.remove_suffix(kEllipsis.size());
  return text;
}

// Unicode folding with accents ignored, searching in `mode`.
MatchSettings Folding(MatchMode mode) {
  return {.case_folding = CaseFolding::kUnicode, .ignore_accents = true, .mode = mode};
}

// Random articles of words, markup, references, blanks and long runs without blanks, searched
// in both modes: every property of the snippets is checked against a one-position-at-a-time
// reference on the article's text or bytes.
TEST(ArticleSnippets, RandomArticlesAgainstReference) {
  const std::vector<std::string> pieces = {"ab",
                                           "a",
                                           "b",
                                           "AB",
                                           " ",
                                           "  ",
                                           "\n",
                                           "<b>",
                                           "</b>",
                                           "&amp;",
                                           "&",
                                           "<",
                                           "\"",
                                           "é",
                                           "x",
                                           "ab a",
                                           "<p>",
                                           "<!-- c -->",
                                           "&lt;",
                                           "\xE9",
                                           "日本語テキスト日本語テキスト日本語テキスト",
                                           "wordwithoutanyblankatallwordwithoutanyblank"};
  const std::vector<std::string> phrases = {"ab", "ab a", "A&b", "b<b", "é a", "x\"x", "<b>a"};
  std::mt19937 random(16);
  for (int round = 0, rounds = testing::Rounds(600, 28); round < rounds; ++round) {
    std::string article;
    const int length = std::uniform_int_distribution<int>(0, 300)(random);
    for (int i = 0; i < length; ++i) {
      article += pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
    }
    const std::string& phrase = phrases[round % phrases.size()];
    MatchSettings settings;
    settings.mode = round % 2 == 0 ? MatchMode::kBytes : MatchMode::kText;
    SCOPED_TRACE(::testing::Message()
                 << "round " << round << " phrase " << phrase << " article " << article);

    const ArticleSnippets made = SnippetMaker(phrase, settings).Make(article);
    // The scan counts the hits as it reads, in pieces of any size, with any folding, and the
    // snippets made with its count are those made alone.
    for (MatchSettings counted_settings : {settings, Folding(settings.mode)}) {
      ArticleMatcher matcher(phrase, counted_settings, StreamSearch::Count::kAll);
      matcher.StartArticle();
      for (std::size_t at = 0; at < article.size();) {
        const std::size_t piece = std::uniform_int_distribution<std::size_t>(0, 40)(random);
        matcher.Feed(std::string_view(article).substr(at, piece));
        at += piece;
      }
      matcher.FinishArticle();
      const SnippetMaker maker(phrase, counted_settings);
      const ArticleSnippets alone = maker.Make(article);
      ASSERT_EQ(static_cast<int64_t>(matcher.hits()), alone.hits);
      EXPECT_EQ(maker.Make(article, alone.hits), alone);
      // So are those made with where the scan found the hits, when it found them in the bytes.
      EXPECT_EQ(maker.Make(article, alone.hits, matcher.hit_starts()), alone);
    }
    const std::string text = TextOf(article);
    const std::string_view view = settings.mode == MatchMode::kText ? text : article;
    const std::vector<TextSpan> hits = NaiveOccurrences(view, phrase);
    ASSERT_EQ(made.hits, static_cast<int64_t>(hits.size()));
    EXPECT_LE(made.snippets.size(), kMostSnippets);
    // Every text hit shows; a byte search's hits inside markup may show nothing.
    if (settings.mode == MatchMode::kText) {
      EXPECT_EQ(made.snippets.empty(), hits.empty());
    }
    if (hits.empty()) {
      EXPECT_TRUE(made.snippets.empty());
    }

    std::size_t text_from = 0;
    for (const Snippet& snippet : made.snippets) {
      std::size_t offset;
      const std::string_view content = WithoutEllipses(snippet.text, offset);
      EXPECT_LE(Characters(snippet.text), kLongestSnippet);
      EXPECT_FALSE(content.empty());
      // The snippets of the text follow one another: each is looked for past the one before.
      const std::size_t in_text = text.find(content, text_from);
      const bool of_text = in_text != std::string::npos;
      const std::string_view source = of_text ? std::string_view(text) : std::string_view(article);
      const std::size_t at = of_text ? in_text : source.find(content);
      if (of_text) text_from = at + content.size();
      ASSERT_NE(at, std::string_view::npos) << "a snippet is a stretch of the text or bytes";
      if (IsUtf8(source)) {
        EXPECT_TRUE(IsUtf8(snippet.text));
      }

      // Every occurrence in the snippet is marked, and nothing else.
      std::vector<SnippetMark> expected;
      for (const TextSpan span : NaiveOccurrences(content, phrase)) {
        expected.push_back({offset + span.start, offset + span.end});
      }
      EXPECT_EQ(snippet.marks, expected);
      EXPECT_FALSE(snippet.marks.empty());

      // An ellipsis exactly where text was cut off; a cut not at a blank had none in reach.
      const std::string_view left = source.substr(0, at);
      const std::string_view right = source.substr(at + content.size());
      const bool more_left = left.find_first_not_of(" \t\r\n\f") != std::string_view::npos;
      const bool more_right = right.find_first_not_of(" \t\r\n\f") != std::string_view::npos;
      EXPECT_EQ(snippet.text.starts_with(kEllipsis), more_left);
      EXPECT_EQ(snippet.text.ends_with(kEllipsis) && content.size() + offset < snippet.text.size(),
                more_right);
      if (more_left && left.find_last_of(" \t\r\n\f") != left.size() - 1) {
        const std::size_t before_hit = snippet.marks.front().start - offset;
        const std::string_view near_cut = content.substr(0, std::min<std::size_t>(before_hit, 20));
        EXPECT_EQ(near_cut.find_first_of(" \t\r\n\f"), std::string_view::npos);
        const std::string_view before_cut =
            left.substr(left.size() - std::min<std::size_t>(left.size(), 20));
        EXPECT_EQ(before_cut.find_first_of(" \t\r\n\f"), std::string_view::npos);
      }
    }
  }
}

// A text search whose hits were counted makes its text only as far as its snippets need:
// the snippets are those of the whole text, on long articles with the hits anywhere, with
// runs of text without a blank or an ASCII byte, and with every folding.
TEST(ArticleSnippets, CountedTextSearchesMakeTheSnippetsOfTheWholeText) {
  const std::vector<std::string> pieces = {"<p>a few words of text, </p>",
                                           "<a title=\"ab\">x</a>",
                                           "&amp;",
                                           " ",
                                           "AB",
                                           "ab",
                                           "\xC3\xA9",
                                           "e\xCC\x81",
                                           std::string(700, 'w'),
                                           "日本語テキスト",
                                           "<!-- ab -->"};
  std::mt19937 random(19);
  for (int round = 0, rounds = testing::Rounds(60, 6); round < rounds; ++round) {
    std::string article;
    const int length = std::uniform_int_distribution<int>(0, 1500)(random);
    // Few hits, so that they fall anywhere in the article, near the ends of the steps too.
    for (int i = 0; i < length; ++i) {
      const std::size_t piece = random() % 12 == 0 ? 4 + random() % 3 : random() % 4;
      article += pieces[piece < pieces.size() ? piece : 0];
      if (random() % 6 == 0) article += pieces[7 + random() % 4];
    }
    const std::string phrase = round % 3 == 0 ? "ab" : round % 3 == 1 ? "\xC3\xA9" : "ab ab";
    for (const MatchSettings& settings :
         {MatchSettings{.mode = MatchMode::kText}, Folding(MatchMode::kText)}) {
      const SnippetMaker maker(phrase, settings);
      const ArticleSnippets whole = maker.Make(article);
      SCOPED_TRACE(::testing::Message() << "round " << round << " size " << article.size());
      EXPECT_EQ(maker.Make(article, whole.hits), whole);
    }
  }
}

// A byte search passes over hits that markup holds and resumes the reading shortly before
// a far hit that may show: its snippets are those of a reading from the start. That reading
// is forced by a style start tag in a value at the article's start, which leaves no text but
// which the resuming takes to be open to the end, as no style element follows.
TEST(ArticleSnippets, ByteSearchesThatResumeTheReadingMakeTheSnippetsOfAWholeReading) {
  // Hits that markup holds for certain, and no hits: pages from text to links without text.
  const std::vector<std::string> common = {
      "<li><a href=\"unsafe.html\" title=\"unsafe fn\">x</a><span class=\"unsafe\"></span>"
      "<span class=\"unsafe\"></span></li>",
      "<div class='unsafe'>",
      "<span title=\"a > b\">&lt;&amp;</span>",
      "<p>Some text, </p>",
      "\n  ",
      "<!-- a comment -->",
      "<script>var x = '<p>';</script>",
      "\xC3\xA9t\xC3\xA9 ",
      "日本語テキスト",
      std::string(30, 'w')};
  // Hits that may show, far apart.
  const std::vector<std::string> rare = {"<p>Some text with unsafe in it, </p>", "UNSAFE",
                                         "<!-- unsafe -->", "<script>var unsafe;</script>",
                                         "<b title=\"unsafe >\">"};
  std::mt19937 random(1616);
  for (int round = 0, rounds = testing::Rounds(16, 8); round < rounds; ++round) {
    std::string article = "<title>T</title>";
    const int length = std::uniform_int_distribution<int>(100, 4000)(random);
    const unsigned links = 1u << (round % 8);  // how much more often than each other piece
    for (int i = 0; i < length; ++i) {
      const unsigned pick = static_cast<unsigned>(random() % (links + common.size() - 1));
      article += random() % 500 == 0 ? rare[random() % rare.size()]
                                     : common[pick < links ? 0 : pick - links + 1];
    }
    const std::string phrase = round % 2 == 0 ? "unsafe" : "in it";
    const SnippetMaker maker(phrase, round % 4 < 2 ? MatchSettings{} : Folding(MatchMode::kBytes));
    const ArticleSnippets from_start = maker.Make("<b title=\"<style \">" + article);
    SCOPED_TRACE(::testing::Message() << "round " << round << " size " << article.size());
    const ArticleSnippets resumed = maker.Make(article);
    EXPECT_EQ(resumed, from_start);
    EXPECT_EQ(maker.Make(article, resumed.hits), from_start);
  }
}

// A byte search makes the text only as far as its snippets need; where the phrase lies in
// text alone, its snippets are those of a text search, which makes the whole text. A phrase of
// one character leaves its snippet the most room on each side; long words put the blanks that
// the cuts move to at the edge of their reach; tags between the characters make text of few
// of the bytes read.
TEST(ArticleSnippets, ByteSearchesOfPhrasesInTextMakeTheSnippetsOfTheWholeText) {
  const std::vector<std::string> characters = {"x", "y", "\xC3\xA9", "日", "x<i></i>", "y<b></b>"};
  std::mt19937 random(2026);
  for (int round = 0, rounds = testing::Rounds(400); round < rounds; ++round) {
    std::string article = "w";
    const int words = std::uniform_int_distribution<int>(10, 100)(random);
    for (int word = 0; word < words; ++word) {
      article += ' ';
      const unsigned length = random() % 2 == 0 ? 34 + random() % 10 : 1 + random() % 8;
      for (unsigned at = 0; at < length; ++at) {
        article += random() % 150 == 0 ? "a" : characters[random() % characters.size()];
      }
    }
    SCOPED_TRACE(::testing::Message() << "round " << round << " article " << article);
    const ArticleSnippets of_text =
        SnippetMaker("a", MatchSettings{.mode = MatchMode::kText}).Make(article);
    EXPECT_EQ(SnippetMaker("a", MatchSettings{}).Make(article), of_text);
  }
}

TEST(ArticleSnippets, TitleIsTheTitleElseTheFirstHeadingAsText) {
  EXPECT_EQ(SnippetMaker::Title("<head><TITLE lang=en>\n A &amp; <b>B</b>\n</title>"), "A & B");
  EXPECT_EQ(SnippetMaker::Title("<title></title><h1 id=x>First</h1><h1>Second</h1>"), "First");
  EXPECT_EQ(SnippetMaker::Title("<titles>no</titles><h1>unclosed"), "");
  EXPECT_EQ(SnippetMaker::Title("plain text"), "");
}

TEST(ArticleSnippets, ByteHitsThatSpanMarkupAreShownFromTheBytesAndThoseInsideItNot) {
  MatchSettings settings;
  const ArticleSnippets made =
      SnippetMaker("<b>bold", settings)
          .Make("<!-- <b>bold --><p>Some <b>bold</b> words and <B>BOLD too</p>");
  ASSERT_EQ(made.hits, 3);
  ASSERT_EQ(made.snippets.size(), 2u);
  EXPECT_EQ(made.snippets[0].text, "<!-- <b>bold --><p>Some <b>bold</b> words and <B>BOLD too</p>");
  EXPECT_EQ(made.snippets[0].marks, (std::vector<SnippetMark>{{5, 12}, {24, 31}, {46, 53}}));
}

TEST(ArticleSnippets, LaterHitsInAnEarlierSnippetMakeNoneOfTheirOwn) {
  std::string article = "near one near two near three";
  for (int i = 0; i < 60; ++i) article += " filler words";
  article += " far";
  const ArticleSnippets made = SnippetMaker("near", {}).Make(article);
  EXPECT_EQ(made.hits, 3);
  ASSERT_EQ(made.snippets.size(), 1u);
  EXPECT_EQ(made.snippets[0].marks.size(), 3u);
  EXPECT_TRUE(made.snippets[0].text.ends_with(kEllipsis));
}

TEST(ArticleSnippets, FoldedMarksCoverTheArticlesOwnCharacters) {
  MatchSettings accents;
  accents.ignore_accents = true;
  accents.mode = MatchMode::kText;
  // "é" twice, once precomposed, once as "e" and a combining acute accent; "É" in capitals.
  const std::string article = "caf\xC3\xA9 cafe\xCC\x81 CAF\xC3\x89 cafes";
  const ArticleSnippets made = SnippetMaker("cafe", accents).Make(article);
  EXPECT_EQ(made.hits, 4);
  ASSERT_EQ(made.snippets.size(), 1u);
  EXPECT_EQ(made.snippets[0].marks,
            (std::vector<SnippetMark>{{0, 5}, {6, 12}, {13, 18}, {19, 23}}));

  MatchSettings unicode;
  unicode.case_folding = CaseFolding::kUnicode;
  const ArticleSnippets greek = SnippetMaker("σοφία", unicode).Make("<i>ΣΟΦΊΑ</i> and σοφία");
  EXPECT_EQ(greek.hits, 2);
  ASSERT_EQ(greek.snippets.size(), 1u);
  EXPECT_EQ(greek.snippets[0].text, "ΣΟΦΊΑ and σοφία");
  EXPECT_EQ(greek.snippets[0].marks, (std::vector<SnippetMark>{{0, 10}, {15, 25}}));
}

// A folded article is searched a stretch at a time: articles whose folded text runs past two
// stretches, of characters that fold to "e" in one to three bytes (a combining accent among
// them) and the first hits just either side of 64 KiB, find every hit of a
// one-character-at-a-time reference and mark whole characters.
TEST(ArticleSnippets, LongFoldedArticlesFindEveryHit) {
  struct Piece {
    std::string bytes;
    char folded;
  };
  const std::vector<Piece> pieces = {{"e", 'e'},        {"E", 'e'},         {"\xC3\xA9", 'e'},
                                     {"\xC3\x89", 'e'}, {"e\xCC\x81", 'e'}, {"x", 'x'},
                                     {"X", 'x'}};
  const std::string phrase = "exe";
  auto fold = [&](std::string_view bytes) {
    std::string folded;
    while (!bytes.empty()) {
      // The longest piece first, so that a combining accent stays with its letter.
      const Piece* best = nullptr;
      for (const Piece& piece : pieces) {
        if (bytes.starts_with(piece.bytes) && (!best || piece.bytes.size() > best->bytes.size())) {
          best = &piece;
        }
      }
      if (!best) return std::string("?");
      folded += best->folded;
      bytes.remove_prefix(best->bytes.size());
    }
    return folded;
  };
  std::mt19937 random(64);
  for (int round = 0; round < 8; ++round) {
    // The first hits straddle 64 KiB, one of them ending just before a combining accent
    // that begins the next stretch; the first letter holds no hit.
    std::string article = std::string(64 * 1024 - 4 + round, 'q') + "exe\xCC\x81";
    std::string folded = std::string(64 * 1024 - 4 + round, 'q') + "exe";
    while (folded.size() < (2 * 64 + 8) * 1024) {
      const Piece& piece =
          pieces[std::uniform_int_distribution<std::size_t>(0, pieces.size() - 1)(random)];
      article += piece.bytes;
      folded += piece.folded;
    }
    int64_t expected = 0;
    for (std::size_t at = folded.find(phrase); at != std::string::npos;
         at = folded.find(phrase, at + phrase.size())) {
      ++expected;
    }
    SCOPED_TRACE(::testing::Message() << "round " << round);
    for (MatchMode mode : {MatchMode::kBytes, MatchMode::kText}) {
      const ArticleSnippets made = SnippetMaker(phrase, Folding(mode)).Make(article);
      EXPECT_EQ(made.hits, expected);
      ASSERT_FALSE(made.snippets.empty());
      for (const Snippet& snippet : made.snippets) {
        for (const SnippetMark mark : snippet.marks) {
          EXPECT_EQ(fold(std::string_view(snippet.text).substr(mark.start, mark.end - mark.start)),
                    phrase);
          EXPECT_FALSE(std::string_view(snippet.text).substr(mark.end).starts_with("\xCC"));
        }
      }
    }
  }
}

// The hit in the middle, cut at characters where no blank is in reach: ASCII text, which
// a narrower window of bytes is read for, and Japanese.
TEST(ArticleSnippets, AsciiTextWithoutBlanksIsCutAroundTheHitInTheMiddle) {
  const std::string article = std::string(1000, 'a') + "HIT" + std::string(1000, 'b');
  const ArticleSnippets made = SnippetMaker("hit", {}).Make(article);
  ASSERT_EQ(made.snippets.size(), 1u);
  EXPECT_EQ(made.snippets[0].text, std::string(kEllipsis) + std::string(77, 'a') + "HIT" +
                                       std::string(78, 'b') + std::string(kEllipsis));
}

TEST(ArticleSnippets, TextWithoutBlanksIsCutAtCharacters) {
  std::string article;
  for (int i = 0; i < 100; ++i) article += "日本語";
  article += "検索";
  for (int i = 0; i < 100; ++i) article += "日本語";
  const ArticleSnippets made = SnippetMaker("検索", {}).Make(article);
  ASSERT_EQ(made.snippets.size(), 1u);
  const std::string& text = made.snippets[0].text;
  EXPECT_TRUE(text.starts_with(kEllipsis) && text.ends_with(kEllipsis));
  EXPECT_EQ(Characters(text), kSnippetLength + 2);
  EXPECT_TRUE(IsUtf8(text));
}

}  // namespace
}  // namespace kb

namespace kb {
namespace {

Query WordsQuery(std::string_view text) {
  Query query;
  EXPECT_EQ(ParseQuery(text, QueryKind::kWords, query), QueryProblem::kNone);
  return query;
}

// The marked stretches of a snippet, as text, with their terms.
std::vector<std::string> Marked(const Snippet& snippet) {
  std::vector<std::string> marked;
  for (const SnippetMark& mark : snippet.marks) {
    marked.push_back(std::to_string(mark.term) + ":" +
                     snippet.text.substr(mark.start, mark.end - mark.start));
  }
  return marked;
}

TEST(ArticleSnippets, WordsMarkEveryRequiredTermAndPreferPassagesHoldingMoreOfThem) {
  const std::string filler(400, '.');
  const std::string article = "<title>Spawn and Join</title>spawn " + filler + " join " + filler +
                              " spawn " + filler + " the thread may spawn, then joining it " +
                              filler + " rejoin <b>join</b> dont";
  for (const MatchMode mode : {MatchMode::kBytes, MatchMode::kText}) {
    const SnippetMaker maker(WordsQuery("spawn join -dont"), {.mode = mode});
    const ArticleSnippets made = maker.Make(article);
    // Four hits of each where a word starts (the title's among them); "rejoin" is none, and
    // an excluded term counts none.
    EXPECT_EQ(made.term_hits, (std::vector<int64_t>{4, 4, 0}));
    EXPECT_EQ(made.hits, 8);
    EXPECT_TRUE(made.title_holds_terms);
    // The two passages that hold both terms, and the first other hit, in the order of the text.
    ASSERT_EQ(made.snippets.size(), 3u);
    EXPECT_EQ(Marked(made.snippets[0]), (std::vector<std::string>{"0:Spawn", "1:Join", "0:spawn"}));
    EXPECT_EQ(Marked(made.snippets[1]), (std::vector<std::string>{"1:join"}));
    EXPECT_EQ(Marked(made.snippets[2]), (std::vector<std::string>{"0:spawn", "1:join"}));
  }
  // The counts the scan made stand.
  const SnippetMaker maker(WordsQuery("spawn join"), {});
  EXPECT_EQ(maker.Make(article, 9, {}, std::vector<uint64_t>{4, 5}).term_hits,
            (std::vector<int64_t>{4, 5}));
  EXPECT_FALSE(SnippetMaker(WordsQuery("spawn thread"), {}).Make(article).title_holds_terms);
  // A phrase's title holds it where a word starts.
  EXPECT_TRUE(SnippetMaker("and join", {}).Make(article).title_holds_terms);
  EXPECT_FALSE(SnippetMaker("pawn", {}).Make(article).title_holds_terms);
  EXPECT_EQ(SnippetMaker("spawn", {}).Make(article).term_hits, (std::vector<int64_t>{4}));
  // Under folding a mark covers the article's own characters.
  const MatchSettings accents{.case_folding = CaseFolding::kUnicode, .ignore_accents = true};
  const ArticleSnippets folded = SnippetMaker(WordsQuery("eric join"), accents)
                                     .Make("caf\xC3\xA9 \xC3\x89ric e\xCC\x81ric joIN");
  ASSERT_EQ(folded.snippets.size(), 1u);
  EXPECT_EQ(Marked(folded.snippets[0]),
            (std::vector<std::string>{"0:\xC3\x89ric", "0:e\xCC\x81ric", "1:joIN"}));
}

// Words whose hits were counted as the article was read make its text only as far as their
// passages need, or only around the hits when the scan tells where each starts: long random
// articles, their terms dense or sparse, near the ends of the steps too, give the snippets of
// the whole text.
TEST(ArticleSnippets, CountedWordSearchesMakeTheSnippetsOfTheWholeText) {
  const std::vector<std::string> pieces = {"<p>a few words of text</p> ",
                                           "ab ",
                                           "cd ",
                                           "ef ",
                                           "<b>ab</b>cd ",
                                           "&amp; ",
                                           "\xC3\xA9"
                                           "cd ",
                                           std::string(300, 'w') + " ",
                                           "<!-- ab cd --> ",
                                           "<a title=\"cd\">x</a> "};
  std::mt19937 random(23);
  for (int round = 0, rounds = testing::Rounds(24, 6); round < rounds; ++round) {
    std::string article;
    const int length = std::uniform_int_distribution<int>(0, 16000)(random);
    const unsigned density = round % 3 == 0 ? 20 : round % 3 == 1 ? 400 : 6000;
    for (int i = 0; i < length; ++i) {
      article += pieces[random() % density == 0 ? 1 + random() % (pieces.size() - 1) : 0];
    }
    if (density > 1000 && article.size() > 80000) {
      // Two passages of both terms early and a third shortly before the end of the first step.
      for (const std::size_t at :
           {random() % 30000, 30000 + random() % 30000, 65536 - 8 - random() % 300}) {
        article.replace(at, 7, " ab cd ");
      }
    }
    for (const MatchSettings& settings : {MatchSettings{}, Folding(MatchMode::kText)}) {
      // Where "ef" is found, the scan stops looking, and cannot tell where every hit lies.
      const Query query = WordsQuery(round % 2 == 0 ? "ab cd -ef" : "ab cd");
      const SnippetMaker maker(query, settings);
      const ArticleSnippets whole = maker.Make(article);
      const std::vector<uint64_t> counted(whole.term_hits.begin(), whole.term_hits.end());
      SCOPED_TRACE(::testing::Message() << "round " << round << " size " << article.size());
      EXPECT_EQ(maker.Make(article, whole.hits, {}, counted), whole);
      // Where the scan found each hit: the text is made only around them, hits in markup too.
      WordsMatcher scan(query, settings, StreamSearch::Count::kAll);
      scan.StartArticle();
      for (std::size_t at = 0; at < article.size(); at += 65536) {
        scan.Feed(std::string_view(article).substr(at, 65536));
      }
      scan.FinishArticle();
      EXPECT_EQ(maker.Make(article, whole.hits, scan.hit_starts(), counted), whole);
    }
  }
}

}  // namespace
}  // namespace kb
