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

// Random records made of runs (blank, zero, one letter repeated, or text) of every length
// from 1 to past 16,383 (a three-byte count), at sizes on both sides of the encoding's
// threshold and up to many kilobytes, thousands of them to fill many chunks: each comes back
// byte for byte, whether it was kept encoded or as it is.
TEST(QueueTest, EveryRecordComesBackByteForByte) {
  std::mt19937 random(3);
  const auto below = [&](std::size_t n) { return static_cast<std::size_t>(random() % n); };
  for (const std::size_t size : {1u, 127u, 128u, 143u, 144u, 255u, 1000u, 65279u}) {
    SCOPED_TRACE(size);
    RecordStore store(size);
    std::vector<std::string> appended;
    for (int i = 0; i < (size > 1000 ? 60 : 1500); ++i) {
      std::string bytes;
      while (bytes.size() < size) {
        const std::size_t run = 1 + (below(8) == 0 ? below(20'000) : below(140));
        const std::size_t kind = below(4);
        for (std::size_t k = 0; k < run && bytes.size() < size; ++k) {
          bytes += kind == 0 ? ' ' : kind == 1 ? '\0' : kind == 2 ? 'q' : char(random());
        }
      }
      store.Append(bytes);
      appended.push_back(bytes);
    }
    ASSERT_EQ(store.Count(), static_cast<int32_t>(appended.size()));
    std::string out(size, '?');
    for (std::size_t number = 1; number <= appended.size(); ++number) {
      store.Get(static_cast<int32_t>(number), out);
      ASSERT_TRUE(out == appended[number - 1]) << number;
    }
    store.Free();
    EXPECT_EQ(store.Count(), 0);
    store.Append(appended[5]);
    store.Get(1, out);
    EXPECT_TRUE(out == appended[5]);
  }
}

}  // namespace
}  // namespace kb
