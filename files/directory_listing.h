#pragma once

// The directory listing: one queue entry per directory entry that matches a wildcard
// pattern, with its name, local last-write date and time, size and attributes.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"
#include "support/queue/record_queue.h"
#include "support/text/text.h"

namespace kb {

// Attribute bits of a listed entry.
namespace attribute {
inline constexpr uint8_t kReadOnly = 0x01;  // a file without any write permission bit
inline constexpr uint8_t kHidden = 0x02;    // a name beginning with "."
inline constexpr uint8_t kSystem = 0x04;    // neither a regular file nor a directory
inline constexpr uint8_t kDirectory = 0x10;
inline constexpr uint8_t kArchive = 0x20;  // never set: the file system keeps no such bit
}  // namespace attribute

// One listed entry; 282 bytes.
struct FileRecord {
  FixedString<256> name;       // FQNAME: the name without directory, cut at 256
  FixedString<13> short_name;  // FQSHORTNAME: the name cut at 13 (there are no short names)
  PackedLong date;             // FQDATE: DateSerial of the local last-write date
  PackedLong time;             // FQTIME: TimeSerial of the local last-write time
  PackedLong size;             // FQSIZE: the low 32 bits of the size in bytes
  uint8_t attributes;          // FQATTRIB: attribute bits, masked with 0x37

  static constexpr FieldSpec kLayout[] = {
      {FieldType::kString, 256}, {FieldType::kString, 13}, {FieldType::kLong, 4},
      {FieldType::kLong, 4},     {FieldType::kLong, 4},    {FieldType::kByte, 1},
  };
};
static_assert(sizeof(FileRecord) == 282);

// How much a listing fills in of each entry.
enum class ListingDetail {
  // Every field.
  kFull,
  // FQNAME, FQSHORTNAME and the hidden, system and directory bits of FQATTRIB, for a caller
  // that needs only the names: FQDATE, FQTIME and FQSIZE are left at 0 and the read-only bit
  // is never set. The file system is asked for an entry's status only when its directory does
  // not record the entry's type, or when it is a symbolic link (to follow it), so a listing
  // of plain files costs no more than reading the directory. It takes the same entries as
  // kFull.
  kNames,
};

// Appends to `queue` one entry for each entry matching `pattern` (trailing blanks removed, at
// most 259 characters; "*" and "?" in its last component, ASCII letters matched without
// regard to case; a pattern without "/" lists the current directory). With
// `attribute_filter` 0 only plain files are taken; otherwise an entry whose hidden, system or
// directory bits are not all clear is taken when it shares one of them with the filter.
//
// Entries are appended sorted by name as a case-blind file system lists them: names are
// compared byte by byte with a-z taken as A-Z, and names that are equal so are ordered by
// their bytes as they are ("ZEB1.htm", "ZEB1.HTM" sorts as "ZEB1.HTM", "ZEB1.htm";
// "ZEB_1.htm" after "ZEBA.htm").
//
// Symbolic links are followed. A dangling link, or one in a loop, is skipped; a link whose
// target cannot be checked for another reason (a folder on the way that may not be entered)
// is taken as a plain file, with FQDATE, FQTIME and FQSIZE 0, so that its opening fails and
// is reported like that of any file.
//
// A pattern that matches nothing, a missing directory or an invalid pattern append nothing,
// leave the error state alone and give true. A directory that exists but cannot be read (it
// may not be read, it is not a directory, or reading it fails) gives false after posting
// why: what an open would post for it (5 when it may not be read or is not a directory), or
// what a failed read posts (330 Read Fault for an I/O error) when reading it failed midway,
// after the entries read until then are appended. A failed append posts 8 and the listing goes on.
// The folder is read through `env`.
bool ListDirectory(Queue<FileRecord>& queue, std::string_view pattern, uint8_t attribute_filter,
                   ListingDetail detail = ListingDetail::kFull,
                   platform::Env& env = platform::Env::Default());

// The paths of a listing's entries in listing order, in one block of memory: each is the
// caller's prefix (its way of naming the listed folder, "./ZEB/") and the entry's name, whole.
// A listing never changes once made, and its copies share that block: a listing kept for
// many searches is handed to each without copying its paths.
class ListedPaths {
 public:
  // A copy shares the block, and a move is a copy: no listing is ever left without one.
  ListedPaths() = default;
  ListedPaths(const ListedPaths&) = default;
  ListedPaths& operator=(const ListedPaths&) = default;

  std::size_t size() const { return entries_->ends.size(); }
  std::string_view operator[](std::size_t index) const {
    const std::size_t begin = index == 0 ? 0 : entries_->ends[index - 1];
    return std::string_view(entries_->bytes).substr(begin, entries_->ends[index] - begin);
  }
  // The name of entry `index`, without the prefix.
  std::string_view name(std::size_t index) const {
    return (*this)[index].substr(entries_->prefix_length);
  }

 private:
  friend bool ListPaths(ListedPaths& paths, std::string_view pattern, std::string_view prefix,
                        uint8_t attribute_filter, platform::Env& env);
  friend class TreeWalk;  // files/tree_listing.cpp

  struct Entries {
    std::string bytes;
    std::vector<std::size_t> ends;  // where each path ends in `bytes`
    std::size_t prefix_length = 0;
  };
  // Filled by the friends above, each into a listing made afresh, before any copy of it.
  std::shared_ptr<Entries> entries_ = std::make_shared<Entries>();
};

// Lists what ListDirectory lists with ListingDetail::kNames, with the same outcome and the
// same errors posted, into `paths` (emptied first), each entry's name after `prefix`: for a
// caller that needs only the names, without a record for each.
bool ListPaths(ListedPaths& paths, std::string_view pattern, std::string_view prefix,
               uint8_t attribute_filter, platform::Env& env = platform::Env::Default());

// Whether `name` matches `pattern`: "*" matches any run of characters, "?" any one; other
// characters match themselves, ASCII letters without regard to case.
bool MatchesWildcard(std::string_view pattern, std::string_view name);

// The listing order of names: compared byte by byte with a-z taken as A-Z, bytes unsigned, and
// names equal so by their bytes as they are.
bool ListedBefore(std::string_view a, std::string_view b);

// Days since 28 December 1800 (1 January 1801 is 4); -1 for a year before 1801 or above 9999,
// a month outside 1 to 12 or a day outside its month.
int32_t DateSerial(int32_t year, int32_t month, int32_t day);

// Hundredths of a second since midnight plus 1, but 0 for midnight itself; -1 for a field out
// of range.
int32_t TimeSerial(int32_t hours, int32_t minutes, int32_t seconds, int32_t hundredths);

}  // namespace kb
