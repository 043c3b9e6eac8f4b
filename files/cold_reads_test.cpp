#include "files/cold_reads.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/testing/faulty_env.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using platform::Operation;
using platform::system_error::kNone;
using platform::testing::FaultyEnv;

// Opens `path` through `env` `times` times, and checks that each open gives the file whole.
void OpenAndRead(ColdReadEnv& env, const std::string& path, std::size_t times) {
  for (std::size_t open = 0; open < times; ++open) {
    std::unique_ptr<platform::File> file;
    ASSERT_EQ(env.OpenFile(path, {}, file), kNone);
    char bytes[8] = {};
    std::size_t count = 0;
    ASSERT_EQ(file->Read(0, bytes, count), kNone);
    EXPECT_EQ(std::string(bytes, count), "article");
  }
}

TEST(ColdReadEnvTest, OpensTheGateWhileFilesAreMissingAndClosesItOnceTheyAreThere) {
  testing::ScratchDirectory scratch;
  const std::string path = scratch.Write("article", "article");
  FaultyEnv faulty;
  faulty.SetNothingCached(true);
  StandbyGate gate;
  ColdReadEnv env(faulty, &gate);

  // The first open is looked at, and then one in every kLookStride.
  OpenAndRead(env, path, 1);
  EXPECT_TRUE(gate.is_open());
  EXPECT_EQ(faulty.Calls(Operation::kReadCached), 1);
  OpenAndRead(env, path, kLookStride);
  EXPECT_EQ(faulty.Calls(Operation::kReadCached), 2);

  // In memory: the gate stays open until kWarmAfterLooks looks in a row found the file there.
  faulty.SetNothingCached(false);
  OpenAndRead(env, path, (kWarmAfterLooks - 1) * kLookStride);
  EXPECT_TRUE(gate.is_open());
  OpenAndRead(env, path, kLookStride);
  EXPECT_FALSE(gate.is_open());

  // A look that fails counts as missing, and nothing of it shows.
  faulty.FailNth(Operation::kReadCached, 1, EIO);
  OpenAndRead(env, path, kLookStride);
  EXPECT_TRUE(gate.is_open());

  // Without a gate nothing is looked at.
  const int looks = faulty.Calls(Operation::kReadCached);
  ColdReadEnv plain(faulty, nullptr);
  OpenAndRead(plain, path, 2 * kLookStride);
  EXPECT_EQ(faulty.Calls(Operation::kReadCached), looks);
}

// The whole of the file at `path` opened through `env`, or the error its open failed with.
std::string OpenAndReadAll(ColdReadEnv& env, std::string_view path) {
  std::unique_ptr<platform::File> file;
  if (const platform::SystemError error = env.OpenFile(path, {}, file)) {
    return "failed " + std::to_string(error);
  }
  char bytes[64] = {};
  std::size_t count = 0;
  EXPECT_EQ(file->ReadAt(0, bytes, count), kNone);
  return std::string(bytes, count);
}

TEST(ColdReadEnvTest, OpensFilesAheadWhileTheGateIsOpenAndHandsThemOverInTurn) {
  testing::ScratchDirectory scratch;
  const std::string a = scratch.Write("a", "first");
  const std::string b = scratch.Write("b", "second");
  const std::string c = scratch.Write("c", "third");
  const std::string missing = scratch / "missing";
  FaultyEnv faulty;
  faulty.SetNothingCached(true);
  StandbyGate gate;
  ColdReadEnv env(faulty, &gate);
  std::string failed_open;
  {
    std::unique_ptr<platform::File> file;
    failed_open = "failed " + std::to_string(faulty.OpenFile(missing, {}, file));
  }
  const int opens_before = faulty.Calls(Operation::kOpen);
  const auto opens = [&] { return faulty.Calls(Operation::kOpen) - opens_before; };

  // The gate closed: nothing is opened ahead.
  const std::vector<std::string_view> all = {a, missing, b, c};
  env.OpenAhead(all);
  EXPECT_EQ(opens(), 0);

  // Open: each file is opened once and hinted; one that cannot be opened ahead is opened again
  // in its turn, and that open reports what is wrong; a failed hint shows nowhere.
  gate.Open();
  faulty.FailNth(Operation::kWillRead, 1, EIO);
  env.OpenAhead(all);
  EXPECT_EQ(opens(), 4);
  EXPECT_EQ(faulty.Calls(Operation::kWillRead), 3);
  EXPECT_EQ(OpenAndReadAll(env, a), "first");
  EXPECT_EQ(OpenAndReadAll(env, missing), failed_open);
  EXPECT_EQ(opens(), 5);
  // A file not among those ahead (a large one read by several threads) is opened as always,
  // and drops none of them.
  EXPECT_EQ(OpenAndReadAll(env, a), "first");
  EXPECT_EQ(opens(), 6);
  EXPECT_EQ(OpenAndReadAll(env, b), "second");
  EXPECT_EQ(OpenAndReadAll(env, c), "third");
  EXPECT_EQ(opens(), 6);

  // Files passed over (not to be read after all) are dropped, and the next files ahead
  // replace those not taken.
  env.OpenAhead(all);
  EXPECT_EQ(OpenAndReadAll(env, b), "second");
  EXPECT_EQ(OpenAndReadAll(env, a), "first");  // dropped: opened again
  EXPECT_EQ(opens(), 11);
  const std::vector<std::string_view> last = {c};
  env.OpenAhead(last);
  EXPECT_EQ(OpenAndReadAll(env, c), "third");
  EXPECT_EQ(opens(), 12);

  // Without a gate nothing is opened ahead.
  ColdReadEnv plain(faulty, nullptr);
  plain.OpenAhead(all);
  EXPECT_EQ(opens(), 12);
}

}  // namespace
}  // namespace kb
