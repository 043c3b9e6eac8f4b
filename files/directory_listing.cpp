#include "files/directory_listing.h"

#include <algorithm>
#include <array>
#include <memory>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "files/file_declaration.h"
#include "platform/file_system.h"
#include "support/error_state/error_state.h"

namespace kb {
namespace {

constexpr std::size_t kMaxPatternLength = 259;
// The attribute bits that can keep an entry out of a listing.
constexpr uint8_t kFilterBits = attribute::kHidden | attribute::kSystem | attribute::kDirectory;
constexpr uint8_t kStoredBits = 0x37;

uint8_t AttributesOf(std::string_view name, const platform::FileStatus& status) {
  uint8_t attributes = 0;
  if (name.front() == '.') attributes |= attribute::kHidden;
  switch (status.type) {
    case platform::FileType::kRegular:
      if (!status.has_write_permission) attributes |= attribute::kReadOnly;
      break;
    case platform::FileType::kDirectory:
      attributes |= attribute::kDirectory;
      break;
    case platform::FileType::kSymbolicLink:
    case platform::FileType::kOther:
      attributes |= attribute::kSystem;
      break;
  }
  return attributes;
}

// With no filter bits only entries without any of them are taken; otherwise also those that
// share one with the filter.
bool PassesFilter(uint8_t attributes, uint8_t filter) {
  const uint8_t bits = attributes & kFilterBits;
  return bits == 0 || (bits & filter) != 0;
}

// What the listing keeps of a taken entry until the entries are sorted: the record's fields
// but its names, which are the one name kept whole.
struct TakenEntry {
  std::string name;
  int32_t date = 0;
  int32_t time = 0;
  int32_t size = 0;
  uint8_t attributes = 0;
};

// The entry's fields from `status`; null when its target could not be checked.
TakenEntry Take(std::string_view name, const platform::FileStatus* status, uint8_t attributes,
                ListingDetail detail) {
  TakenEntry entry{.name = std::string(name)};
  if (detail == ListingDetail::kNames) {
    entry.attributes = attributes & kStoredBits & ~attribute::kReadOnly;
    return entry;
  }
  entry.attributes = attributes & kStoredBits;
  if (status == nullptr) return entry;
  platform::CalendarTime local;
  if (platform::ToLocalTime(status->modified, local)) {
    entry.date = DateSerial(local.year, local.month, local.day);
    entry.time = TimeSerial(local.hour, local.minute, local.second, 0);
  } else {
    entry.date = -1;
    entry.time = -1;
  }
  entry.size = static_cast<int32_t>(static_cast<uint32_t>(status->size));
  return entry;
}

// True when an entry's status failed because what it names is not there: a dangling link, a
// link in a loop, an entry removed since it was read.
bool IsAbsent(platform::SystemError error) {
  return error == platform::system_error::kFileNotFound ||
         error == platform::system_error::kPathNotFound ||
         error == platform::system_error::kBadPathName;
}

// Takes the reader's current entry `name` into `taken` unless it does not pass `filter` or is
// absent.
void Describe(platform::Directory& reader, std::string_view name, uint8_t filter,
              ListingDetail detail, std::vector<TakenEntry>& taken) {
  platform::FileStatus status;
  bool checked = detail == ListingDetail::kNames && reader.RecordedType(status.type);
  if (!checked) {
    const platform::SystemError error = reader.Status(status);
    if (IsAbsent(error)) return;
    checked = error == platform::system_error::kNone;
    // What cannot be checked is listed as a plain file, for its opening to tell what it is.
    if (!checked) {
      status = {.type = platform::FileType::kRegular, .has_write_permission = true};
    }
  }
  const uint8_t attributes = AttributesOf(name, status);
  if (!PassesFilter(attributes, filter)) return;
  taken.push_back(Take(name, checked ? &status : nullptr, attributes, detail));
}

// Where a taken entry goes in the listing, sorted in place of the entry itself.
struct SortKey {
  // The first 8 bytes of the name with a-z taken as A-Z, the first the most significant, 0
  // past the end of the name: what tells most names apart in one comparison.
  uint64_t prefix = 0;
  // The next 8 bytes so: among names that share a prefix ("ZEB00001" of "ZEB000012.htm"), what
  // tells them apart without reaching for the names, which lie all over memory.
  uint64_t more = 0;
  std::size_t entry = 0;  // in the taken entries
};

// The bytes of `name` from `start` on, 8 of them, as SortKey::prefix holds its first 8.
uint64_t FoldedBytes(std::string_view name, std::size_t start, const CaseTable& upper) {
  uint64_t bytes = 0;
  for (std::size_t at = start; at < start + sizeof bytes; ++at) {
    bytes = bytes << 8 | (at < name.size() ? upper[static_cast<unsigned char>(name[at])] : 0);
  }
  return bytes;
}

// Sorts `keys` by prefix, stably: one counting pass per byte of the prefix, the least
// significant first, skipping the bytes in which all keys are alike (the "ZEB" every article
// name starts with). A comparison sort would mispredict about every other comparison.
void SortByPrefix(std::vector<SortKey>& keys) {
  if (keys.empty()) return;
  std::vector<SortKey> sorted(keys.size());
  for (int shift = 0; shift < 64; shift += 8) {
    const auto digit = [shift](const SortKey& key) { return (key.prefix >> shift) & 0xFF; };
    std::array<std::size_t, 256> starts{};
    for (const SortKey& key : keys) ++starts[digit(key)];
    if (starts[digit(keys.front())] == keys.size()) continue;
    std::size_t start = 0;
    for (std::size_t& count : starts) start += std::exchange(count, start);
    for (const SortKey& key : keys) sorted[starts[digit(key)]++] = key;
    keys.swap(sorted);
  }
}

// The order of `taken` in the listing.
std::vector<SortKey> ListingOrder(const std::vector<TakenEntry>& taken) {
  const CaseTable& upper = UpperCaseTable();
  std::vector<SortKey> order(taken.size());
  for (std::size_t i = 0; i < taken.size(); ++i) {
    const std::string& name = taken[i].name;
    order[i] = {.prefix = FoldedBytes(name, 0, upper),
                .more = FoldedBytes(name, sizeof(uint64_t), upper),
                .entry = i};
  }
  SortByPrefix(order);
  // Names that share their first 8 bytes (folded) are told apart by the next 8, and those
  // that share 16 by the rest. Past its end a name has zeros, which no byte of a name folds
  // to: the shorter of two names alike so far comes first, as ListedBefore has it.
  for (auto run = order.begin(); run != order.end();) {
    const auto run_end = std::find_if(run, order.end(), [prefix = run->prefix](const SortKey& key) {
      return key.prefix != prefix;
    });
    if (run_end - run > 1) {
      std::sort(run, run_end, [&taken](const SortKey& a, const SortKey& b) {
        if (a.more != b.more) return a.more < b.more;
        return ListedBefore(taken[a.entry].name, taken[b.entry].name);
      });
    }
    run = run_end;
  }
  return order;
}

void Append(Queue<FileRecord>& queue, const TakenEntry& entry) {
  FileRecord& record = queue.record();
  record.name.Assign(entry.name);
  record.short_name.Assign(entry.name);
  record.date = entry.date;
  record.time = entry.time;
  record.size = entry.size;
  record.attributes = entry.attributes;
  queue.Append();
}

bool IsLeapYear(int32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int32_t LeapDaysThrough(int32_t year) {
  return year / 4 - year / 100 + year / 400;
}

// A pattern cut into the folder it lists and the wildcard its entries' names must match.
struct PatternParts {
  std::string_view directory = ".";
  std::string_view name_pattern;
};

PatternParts SplitPattern(std::string_view pattern) {
  pattern = Clip(pattern).substr(0, kMaxPatternLength);
  PatternParts parts{.name_pattern = pattern};
  const std::size_t slash = pattern.rfind('/');
  if (slash != std::string_view::npos) {
    parts.directory = slash == 0 ? pattern.substr(0, 1) : pattern.substr(0, slash);
    parts.name_pattern = pattern.substr(slash + 1);
  }
  return parts;
}

// What reading the folder of a pattern came to.
struct FolderRead {
  // False when the folder could not be read at all, the failure posted; true also when there
  // is nothing to list (a missing folder, a pattern that matches nothing).
  bool listed = true;
  std::vector<TakenEntry> taken;
  std::vector<SortKey> order;  // `taken` in listing order
  // A read that failed after some entries were taken: posted once they are kept.
  platform::SystemError failure = platform::system_error::kNone;
};

FolderRead ReadFolder(std::string_view directory, std::string_view name_pattern,
                      uint8_t attribute_filter, ListingDetail detail, platform::Env& env) {
  FolderRead read;
  if (name_pattern.empty()) return read;
  std::unique_ptr<platform::Directory> reader;
  if (platform::SystemError error = env.OpenDirectory(directory, reader)) {
    if (error == platform::system_error::kPathNotFound) {
      // Missing, or something there that is not a folder.
      platform::FileStatus status;
      if (env.PathStatus(directory, true, status) != platform::system_error::kNone ||
          status.type == platform::FileType::kDirectory) {
        return read;
      }
      error = platform::system_error::kAccessDenied;
    }
    // A path that cannot name anything has nothing to list either.
    if (error == platform::system_error::kInvalidName) return read;
    PostError(OpenErrorNumber(error), error);
    read.listed = false;
    return read;
  }
  const uint8_t filter = attribute_filter & kFilterBits;
  try {
    bool found = false;
    while ((read.failure = reader->Next(found)) == platform::system_error::kNone && found) {
      const std::string_view name = reader->name();
      if (!MatchesWildcard(name_pattern, name)) continue;
      // A hidden entry cannot pass an empty filter, whatever it is: spare it the stat.
      if (filter == 0 && name.front() == '.') continue;
      Describe(*reader, name, filter, detail, read.taken);
    }
    read.order = ListingOrder(read.taken);
  } catch (const std::bad_alloc&) {
    PostError(error::kInsufficientMemory);
    read.listed = false;
  }
  return read;
}

// The end of a listing whose entries are kept: false, with the failure posted, when reading
// the folder failed midway.
bool Finish(platform::SystemError failure) {
  if (failure == platform::system_error::kNone) return true;
  PostError(TransferErrorNumber(failure), failure);
  return false;
}

// The entries lie in the order the folder gave them, so that taking them in listing order
// would wait for memory at nearly every one: each is asked for a few entries ahead.
constexpr std::size_t kFetchAhead = 16;

}  // namespace

bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  const CaseTable& upper = UpperCaseTable();
  const auto same = [&upper](char a, char b) {
    return upper[static_cast<unsigned char>(a)] == upper[static_cast<unsigned char>(b)];
  };
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;  // the last "*" met, to fall back to
  std::size_t resume = 0;                     // where that "*" stopped matching in `name`
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || same(pattern[p], name[n]))) {
      ++p;
      ++n;
    } else if (star != std::string_view::npos) {
      p = star + 1;
      n = ++resume;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p] == '*') ++p;
  return p == pattern.size();
}

bool ListedBefore(std::string_view a, std::string_view b) {
  const CaseTable& upper = UpperCaseTable();
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    const unsigned char x = upper[static_cast<unsigned char>(a[i])];
    const unsigned char y = upper[static_cast<unsigned char>(b[i])];
    if (x != y) return x < y;
  }
  if (a.size() != b.size()) return a.size() < b.size();
  return a < b;
}

bool ListDirectory(Queue<FileRecord>& queue, std::string_view pattern, uint8_t attribute_filter,
                   ListingDetail detail, platform::Env& env) {
  const PatternParts parts = SplitPattern(pattern);
  const FolderRead read =
      ReadFolder(parts.directory, parts.name_pattern, attribute_filter, detail, env);
  if (!read.listed) return false;
  const std::vector<SortKey>& order = read.order;
  for (std::size_t at = 0; at < order.size(); ++at) {
    if (at + kFetchAhead < order.size()) {
      __builtin_prefetch(&read.taken[order[at + kFetchAhead].entry]);
    }
    Append(queue, read.taken[order[at].entry]);
  }
  return Finish(read.failure);
}

bool ListPaths(ListedPaths& paths, std::string_view pattern, std::string_view prefix,
               uint8_t attribute_filter, platform::Env& env) {
  paths = {};
  const PatternParts parts = SplitPattern(pattern);
  const FolderRead read =
      ReadFolder(parts.directory, parts.name_pattern, attribute_filter, ListingDetail::kNames, env);
  if (!read.listed) return false;
  try {
    std::size_t bytes = 0;
    for (const TakenEntry& entry : read.taken) bytes += prefix.size() + entry.name.size();
    ListedPaths::Entries& entries = *paths.entries_;
    entries.bytes.reserve(bytes);
    entries.ends.reserve(read.order.size());
    entries.prefix_length = prefix.size();
    for (std::size_t at = 0; at < read.order.size(); ++at) {
      if (at + kFetchAhead < read.order.size()) {
        __builtin_prefetch(&read.taken[read.order[at + kFetchAhead].entry]);
      }
      entries.bytes.append(prefix).append(read.taken[read.order[at].entry].name);
      entries.ends.push_back(entries.bytes.size());
    }
  } catch (const std::bad_alloc&) {
    paths = {};
    PostError(error::kInsufficientMemory);
    return false;
  }
  return Finish(read.failure);
}

int32_t DateSerial(int32_t year, int32_t month, int32_t day) {
  static constexpr int32_t kDaysBeforeMonth[] = {0,   31,  59,  90,  120, 151,
                                                 181, 212, 243, 273, 304, 334};
  static constexpr int32_t kDaysInMonth[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  if (year < 1801 || year > 9999 || month < 1 || month > 12) return -1;
  const bool leap_february = IsLeapYear(year) && month == 2;
  if (day < 1 || day > kDaysInMonth[month - 1] + (leap_february ? 1 : 0)) return -1;
  const bool before_leap_day = IsLeapYear(year) && month <= 2;
  return (year - 1801) * 365 + kDaysBeforeMonth[month - 1] + day + 3 +
         (LeapDaysThrough(year) - LeapDaysThrough(1800)) - (before_leap_day ? 1 : 0);
}

int32_t TimeSerial(int32_t hours, int32_t minutes, int32_t seconds, int32_t hundredths) {
  if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59 ||
      hundredths < 0 || hundredths > 99) {
    return -1;
  }
  if (hours == 0 && minutes == 0 && seconds == 0 && hundredths == 0) return 0;
  return hours * 360000 + minutes * 6000 + seconds * 100 + hundredths + 1;
}

}  // namespace kb
