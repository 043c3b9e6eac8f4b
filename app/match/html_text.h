#pragma once

// The text step of a search that looks at what a reader sees: it turns the bytes of an HTML
// article, given piece by piece, into the article's text.
//
//  - Markup (app/match/html_markup.h: tags, comments, declarations, the contents of script and
//    style elements) is left out. A tag counts as nothing, except a tag (start or end) that
//    breaks a line or a block in a browser, such as br, p, div, li, td, h1 or title, which
//    counts as white space.
//  - Character references are decoded into UTF-8: "&#233;", "&#xE9;" and the named ones of
//    HTML ("&eacute;"; the few old ones that need no ";" also without it). A "&" that starts
//    no reference is text. Numbers that name no character give U+FFFD; 128 to 159 give the
//    characters of Windows-1252, as browsers have it.
//  - Every run of white space (blank, tab, CR, LF, form feed, U+00A0 written as UTF-8 or as
//    a reference) becomes one blank; a run that tags or comments interrupt is still one run.
//  - Every other byte is text as it stands, whatever its encoding.
//
// The outcome does not depend on how the article is cut into pieces. Memory stays bounded:
// what is held back from one piece to the next is a state and at most a reference's name.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "app/match/html_markup.h"
#include "app/match/html_named_references.h"

namespace kb {

class HtmlText {
 public:
  HtmlText() = default;
  // A reader that reads on exactly as `other` would from where it stands, with a room for its
  // text of its own: a place to go back to.
  HtmlText(const HtmlText& other);
  HtmlText& operator=(const HtmlText& other);
  HtmlText(HtmlText&&) = default;
  HtmlText& operator=(HtmlText&&) = default;

  // Forgets the previous article.
  void Restart();

  // The text of the next piece: a view of the extractor's own room, valid until the next call.
  std::string_view Extract(std::string_view piece);

  // The article has ended: the text of what was held back (a "&" or "<" that turned out to
  // be text, a reference without its ";").
  std::string_view Finish();

  // For reading on from the middle of an article (app/match/html_resume.h), where the reader
  // may stand right after a ">": in text, after a blank or not, or inside a value in quotes
  // of a tag that breaks no lines, after a blank or not.
  void ResumeInText(bool after_blank);
  void ResumeInQuotedValue(char quote, bool after_blank);
  // Whether this reader and `other` are both in text, with nothing held back and the same
  // blank or none before: whatever follows, they read it alike.
  bool ReadsOnAlike(const HtmlText& other) const {
    return state_ == State::kText && other.state_ == State::kText &&
           after_blank_ == other.after_blank_;
  }

 private:
  enum class State : uint8_t {
    kText,
    kAfterC2,     // the first byte of what may be a no-break space
    kMarkup,      // read by markup_
    kAmpersand,   // "&"
    kNumberSign,  // "&#"
    kHexStart,    // "&#x"
    kDecimal,     // "&#" and digits
    kHex,         // "&#x" and hex digits
    kNamed,       // "&" and the letters and digits of name_
  };

  // The most text a piece can give beyond twice its size: what was held back from the pieces
  // before it ("&" and a reference's name that turns out to be none).
  static constexpr std::size_t kMostHeldBack = kLongestReferenceName + 8;

  // Each of these reads from `piece` at `at` and gives where it stopped.
  std::size_t Text(std::string_view piece, std::size_t at);
  std::size_t Markup(std::string_view piece, std::size_t at);
  std::size_t Reference(std::string_view piece, std::size_t at);

  // Empties the text and makes room for `bytes` more than what was held back (references
  // give at most a byte more than they take, so twice a piece's size is room enough).
  void MakeRoom(std::size_t bytes);
  void EmitBlank();
  void EmitText(std::string_view text);
  void EmitCharacter(char32_t code_point);
  void EmitNumber();
  // Decodes the name read so far, or as much of it as names a reference that needs no ";".
  // Gives true when the ";" that follows (`semicolon_follows`) belongs to the reference.
  bool EmitName(bool semicolon_follows);

  State state_ = State::kText;
  bool after_blank_ = false;  // the text so far ends in a blank

  HtmlMarkup markup_;

  char name_[kLongestReferenceName + 1];  // room for the ";"
  std::size_t name_length_ = 0;
  char hex_marker_ = 'x';
  uint32_t number_ = 0;

  // The text of the piece: its first written_ bytes. The buffer only grows, so that the
  // text can be written without a check of its size at every byte; it is not cleared first.
  std::unique_ptr<char[]> out_;
  std::size_t room_ = 0;  // the buffer's size
  std::size_t written_ = 0;
};

// `text` with every run of white space (blank, tab, CR, LF, form feed, U+00A0 in UTF-8) turned
// into one blank: the phrase of a search in the text of articles.
std::string CollapseWhiteSpace(std::string_view text);

}  // namespace kb
