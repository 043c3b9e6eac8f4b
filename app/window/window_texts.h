#pragma once

// Texts the window makes of others: its title, which names the knowledge base searched, and
// the phrase its entry shows after a search.

#include <string>
#include <string_view>

#include "app/match/match_settings.h"

namespace kb {

// The most characters of the knowledge base's path that the title shows.
inline constexpr std::size_t kTitlePathLength = 48;

// The window's title: `fixed_title`, " - " and the absolute path `folder`, written with "~"
// for the home folder `home` when it lies in it. A path longer than kTitlePathLength
// characters loses its start: "…" and its end from a "/" on, so that the last folders,
// which tell two knowledge bases apart, stay (or the end of the last name alone when that
// is longer still).
std::string WindowTitle(std::string_view fixed_title, std::string_view folder,
                        std::string_view home);

// What the entry shows after a search for `typed`, which the scan compared as `compared`:
// so that searching the text shown again finds the same articles. With the case table
// (CaseFolding::kAscii) that is `compared`, upper-cased through the table; with Unicode
// folding, or accents ignored, `typed` upper-cased by Unicode's simple upper-case mapping,
// accents kept ("déjeuner" shows as "DÉJEUNER"), each letter whose capital takes more bytes
// left as it is (the entry holds a limited number of bytes), and bytes that are no UTF-8 kept
// as they are.
std::string EntryPhraseAfterSearch(std::string_view typed, std::string_view compared,
                                   const MatchSettings& settings);

}  // namespace kb
