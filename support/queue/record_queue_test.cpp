#include "support/queue/record_queue.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/error_state/error_state.h"
#include "support/text/text.h"

namespace kb {
namespace {

struct LineRecord {
  FixedString<255> line;
  static constexpr FieldSpec kLayout[] = {{FieldType::kString, 255}};
};

struct MixedRecord {
  FixedString<3> code;
  PackedLong number;
  uint8_t flags;
  static constexpr FieldSpec kLayout[] = {
      {FieldType::kString, 3}, {FieldType::kLong, 4}, {FieldType::kByte, 1}};
};
static_assert(sizeof(MixedRecord) == 8);

std::string RecordBytes(std::size_t size, auto make_byte) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(make_byte(i));
  return bytes;
}

TEST(ClearRecordTest, BlanksTextAndZeroesNumbers) {
  MixedRecord record;
  record.code.Assign("abc");
  record.number = 77;
  record.flags = 9;
  ClearRecord({reinterpret_cast<char*>(&record), sizeof record}, MixedRecord::kLayout);
  EXPECT_EQ(record.code.view(), "   ");
  EXPECT_EQ(record.number.get(), 0);
  EXPECT_EQ(record.flags, 0);
}

TEST(QueueTest, EntriesAreNumberedInAppendOrderAndIndependentOfTheBuffer) {
  Queue<LineRecord> queue;
  for (const char* text : {"first", "second", "third"}) {
    queue.record().line.Assign(text);
    queue.Append();
    EXPECT_EQ(ErrorCode(), 0);
  }
  queue.record().line.Assign("changed after append");
  EXPECT_EQ(queue.Count(), 3);

  queue.Get(3);
  EXPECT_EQ(ErrorCode(), 0);
  EXPECT_EQ(queue.record().line.clipped(), "third");
  queue.Get(1);
  EXPECT_EQ(queue.record().line.clipped(), "first");
}

TEST(QueueTest, GetOutOfRangePostsThirtyAndLeavesTheBuffer) {
  Queue<LineRecord> queue;
  queue.Get(1);
  EXPECT_EQ(ErrorCode(), error::kEntryNotFound);

  queue.record().line.Assign("only");
  queue.Append();
  queue.record().line.Assign("buffer");
  for (int32_t number : {0, -1, 2, 2147483647}) {
    queue.Get(number);
    EXPECT_EQ(ErrorCode(), error::kEntryNotFound) << number;
    EXPECT_EQ(Clip(ErrorText()), "Entry Not Found");
    EXPECT_EQ(queue.record().line.clipped(), "buffer") << number;
  }
}

TEST(QueueTest, OperationsClearAnEarlierError) {
  Queue<LineRecord> queue;
  PostError(error::kRecordNotAvailable);
  queue.Append();
  EXPECT_EQ(ErrorCode(), 0);
  PostError(error::kRecordNotAvailable);
  EXPECT_EQ(queue.Count(), 1);
  EXPECT_EQ(ErrorCode(), 0);
  // A post whose number comes out as 0 still leaves a text that the clear must blank.
  PostError(0, 0xFFFFFFFFu - 299);
  queue.Free();
  EXPECT_EQ(ErrorText(), std::string(80, ' '));
}

TEST(QueueTest, FreeEmptiesAndDisposeResets) {
  Queue<LineRecord> queue;
  EXPECT_EQ(queue.Count(), 0);
  queue.Free();
  queue.record().line.Assign("a");
  queue.Append();
  queue.Append();
  queue.Free();
  EXPECT_EQ(queue.Count(), 0);

  queue.record().line.Assign("new");
  queue.Append();
  queue.record().line.Clear();
  queue.Get(1);
  EXPECT_EQ(queue.record().line.clipped(), "new");

  queue.Dispose();
  EXPECT_EQ(queue.Count(), 0);
}

TEST(QueueTest, AQueueOfThousandsOfEntriesGivesBackEachOne) {
  // Mostly blank records (kept encoded) mixed with full ones (kept as they are), enough of
  // them to fill many chunks of memory.
  constexpr std::size_t kSize = 1000;
  RecordStore store(kSize);
  std::vector<std::string> appended;
  std::mt19937 random(3);
  for (int i = 0; i < 3000; ++i) {
    std::string bytes(kSize, ' ');
    const std::size_t text = i % 3 == 0 ? kSize : random() % 200;
    for (std::size_t k = 0; k < text; ++k) bytes[k] = static_cast<char>('a' + random() % 26);
    store.Append(bytes);
    appended.push_back(bytes);
  }
  ASSERT_EQ(store.Count(), 3000);
  std::string out(kSize, '?');
  for (int32_t number = 1; number <= 3000; ++number) {
    store.Get(number, out);
    ASSERT_EQ(out, appended[static_cast<std::size_t>(number) - 1]) << number;
  }

  store.Free();
  EXPECT_EQ(store.Count(), 0);
  store.Append(appended[5]);
  store.Get(1, out);
  EXPECT_EQ(out, appended[5]);
}

// Records of every shape must come back byte for byte, whichever way they were stored.
class RoundTripTest : public testing::TestWithParam<std::string> {};

TEST_P(RoundTripTest, GetGivesBackEveryByte) {
  const std::string& bytes = GetParam();
  RecordStore store(bytes.size());
  store.Append(bytes);
  std::string reversed(bytes.rbegin(), bytes.rend());
  store.Append(reversed);

  std::string out(bytes.size(), '?');
  store.Get(1, out);
  EXPECT_EQ(out, bytes);
  store.Get(2, out);
  EXPECT_EQ(out, reversed);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, RoundTripTest,
    testing::Values(std::string(255, ' '), std::string(510, '\0'),
                    RecordBytes(256, [](std::size_t i) { return i; }),
                    RecordBytes(300, [](std::size_t i) { return i % 7 == 0 ? 'x' : ' '; }),
                    RecordBytes(282, [](std::size_t i) { return i < 40 ? 'a' + i % 26 : ' '; }),
                    RecordBytes(65279, [](std::size_t i) { return i < 100000 / 7 ? 'q' : ' '; }),
                    RecordBytes(1000, [](std::size_t i) { return (i / 3) % 2 ? 'a' : 'b'; }),
                    RecordBytes(127, [](std::size_t) { return ' '; }),
                    RecordBytes(128, [](std::size_t i) { return i == 127 ? 'z' : ' '; }),
                    // Runs of every length from 1 to 28, ending anywhere within eight bytes.
                    RecordBytes(406,
                                [](std::size_t i) {
                                  std::size_t run = 1;
                                  while (i >= run) i -= run++;
                                  return run % 2 ? ' ' : 'a';
                                })),
    [](const testing::TestParamInfo<std::string>& info) {
      return "Shape" + std::to_string(info.index) + "Of" + std::to_string(info.param.size());
    });

}  // namespace
}  // namespace kb
