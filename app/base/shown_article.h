#pragma once

// What the snippets page and the console's JSON show of a found article beyond its path and
// excerpt: its title, its hits and the text around the first of them, each a plain value that
// the search makes (app/match/article_snippets.h) and the page writes.

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kb {

// A marked stretch of a snippet: byte offsets into its text, start < end.
struct SnippetMark {
  std::size_t start = 0;
  std::size_t end = 0;
  std::size_t term = 0;  // the term it marks: its place among the query's terms
  bool operator==(const SnippetMark&) const = default;
};

// Where a link to the article opens at a snippet's passage, as its parts, not encoded: the
// element the passage lies under, and the passage's own words for a browser to find,
// highlight and scroll to (a text fragment: `text`, with `prefix` right before it and `suffix`
// right after, each whole words of the article's text). Empty parts are none.
struct PassageLink {
  std::string id;      // of the nearest element before the passage that has one (a heading)
  std::string prefix;  // a few words before `text`, from the same run of text
  std::string text;    // the hit, widened to whole words; empty: no text fragment
  std::string suffix;  // a few words after it
  bool operator==(const PassageLink&) const = default;
};

struct Snippet {
  std::string text;  // with its ellipses; bytes of the article, not escaped
  std::vector<SnippetMark> marks;
  PassageLink link = {};
  bool operator==(const Snippet&) const = default;
};

struct ArticleSnippets {
  std::string title;
  int64_t hits = 0;
  std::vector<Snippet> snippets;
  // The hits of each term, in the query's order (the phrase's alone; 0 for an excluded term).
  std::vector<int64_t> term_hits;
  // Whether the title holds every required term (the phrase) where a word starts, folded as
  // the settings say.
  bool title_holds_terms = false;
  bool operator==(const ArticleSnippets&) const = default;
};

}  // namespace kb
