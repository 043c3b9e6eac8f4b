#include "support/text/utf8.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

namespace kb {
namespace {

// Every scalar value encodes to its shortest form and decodes back; each proper start of that
// form is incomplete. Whatever else two bytes begin with decodes as no UTF-8 at all.
TEST(Utf8Test, DecodesExactlyTheShortestFormsOfScalarValues) {
  std::vector<bool> two_byte_starts(1 << 16);
  for (uint32_t code_point = 0; code_point <= 0x10FFFF; ++code_point) {
    if (code_point >= 0xD800 && code_point <= 0xDFFF) continue;
    std::string bytes;
    AppendUtf8(static_cast<char32_t>(code_point), bytes);
    const Utf8Sequence sequence = DecodeUtf8(bytes);
    ASSERT_EQ(sequence.length, static_cast<int>(bytes.size())) << std::hex << code_point;
    ASSERT_EQ(static_cast<uint32_t>(sequence.code_point), code_point);
    for (std::size_t cut = 1; cut < bytes.size(); ++cut) {
      ASSERT_EQ(DecodeUtf8(bytes.substr(0, cut)).length, 0) << std::hex << code_point;
    }
    if (bytes.size() >= 2) {
      two_byte_starts[static_cast<unsigned char>(bytes[0]) << 8 |
                      static_cast<unsigned char>(bytes[1])] = true;
    }
  }
  for (int lead = 0x80; lead <= 0xFF; ++lead) {
    for (int second = 0; second <= 0xFF; ++second) {
      const std::string start{static_cast<char>(lead), static_cast<char>(second)};
      const bool valid = two_byte_starts[lead << 8 | second];
      const Utf8Sequence sequence = DecodeUtf8(start + "\x80\x80");
      ASSERT_EQ(sequence.length > 0, valid) << std::hex << lead << " " << second;
      const std::size_t continuations = valid ? sequence.length - 2 : 2;
      EXPECT_EQ(IsUtf8(start + std::string(continuations, '\x80')), valid);
    }
  }
}

TEST(Utf8Test, AsciiPrefixEndsAtTheFirstHighByte) {
  std::mt19937 random(3);
  for (int round = 0; round < 2000; ++round) {
    std::string text(random() % 40, 'a');
    const std::size_t high = random() % (text.size() + 1);
    if (high < text.size()) text[high] = static_cast<char>(0x80 | random());
    EXPECT_EQ(AsciiPrefixLength(text), high);
    EXPECT_EQ(IsUtf8(text), high == text.size());
  }
}

// Text built from pieces whose characters are known: ASCII, any scalar value in UTF-8, bytes
// that start no sequence, and a sequence cut short before ASCII.
TEST(Utf8Test, CountsCharactersAndEachByteOutsideUtf8AsOne) {
  std::mt19937 random(5);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    std::size_t characters = 0;
    for (std::size_t piece = random() % 40; piece > 0; --piece) {
      switch (random() % 4) {
        case 0:
          text += static_cast<char>(random() % 0x80);
          characters += 1;
          break;
        case 1: {
          char32_t code_point = random() % 0x110000;
          if (code_point >= 0xD800 && code_point <= 0xDFFF) code_point = 0xE9;
          AppendUtf8(code_point, text);
          characters += 1;
          break;
        }
        case 2: {
          constexpr char kStray[] = {'\x80', '\xBF', '\xC0', '\xC1', '\xF5', '\xFF'};
          text += kStray[random() % std::size(kStray)];
          characters += 1;
          break;
        }
        case 3:
          text +=
              "\xE2\x82"
              "a";
          characters += 3;
          break;
      }
    }
    ASSERT_EQ(CountCharacters(text), characters) << testing::PrintToString(text);
  }
}

}  // namespace
}  // namespace kb
