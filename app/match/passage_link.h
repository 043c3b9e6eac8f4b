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
#include <string>
#include <string_view>
#include <vector>

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

// Where the article's text (as HtmlText makes it) comes from in its bytes. It makes the text
// itself (AppendText), and keeps a place to read on from at least every kOriginStep bytes of
// the article: the reader's state there, whose copy holds none of its text (under 200 bytes,
// a twentieth of the step). The byte that a place in the text comes from is then found by
// reading again from the last place kept before it, in pieces that grow while they stop short
// of it, each tried again by halves where it would pass it: a step of the article at most,
// rather than all that lies before it.
class TextOrigins {
 public:
  // The most of the article between two places kept. Each Extract costs a little of its own,
  // but pieces of this size make the text within a few percent as fast as pieces of 64 KiB,
  // while a place is found in a few KiB read again.
  static constexpr std::size_t kOriginStep = 4096;

  // `article` must outlive it.
  explicit TextOrigins(std::string_view article);

  // Appends to `text` the text of the article's bytes from where the last call stopped up to
  // byte `until` (at most the article's size), and at the article's end what the reader held
  // back (HtmlText::Finish).
  void AppendText(std::size_t until, std::string& text);

  // Goes on, at the next AppendText, from byte `fed` of the article with `reader` in the state
  // a reader from the article's start has there (app/match/html_resume.h), passing over the
  // bytes between; the text it makes from there starts at `made`, the text's size then. Text
  // that comes from no byte may come before `made`. A caller that makes text from `fed` on
  // itself, with a copy of `reader`, may append it and resume again where it stopped. Neither
  // `fed` nor `made` may go back.
  void ResumeAt(std::size_t fed, const HtmlText& reader, std::size_t made);

  // How far into the article the text has been made.
  std::size_t fed() const { return kept_.back().fed; }

  // The byte of the article that the text's byte at `offset` is, when it is that byte as it
  // stands (not part of a decoded reference or of a blank made of white space or a tag);
  // none otherwise, or when the text is not that long. Asked in any order; text that
  // AppendText has not made yet is read from the last place kept. Asked in increasing order,
  // each reads on from where the one before it stopped, when that lies past a place kept.
  std::optional<std::size_t> ByteOf(std::size_t offset);

 private:
  // The article's first `fed` bytes given to `reader`, of which it made `made` bytes of text.
  struct Place {
    std::size_t fed = 0;
    std::size_t made = 0;
    HtmlText reader;
  };

  std::string_view article_;
  HtmlText reader_;          // AppendText's, where kept_.back() stands
  std::vector<Place> kept_;  // from the article's start on, never further apart than a step
  Place sought_;             // where the last ByteOf stopped
  HtmlText trial_;           // a copy of sought_.reader tried on a piece, its room kept
};

}  // namespace kb
