#include "files/directory_listing.h"

#include <memory>

#include "platform/file_system.h"

namespace kb {
namespace {

constexpr std::size_t kMaxPatternLength = 259;
// The attribute bits that can keep an entry out of a listing.
constexpr uint8_t kFilterBits = attribute::kHidden | attribute::kSystem | attribute::kDirectory;
constexpr uint8_t kStoredBits = 0x37;

// Through the case table of every other text rule: a-z match A-Z, other bytes only themselves.
bool SameIgnoringCase(char a, char b) {
  const CaseTable& upper = UpperCaseTable();
  return upper[static_cast<unsigned char>(a)] == upper[static_cast<unsigned char>(b)];
}

// "*" matches any run of characters, "?" any one; other characters match themselves, ASCII
// letters without regard to case.
bool MatchesWildcard(std::string_view pattern, std::string_view name) {
  std::size_t p = 0;
  std::size_t n = 0;
  std::size_t star = std::string_view::npos;  // the last "*" met, to fall back to
  std::size_t resume = 0;                     // where that "*" stopped matching in `name`
  while (n < name.size()) {
    if (p < pattern.size() && pattern[p] == '*') {
      star = p++;
      resume = n;
    } else if (p < pattern.size() && (pattern[p] == '?' || SameIgnoringCase(pattern[p], name[n]))) {
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

void FillRecord(FileRecord& record, std::string_view name, const platform::FileStatus& status,
                uint8_t attributes, ListingDetail detail) {
  record.name.Assign(name);
  record.short_name.Assign(name);
  record.date = 0;
  record.time = 0;
  record.size = 0;
  if (detail == ListingDetail::kNames) {
    record.attributes = attributes & kStoredBits & ~attribute::kReadOnly;
    return;
  }
  platform::CalendarTime local;
  if (platform::ToLocalTime(status.modified, local)) {
    record.date = DateSerial(local.year, local.month, local.day);
    record.time = TimeSerial(local.hour, local.minute, local.second, 0);
  } else {
    record.date = -1;
    record.time = -1;
  }
  record.size = static_cast<int32_t>(static_cast<uint32_t>(status.size));
  record.attributes = attributes & kStoredBits;
}

// Fills `record` for the reader's current entry `name`; false when the entry does not pass
// `filter` or is a dangling link.
bool Describe(platform::Directory& reader, std::string_view name, uint8_t filter,
              ListingDetail detail, FileRecord& record) {
  platform::FileStatus status;
  const bool type_recorded = detail == ListingDetail::kNames && reader.RecordedType(status.type);
  if (!type_recorded && reader.Status(status) != platform::system_error::kNone) return false;
  const uint8_t attributes = AttributesOf(name, status);
  if (!PassesFilter(attributes, filter)) return false;
  FillRecord(record, name, status, attributes, detail);
  return true;
}

bool IsLeapYear(int32_t year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int32_t LeapDaysThrough(int32_t year) {
  return year / 4 - year / 100 + year / 400;
}

}  // namespace

void ListDirectory(Queue<FileRecord>& queue, std::string_view pattern, uint8_t attribute_filter,
                   ListingDetail detail, platform::Env& env) {
  pattern = Clip(pattern).substr(0, kMaxPatternLength);
  const std::size_t slash = pattern.rfind('/');
  std::string_view directory = ".";
  std::string_view name_pattern = pattern;
  if (slash != std::string_view::npos) {
    directory = slash == 0 ? pattern.substr(0, 1) : pattern.substr(0, slash);
    name_pattern = pattern.substr(slash + 1);
  }
  if (name_pattern.empty()) return;

  std::unique_ptr<platform::Directory> reader;
  if (env.OpenDirectory(directory, reader) != platform::system_error::kNone) return;
  const uint8_t filter = attribute_filter & kFilterBits;
  bool found = false;
  while (reader->Next(found) == platform::system_error::kNone && found) {
    const std::string_view name = reader->name();
    if (!MatchesWildcard(name_pattern, name)) continue;
    // A hidden entry cannot pass an empty filter, whatever it is: spare it the stat.
    if (filter == 0 && name.front() == '.') continue;
    if (Describe(*reader, name, filter, detail, queue.record())) queue.Append();
  }
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
