#include "files/cold_reads.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

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

}  // namespace
}  // namespace kb
