#pragma once

// A text file seen as a sequence of records, one record per line, each record one
// blank-padded text field whose length is fixed by the file's declaration, or a field that
// grows to hold each line whole (FileDeclaration::growing_record).
//
// Reading (Next): CR LF ends a line and is not stored; a lone CR or LF is data. A Ctrl-Z (26)
// ends a line, and at the start of a line ends the file. A tab becomes blanks up to the next
// multiple of 8 characters (or of the width the TAB option gives). A line longer than a
// record of a fixed length is cut and its rest skipped. The last line needs no terminator
// (files/line_reader.h).
// Writing (Add): the record without its trailing blanks, then CR LF, at the end of the file;
// the first Add after Open overwrites one Ctrl-Z that ends the file.
//
// Every operation reports through the error state (support/error_state/error_state.h): it
// clears the state on success and posts on failure:
//   45 Invalid Filename  empty name, a name of the declaration's path_limit (260) characters
//                        or more, a name holding a NUL
//   2  File Not Found    Open of a file that does not exist
//   3  Path Not Found    a directory of the path is missing or is not a directory
//   4  Too Many Open Files
//   5  Access Denied     read-only file (no write bit) opened for writing, a directory, refused
//                        access, a lock held by another open (sharing), Add on a read-only
//                        open
//   33 Record Not Available  Next at the end of the file or on a leading Ctrl-Z
//   37 File Not Open      Set, Next, Add or Close on a file that is not open
//   47 Invalid Record Declaration  a record length of 0 or above kMaxRecordLength (every
//                        Open/Create)
//   52 File Already Open  Open or Create while the file is open
//   54 No Create Attribute  Create on a declaration that does not allow it
// and any other operating-system error of Open or Create as its own number (Unknown Error
// Posted when it has no text). A read, write or close that the operating system fails posts
// TransferErrorNumber (files/file_declaration.h): 339 Handle Disk Full when the disk, the
// quota or the file-size limit is full, 329 Write Fault or 330 Read Fault for an I/O error;
// a buffer, or a growing record, that cannot be allocated posts 8.
//
// Sharing is approximated with advisory locks (files/file_declaration.h, RequestFor): an
// open with write access holds the file exclusively, so two copies of the program never
// write one file at once.

#include <cstdint>
#include <memory>
#include <string_view>

#include "files/file_declaration.h"
#include "platform/file_system.h"
#include "support/text/text.h"

namespace kb {

// What ends each line the file holds.
inline constexpr std::string_view kLineEnd = "\r\n";

class TextLineFile {
 public:
  // Works on the files of `env`, which must outlive it.
  explicit TextLineFile(FileDeclaration declaration, platform::Env& env = platform::Env::Default());
  ~TextLineFile();  // closes the file if it is open, writing out what is buffered
  TextLineFile(const TextLineFile&) = delete;
  TextLineFile& operator=(const TextLineFile&) = delete;

  // The name variable: the path, blank-padded. Open and Create read it afresh, without its
  // trailing blanks; a relative path is resolved against the current directory.
  TextField& name() { return name_; }
  // The record: read by Next, written by Add. It keeps its contents across Close. A
  // declaration whose record length is out of range gets a record of at most
  // kMaxRecordLength bytes (and every Open and Create fails). A growing record is as long as
  // the line last read or the text last assigned.
  TextField& record() { return record_; }

  // Opens the existing file with `mode` (files/access_mode.h). Not positioned until Set.
  void Open(uint8_t mode);
  // Creates the file, or empties an existing one, and leaves it closed. It takes the file
  // exclusively (locked) before emptying it, so a file that another open holds is never
  // emptied (error 5).
  void Create();
  // Begins replacing the file the name names (files/file_replacement.h): the lines added go
  // to a hidden file beside it, which takes its place, whole, only at Commit. The file
  // replaced is held locked until then. Posts 5 when it is held by another program, is not a
  // regular file or may not be written, and the create's error when the hidden file cannot
  // be made (as Open and Create post theirs); 54 on a declaration that does not allow
  // creating.
  void Replace();
  // Ends a Replace: writes out the lines, closes the hidden file and puts it in place of the
  // file the name names. Any failure (a write, the close, the rename) is posted, and leaves
  // the file replaced as it was and no hidden file behind. On a file opened with Open, it is
  // Close.
  void Commit();
  // Positions before the first line. Touches no disk.
  void Set();
  // Reads the next line into the record. A Next without Set reads from the first line.
  void Next();
  // Appends the record as one line. Lines collect in the buffer and reach the file when it
  // is full and at Close; a write that fails is posted by the Add or Close that makes it.
  void Add();
  // Writes out buffered output and closes. A failed write is posted after the file is
  // closed. After Replace it gives the replacement up instead: the hidden file is removed and
  // the file the name names stays as it was. The record keeps its contents.
  void Close();

  bool is_open() const;

 private:
  struct OpenFile;

  // The settings of an open with `mode`.
  FileSettings SettingsFor(uint8_t mode) const;

  FileDeclaration declaration_;
  platform::Env& env_;
  FileOptions options_;
  TextField name_;
  TextField record_;
  std::unique_ptr<OpenFile> open_;
};

}  // namespace kb
