#include "files/directory_listing.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "support/error_state/error_state.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using kb::testing::ScratchDirectory;

struct Listed {
  std::string short_name;
  int32_t date;
  int32_t time;
  int32_t size;
  uint8_t attributes;
};

// The listing of `pattern` by clipped name, in listing order.
std::vector<std::pair<std::string, Listed>> ListInOrder(std::string_view pattern, uint8_t filter,
                                                        ListingDetail detail) {
  Queue<FileRecord> queue;
  // What the record buffer held before must not leak into the entries.
  queue.record().date = 7;
  queue.record().time = 7;
  queue.record().size = 7;
  ListDirectory(queue, pattern, filter, detail);
  std::vector<std::pair<std::string, Listed>> listed;
  for (int32_t i = 1; i <= queue.Count(); ++i) {
    queue.Get(i);
    const FileRecord& record = queue.record();
    listed.emplace_back(std::string(record.name.clipped()),
                        Listed{std::string(record.short_name.clipped()), record.date.get(),
                               record.time.get(), record.size.get(), record.attributes});
  }
  return listed;
}

// The names ListPaths lists for `pattern`, each path checked to start with the prefix.
std::vector<std::string> ListedNames(std::string_view pattern, uint8_t filter) {
  ListedPaths paths;
  ListPaths(paths, pattern, "in/", filter);
  std::vector<std::string> names;
  for (std::size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(paths[i], "in/" + std::string(paths.name(i)));
    names.emplace_back(paths.name(i));
  }
  return names;
}

// The listing of `pattern` by clipped name.
std::map<std::string, Listed> List(std::string_view pattern, uint8_t filter = 0) {
  const auto listed = ListInOrder(pattern, filter, ListingDetail::kFull);
  return {listed.begin(), listed.end()};
}

std::vector<std::string> Names(const std::map<std::string, Listed>& listed) {
  std::vector<std::string> names;
  for (const auto& entry : listed) names.push_back(entry.first);
  return names;
}

using Names_ = std::vector<std::string>;

// Sets the last-write time of `path` to `local_time` ("YYYY-MM-DD hh:mm:ss[.fff]") in the
// time zone the test runs in.
void Touch(const std::string& path, const std::string& local_time) {
  const std::string command = "touch -m -d '" + local_time + "' '" + path + "'";
  ASSERT_EQ(std::system(command.c_str()), 0) << command;
}

class DirectoryListingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(zeb());
    scratch_.Write("ZEB/ZEB00001.htm", "first article");
    scratch_.Write("ZEB/zeb00002.HTM", "second");
    scratch_.Write("ZEB/ZEB00003.html", "not an .htm");
    scratch_.Write("ZEB/.ZEB00004.htm", "hidden");
    scratch_.Write("ZEB/notes.txt", "other");
    std::filesystem::create_directory(zeb() + "/ZEB00005.htm");
    std::filesystem::create_symlink("ZEB00001.htm", zeb() + "/ZEB00006.htm");
    std::filesystem::create_symlink("absent.htm", zeb() + "/ZEB00007.htm");
    ASSERT_EQ(mkfifo((zeb() + "/ZEB00008.htm").c_str(), 0666), 0);
    kb::testing::MakeReadOnly(scratch_.Write("ZEB/ZEB00009.htm", "read-only"));
  }

  std::string zeb() const { return scratch_ / "ZEB"; }

  ScratchDirectory scratch_;
};

TEST_F(DirectoryListingTest, ListsPlainFilesMatchingWithoutRegardToCase) {
  const auto listed = List(zeb() + "/ZEB*.htm");
  EXPECT_EQ(Names(listed),
            (Names_{"ZEB00001.htm", "ZEB00006.htm", "ZEB00009.htm", "zeb00002.HTM"}));
  const Listed& first = listed.at("ZEB00001.htm");
  EXPECT_EQ(first.short_name, "ZEB00001.htm");
  EXPECT_EQ(first.size, 13);
  EXPECT_EQ(first.attributes, 0);
  EXPECT_EQ(listed.at("ZEB00006.htm").size, 13) << "a link is listed as what it names";
  EXPECT_EQ(listed.at("ZEB00009.htm").attributes, attribute::kReadOnly);

  EXPECT_EQ(Names(List(zeb() + "/zeb0000?.HtM   ")),
            (Names_{"ZEB00001.htm", "ZEB00006.htm", "ZEB00009.htm", "zeb00002.HTM"}));
  EXPECT_EQ(Names(List(zeb() + "/*1*")), (Names_{"ZEB00001.htm"}));
  EXPECT_EQ(Names(List(zeb() + "/*.TXT")), (Names_{"notes.txt"}));
  EXPECT_EQ(Names(List(zeb() + "/ZEB0000?.htm?")), (Names_{"ZEB00003.html"}));
}

TEST_F(DirectoryListingTest, TheFilterAdmitsHiddenSystemAndDirectoryEntries) {
  EXPECT_EQ(Names(List(zeb() + "/*", attribute::kDirectory)),
            (Names_{".", "..", "ZEB00001.htm", "ZEB00003.html", "ZEB00005.htm", "ZEB00006.htm",
                    "ZEB00009.htm", "notes.txt", "zeb00002.HTM"}));
  const auto hidden = List(zeb() + "/*.htm", attribute::kHidden);
  EXPECT_EQ(hidden.count(".ZEB00004.htm"), 1u);
  EXPECT_EQ(hidden.at(".ZEB00004.htm").attributes, attribute::kHidden);
  EXPECT_EQ(hidden.count("ZEB00005.htm"), 0u);

  const auto system = List(zeb() + "/*.htm", attribute::kSystem);
  EXPECT_EQ(system.at("ZEB00008.htm").attributes, attribute::kSystem);
  EXPECT_EQ(system.count("ZEB00007.htm"), 0u) << "a dangling link is never listed";

  // Read-only and archive bits never keep an entry out.
  EXPECT_EQ(List(zeb() + "/*.htm", attribute::kReadOnly | attribute::kArchive).size(), 4u);
}

TEST_F(DirectoryListingTest, ANamesOnlyListingTakesTheSameEntriesInTheSameOrder) {
  std::filesystem::create_symlink("ZEB00005.htm", zeb() + "/ZEB00010.htm");  // to a directory
  std::filesystem::create_symlink("ZEB00008.htm", zeb() + "/ZEB00011.htm");  // to a FIFO
  const uint8_t filters[] = {0,
                             attribute::kHidden,
                             attribute::kSystem,
                             attribute::kDirectory,
                             attribute::kHidden | attribute::kSystem | attribute::kDirectory,
                             attribute::kReadOnly};
  for (const std::string pattern : {"/ZEB*.htm", "/*"}) {
    for (const uint8_t filter : filters) {
      const auto full = ListInOrder(zeb() + pattern, filter, ListingDetail::kFull);
      const auto names = ListInOrder(zeb() + pattern, filter, ListingDetail::kNames);
      const std::vector<std::string> paths = ListedNames(zeb() + pattern, filter);
      ASSERT_EQ(names.size(), full.size()) << pattern << " filter " << int{filter};
      ASSERT_EQ(paths.size(), full.size()) << pattern << " filter " << int{filter};
      for (std::size_t i = 0; i < full.size(); ++i) {
        const auto& [name, listed] = names[i];
        EXPECT_EQ(name, full[i].first) << pattern << " filter " << int{filter};
        EXPECT_EQ(paths[i], full[i].first) << pattern << " filter " << int{filter};
        EXPECT_EQ(listed.short_name, full[i].second.short_name) << name;
        EXPECT_EQ(listed.attributes, full[i].second.attributes & ~attribute::kReadOnly) << name;
        EXPECT_EQ(listed.date, 0) << name;
        EXPECT_EQ(listed.time, 0) << name;
        EXPECT_EQ(listed.size, 0) << name;
      }
    }
  }
  const auto system = List(zeb() + "/ZEB*.htm", attribute::kSystem);
  EXPECT_EQ(system.at("ZEB00011.htm").attributes, attribute::kSystem) << "a link is followed";
}

TEST_F(DirectoryListingTest, NothingToListLeavesQueueAndErrorStateAlone) {
  Queue<FileRecord> queue;
  queue.record().name.Assign("kept");
  queue.Append();
  for (const std::string& pattern :
       {zeb() + "/nothing*.htm", scratch_ / "absent/*.htm", zeb() + "/", std::string(),
        zeb() + "/ZEB00001.htm/sub/*", std::string("a\0b", 3), std::string("a\0b/*", 5)}) {
    PostError(error::kAccessDenied);
    EXPECT_TRUE(ListDirectory(queue, pattern, 0)) << pattern;
    EXPECT_EQ(ErrorCode(), error::kAccessDenied) << pattern;
    EXPECT_EQ(queue.Count(), 1) << pattern;
    ListedPaths paths;
    PostError(error::kAccessDenied);
    EXPECT_TRUE(ListPaths(paths, pattern, "", 0)) << pattern;
    EXPECT_EQ(ErrorCode(), error::kAccessDenied) << pattern;
    EXPECT_EQ(paths.size(), 0u) << pattern;
  }
}

TEST_F(DirectoryListingTest, AFolderThatIsNotOneIsReported) {
  std::filesystem::create_symlink("ZEB00001.htm", zeb() + "/to-file");
  for (const std::string& pattern : {zeb() + "/ZEB00001.htm/*", zeb() + "/to-file/*"}) {
    Queue<FileRecord> queue;
    EXPECT_FALSE(ListDirectory(queue, pattern, 0)) << pattern;
    EXPECT_EQ(ErrorCode(), error::kAccessDenied) << pattern;
    EXPECT_EQ(queue.Count(), 0) << pattern;
    ClearError();
    ListedPaths paths;
    EXPECT_FALSE(ListPaths(paths, pattern, "", 0)) << pattern;
    EXPECT_EQ(ErrorCode(), error::kAccessDenied) << pattern;
    EXPECT_EQ(paths.size(), 0u) << pattern;
  }
}

TEST_F(DirectoryListingTest, ALinkThatCannotBeCheckedIsListedAsAPlainFile) {
  // A target whose name is too long for the system cannot be checked, but it is not known to
  // be absent either.
  std::filesystem::create_symlink(std::string(300, 't'), zeb() + "/ZEB00012.htm");
  std::filesystem::create_symlink("ZEB00013.htm", zeb() + "/ZEB00013.htm");  // a loop
  const auto listed = List(zeb() + "/ZEB*.htm");
  EXPECT_EQ(Names(listed), (Names_{"ZEB00001.htm", "ZEB00006.htm", "ZEB00009.htm", "ZEB00012.htm",
                                   "zeb00002.HTM"}));
  EXPECT_EQ(listed.at("ZEB00012.htm").attributes, 0);
  EXPECT_EQ(listed.at("ZEB00012.htm").date, 0);
  EXPECT_EQ(listed.at("ZEB00012.htm").size, 0);
}

// Random names, listed at both levels of detail, come out in the order of a reference that
// compares (name with a-z taken as A-Z, name) pairs.
TEST(DirectoryListingOrderTest, NamesAreSortedWithoutRegardToCaseThenByTheirBytes) {
  ScratchDirectory scratch;
  std::mt19937 random(11);
  const std::string alphabet = "aAbBzZ_[`{~09-.\xc3\xa9\xc3\x89";
  std::vector<std::pair<std::string, std::string>> expected;
  for (int i = 0; i < 300; ++i) {
    // Some share a long start, to be told apart far into the name.
    std::string name = i % 3 == 0 ? "ZEBaaaaaaaaAAAA" : "ZEB";
    for (std::size_t length = random() % 5; length > 0; --length) {
      name += alphabet[random() % alphabet.size()];
    }
    name += i % 2 == 0 ? ".htm" : ".HTM";
    if (std::filesystem::exists(scratch / name)) continue;
    scratch.Write(name, "");
    std::string folded = name;
    for (char& byte : folded) {
      if (byte >= 'a' && byte <= 'z') byte = static_cast<char>(byte - 'a' + 'A');
    }
    expected.emplace_back(folded, name);
  }
  std::sort(expected.begin(), expected.end());
  std::vector<std::string> expected_names;
  for (const auto& [folded, name] : expected) expected_names.push_back(name);

  for (const ListingDetail detail : {ListingDetail::kFull, ListingDetail::kNames}) {
    std::vector<std::string> names;
    for (const auto& [name, listed] : ListInOrder(scratch / "ZEB*", 0, detail)) {
      names.push_back(name);
    }
    EXPECT_EQ(names, expected_names);
  }
  EXPECT_EQ(ListedNames(scratch / "ZEB*", 0), expected_names);
}

TEST_F(DirectoryListingTest, ARelativePatternListsFromTheCurrentDirectory) {
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch_.path());
  const auto in_zeb = List("ZEB/ZEB*.htm");
  std::filesystem::current_path(zeb());
  const auto here = List("*.txt");
  std::filesystem::current_path(previous);
  EXPECT_EQ(in_zeb.size(), 4u);
  EXPECT_EQ(Names(here), (Names_{"notes.txt"}));
}

TEST_F(DirectoryListingTest, FieldsTakeTheLocalTimeSizeAndShortName) {
  // The test runs with TZ=UTC-2; touch sets local times in the same zone.
  Touch(zeb() + "/ZEB00001.htm", "2024-02-29 00:00:00");
  Touch(zeb() + "/zeb00002.HTM", "2024-02-29 00:00:01.990");
  Touch(zeb() + "/ZEB00009.htm", "2023-12-31 23:59:59");
  const std::string long_name = scratch_.Write("ZEB/ZEB-a-long-article-name.htm", "");
  std::filesystem::resize_file(long_name, 5'000'000'000);

  const auto listed = List(zeb() + "/ZEB*.htm");
  EXPECT_EQ(listed.at("ZEB00001.htm").date, 81512);
  EXPECT_EQ(listed.at("ZEB00001.htm").time, 0);
  EXPECT_EQ(listed.at("zeb00002.HTM").date, 81512);
  EXPECT_EQ(listed.at("zeb00002.HTM").time, 101) << "hundredths are dropped";
  EXPECT_EQ(listed.at("ZEB00009.htm").date, 81452);
  EXPECT_EQ(listed.at("ZEB00009.htm").time, 8639901);
  const Listed& large = listed.at("ZEB-a-long-article-name.htm");
  EXPECT_EQ(large.size, 705032704);
  EXPECT_EQ(large.short_name, "ZEB-a-long-ar");
}

// Every day of every month, and days and months past their ends, from 99 to 10000, against
// the standard calendar: days since 28 December 1800, or -1 outside 1801 to 9999.
TEST(DateSerialTest, CountsDaysSince28December1800) {
  using namespace std::chrono;
  const sys_days epoch = year(1800) / December / 28;
  for (int32_t y = 99; y <= 10000; ++y) {
    if (y > 1805 && y < 9995 && y % 100 > 3 && y % 100 < 97 && y % 17 != 0) continue;
    for (int32_t m = 0; m <= 13; ++m) {
      for (int32_t d = 0; d <= 32; ++d) {
        const year_month_day date{year(y), month(static_cast<unsigned>(m)),
                                  day(static_cast<unsigned>(d))};
        const bool valid = date.ok() && y >= 1801 && y <= 9999;
        ASSERT_EQ(DateSerial(y, m, d), valid ? (sys_days(date) - epoch).count() : -1)
            << y << "-" << m << "-" << d;
      }
    }
  }
  EXPECT_EQ(DateSerial(-5, 1, 1), -1);
}

TEST(TimeSerialTest, CountsHundredthsSinceMidnightPlusOne) {
  EXPECT_EQ(TimeSerial(0, 0, 0, 0), 0);
  EXPECT_EQ(TimeSerial(0, 0, 0, 1), 2);
  EXPECT_EQ(TimeSerial(0, 0, 1, 0), 101);
  EXPECT_EQ(TimeSerial(23, 59, 59, 0), 8639901);
  EXPECT_EQ(TimeSerial(23, 59, 59, 99), 8640000);
  EXPECT_EQ(TimeSerial(24, 0, 0, 0), -1);
  EXPECT_EQ(TimeSerial(0, 60, 0, 0), -1);
  EXPECT_EQ(TimeSerial(0, 0, 60, 0), -1);
  EXPECT_EQ(TimeSerial(0, 0, 0, 100), -1);
  EXPECT_EQ(TimeSerial(-1, 0, 0, 0), -1);
}

}  // namespace
}  // namespace kb
