#pragma once

// A text file seen as a sequence of records, one record per line, each record one
// blank-padded text field whose length is fixed by the file's declaration.
//
// Reading (Next): CR LF ends a line and is not stored; a lone CR or LF is data. A Ctrl-Z (26)
// ends a line, and at the start of a line ends the file. A tab becomes blanks up to the next
// multiple of 8 characters. A line longer than the record is cut and its rest skipped. The last
// line needs no terminator.
// Writing (Add): the record without its trailing blanks, then CR LF, at the end of the file;
// the first Add after Open overwrites one Ctrl-Z that ends the file.
//
// Every operation reports through the process-wide error state (files/error_state.h): it
// clears the state on success and posts on failure:
//   45 Invalid Filename  empty name, a name of 260 characters or more, a name holding a NUL
//   2  File Not Found    Open of a file that does not exist
//   3  Path Not Found    a directory of the path is missing or is not a directory
//   4  Too Many Open Files
//   5  Access Denied     read-only file (no write bit) opened for writing, a directory, refused
//                        access, a lock held by another open (sharing), Add on a read-only
//                        open, a short write
//   33 Record Not Available  Next at the end of the file or on a leading Ctrl-Z
//   47 Invalid Record Declaration  a record length above kMaxRecordLength (every Open/Create)
//   54 No Create Attribute  Create on a declaration that does not allow it
// and any other operating-system error as its own number (Unknown Error Posted when it has no
// text).

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "support/text/text.h"

namespace kb {

// The longest record a file declaration may have.
inline constexpr std::size_t kMaxRecordLength = 65279;
// The length of a declaration's name variable.
inline constexpr std::size_t kFileNameLength = 255;

// What a program declares about one of its files.
struct FileDeclaration {
  std::size_t record_length = 255;
  // Option text such as "/FILEBUFFERS=100": each option a "/", a word in capitals and
  // optionally "=" and a value. FILEBUFFERS=n sets the I/O buffer to n * 512 bytes (never
  // less than the record); other words are accepted and ignored.
  std::string options;
  bool may_create = true;
  std::size_t name_length = kFileNameLength;
};

class TextLineFile {
 public:
  explicit TextLineFile(FileDeclaration declaration);
  ~TextLineFile();  // closes the file if it is open, writing out what is buffered
  TextLineFile(const TextLineFile&) = delete;
  TextLineFile& operator=(const TextLineFile&) = delete;

  // The name variable: the path, blank-padded. Open and Create read it afresh, without its
  // trailing blanks; a relative path is resolved against the current directory.
  TextField& name() { return name_; }
  // The record: read by Next, written by Add. It keeps its contents across Close.
  TextField& record() { return record_; }

  // Opens the existing file with `mode` (files/access_mode.h). Not positioned until Set.
  void Open(uint8_t mode);
  // Creates the file, or empties an existing one, and leaves it closed. It takes the file
  // exclusively (locked) before emptying it, so a file that another open holds is never
  // emptied (error 5).
  void Create();
  // Positions before the first line. Touches no disk.
  void Set();
  // Reads the next line into the record.
  void Next();
  // Appends the record as one line.
  void Add();
  // Writes out buffered output and closes. A failed write is posted (5) after the file is
  // closed.
  void Close();

  bool is_open() const;

 private:
  class OpenFile;

  FileDeclaration declaration_;
  TextField name_;
  TextField record_;
  std::unique_ptr<OpenFile> open_;
};

}  // namespace kb
