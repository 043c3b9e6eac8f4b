#include "support/text/text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace kb {
namespace {

using namespace std::string_view_literals;

TEST(FixedStringTest, CutsLongValuesAndPadsShortOnes) {
  FixedString<5> field("abc");
  EXPECT_EQ(field.view(), "abc  ");

  const std::string long_text(300, 'x');
  FixedString<255> line(long_text);
  EXPECT_EQ(line.view(), long_text.substr(0, 255));

  field.Assign("");
  EXPECT_EQ(field.view(), "     ");
}

TEST(FixedStringTest, AssigningFromItsOwnBytesIsSafe) {
  FixedString<8> field("abcdefgh");
  field.Assign(field.view().substr(2, 4));
  EXPECT_EQ(field.view(), "cdef    ");
}

// Each step leaves the whole field as a plain blank-padded field would hold it, whatever
// the values before it reached.
TEST(TextFieldTest, EveryValueIsPaddedOverWhateverCameBefore) {
  TextField field(12);
  EXPECT_EQ(field.view(), std::string(12, ' '));
  field.Assign("a long value and more");
  EXPECT_EQ(field.view(), "a long value");
  field.Assign("short");
  EXPECT_EQ(field.view(), "short       ");
  EXPECT_EQ(field.clipped(), "short");
  field.Assign("ab  cd  ");
  EXPECT_EQ(field.clipped(), "ab  cd");
  field.Assign(field.view().substr(4, 2));
  EXPECT_EQ(field.view(), "cd          ") << "a value taken from the field itself";
  field.Clear();
  EXPECT_EQ(field.view(), std::string(12, ' '));
  EXPECT_EQ(field.clipped(), "");

  // Bytes written directly, anywhere, count until the next value replaces them.
  field.Assign("x");
  field.bytes()[11] = 'z';
  EXPECT_EQ(field.clipped(), "x          z");
  field.Assign("y");
  EXPECT_EQ(field.view(), "y           ");
  field.data()[6] = 'w';
  EXPECT_EQ(field.clipped(), "y     w");
  field.Clear();
  EXPECT_EQ(field.view(), std::string(12, ' '));
}

TEST(TextFieldTest, AGrowingFieldIsAsLongAsItsLastValue) {
  TextField field = TextField::Growing();
  const std::string long_value = std::string(100'000, 'v') + "  ";
  EXPECT_TRUE(field.Assign(long_value));
  EXPECT_EQ(field.view(), long_value);
  EXPECT_EQ(field.clipped(), long_value.substr(0, 100'000));
  EXPECT_TRUE(field.Assign(field.view().substr(99'998, 3)));
  EXPECT_EQ(field.view(), "vv ") << "a value taken from the field itself";
  field.Clear();
  EXPECT_EQ(field.view(), "");
}

TEST(CStringTest, KeepsAtMostCapacityMinusOneBytes) {
  CString<20> verb("open");
  EXPECT_EQ(verb.view(), "open");

  CString<4> small("abcdef");
  EXPECT_EQ(small.view(), "abc");

  CString<8> with_nul("ab\0cd"sv);
  EXPECT_EQ(with_nul.view(), "ab");
}

TEST(ClipTest, RemovesTrailingBlanksOnly) {
  EXPECT_EQ(Clip("  a  "), "  a");
  EXPECT_EQ(Clip("     "), "");
  EXPECT_EQ(Clip(""), "");
  EXPECT_EQ(Clip("a\0"sv), "a\0"sv);
  EXPECT_EQ(Clip("a\t"), "a\t");
  EXPECT_EQ(Clip("a\r\n"), "a\r\n");
  EXPECT_EQ(Clip("a\t  "), "a\t");
  // Every length of text and of blank filling, across the eight-byte steps.
  for (std::size_t length = 0; length < 20; ++length) {
    for (std::size_t blanks = 0; blanks < 20; ++blanks) {
      const std::string text = std::string(length, 'x') + std::string(blanks, ' ');
      EXPECT_EQ(Clip(text), text.substr(0, length)) << length << " + " << blanks;
      EXPECT_EQ(Clip(" " + text), (" " + text).substr(0, length == 0 ? 0 : length + 1));
    }
  }
}

TEST(ConcatTest, KeepsTheBlanksOfAnUnclippedField) {
  FixedString<255> field("x");
  const std::string joined = Concat({field.view(), "end"});
  ASSERT_EQ(joined.size(), 258u);
  EXPECT_EQ(joined.substr(255), "end");
  EXPECT_EQ(Concat({"", ""}), "");
}

TEST(UpperTest, FoldsOnlyAsciiLetters) {
  EXPECT_EQ(Upper("abc xyz ABC 09 {}`@"), "ABC XYZ ABC 09 {}`@");
  const std::string high = "\xE4\xF6\xFC\xE9\xFF";
  EXPECT_EQ(Upper(high), high);
  EXPECT_EQ(Upper("a\0b"sv), "A\0B"sv);
}

// Every offset tried in turn, as the contract reads.
int32_t InStringReference(std::string_view sought, std::string_view searched, int32_t step,
                          int32_t start) {
  if (sought.empty() || start < 1) return 0;
  const std::size_t stride = step == 0 ? sought.size() : static_cast<std::size_t>(step);
  for (std::size_t at = static_cast<std::size_t>(start) - 1; at + sought.size() <= searched.size();
       at += stride) {
    if (searched.substr(at, sought.size()) == sought) return static_cast<int32_t>(at / stride) + 1;
  }
  return 0;
}

// Short texts over two letters and a zero byte, so that matches overlap and repeat: every
// step and every start, below 1 and past the end included, against the reference.
TEST(InStringTest, GivesTheSlotOfTheFirstMatchFromTheStart) {
  std::mt19937 random(4);
  const auto text = [&](std::size_t most) {
    std::string bytes(random() % (most + 1), 'a');
    for (char& byte : bytes) byte = "ab\0"[random() % 3];
    return bytes;
  };
  for (int round = 0; round < 3000; ++round) {
    const std::string sought = text(4);
    const std::string searched = text(12);
    for (int32_t step = 0; step <= 4; ++step) {
      for (int32_t start = -1; start <= static_cast<int32_t>(searched.size()) + 2; ++start) {
        ASSERT_EQ(InString(sought, searched, step, start),
                  InStringReference(sought, searched, step, start))
            << "'" << sought << "' in '" << searched << "' step " << step << " from " << start;
      }
    }
  }
  EXPECT_EQ(InString("ef", "abcdef", 2, 3), 3) << "slots counted from the start of the text";
}

TEST(InStringTest, StaysLinearOnRepetitiveText) {
  const std::string text = std::string(60000, 'a');
  const std::string sought = std::string(3000, 'a') + "b";
  EXPECT_EQ(InString(sought, text), 0);
  EXPECT_EQ(InString(sought, text + sought), 60001);
}

TEST(IsTrueTest, BlanksAreFalse) {
  EXPECT_FALSE(IsTrue(""));
  EXPECT_FALSE(IsTrue("   "));
  EXPECT_TRUE(IsTrue(" x "));
  EXPECT_TRUE(IsTrue("\t"));
}

TEST(NumberToTextTest, PlainDecimal) {
  EXPECT_EQ(NumberToText(0), "0");
  EXPECT_EQ(NumberToText(-5), "-5");
  EXPECT_EQ(NumberToText(2147483647), "2147483647");
  EXPECT_EQ(NumberToText(-2147483647 - 1), "-2147483648");
}

TEST(TextToNumberTest, ReadsTheLeadingNumber) {
  EXPECT_EQ(TextToNumber("  42abc"), 42);
  EXPECT_EQ(TextToNumber("7.9"), 7);
  EXPECT_EQ(TextToNumber("-7.9"), -7);
  EXPECT_EQ(TextToNumber("3,5"), 3);
  EXPECT_EQ(TextToNumber("12e3"), 12);
  EXPECT_EQ(TextToNumber(""), 0);
  EXPECT_EQ(TextToNumber("abc"), 0);
  EXPECT_EQ(TextToNumber("+5"), 0);
  EXPECT_EQ(TextToNumber("-"), 0);
  EXPECT_EQ(TextToNumber("\t5"), 0);
}

TEST(TextToNumberTest, TakesAnExponentAfterTheSeparator) {
  EXPECT_EQ(TextToNumber("1.5e2"), 150);
  EXPECT_EQ(TextToNumber("1.5E3x"), 1500);
  EXPECT_EQ(TextToNumber("1234.5e-2"), 12);
  EXPECT_EQ(TextToNumber("-2.5e1"), -25);
  EXPECT_EQ(TextToNumber("5.e-3"), 0);
}

TEST(TextToNumberTest, LooksAtNinetyNineBytesAndHoldsTheRange) {
  EXPECT_EQ(TextToNumber(std::string(98, ' ') + "7"), 7);
  EXPECT_EQ(TextToNumber(std::string(99, ' ') + "7"), 0);
  EXPECT_EQ(TextToNumber("99999999999"), 2147483647);
  EXPECT_EQ(TextToNumber("-99999999999"), -2147483647 - 1);
  EXPECT_EQ(TextToNumber("-2147483648"), -2147483647 - 1);
}

TEST(PercentOfTest, DropsTheFraction) {
  EXPECT_EQ(PercentOf(1, 3), 33);
  EXPECT_EQ(PercentOf(2, 3), 66);
  EXPECT_EQ(PercentOf(3, 3), 100);
  EXPECT_EQ(PercentOf(39999, 40000), 99);
  EXPECT_EQ(PercentOf(2147483647, 2147483647), 100);
  EXPECT_EQ(PercentOf(0, 0), 0);
}

}  // namespace
}  // namespace kb
