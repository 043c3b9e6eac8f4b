#pragma once

// Where a link to an article opens at a passage (PassageLink, app/base/shown_article.h): the
// words a browser finds and highlights there, and the element with an id that the passage
// lies under, found in the article's bytes around the passage's hit.
//
// A browser finds a text fragment only as whole words of the text it shows, within a run of
// text, so the hit is widened to the whole words around it, and the words before and after
// it are taken from the same run of text (up to markup, a character reference, or
// kPassageContext bytes). A hit whose bytes are not the text as it stands (it spans markup or a
// character reference, or markup joins its first or last word to more letters) gets no
// words, nor does a hit in the title element, which no page shows, nor do words that are
// not UTF-8, which a link cannot carry.

#include <cstddef>
#include <optional>
#include <string_view>

#include "app/base/shown_article.h"
#include "app/match/html_text.h"

namespace kb {

// The most bytes either side of the hit that the words before and after it are taken from.
inline constexpr std::size_t kPassageContext = 32;
// How far before the hit the element with an id is looked for.
inline constexpr std::size_t kIdLookBack = 1 << 20;

// The link to the passage whose hit starts at byte `start` of `article` and reads `hit` in its
// text (app/match/html_text.h: white space as one blank); none for `hit` asks for the id alone
// (a hit that lies across markup).
PassageLink LinkToPassage(std::string_view article, std::size_t start,
                          std::optional<std::string_view> hit);

// Where the article's text (as HtmlText makes it) comes from in its bytes: asked for places
// in the text in increasing order, it reads the article from its start as far as the last,
// in pieces that grow while they stop short of it, each tried again by halves where it would
// pass it.
class TextOrigins {
 public:
  explicit TextOrigins(std::string_view article) : article_(article) {}

  // The byte of the article that the text's byte at `offset` is, when it is that byte as it
  // stands (not part of a decoded reference or of a blank made of white space or a tag);
  // none otherwise, or when the text is not that long.
  std::optional<std::size_t> ByteOf(std::size_t offset);

 private:
  std::string_view article_;
  HtmlText reader_;
  std::size_t fed_ = 0;   // the article's bytes given to the reader
  std::size_t made_ = 0;  // the text's bytes it gave
};

}  // namespace kb
