#include "app/match/case_folder.h"

#include <bit>
#include <cstring>

#include "app/match/byte_vectors.h"
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
  MakeRoom(held_.size());
  held_.copy(out_.data(), held_.size());
  written_ = held_.size();
  held_.clear();
  return {out_.data(), written_};
}

void CaseFolder::MakeRoom(std::size_t bytes) {
  written_ = 0;
  const std::size_t room = kMostGrowth * bytes + UnicodeFolding::kLongestFolding;
  if (out_.size() < room) out_.resize(room);
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
  MakeRoom(piece.size());
  for (const char byte : piece) {
    out_[written_++] = static_cast<char>(table_[static_cast<unsigned char>(byte)]);
  }
  return {out_.data(), written_};
}

std::string_view CaseFolder::FoldUnicode(std::string_view piece) {
  if (held_.empty() && AsciiPrefixLength(piece) == piece.size()) return piece;
  MakeRoom(held_.size() + piece.size());
  std::size_t from = 0;
  if (!held_.empty()) {
    // A sequence that starts in held_ ends within the piece's first 3 bytes.
    seam_.assign(held_).append(piece.substr(0, 3));
    const std::size_t end = FoldCharacters(seam_, held_.size());
    if (end < held_.size()) {
      // Still cut short: the seam holds the whole piece.
      held_.assign(seam_, end);
      return {out_.data(), written_};
    }
    from = end - held_.size();
    held_.clear();
  }
  const std::string_view rest = piece.substr(from);
  held_.assign(rest.substr(FoldCharacters(rest, rest.size())));
  return {out_.data(), written_};
}

std::size_t CaseFolder::FoldCharacters(std::string_view bytes, std::size_t stop) {
  const auto* const in = reinterpret_cast<const unsigned char*>(bytes.data());
  // Kept in locals: stores through `out` could change any variable as far as the compiler
  // knows.
  char* const out = out_.data();
  std::size_t to = written_;
  std::size_t at = 0;
  while (at < stop) {
    // ASCII stays as it is: 16 bytes at a time, stored whole up to the first that is not.
    if (at + sizeof(Bytes16) <= stop) {
      const Bytes16 sixteen = Load16(in + at);
      std::memcpy(out + to, &sixteen, sizeof sixteen);
      const uint32_t high = ByteBits(sixteen);
      const std::size_t ascii = high == 0 ? sizeof sixteen : std::countr_zero(high);
      to += ascii;
      at += ascii;
      if (ascii == sizeof sixteen) continue;
    } else if (in[at] < 0x80) {
      out[to++] = bytes[at++];
      continue;
    }
    // Characters beyond ASCII, one after another while they last (a word of Greek, say).
    do {
      const Utf8Sequence sequence = DecodeUtf8(bytes.substr(at));
      if (sequence.length == 0) {
        written_ = to;
        return at;
      }
      if (sequence.length < 0) {
        out[to++] = bytes[at++];
      } else {
        const auto length = static_cast<std::size_t>(sequence.length);
        to += unicode_->Fold(sequence.code_point, bytes.substr(at, length), out + to);
        at += length;
      }
    } while (at < stop && in[at] >= 0x80);
  }
  written_ = to;
  return at;
}

}  // namespace kb
