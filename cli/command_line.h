#pragma once

// The arguments of kbsearch-cli:
//   kbsearch-cli [-C DIR] [--open] PHRASE
//   kbsearch-cli --help | --version

#include <string>
#include <string_view>
#include <vector>

namespace kb::cli {

struct CommandLine {
  enum class Action { kSearch, kHelp, kVersion, kRefuse };

  Action action = Action::kSearch;
  std::string directory;  // -C DIR; empty: the current directory
  bool open_page = false;
  std::string phrase;
  std::string refusal;  // why the arguments were refused, for Action::kRefuse
};

// Reads the arguments after the program name. "--" ends the options, so a phrase may begin
// with "-". The phrase is checked against the longest a search takes.
CommandLine ParseCommandLine(const std::vector<std::string_view>& arguments);

// The text --help prints.
std::string_view UsageText();

}  // namespace kb::cli
