#pragma once

// The arguments of kbsearch-cli:
//   kbsearch-cli [-l] [-0 | --json] [--open] [-C DIR] [-j N] [--io-depth N] [--settings FILE]
//                [--fold F] [--match M] [--marker TEXT] [--ignore LIST] [--query Q]
//                [--results R] [--order O]
//                [--articles PATTERN] [--exclude PATTERN,...] [--page FILE]
//                [--no-kb-settings] [--no-index] PHRASE
//   kbsearch-cli --index [-C DIR] [-j N] [--settings FILE]
//   kbsearch-cli --init [-C DIR] [zeb | sphinx | mkdocs | rustdoc | mdbook]
//   kbsearch-cli --help | --version
// Options may come before or after the phrase; "--" ends them, so that a phrase may begin
// with "-". --list and --open are refused together (a page that is not written cannot be
// opened), and so are -0 and --json (JSON lines end in a newline).

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/base/query.h"
#include "app/base/results_settings.h"
#include "app/match/match_settings.h"
#include "app/setup/knowledge_base_init.h"
#include "app/setup/settings_file.h"
#include "cli/printers.h"

namespace kb::cli {

// The most threads -j takes.
inline constexpr std::size_t kMostThreads = 64;
// The most threads --io-depth takes.
inline constexpr std::size_t kMostIoDepth = 64;

struct CommandLine {
  enum class Action { kSearch, kHelp, kVersion, kRefuse };
  Action action = Action::kSearch;
  std::string directory;    // -C DIR, --directory DIR; empty: the current directory
  bool open_page = false;   // --open
  bool list_only = false;   // -l, --list: no page, no browser
  std::size_t threads = 0;  // -j N, --threads N; 0: one for each processor
  // --io-depth N: threads that read besides the others while the articles are not in
  // memory, all of them opening their next articles ahead; none: the search's default for
  // the threads
  std::optional<std::size_t> io_depth;
  std::string settings_file;  // --settings FILE; empty: where the settings file is looked for
  // -0, --null: paths ended by NUL; --json: JSON lines
  ResultFormat format = ResultFormat::kPathLines;
  // --fold ascii|unicode|accents and --match bytes|text; none: as the settings say.
  enum class Folding { kAscii, kUnicode, kAccents };
  std::optional<Folding> folding;
  std::optional<MatchMode> match_mode;
  // --marker TEXT and --ignore LIST: which part of a page is the article; none: as the
  // settings say.
  std::optional<std::string> marker;
  std::optional<std::vector<std::string>> ignore;
  // --query phrase|words; none: as the settings say.
  std::optional<QueryKind> query_kind;
  // --results classic|snippets; none: as the settings say.
  std::optional<ResultsStyle> results_style;
  // --order name|hits|relevance; none: as the settings say, which order the snippets page's
  // rows alone. Given, it orders the printed articles too, printed once the search has ended.
  std::optional<ResultsOrder> order;
  // --articles PATTERN and --exclude PATTERN,... (each --exclude adds to the ones before);
  // none: as the settings say.
  std::optional<std::string> articles;
  std::optional<std::vector<std::string>> exclude;
  // --page FILE: where the results page of a knowledge base other than a ZEB one goes; a
  // relative path is taken from the directory kbsearch-cli was started in.
  std::optional<std::string> page;
  bool knowledge_base_settings = true;  // false: --no-kb-settings
  // --index: build or refresh the article index and search nothing; --no-index: search
  // without it.
  bool build_index = false;
  bool no_index = false;
  // --init [PRESET]: set the folder up as a knowledge base and search nothing.
  std::optional<InitPreset> init;
  std::string phrase;   // the text to search for, as typed: a phrase, or words
  std::string refusal;  // why the arguments were refused, for Action::kRefuse
};

// Reads the arguments of main (argv[0] is the program's name; the others may be reordered).
// The phrase is checked against the longest a search takes.
CommandLine ParseCommandLine(int argc, char** argv);

// The kind of query --query of `command` says, else `setting`.
QueryKind QueryKindOf(const CommandLine& command, QueryKind setting);

// `settings` with what --results and --order of `command` say in place of theirs.
void OverrideResultsSettings(const CommandLine& command, ResultsSettings& settings);

// `settings` with what --articles, --exclude and --page of `command` say in place of theirs.
void OverrideLayout(const CommandLine& command, Settings& settings);

// `settings` with what --fold, --match, --marker and --ignore of `command` say in place of
// theirs.
void OverrideMatchSettings(const CommandLine& command, MatchSettings& settings);

// The text --help prints.
std::string_view UsageText();

}  // namespace kb::cli
