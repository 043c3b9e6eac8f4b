#pragma once

// A file read as consecutive 4,096-byte blocks of raw bytes: no line ends, no Ctrl-Z, no
// padding. The last block holds the file's remaining bytes followed by zero bytes; the count
// of data bytes it holds is last_count().
//
// Reports through the error state (support/error_state/error_state.h) like TextLineFile: Open
// posts 45, 2, 3, 4, 5, 52 or the operating system's number under the same conditions, and
// takes the same locks; Next posts 33 Record Not Available at the end of the data, and
// TransferErrorNumber when a read fails (330 Read Fault for an I/O error); Set, Next and
// Close on a closed file post 37.
//
// Each refill of the I/O buffer is one read of the file, and a buffer of several blocks
// (FILEBUFFERS) serves several Next calls. An open with read access alone fills the buffer as
// it opens (platform::OpenFileForReading), so reading a file smaller than the buffer costs an
// open, a flock when the mode asks for a lock, one read and a close; a file of s bytes at
// least as large costs an fstat more and ceil(s / buffer size) reads in all. An open with
// write access asks the file's status at Open and reads at the first Next. Nothing past the
// size seen at Open is ever read: a file that grows meanwhile is read to that size, one that
// shrinks ends where its bytes end.

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "files/file_declaration.h"
#include "platform/file_system.h"
#include "support/text/text.h"

namespace kb {

inline constexpr std::size_t kBlockSize = 4096;

struct OpenedFile;

class BlockFile {
 public:
  // `declaration.record_length` is ignored: the record is one block. The buffer size follows
  // the option text as for TextLineFile, never less than one block.
  // Works on the files of `env`, which must outlive it.
  explicit BlockFile(FileDeclaration declaration, platform::Env& env = platform::Env::Default());
  ~BlockFile();
  BlockFile(const BlockFile&) = delete;
  BlockFile& operator=(const BlockFile&) = delete;

  TextField& name() { return name_; }

  // Opens the existing file with `mode` (files/access_mode.h).
  void Open(uint8_t mode);
  // Positions at the first block. Touches no disk.
  void Set();
  // Reads the next block: block() holds last_count() data bytes, then zero bytes. At the end
  // of the data, and after a failed read, block() keeps its contents. A Next without Set
  // reads from the first block.
  void Next();
  // Reads on as Next does, but delivers every block that one read of the file brings in at
  // once: the data bytes of the blocks from the position on that the I/O buffer holds (read
  // first when it does not hold the next block), all of them whole blocks but the file's last.
  // The view stays valid until the next Next, NextBlocks, Close or Open. Posts as Next, and
  // gives an empty view then; block() and last_count() are left as they were. For a reader
  // that takes the bytes as they come rather than block by block.
  std::string_view NextBlocks();
  // Closes the file. block() keeps its contents, and the file object its buffer, which the
  // next Open reuses when it asks for the same size: a file object that opens one file after
  // another allocates its buffer once.
  void Close();

  bool is_open() const;

  // The size of the open file as it was at Open, lowered when a read found fewer bytes; 0
  // when closed.
  uint64_t size() const;
  // The bytes one read of the file takes in: the size of the I/O buffer. 0 before Open.
  std::size_t buffer_size() const;
  // Reads the file's bytes from `offset` into `bytes` as one read of the file (Next's refill
  // of the buffer): as many as fit, but none at or past size(); `count` fewer than that when
  // the file has shrunk. Unlike Next and NextBlocks, it may be called from several threads at
  // once while the file is open, for readers that share out the reading of one file between
  // threads, and it changes nothing that Next and NextBlocks read by. Returns the file
  // system's error; posts nothing.
  platform::SystemError ReadAt(uint64_t offset, std::span<char> bytes, std::size_t& count) const;
  // The status of the open file, as it is now: which file it is, and its size. Returns the
  // file system's error; posts nothing.
  platform::SystemError Status(platform::FileStatus& status) const;

  // The record DT. A span taken from it stays valid until the next Next, Close or Open: a
  // full block lies in the I/O buffer itself, and is copied out only when the buffer is
  // refilled or the file closed.
  std::span<const char, kBlockSize> block() const {
    return std::span<const char, kBlockSize>(block_at_, kBlockSize);
  }
  // Data bytes the last successful Next delivered: kBlockSize except for the last block.
  std::size_t last_count() const { return last_count_; }

 private:
  // The bytes from the next block on, as far as the buffer holds them and at most to the size
  // seen, with the next block's offset in `start`; the buffer is loaded first when it does not
  // hold that block whole. Empty after posting, at the end of the data and when a read fails.
  std::string_view HeldFromNext(uint64_t& start);
  // Copies a block handed out in the I/O buffer into block_, before the buffer changes.
  void KeepBlock();

  FileDeclaration declaration_;
  platform::Env& env_;
  FileOptions options_;
  TextField name_;
  std::array<char, kBlockSize> block_{};
  const char* block_at_ = block_.data();  // where block() lies: block_ or the I/O buffer
  std::size_t last_count_ = 0;
  // Made at the first Open and kept with its buffer; is_open() while it holds a file.
  std::unique_ptr<OpenedFile> opened_;
};

}  // namespace kb
