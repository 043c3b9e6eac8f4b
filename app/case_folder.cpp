#include "app/case_folder.h"

#include "support/text/utf8.h"

namespace kb {

CaseFolder::CaseFolder(const MatchSettings& settings)
    : unicode_(!settings.folds_unicode() ? nullptr
               : settings.ignore_accents ? &UnicodeFolding::IgnoringCaseAndAccents()
                                         : &UnicodeFolding::IgnoringCase()) {
  for (std::size_t byte = 0; byte < table_.size(); ++byte) {
    table_[byte] = byte < 0x80 ? static_cast<unsigned char>(byte) : settings.case_table[byte];
  }
}

void CaseFolder::Restart() {
  held_.clear();
}

std::string_view CaseFolder::Fold(std::string_view piece) {
  return unicode_ != nullptr ? FoldUnicode(piece) : FoldThroughTable(piece);
}

std::string_view CaseFolder::Finish() {
  out_.assign(held_);
  held_.clear();
  return out_;
}

std::string CaseFolder::FoldWhole(std::string_view text) {
  Restart();
  std::string folded(Fold(text));
  folded += Finish();
  return folded;
}

bool CaseFolder::MatterFor(std::string_view folded_phrase) const {
  if (unicode_ != nullptr) return true;
  for (const char phrase_byte : folded_phrase) {
    const auto wanted = static_cast<unsigned char>(phrase_byte);
    for (std::size_t byte = 0x80; byte < table_.size(); ++byte) {
      if (byte != wanted && table_[byte] == wanted) return true;
    }
  }
  return false;
}

std::string_view CaseFolder::FoldThroughTable(std::string_view piece) {
  if (AsciiPrefixLength(piece) == piece.size()) return piece;
  out_.resize(piece.size());
  for (std::size_t at = 0; at < piece.size(); ++at) {
    out_[at] = static_cast<char>(table_[static_cast<unsigned char>(piece[at])]);
  }
  return out_;
}

std::string_view CaseFolder::FoldUnicode(std::string_view piece) {
  if (held_.empty() && AsciiPrefixLength(piece) == piece.size()) return piece;
  out_.clear();
  std::size_t from = 0;
  if (!held_.empty()) {
    // A sequence that starts in held_ ends within the piece's first 3 bytes.
    seam_.assign(held_).append(piece.substr(0, 3));
    const std::size_t end = FoldCharacters(seam_, held_.size());
    if (end < held_.size()) {
      // Still cut short: the seam holds the whole piece.
      held_.assign(seam_, end);
      return out_;
    }
    from = end - held_.size();
    held_.clear();
  }
  const std::string_view rest = piece.substr(from);
  held_.assign(rest.substr(FoldCharacters(rest, rest.size())));
  return out_;
}

std::size_t CaseFolder::FoldCharacters(std::string_view bytes, std::size_t stop) {
  std::size_t at = 0;
  while (at < stop) {
    const std::size_t ascii = AsciiPrefixLength(bytes.substr(at, stop - at));
    out_.append(bytes.substr(at, ascii));
    at += ascii;
    if (at == stop) break;
    const Utf8Sequence sequence = DecodeUtf8(bytes.substr(at));
    if (sequence.length == 0) return at;
    if (sequence.length < 0) {
      out_.push_back(bytes[at]);
      ++at;
    } else {
      unicode_->Append(sequence.code_point, out_);
      at += static_cast<std::size_t>(sequence.length);
    }
  }
  return at;
}

}  // namespace kb
