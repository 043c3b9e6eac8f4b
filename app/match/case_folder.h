#pragma once

// The folding step of a search that folds more than the letters a-z: it turns a stream of
// bytes, given piece by piece, into the stream in which every character is replaced by its
// folded form, so that looking for the folded phrase in it (with a-z still matching A-Z)
// finds the phrase in any case, and without regard to accents if so set.
//
// Two foldings exist:
//  - through the case table, byte by byte: each byte above 127 becomes its upper case as the
//    case pairs give it; bytes below 128 stay (the phrase search folds a-z itself);
//  - Unicode (UnicodeFolding) over UTF-8: each character above U+007F becomes its folded form.
//    Bytes that are not valid UTF-8 stay as they are and so match only themselves.
// ASCII stays as it is in both, and a piece that holds nothing else is handed back as it is.
//
// The outcome does not depend on how the stream is cut into pieces: a UTF-8 sequence cut by
// the end of a piece is held back (at most 3 bytes) until the next piece completes it, or
// until Finish says that nothing follows.

#include <string>
#include <string_view>

#include "app/match/match_settings.h"
#include "app/match/unicode_folding.h"
#include "support/text/text.h"

namespace kb {

class CaseFolder {
 public:
  // Folds as `settings` say: Unicode when settings.folds_unicode(), else through the upper
  // half of settings.case_table.
  explicit CaseFolder(const MatchSettings& settings);

  // Forgets the previous stream.
  void Restart();

  // The folded form of the next piece: `piece` itself, or a view of the folder's own room,
  // valid until the next call.
  std::string_view Fold(std::string_view piece);

  // The stream has ended: what was held back, as it is.
  std::string_view Finish();

  // A whole text folded at once (a phrase).
  std::string FoldWhole(std::string_view text);

  // False when folding an article cannot change whether `folded_phrase` (the phrase as
  // FoldWhole gives it) is found in it, so that the search can leave articles unfolded. That
  // is so for the table folding when no byte of the phrase is the fold of another byte.
  bool MatterFor(std::string_view folded_phrase) const;

 private:
  std::string_view FoldThroughTable(std::string_view piece);
  std::string_view FoldUnicode(std::string_view piece);
  // Appends to out_ the folded form of each character of `bytes` that begins before `stop`,
  // and gives where the last of them ends; or, when `bytes` ends before a sequence that is
  // valid so far is complete, where that sequence begins.
  std::size_t FoldCharacters(std::string_view bytes, std::size_t stop);

  // Empties the folded text and makes room for folding `bytes` bytes: a character of two or
  // more bytes folds to at most UnicodeFolding::kLongestFolding.
  void MakeRoom(std::size_t bytes);

  static constexpr std::size_t kMostGrowth = UnicodeFolding::kLongestFolding / 2;

  const UnicodeFolding* unicode_;  // null for the table folding
  CaseTable table_;                // the table folding: bytes below 128 map to themselves
  std::string held_;               // the start of a UTF-8 sequence cut by a piece's end
  std::string seam_;               // held_ and the first bytes of the next piece
  // The folded text: its first written_ bytes. The buffer only grows, so that the text can
  // be written without a check of its size at every character.
  std::string out_;
  std::size_t written_ = 0;
};

}  // namespace kb
