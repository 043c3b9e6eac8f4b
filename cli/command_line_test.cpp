#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>

namespace kb::cli {
namespace {

using Action = CommandLine::Action;

TEST(CommandLineTest, ReadsOptionsInAnyOrderAroundThePhrase) {
  CommandLine command = ParseCommandLine({"--open", "printer setup", "-C", "/kb"});
  EXPECT_EQ(command.action, Action::kSearch);
  EXPECT_TRUE(command.open_page);
  EXPECT_EQ(command.directory, "/kb");
  EXPECT_EQ(command.phrase, "printer setup");

  command = ParseCommandLine({"--", "--open"});
  EXPECT_EQ(command.action, Action::kSearch);
  EXPECT_FALSE(command.open_page);
  EXPECT_EQ(command.phrase, "--open");

  EXPECT_EQ(ParseCommandLine({""}).action, Action::kSearch);
  EXPECT_EQ(ParseCommandLine({"-"}).phrase, "-");
  EXPECT_EQ(ParseCommandLine({"x", "--help"}).action, Action::kHelp);
  EXPECT_EQ(ParseCommandLine({"--version"}).action, Action::kVersion);
}

TEST(CommandLineTest, RefusesWhatCannotBeSearched) {
  EXPECT_EQ(ParseCommandLine({}).refusal, "no phrase to search for");
  EXPECT_EQ(ParseCommandLine({"-C"}).refusal, "-C needs a directory");
  EXPECT_EQ(ParseCommandLine({"-x", "a"}).refusal, "unknown option -x");
  EXPECT_EQ(ParseCommandLine({"two", "words"}).action, Action::kRefuse);
  EXPECT_EQ(ParseCommandLine({std::string(100, 'a')}).action, Action::kSearch);
  EXPECT_EQ(ParseCommandLine({std::string(101, 'a')}).refusal,
            "the phrase is longer than 100 characters");
}

}  // namespace
}  // namespace kb::cli
