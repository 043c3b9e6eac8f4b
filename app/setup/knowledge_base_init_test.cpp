#include "app/setup/knowledge_base_init.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/testing/faulty_env.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using kb::testing::ReadAll;

class KnowledgeBaseInitTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directories(scratch_.path() / "kb");
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(scratch_.path() / "kb");
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  InitOutcome Init(platform::Env& env, InitPreset preset) {
    return InitKnowledgeBase(env, preset, folder_, [this](std::string_view name) {
      return name == "XDG_CONFIG_HOME" ? std::optional<std::string>(scratch_ / "config")
                                       : std::nullopt;
    });
  }

  testing::ScratchDirectory scratch_;
  std::string folder_ = scratch_ / "kb";
  std::filesystem::path previous_;
};

TEST_F(KnowledgeBaseInitTest, AZebKnowledgeBaseGetsItsFolderAndTemplatesAndNothingIsOverwritten) {
  InitOutcome outcome = Init(platform::Env::Default(), InitPreset::kZeb);
  ASSERT_TRUE(outcome.done) << outcome.problem;
  EXPECT_EQ(outcome.written,
            (std::vector<std::string>{folder_ + "/kbsearch.env", folder_ + "/ZEB/",
                                      folder_ + "/lheader.htm", folder_ + "/lfooter.htm"}));
  EXPECT_TRUE(std::filesystem::is_directory("ZEB"));
  EXPECT_TRUE(ReadAll("lheader.htm").starts_with("<!DOCTYPE html>\n"));
  EXPECT_TRUE(ReadAll("lfooter.htm").ends_with("</html>\n"));

  // Again: the files are there, and nothing is written, not even what is missing.
  std::filesystem::remove("kbsearch.env");
  outcome = Init(platform::Env::Default(), InitPreset::kZeb);
  EXPECT_FALSE(outcome.done);
  EXPECT_EQ(outcome.problem, folder_ + "/lheader.htm is there already: nothing was written");
  EXPECT_FALSE(std::filesystem::exists("kbsearch.env"));
  std::filesystem::create_symlink(scratch_ / "elsewhere", "kbsearch.env");
  outcome = Init(platform::Env::Default(), InitPreset::kSphinx);
  EXPECT_EQ(outcome.problem, folder_ + "/kbsearch.env is there already: nothing was written");
  EXPECT_FALSE(std::filesystem::exists(scratch_ / "elsewhere"));
}

TEST_F(KnowledgeBaseInitTest, AFolderThatCannotBeWrittenGetsTheUsersFileForIt) {
  platform::testing::FaultyEnv env;
  env.FailNth(platform::Operation::kOpen, 1, EROFS, "kbsearch.env");
  const std::string users = scratch_ / ("config/kbsearch/kb/" + KnowledgeBaseSettingsName(folder_));
  InitOutcome outcome = Init(env, InitPreset::kRustdoc);
  ASSERT_TRUE(outcome.done) << outcome.problem;
  EXPECT_EQ(outcome.written, std::vector<std::string>{users});
  EXPECT_EQ(ReadAll(users), InitSettingsText(InitPreset::kRustdoc));
  EXPECT_EQ(std::filesystem::status(scratch_ / "config/kbsearch/kb").permissions(),
            std::filesystem::perms::owner_all);
  EXPECT_FALSE(std::filesystem::exists("kbsearch.env"));
  env.FailNth(platform::Operation::kOpen, 1, EROFS, "kbsearch.env");
  EXPECT_EQ(Init(env, InitPreset::kRustdoc).problem,
            users + " is there already: nothing was written");
}

// Every line of every preset is a setting a knowledge base may make (the layout's keys are
// read where the articles are listed).
TEST_F(KnowledgeBaseInitTest, PresetsHoldSettingsOfTheKnowledgeBase) {
  for (const std::string_view name : {"zeb", "sphinx", "mkdocs", "rustdoc", "mdbook"}) {
    Settings settings;
    std::vector<SettingsProblem> problems;
    ParseSettings(InitSettingsText(*InitPresetOf(name)), name, settings, problems,
                  SettingsSource::kKnowledgeBase);
    std::erase_if(problems, [](const SettingsProblem& problem) {
      return problem.what == "unknown key \"Articles\"" ||
             problem.what == "unknown key \"Exclude\"";
    });
    EXPECT_TRUE(problems.empty()) << name << ": " << problems.front().Describe();
    EXPECT_EQ(settings.match.mode, name == "zeb" ? MatchMode::kBytes : MatchMode::kText);
  }
  EXPECT_EQ(InitPresetOf("Sphinx"), std::nullopt);
}

}  // namespace
}  // namespace kb
