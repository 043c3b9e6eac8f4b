#pragma once

// How a search compares the phrase with an article: which letters count as the same, and
// whether it looks at the article's bytes or at the text a browser shows. A plain value,
// copied into every matcher; the defaults are the byte search with the letters a-z matching
// their capitals. Whatever the settings, the article marker and the excerpt are taken from
// the article's bytes as they are.

#include "support/text/text.h"

namespace kb {

enum class CaseFolding {
  kAscii,    // through the case table: a-z and the case pairs added to it
  kUnicode,  // Unicode simple case folding over UTF-8
};

enum class MatchMode {
  kBytes,  // the article's bytes as they are
  kText,   // the article's text: markup left out, references decoded, white space as one blank
};

struct MatchSettings {
  CaseFolding case_folding = CaseFolding::kAscii;
  // Letters match whatever accents they carry. Implies Unicode folding.
  bool ignore_accents = false;
  // The table Upper folds the phrase through for display, and through which the ASCII
  // folding matches bytes above 127: UpperCaseTable() and the case pairs added to it.
  CaseTable case_table = UpperCaseTable();
  MatchMode mode = MatchMode::kBytes;

  bool folds_unicode() const { return case_folding == CaseFolding::kUnicode || ignore_accents; }
  // Whether a case pair was added to the table.
  bool has_case_pairs() const { return case_table != UpperCaseTable(); }
};

}  // namespace kb
