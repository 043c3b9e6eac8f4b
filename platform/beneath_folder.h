#pragma once

// A folder whose files are opened beneath it alone, for a program that hands them to others
// (the search server): whatever path is asked for, whatever symbolic links its folders hold,
// the file opened lies inside the folder.

#include <cstdint>
#include <memory>
#include <string_view>

namespace kb::platform {

class BeneathFolder {
 public:
  // Nothing when the folder cannot be opened.
  static std::unique_ptr<BeneathFolder> Open(std::string_view path);
  ~BeneathFolder();
  BeneathFolder(const BeneathFolder&) = delete;
  BeneathFolder& operator=(const BeneathFolder&) = delete;

  // Opens `relative` (a path inside the folder, no leading "/") for reading, resolved beneath
  // the folder (openat2 with RESOLVE_BENEATH and RESOLVE_NO_MAGICLINKS: no "..", absolute
  // link or /proc link may lead out of it), without waiting on a FIFO or a device. Gives the
  // open descriptor, which the caller then owns, with the file's size, when it is a regular
  // file; -1 otherwise, or when it cannot be opened (also on a kernel without openat2, older
  // than Linux 5.6: nothing is opened then).
  int OpenRegularFile(std::string_view relative, uint64_t& size) const;

 private:
  explicit BeneathFolder(int descriptor) : descriptor_(descriptor) {}
  int descriptor_;
};

}  // namespace kb::platform
