#include "app/match/html_markup.h"

#include <algorithm>

namespace kb {
namespace {

using html_markup_detail::EndsTagName;
using html_markup_detail::IsAsciiLetter;
using html_markup_detail::ToLowerAscii;

}  // namespace

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
