#include "files/block_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <string>
#include <vector>

#include "files/access_mode.h"
#include "files/text_line_file.h"
#include "support/error_state/error_state.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using kb::testing::ScratchDirectory;

constexpr uint8_t kApplicationMode = access_mode::kReadWrite | access_mode::kDenyWrite;
constexpr uint8_t kReadDenyWrite = access_mode::kRead | access_mode::kDenyWrite;

// Bytes of every value, zero bytes, Ctrl-Z, CR and LF among them.
std::string Content(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + i / 251) % 256);
  return bytes;
}

FileDeclaration Declaration(std::string options = "/FILEBUFFERS=6") {
  return {.record_length = kBlockSize, .options = std::move(options), .may_create = false};
}

struct Blocks {
  std::vector<std::size_t> counts;
  std::string data;  // the data bytes of every block, in order
};

// Opens `path`, reads every block until Next fails, checking each block's zero fill, and
// closes it.
Blocks ReadBlocks(BlockFile& file, const std::string& path, uint8_t mode = kApplicationMode) {
  Blocks blocks;
  file.name().Assign(path);
  file.Open(mode);
  EXPECT_EQ(ErrorCode(), 0) << ErrorText();
  file.Set();
  for (file.Next(); ErrorCode() == 0; file.Next()) {
    const std::string_view block(file.block().data(), kBlockSize);
    blocks.counts.push_back(file.last_count());
    blocks.data.append(block.substr(0, file.last_count()));
    EXPECT_EQ(block.substr(file.last_count()), std::string(kBlockSize - file.last_count(), '\0'));
  }
  EXPECT_EQ(ErrorCode(), error::kRecordNotAvailable);
  file.Close();
  EXPECT_EQ(ErrorCode(), 0);
  return blocks;
}

// Opens `path`, reads it with NextBlocks until that fails, checking that every run but the
// last is of whole blocks, and closes it: gives the data read.
std::string ReadRuns(BlockFile& file, const std::string& path, uint8_t mode) {
  std::string data;
  file.name().Assign(path);
  file.Open(mode);
  file.Set();
  for (std::string_view run = file.NextBlocks(); ErrorCode() == 0; run = file.NextBlocks()) {
    EXPECT_FALSE(run.empty());
    EXPECT_EQ(data.size() % kBlockSize, 0u) << "a run after one that was not of whole blocks";
    data.append(run);
  }
  EXPECT_EQ(ErrorCode(), error::kRecordNotAvailable);
  file.Close();
  return data;
}

class BlockFileTest : public ::testing::Test {
 protected:
  ScratchDirectory scratch_;
};

// Block by block and as many blocks as each read brings in, with one file object reading one
// file after another.
TEST_F(BlockFileTest, ReadsEveryFileSizeInWholeBlocksAndAZeroFilledLastOne) {
  const std::vector<std::pair<std::size_t, std::vector<std::size_t>>> cases = {
      {0, {}},
      {1, {1}},
      {4095, {4095}},
      {4096, {4096}},
      {4097, {4096, 1}},
      {8192, {4096, 4096}},
      {10000, {4096, 4096, 1808}},
      {12287, {4096, 4096, 4095}},
      {12288, {4096, 4096, 4096}},
      {12289, {4096, 4096, 4096, 1}},
  };
  // Reading only fills the buffer as the file opens; an open with write access does not.
  for (const uint8_t mode : {kApplicationMode, kReadDenyWrite}) {
    for (const std::string options : {"/FILEBUFFERS=6", "/FILEBUFFERS=24", "/FILEBUFFERS=9", ""}) {
      BlockFile file(Declaration(options));
      for (const auto& [size, counts] : cases) {
        const std::string content = Content(size);
        const Blocks blocks = ReadBlocks(file, scratch_.Write("ZEB00001.htm", content), mode);
        const std::string where =
            std::to_string(size) + " bytes, options " + options + ", mode " + std::to_string(mode);
        EXPECT_EQ(blocks.counts, counts) << where;
        EXPECT_EQ(blocks.data, content) << where;
        EXPECT_EQ(ReadRuns(file, scratch_ / "ZEB00001.htm", mode), content) << where;
      }
    }
  }
}

TEST_F(BlockFileTest, TheEndOfDataKeepsTheLastBlock) {
  BlockFile file(Declaration());
  file.name().Assign(scratch_.Write("ZEB00001.htm", "short"));
  file.Open(kApplicationMode);
  file.Set();
  file.Next();
  ASSERT_EQ(ErrorCode(), 0);
  file.Next();
  EXPECT_EQ(ErrorCode(), error::kRecordNotAvailable);
  EXPECT_EQ(ErrorText().substr(0, 21), "Record Not Available ");
  EXPECT_EQ(std::string_view(file.block().data(), 6), std::string_view("short\0", 6));
  file.Set();
  file.Next();
  EXPECT_EQ(ErrorCode(), 0) << "Set starts over";
}

TEST_F(BlockFileTest, AFullLastBlockOutlivesTheEndOfDataAndClose) {
  const std::string content = Content(2 * kBlockSize);
  for (const std::string options : {"/FILEBUFFERS=6", "/FILEBUFFERS=24"}) {
    BlockFile file(Declaration(options));
    file.name().Assign(scratch_.Write("ZEB00001.htm", content));
    file.Open(kReadDenyWrite);
    file.Set();
    file.Next();
    file.Next();
    ASSERT_EQ(ErrorCode(), 0);
    const std::string second = content.substr(kBlockSize);
    file.Next();
    EXPECT_EQ(ErrorCode(), error::kRecordNotAvailable);
    EXPECT_EQ(std::string_view(file.block().data(), kBlockSize), second) << options;
    file.Close();
    EXPECT_EQ(std::string_view(file.block().data(), kBlockSize), second) << options;

    // Closed after the first block, before reading on.
    file.Open(kReadDenyWrite);
    file.Set();
    file.Next();
    file.Close();
    EXPECT_EQ(std::string_view(file.block().data(), kBlockSize), content.substr(0, kBlockSize));
  }
}

TEST_F(BlockFileTest, OnlyTheBytesSeenAtOpenAreRead) {
  for (const uint8_t mode : {kApplicationMode, kReadDenyWrite}) {
    const std::string path = scratch_.Write("ZEB00001.htm", Content(10000));
    BlockFile file(Declaration());
    file.name().Assign(path);
    file.Open(mode);
    file.Set();
    file.Next();
    ASSERT_EQ(ErrorCode(), 0);

    // The file shrinks to 5,000 bytes: its last block holds what is left of it, and no byte
    // of the buffer beyond that is handed out.
    std::filesystem::resize_file(path, 5000);
    file.Next();
    ASSERT_EQ(ErrorCode(), 0);
    EXPECT_EQ(file.last_count(), 904u);
    EXPECT_EQ(std::string_view(file.block().data(), 904), Content(5000).substr(4096));
    EXPECT_EQ(std::string_view(file.block().data() + 904, kBlockSize - 904),
              std::string(kBlockSize - 904, '\0'));
    file.Next();
    EXPECT_EQ(ErrorCode(), error::kRecordNotAvailable);
    file.Close();

    // A file that grows after Open is read to the size it had.
    scratch_.Write("ZEB00001.htm", Content(100));
    file.Open(mode);
    file.Set();
    std::filesystem::resize_file(path, 20000);
    file.Next();
    EXPECT_EQ(file.last_count(), 100u);
    file.Next();
    EXPECT_EQ(ErrorCode(), error::kRecordNotAvailable);
  }
}

TEST_F(BlockFileTest, ALargerBufferServesSeveralBlocksFromOneRead) {
  const std::string path = scratch_.Write("ZEB00001.htm", Content(12288));
  BlockFile file(Declaration("/FILEBUFFERS=24"));
  file.name().Assign(path);
  file.Open(kApplicationMode);
  file.Set();
  file.Next();
  // What the first read took in is what the next blocks deliver.
  scratch_.Write("ZEB00001.htm", std::string(12288, 'x'));
  file.Next();
  EXPECT_EQ(std::string_view(file.block().data(), kBlockSize), Content(12288).substr(4096, 4096));
}

// Both kinds of file open alike: each failure posts the same number for a block file as for a
// text file, whatever mode asks.
TEST_F(BlockFileTest, OpenFailuresAreThoseOfTextFiles) {
  ASSERT_EQ(mkfifo((scratch_ / "fifo.htm").c_str(), 0666), 0);
  const std::string read_only = scratch_.Write("read-only.htm", "article");
  kb::testing::MakeReadOnly(read_only);
  const std::string held = scratch_.Write("held.htm", "article");
  BlockFile holder(Declaration());
  holder.name().Assign(held);
  holder.Open(access_mode::kRead | access_mode::kDenyWrite);
  ASSERT_EQ(ErrorCode(), 0);

  struct Case {
    std::string path;
    uint8_t mode;
    int32_t code;
  };
  const Case cases[] = {
      {scratch_ / "absent.htm", kApplicationMode, error::kFileNotFound},
      {scratch_ / "absent/absent.htm", kReadDenyWrite, error::kPathNotFound},
      {scratch_.path().string(), kApplicationMode, error::kAccessDenied},
      {scratch_.path().string(), kReadDenyWrite, error::kAccessDenied},
      {scratch_ / "fifo.htm", kReadDenyWrite, error::kAccessDenied},
      {read_only, kApplicationMode, error::kAccessDenied},
      {read_only, kReadDenyWrite, 0},
      {held, kApplicationMode, error::kAccessDenied},
      {held, access_mode::kRead | access_mode::kDenyNone, 0},
      {held, access_mode::kRead | access_mode::kDenyWrite, 0},
      {held, access_mode::kRead | access_mode::kDenyAll, error::kAccessDenied},
      {"", kReadDenyWrite, error::kInvalidFilename},
  };
  for (const Case& c : cases) {
    BlockFile blocks(Declaration());
    blocks.name().Assign(c.path);
    blocks.Open(c.mode);
    EXPECT_EQ(ErrorCode(), c.code) << c.path << " mode " << int{c.mode};
    EXPECT_EQ(blocks.is_open(), c.code == 0);
    TextLineFile lines({.options = ""});
    lines.name().Assign(c.path);
    lines.Open(c.mode);
    EXPECT_EQ(ErrorCode(), c.code) << c.path << " mode " << int{c.mode} << ", as text";
  }

  holder.Open(kReadDenyWrite);
  EXPECT_EQ(ErrorCode(), error::kFileAlreadyOpen);
  holder.Close();
  EXPECT_EQ(ErrorCode(), 0);
  for (const auto operation : {&BlockFile::Next, &BlockFile::Close}) {
    (holder.*operation)();
    EXPECT_EQ(ErrorCode(), error::kFileNotOpen);
  }
}

}  // namespace
}  // namespace kb
