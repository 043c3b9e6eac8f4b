#include "support/text/text.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace kb {

void AssignField(std::span<char> field, std::string_view source) {
  const std::size_t copied = std::min(field.size(), source.size());
  std::memmove(field.data(), source.data(), copied);
  std::fill(field.begin() + copied, field.end(), kBlank);
}

void ClearField(std::span<char> field) {
  std::fill(field.begin(), field.end(), kBlank);
}

std::string_view Clip(std::string_view text) {
  // The blank filling of a long field (a 65,279-byte record holding a short line) is
  // skipped eight bytes at a time.
  constexpr uint64_t kEightBlanks = 0x2020202020202020;
  std::size_t end = text.size();
  for (uint64_t eight; end >= sizeof eight; end -= sizeof eight) {
    std::memcpy(&eight, text.data() + end - sizeof eight, sizeof eight);
    if (eight != kEightBlanks) break;
  }
  while (end > 0 && text[end - 1] == kBlank) --end;
  return text.substr(0, end);
}

std::string Concat(std::initializer_list<std::string_view> parts) {
  std::size_t length = 0;
  for (std::string_view part : parts) length += part.size();
  std::string result;
  try {
    result.reserve(length);
  } catch (const std::bad_alloc&) {
    return {};
  }
  for (std::string_view part : parts) result.append(part);
  return result;
}

namespace {

constexpr CaseTable MakeUpperCaseTable() {
  CaseTable table{};
  for (std::size_t byte = 0; byte < table.size(); ++byte) {
    table[byte] = static_cast<unsigned char>(byte >= 'a' && byte <= 'z' ? byte - 'a' + 'A' : byte);
  }
  return table;
}

constexpr CaseTable kUpperCaseTable = MakeUpperCaseTable();

// The 0-based offset of the first occurrence of `sought` in `searched` at or after `from`, or
// npos. glibc's memmem runs in linear time (two-way matching), which keeps a search of a
// 60,000-byte text from turning quadratic on repetitive input.
std::size_t FindFrom(std::string_view sought, std::string_view searched, std::size_t from) {
  if (from > searched.size()) return std::string_view::npos;
  const void* found =
      ::memmem(searched.data() + from, searched.size() - from, sought.data(), sought.size());
  if (found == nullptr) return std::string_view::npos;
  return static_cast<std::size_t>(static_cast<const char*>(found) - searched.data());
}

}  // namespace

const CaseTable& UpperCaseTable() {
  return kUpperCaseTable;
}

std::string PercentEncoded(std::string_view bytes, std::string_view kept) {
  constexpr std::string_view kHexDigits = "0123456789ABCDEF";
  std::string encoded;
  encoded.reserve(bytes.size());
  for (const char byte : bytes) {
    const auto value = static_cast<unsigned char>(byte);
    const bool plain = (value >= 'A' && value <= 'Z') || (value >= 'a' && value <= 'z') ||
                       (value >= '0' && value <= '9') || kept.find(byte) != std::string_view::npos;
    if (plain) {
      encoded += byte;
    } else {
      encoded += '%';
      encoded += kHexDigits[value >> 4];
      encoded += kHexDigits[value & 0xF];
    }
  }
  return encoded;
}

std::string Upper(std::string_view text) {
  return Upper(text, kUpperCaseTable);
}

std::string Upper(std::string_view text, const CaseTable& table) {
  std::string copy(text);
  for (char& byte : copy) byte = static_cast<char>(table[static_cast<unsigned char>(byte)]);
  return copy;
}

int32_t InString(std::string_view sought, std::string_view searched, int32_t step, int32_t start) {
  if (sought.empty() || start < 1 || searched.size() < sought.size()) return 0;
  const std::size_t stride = step <= 0 ? sought.size() : static_cast<std::size_t>(step);
  const std::size_t last = searched.size() - sought.size();
  std::size_t offset = static_cast<std::size_t>(start) - 1;

  if (stride == 1) {
    offset = FindFrom(sought, searched, offset);
    if (offset == std::string_view::npos) return 0;
  } else {
    for (; offset <= last; offset += stride) {
      if (searched.compare(offset, sought.size(), sought) == 0) break;
    }
    if (offset > last) return 0;
  }
  return static_cast<int32_t>(offset / stride) + 1;
}

bool IsTrue(std::string_view text) {
  return !Clip(text).empty();
}

std::string NumberToText(int32_t number) {
  return std::to_string(number);
}

int32_t TextToNumber(std::string_view text) {
  text = text.substr(0, std::min<std::size_t>(text.size(), 99));
  std::size_t at = 0;
  auto is_digit = [&](std::size_t i) {
    return i < text.size() && text[i] >= '0' && text[i] <= '9';
  };

  while (at < text.size() && text[at] == kBlank) ++at;
  const bool negative = at < text.size() && text[at] == '-';
  if (negative) ++at;

  // The integer part decides the result; the fraction only matters through the exponent.
  std::string digits;
  while (is_digit(at)) digits += text[at++];
  std::string fraction;
  if (at < text.size() && (text[at] == '.' || text[at] == ',')) {
    ++at;
    while (is_digit(at)) fraction += text[at++];
    if (at < text.size() && (text[at] == 'e' || text[at] == 'E')) {
      std::size_t exponent_at = at + 1;
      const bool exponent_negative = exponent_at < text.size() && text[exponent_at] == '-';
      if (exponent_negative) ++exponent_at;
      long exponent = 0;
      while (is_digit(exponent_at) && exponent < 1000) {
        exponent = exponent * 10 + (text[exponent_at++] - '0');
      }
      // Shift the decimal separator by the exponent.
      if (exponent_negative) {
        const std::size_t moved = std::min<std::size_t>(digits.size(), exponent);
        fraction.insert(0, digits.substr(digits.size() - moved));
        digits.erase(digits.size() - moved);
      } else {
        const std::size_t moved = std::min<std::size_t>(fraction.size(), exponent);
        digits += fraction.substr(0, moved);
        digits.append(exponent - moved, '0');
        fraction.erase(0, moved);
      }
    }
  }

  constexpr int64_t kLimit = int64_t{std::numeric_limits<int32_t>::max()} + 1;
  int64_t magnitude = 0;
  for (char digit : digits) {
    magnitude = std::min<int64_t>(magnitude * 10 + (digit - '0'), kLimit);
  }
  const int64_t value = negative ? -magnitude : magnitude;
  return static_cast<int32_t>(std::clamp<int64_t>(value, std::numeric_limits<int32_t>::min(),
                                                  std::numeric_limits<int32_t>::max()));
}

int32_t PercentOf(int32_t count, int32_t total) {
  if (total == 0) return 0;
  return static_cast<int32_t>(int64_t{100} * count / total);
}

bool TextField::AssignWhole(std::string_view text) {
  try {
    bytes_.assign(text);
  } catch (const std::bad_alloc&) {
    return false;
  }
  reach_ = bytes_.size();
  return true;
}

}  // namespace kb
