#include "cli/command_line.h"

#include <getopt.h>

#include <optional>
#include <utility>

#include "app/base/knowledge_base.h"
#include "support/text/text.h"

namespace kb::cli {
namespace {

// Options that have no one-letter form are numbered past every letter.
constexpr int kOpenOption = 256;
constexpr int kSettingsOption = 257;
constexpr int kFoldOption = 258;
constexpr int kMatchOption = 259;
constexpr int kJsonOption = 260;
constexpr int kIndexOption = 261;
constexpr int kNoIndexOption = 262;
constexpr int kIoDepthOption = 263;
constexpr int kResultsOption = 264;
constexpr int kNoKbSettingsOption = 265;

constexpr char kShortOptions[] = ":0C:hj:lV";
constexpr option kLongOptions[] = {
    {"directory", required_argument, nullptr, 'C'},
    {"help", no_argument, nullptr, 'h'},
    {"json", no_argument, nullptr, kJsonOption},
    {"list", no_argument, nullptr, 'l'},
    {"null", no_argument, nullptr, '0'},
    {"open", no_argument, nullptr, kOpenOption},
    {"threads", required_argument, nullptr, 'j'},
    {"version", no_argument, nullptr, 'V'},
    {"settings", required_argument, nullptr, kSettingsOption},
    {"fold", required_argument, nullptr, kFoldOption},
    {"match", required_argument, nullptr, kMatchOption},
    {"results", required_argument, nullptr, kResultsOption},
    {"no-kb-settings", no_argument, nullptr, kNoKbSettingsOption},
    {"index", no_argument, nullptr, kIndexOption},
    {"no-index", no_argument, nullptr, kNoIndexOption},
    {"io-depth", required_argument, nullptr, kIoDepthOption},
    {nullptr, 0, nullptr, 0},
};

// The choices of --fold and of --match, in the order --help names them.
constexpr std::pair<std::string_view, CommandLine::Folding> kFoldings[] = {
    {"ascii", CommandLine::Folding::kAscii},
    {"unicode", CommandLine::Folding::kUnicode},
    {"accents", CommandLine::Folding::kAccents},
};
constexpr std::pair<std::string_view, MatchMode> kMatchModes[] = {
    {"bytes", MatchMode::kBytes},
    {"text", MatchMode::kText},
};
constexpr std::pair<std::string_view, ResultsStyle> kResultsStyles[] = {
    {"classic", ResultsStyle::kClassic},
    {"snippets", ResultsStyle::kSnippets},
};

// The choice `value` names among `choices`; none when it names none.
template <typename Choice, std::size_t kCount>
std::optional<Choice> ChoiceOf(const std::pair<std::string_view, Choice> (&choices)[kCount],
                               std::string_view value) {
  for (const auto& [name, choice] : choices) {
    if (name == value) return choice;
  }
  return std::nullopt;
}

CommandLine Refuse(std::string reason) {
  CommandLine refused;
  refused.action = CommandLine::Action::kRefuse;
  refused.refusal = std::move(reason);
  return refused;
}

// `text` as a thread count from 1 to kMostThreads; 0 when it is none.
std::size_t ThreadCount(std::string_view text) {
  if (text.empty() || text.size() > 3 || text.find_first_not_of("0123456789") != text.npos) {
    return 0;
  }
  const std::size_t count = static_cast<std::size_t>(TextToNumber(text));
  return count <= kMostThreads ? count : 0;
}

// `text` as a number of threads reading while the articles are not in memory, 0 to
// kMostIoDepth; none when it is none.
std::optional<std::size_t> IoDepth(std::string_view text) {
  if (text.empty() || text.size() > 4 || text.find_first_not_of("0123456789") != text.npos) {
    return std::nullopt;
  }
  const auto depth = static_cast<std::size_t>(TextToNumber(text));
  if (depth > kMostIoDepth) return std::nullopt;
  return depth;
}

}  // namespace

std::string_view UsageText() {
  return "Usage: kbsearch-cli [-l] [-0 | --json] [--open] [-C DIR] [-j N] PHRASE\n"
         "       kbsearch-cli --index [-C DIR] [-j N]\n"
         "Searches the articles ZEB/ZEB*.htm for PHRASE (by default in their bytes, letters\n"
         "a-z matching in either case), writes the results page ZebResult.htm wrapped in\n"
         "lheader.htm and lfooter.htm, and prints the path of each article found, one per\n"
         "line, in the order of their names.\n"
         "\n"
         "  -C, --directory DIR  search the knowledge base in DIR instead of the current one\n"
         "  -j, --threads N      read with N threads (1 to 64; default: one per processor,\n"
         "                       at most 16), and no more while the articles are not in\n"
         "                       memory\n"
         "      --io-depth N     while the articles are not in memory, read with N threads\n"
         "                       more (0 to 64; 0: none; default: 16, or none with -j)\n"
         "  -l, --list           print the articles found, but write no page (and read no\n"
         "                       template): for a knowledge base that may not be written\n"
         "  -0, --null           end each path with a NUL byte instead of a newline\n"
         "      --json           print a JSON object per line: each article found with its\n"
         "                       excerpt, each problem, and a summary at the end\n"
         "      --open           open the results page in the web browser\n"
         "      --settings FILE  read the settings from FILE instead of kbsearch.env\n"
         "      --fold ascii|unicode|accents\n"
         "                       fold the letters a-z (and the settings' case pairs), the\n"
         "                       case of all UTF-8 letters, or their case and accents\n"
         "      --match bytes|text\n"
         "                       search the article's bytes, or the text a browser shows\n"
         "      --results classic|snippets\n"
         "                       a page of paths and excerpts, or one that also shows each\n"
         "                       article's title, hits and text around them (in --json too)\n"
         "      --no-kb-settings ignore the knowledge base's own kbsearch.env\n"
         "      --index          build or bring up to date the index of the knowledge base\n"
         "                       (in ~/.cache/kbsearch) and exit; searches then read only\n"
         "                       the articles it cannot rule out\n"
         "      --no-index       read every article, whatever index there is\n"
         "  -h, --help           show this text\n"
         "  -V, --version        show the version\n"
         "\n"
         "Exit status: 0 when an article matched, 1 when none did, 2 when a message was\n"
         "shown (even if articles matched) or the results could not be written, 130 or 143\n"
         "when Ctrl-C or SIGTERM stopped the search, 141 when the reader of the results\n"
         "went away (no page is written then).\n";
}

void OverrideResultsSettings(const CommandLine& command, ResultsSettings& settings) {
  if (command.results_style) settings.style = *command.results_style;
}

void OverrideMatchSettings(const CommandLine& command, MatchSettings& settings) {
  if (command.folding) {
    settings.case_folding = *command.folding == CommandLine::Folding::kAscii
                                ? CaseFolding::kAscii
                                : CaseFolding::kUnicode;
    settings.ignore_accents = *command.folding == CommandLine::Folding::kAccents;
  }
  if (command.match_mode) settings.mode = *command.match_mode;
}

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine command;
  bool null_terminated = false;
  bool json = false;
  opterr = 0;  // the refusals below are worded here
  optind = 0;  // start afresh, even after an earlier parse
  int option;
  while ((option = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1) {
    const std::string_view argument = argv[optind - 1];
    switch (option) {
      case 'C':
        command.directory = optarg;
        break;
      case 'h':
        command.action = CommandLine::Action::kHelp;
        return command;
      case 'j':
        command.threads = ThreadCount(optarg);
        if (command.threads == 0) {
          return Refuse(
              Concat({"-j needs a number of threads from 1 to ",
                      NumberToText(static_cast<int32_t>(kMostThreads)), ", not '", optarg, "'"}));
        }
        break;
      case kIoDepthOption:
        command.io_depth = IoDepth(optarg);
        if (!command.io_depth) {
          return Refuse(
              Concat({"--io-depth needs a number of threads from 0 to ",
                      NumberToText(static_cast<int32_t>(kMostIoDepth)), ", not '", optarg, "'"}));
        }
        break;
      case 'V':
        command.action = CommandLine::Action::kVersion;
        return command;
      case 'l':
        command.list_only = true;
        break;
      case '0':
        null_terminated = true;
        break;
      case kJsonOption:
        json = true;
        break;
      case kOpenOption:
        command.open_page = true;
        break;
      case kIndexOption:
        command.build_index = true;
        break;
      case kNoIndexOption:
        command.no_index = true;
        break;
      case kSettingsOption:
        command.settings_file = optarg;
        if (command.settings_file.empty()) return Refuse("--settings needs a file");
        break;
      case kFoldOption:
        command.folding = ChoiceOf(kFoldings, optarg);
        if (!command.folding) {
          return Refuse(Concat({"--fold takes ascii, unicode or accents, not '", optarg, "'"}));
        }
        break;
      case kMatchOption:
        command.match_mode = ChoiceOf(kMatchModes, optarg);
        if (!command.match_mode) {
          return Refuse(Concat({"--match takes bytes or text, not '", optarg, "'"}));
        }
        break;
      case kResultsOption:
        command.results_style = ChoiceOf(kResultsStyles, optarg);
        if (!command.results_style) {
          return Refuse(Concat({"--results takes classic or snippets, not '", optarg, "'"}));
        }
        break;
      case kNoKbSettingsOption:
        command.knowledge_base_settings = false;
        break;
      case ':':
        return Refuse(Concat({argument, " needs a value"}));
      default:
        // A long option is named as it was given; a short one may sit in a cluster ("-xV").
        if (argument.starts_with("--")) return Refuse(Concat({"unknown option ", argument}));
        return Refuse(Concat({"unknown option -", std::string(1, static_cast<char>(optopt))}));
    }
  }
  if (command.list_only && command.open_page) return Refuse("--list and --open exclude each other");
  if (null_terminated && json) return Refuse("--null and --json exclude each other");
  if (null_terminated) command.format = ResultFormat::kNullTerminatedPaths;
  if (json) command.format = ResultFormat::kJsonLines;
  if (command.build_index) {
    if (command.no_index) return Refuse("--index and --no-index exclude each other");
    if (optind != argc) return Refuse("--index builds the index and searches for nothing");
    return command;
  }
  if (optind == argc) return Refuse("no phrase to search for");
  if (argc - optind > 1) {
    return Refuse("give the phrase as one argument (quote it when it has blanks)");
  }
  command.phrase = argv[optind];
  if (CountCharacters(command.phrase) > kMaxSearchTextLength) {
    return Refuse(
        Concat({"the phrase is longer than ", NumberToText(kMaxSearchTextLength), " characters"}));
  }
  return command;
}

}  // namespace kb::cli
