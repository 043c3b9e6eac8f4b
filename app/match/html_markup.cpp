#include "app/match/html_markup.h"

#include <algorithm>

namespace kb {
namespace {

using html_markup_detail::IsAsciiLetter;
using html_markup_detail::ToLowerAscii;

bool IsWhiteSpace(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\f' || byte == '\r';
}

// White space, "/" and ">" end a tag's name.
bool EndsTagName(char byte) {
  return IsWhiteSpace(byte) || byte == '/' || byte == '>';
}

}  // namespace

void HtmlMarkup::StartTag(char first_letter, bool end_tag) {
  tag_name_[0] = ToLowerAscii(first_letter);
  tag_name_length_ = 1;
  tag_letters_ = static_cast<unsigned char>(tag_name_[0]);
  end_tag_ = end_tag;
  state_ = State::kTagName;
}

std::size_t HtmlMarkup::Read(std::string_view piece, std::size_t at, Stop& stop) {
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

std::size_t HtmlMarkup::Tag(std::string_view piece, std::size_t at, Stop& stop) {
  for (; at < piece.size(); ++at) {
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
        at = piece.find(quote_, at);
        if (at == std::string_view::npos) return piece.size();
        state_ = State::kAttributes;
        break;
      default:
        if (IsWhiteSpace(byte)) state_ = State::kAttributes;
        break;
    }
  }
  return at;
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

void HtmlMarkup::AddToTagName(char byte) {
  if (tag_name_length_ < kLongestTagName) {
    tag_name_[tag_name_length_++] = ToLowerAscii(byte);
    tag_letters_ = tag_letters_ << 8 | static_cast<unsigned char>(ToLowerAscii(byte));
  } else {
    tag_name_length_ = kLongestTagName + 1;
  }
}

HtmlMarkup::Stop HtmlMarkup::EndTag() {
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

}  // namespace kb
