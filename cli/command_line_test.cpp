#include "cli/command_line.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kb::cli {
namespace {

CommandLine Parse(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), "kbsearch-cli");
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  return ParseCommandLine(static_cast<int>(arguments.size()), argv.data());
}

// Every field of `command` that differs from a plain search, in one line.
std::string Described(const CommandLine& command) {
  switch (command.action) {
    case CommandLine::Action::kHelp:
      return "help";
    case CommandLine::Action::kVersion:
      return "version";
    case CommandLine::Action::kRefuse:
      return "refused: " + command.refusal;
    case CommandLine::Action::kSearch:
      break;
  }
  std::string text = command.build_index ? "index" : "search '" + command.phrase + "'";
  if (!command.directory.empty()) text += " dir=" + command.directory;
  if (command.threads != 0) text += " j=" + std::to_string(command.threads);
  if (command.io_depth) text += " io=" + std::to_string(*command.io_depth);
  if (!command.settings_file.empty()) text += " settings=" + command.settings_file;
  if (command.open_page) text += " open";
  if (command.list_only) text += " list";
  if (command.format == ResultFormat::kNullTerminatedPaths) text += " null";
  if (command.format == ResultFormat::kJsonLines) text += " json";
  if (command.folding) {
    text += std::vector<std::string>{" ascii", " unicode",
                                     " accents"}[static_cast<int>(*command.folding)];
  }
  if (command.match_mode) text += *command.match_mode == MatchMode::kText ? " text" : " bytes";
  if (command.results_style) {
    text += *command.results_style == ResultsStyle::kSnippets ? " snippets" : " classic";
  }
  if (command.order) {
    text += std::vector<std::string>{" by-name", " by-hits",
                                     " by-relevance"}[static_cast<int>(*command.order)];
  }
  if (!command.knowledge_base_settings) text += " no-kb";
  if (command.no_index) text += " no-index";
  return text;
}

// Each option in each of its spellings, before and after the phrase, clustered and with its
// value attached or apart; "--" ends the options; each refusal names what was wrong. Parsing
// twice in one process starts afresh.
TEST(CommandLineTest, EveryOptionAndEveryRefusal) {
  const std::string hundred(100, 'x');
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"phrase"}, "search 'phrase'"},
      {{""}, "search ''"},
      {{"-C", "/kb", "x"}, "search 'x' dir=/kb"},
      {{"-C/kb", "x"}, "search 'x' dir=/kb"},
      {{"x", "--directory", "/kb"}, "search 'x' dir=/kb"},
      {{"--directory=-j", "x"}, "search 'x' dir=-j"},
      {{"-j", "1", "x"}, "search 'x' j=1"},
      {{"-j64", "x"}, "search 'x' j=64"},
      {{"--threads=007", "x"}, "search 'x' j=7"},
      {{"--io-depth", "0", "x"}, "search 'x' io=0"},
      {{"--io-depth=64", "x"}, "search 'x' io=64"},
      {{"-l0", "x"}, "search 'x' list null"},
      {{"--list", "--null", "x"}, "search 'x' list null"},
      {{"x", "--json", "--open"}, "search 'x' open json"},
      {{"--settings", "a b.env", "x"}, "search 'x' settings=a b.env"},
      {{"--fold", "ascii", "--fold=unicode", "x"}, "search 'x' unicode"},
      {{"--fold=accents", "--match", "text", "x"}, "search 'x' accents text"},
      {{"--match=bytes", "--results", "snippets", "x"}, "search 'x' bytes snippets"},
      {{"--results=classic", "--no-kb-settings", "--no-index", "x"},
       "search 'x' classic no-kb no-index"},
      {{"--order", "relevance", "x", "--order=hits"}, "search 'x' by-hits"},
      {{"x", "--order=relevance"}, "search 'x' by-relevance"},
      {{"--index"}, "index"},
      {{"-C", "/kb", "-j2", "--index"}, "index dir=/kb j=2"},
      {{"--", "-x"}, "search '-x'"},
      {{"-l", "--", "--json"}, "search '--json' list"},
      {{"--he"}, "help"},
      {{"x", "-h", "--bogus"}, "help"},
      {{"-lV"}, "version"},
      {{hundred}, "search '" + hundred + "'"},
      // Refused.
      {{"--bogus", "x"}, "refused: unknown option --bogus"},
      {{"--bogus=1", "x"}, "refused: unknown option --bogus=1"},
      {{"-lx", "y"}, "refused: unknown option -x"},
      {{"-j"}, "refused: -j needs a value"},
      {{"x", "--threads"}, "refused: --threads needs a value"},
      {{"x", "-C"}, "refused: -C needs a value"},
      {{"x", "--settings"}, "refused: --settings needs a value"},
      {{"-j", "0", "x"}, "refused: -j needs a number of threads from 1 to 64, not '0'"},
      {{"-j65", "x"}, "refused: -j needs a number of threads from 1 to 64, not '65'"},
      {{"-j", "1000", "x"}, "refused: -j needs a number of threads from 1 to 64, not '1000'"},
      {{"-j", "+2", "x"}, "refused: -j needs a number of threads from 1 to 64, not '+2'"},
      {{"-j=2", "x"}, "refused: -j needs a number of threads from 1 to 64, not '=2'"},
      {{"--threads=two", "x"}, "refused: -j needs a number of threads from 1 to 64, not 'two'"},
      {{"--threads=", "x"}, "refused: -j needs a number of threads from 1 to 64, not ''"},
      {{"--io-depth=65", "x"},
       "refused: --io-depth needs a number of threads from 0 to 64, not '65'"},
      {{"--io-depth", "-1", "x"},
       "refused: --io-depth needs a number of threads from 0 to 64, not '-1'"},
      {{"--io-depth", "99999", "x"},
       "refused: --io-depth needs a number of threads from 0 to 64, not '99999'"},
      {{"--fold=latin", "x"}, "refused: --fold takes ascii, unicode or accents, not 'latin'"},
      {{"--fold", "ASCII", "x"}, "refused: --fold takes ascii, unicode or accents, not 'ASCII'"},
      {{"--match", "html", "x"}, "refused: --match takes bytes or text, not 'html'"},
      {{"--order", "score", "x"}, "refused: --order takes name, hits or relevance, not 'score'"},
      {{"--results=", "x"}, "refused: --results takes classic or snippets, not ''"},
      {{"--settings=", "x"}, "refused: --settings needs a file"},
      {{"two", "words"}, "refused: give the phrase as one argument (quote it when it has blanks)"},
      {{"--", "-x", "y"}, "refused: give the phrase as one argument (quote it when it has blanks)"},
      {{"--open"}, "refused: no phrase to search for"},
      {{"--"}, "refused: no phrase to search for"},
      {{}, "refused: no phrase to search for"},
      {{"-l", "--open", "x"}, "refused: --list and --open exclude each other"},
      {{"--json", "-0", "x"}, "refused: --null and --json exclude each other"},
      {{"--index", "--no-index"}, "refused: --index and --no-index exclude each other"},
      {{"--index", "x"}, "refused: --index builds the index and searches for nothing"},
      {{hundred + "x"}, "refused: the phrase is longer than 100 characters"},
  };
  for (const auto& [arguments, expected] : cases) {
    std::string shown;
    for (const std::string& argument : arguments) shown += "[" + argument + "]";
    EXPECT_EQ(Described(Parse(arguments)), expected) << shown;
  }
  // Characters are counted, not bytes: 100 two-byte letters are one phrase.
  std::string letters;
  for (int i = 0; i < 100; ++i) letters += "\xC3\xA9";
  EXPECT_EQ(Parse({letters}).action, CommandLine::Action::kSearch);
  EXPECT_EQ(Parse({letters + "e"}).action, CommandLine::Action::kRefuse);
}

TEST(CommandLineTest, OptionsOverrideOnlyWhatTheyName) {
  MatchSettings match;
  match.case_table[0xE9] = 0xC9;
  match.mode = MatchMode::kText;
  OverrideMatchSettings(Parse({"x"}), match);
  EXPECT_EQ(match.case_folding, CaseFolding::kAscii);
  EXPECT_EQ(match.mode, MatchMode::kText);

  OverrideMatchSettings(Parse({"--fold=accents", "x"}), match);
  EXPECT_EQ(match.case_folding, CaseFolding::kUnicode);
  EXPECT_TRUE(match.ignore_accents);
  OverrideMatchSettings(Parse({"--fold=ascii", "--match=bytes", "x"}), match);
  EXPECT_EQ(match.case_folding, CaseFolding::kAscii);
  EXPECT_FALSE(match.ignore_accents);
  EXPECT_EQ(match.mode, MatchMode::kBytes);
  EXPECT_EQ(match.case_table[0xE9], 0xC9) << "the case pairs stay";

  ResultsSettings results;
  results.style = ResultsStyle::kSnippets;
  OverrideResultsSettings(Parse({"x"}), results);
  EXPECT_EQ(results.style, ResultsStyle::kSnippets);
  OverrideResultsSettings(Parse({"--results", "classic", "x"}), results);
  EXPECT_EQ(results.style, ResultsStyle::kClassic);
  results.order = ResultsOrder::kHits;
  OverrideResultsSettings(Parse({"x"}), results);
  EXPECT_EQ(results.order, ResultsOrder::kHits);
  OverrideResultsSettings(Parse({"--order", "relevance", "x"}), results);
  EXPECT_EQ(results.order, ResultsOrder::kRelevance);
}

}  // namespace
}  // namespace kb::cli
