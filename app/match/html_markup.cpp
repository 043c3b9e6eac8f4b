#include "app/match/html_markup.h"

#include <algorithm>

namespace kb {
namespace {

using html_markup_detail::EndsTagName;
using html_markup_detail::IsAsciiLetter;
using html_markup_detail::ToLowerAscii;

// Each bit of `bits` made the parity of itself and the bits below it: a 1 from a set bit up to
// the next, and a 0 from there, as quotes open and close.
uint64_t PrefixParity(uint64_t bits) {
  bits ^= bits << 1;
  bits ^= bits << 2;
  bits ^= bits << 4;
  bits ^= bits << 8;
  bits ^= bits << 16;
  bits ^= bits << 32;
  return bits;
}

// One bit for each of the 64 bytes at `in` that is `byte`.
struct BlockBits {
  uint64_t quotes = 0;
  uint64_t equals = 0;
  uint64_t closes = 0;
};
BlockBits BitsOfBlock(const unsigned char* in) {
  BlockBits bits;
  for (int sixteen = 0; sixteen < 4; ++sixteen) {
    const Bytes16 bytes = Load16(in + 16 * sixteen);
    const int shift = 16 * sixteen;
    bits.quotes |= uint64_t{ByteBits(Bytes16(bytes == '"'))} << shift;
    bits.equals |= uint64_t{ByteBits(Bytes16(bytes == '='))} << shift;
    bits.closes |= uint64_t{ByteBits(Bytes16(bytes == '>'))} << shift;
  }
  return bits;
}

}  // namespace

// The attributes are read 64 bytes at a time, as bits: among them only '"', '=' and '>'
// change the reading. Taking every '"' as a quote that opens or closes a value, the values
// are where the parity of the quotes so far is odd. That holds when each quote that opens a
// value follows an "=" outside the values and each such "=" is followed by one, which is then
// checked up to the first ">" outside the values: the tag's end.
std::size_t HtmlMarkup::PastQuotedAttributes(const unsigned char* in, std::size_t at,
                                             std::size_t end) {
  constexpr std::size_t kBlock = 64;
  uint64_t inside_before = 0;  // all ones when the block begins inside a value
  uint64_t equals_before = 0;  // 1 when the block before ended with an "=" outside values
  for (; at + kBlock <= end; at += kBlock) {
    const BlockBits bits = BitsOfBlock(in + at);
    const uint64_t inside = PrefixParity(bits.quotes) ^ inside_before;  // opening quotes too
    const uint64_t outside_equals = bits.equals & ~inside;
    const uint64_t wrong = (bits.quotes & inside) ^ (outside_equals << 1 | equals_before);
    const uint64_t outside_closes = bits.closes & ~inside;
    if (outside_closes != 0) {
      const int close = std::countr_zero(outside_closes);
      const uint64_t before_close = (uint64_t{1} << close) - 1;
      return (wrong & before_close) == 0 ? at + static_cast<std::size_t>(close) + 1 : 0;
    }
    if (wrong != 0) return 0;
    inside_before = inside >> 63 != 0 ? ~uint64_t{0} : 0;
    equals_before = outside_equals >> 63;
  }
  return 0;
}

std::string_view HtmlMarkup::Finish() {
  const State state = state_;
  state_ = State::kTagOpen;
  if (state == State::kTagOpen) return "<";
  if (state == State::kEndTagOpen) return "</";
  return {};
}

std::size_t HtmlMarkup::Declaration(std::string_view piece, std::size_t at, Stop& stop) {
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
        stop = Stop::kText;
        return at;
      }
      return at + 1;
    case State::kEndTagOpen:
      if (IsAsciiLetter(byte)) {
        StartTag(byte, true);
        return at + 1;
      }
      if (byte == '>') {  // "</>" is nothing at all
        stop = Stop::kEnded;
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
      stop = Stop::kEnded;
      return end + 1;
    }
  }
}

std::size_t HtmlMarkup::Comment(std::string_view piece, std::size_t at, Stop& stop) {
  const char byte = piece[at];
  switch (state_) {
    case State::kCommentStart:
    case State::kCommentStartDash:
      // "<!-->" and "<!--->" are whole comments.
      if (byte == '>') {
        stop = Stop::kEnded;
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
        stop = Stop::kEnded;
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
          stop = Stop::kEnded;
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

std::size_t HtmlMarkup::RawText(std::string_view piece, std::size_t at) {
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
      if (EndsTagName(byte)) {
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

}  // namespace kb
