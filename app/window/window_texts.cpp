#include "app/window/window_texts.h"

#include <utf8proc.h>

#include "support/text/text.h"
#include "support/text/utf8.h"

namespace kb {
namespace {

constexpr std::string_view kEllipsis = "…";

// The end of `path` that holds at most `limit` characters, from a "/" on when one is there.
std::string_view TailOf(std::string_view path, std::size_t limit) {
  std::size_t start = path.size();
  std::size_t characters = 0;
  // Steps back over whole characters: a byte that continues a UTF-8 sequence is not counted.
  while (start > 0) {
    const std::size_t before = start - 1;
    const bool continues = (static_cast<unsigned char>(path[before]) & 0xC0) == 0x80;
    if (!continues) {
      if (characters == limit) break;
      ++characters;
    }
    start = before;
  }
  // The start may be in the middle of a sequence only when the path is no UTF-8 there.
  const std::string_view tail = path.substr(start);
  const std::size_t slash = tail.find('/');
  return slash == std::string_view::npos ? tail : tail.substr(slash);
}

}  // namespace

std::string WindowTitle(std::string_view fixed_title, std::string_view folder,
                        std::string_view home) {
  while (home.size() > 1 && home.ends_with('/')) home.remove_suffix(1);
  std::string path(folder);
  if (home.size() > 1 && folder.starts_with(home) &&
      (folder.size() == home.size() || folder[home.size()] == '/')) {
    path = Concat({"~", folder.substr(home.size())});
  }
  if (CountCharacters(path) > kTitlePathLength) {
    path = Concat({kEllipsis, TailOf(path, kTitlePathLength - 1)});
  }
  return Concat({fixed_title, " - ", path});
}

std::string EntryPhraseAfterSearch(std::string_view typed, std::string_view compared,
                                   const MatchSettings& settings) {
  if (!settings.folds_unicode()) return std::string(compared);
  std::string shown;
  shown.reserve(typed.size());
  while (!typed.empty()) {
    const Utf8Sequence sequence = DecodeUtf8(typed);
    if (sequence.length <= 0) {
      shown += typed.front();
      typed.remove_prefix(1);
      continue;
    }
    const auto length = static_cast<std::size_t>(sequence.length);
    const auto upper =
        static_cast<char32_t>(utf8proc_toupper(static_cast<utf8proc_int32_t>(sequence.code_point)));
    char encoded[kLongestUtf8Sequence];
    const std::size_t upper_length = EncodeUtf8(upper, encoded);
    if (upper_length <= length) {
      shown.append(encoded, upper_length);
    } else {
      shown.append(typed.substr(0, length));
    }
    typed.remove_prefix(length);
  }
  return shown;
}

}  // namespace kb
