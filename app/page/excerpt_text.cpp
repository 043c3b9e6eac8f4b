#include "app/page/excerpt_text.h"

#include <cstdint>

#include "support/text/text.h"

namespace kb {
namespace {

bool IsLetter(char byte) {
  return (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z');
}
bool IsDigit(char byte) {
  return byte >= '0' && byte <= '9';
}
bool IsHexDigit(char byte) {
  return IsDigit(byte) || (byte >= 'A' && byte <= 'F') || (byte >= 'a' && byte <= 'f');
}

// How the UTF-8 sequence that starts at `at` ends: its length when it is whole and well
// formed, 0 when it is malformed, and kCut when it is well formed as far as `text` goes but
// `text` ends before it does.
constexpr std::size_t kCut = SIZE_MAX;

std::size_t Utf8SequenceAt(std::string_view text, std::size_t at) {
  const auto lead = static_cast<unsigned char>(text[at]);
  if (lead < 0x80) return 1;
  // The lead byte gives the length and the range of the second byte; every later byte is a
  // continuation byte, 0x80 to 0xBF (the table of well-formed sequences).
  std::size_t length = 0;
  unsigned char second_low = 0x80;
  unsigned char second_high = 0xBF;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    if (lead == 0xE0) second_low = 0xA0;
    if (lead == 0xED) second_high = 0x9F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    if (lead == 0xF0) second_low = 0x90;
    if (lead == 0xF4) second_high = 0x8F;
  } else {
    return 0;
  }
  for (std::size_t i = 1; i < length; ++i) {
    if (at + i == text.size()) return kCut;
    const auto byte = static_cast<unsigned char>(text[at + i]);
    const unsigned char low = i == 1 ? second_low : 0x80;
    const unsigned char high = i == 1 ? second_high : 0xBF;
    if (byte < low || byte > high) return 0;
  }
  return length;
}

// `excerpt` without a UTF-8 character that the excerpt's length limit cut in two.
std::string_view WithoutCutCharacter(std::string_view excerpt) {
  if (excerpt.size() != kExcerptLength) return excerpt;
  for (std::size_t at = 0; at < excerpt.size();) {
    const std::size_t length = Utf8SequenceAt(excerpt, at);
    if (length == 0) return excerpt;
    if (length == kCut) return excerpt.substr(0, at);
    at += length;
  }
  return excerpt;
}

// The length of the well-formed character reference that starts at `at` (an "&"), or 0.
std::size_t CharacterReferenceAt(std::string_view text, std::size_t at) {
  std::size_t end = at + 1;
  auto run = [&](auto is_member, std::size_t most) {
    const std::size_t start = end;
    while (end < text.size() && end - start < most && is_member(text[end])) ++end;
    return end - start;
  };
  bool well_formed = false;
  if (end < text.size() && IsLetter(text[end])) {
    ++end;
    run([](char byte) { return IsLetter(byte) || IsDigit(byte); }, 31);
    well_formed = true;
  } else if (end < text.size() && text[end] == '#') {
    ++end;
    if (end < text.size() && (text[end] == 'x' || text[end] == 'X')) {
      ++end;
      well_formed = run(IsHexDigit, 6) > 0;
    } else {
      well_formed = run(IsDigit, 7) > 0;
    }
  }
  if (!well_formed || end >= text.size() || text[end] != ';') return 0;
  return end + 1 - at;
}

// Where `sought` first occurs in `text` from `from` on, ASCII letters matched in any case;
// npos when it does not.
std::size_t FindIgnoringCase(std::string_view text, std::string_view sought, std::size_t from) {
  const CaseTable& upper = UpperCaseTable();
  for (std::size_t at = from; at + sought.size() <= text.size(); ++at) {
    std::size_t i = 0;
    while (i < sought.size() && upper[static_cast<unsigned char>(text[at + i])] ==
                                    upper[static_cast<unsigned char>(sought[i])]) {
      ++i;
    }
    if (i == sought.size()) return at;
  }
  return std::string_view::npos;
}

// The offset just past the first `>` from `from` on, or the end of `text`.
std::size_t PastClosingBracket(std::string_view text, std::size_t from) {
  const std::size_t bracket = text.find('>', from);
  return bracket == std::string_view::npos ? text.size() : bracket + 1;
}

// The offset just past the tag (and, for a script or style, its body and end tag) that
// starts at `at`.
std::size_t PastTag(std::string_view text, std::size_t at) {
  const std::size_t tag_end = PastClosingBracket(text, at + 1);
  std::size_t name_end = at + 1;
  while (name_end < text.size() && (IsLetter(text[name_end]) || IsDigit(text[name_end]))) {
    ++name_end;
  }
  const std::string name = Upper(text.substr(at + 1, name_end - at - 1));
  if (name != "SCRIPT" && name != "STYLE") return tag_end;
  const std::size_t end_tag =
      FindIgnoringCase(text, name == "SCRIPT" ? "</script" : "</style", tag_end);
  return end_tag == std::string_view::npos ? text.size() : PastClosingBracket(text, end_tag);
}

bool StartsTag(std::string_view text, std::size_t at) {
  if (at + 1 >= text.size()) return false;
  const char next = text[at + 1];
  return IsLetter(next) || next == '/' || next == '!' || next == '?';
}

}  // namespace

std::string ExcerptText(std::string_view excerpt) {
  const std::string_view text = WithoutCutCharacter(Clip(excerpt));
  std::string shown;
  shown.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const char byte = text[at];
    if (byte == '<' && text.substr(at).starts_with("<!--")) {
      const std::size_t close = text.find("-->", at + 4);
      at = close == std::string_view::npos ? text.size() : close + 3;
    } else if (byte == '<' && StartsTag(text, at)) {
      at = PastTag(text, at);
    } else if (byte == '&') {
      const std::size_t reference = CharacterReferenceAt(text, at);
      shown.append(reference > 0 ? text.substr(at, reference) : "&amp;");
      at += reference > 0 ? reference : 1;
    } else {
      switch (byte) {
        case '<':
          shown.append("&lt;");
          break;
        case '>':
          shown.append("&gt;");
          break;
        case '"':
          shown.append("&quot;");
          break;
        default:
          shown += byte;
          break;
      }
      ++at;
    }
  }
  shown.resize(Clip(shown).size());
  return shown;
}

}  // namespace kb
