#pragma once

// Texts the program shows that its user may replace (through the settings file,
// app/setup/settings_file.h), and the set of replacements in use. Each text is declared by
// the code that shows it, as a ReplaceableText: its key and its default wording, which
// stands until the text is replaced.
//
// The replacements in use are one set for the whole process. It is filled once, at start, by
// UseProgramTexts() before any thread but the main one runs, and only read afterwards, so
// any thread reads it without a lock: nothing writes it while anyone reads. A view into it
// stays valid until the next UseProgramTexts().

#include <cstddef>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kb {

// A text that may be replaced.
struct ReplaceableText {
  std::string_view key;
  std::string_view default_text;
  // The most bytes a replacement may hold.
  std::size_t longest = std::numeric_limits<std::size_t>::max();
};

// A text of a numbered table (the error table, the failed launches), with its number.
struct NumberedText {
  int32_t number;
  ReplaceableText text;
};

// A set of replacements; a text without one reads as its default.
class ProgramTexts {
 public:
  enum class Replacement {
    kDone,
    kTooLong,  // longer than the text's `longest`: nothing is replaced
  };

  Replacement Replace(const ReplaceableText& text, std::string_view replacement);
  std::string_view Of(const ReplaceableText& text) const;

 private:
  // By key, in the order replaced; few, since each is a line the user wrote.
  std::vector<std::pair<std::string_view, std::string>> replaced_;
};

// The texts in use; every default until UseProgramTexts().
const ProgramTexts& CurrentTexts();

// CurrentTexts().Of(text).
std::string_view ProgramText(const ReplaceableText& text);

// Makes `texts` the texts in use. Only at start, before any other thread runs (and in tests,
// between cases).
void UseProgramTexts(ProgramTexts texts);

}  // namespace kb
