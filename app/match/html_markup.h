#pragma once

// The markup of an HTML article, read as browsers read it: where tags, comments, declarations
// and the contents of scripts and styles begin and end. Whatever else is text. Matching the
// text of articles (HtmlText) and showing an excerpt as text (ExcerptText) both read markup
// through HtmlMarkup, so they agree on what is markup:
//
//  - "<" followed by an ASCII letter starts a tag, "</" and a letter an end tag. Its name runs
//    up to white space, "/" or ">"; it ends at the first ">" that is not inside an attribute
//    value in quotes (name="a>b" or name='a>b').
//  - "<!--" starts a comment; "<!-->" and "<!--->" are whole ones; it ends at "-->" or "--!>".
//  - "<!", "<?" and "</" followed by anything but a letter or ">" start a declaration, up to
//    the next ">"; "</>" is markup of its own.
//  - After a start tag named script or style, everything up to "</script" (or "</style"), in
//    any case and followed by white space, "/" or ">", is markup too, and that end tag with it.
//  - Any other "<" is text; so are "<" and "</" when the text ends right after them.
//  - Markup that the text ends inside runs to the end.
//
// Reading goes piece by piece: the outcome does not depend on how the text is cut into
// pieces, and what is held from one piece to the next is a state and a tag's name.

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "app/match/byte_vectors.h"
#include "support/text/ascii.h"

namespace kb {

// What a tag does in a browser besides being left out.
enum class HtmlTagKind : uint8_t {
  kOrdinary,
  kLineBreaking,  // breaks a line or a block (start or end tag): br, p, div, li, td, title...
  kRawText,       // script and style: their contents, up to their end tag, are not markup
};

namespace html_markup_detail {

using ::kb::IsAsciiAlphanumeric;
using ::kb::IsAsciiLetter;
using ::kb::ToLowerAscii;
inline bool IsWhiteSpace(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\f' || byte == '\r';
}

// Where the first "=" or ">" lies in `piece` from `at` on, or its size: among a tag's
// attributes nothing else changes the reading, and the bytes between are passed over 16 at
// a time.
inline std::size_t NextEqualsOrClose(std::string_view piece, std::size_t at) {
  const auto* const in = reinterpret_cast<const unsigned char*>(piece.data());
  for (; at + sizeof(Bytes16) <= piece.size(); at += sizeof(Bytes16)) {
    const Bytes16 bytes = Load16(in + at);
    const uint32_t bits = ByteBits(Bytes16(bytes == '=') | Bytes16(bytes == '>'));
    if (bits != 0) return at + static_cast<std::size_t>(std::countr_zero(bits));
  }
  while (at < piece.size() && piece[at] != '=' && piece[at] != '>') ++at;
  return at;
}

// Where the first `byte` lies in `piece` from `at` on, or its size: for the short values of
// attributes, where a call to memchr costs more than the search.
inline std::size_t NextByte(std::string_view piece, std::size_t at, char byte) {
  const auto* const in = reinterpret_cast<const unsigned char*>(piece.data());
  for (; at + sizeof(Bytes16) <= piece.size(); at += sizeof(Bytes16)) {
    const uint32_t bits = ByteBits(Bytes16(Load16(in + at) == static_cast<unsigned char>(byte)));
    if (bits != 0) return at + static_cast<std::size_t>(std::countr_zero(bits));
  }
  while (at < piece.size() && piece[at] != byte) ++at;
  return at;
}

// White space, "/" and ">" end a tag's name.
inline bool EndsTagName(char byte) {
  return IsWhiteSpace(byte) || byte == '/' || byte == '>';
}

// A tag's name of at most 7 bytes as one number: its length, then its bytes.
inline constexpr std::size_t kLongestShortName = 7;
constexpr uint64_t ShortNameKey(std::size_t length, uint64_t letters) {
  return uint64_t{length} << (8 * length) | letters;
}
constexpr uint64_t ShortNameKey(std::string_view name) {
  uint64_t letters = 0;
  for (const char letter : name) letters = letters << 8 | static_cast<unsigned char>(letter);
  return ShortNameKey(name.size(), letters);
}

struct KnownTag {
  std::string_view name;
  HtmlTagKind kind;
};

inline constexpr KnownTag kLongLineBreakingTag = {"blockquote", HtmlTagKind::kLineBreaking};
inline constexpr KnownTag kShortKnownTags[] = {
    {"article", HtmlTagKind::kLineBreaking}, {"br", HtmlTagKind::kLineBreaking},
    {"dd", HtmlTagKind::kLineBreaking},      {"div", HtmlTagKind::kLineBreaking},
    {"dl", HtmlTagKind::kLineBreaking},      {"dt", HtmlTagKind::kLineBreaking},
    {"footer", HtmlTagKind::kLineBreaking},  {"h1", HtmlTagKind::kLineBreaking},
    {"h2", HtmlTagKind::kLineBreaking},      {"h3", HtmlTagKind::kLineBreaking},
    {"h4", HtmlTagKind::kLineBreaking},      {"h5", HtmlTagKind::kLineBreaking},
    {"h6", HtmlTagKind::kLineBreaking},      {"header", HtmlTagKind::kLineBreaking},
    {"hr", HtmlTagKind::kLineBreaking},      {"li", HtmlTagKind::kLineBreaking},
    {"ol", HtmlTagKind::kLineBreaking},      {"p", HtmlTagKind::kLineBreaking},
    {"pre", HtmlTagKind::kLineBreaking},     {"section", HtmlTagKind::kLineBreaking},
    {"table", HtmlTagKind::kLineBreaking},   {"td", HtmlTagKind::kLineBreaking},
    {"th", HtmlTagKind::kLineBreaking},      {"title", HtmlTagKind::kLineBreaking},
    {"tr", HtmlTagKind::kLineBreaking},      {"ul", HtmlTagKind::kLineBreaking},
    {"script", HtmlTagKind::kRawText},       {"style", HtmlTagKind::kRawText},
};

// The short known tags by the key of their names, in a table where (key * multiplier) >> 57
// picks each one's slot: a tag ends every few dozen bytes of an article, and its kind then
// takes a multiplication and a comparison, without a branch that could be mispredicted.
struct KnownTagTable {
  static constexpr int kSlotBits = 7;
  uint64_t multiplier = 0;
  std::array<uint64_t, 1 << kSlotBits> keys{};
  std::array<HtmlTagKind, 1 << kSlotBits> kinds{};

  static constexpr std::size_t Slot(uint64_t key, uint64_t multiplier) {
    return static_cast<std::size_t>(key * multiplier >> (64 - kSlotBits));
  }
  constexpr HtmlTagKind KindOf(uint64_t key) const {
    const std::size_t slot = Slot(key, multiplier);
    return keys[slot] == key ? kinds[slot] : HtmlTagKind::kOrdinary;
  }
};

// Tries multipliers until one gives every short known tag a slot of its own.
constexpr KnownTagTable MakeKnownTagTable() {
  uint64_t candidate = 0x9E3779B97F4A7C15;
  while (true) {
    candidate = candidate * 6364136223846793005 + 1442695040888963407;
    KnownTagTable table;
    table.multiplier = candidate | 1;
    bool collided = false;
    for (const KnownTag& tag : kShortKnownTags) {
      const uint64_t key = ShortNameKey(tag.name);
      const std::size_t slot = KnownTagTable::Slot(key, table.multiplier);
      collided = collided || table.keys[slot] != 0;
      table.keys[slot] = key;
      table.kinds[slot] = tag.kind;
    }
    if (!collided) return table;
  }
}
inline constexpr KnownTagTable kKnownTags = MakeKnownTagTable();

}  // namespace html_markup_detail

class HtmlMarkup {
 public:
  using TagKind = HtmlTagKind;

  // Why Read stopped.
  enum class Stop : uint8_t {
    kInside,    // the piece ended inside the markup
    kEnded,     // the markup ended: text goes on where Read stopped
    kTagEnded,  // the same, and the markup was a tag, of EndedTagKind()
    kText,      // the "<" of Open was text: text goes on with the byte where Read stopped
  };

  // A "<" of the text has just been read: what follows tells whether it starts markup.
  void Open() { state_ = State::kTagOpen; }

  // The reader stands inside a value in quotes (`quote`) of a start tag that breaks no lines:
  // for reading on from the middle of an article.
  void ResumeInQuotedValue(char quote) {
    StartTag('a', false);
    quote_ = quote;
    state_ = State::kQuotedValue;
  }

  // A tag's name has just begun, with the ASCII letter `first_letter` (after "<" or "</"):
  // the way in for a reader that recognises "<" and a letter itself.
  void StartTag(char first_letter, bool end_tag);

  // Reads markup from `piece` at `at`, after Open, StartTag or a Read that stopped with
  // kInside, and gives where it stopped; `stop` says why.
  std::size_t Read(std::string_view piece, std::size_t at, Stop& stop);

  // The kind of the tag that the last Read that gave kTagEnded ended.
  TagKind EndedTagKind() const { return ended_kind_; }
  // That tag's name in lower case, when it has at most kLongestTagName bytes (else empty),
  // and whether it was an end tag.
  std::string_view EndedTagName() const {
    return tag_name_length_ <= kLongestTagName ? std::string_view(tag_name_, tag_name_length_)
                                               : std::string_view();
  }
  bool EndedEndTag() const { return end_tag_; }
  // The longest tag name that EndedTagName gives.
  static constexpr std::size_t kLongestTagName = 32;

  // The text ended inside markup: what of it is text after all ("<" or "</"; else empty).
  // Afterwards the reader is back in text.
  std::string_view Finish();

  // A simple tag at `at`: "<name>" or "</name>" with a name of at most 7 ASCII letters and
  // digits, the first a letter, that starts no raw text, or the same name followed by white
  // space or "/" and then attributes that each give their value in double quotes right after
  // their "=" (name="value", or no value at all), as most tags of an article are written.
  // Gives its length (and its kind), or 0 for anything else, which Open and Read then read:
  // the outcome is the same. Inlined, for the vector loops of HtmlText, whose vector
  // registers a call would not keep; only attributes take one.
  [[gnu::always_inline]] static inline std::size_t SimpleTagAt(const unsigned char* in,
                                                               std::size_t at, std::size_t end,
                                                               TagKind& kind);

 private:
  // Where the attributes of a simple tag (see SimpleTagAt) that go on from `at` end: just
  // past the tag's ">", or 0 when they are not all written name="value", or when the tag
  // runs past the last whole block of 64 bytes before `end`, the bytes they are read in.
  static std::size_t PastQuotedAttributes(const unsigned char* in, std::size_t at, std::size_t end);

  enum class State : uint8_t {
    kTagOpen,            // "<"
    kEndTagOpen,         // "</"
    kMarkupDeclaration,  // "<!"
    kCommentOpenDash,    // "<!-"
    kCommentStart,       // "<!--"
    kCommentStartDash,   // "<!---"
    kComment,            // dashes_ counts the "-" just read
    kCommentEndBang,     // "--!" in a comment
    kBogusComment,       // "<?", "<!DOCTYPE", "</3": up to the next ">"
    kTagName,
    kAttributes,
    kBeforeValue,  // after an attribute's "="
    kQuotedValue,  // up to quote_
    kUnquotedValue,
    kRawText,  // a script's or a style's contents, up to its end tag
  };

  std::size_t Declaration(std::string_view piece, std::size_t at, Stop& stop);
  std::size_t Comment(std::string_view piece, std::size_t at, Stop& stop);
  std::size_t Tag(std::string_view piece, std::size_t at, Stop& stop);
  std::size_t RawText(std::string_view piece, std::size_t at);
  void AddToTagName(char byte);
  // The tag has ended at its ">": gives how reading goes on.
  Stop EndTag();

  State state_ = State::kTagOpen;
  TagKind ended_kind_ = TagKind::kOrdinary;
  char tag_name_[kLongestTagName];
  std::size_t tag_name_length_ = 0;  // kLongestTagName + 1 for any longer name
  uint64_t tag_letters_ = 0;         // a short name's bytes, one a byte
  bool end_tag_ = false;
  char quote_ = '"';
  uint8_t dashes_ = 0;
  // A script's or style's end tag: how much of "</" and its name has been read.
  std::size_t raw_end_matched_ = 0;
};

// Reading tags is inlined into the text loop of HtmlText: a call for each tag cost it a third
// of its time on documentation, whose tags mostly have attributes.

inline void HtmlMarkup::StartTag(char first_letter, bool end_tag) {
  using namespace html_markup_detail;
  tag_name_[0] = ToLowerAscii(first_letter);
  tag_name_length_ = 1;
  tag_letters_ = static_cast<unsigned char>(tag_name_[0]);
  end_tag_ = end_tag;
  state_ = State::kTagName;
}

inline std::size_t HtmlMarkup::Read(std::string_view piece, std::size_t at, Stop& stop) {
  stop = Stop::kInside;
  while (at < piece.size() && stop == Stop::kInside) {
    switch (state_) {
      case State::kTagOpen:
      case State::kEndTagOpen:
      case State::kMarkupDeclaration:
      case State::kCommentOpenDash:
      case State::kBogusComment:
        at = Declaration(piece, at, stop);
        break;
      case State::kCommentStart:
      case State::kCommentStartDash:
      case State::kComment:
      case State::kCommentEndBang:
        at = Comment(piece, at, stop);
        break;
      case State::kTagName:
      case State::kAttributes:
      case State::kBeforeValue:
      case State::kQuotedValue:
      case State::kUnquotedValue:
        at = Tag(piece, at, stop);
        break;
      case State::kRawText:
        at = RawText(piece, at);
        break;
    }
  }
  return at;
}

inline std::size_t HtmlMarkup::Tag(std::string_view piece, std::size_t at, Stop& stop) {
  using namespace html_markup_detail;
  for (; at < piece.size(); ++at) {
    if (state_ == State::kAttributes) {
      at = NextEqualsOrClose(piece, at);
      if (at == piece.size()) return at;
    }
    const char byte = piece[at];
    if (byte == '>' && state_ != State::kQuotedValue) {
      stop = EndTag();
      return at + 1;
    }
    switch (state_) {
      case State::kTagName:
        if (EndsTagName(byte)) {
          state_ = State::kAttributes;
        } else {
          AddToTagName(byte);
        }
        break;
      case State::kAttributes:
        if (byte == '=') state_ = State::kBeforeValue;
        break;
      case State::kBeforeValue:
        if (byte == '"' || byte == '\'') {
          quote_ = byte;
          state_ = State::kQuotedValue;
        } else if (!IsWhiteSpace(byte)) {
          state_ = State::kUnquotedValue;
        }
        break;
      case State::kQuotedValue:
        at = NextByte(piece, at, quote_);
        if (at == piece.size()) return at;
        state_ = State::kAttributes;
        break;
      default:
        if (IsWhiteSpace(byte)) state_ = State::kAttributes;
        break;
    }
  }
  return at;
}

inline void HtmlMarkup::AddToTagName(char byte) {
  using namespace html_markup_detail;
  if (tag_name_length_ < kLongestTagName) {
    tag_name_[tag_name_length_++] = ToLowerAscii(byte);
    tag_letters_ = tag_letters_ << 8 | static_cast<unsigned char>(ToLowerAscii(byte));
  } else {
    tag_name_length_ = kLongestTagName + 1;
  }
}

inline HtmlMarkup::Stop HtmlMarkup::EndTag() {
  using namespace html_markup_detail;
  TagKind kind = TagKind::kOrdinary;
  if (tag_name_length_ <= kLongestShortName) {
    kind = kKnownTags.KindOf(ShortNameKey(tag_name_length_, tag_letters_));
  } else if (tag_name_length_ <= kLongestTagName &&
             std::string_view(tag_name_, tag_name_length_) == kLongLineBreakingTag.name) {
    kind = kLongLineBreakingTag.kind;
  }
  raw_end_matched_ = 0;
  if (!end_tag_ && kind == TagKind::kRawText) {
    state_ = State::kRawText;
    return Stop::kInside;
  }
  ended_kind_ = kind;
  return Stop::kTagEnded;
}

inline std::size_t HtmlMarkup::SimpleTagAt(const unsigned char* in, std::size_t at, std::size_t end,
                                           TagKind& kind) {
  using namespace html_markup_detail;
  const bool end_tag = at + 1 < end && in[at + 1] == '/';
  const std::size_t name = at + (end_tag ? 2 : 1);
  if (name >= end || !IsAsciiLetter(static_cast<char>(in[name]))) return 0;
  uint64_t letters = 0;
  std::size_t next = name;
  for (; next < end && next - name <= kLongestShortName &&
         IsAsciiAlphanumeric(static_cast<char>(in[next]));
       ++next) {
    letters = letters << 8 | static_cast<unsigned char>(ToLowerAscii(static_cast<char>(in[next])));
  }
  const std::size_t length = next - name;
  if (next == end || length > kLongestShortName || !EndsTagName(static_cast<char>(in[next]))) {
    return 0;
  }
  kind = kKnownTags.KindOf(ShortNameKey(length, letters));
  if (kind == TagKind::kRawText && !end_tag) return 0;
  if (in[next] == '>') return next + 1 - at;
  const std::size_t past = PastQuotedAttributes(in, next, end);
  return past == 0 ? 0 : past - at;
}

}  // namespace kb
