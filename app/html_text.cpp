#include "app/html_text.h"

#include <algorithm>
#include <array>

#include "support/text/utf8.h"

namespace kb {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;
constexpr char32_t kNoBreakSpace = 0xA0;
constexpr unsigned char kNoBreakSpaceLead = 0xC2;  // U+00A0 in UTF-8 is C2 A0
constexpr unsigned char kNoBreakSpaceTrail = 0xA0;
// Above any code point: where a long number in a reference stops growing.
constexpr uint64_t kBeyondUnicode = 0x110000;

// The tags that break a line or a block in a browser.
constexpr std::string_view kLineBreakingTags[] = {
    "article", "blockquote", "br",      "dd",    "div", "dl",     "dt",    "footer", "h1",
    "h2",      "h3",         "h4",      "h5",    "h6",  "header", "hr",    "li",     "ol",
    "p",       "pre",        "section", "table", "td",  "th",     "title", "tr",     "ul"};

// What browsers make of the numbers 128 to 159 in a reference: the characters those bytes
// stand for in Windows-1252; 0 where the number stays as it is.
constexpr char32_t kWindows1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

bool IsWhiteSpace(char32_t character) {
  return character == ' ' || character == '\t' || character == '\n' || character == '\f' ||
         character == '\r';
}

bool IsAsciiLetter(char byte) {
  return (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z');
}

bool IsDigit(char byte) {
  return byte >= '0' && byte <= '9';
}

bool IsAsciiAlphanumeric(char byte) {
  return IsAsciiLetter(byte) || IsDigit(byte);
}

// The value of a hex digit, or -1.
int HexValue(char byte) {
  if (IsDigit(byte)) return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

char ToLowerAscii(char byte) {
  return byte >= 'A' && byte <= 'Z' ? static_cast<char>(byte - 'A' + 'a') : byte;
}

// The bytes that never go out as they stand: markup, references, what may be a no-break
// space, white space and the other control bytes.
constexpr std::array<bool, 256> kStopsPlainText = [] {
  std::array<bool, 256> stops{};
  for (int byte = 0; byte < 0x20; ++byte) stops[byte] = true;
  stops['<'] = stops['&'] = stops[kNoBreakSpaceLead] = true;
  return stops;
}();

// How many bytes from `at` on go out as they stand: up to a byte that stops plain text, or a
// blank that would follow a blank.
std::size_t PlainRunLength(std::string_view piece, std::size_t at, bool after_blank) {
  const auto* const bytes = reinterpret_cast<const unsigned char*>(piece.data());
  bool previous_blank = after_blank;
  std::size_t end = at;
  for (; end < piece.size(); ++end) {
    const unsigned char byte = bytes[end];
    if (kStopsPlainText[byte] || (byte == ' ' && previous_blank)) break;
    previous_blank = byte == ' ';
  }
  return end - at;
}

}  // namespace

void HtmlText::Restart() {
  state_ = State::kText;
  after_blank_ = false;
}

std::string_view HtmlText::Extract(std::string_view piece) {
  out_.clear();
  std::size_t at = 0;
  while (at < piece.size()) {
    switch (state_) {
      case State::kText:
      case State::kAfterC2:
        at = Text(piece, at);
        break;
      case State::kTagOpen:
      case State::kEndTagOpen:
      case State::kMarkupDeclaration:
      case State::kCommentOpenDash:
      case State::kBogusComment:
        at = Markup(piece, at);
        break;
      case State::kCommentStart:
      case State::kCommentStartDash:
      case State::kComment:
      case State::kCommentEndBang:
        at = Comment(piece, at);
        break;
      case State::kTagName:
      case State::kAttributes:
      case State::kBeforeValue:
      case State::kQuotedValue:
      case State::kUnquotedValue:
        at = Tag(piece, at);
        break;
      case State::kRawText:
        at = RawText(piece, at);
        break;
      case State::kAmpersand:
      case State::kNumberSign:
      case State::kHexStart:
      case State::kDecimal:
      case State::kHex:
      case State::kNamed:
        at = Reference(piece, at);
        break;
    }
  }
  return out_;
}

std::string_view HtmlText::Finish() {
  out_.clear();
  switch (state_) {
    case State::kAfterC2:
      out_.push_back(static_cast<char>(kNoBreakSpaceLead));
      break;
    case State::kTagOpen:
      EmitText("<");
      break;
    case State::kEndTagOpen:
      EmitText("</");
      break;
    case State::kAmpersand:
      EmitText("&");
      break;
    case State::kNumberSign:
      EmitText("&#");
      break;
    case State::kHexStart:
      EmitText("&#");
      EmitText({&hex_marker_, 1});
      break;
    case State::kDecimal:
    case State::kHex:
      EmitNumber();
      break;
    case State::kNamed:
      EmitName(false);
      break;
    default:
      break;
  }
  state_ = State::kText;
  return out_;
}

std::size_t HtmlText::Text(std::string_view piece, std::size_t at) {
  if (state_ == State::kAfterC2) {
    state_ = State::kText;
    if (static_cast<unsigned char>(piece[at]) == kNoBreakSpaceTrail) {
      EmitBlank();
      return at + 1;
    }
    out_.push_back(static_cast<char>(kNoBreakSpaceLead));
    after_blank_ = false;
    return at;
  }
  if (const std::size_t run = PlainRunLength(piece, at, after_blank_); run > 0) {
    out_.append(piece.substr(at, run));
    at += run;
    after_blank_ = piece[at - 1] == ' ';
    if (at == piece.size()) return at;
  }
  const char byte = piece[at];
  if (byte == '<') {
    state_ = State::kTagOpen;
  } else if (byte == '&') {
    state_ = State::kAmpersand;
  } else if (static_cast<unsigned char>(byte) == kNoBreakSpaceLead) {
    state_ = State::kAfterC2;
  } else if (IsWhiteSpace(static_cast<unsigned char>(byte))) {
    EmitBlank();
  } else {
    EmitText(piece.substr(at, 1));
  }
  return at + 1;
}

std::size_t HtmlText::Markup(std::string_view piece, std::size_t at) {
  const char byte = piece[at];
  switch (state_) {
    case State::kTagOpen:
      if (byte == '!') {
        state_ = State::kMarkupDeclaration;
      } else if (byte == '/') {
        state_ = State::kEndTagOpen;
      } else if (byte == '?') {
        state_ = State::kBogusComment;
      } else if (IsAsciiLetter(byte)) {
        StartTag(byte, false);
      } else {
        EmitText("<");
        state_ = State::kText;
        return at;
      }
      return at + 1;
    case State::kEndTagOpen:
      if (IsAsciiLetter(byte)) {
        StartTag(byte, true);
        return at + 1;
      }
      if (byte == '>') {  // "</>" is nothing at all
        state_ = State::kText;
        return at + 1;
      }
      state_ = State::kBogusComment;
      return at;
    case State::kMarkupDeclaration:
    case State::kCommentOpenDash:
      if (byte == '-') {
        state_ =
            state_ == State::kMarkupDeclaration ? State::kCommentOpenDash : State::kCommentStart;
        return at + 1;
      }
      state_ = State::kBogusComment;
      return at;
    default: {
      const std::size_t end = piece.find('>', at);
      if (end == std::string_view::npos) return piece.size();
      state_ = State::kText;
      return end + 1;
    }
  }
}

std::size_t HtmlText::Comment(std::string_view piece, std::size_t at) {
  const char byte = piece[at];
  switch (state_) {
    case State::kCommentStart:
    case State::kCommentStartDash:
      // "<!-->" and "<!--->" are whole comments.
      if (byte == '>') {
        state_ = State::kText;
        return at + 1;
      }
      if (byte == '-') {
        if (state_ == State::kCommentStart) {
          state_ = State::kCommentStartDash;
        } else {
          state_ = State::kComment;
          dashes_ = 2;
        }
        return at + 1;
      }
      state_ = State::kComment;
      dashes_ = 0;
      return at;
    case State::kCommentEndBang:
      if (byte == '>') {
        state_ = State::kText;
        return at + 1;
      }
      state_ = State::kComment;
      dashes_ = byte == '-' ? 1 : 0;
      return byte == '-' ? at + 1 : at;
    default:
      // A comment ends at "-->" or "--!>".
      for (; at < piece.size(); ++at) {
        if (dashes_ == 0) {
          at = piece.find('-', at);
          if (at == std::string_view::npos) return piece.size();
        }
        const char next = piece[at];
        if (next == '-') {
          dashes_ = std::min<uint8_t>(dashes_ + 1, 2);
        } else if (dashes_ == 2 && next == '>') {
          state_ = State::kText;
          return at + 1;
        } else if (dashes_ == 2 && next == '!') {
          state_ = State::kCommentEndBang;
          return at + 1;
        } else {
          dashes_ = 0;
        }
      }
      return at;
  }
}

std::size_t HtmlText::Tag(std::string_view piece, std::size_t at) {
  switch (state_) {
    case State::kTagName:
      for (; at < piece.size(); ++at) {
        const char byte = piece[at];
        if (byte == '>') {
          EndTag();
          return at + 1;
        }
        if (IsWhiteSpace(static_cast<unsigned char>(byte)) || byte == '/') {
          state_ = State::kAttributes;
          return at + 1;
        }
        if (tag_name_length_ < kLongestTagName) {
          tag_name_[tag_name_length_++] = ToLowerAscii(byte);
        } else {
          tag_name_length_ = kLongestTagName + 1;
        }
      }
      return at;
    case State::kAttributes:
      for (; at < piece.size(); ++at) {
        if (piece[at] == '>') {
          EndTag();
          return at + 1;
        }
        if (piece[at] == '=') {
          state_ = State::kBeforeValue;
          return at + 1;
        }
      }
      return at;
    case State::kBeforeValue: {
      const char byte = piece[at];
      if (IsWhiteSpace(static_cast<unsigned char>(byte))) return at + 1;
      if (byte == '"' || byte == '\'') {
        quote_ = byte;
        state_ = State::kQuotedValue;
        return at + 1;
      }
      if (byte == '>') {
        EndTag();
        return at + 1;
      }
      state_ = State::kUnquotedValue;
      return at;
    }
    case State::kQuotedValue: {
      const std::size_t end = piece.find(quote_, at);
      if (end == std::string_view::npos) return piece.size();
      state_ = State::kAttributes;
      return end + 1;
    }
    default:
      for (; at < piece.size(); ++at) {
        if (piece[at] == '>') {
          EndTag();
          return at + 1;
        }
        if (IsWhiteSpace(static_cast<unsigned char>(piece[at]))) {
          state_ = State::kAttributes;
          return at + 1;
        }
      }
      return at;
  }
}

std::size_t HtmlText::RawText(std::string_view piece, std::size_t at) {
  // The contents end at "</" and the element's name, in any case, followed by white space,
  // "/" or ">".
  const std::size_t end_tag_length = 2 + tag_name_length_;
  while (at < piece.size()) {
    if (raw_end_matched_ == 0) {
      const std::size_t open = piece.find('<', at);
      if (open == std::string_view::npos) return piece.size();
      raw_end_matched_ = 1;
      at = open + 1;
      continue;
    }
    const char byte = piece[at];
    if (raw_end_matched_ == end_tag_length) {
      if (IsWhiteSpace(static_cast<unsigned char>(byte)) || byte == '/' || byte == '>') {
        end_tag_ = true;
        state_ = State::kAttributes;
        return at;
      }
      raw_end_matched_ = 0;
      continue;
    }
    const char wanted = raw_end_matched_ == 1 ? '/' : tag_name_[raw_end_matched_ - 2];
    if (ToLowerAscii(byte) != wanted) {
      raw_end_matched_ = 0;
      continue;
    }
    ++raw_end_matched_;
    ++at;
  }
  return at;
}

std::size_t HtmlText::Reference(std::string_view piece, std::size_t at) {
  const char byte = piece[at];
  switch (state_) {
    case State::kAmpersand:
      if (byte == '#') {
        state_ = State::kNumberSign;
        return at + 1;
      }
      state_ = State::kText;
      if (IsAsciiAlphanumeric(byte)) {
        name_[0] = byte;
        name_length_ = 1;
        state_ = State::kNamed;
        return at + 1;
      }
      EmitText("&");
      return at;
    case State::kNumberSign:
      if (byte == 'x' || byte == 'X') {
        hex_marker_ = byte;
        state_ = State::kHexStart;
        return at + 1;
      }
      if (IsDigit(byte)) {
        number_ = static_cast<uint32_t>(byte - '0');
        state_ = State::kDecimal;
        return at + 1;
      }
      EmitText("&#");
      state_ = State::kText;
      return at;
    case State::kHexStart:
      if (const int digit = HexValue(byte); digit >= 0) {
        number_ = static_cast<uint32_t>(digit);
        state_ = State::kHex;
        return at + 1;
      }
      EmitText("&#");
      EmitText({&hex_marker_, 1});
      state_ = State::kText;
      return at;
    case State::kDecimal:
    case State::kHex: {
      const bool hex = state_ == State::kHex;
      const int digit = hex ? HexValue(byte) : IsDigit(byte) ? byte - '0' : -1;
      if (digit >= 0) {
        number_ = static_cast<uint32_t>(
            std::min<uint64_t>(uint64_t{number_} * (hex ? 16 : 10) + digit, kBeyondUnicode));
        return at + 1;
      }
      EmitNumber();
      state_ = State::kText;
      return byte == ';' ? at + 1 : at;
    }
    default:
      if (IsAsciiAlphanumeric(byte) && name_length_ < kLongestReferenceName) {
        name_[name_length_++] = byte;
        return at + 1;
      }
      state_ = State::kText;
      return EmitName(byte == ';') ? at + 1 : at;
  }
}

void HtmlText::StartTag(char first_letter, bool end_tag) {
  tag_name_[0] = ToLowerAscii(first_letter);
  tag_name_length_ = 1;
  end_tag_ = end_tag;
  state_ = State::kTagName;
}

void HtmlText::EndTag() {
  const std::string_view name =
      tag_name_length_ <= kLongestTagName ? std::string_view(tag_name_, tag_name_length_) : "";
  if (std::find(std::begin(kLineBreakingTags), std::end(kLineBreakingTags), name) !=
      std::end(kLineBreakingTags)) {
    EmitBlank();
  }
  const bool raw_text = !end_tag_ && (name == "script" || name == "style");
  state_ = raw_text ? State::kRawText : State::kText;
  raw_end_matched_ = 0;
}

void HtmlText::EmitBlank() {
  if (!after_blank_) out_.push_back(' ');
  after_blank_ = true;
}

void HtmlText::EmitText(std::string_view text) {
  if (text.empty()) return;
  out_.append(text);
  after_blank_ = false;
}

void HtmlText::EmitCharacter(char32_t code_point) {
  if (IsWhiteSpace(code_point) || code_point == kNoBreakSpace) {
    EmitBlank();
  } else {
    AppendUtf8(code_point, out_);
    after_blank_ = false;
  }
}

void HtmlText::EmitNumber() {
  char32_t code_point = number_;
  if (code_point == 0 || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    code_point = kReplacementCharacter;
  } else if (code_point >= 0x80 && code_point <= 0x9F && kWindows1252[code_point - 0x80] != 0) {
    code_point = kWindows1252[code_point - 0x80];
  }
  EmitCharacter(code_point);
}

bool HtmlText::EmitName(bool semicolon_follows) {
  const auto emit_decoded = [this](std::string_view text) {
    while (!text.empty()) {
      const Utf8Sequence character = DecodeUtf8(text);
      EmitCharacter(character.code_point);
      text.remove_prefix(static_cast<std::size_t>(character.length));
    }
  };
  if (semicolon_follows) {
    name_[name_length_] = ';';
    if (const std::string_view text = NamedReferenceText({name_, name_length_ + 1});
        !text.empty()) {
      emit_decoded(text);
      return true;
    }
  }
  for (std::size_t length = std::min(name_length_, kLongestNameWithoutSemicolon); length > 0;
       --length) {
    if (const std::string_view text = NamedReferenceText({name_, length}); !text.empty()) {
      emit_decoded(text);
      EmitText({name_ + length, name_length_ - length});
      return false;
    }
  }
  EmitText("&");
  EmitText({name_, name_length_});
  return false;
}

std::string CollapseWhiteSpace(std::string_view text) {
  std::string collapsed;
  bool after_blank = false;
  for (std::size_t at = 0; at < text.size(); ++at) {
    const auto byte = static_cast<unsigned char>(text[at]);
    const bool no_break_space = byte == kNoBreakSpaceLead && at + 1 < text.size() &&
                                static_cast<unsigned char>(text[at + 1]) == kNoBreakSpaceTrail;
    if (IsWhiteSpace(byte) || no_break_space) {
      if (!after_blank) collapsed.push_back(' ');
      after_blank = true;
      if (no_break_space) ++at;
    } else {
      collapsed.push_back(static_cast<char>(byte));
      after_blank = false;
    }
  }
  return collapsed;
}

}  // namespace kb
