#include "files/read_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/testing/faulty_env.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using platform::Operation;
using platform::testing::FaultyEnv;

// Waits until `done` holds; false when it still does not after a long while. Only a machine
// that has stopped altogether makes it give up: the conditions are met within moments.
bool Eventually(const std::function<bool()>& done) {
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > give_up) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class ReadAheadTest : public ::testing::Test {
 protected:
  static constexpr std::size_t kFiles = 400;
  static constexpr std::size_t kDepth = 24;

  ReadAheadTest() {
    for (std::size_t index = 0; index < kFiles; ++index) {
      paths_.push_back(scratch_.Write("f" + std::to_string(index), std::string(100 + index, 'x')));
    }
    // Every call the readers make is on a file no further than the depth ahead of the scan.
    env_.SetHook([this](Operation operation, std::string_view path) {
      if (operation != Operation::kOpen && operation != Operation::kReadCached &&
          operation != Operation::kWillRead) {
        return;
      }
      const std::size_t index = std::stoul(std::string(path.substr(path.rfind('/') + 2)));
      if (index >= scan_end_.load() + kDepth) too_far_ahead_ = true;
    });
  }

  std::unique_ptr<ReadAhead> Start() {
    return std::make_unique<ReadAhead>(
        env_, kFiles, [this](std::size_t index) -> std::string_view { return paths_[index]; },
        ReadAheadSettings{.depth = kDepth, .readers = 3});
  }

  // The scan reaches `index`.
  void Reach(ReadAhead& read_ahead, std::size_t index) {
    scan_end_ = std::max(scan_end_.load(), index + 1);
    read_ahead.Reached(index);
  }

  testing::ScratchDirectory scratch_;
  FaultyEnv env_;
  std::vector<std::string> paths_;
  std::atomic<std::size_t> scan_end_ = 0;
  std::atomic<bool> too_far_ahead_ = false;
};

TEST_F(ReadAheadTest, MissingFilesAreAskedForOnceEachAndNeverBeyondTheDepth) {
  env_.SetNothingCached(true);
  const auto read_ahead = Start();
  // Before the scan starts, the readers ask for the first files and wait.
  ASSERT_TRUE(Eventually([&] { return read_ahead->looked_at() == kDepth; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(read_ahead->looked_at(), kDepth);

  for (std::size_t index = 0; index < kFiles; ++index) {
    Reach(*read_ahead, index);
    const std::size_t expected = std::min(index + 1 + kDepth, kFiles);
    ASSERT_TRUE(Eventually([&] { return read_ahead->looked_at() >= expected; })) << index;
  }
  EXPECT_EQ(read_ahead->found_missing(), kFiles);
  EXPECT_EQ(env_.Calls(Operation::kWillRead), static_cast<int>(kFiles));
  EXPECT_FALSE(too_far_ahead_);
}

TEST_F(ReadAheadTest, FilesInMemoryAreLookedAtNowAndThenUntilOneIsMissing) {
  {
    // The files were written just now, so they are in memory where the system can tell.
    std::unique_ptr<platform::File> file;
    ASSERT_EQ(env_.OpenFile(paths_[0], {}, file), platform::system_error::kNone);
    char byte;
    std::size_t count;
    bool cached;
    if (file->ReadCached(0, std::span(&byte, 1), count, cached) != platform::system_error::kNone ||
        !cached) {
      GTEST_SKIP() << "the file system here cannot tell what is in memory";
    }
  }
  const auto read_ahead = Start();
  const std::size_t half = kFiles / 2;
  // Files in memory one after another make the readers hold back: the first kWarmAfterHits,
  // then one in every kWarmStride, with a few more looked at while the readers turn.
  for (std::size_t index = 0; index < half; ++index) {
    const std::size_t first_looks = std::min(index + kDepth, kWarmAfterHits);
    ASSERT_TRUE(Eventually([&] { return read_ahead->looked_at() >= first_looks; })) << index;
    Reach(*read_ahead, index);
  }
  EXPECT_LE(read_ahead->looked_at(), kWarmAfterHits + 3 + half / kWarmStride + 1);
  EXPECT_EQ(read_ahead->found_missing(), 0u);

  // Once a file looked at is found missing, every file after the scan is asked for again.
  env_.SetNothingCached(true);
  for (std::size_t index = half; index < half + kWarmStride + 1; ++index) {
    Reach(*read_ahead, index);
  }
  EXPECT_TRUE(Eventually([&] { return read_ahead->found_missing() >= kDepth; }));
  EXPECT_FALSE(too_far_ahead_);
}

}  // namespace
}  // namespace kb
