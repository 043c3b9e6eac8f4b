#include "files/io_buffer.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>

#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

// Random runs of writes, continuing or jumping, of every length around the buffer's capacity
// (an exact fit, one byte over, several buffers at once), land in the file as a plain copy
// into a string says they should. Under AddressSanitizer this also sees a write one byte past
// the buffer, which the file's content alone would not show.
TEST(IoBufferTest, WritesLandAsAPlainCopySays) {
  kb::testing::ScratchDirectory scratch;
  std::mt19937 random(20261208);
  for (const std::size_t capacity : {1, 2, 7, 64, 4096}) {
    for (int round = 0; round < 20; ++round) {
      const std::string path =
          scratch / ("out-" + std::to_string(capacity) + "-" + std::to_string(round));
      std::unique_ptr<platform::File> file;
      ASSERT_EQ(platform::Env::Default().OpenFile(path,
                                                  {.access = platform::Access::kReadWrite,
                                                   .creation = platform::Creation::kCreateNew},
                                                  file),
                platform::system_error::kNone);
      IoBuffer buffer;
      ASSERT_TRUE(buffer.Allocate(capacity));
      std::string expected;
      uint64_t offset = 0;
      for (int write = 0; write < 30; ++write) {
        const std::size_t lengths[] = {0,
                                       1,
                                       capacity - 1,
                                       capacity,
                                       capacity + 1,
                                       2 * capacity + 3,
                                       random() % (3 * capacity + 2)};
        const std::size_t length = lengths[random() % std::size(lengths)];
        if (random() % 4 == 0) offset = random() % (expected.size() + 1);
        std::string bytes(length, '\0');
        for (char& byte : bytes) byte = static_cast<char>('a' + random() % 26);
        ASSERT_EQ(buffer.Write(*file, offset, bytes), platform::system_error::kNone);
        if (expected.size() < offset + length) expected.resize(offset + length);
        expected.replace(offset, length, bytes);
        offset += length;
      }
      ASSERT_EQ(buffer.Flush(*file), platform::system_error::kNone);
      ASSERT_EQ(file->Close(), platform::system_error::kNone);
      std::ifstream in(path, std::ios::binary);
      const std::string written{std::istreambuf_iterator<char>(in), {}};
      ASSERT_EQ(written, expected) << "capacity " << capacity << ", round " << round;
    }
  }
}

}  // namespace
}  // namespace kb
