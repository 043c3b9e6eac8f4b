#include "cli/command_line.h"

#include "app/search_state.h"
#include "support/text/text.h"

namespace kb::cli {
namespace {

CommandLine Refuse(std::string reason) {
  CommandLine refused;
  refused.action = CommandLine::Action::kRefuse;
  refused.refusal = std::move(reason);
  return refused;
}

}  // namespace

std::string_view UsageText() {
  return "Usage: kbsearch-cli [-C DIR] [--open] PHRASE\n"
         "Searches the articles ZEB/ZEB*.htm for PHRASE (letters a-z match in either case),\n"
         "writes the results page ZebResult.htm wrapped in lheader.htm and lfooter.htm, and\n"
         "prints the path of each article found, one per line.\n"
         "\n"
         "  -C DIR    search the knowledge base in DIR instead of the current directory\n"
         "  --open    open the results page in the web browser\n"
         "  --help    show this text\n"
         "  --version show the version\n"
         "\n"
         "Exit status: 0 when an article matched, 1 when none did, 2 when a message was\n"
         "shown (even if articles matched).\n";
}

CommandLine ParseCommandLine(const std::vector<std::string_view>& arguments) {
  CommandLine command;
  bool have_phrase = false;
  bool options_ended = false;
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    const std::string_view argument = arguments[i];
    if (!options_ended && argument.starts_with('-') && argument != "-") {
      if (argument == "--") {
        options_ended = true;
      } else if (argument == "--help") {
        command.action = CommandLine::Action::kHelp;
        return command;
      } else if (argument == "--version") {
        command.action = CommandLine::Action::kVersion;
        return command;
      } else if (argument == "--open") {
        command.open_page = true;
      } else if (argument == "-C") {
        if (++i == arguments.size()) return Refuse("-C needs a directory");
        command.directory = arguments[i];
      } else {
        return Refuse(Concat({"unknown option ", argument}));
      }
    } else if (have_phrase) {
      return Refuse("give the phrase as one argument (quote it when it has blanks)");
    } else {
      command.phrase = argument;
      have_phrase = true;
    }
  }
  if (!have_phrase) return Refuse("no phrase to search for");
  if (command.phrase.size() > kMaxSearchTextLength) {
    return Refuse(
        Concat({"the phrase is longer than ", NumberToText(kMaxSearchTextLength), " characters"}));
  }
  return command;
}

}  // namespace kb::cli
