#pragma once

// How a search compares the phrase with an article: which letters count as the same, and
// whether it looks at the article's bytes or at the text a browser shows. A plain value,
// copied into every matcher; the defaults are the byte search with the letters a-z matching
// their capitals, over the whole page. Whatever the settings, the article marker is looked for
// in the article's bytes as they are.

#include <string>
#include <string_view>
#include <vector>

#include "support/text/text.h"

namespace kb {

// The marker of an article by default: the page is searched whole, and is an article only
// when it holds the marker; the excerpt is the bytes that follow it.
inline constexpr std::string_view kArticleMarker = "<!-- Article starts -->";
// The marker that makes the article start at the end of the page's <body> tag.
inline constexpr std::string_view kBodyMarker = "body";

// Which part of a page is the article (app/match/article_region.h).
struct ArticlePart {
  // kArticleMarker; kBodyMarker; or any other text, byte for byte, after whose first
  // occurrence the article begins and runs to the end of the page.
  std::string marker = std::string(kArticleMarker);
  // Elements left out of the article's text, each an element's name in lower case ("nav")
  // or a class with a dot (".sidebar"). Only the text is searched without them.
  std::vector<std::string> ignore;

  bool has_default_marker() const { return marker == kArticleMarker; }
  // The whole page is searched, as it is.
  bool whole_page() const { return has_default_marker() && ignore.empty(); }
  bool operator==(const ArticlePart&) const = default;
};

enum class CaseFolding {
  kAscii,    // through the case table: a-z and the case pairs added to it
  kUnicode,  // Unicode simple case folding over UTF-8
};

enum class MatchMode {
  kBytes,  // the article's bytes as they are
  kText,   // the article's text: markup left out, references decoded, white space as one blank
};

struct MatchSettings {
  CaseFolding case_folding = CaseFolding::kAscii;
  // Letters match whatever accents they carry. Implies Unicode folding.
  bool ignore_accents = false;
  // The table Upper folds the phrase through for display, and through which the ASCII
  // folding matches bytes above 127: UpperCaseTable() and the case pairs added to it.
  CaseTable case_table = UpperCaseTable();
  MatchMode mode = MatchMode::kBytes;
  // An Ignore list only applies with MatchMode::kText: what sets it refuses it otherwise.
  ArticlePart article = {};

  bool folds_unicode() const { return case_folding == CaseFolding::kUnicode || ignore_accents; }
  // Whether the search sees the whole page as it is: the default marker, and no element
  // ignored where the text is searched.
  bool searches_whole_page() const {
    return article.has_default_marker() && (mode != MatchMode::kText || article.ignore.empty());
  }
  // Whether a case pair was added to the table.
  bool has_case_pairs() const { return case_table != UpperCaseTable(); }
};

}  // namespace kb
