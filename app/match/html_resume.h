#pragma once

// Reading an article's text from the middle, as a reader from its start would read it there,
// so that the text around a spot far into an article can be had without reading all that
// lies before it (the snippets of a byte search need no more).
//
// Right after a ">" a reader can stand in few ways (HtmlText::ResumeInText and
// ResumeInQuotedValue), unless a comment, a script or a style that began before it is still
// open there. TextResumer rules those out from what lies before, looking only at the last
// "<!--", "<script" and "<style" there, in any case: the markup that each begins, read from
// it, must have ended. It rules out a value in quotes unless the last such quote before it
// follows an "=" (and white space): a value's opening quote is the last before any point
// inside it. It then reads on with a reader in each way left at once, and where all of them
// read alike (HtmlText::ReadsOnAlike), the state of a reader from the start is known: it is
// theirs, whatever came before. The text the readers made before that point may differ from
// the text from the start and is dropped; what a resumed reader makes from there on is the
// same.

#include <cstddef>
#include <optional>
#include <string_view>

#include "app/match/html_text.h"

namespace kb {

class TextResumer {
 public:
  // `article`: the article's bytes, which must outlive the resumer.
  explicit TextResumer(std::string_view article) : article_(article) {}

  // Sets `reader` in the state that a reader of the article from its start has at a point
  // between `from` and `until`, and gives that point; none when no such point can be found
  // for sure there. Asked for points further on each time, it looks at what lies before
  // them once.
  std::optional<std::size_t> Resume(std::size_t from, std::size_t until, HtmlText& reader);

 private:
  // How far the markup that a comment, script or style opener begins is read for its end.
  static constexpr std::size_t kLongestOpenMarkup = 64 * 1024;

  // Where each of "<!--", "<script" and "<style" (in any case), '"' and "'" last lies before
  // `scanned_`.
  struct Last {
    std::string_view sought;
    std::size_t at = std::string_view::npos;
    // For an opener: where the markup that it begins, read from it, ends; npos when it does
    // not end within kLongestOpenMarkup, or not yet known (`end_known`).
    std::size_t end = std::string_view::npos;
    bool end_known = false;
  };

  // Looks at the article up to `at`, which must not lie before what was looked at already.
  void ScanTo(std::size_t at);
  // Whether markup that a comment, script or style opener before `at` begins may still be
  // open at `at`. Markup longer than kLongestOpenMarkup counts as open: each opener is read
  // once, and only so far.
  bool MarkupMayBeOpenAt(std::size_t at);
  // Whether the last `quote` before `at` may open a value.
  bool MayBeInValue(const Last& quote) const;

  std::string_view article_;
  static constexpr std::size_t kOpenerKinds = 3;
  static constexpr std::string_view kOpeners[kOpenerKinds] = {"<!--", "<script", "<style"};
  Last openers_[kOpenerKinds] = {{kOpeners[0]}, {kOpeners[1]}, {kOpeners[2]}};
  Last double_quote_{"\""};
  Last single_quote_{"'"};
  std::size_t scanned_ = 0;
};

}  // namespace kb
