#include "app/page/excerpt_text.h"

#include "app/match/html_markup.h"
#include "support/text/ascii.h"
#include "support/text/text.h"
#include "support/text/utf8.h"

namespace kb {
namespace {

using html_markup_detail::IsAsciiAlphanumeric;
using html_markup_detail::IsAsciiLetter;

// `excerpt` without a UTF-8 character that the excerpt's length limit cut in two.
std::string_view WithoutCutCharacter(std::string_view excerpt) {
  if (excerpt.size() != kExcerptLength) return excerpt;
  for (std::size_t at = 0; at < excerpt.size();) {
    const Utf8Sequence sequence = DecodeUtf8(excerpt.substr(at));
    if (sequence.length < 0) return excerpt;
    if (sequence.length == 0) return excerpt.substr(0, at);
    at += static_cast<std::size_t>(sequence.length);
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
  if (end < text.size() && IsAsciiLetter(text[end])) {
    ++end;
    run(IsAsciiAlphanumeric, 31);
    well_formed = true;
  } else if (end < text.size() && text[end] == '#') {
    ++end;
    if (end < text.size() && (text[end] == 'x' || text[end] == 'X')) {
      ++end;
      well_formed = run(IsAsciiHexDigit, 6) > 0;
    } else {
      well_formed = run(IsAsciiDigit, 7) > 0;
    }
  }
  if (!well_formed || end >= text.size() || text[end] != ';') return 0;
  return end + 1 - at;
}

// Appends `text` to `shown` with "<", ">" and '"' as character references.
void AppendEscaped(std::string_view text, std::string& shown) {
  for (const char byte : text) {
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
  }
}

}  // namespace

std::string ExcerptText(std::string_view excerpt) {
  // Trailing blanks do not count in the excerpt's length, but they are read: after "</" they
  // tell that it is markup, as they do in the article.
  const std::string_view clipped = Clip(excerpt);
  const std::string_view kept = WithoutCutCharacter(clipped);
  const std::string_view text = kept.size() == clipped.size() ? excerpt : kept;
  std::string shown;
  shown.reserve(text.size());
  HtmlMarkup markup;
  for (std::size_t at = 0; at < text.size();) {
    const char byte = text[at];
    if (byte == '<') {
      markup.Open();
      HtmlMarkup::Stop stop;
      at = markup.Read(text, at + 1, stop);
      if (stop == HtmlMarkup::Stop::kText) {
        shown.append("&lt;");
      } else if (stop == HtmlMarkup::Stop::kInside) {
        AppendEscaped(markup.Finish(), shown);
      }
    } else if (byte == '&') {
      const std::size_t reference = CharacterReferenceAt(text, at);
      shown.append(reference > 0 ? text.substr(at, reference) : "&amp;");
      at += reference > 0 ? reference : 1;
    } else {
      AppendEscaped(text.substr(at, 1), shown);
      ++at;
    }
  }
  shown.resize(Clip(shown).size());
  return shown;
}

}  // namespace kb
