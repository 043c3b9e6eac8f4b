#pragma once

// The rules by which the bytes of a text file become one record, kept apart from any file so
// that they can be exercised on bytes in memory.
//
// A line ends at CR LF, which is consumed and not stored; a CR or LF alone is data. A Ctrl-Z
// (26) ends the line and is consumed with it; at the very start of a line it ends the file
// and is not consumed. A tab takes one byte and stores blanks up to the next multiple of the
// tab width. With a record of a fixed length, copying stops when the record is full or as
// many bytes as the record is long have been taken; the rest of the line is then skipped up
// to and including its CR LF or Ctrl-Z. A growing record (kGrowingRecord) takes every line
// whole, however long: only memory limits it. The end of the data ends the last line, which
// needs no terminator. Every other byte, byte 0 included, is stored as it is.
//
// The bytes come in windows of any size, so that the line can run across refills of a
// buffer: Feed is given what follows the bytes consumed so far and says how many it
// consumed. A CR at the end of a window is not consumed until the byte after it is seen.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace kb {

// Tab widths with a meaning of their own: 0 drops tabs; kTabAsIs stores the tab byte; any
// other negative width -n stores n blanks.
inline constexpr int32_t kTabDropped = 0;
inline constexpr int32_t kTabAsIs = -100;

// The record length of a record that grows to hold each line whole.
inline constexpr std::size_t kGrowingRecord = SIZE_MAX;

class LineReader {
 public:
  // Reads lines for a record of `record_length` characters (at least 1), or a growing one.
  LineReader(std::size_t record_length, int32_t tab_width);

  // Begins a line: nothing is stored.
  void Start();

  // Reads from `bytes`, the data that follows what was consumed so far since Start.
  // `end_of_data` tells that nothing follows `bytes`. Returns the count of bytes consumed.
  // When the line is not finished afterwards, every byte of `bytes` but a final CR was
  // consumed, and Feed wants the bytes from there on.
  std::size_t Feed(std::string_view bytes, bool end_of_data);

  // The line is read, the file ended at its start, or memory ran out.
  bool finished() const { return state_ >= State::kDone; }
  // The line's start was the end of the data or a Ctrl-Z: there is no record.
  bool end_of_file() const { return state_ == State::kEndOfFile; }
  // The line could not be stored whole for want of memory; what was stored stays.
  bool out_of_memory() const { return state_ == State::kOutOfMemory; }

  // The characters stored for the line: the record without the blanks that pad it to its
  // length. Valid until the next Start.
  std::string_view line() const { return line_; }

 private:
  enum class State { kStarting, kCopying, kSkipping, kDone, kEndOfFile, kOutOfMemory };

  std::size_t Copy(std::string_view bytes, bool end_of_data);
  void Store(char byte);
  void StoreBlanks(int64_t count);

  std::size_t record_length_;
  int32_t tab_width_;
  State state_ = State::kStarting;
  std::string line_;       // the characters stored in the record
  std::size_t taken_ = 0;  // bytes of the line copied into the record
};

}  // namespace kb
