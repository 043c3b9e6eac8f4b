#include "files/line_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

namespace kb {
namespace {

constexpr std::string_view kCtrlZ = "\x1A";

// Reads every record of `data` as a file would, handing the reader windows of at most
// `window` bytes as a buffer of that size would. Each record is given without trailing
// blanks, after checking that it fits the record.
std::vector<std::string> ReadRecords(std::string_view data, std::size_t record_length,
                                     int32_t tab_width = 8, std::size_t window = 1 << 20) {
  std::vector<std::string> records;
  LineReader reader(record_length, tab_width);
  std::size_t offset = 0;
  std::size_t window_start = 0;  // the buffer holds data[window_start, window_start + window)
  for (std::size_t lines = 0; lines <= data.size(); ++lines) {
    reader.Start();
    while (true) {
      if (offset < window_start || offset >= window_start + window) window_start = offset;
      const std::string_view held =
          data.substr(std::min(window_start, data.size()), window).substr(offset - window_start);
      offset += reader.Feed(held, window_start + window >= data.size());
      if (reader.finished()) break;
      window_start = offset;
    }
    if (reader.end_of_file()) return records;
    const std::string record(reader.line());
    EXPECT_LE(record.size(), record_length);
    const std::size_t end = record.find_last_not_of(' ');
    records.push_back(end == std::string::npos ? "" : record.substr(0, end + 1));
  }
  ADD_FAILURE() << "more lines than bytes: the reader does not advance";
  return records;
}

// The same records whatever the size of the windows, down to the smallest buffer of two bytes.
std::vector<std::string> Records(std::string_view data, std::size_t record_length = 255,
                                 int32_t tab_width = 8) {
  const std::vector<std::string> whole = ReadRecords(data, record_length, tab_width);
  for (std::size_t window : {2, 3, 4, 7, 64, 255, 256, 257}) {
    EXPECT_EQ(ReadRecords(data, record_length, tab_width, window), whole)
        << "windows of " << window << " bytes";
  }
  return whole;
}

using Lines = std::vector<std::string>;

TEST(LineReaderTest, CrLfEndsLinesAndLoneCrOrLfIsData) {
  EXPECT_EQ(Records("one\r\ntwo\r\n"), (Lines{"one", "two"}));
  EXPECT_EQ(Records("one\r\n\r\nthree"), (Lines{"one", "", "three"}));
  EXPECT_EQ(Records("a\rb\nc\n\r\r\nd"), (Lines{"a\rb\nc\n\r", "d"}));
  EXPECT_EQ(Records("ends in a CR\r"), (Lines{"ends in a CR\r"}));
  EXPECT_EQ(Records("abc"), (Lines{"abc"})) << "the last line needs no terminator";
  EXPECT_EQ(Records(std::string("nul\0byte\r\n", 10)), (Lines{std::string("nul\0byte", 8)}));
}

TEST(LineReaderTest, LfOnlyFileIsOneRecordCutAtTheRecordLength) {
  std::string data;
  for (int line = 0; line < 40; ++line) data += "line " + std::to_string(line) + "\n";
  ASSERT_GT(data.size(), 255u);
  EXPECT_EQ(Records(data), (Lines{data.substr(0, 255)}));
}

TEST(LineReaderTest, LongLinesAreCutAndTheirRestSkipped) {
  const std::string exact(255, 'x');
  EXPECT_EQ(Records(exact + "\r\nnext\r\n"), (Lines{exact, "next"}));
  EXPECT_EQ(Records(std::string(254, 'x') + "\r\nnext"), (Lines{std::string(254, 'x'), "next"}));

  const std::string long_line = std::string(255, 'a') + std::string(45, 'b');
  EXPECT_EQ(Records(long_line + "\r\nnext\r\n"), (Lines{std::string(255, 'a'), "next"}));
  EXPECT_EQ(Records(long_line), (Lines{std::string(255, 'a')}));
  EXPECT_EQ(Records(long_line + "\rb\nc\r\nnext"), (Lines{std::string(255, 'a'), "next"}))
      << "a lone CR or LF in the skipped rest does not end the line";
  EXPECT_EQ(Records(long_line + std::string(kCtrlZ) + "next"),
            (Lines{std::string(255, 'a'), "next"}));
  EXPECT_EQ(Records("abcdef\r\nxy", 3), (Lines{"abc", "xy"}));
}

TEST(LineReaderTest, CtrlZEndsTheLineAndAtItsStartTheFile) {
  EXPECT_EQ(Records("abc\x1A"
                    "def\r\n"),
            (Lines{"abc", "def"}));
  EXPECT_EQ(Records("abc\r\n\x1A"
                    "def\r\n"),
            (Lines{"abc"}));
  EXPECT_EQ(Records("\x1A"
                    "abc"),
            Lines{});
  EXPECT_EQ(Records("abc\x1A"), (Lines{"abc"}));
  EXPECT_EQ(Records("abc\x1A\x1A"
                    "def"),
            (Lines{"abc"}));
}

TEST(LineReaderTest, EndOfFileStoresNothing) {
  LineReader reader(8, 8);
  reader.Start();
  EXPECT_EQ(reader.Feed("abc\r\n", true), 5u);
  reader.Start();
  EXPECT_EQ(reader.Feed(kCtrlZ, true), 0u);
  EXPECT_TRUE(reader.end_of_file());
  EXPECT_EQ(reader.line(), "");

  reader.Start();
  EXPECT_EQ(reader.Feed("", true), 0u);
  EXPECT_TRUE(reader.end_of_file());
}

TEST(LineReaderTest, ACrAtTheEndOfAWindowWaitsForTheNextByte) {
  LineReader reader(16, 8);
  reader.Start();
  EXPECT_EQ(reader.Feed("ab\r", false), 2u);
  EXPECT_FALSE(reader.finished());
  EXPECT_EQ(reader.Feed("\r\nnext", false), 2u);
  EXPECT_TRUE(reader.finished());
  EXPECT_EQ(reader.line(), "ab");
}

TEST(LineReaderTest, TabsStopAtMultiplesOfTheWidthAndAtTheEndOfTheRecord) {
  EXPECT_EQ(Records("a\tb"), (Lines{"a       b"}));
  EXPECT_EQ(Records("\tb"), (Lines{"        b"}));
  EXPECT_EQ(Records("12345678\tb"), (Lines{"12345678        b"}));
  EXPECT_EQ(Records("a\tb", 255, 4), (Lines{"a   b"}));
  EXPECT_EQ(Records("a\tb", 255, kTabDropped), (Lines{"ab"}));
  EXPECT_EQ(Records("a\tb", 255, kTabAsIs), (Lines{"a\tb"}));
  EXPECT_EQ(Records("a\tb", 255, -3), (Lines{"a   b"}));

  // Near the end of the record a tab fills only what is left, and the record is full.
  EXPECT_EQ(Records(std::string(252, 'x') + "\tyz\r\nnext"),
            (Lines{std::string(252, 'x'), "next"}));
  EXPECT_EQ(Records(std::string(244, 'x') + "\tyz!\r\nnext", 250),
            (Lines{std::string(244, 'x') + "    yz", "next"}));
  EXPECT_EQ(Records(std::string(252, 'x') + "\tyz\r\nnext", 255, -2000000000),
            (Lines{std::string(252, 'x'), "next"}));
  EXPECT_EQ(Records("x\ty", 5, 1 << 30), (Lines{"x"}));
}

TEST(LineReaderTest, AtMostARecordLengthOfBytesIsTakenEvenWhenLessIsStored) {
  // Dropped tabs store nothing but still count as taken bytes.
  const std::string tabs(255, '\t');
  EXPECT_EQ(Records(tabs + "lost\r\nnext", 255, kTabDropped), (Lines{"", "next"}));
  EXPECT_EQ(Records(std::string(254, '\t') + "k\r\n", 255, kTabDropped), (Lines{"k"}));
}

TEST(LineReaderTest, AGrowingRecordTakesEveryLineWhole) {
  std::string lf_only;
  for (int line = 0; line < 4000; ++line) lf_only += "line " + std::to_string(line) + "\n";
  std::string cr_only = lf_only;
  std::replace(cr_only.begin(), cr_only.end(), '\n', '\r');
  const std::string long_line(70000, 'x');
  EXPECT_EQ(Records(lf_only + "\r\n" + long_line + "\r\n" + cr_only, kGrowingRecord),
            (Lines{lf_only, long_line, cr_only}));
  EXPECT_EQ(Records(std::string(300, 'a') + "\tb", kGrowingRecord),
            (Lines{std::string(300, 'a') + std::string(4, ' ') + "b"}));
}

}  // namespace
}  // namespace kb
