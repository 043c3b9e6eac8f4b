#pragma once

// Text values and the byte rules that every message, page line and file name of kbsearch
// is built from.
//
// Three forms of text exist:
//  - blank-padded fields of a fixed length (FixedString<N>, or TextField when the length is
//    chosen at run time): always exactly that many bytes, no terminator;
//  - NUL-terminated buffers of a fixed capacity (CString<N>): at most N - 1 bytes and a 0 byte;
//  - temporary values: std::string_view for reading, std::string for results that are built.
//
// All rules are byte rules; nothing here knows about multi-byte characters. Cutting a value at
// a field's length or a buffer's capacity is silent. Nothing here posts an error.

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>

namespace kb {

inline constexpr char kBlank = ' ';

// Copies `source` into `field`, cutting it at the field's length and filling the rest of the
// field with blanks. `source` may overlap `field`.
void AssignField(std::span<char> field, std::string_view source);

// Fills `field` with blanks.
void ClearField(std::span<char> field);

// `text` without its trailing blanks (byte 0x20 only: a trailing NUL, tab, CR or LF stays).
// Leading blanks stay.
std::string_view Clip(std::string_view text);

// Concatenation of any number of values, left to right. An allocation failure gives the
// empty text, never an exception.
std::string Concat(std::initializer_list<std::string_view> parts);

// The 256-entry table through which Upper folds case: a-z map to A-Z, every other byte
// (including all bytes above 127) to itself.
using CaseTable = std::array<unsigned char, 256>;
const CaseTable& UpperCaseTable();

// A copy of `text` with every byte mapped through UpperCaseTable(); the length never changes.
std::string Upper(std::string_view text);

// `bytes` with every byte but the ASCII letters and digits and those in `kept` written as "%"
// and two hex digits in capitals: what URLs and file names made of any bytes take.
std::string PercentEncoded(std::string_view bytes, std::string_view kept);

// The same through `table`: UpperCaseTable() with case pairs of its own added (the settings
// file can add pairs for bytes above 127).
std::string Upper(std::string_view text, const CaseTable& table);

// Byte-exact, case-sensitive search of `sought` in `searched`.
//
// Offsets start - 1, start - 1 + step, start - 1 + 2 * step, ... are tried; a step of 0 means
// the length of `sought`. The result is (offset div step) + 1 for the first offset that
// matches, so with step 1 it is the 1-based position of the match, and with a larger step the
// number of the step-sized slot (counted from the start of `searched`, not from `start`) in
// which the match begins. It is 0 when nothing matches, when `sought` is empty, when `start`
// is below 1 or when `searched` is shorter than `sought`. With step 1 the search is linear.
int32_t InString(std::string_view sought, std::string_view searched, int32_t step = 1,
                 int32_t start = 1);

// The truth value of a text: true when anything but blanks remains after Clip.
bool IsTrue(std::string_view text);

// Decimal text of `number`: a leading "-" when negative, no leading zeros, no blanks, no
// separators; at most 11 bytes.
std::string NumberToText(int32_t number);

// The integer that a text spells. Only the first 99 bytes are looked at: leading blanks are
// skipped, then an optional "-", digits with at most one "." or "," as decimal separator and,
// after a separator, an optional exponent ("e" or "E", optional "-", digits). The first other
// byte ends the number; the fraction is dropped toward zero. No digits give 0; so does a
// leading "+". Values outside the 32-bit range are held at its nearest end.
int32_t TextToNumber(std::string_view text);

// The integer part of 100 * count / total, exact for every 32-bit count and positive total
// (the progress percentage of a scan). A total of 0 gives 0.
int32_t PercentOf(int32_t count, int32_t total);

// A blank-padded field of exactly N bytes. Copies are independent values.
template <std::size_t N>
class FixedString {
 public:
  static_assert(N >= 1, "a field holds at least one byte");

  FixedString() { Clear(); }
  explicit FixedString(std::string_view text) { Assign(text); }

  void Assign(std::string_view text) { AssignField(bytes_, text); }
  void Clear() { ClearField(bytes_); }

  // All N bytes, trailing blanks included.
  std::string_view view() const { return {bytes_.data(), N}; }
  std::string_view clipped() const { return Clip(view()); }

  char* data() { return bytes_.data(); }
  static constexpr std::size_t size() { return N; }

 private:
  std::array<char, N> bytes_;
};

// A blank-padded field whose length is fixed when it is made: the records and name variables
// of file declarations, whose lengths are properties of each declaration.
//
// The field remembers how far its contents may reach: past that it holds only blanks. So
// assigning, clearing and clipping touch only the bytes that the last value and the new one
// cover, however long the field is (a 65,279-byte record holding a short line costs what
// the line costs). Writing through bytes() or data() counts the whole field as reached; a
// span or pointer taken before an Assign or Clear must not be written after it.
//
// A growing field (Growing()) has no fixed length: it is as long as the value last assigned,
// so nothing assigned to it is ever cut.
class TextField {
 public:
  explicit TextField(std::size_t length) : bytes_(length, kBlank) {}
  static TextField Growing() {
    TextField field(0);
    field.grows_ = true;
    return field;
  }

  // Copies `text`, cutting it at the field's length; `text` may overlap the field. A growing
  // field takes it whole, and gives false, keeping its value, when memory for it cannot be
  // had; a field of a fixed length always gives true.
  bool Assign(std::string_view text) {
    if (grows_) return AssignWhole(text);
    const std::size_t copied = std::min(bytes_.size(), text.size());
    if (copied > 0) std::memmove(bytes_.data(), text.data(), copied);
    if (reach_ > copied) std::fill(bytes_.begin() + copied, bytes_.begin() + reach_, kBlank);
    reach_ = copied;
    return true;
  }
  void Clear() {
    if (grows_) {
      bytes_.clear();
    } else {
      std::fill(bytes_.begin(), bytes_.begin() + reach_, kBlank);
    }
    reach_ = 0;
  }

  std::string_view view() const { return bytes_; }
  std::string_view clipped() const { return Clip(view().substr(0, reach_)); }

  std::span<char> bytes() {
    reach_ = bytes_.size();
    return bytes_;
  }
  char* data() { return bytes().data(); }
  std::size_t size() const { return bytes_.size(); }
  bool grows() const { return grows_; }

 private:
  bool AssignWhole(std::string_view text);

  std::string bytes_;
  std::size_t reach_ = 0;  // every byte from here on is a blank
  bool grows_ = false;
};

// A NUL-terminated buffer of capacity N: at most N - 1 bytes of content and a 0 byte.
template <std::size_t Capacity>
class CString {
 public:
  static_assert(Capacity >= 1, "a buffer holds at least its terminator");

  CString() { bytes_[0] = '\0'; }
  explicit CString(std::string_view text) { Assign(text); }

  // Copies `text`, cutting it at Capacity - 1 bytes; `text` may overlap the buffer.
  void Assign(std::string_view text) {
    const std::size_t length = text.size() < Capacity - 1 ? text.size() : Capacity - 1;
    std::memmove(bytes_.data(), text.data(), length);
    bytes_[length] = '\0';
  }
  void Clear() { bytes_[0] = '\0'; }

  // The bytes before the first 0 byte.
  std::string_view view() const {
    const auto end = std::find(bytes_.begin(), bytes_.end(), '\0');
    return {bytes_.data(), static_cast<std::size_t>(end - bytes_.begin())};
  }
  bool empty() const { return bytes_[0] == '\0'; }

  static constexpr std::size_t capacity() { return Capacity; }

 private:
  std::array<char, Capacity> bytes_;
};

}  // namespace kb
