#include "app/match/html_text.h"

#include <algorithm>
#include <bit>
#include <cstring>

#include "app/match/byte_vectors.h"
#include "support/text/ascii.h"
#include "support/text/utf8.h"

#if KBSEARCH_AVX2
#include <immintrin.h>
#endif

namespace kb {
namespace {

constexpr char32_t kReplacementCharacter = 0xFFFD;
// The room past its end that the text needs: vectors of text are stored whole.
constexpr std::size_t kVectorSlack = 32;
constexpr char32_t kNoBreakSpace = 0xA0;
constexpr unsigned char kNoBreakSpaceLead = 0xC2;  // U+00A0 in UTF-8 is C2 A0
constexpr unsigned char kNoBreakSpaceTrail = 0xA0;
// Above any code point: where a long number in a reference stops growing.
constexpr uint64_t kBeyondUnicode = 0x110000;

// What browsers make of the numbers 128 to 159 in a reference: the characters those bytes
// stand for in Windows-1252; 0 where the number stays as it is.
constexpr char32_t kWindows1252[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

using TagKind = HtmlTagKind;
using html_markup_detail::IsAsciiAlphanumeric;
using html_markup_detail::IsAsciiLetter;

bool IsHtmlSpace(char32_t character) {
  return character == ' ' || character == '\t' || character == '\n' || character == '\f' ||
         character == '\r';
}

// The value of a hex digit, or -1.
int HexValue(char byte) {
  if (IsAsciiDigit(byte)) return byte - '0';
  if (byte >= 'a' && byte <= 'f') return byte - 'a' + 10;
  if (byte >= 'A' && byte <= 'F') return byte - 'A' + 10;
  return -1;
}

// 0xFF for each of the 16 bytes that is white space.
Bytes16 WhiteSpaceIn(Bytes16 bytes) {
  return Bytes16(bytes == ' ') | Bytes16(bytes == '\t') | Bytes16(bytes == '\n') |
         Bytes16(bytes == '\f') | Bytes16(bytes == '\r');
}

// Adds a blank to the text `out` (`to` bytes long) for a tag of `kind` that breaks a line,
// unless the text ends in one (`blank`). Without branches: the kinds of tags follow no
// pattern.
void AddTagBlank(TagKind kind, char* out, std::size_t& to, bool& blank) {
  const bool line_breaking = kind == TagKind::kLineBreaking;
  out[to] = ' ';
  to += line_breaking && !blank ? 1 : 0;
  blank = blank || line_breaking;
}

// Passes over the tag at `at` when it is a simple one (HtmlMarkup::SimpleTagAt): such tags make
// up most of the markup of an article, and are read here without leaving the run of text.
// Gives false, changing nothing, for any other tag (or anything else at `at`), which the
// markup reader then reads. Inlined into the vector loops, whose vector registers a call
// would not keep.
[[gnu::always_inline]] inline bool PassSimpleTag(const unsigned char* in, std::size_t& at,
                                                 std::size_t end, char* out, std::size_t& to,
                                                 bool& blank) {
  TagKind kind;
  const std::size_t length = HtmlMarkup::SimpleTagAt(in, at, end, kind);
  if (length == 0) return false;
  AddTagBlank(kind, out, to, blank);
  at += length;
  return true;
}

#if KBSEARCH_AVX2
// The 32-byte steps of CopyText with AVX2, nearly twice as fast: it stops at a "<", "&" or
// 0xC2 byte that is not a simple tag, or where fewer than 32 bytes are left. The vector work
// is written out here: helpers that take vectors would be compiled without AVX2.
[[gnu::target("avx2")]] std::size_t CopyTextAvx2(const unsigned char* in, std::size_t at,
                                                 std::size_t end, char* out, std::size_t& written,
                                                 bool& after_blank) {
  using Bytes32 = unsigned char __attribute__((vector_size(32)));
  std::size_t to = written;
  bool blank = after_blank;
  while (at + sizeof(Bytes32) <= end) {
    Bytes32 bytes;
    std::memcpy(&bytes, in + at, sizeof bytes);
    const Bytes32 white = Bytes32(bytes == ' ') | Bytes32(bytes == '\t') | Bytes32(bytes == '\n') |
                          Bytes32(bytes == '\f') | Bytes32(bytes == '\r');
    const Bytes32 text = (bytes & ~white) | (white & ' ');
    std::memcpy(out + to, &text, sizeof text);
    const Bytes32 special =
        Bytes32(bytes == '<') | Bytes32(bytes == '&') | Bytes32(bytes == kNoBreakSpaceLead);
    __m256i white_mask, special_mask;
    std::memcpy(&white_mask, &white, sizeof white_mask);
    std::memcpy(&special_mask, &special, sizeof special_mask);
    const auto white_bits = static_cast<uint32_t>(_mm256_movemask_epi8(white_mask));
    const auto special_bits = static_cast<uint32_t>(_mm256_movemask_epi8(special_mask));
    const uint32_t stop_bits =
        special_bits | (white_bits & (white_bits << 1 | static_cast<uint32_t>(blank)));
    const int taken = stop_bits == 0 ? 32 : std::countr_zero(stop_bits);
    if (taken > 0) {
      to += static_cast<std::size_t>(taken);
      at += static_cast<std::size_t>(taken);
      blank = (white_bits >> (taken - 1) & 1) != 0;
    }
    if (taken == 32) continue;
    if ((special_bits >> taken & 1) != 0) {
      if (in[at] == '<' && PassSimpleTag(in, at, end, out, to, blank)) continue;
      break;
    }
    ++at;  // white space after white space
  }
  written = to;
  after_blank = blank;
  return at;
}
#endif

// Copies the text of `piece` from `at` on to `out` from `written` on, white space as blanks
// and each run of it as one, and passes over simple tags, up to other markup, a reference or
// what may be a no-break space (a "<", "&" or 0xC2 byte), or the piece's end; gives where it
// stopped. `written` and `after_blank` (whether the text so far ends in a blank) are kept up
// to date. `out` has room for kVectorSlack bytes more than it is given.
std::size_t CopyText(std::string_view piece, std::size_t at, char* out, std::size_t& written,
                     bool& after_blank) {
  const auto* const in = reinterpret_cast<const unsigned char*>(piece.data());
  // Kept in locals: stores through `out` could change any variable as far as the compiler
  // knows.
  std::size_t to = written;
  bool blank = after_blank;
#if KBSEARCH_AVX2
  static const bool has_avx2 = __builtin_cpu_supports("avx2");
  if (has_avx2) at = CopyTextAvx2(in, at, piece.size(), out, to, blank);
  const bool stopped = has_avx2 && at + 32 <= piece.size();
#else
  const bool stopped = false;
#endif
  while (!stopped && at < piece.size()) {
    // 16 bytes at a time. They are stored whole; what lies past a stop is overwritten later.
    if (at + sizeof(Bytes16) <= piece.size()) {
      const Bytes16 bytes = Load16(in + at);
      const Bytes16 white = WhiteSpaceIn(bytes);
      const Bytes16 text = (bytes & ~white) | (white & ' ');
      std::memcpy(out + to, &text, sizeof text);
      const uint32_t white_bits = ByteBits(white);
      const uint32_t special_bits = ByteBits(Bytes16(bytes == '<') | Bytes16(bytes == '&') |
                                             Bytes16(bytes == kNoBreakSpaceLead));
      const uint32_t repeated_white_bits =
          white_bits & (white_bits << 1 | static_cast<uint32_t>(blank));
      const uint32_t stop_bits = special_bits | repeated_white_bits;
      const int taken = stop_bits == 0 ? 16 : std::countr_zero(stop_bits);
      if (taken > 0) {
        to += static_cast<std::size_t>(taken);
        at += static_cast<std::size_t>(taken);
        blank = (white_bits >> (taken - 1) & 1) != 0;
      }
      if (taken == 16) continue;
      if ((special_bits >> taken & 1) != 0) {
        if (in[at] == '<' && PassSimpleTag(in, at, piece.size(), out, to, blank)) continue;
        break;
      }
      ++at;  // white space after white space
      continue;
    }
    // The last few bytes, one at a time.
    const auto byte = in[at];
    if (byte == '<' || byte == '&' || byte == kNoBreakSpaceLead) break;
    if (IsHtmlSpace(byte)) {
      if (!blank) out[to++] = ' ';
      blank = true;
    } else {
      out[to++] = static_cast<char>(byte);
      blank = false;
    }
    ++at;
  }
  written = to;
  after_blank = blank;
  return at;
}

}  // namespace

void HtmlText::Restart() {
  state_ = State::kText;
  after_blank_ = false;
}

void HtmlText::ResumeInText(bool after_blank) {
  state_ = State::kText;
  after_blank_ = after_blank;
}

void HtmlText::ResumeInQuotedValue(char quote, bool after_blank) {
  state_ = State::kMarkup;
  markup_.ResumeInQuotedValue(quote);
  after_blank_ = after_blank;
}

HtmlText::HtmlText(const HtmlText& other) {
  *this = other;
}

HtmlText& HtmlText::operator=(const HtmlText& other) {
  if (this == &other) return *this;
  state_ = other.state_;
  after_blank_ = other.after_blank_;
  markup_ = other.markup_;
  std::copy_n(other.name_, other.name_length_, name_);
  name_length_ = other.name_length_;
  hex_marker_ = other.hex_marker_;
  number_ = other.number_;
  return *this;
}

std::string_view HtmlText::Extract(std::string_view piece) {
  MakeRoom(2 * piece.size());
  std::size_t at = 0;
  while (at < piece.size()) {
    switch (state_) {
      case State::kText:
      case State::kAfterC2:
        at = Text(piece, at);
        break;
      case State::kMarkup:
        at = Markup(piece, at);
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
  return {out_.get(), written_};
}

std::string_view HtmlText::Finish() {
  MakeRoom(0);
  switch (state_) {
    case State::kAfterC2:
      EmitText("\xC2");
      break;
    case State::kMarkup:
      EmitText(markup_.Finish());
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
  return {out_.get(), written_};
}

void HtmlText::MakeRoom(std::size_t bytes) {
  written_ = 0;
  const std::size_t room = bytes + kMostHeldBack + kVectorSlack;
  if (room_ < room) {
    out_ = std::make_unique_for_overwrite<char[]>(room);
    room_ = room;
  }
}

std::size_t HtmlText::Text(std::string_view piece, std::size_t at) {
  if (state_ == State::kAfterC2) {
    state_ = State::kText;
    if (static_cast<unsigned char>(piece[at]) == kNoBreakSpaceTrail) {
      EmitBlank();
      return at + 1;
    }
    EmitText("\xC2");
    return at;
  }
  while ((at = CopyText(piece, at, out_.get(), written_, after_blank_)) < piece.size()) {
    // CopyText stops at "&", "<" and 0xC2 only.
    const char byte = piece[at++];
    if (byte != '<') {
      state_ = byte == '&' ? State::kAmpersand : State::kAfterC2;
      break;
    }
    state_ = State::kMarkup;
    // Most tags are read here at once, and the text goes on after them.
    const bool end_tag = at < piece.size() && piece[at] == '/';
    const std::size_t name = end_tag ? at + 1 : at;
    if (name == piece.size() || !IsAsciiLetter(piece[name])) {
      markup_.Open();
      break;
    }
    markup_.StartTag(piece[name], end_tag);
    at = Markup(piece, name + 1);
    if (state_ != State::kText) break;
  }
  return at;
}

std::size_t HtmlText::Markup(std::string_view piece, std::size_t at) {
  HtmlMarkup::Stop stop;
  at = markup_.Read(piece, at, stop);
  switch (stop) {
    case HtmlMarkup::Stop::kInside:
      return at;
    case HtmlMarkup::Stop::kText:
      EmitText("<");
      break;
    case HtmlMarkup::Stop::kTagEnded:
      AddTagBlank(markup_.EndedTagKind(), out_.get(), written_, after_blank_);
      break;
    case HtmlMarkup::Stop::kEnded:
      break;
  }
  state_ = State::kText;
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
      if (IsAsciiAlphanumeric(byte)) {
        name_[0] = byte;
        name_length_ = 1;
        state_ = State::kNamed;
        return at + 1;
      }
      EmitText("&");
      state_ = State::kText;
      return at;
    case State::kNumberSign:
      if (byte == 'x' || byte == 'X') {
        hex_marker_ = byte;
        state_ = State::kHexStart;
        return at + 1;
      }
      if (IsAsciiDigit(byte)) {
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
      const int digit = hex ? HexValue(byte) : IsAsciiDigit(byte) ? byte - '0' : -1;
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

void HtmlText::EmitBlank() {
  if (!after_blank_) out_[written_++] = ' ';
  after_blank_ = true;
}

void HtmlText::EmitText(std::string_view text) {
  if (text.empty()) return;
  text.copy(out_.get() + written_, text.size());
  written_ += text.size();
  after_blank_ = false;
}

void HtmlText::EmitCharacter(char32_t code_point) {
  if (IsHtmlSpace(code_point) || code_point == kNoBreakSpace) {
    EmitBlank();
  } else {
    written_ += EncodeUtf8(code_point, out_.get() + written_);
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
    if (IsHtmlSpace(byte) || no_break_space) {
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
