#include "files/text_line_file.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "files/access_mode.h"
#include "files/line_reader.h"
#include "platform/file_system.h"
#include "platform/testing/faulty_env.h"
#include "support/error_state/error_state.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using kb::testing::ReadAll;
using kb::testing::ScratchDirectory;

constexpr uint8_t kApplicationMode = access_mode::kReadWrite | access_mode::kDenyWrite;

FileDeclaration Declaration(std::string options = "/FILEBUFFERS=100",
                            std::size_t record_length = 255) {
  return {.record_length = record_length, .options = std::move(options)};
}

// Opens `path` with `mode` and reads every record, clipped, until Next fails.
std::vector<std::string> ReadLines(const std::string& path, FileDeclaration declaration = {},
                                   uint8_t mode = kApplicationMode) {
  TextLineFile file(std::move(declaration));
  file.name().Assign(path);
  file.Open(mode);
  EXPECT_EQ(ErrorCode(), 0) << ErrorText();
  file.Set();
  std::vector<std::string> lines;
  for (file.Next(); ErrorCode() == 0; file.Next()) lines.emplace_back(file.record().clipped());
  EXPECT_EQ(ErrorCode(), error::kRecordNotAvailable);
  file.Close();
  return lines;
}

using Lines = std::vector<std::string>;

class TextLineFileTest : public ::testing::Test {
 protected:
  // Open with the application's mode; gives the error code.
  int32_t OpenCode(const std::string& path, FileDeclaration declaration = Declaration()) {
    TextLineFile file(std::move(declaration));
    file.name().Assign(path);
    file.Open(kApplicationMode);
    EXPECT_EQ(file.is_open(), ErrorCode() == 0);
    return ErrorCode();
  }

  ScratchDirectory scratch_;
};

// The failures that a block file shares are block_file_test's.
TEST_F(TextLineFileTest, OpenFailuresPostTheirNumbers) {
  EXPECT_EQ(OpenCode(scratch_ / "absent.htm"), error::kFileNotFound);
  EXPECT_EQ(ErrorText(), "File Not Found" + std::string(66, ' '));
  EXPECT_EQ(OpenCode("   "), error::kInvalidFilename);
  EXPECT_EQ(OpenCode(std::string("a\0b", 3)), error::kInvalidFilename);

  const std::string present = scratch_.Write("present.htm", "line\r\n");
  EXPECT_EQ(OpenCode(present, Declaration("", kMaxRecordLength + 1)),
            error::kInvalidRecordDeclaration);
  EXPECT_EQ(OpenCode(present, Declaration("", 0)), error::kInvalidRecordDeclaration);
  EXPECT_EQ(OpenCode(present, Declaration("", kMaxRecordLength)), 0);
}

TEST_F(TextLineFileTest, AnIoErrorAtOpenIsTheFaultOfWhatTheFileIsOpenedFor) {
  const std::string present = scratch_.Write("present.htm", "line\r\n");
  platform::testing::FaultyEnv env;
  env.FailNth(platform::Operation::kOpen, 1, EIO);
  TextLineFile read(Declaration(), env);
  read.name().Assign(present);
  read.Open(access_mode::kRead);
  EXPECT_EQ(ErrorCode(), 330);

  for (const bool replace : {false, true}) {
    env.FailNth(platform::Operation::kOpen, 1, EIO);
    TextLineFile page(Declaration(), env);
    page.name().Assign(scratch_ / "ZebResult.htm");
    if (replace) {
      page.Replace();
    } else {
      page.Create();
    }
    EXPECT_EQ(ErrorCode(), 329) << replace;
  }
}

TEST_F(TextLineFileTest, PathsOf260CharactersOrMoreAreInvalid) {
  FileDeclaration long_names = Declaration();
  long_names.name_length = 400;
  const std::string directory = scratch_.path().string() + "/";
  const std::string path_259 = directory + std::string(259 - directory.size(), 'n');
  const std::string path_260 = directory + std::string(260 - directory.size(), 'n');
  EXPECT_EQ(OpenCode(path_259, long_names), error::kFileNotFound);
  EXPECT_EQ(OpenCode(path_260, long_names), error::kInvalidFilename);
  EXPECT_EQ(OpenCode(path_260 + "   ", long_names), error::kInvalidFilename);

  TextLineFile file(long_names);
  file.name().Assign(path_260);
  file.Create();
  EXPECT_EQ(ErrorCode(), error::kInvalidFilename);
}

TEST_F(TextLineFileTest, AFileHeldByAnotherOpenIsRefusedAndNeverEmptied) {
  const std::string path = scratch_.Write("ZebResult.htm", "page\r\n");
  TextLineFile holder(Declaration());
  holder.name().Assign(path);
  holder.Open(kApplicationMode);
  ASSERT_EQ(ErrorCode(), 0);

  EXPECT_EQ(OpenCode(path), error::kAccessDenied);
  TextLineFile other(Declaration());
  other.name().Assign(path);
  other.Create();
  EXPECT_EQ(ErrorCode(), error::kAccessDenied);
  EXPECT_EQ(ReadAll(path), "page\r\n");

  // A reader that lets others write gets in; one that denies writing does not.
  EXPECT_EQ(ReadLines(path, Declaration(), access_mode::kRead | access_mode::kDenyNone),
            Lines{"page"});
  other.Open(access_mode::kRead | access_mode::kDenyWrite);
  EXPECT_EQ(ErrorCode(), error::kAccessDenied);

  holder.Close();
  EXPECT_EQ(OpenCode(path), 0);
}

TEST_F(TextLineFileTest, CreateReportsItsOwnFailures) {
  FileDeclaration no_create = Declaration();
  no_create.may_create = false;
  TextLineFile file(no_create);
  file.name().Assign(scratch_ / "new.htm");
  file.Create();
  EXPECT_EQ(ErrorCode(), error::kNoCreateAttribute);
  EXPECT_FALSE(std::filesystem::exists(scratch_ / "new.htm"));

  TextLineFile in_missing(Declaration());
  in_missing.name().Assign(scratch_ / "absent/new.htm");
  in_missing.Create();
  EXPECT_EQ(ErrorCode(), error::kPathNotFound);

  const std::string read_only = scratch_.Write("read-only.htm", "keep");
  kb::testing::MakeReadOnly(read_only);
  in_missing.name().Assign(read_only);
  in_missing.Create();
  EXPECT_EQ(ErrorCode(), error::kAccessDenied);
  EXPECT_EQ(ReadAll(read_only), "keep");
  in_missing.name().Assign(scratch_.path().string());
  in_missing.Create();
  EXPECT_EQ(ErrorCode(), error::kAccessDenied) << "a folder";
}

TEST_F(TextLineFileTest, OperationsOutOfOrderAreRefused) {
  const std::string path = scratch_.Write("file.htm", "x\r\n");
  TextLineFile file(Declaration());
  file.name().Assign(path);
  for (void (TextLineFile::*operation)() :
       {&TextLineFile::Set, &TextLineFile::Next, &TextLineFile::Add, &TextLineFile::Close}) {
    PostError(0, 0);
    (file.*operation)();
    EXPECT_EQ(ErrorCode(), error::kFileNotOpen);
  }
  file.Open(kApplicationMode);
  ASSERT_EQ(ErrorCode(), 0);
  file.Open(kApplicationMode);
  EXPECT_EQ(ErrorCode(), error::kFileAlreadyOpen);
  file.Create();
  EXPECT_EQ(ErrorCode(), error::kFileAlreadyOpen);
  EXPECT_EQ(ReadAll(path), "x\r\n");
  file.Next();
  EXPECT_EQ(file.record().clipped(), "x") << "Next without Set starts at the first line";
}

// The records of `data` as the line rules give them, read from memory at once (the rules
// themselves are line_reader_test's), clipped.
Lines RecordsInMemory(std::string_view data, int32_t tab_width) {
  Lines records;
  LineReader reader(255, tab_width);
  for (std::size_t offset = 0;;) {
    reader.Start();
    offset += reader.Feed(data.substr(offset), true);
    if (reader.end_of_file()) return records;
    const std::string_view line = reader.line();
    records.emplace_back(line.substr(0, line.find_last_not_of(' ') + 1));
  }
}

// Random files of short and long lines, lone CRs and LFs, tabs and Ctrl-Zs, read from disk
// through buffers of 512 bytes and more, with and without the quick scan and a tab option:
// the records are what the rules give for the same bytes in memory, whatever the buffer's
// refills cut (a CR LF split by a buffer's end included).
TEST_F(TextLineFileTest, ReadsFromDiskWhatTheLineRulesGiveInMemory) {
  const std::string pieces[] = {"abc",
                                "\r\n",
                                "\r\n",
                                "\r",
                                "\n",
                                "\t",
                                "\x1A",
                                " ",
                                std::string(100, 'x'),
                                std::string(300, 'y')};
  const std::pair<std::string, int32_t> declarations[] = {{"/FILEBUFFERS=1", 8},
                                                          {"/FILEBUFFERS=100", 8},
                                                          {"", 8},
                                                          {"/FILEBUFFERS=1/TAB=4", 4},
                                                          {"/QUICKSCAN=ON /TAB=2", 2}};
  std::mt19937 random(26);
  for (int round = 0; round < 60; ++round) {
    std::string data;
    for (int count = random() % 40; count > 0; --count) {
      const std::string& piece = pieces[random() % std::size(pieces)];
      if (piece != "\x1A" || random() % 4 == 0) data += piece;
    }
    const std::string path = scratch_.Write("random.htm", data);
    for (const auto& [options, tab_width] : declarations) {
      EXPECT_EQ(ReadLines(path, Declaration(options)), RecordsInMemory(data, tab_width))
          << options << " reading '" << data << "'";
    }
  }
  const std::string first(300, 'f');
  const std::string second(211 - 2, 's');
  ASSERT_EQ((first + "\r\n" + second).size(), 511u) << "the CR ends the first buffer";
  const std::string split = first + "\r\n" + second + "\r\nthird";
  EXPECT_EQ(ReadLines(scratch_.Write("split.htm", split), Declaration("/FILEBUFFERS=1")),
            (Lines{std::string(255, 'f'), second, "third"}));
}

TEST_F(TextLineFileTest, EndOfDataCases) {
  EXPECT_EQ(ReadLines(scratch_.Write("empty.htm", "")), Lines{});
  TextLineFile file(Declaration());
  file.name().Assign(scratch_.Write("abc.htm", "abc"));
  file.Open(kApplicationMode);
  file.Set();
  file.Next();
  EXPECT_EQ(file.record().view(), "abc" + std::string(252, ' '));
  file.Next();
  EXPECT_EQ(ErrorCode(), error::kRecordNotAvailable);
  EXPECT_EQ(file.record().view(), "abc" + std::string(252, ' ')) << "the record is kept";
  file.Set();
  file.Next();
  EXPECT_EQ(ErrorCode(), 0) << "Set starts over after the end";
  file.Close();
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(file.record().clipped(), "abc");
}

TEST_F(TextLineFileTest, OneDeclarationReadsFileAfterFile) {
  const std::string header = scratch_.Write("lheader.htm", "<html>\r\n<body>\r\n");
  const std::string footer = scratch_.Write("lfooter.htm", "</body>\r\n");
  TextLineFile file(Declaration());
  Lines lines;
  for (const std::string& path : {header, footer}) {
    file.name().Assign(path);
    file.Open(kApplicationMode);
    file.Set();
    for (file.Next(); ErrorCode() == 0; file.Next()) lines.emplace_back(file.record().clipped());
    file.Close();
  }
  EXPECT_EQ(lines, (Lines{"<html>", "<body>", "</body>"}));
}

TEST_F(TextLineFileTest, ReadsWithoutQuickScanSeeWhatOthersAppend) {
  const std::string path = scratch_.Write("growing.htm", "one\r\n");
  const uint8_t deny_none_reader = access_mode::kRead | access_mode::kDenyNone;
  for (const uint8_t mode : {deny_none_reader, kApplicationMode}) {
    scratch_.Write("growing.htm", "one\r\n");
    TextLineFile reader(Declaration());
    reader.name().Assign(path);
    reader.Open(mode);
    reader.Set();
    reader.Next();
    ASSERT_EQ(ErrorCode(), 0);
    std::ofstream(path, std::ios::binary | std::ios::app) << "two\r\n";
    reader.Next();
    if (mode == kApplicationMode) {
      EXPECT_EQ(ErrorCode(), error::kRecordNotAvailable) << "the size seen at Open holds";
    } else {
      EXPECT_EQ(ErrorCode(), 0);
      EXPECT_EQ(reader.record().clipped(), "two");
    }
  }
}

class TextLineFileWriteTest : public TextLineFileTest {
 protected:
  // Creates the page, opens it and adds `lines`; gives the file's bytes after Close.
  std::string WritePage(const Lines& lines, FileDeclaration declaration = Declaration()) {
    TextLineFile page(std::move(declaration));
    page.name().Assign(path_);
    page.Create();
    EXPECT_EQ(ErrorCode(), 0);
    page.Open(kApplicationMode);
    EXPECT_EQ(ErrorCode(), 0);
    for (const std::string& line : lines) {
      page.record().Assign(line);
      page.Add();
      EXPECT_EQ(ErrorCode(), 0);
    }
    page.Close();
    EXPECT_EQ(ErrorCode(), 0);
    return ReadAll(path_);
  }

  std::string path_ = scratch_ / "ZebResult.htm";
};

// Random lines, blank, short, with blanks at either end and longer than the record, written
// through one buffer and through many, at the usual and at the longest record length, over
// an old page that Create empties: each arrives clipped, cut to the record, with CR LF.
TEST_F(TextLineFileWriteTest, AddWritesEachRecordClippedAndCrLf) {
  std::mt19937 random(5);
  for (const auto& [options, length, count] : {std::tuple{"/FILEBUFFERS=1", std::size_t{255}, 3000},
                                               {"/FILEBUFFERS=100", 255, 3000},
                                               {"/FILEBUFFERS=1", kMaxRecordLength, 40}}) {
    scratch_.Write("ZebResult.htm", "an old page that Create empties\r\n");
    Lines lines;
    std::string expected;
    for (int i = 0; i < count; ++i) {
      std::string line(random() % 4 == 0 ? random() % (length + 50) : random() % 20, ' ');
      for (char& byte : line) byte = " a<\t"[random() % 4];
      lines.push_back(line);
      const std::string record = line.substr(0, length);
      expected += record.substr(0, record.find_last_not_of(' ') + 1) + "\r\n";
    }
    EXPECT_TRUE(WritePage(lines, Declaration(options, length)) == expected) << options;
  }
  EXPECT_EQ(WritePage({}), "");
}

TEST_F(TextLineFileWriteTest, TheFirstAddOverwritesOneTrailingCtrlZ) {
  scratch_.Write("ZebResult.htm", "head\r\n\x1A\x1A");
  TextLineFile page(Declaration());
  page.name().Assign(path_);
  page.Open(kApplicationMode);
  page.record().Assign("one");
  page.Add();
  page.record().Assign("two");
  page.Add();
  page.Close();
  EXPECT_EQ(ReadAll(path_),
            "head\r\n\x1A"
            "one\r\ntwo\r\n");
}

TEST_F(TextLineFileWriteTest, AddsAfterReadingGoToTheEnd) {
  scratch_.Write("ZebResult.htm", "first\r\nsecond\r\n");
  TextLineFile page(Declaration());
  page.name().Assign(path_);
  page.Open(kApplicationMode);
  page.Set();
  page.Next();
  page.record().Assign("third");
  page.Add();
  page.Next();
  EXPECT_EQ(page.record().clipped(), "second");
  page.Next();
  EXPECT_EQ(page.record().clipped(), "third");
  page.Close();
  EXPECT_EQ(ReadAll(path_), "first\r\nsecond\r\nthird\r\n");
}

TEST_F(TextLineFileWriteTest, AddOnAReadOnlyOpenIsRefused) {
  scratch_.Write("ZebResult.htm", "page\r\n");
  TextLineFile page(Declaration());
  page.name().Assign(path_);
  page.Open(access_mode::kRead | access_mode::kDenyWrite);
  page.record().Assign("more");
  page.Add();
  EXPECT_EQ(ErrorCode(), error::kAccessDenied);
  page.Close();
  EXPECT_EQ(ReadAll(path_), "page\r\n");
}

TEST_F(TextLineFileWriteTest, FailedReadsWritesAndClosesSayWhatWentWrong) {
  struct Case {
    platform::Operation operation;
    int os_error;
    int32_t posted;
  };
  for (const Case c :
       {Case{platform::Operation::kWrite, ENOSPC, 339},
        Case{platform::Operation::kWrite, EDQUOT, 339},
        Case{platform::Operation::kWrite, EFBIG, 339}, Case{platform::Operation::kWrite, EIO, 329},
        Case{platform::Operation::kClose, EIO, 329},
        Case{platform::Operation::kWrite, EACCES, 5}}) {
    platform::testing::FaultyEnv env;
    TextLineFile page(Declaration("/FILEBUFFERS=1"), env);
    page.name().Assign(path_);
    page.Create();
    page.Open(kApplicationMode);
    env.FailNth(c.operation, 1, c.os_error);
    // A 512-byte buffer: the third line reaches the file, the rest waits for Close.
    int32_t posted = 0;
    for (int line = 0; line < 4 && posted == 0; ++line) {
      page.record().Assign(std::string(200, 'x'));
      page.Add();
      posted = ErrorCode();
    }
    if (posted == 0) {
      page.Close();
      posted = ErrorCode();
    }
    EXPECT_EQ(posted, c.posted) << c.os_error;
    EXPECT_EQ(ErrorText(), ErrorTextOf(ErrorMessage(c.posted)).view());
    page.Close();
  }

  scratch_.Write("ZebResult.htm", std::string(3000, 'r'));
  platform::testing::FaultyEnv env;
  TextLineFile page(Declaration("/FILEBUFFERS=1", 2000), env);
  page.name().Assign(path_);
  page.Open(kApplicationMode);
  page.Set();
  env.FailNth(platform::Operation::kRead, 1, EIO);
  page.Next();
  EXPECT_EQ(ErrorCode(), 330);
  EXPECT_EQ(ErrorText().substr(0, 11), "Read Fault ");
}

}  // namespace
}  // namespace kb
