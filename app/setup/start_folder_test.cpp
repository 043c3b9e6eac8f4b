#include "app/setup/start_folder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "app/setup/remembered_folder.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

namespace fs = std::filesystem;
using kb::testing::ReadAll;

// Settles the start folder in a scratch tree as the working folder, with a folder dialog that
// writes down where it opened and answers as told, and the environment variables `variables_`.
class StartFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    for (const char* folder : {"home", "empty", "kb/ZEB", "templates"}) {
      fs::create_directories(scratch_.path() / folder);
    }
    scratch_.Write("templates/lheader.htm", "");
    scratch_.Write("templates/lfooter.htm", "");
    variables_ = {{"HOME", scratch_ / "home"}, {"XDG_STATE_HOME", scratch_ / "state"}};
  }
  void TearDown() override { fs::current_path(previous_); }

  // Starts the program in `folder` (of the scratch tree) with `given` as its argument; the
  // dialog, if asked, answers `answer`.
  bool Start(const std::string& folder, std::vector<std::string_view> arguments = {},
             std::optional<std::string> answer = {}) {
    fs::current_path(scratch_.path() / folder);
    const StartFolderSteps steps{
        .choose_folder =
            [&](const std::string& start) {
              dialog_opened_at_.push_back(start);
              return answer;
            },
        .show_message = [&](const Message& message) { messages_.push_back(message.text); }};
    const auto lookup = [&](std::string_view name) -> std::optional<std::string> {
      const auto found = variables_.find(std::string(name));
      if (found == variables_.end()) return std::nullopt;
      return found->second;
    };
    return SettleStartFolder(arguments, platform::Env::Default(), lookup, steps);
  }

  std::string Working() const { return fs::current_path().string(); }

  testing::ScratchDirectory scratch_;
  fs::path previous_;
  std::map<std::string, std::string> variables_;
  std::vector<std::string> dialog_opened_at_;
  std::vector<std::string> messages_;
};

TEST_F(StartFolderTest, AFolderGivenIsEnteredOrTheProgramEnds) {
  const std::string kb = scratch_ / "kb";
  EXPECT_TRUE(Start("empty", {kb}));
  EXPECT_EQ(Working(), kb);
  EXPECT_TRUE(Start("empty", {"../templates"}));
  EXPECT_EQ(Working(), scratch_ / "templates");
  EXPECT_EQ(messages_, std::vector<std::string>{});

  EXPECT_FALSE(Start("empty", {"../none"}));
  EXPECT_FALSE(Start("empty", {kb, kb}));
  EXPECT_EQ(Working(), scratch_ / "empty");
  EXPECT_EQ(messages_, (std::vector<std::string>{
                           "Could not open the folder: ../none|No such file or directory",
                           "Usage: kbsearch [DIR]|Give one folder, not 2 arguments."}));
  // A folder given is used even when it is no knowledge base: nothing is asked.
  EXPECT_TRUE(Start("kb", {"../empty"}));
  EXPECT_EQ(dialog_opened_at_, std::vector<std::string>{});
}

TEST_F(StartFolderTest, OnlyAFolderThatIsNoKnowledgeBaseAsksAndTheChoiceIsRemembered) {
  // A folder ZEB, or both templates, make a knowledge base.
  EXPECT_TRUE(Start("kb"));
  EXPECT_TRUE(Start("templates"));
  EXPECT_EQ(dialog_opened_at_, std::vector<std::string>{});
  fs::remove(scratch_.path() / "templates/lfooter.htm");
  EXPECT_TRUE(Start("templates"));
  EXPECT_EQ(dialog_opened_at_, std::vector<std::string>{scratch_ / "templates"});
  // So does a settings file of its own that names its articles; one that does not, nothing.
  scratch_.Write("templates/kbsearch.env", "Match = text\n");
  EXPECT_TRUE(Start("templates"));
  EXPECT_EQ(dialog_opened_at_.size(), 2u);
  scratch_.Write("templates/kbsearch.env", "Articles = **/*.html\n");
  EXPECT_TRUE(Start("templates"));
  EXPECT_EQ(dialog_opened_at_.size(), 2u);
  fs::remove(scratch_.path() / "templates/kbsearch.env");
  dialog_opened_at_.pop_back();

  // Cancel keeps the working folder and remembers nothing.
  dialog_opened_at_.clear();
  EXPECT_TRUE(Start("empty", {}, std::nullopt));
  EXPECT_EQ(Working(), scratch_ / "empty");
  EXPECT_FALSE(fs::exists(scratch_.path() / "state"));

  // A folder chosen that cannot be entered is reported and changes nothing; one that is no
  // knowledge base is entered but not remembered.
  EXPECT_TRUE(Start("empty", {}, scratch_ / "gone"));
  EXPECT_EQ(Working(), scratch_ / "empty");
  EXPECT_EQ(messages_.size(), 1u);
  EXPECT_TRUE(Start("home", {}, scratch_ / "empty"));
  EXPECT_EQ(Working(), scratch_ / "empty");
  EXPECT_FALSE(fs::exists(scratch_.path() / "state"));

  // A knowledge base chosen is entered, and the next start enters it without asking.
  EXPECT_TRUE(Start("empty", {}, scratch_ / "kb"));
  EXPECT_EQ(Working(), scratch_ / "kb");
  const std::string memory = scratch_ / "state/kbsearch/last-folder";
  EXPECT_EQ(ReadAll(memory), scratch_ / "kb" + "\n");
  EXPECT_EQ(fs::status(scratch_.path() / "state/kbsearch").permissions(), fs::perms::owner_all);
  EXPECT_TRUE(Start("home"));
  EXPECT_EQ(Working(), scratch_ / "kb");
  EXPECT_EQ(dialog_opened_at_, (std::vector<std::string>{scratch_ / "empty", scratch_ / "empty",
                                                         scratch_ / "home", scratch_ / "empty"}));

  // A folder given is remembered as the dialog's choice is.
  scratch_.Write("templates/lfooter.htm", "");
  EXPECT_TRUE(Start("home", {"../templates"}));
  EXPECT_EQ(ReadAll(memory), scratch_ / "templates" + "\n");
  EXPECT_TRUE(Start("home", {"../empty"}));
  EXPECT_EQ(ReadAll(memory), scratch_ / "templates" + "\n");

  // A remembered folder that is no knowledge base any more: the dialog opens there; one that
  // is gone: it opens at the working folder.
  fs::remove(scratch_.path() / "templates/lfooter.htm");
  dialog_opened_at_.clear();
  EXPECT_TRUE(Start("home"));
  fs::rename(scratch_.path() / "templates", scratch_.path() / "moved");
  EXPECT_TRUE(Start("home"));
  EXPECT_EQ(dialog_opened_at_,
            (std::vector<std::string>{scratch_ / "templates", scratch_ / "home"}));
}

TEST_F(StartFolderTest, AnotherFolderOpenedLetsGoOfTheOldOneFirst) {
  fs::current_path(scratch_.path() / "kb");
  std::optional<std::string> answer;
  int left = 0;
  const StartFolderSteps steps{
      .choose_folder =
          [&](const std::string& start) {
            dialog_opened_at_.push_back(start);
            return answer;
          },
      .show_message = [&](const Message& message) { messages_.push_back(message.text); }};
  const auto lookup = [&](std::string_view name) -> std::optional<std::string> {
    const auto found = variables_.find(std::string(name));
    if (found == variables_.end()) return std::nullopt;
    return found->second;
  };
  const auto open = [&] {
    return OpenOtherFolder(platform::Env::Default(), lookup, steps, [&] {
      // Still in the folder left.
      EXPECT_EQ(Working(), scratch_ / "kb");
      ++left;
    });
  };
  EXPECT_FALSE(open());
  EXPECT_EQ(left, 0);
  answer = scratch_ / "gone";
  EXPECT_FALSE(open());
  EXPECT_EQ(left, 1);
  EXPECT_EQ(messages_.size(), 1u);
  answer = scratch_ / "templates";
  EXPECT_TRUE(open());
  EXPECT_EQ(left, 2);
  EXPECT_EQ(Working(), scratch_ / "templates");
  EXPECT_EQ(ReadAll(scratch_ / "state/kbsearch/last-folder"), scratch_ / "templates" + "\n");
  EXPECT_EQ(dialog_opened_at_, std::vector<std::string>(3, scratch_ / "kb"));
}

TEST(RememberedFolderTest, LivesInTheStateFolderOfTheXdgRules) {
  const auto file_with = [](std::map<std::string, std::string> variables) {
    return RememberedFolderFile([&](std::string_view name) -> std::optional<std::string> {
      const auto found = variables.find(std::string(name));
      if (found == variables.end()) return std::nullopt;
      return found->second;
    });
  };
  EXPECT_EQ(file_with({{"XDG_STATE_HOME", "/s/"}, {"HOME", "/h"}}), "/s/kbsearch/last-folder");
  EXPECT_EQ(file_with({{"XDG_STATE_HOME", "rel"}, {"HOME", "/h"}}),
            "/h/.local/state/kbsearch/last-folder");
  EXPECT_EQ(file_with({{"HOME", "/"}}), "/.local/state/kbsearch/last-folder");
  EXPECT_EQ(file_with({{"XDG_STATE_HOME", ""}}), "");

  // What the file holds is taken back byte for byte, a newline in the name included.
  testing::ScratchDirectory scratch;
  const std::string file = scratch / "deep/down/last-folder";
  for (const std::string folder : {"/a b/c\nd\n", "/"}) {
    ASSERT_TRUE(RememberFolder(platform::Env::Default(), file, folder));
    EXPECT_EQ(ReadRememberedFolder(platform::Env::Default(), file), folder);
  }
  EXPECT_FALSE(RememberFolder(platform::Env::Default(), file, "relative"));
  scratch.Write("deep/down/last-folder", "relative\n");
  EXPECT_EQ(ReadRememberedFolder(platform::Env::Default(), file), "");
  EXPECT_EQ(ReadRememberedFolder(platform::Env::Default(), scratch / "none"), "");
}

}  // namespace
}  // namespace kb
