#include "app/window/phrase_history.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "platform/testing/faulty_env.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

namespace fs = std::filesystem;

TEST(PhraseHistoryTest, KeepsTheLastHundredNewestFirstWithoutRepeats) {
  PhraseHistory history;
  for (int i = 0; i < 150; ++i) history.Add("phrase " + std::to_string(i % 120));
  history.Add("phrase 60");
  for (const std::string_view unkept : {std::string_view(""), std::string_view("a\nb"),
                                        std::string_view("a\rb"), std::string_view("a\0b", 3)}) {
    history.Add(unkept);
  }
  const std::vector<std::string>& kept = history.phrases();
  ASSERT_EQ(kept.size(), kLongestHistory);
  EXPECT_EQ(kept[0], "phrase 60");
  EXPECT_EQ(kept[1], "phrase 29");
  EXPECT_EQ(kept[2], "phrase 28");
  EXPECT_EQ(std::set<std::string>(kept.begin(), kept.end()).size(), kept.size());
}

TEST(PhraseHistoryTest, RecallsOlderAndNewerAndComesBackToWhatWasTyped) {
  PhraseHistory history;
  EXPECT_EQ(history.Older("typed"), std::nullopt);
  history.Add("first");
  history.Add("second");

  EXPECT_EQ(history.Newer(), std::nullopt);
  EXPECT_EQ(history.Older("typed"), "second");
  EXPECT_EQ(history.Older("second"), "first");
  EXPECT_EQ(history.Older("first"), std::nullopt);  // stays at the oldest
  EXPECT_EQ(history.Newer(), "second");
  EXPECT_EQ(history.Newer(), "typed");
  EXPECT_EQ(history.Newer(), std::nullopt);

  // A search ends the recall: Up starts again from the newest.
  EXPECT_EQ(history.Older("x"), "second");
  history.Add("first");
  EXPECT_EQ(history.Older(""), "first");
  EXPECT_EQ(history.Older("first"), "second");
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream contents;
  contents << in.rdbuf();
  return contents.str();
}

fs::perms Permissions(const std::string& path) {
  return fs::status(path).permissions() & fs::perms::mask;
}

TEST(PhraseHistoryTest, LivesInAFileOfTheUsersAlone) {
  testing::ScratchDirectory scratch;
  platform::Env& env = platform::Env::Default();
  const std::string file = scratch / "state/kbsearch/history";

  // Nothing there, or nothing readable, is an empty history.
  EXPECT_TRUE(PhraseHistory::Read(env, file).phrases().empty());
  fs::create_directories(file);
  EXPECT_TRUE(PhraseHistory::Read(env, file).phrases().empty());
  PhraseHistory history;
  history.Add("old \xC3\xA9");
  history.Add("new");
  EXPECT_FALSE(history.Write(env, file));
  fs::remove(file);

  // An old file readable by others becomes the user's alone.
  scratch.Write("state/kbsearch/history", "older\n");
  fs::permissions(file, fs::perms(0644));
  ASSERT_TRUE(history.Write(env, file));
  EXPECT_EQ(ReadAll(file), "new\nold \xC3\xA9\n");
  EXPECT_EQ(Permissions(file), fs::perms(0600));
  EXPECT_EQ(PhraseHistory::Read(env, file).phrases(), history.phrases());

  // A write that fails leaves the old file.
  platform::testing::FaultyEnv faulty;
  faulty.FailNth(platform::Operation::kWrite, 1, ENOSPC);
  PhraseHistory other;
  other.Add("lost");
  EXPECT_FALSE(other.Write(faulty, file));
  EXPECT_EQ(ReadAll(file), "new\nold \xC3\xA9\n");

  // A file made elsewhere: repeats dropped, the first hundred lines kept, a line cut by the
  // end of what is read left out.
  std::string lines = "b\na\nb\n";
  for (int i = 0; i < 200; ++i) lines += std::string(1000, 'x') + std::to_string(i) + "\n";
  scratch.Write("state/kbsearch/history", lines);
  const PhraseHistory read = PhraseHistory::Read(env, file);
  ASSERT_GE(read.phrases().size(), 3u);
  EXPECT_LT(read.phrases().size(), kLongestHistory);
  EXPECT_EQ(read.phrases()[0], "b");
  EXPECT_EQ(read.phrases()[1], "a");
  EXPECT_EQ(read.phrases().back().size(), 1000 + std::to_string(read.phrases().size() - 3).size());

  // Made from nothing, the folders on the way are the user's alone too.
  const std::string fresh = scratch / "fresh/kbsearch/history";
  ASSERT_TRUE(history.Write(env, fresh));
  EXPECT_EQ(Permissions(scratch / "fresh/kbsearch"), fs::perms::owner_all);
}

}  // namespace
}  // namespace kb
