#pragma once

// Why an article matched, for the snippets page and the console's JSON: its title, how often
// it holds the phrase, and the text around its first hits with every occurrence of the phrase
// marked. A plain function of the article's bytes, the phrase and the match settings, so that
// every thread of a search makes its own.
//
//  - Title: the text of the first <title> element, else of the first <h1>: references
//    decoded, white space as one blank, no blank at either end. Empty when there is neither.
//  - Hits: the non-overlapping occurrences of the phrase, from left to right, in the view the
//    settings search (the article's bytes, or its text: app/html_text.h), folded as they say.
//  - Snippets: one for each of the first hits, at most kMostSnippets, a hit that an earlier
//    snippet already shows making none of its own. A snippet is the article's text (as
//    HtmlText gives it) around the hit: about kSnippetLength characters with the hit in the
//    middle, never more than kLongestSnippet, the ellipses included, and never reaching back
//    into the snippet before it. Each end is cut at the
//    blank nearest to where the length puts it when one lies within kCutReach characters,
//    else at a character boundary, and carries "…" when text was cut off there. A character
//    is a valid UTF-8 sequence or any other single byte, so no sequence is ever split.
//    A byte search's hit that the text holds only in part (it spans a tag, a reference or a
//    run of white space) gets a snippet of the article's bytes around it instead, cut by the
//    same rules; one that lies wholly in markup (a comment such as the article marker, a
//    tag, a script) gets none, since a reader sees nothing of it, but counts as a hit.
//  - Marks: in each snippet, the non-overlapping occurrences of the phrase, folded as the
//    settings say, from left to right. Under Unicode or accent folding a mark covers the
//    article's own characters that matched, whatever their length (an "é" written as "e"
//    and a combining accent is marked whole).
//
// Hits, snippets and marks are those of the article's region (app/match/article_region.h): the
// whole page by default; ignored elements are never shown. The title is the page's.
//
// For a words query (app/base/query.h) the hits are those of every required term, each
// where a word starts, and the snippets are cut from the article's text in either mode: up to
// kMostSnippets around the hits whose surroundings hold the most of the terms (the earliest
// first among equals), shown in the order of the text, each marking the hits of every
// required term it holds (the byte search's hits that lie in markup or across it are counted
// but not shown). In an article longer than 64 KiB whose hits the scan counted in its bytes,
// where each of them starts being known (WordsMatcher::hit_starts), the hits weighed are
// those within a few KiB of the text around the hits counted: a term that only the text
// holds whole, far from every hit counted (one that markup cuts in the bytes), is neither
// counted nor weighed. Such a page's text is then made only around its hits.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/query.h"
#include "app/base/shown_article.h"
#include "app/match/case_folder.h"
#include "app/match/match_settings.h"
#include "app/match/phrase_finder.h"
#include "app/match/words_matcher.h"

namespace kb {

inline constexpr std::size_t kMostSnippets = 3;
// The characters a snippet aims at, without its ellipses.
inline constexpr std::size_t kSnippetLength = 158;
// How far a cut moves, at most, to fall on a blank.
inline constexpr std::size_t kCutReach = 20;
// kSnippetLength, a cut moved outwards at both ends, and two ellipses.
inline constexpr std::size_t kLongestSnippet = kSnippetLength + 2 * kCutReach + 2;
inline constexpr std::string_view kEllipsis = "\u2026";

// A stretch of a text, in bytes: [start, end).
struct TextSpan {
  std::size_t start = 0;
  std::size_t end = 0;
};

class SnippetMaker {
 public:
  // `phrase` as the user gave it, as ArticleMatcher takes it.
  SnippetMaker(std::string_view phrase, const MatchSettings& settings);
  // `query` as the search looks for it.
  SnippetMaker(const Query& query, const MatchSettings& settings);

  ArticleSnippets Make(std::string_view article) const;
  // The same, for an article whose hits were counted as it was read (ArticleMatcher::hits()),
  // so that a byte search looks for no more hits than its snippets need. `article` may be
  // the start of a longer article whose hits were all counted. `first_starts`: where the
  // first of them start, when the count found them in the article's bytes with the same
  // settings (ArticleMatcher::hit_starts), so that they are not looked for again; for words,
  // where every one of them starts (WordsMatcher::hit_starts).
  // `term_hits`: each term's hits as the scan counted them (QueryMatcher::term_hits), when
  // known.
  ArticleSnippets Make(std::string_view article, int64_t hits,
                       std::span<const uint64_t> first_starts = {},
                       std::span<const uint64_t> term_hits = {}) const;

  // The title of `article` alone.
  static std::string Title(std::string_view article);

  // Whether `title` holds every required term of the query (the phrase) where a word starts:
  // folded as the settings say, at a place where the character before it is no letter, mark
  // or digit (a byte of 80 hex or more that is not UTF-8 counts as a letter), or anywhere
  // when the term itself does not begin with one.
  bool TitleHoldsTerms(std::string_view title) const;

 private:
  // The non-overlapping occurrences of the phrase in `view`, as stretches of `view` itself.
  std::vector<TextSpan> Occurrences(std::string_view view) const;
  // Make, of the article's region (app/match/article_region.h); `hits` when counted already.
  ArticleSnippets MakeOfRegion(std::string_view article, std::optional<int64_t> hits,
                               std::span<const uint64_t> first_starts,
                               std::span<const uint64_t> term_hits) const;
  // `hits`: the article's hits when they are known already.
  ArticleSnippets MakeOfText(std::string_view article, std::optional<int64_t> hits) const;
  // The snippets of a text search in `text`, the start of the article's text (all of it when
  // `whole`), and the hit of each in `hits`; none when that start cannot tell them for sure.
  std::optional<std::vector<Snippet>> SnippetsOfText(std::string_view text, bool whole,
                                                     std::vector<TextSpan>& hits) const;
  ArticleSnippets MakeOfBytes(std::string_view article, std::optional<int64_t> hits,
                              std::span<const uint64_t> first_starts) const;
  // `starts`: where every hit counted of the required terms starts, when the scan knew
  // (WordsMatcher::hit_starts).
  ArticleSnippets MakeOfWords(std::string_view article, std::optional<int64_t> hits,
                              std::span<const uint64_t> term_hits,
                              std::span<const uint64_t> starts) const;
  // The snippet of `text` around `hit`, beginning at `not_before` at the earliest (where an
  // earlier snippet ended, a character boundary): its text and where it lies in `text`. Its
  // marks are the occurrences of the phrase in it, or with `word_hits` (in `text`) those of
  // them it holds.
  Snippet Cut(std::string_view text, TextSpan hit, std::size_t not_before, TextSpan& taken,
              const std::vector<WordHit>* word_hits = nullptr) const;

  MatchSettings settings_;
  std::string sought_;
  PhraseFinder finder_;
  bool folds_ = false;  // the view passes through a CaseFolder before the phrase is sought
  // The query of words, when the search is for words; the terms the title must hold.
  std::optional<Query> words_;
  Query title_terms_;
};

}  // namespace kb
