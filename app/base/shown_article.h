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
  bool operator==(const SnippetMark&) const = default;
};

struct Snippet {
  std::string text;  // with its ellipses; bytes of the article, not escaped
  std::vector<SnippetMark> marks;
  bool operator==(const Snippet&) const = default;
};

struct ArticleSnippets {
  std::string title;
  int64_t hits = 0;
  std::vector<Snippet> snippets;
  bool operator==(const ArticleSnippets&) const = default;
};

}  // namespace kb
