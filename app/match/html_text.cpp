#include "app/match/html_text.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

#include "app/match/byte_vectors.h"
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

// A tag's name of at most 7 letters as one number: its length, then its letters.
constexpr std::size_t kLongestShortName = 7;
constexpr uint64_t ShortNameKey(std::size_t length, uint64_t letters) {
  return uint64_t{length} << (8 * length) | letters;
}
constexpr uint64_t ShortNameKey(std::string_view name) {
  uint64_t letters = 0;
  for (const char letter : name) letters = letters << 8 | static_cast<unsigned char>(letter);
  return ShortNameKey(name.size(), letters);
}

// What a tag does to the text beyond counting as nothing.
enum class TagKind : uint8_t {
  kOrdinary,
  kLineBreaking,  // breaks a line or a block in a browser (start or end tag): white space
  kRawText,       // its contents, up to its end tag, are not markup
};

struct KnownTag {
  std::string_view name;
  TagKind kind;
};

constexpr KnownTag kLongLineBreakingTag = {"blockquote", TagKind::kLineBreaking};
constexpr KnownTag kShortKnownTags[] = {
    {"article", TagKind::kLineBreaking}, {"br", TagKind::kLineBreaking},
    {"dd", TagKind::kLineBreaking},      {"div", TagKind::kLineBreaking},
    {"dl", TagKind::kLineBreaking},      {"dt", TagKind::kLineBreaking},
    {"footer", TagKind::kLineBreaking},  {"h1", TagKind::kLineBreaking},
    {"h2", TagKind::kLineBreaking},      {"h3", TagKind::kLineBreaking},
    {"h4", TagKind::kLineBreaking},      {"h5", TagKind::kLineBreaking},
    {"h6", TagKind::kLineBreaking},      {"header", TagKind::kLineBreaking},
    {"hr", TagKind::kLineBreaking},      {"li", TagKind::kLineBreaking},
    {"ol", TagKind::kLineBreaking},      {"p", TagKind::kLineBreaking},
    {"pre", TagKind::kLineBreaking},     {"section", TagKind::kLineBreaking},
    {"table", TagKind::kLineBreaking},   {"td", TagKind::kLineBreaking},
    {"th", TagKind::kLineBreaking},      {"title", TagKind::kLineBreaking},
    {"tr", TagKind::kLineBreaking},      {"ul", TagKind::kLineBreaking},
    {"script", TagKind::kRawText},       {"style", TagKind::kRawText},
};

// The short known tags by the key of their names, in a table where (key * multiplier) >> 57
// picks each one's slot: a tag ends every few dozen bytes of an article, and its kind then
// takes a multiplication and a comparison, without a branch that could be mispredicted.
struct KnownTagTable {
  static constexpr int kSlotBits = 7;
  uint64_t multiplier = 0;
  std::array<uint64_t, 1 << kSlotBits> keys{};
  std::array<TagKind, 1 << kSlotBits> kinds{};

  static constexpr std::size_t Slot(uint64_t key, uint64_t multiplier) {
    return static_cast<std::size_t>(key * multiplier >> (64 - kSlotBits));
  }
  TagKind KindOf(uint64_t key) const {
    const std::size_t slot = Slot(key, multiplier);
    return keys[slot] == key ? kinds[slot] : TagKind::kOrdinary;
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
constexpr KnownTagTable kKnownTags = MakeKnownTagTable();

bool IsWhiteSpace(char32_t character) {
  return character == ' ' || character == '\t' || character == '\n' || character == '\f' ||
         character == '\r';
}

// White space, "/" and ">" end a tag's name.
bool EndsTagName(char byte) {
  return IsWhiteSpace(static_cast<unsigned char>(byte)) || byte == '/' || byte == '>';
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

// Passes over the tag at `at` when it is a plain one, "<name>" or "</name>" with a name of at
// most 7 letters and digits, whose contents are not raw text: such tags make up most of the
// markup of an article, and are read here without leaving the run of text. Gives false,
// changing nothing, for any other tag (or anything else at `at`), which the states then read.
// Inlined into the vector loops, whose vector registers a call would not keep.
[[gnu::always_inline]] inline bool PassPlainTag(const unsigned char* in, std::size_t& at,
                                                std::size_t end, char* out, std::size_t& to,
                                                bool& blank) {
  const bool end_tag = at + 1 < end && in[at + 1] == '/';
  const std::size_t name = at + (end_tag ? 2 : 1);
  if (name >= end || !IsAsciiLetter(static_cast<char>(in[name]))) return false;
  uint64_t letters = 0;
  std::size_t next = name;
  for (; next < end && next - name <= kLongestShortName &&
         IsAsciiAlphanumeric(static_cast<char>(in[next]));
       ++next) {
    letters = letters << 8 | static_cast<unsigned char>(ToLowerAscii(static_cast<char>(in[next])));
  }
  const std::size_t length = next - name;
  if (next == end || in[next] != '>' || length > kLongestShortName) return false;
  const TagKind kind = kKnownTags.KindOf(ShortNameKey(length, letters));
  if (kind == TagKind::kRawText && !end_tag) return false;
  AddTagBlank(kind, out, to, blank);
  at = next + 1;
  return true;
}

#if KBSEARCH_AVX2
// The 32-byte steps of CopyText with AVX2, nearly twice as fast: it stops at a "<", "&" or
// 0xC2 byte that is not a plain tag, or where fewer than 32 bytes are left. The vector work
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
      if (in[at] == '<' && PassPlainTag(in, at, end, out, to, blank)) continue;
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
// and each run of it as one, and passes over plain tags, up to other markup, a reference or
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
        if (in[at] == '<' && PassPlainTag(in, at, piece.size(), out, to, blank)) continue;
        break;
      }
      ++at;  // white space after white space
      continue;
    }
    // The last few bytes, one at a time.
    const auto byte = in[at];
    if (byte == '<' || byte == '&' || byte == kNoBreakSpaceLead) break;
    if (IsWhiteSpace(byte)) {
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

std::string_view HtmlText::Extract(std::string_view piece) {
  MakeRoom(2 * piece.size());
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
  return {out_.data(), written_};
}

std::string_view HtmlText::Finish() {
  MakeRoom(0);
  switch (state_) {
    case State::kAfterC2:
      EmitText("\xC2");
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
  return {out_.data(), written_};
}

void HtmlText::MakeRoom(std::size_t bytes) {
  written_ = 0;
  const std::size_t room = bytes + kMostHeldBack + kVectorSlack;
  if (out_.size() < room) out_.resize(room);
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
  while ((at = CopyText(piece, at, out_.data(), written_, after_blank_)) < piece.size()) {
    // CopyText stops at "&", "<" and 0xC2 only.
    const char byte = piece[at++];
    if (byte != '<') {
      state_ = byte == '&' ? State::kAmpersand : State::kAfterC2;
      break;
    }
    state_ = State::kTagOpen;
    // Most tags are read here at once, and the text goes on after them.
    const bool end_tag = at < piece.size() && piece[at] == '/';
    const std::size_t name = end_tag ? at + 1 : at;
    if (name == piece.size() || !IsAsciiLetter(piece[name])) break;
    StartTag(piece[name], end_tag);
    at = Tag(piece, name + 1);
    if (state_ != State::kText) break;
  }
  return at;
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
  for (; at < piece.size(); ++at) {
    const char byte = piece[at];
    if (byte == '>' && state_ != State::kQuotedValue) {
      EndTag();
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
        } else if (!IsWhiteSpace(static_cast<unsigned char>(byte))) {
          state_ = State::kUnquotedValue;
        }
        break;
      case State::kQuotedValue:
        at = piece.find(quote_, at);
        if (at == std::string_view::npos) return piece.size();
        state_ = State::kAttributes;
        break;
      default:
        if (IsWhiteSpace(static_cast<unsigned char>(byte))) state_ = State::kAttributes;
        break;
    }
  }
  return at;
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
  tag_letters_ = static_cast<unsigned char>(tag_name_[0]);
  end_tag_ = end_tag;
  state_ = State::kTagName;
}

void HtmlText::AddToTagName(char byte) {
  if (tag_name_length_ < kLongestTagName) {
    tag_name_[tag_name_length_++] = ToLowerAscii(byte);
    tag_letters_ = tag_letters_ << 8 | static_cast<unsigned char>(ToLowerAscii(byte));
  } else {
    tag_name_length_ = kLongestTagName + 1;
  }
}

void HtmlText::EndTag() {
  TagKind kind = TagKind::kOrdinary;
  if (tag_name_length_ <= kLongestShortName) {
    kind = kKnownTags.KindOf(ShortNameKey(tag_name_length_, tag_letters_));
  } else if (tag_name_length_ <= kLongestTagName &&
             std::string_view(tag_name_, tag_name_length_) == kLongLineBreakingTag.name) {
    kind = kLongLineBreakingTag.kind;
  }
  AddTagBlank(kind, out_.data(), written_, after_blank_);
  state_ = !end_tag_ && kind == TagKind::kRawText ? State::kRawText : State::kText;
  raw_end_matched_ = 0;
}

void HtmlText::EmitBlank() {
  if (!after_blank_) out_[written_++] = ' ';
  after_blank_ = true;
}

void HtmlText::EmitText(std::string_view text) {
  if (text.empty()) return;
  text.copy(out_.data() + written_, text.size());
  written_ += text.size();
  after_blank_ = false;
}

void HtmlText::EmitCharacter(char32_t code_point) {
  if (IsWhiteSpace(code_point) || code_point == kNoBreakSpace) {
    EmitBlank();
  } else {
    written_ += EncodeUtf8(code_point, out_.data() + written_);
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
