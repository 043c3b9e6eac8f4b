#include "app/match/passage_link.h"

#include <string.h>  // memrchr

#include <algorithm>
#include <limits>
#include <string>
#include <utility>

#include "support/text/ascii.h"
#include "support/text/utf8.h"

namespace kb {
namespace {

// The longest tag whose attributes are read for an id.
constexpr std::size_t kLongestTag = 4096;
// How far into an article its title element may open.
constexpr std::size_t kTitleReach = 64 * 1024;
// The longest piece of an article that TextOrigins tries at once when it looks for a byte.
constexpr std::size_t kLongestTrial = 256;

bool IsHtmlSpaceByte(char byte) {
  return byte == ' ' || byte == '\t' || byte == '\n' || byte == '\r' || byte == '\f';
}

// A byte that a word goes on through: an ASCII letter, digit or "_", or a byte of a character
// beyond ASCII (most of which are letters: a word is rather widened too far than cut).
bool IsWordByte(char byte) {
  return IsAsciiAlphanumeric(byte) || byte == '_' || static_cast<unsigned char>(byte) >= 0x80;
}

// Whether the "&" at `at` starts a character reference (a letter or "#" follows it).
bool StartsReference(std::string_view article, std::size_t at) {
  return at + 1 < article.size() && (IsAsciiLetter(article[at + 1]) || article[at + 1] == '#');
}

// Where markup or a reference may begin, or end, so that a run of text is taken no further.
bool EndsRun(char byte) {
  return byte == '<' || byte == '>' || byte == '&' || byte == ';';
}

// Whether the tag that ends with the ">" at `at`, or starts with the "<" at `at`, has no
// letter or digit right outside it, so that no word goes on through it.
bool TagEndsWord(std::string_view article, std::size_t at) {
  if (article[at] == '>') {
    const std::size_t open = article.rfind('<', at);
    return open == std::string_view::npos || open == 0 || !IsWordByte(article[open - 1]);
  }
  const std::size_t close = article.find('>', at);
  return close == std::string_view::npos || close + 1 == article.size() ||
         !IsWordByte(article[close + 1]);
}

// `bytes` with every run of white space as one blank and none at either end; empty when that
// is not UTF-8, which a link cannot carry.
std::string Words(std::string_view bytes) {
  std::string words;
  bool blank = false;
  for (const char byte : bytes) {
    if (IsHtmlSpaceByte(byte)) {
      blank = !words.empty();
      continue;
    }
    if (std::exchange(blank, false)) words += ' ';
    words += byte;
  }
  return IsUtf8(words) ? words : std::string();
}

// The value of the id attribute of the tag at the start of `tag` ("<" and a letter); none when
// it has none, or one that a link cannot name (empty, with a reference or white space).
std::optional<std::string_view> IdOfTag(std::string_view tag) {
  tag = tag.substr(0, kLongestTag);
  std::size_t at = 1;
  while (at < tag.size() && !IsHtmlSpaceByte(tag[at]) && tag[at] != '/' && tag[at] != '>') ++at;
  while (true) {
    while (at < tag.size() && (IsHtmlSpaceByte(tag[at]) || tag[at] == '/')) ++at;
    if (at >= tag.size() || tag[at] == '>') return std::nullopt;
    const std::size_t name_start = at;
    while (at < tag.size() && !IsHtmlSpaceByte(tag[at]) && tag[at] != '=' && tag[at] != '>' &&
           tag[at] != '/') {
      ++at;
    }
    const std::string_view name = tag.substr(name_start, at - name_start);
    while (at < tag.size() && IsHtmlSpaceByte(tag[at])) ++at;
    std::string_view value;
    if (at < tag.size() && tag[at] == '=') {
      ++at;
      while (at < tag.size() && IsHtmlSpaceByte(tag[at])) ++at;
      if (at >= tag.size()) return std::nullopt;
      if (tag[at] == '"' || tag[at] == '\'') {
        const std::size_t close = tag.find(tag[at], at + 1);
        if (close == std::string_view::npos) return std::nullopt;
        value = tag.substr(at + 1, close - at - 1);
        at = close + 1;
      } else {
        const std::size_t value_start = at;
        while (at < tag.size() && !IsHtmlSpaceByte(tag[at]) && tag[at] != '>') ++at;
        value = tag.substr(value_start, at - value_start);
      }
    }
    if (name.size() == 2 && ToLowerAscii(name[0]) == 'i' && ToLowerAscii(name[1]) == 'd') {
      const bool nameable = !value.empty() && IsUtf8(value) &&
                            value.find_first_of("& \t\r\n\f") == std::string_view::npos;
      return nameable ? std::optional(value) : std::nullopt;
    }
  }
}

// The id of the nearest element that starts before `start` and has one, within kIdLookBack.
std::string IdBefore(std::string_view article, std::size_t start) {
  const std::size_t limit = start > kIdLookBack ? start - kIdLookBack : 0;
  for (std::size_t at = start; at > limit;) {
    // memrchr, not a loop of one byte at a time: the tag with an id may lie far back.
    const void* found = memrchr(article.data() + limit, '<', at - limit);
    if (found == nullptr) break;
    const std::size_t open =
        static_cast<std::size_t>(static_cast<const char*>(found) - article.data());
    at = open;
    if (open + 1 < article.size() && IsAsciiLetter(article[open + 1])) {
      if (const std::optional<std::string_view> id = IdOfTag(article.substr(open))) {
        return std::string(*id);
      }
    }
  }
  return "";
}

// Where `sought` (lower case) first lies in `text`, in any case; npos when nowhere.
std::size_t FindInAnyCase(std::string_view text, std::string_view sought) {
  const auto found = std::search(text.begin(), text.end(), sought.begin(), sought.end(),
                                 [](char a, char b) { return ToLowerAscii(a) == b; });
  return found == text.end() ? std::string_view::npos
                             : static_cast<std::size_t>(found - text.begin());
}

// Whether `start` lies inside the article's title element (one that opens within its first
// kTitleReach bytes), whose text a browser shows in no page.
bool InsideTitle(std::string_view article, std::size_t start) {
  const std::size_t open = FindInAnyCase(article.substr(0, std::min(start, kTitleReach)), "<title");
  if (open == std::string_view::npos) return false;
  return FindInAnyCase(article.substr(open, start - open), "</title") == std::string_view::npos;
}

// Where the hit that starts at `start` and reads `hit` ends in the article's bytes: none when
// those bytes are not the text as it stands (a run of white space in either is one blank).
std::optional<std::size_t> HitEnd(std::string_view article, std::size_t start,
                                  std::string_view hit) {
  std::size_t at = start;
  for (std::size_t in_hit = 0; in_hit < hit.size(); ++in_hit) {
    const char byte = hit[in_hit];
    if (IsHtmlSpaceByte(byte)) {
      if (at >= article.size() || !IsHtmlSpaceByte(article[at])) return std::nullopt;
      while (at < article.size() && IsHtmlSpaceByte(article[at])) ++at;
      while (in_hit + 1 < hit.size() && IsHtmlSpaceByte(hit[in_hit + 1])) ++in_hit;
      continue;
    }
    if (at >= article.size() || article[at] != byte || byte == '<' || byte == '>' ||
        (byte == '&' && StartsReference(article, at))) {
      return std::nullopt;
    }
    ++at;
  }
  return at;
}

// Fills the text fragment of `link` for the article's bytes [start, end), the hit; leaves it
// empty when markup or a reference may join letters to its first or last word.
void AddTextFragment(std::string_view article, std::size_t start, std::size_t end,
                     PassageLink& link) {
  std::size_t from = start;
  while (from > 0 && IsWordByte(article[from - 1])) --from;
  if (from > 0 && (article[from - 1] == ';' || article[from - 1] == '>')) {
    if (article[from - 1] == ';') return;  // a reference may end the word's start
    const std::size_t open = article.rfind('<', from - 1);
    if (open != std::string_view::npos && open > 0 && IsWordByte(article[open - 1])) return;
  }
  std::size_t to = end;
  while (to < article.size() && IsWordByte(article[to])) ++to;
  if (to < article.size() && article[to] == '&' && StartsReference(article, to)) return;
  if (to < article.size() && article[to] == '<') {
    const std::size_t close = article.find('>', to);
    if (close != std::string_view::npos && close + 1 < article.size() &&
        IsWordByte(article[close + 1])) {
      return;
    }
  }
  link.text = Words(article.substr(from, to - from));
  if (link.text.empty()) return;

  // The words before: from the same run of text, beginning after white space (a word cut off
  // at the run's start or by the length may go on before it).
  std::size_t before = from;
  const std::size_t before_limit = from > kPassageContext ? from - kPassageContext : 0;
  while (before > before_limit && !EndsRun(article[before - 1])) --before;
  if (before > 0 && !(article[before - 1] == '>' && TagEndsWord(article, before - 1))) {
    while (before < from && !IsHtmlSpaceByte(article[before])) ++before;
  }
  link.prefix = Words(article.substr(before, from - before));

  // The words after: likewise, ending before white space.
  std::size_t after = to;
  const std::size_t after_limit = std::min(article.size(), to + kPassageContext);
  while (after < after_limit && !EndsRun(article[after])) ++after;
  if (after < article.size() && !(article[after] == '<' && TagEndsWord(article, after))) {
    while (after > to && !IsHtmlSpaceByte(article[after - 1])) --after;
  }
  link.suffix = Words(article.substr(to, after - to));
}

}  // namespace

PassageLink LinkToPassage(std::string_view article, std::size_t start,
                          std::optional<std::string_view> hit) {
  PassageLink link;
  if (start > article.size()) return link;
  link.id = IdBefore(article, start);
  if (!hit || hit->empty() || InsideTitle(article, start)) return link;
  if (const std::optional<std::size_t> end = HitEnd(article, start, *hit)) {
    AddTextFragment(article, start, *end, link);
  }
  return link;
}

TextOrigins::TextOrigins(std::string_view article) : article_(article) {
  kept_.push_back({});
}

void TextOrigins::AppendText(std::size_t until, std::string& text) {
  until = std::min(until, article_.size());
  while (kept_.back().fed < until) {
    const std::size_t fed = kept_.back().fed;
    const std::size_t piece = std::min(kOriginStep, until - fed);
    const std::string_view out = reader_.Extract(article_.substr(fed, piece));
    text.append(out);
    kept_.push_back({fed + piece, kept_.back().made + out.size(), reader_});
  }
  if (until == article_.size()) text.append(reader_.Finish());
}

void TextOrigins::ResumeAt(std::size_t fed, const HtmlText& reader, std::size_t made) {
  reader_ = reader;
  kept_.push_back({fed, made, reader});
}

std::optional<std::size_t> TextOrigins::ByteOf(std::size_t offset) {
  // The last place kept that has made no more than `offset`: the byte sought lies past it.
  const auto after =
      std::upper_bound(kept_.begin(), kept_.end(), offset,
                       [](std::size_t at, const Place& place) { return at < place.made; });
  const Place& kept = *(after - 1);
  if (sought_.made > offset || sought_.fed <= kept.fed) sought_ = kept;
  // Pieces of growing size while they stop short of the place. Once one passes it, the byte
  // that gives it lies within that piece, and halves of what is left of it are tried, from
  // where the reader stood, down to that byte. Within a step the pieces grow to kLongestTrial
  // at most: the byte lies near, and all of the piece that passes it is read once more.
  const std::size_t longest =
      after == kept_.end() ? std::numeric_limits<std::size_t>::max() : kLongestTrial;
  std::size_t piece = std::clamp<std::size_t>((offset - sought_.made) / 2, 1, longest);
  std::optional<std::size_t> within;  // the bytes that the byte sought lies within, once known
  while (sought_.fed < article_.size()) {
    piece = std::min(piece, article_.size() - sought_.fed);
    trial_ = sought_.reader;
    const std::string_view out = trial_.Extract(article_.substr(sought_.fed, piece));
    if (sought_.made + out.size() <= offset) {
      sought_.reader = trial_;
      sought_.fed += piece;
      sought_.made += out.size();
      if (within) {
        *within -= piece;
        piece = std::max<std::size_t>(1, *within / 2);
      } else {
        piece = std::min(2 * piece, longest);
      }
      continue;
    }
    if (piece > 1) {
      within = piece;
      piece /= 2;
      continue;
    }
    // The bytes that came out, when they are the last bytes read as they stand.
    const std::size_t fed = sought_.fed + 1;
    const std::size_t out_start = sought_.made;
    const bool as_they_stand =
        out.size() <= fed && article_.substr(fed - out.size(), out.size()) == out;
    sought_.reader = trial_;
    sought_.fed = fed;
    sought_.made += out.size();
    if (!as_they_stand) return std::nullopt;
    return fed - out.size() + (offset - out_start);
  }
  return std::nullopt;
}

}  // namespace kb
