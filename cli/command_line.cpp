#include "cli/command_line.h"

#include <getopt.h>

#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "app/base/knowledge_base.h"
#include "app/match/article_region.h"
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
constexpr int kOrderOption = 266;
constexpr int kQueryOption = 267;
constexpr int kMarkerOption = 268;
constexpr int kIgnoreOption = 269;
constexpr int kInitOption = 270;
constexpr int kArticlesOption = 271;
constexpr int kExcludeOption = 272;
constexpr int kPageOption = 273;

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
    {"marker", required_argument, nullptr, kMarkerOption},
    {"ignore", required_argument, nullptr, kIgnoreOption},
    {"query", required_argument, nullptr, kQueryOption},
    {"results", required_argument, nullptr, kResultsOption},
    {"order", required_argument, nullptr, kOrderOption},
    {"no-kb-settings", no_argument, nullptr, kNoKbSettingsOption},
    {"index", no_argument, nullptr, kIndexOption},
    {"init", no_argument, nullptr, kInitOption},
    {"no-index", no_argument, nullptr, kNoIndexOption},
    {"io-depth", required_argument, nullptr, kIoDepthOption},
    {"articles", required_argument, nullptr, kArticlesOption},
    {"exclude", required_argument, nullptr, kExcludeOption},
    {"page", required_argument, nullptr, kPageOption},
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
constexpr std::pair<std::string_view, QueryKind> kQueryKinds[] = {
    {"phrase", QueryKind::kPhrase},
    {"words", QueryKind::kWords},
};
constexpr std::pair<std::string_view, ResultsStyle> kResultsStyles[] = {
    {"classic", ResultsStyle::kClassic},
    {"snippets", ResultsStyle::kSnippets},
};
constexpr std::pair<std::string_view, ResultsOrder> kResultsOrders[] = {
    {"name", ResultsOrder::kName},
    {"hits", ResultsOrder::kHits},
    {"relevance", ResultsOrder::kRelevance},
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

// The switches that choose the output, settled into one format once every option is read.
struct OutputSwitches {
  bool null_terminated = false;
  bool json = false;
};

// Applies `option` when it is one that takes no value (but --help and --version, which end
// the parse); false when it is not.
bool TakeSwitch(int option, CommandLine& command, OutputSwitches& output) {
  switch (option) {
    case 'l':
      command.list_only = true;
      return true;
    case '0':
      output.null_terminated = true;
      return true;
    case kJsonOption:
      output.json = true;
      return true;
    case kOpenOption:
      command.open_page = true;
      return true;
    case kIndexOption:
      command.build_index = true;
      return true;
    case kNoIndexOption:
      command.no_index = true;
      return true;
    case kNoKbSettingsOption:
      command.knowledge_base_settings = false;
      return true;
    case kInitOption:
      command.init = InitPreset::kZeb;
      return true;
  }
  return false;
}

// Applies `option`, one that takes `value`: "" when it did, why not when the value is not one
// the option takes, none when `option` takes no value.
std::optional<std::string> TakeValue(int option, std::string_view value, CommandLine& command) {
  const std::string quoted = Concat({"'", value, "'"});
  switch (option) {
    case 'C':
      command.directory = value;
      return "";
    case 'j':
      command.threads = ThreadCount(value);
      if (command.threads != 0) return "";
      return Concat({"-j needs a number of threads from 1 to ",
                     NumberToText(static_cast<int32_t>(kMostThreads)), ", not ", quoted});
    case kIoDepthOption:
      command.io_depth = IoDepth(value);
      if (command.io_depth) return "";
      return Concat({"--io-depth needs a number of threads from 0 to ",
                     NumberToText(static_cast<int32_t>(kMostIoDepth)), ", not ", quoted});
    case kSettingsOption:
      command.settings_file = value;
      return value.empty() ? "--settings needs a file" : "";
    case kFoldOption:
      command.folding = ChoiceOf(kFoldings, value);
      if (command.folding) return "";
      return Concat({"--fold takes ascii, unicode or accents, not ", quoted});
    case kMatchOption:
      command.match_mode = ChoiceOf(kMatchModes, value);
      if (command.match_mode) return "";
      return Concat({"--match takes bytes or text, not ", quoted});
    case kMarkerOption:
      command.marker = MarkerOf(value);
      if (command.marker) return "";
      return "--marker needs the text after which the article begins, or body";
    case kIgnoreOption: {
      std::vector<std::string> ignore;
      if (const std::optional<std::string> bad = ParseIgnoreList(value, ignore)) {
        return Concat(
            {"--ignore takes element names and classes with a dot, such as "
             "nav,.sidebar, not '",
             *bad, "'"});
      }
      command.ignore = std::move(ignore);
      return "";
    }
    case kQueryOption:
      command.query_kind = ChoiceOf(kQueryKinds, value);
      if (command.query_kind) return "";
      return Concat({"--query takes phrase or words, not ", quoted});
    case kResultsOption:
      command.results_style = ChoiceOf(kResultsStyles, value);
      if (command.results_style) return "";
      return Concat({"--results takes classic or snippets, not ", quoted});
    case kOrderOption:
      command.order = ChoiceOf(kResultsOrders, value);
      if (command.order) return "";
      return Concat({"--order takes name, hits or relevance, not ", quoted});
    case kArticlesOption:
      command.articles = value;
      return PatternProblem("--articles", value);
    case kExcludeOption:
      if (!command.exclude) command.exclude.emplace();
      return SplitPatterns("--exclude", value, *command.exclude);
    case kPageOption:
      command.page = value;
      return value.empty() ? "--page needs a file" : "";
  }
  return std::nullopt;
}

// Settles the options that depend on one another; why not when they exclude each other.
std::optional<std::string> Settle(const OutputSwitches& output, CommandLine& command) {
  if (command.list_only && command.open_page) return "--list and --open exclude each other";
  if (output.null_terminated && output.json) return "--null and --json exclude each other";
  if (output.null_terminated) command.format = ResultFormat::kNullTerminatedPaths;
  if (output.json) command.format = ResultFormat::kJsonLines;
  if (command.build_index && command.no_index) return "--index and --no-index exclude each other";
  if (command.build_index && command.init) return "--index and --init exclude each other";
  return std::nullopt;
}

// Takes the phrase from the `operands` left after the options; why not when they are not one
// phrase (none is right for --index).
std::optional<std::string> TakePhrase(std::span<char* const> operands, CommandLine& command) {
  if (command.build_index) {
    if (!operands.empty()) return "--index builds the index and searches for nothing";
    return std::nullopt;
  }
  if (command.init) {
    if (operands.size() > 1) return "--init takes one preset at most";
    if (operands.empty()) return std::nullopt;
    command.init = InitPresetOf(operands.front());
    if (command.init) return std::nullopt;
    return Concat({"--init takes the preset zeb, sphinx, mkdocs, rustdoc or mdbook, not '",
                   std::string_view(operands.front()), "'"});
  }
  if (operands.empty()) return "no phrase to search for";
  if (operands.size() > 1) return "give the phrase as one argument (quote it when it has blanks)";
  command.phrase = operands.front();
  if (CountCharacters(command.phrase) > kMaxSearchTextLength) {
    return Concat(
        {"the phrase is longer than ", NumberToText(kMaxSearchTextLength), " characters"});
  }
  return std::nullopt;
}

}  // namespace

std::string_view UsageText() {
  return "Usage: kbsearch-cli [-l] [-0 | --json] [--open] [-C DIR] [-j N] PHRASE\n"
         "       kbsearch-cli --index [-C DIR] [-j N]\n"
         "       kbsearch-cli --init [-C DIR] [zeb|sphinx|mkdocs|rustdoc|mdbook]\n"
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
         "                       more, each asking for its next articles ahead (0 to 64;\n"
         "                       0: none; default: 16, or none with -j)\n"
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
         "      --marker TEXT    the article begins after TEXT (body: after the <body> tag)\n"
         "                       and runs to the end of the page; pages without it are\n"
         "                       no articles (default: <!-- Article starts -->, and the\n"
         "                       page is searched whole)\n"
         "      --ignore LIST    leave the elements of LIST (names, or classes with a dot:\n"
         "                       nav,footer,.sidebar) out of the text (--match text only)\n"
         "      --query phrase|words\n"
         "                       look for PHRASE as it is, or for articles that hold all\n"
         "                       its words, in any order, each where a word starts;\n"
         "                       \"two words\" in quotes is one, -word excludes a word\n"
         "      --results classic|snippets\n"
         "                       a page of paths and excerpts, or one that also shows each\n"
         "                       article's title, hits and text around them (in --json too)\n"
         "      --order name|hits|relevance\n"
         "                       print the articles (and show the snippets page's rows) in\n"
         "                       the order of their names, most hits first, or the most\n"
         "                       relevant first; printed once the search has ended\n"
         "      --articles PATTERN\n"
         "                       search the files whose paths match PATTERN instead of\n"
         "                       ZEB/ZEB*.htm, '**' for any folders: '**/*.html'\n"
         "      --exclude PATTERN,...\n"
         "                       leave out the paths that match a PATTERN (repeatable)\n"
         "      --page FILE      write the results page of a knowledge base other than\n"
         "                       ZEB/ZEB*.htm to FILE, its links absolute\n"
         "      --no-kb-settings ignore the knowledge base's own kbsearch.env\n"
         "      --index          build or bring up to date the index of the knowledge base\n"
         "                       (in ~/.cache/kbsearch) and exit; searches then read only\n"
         "                       the articles it cannot rule out\n"
         "      --no-index       read every article, whatever index there is\n"
         "      --init [PRESET]  set up the folder as a knowledge base and exit: write its\n"
         "                       kbsearch.env for PRESET (zeb, the default, with the ZEB\n"
         "                       folder and the templates; sphinx, mkdocs, rustdoc or\n"
         "                       mdbook for their HTML), or the user's settings for it when the "
         "folder\n"
         "                       cannot be written; never overwrites a file\n"
         "  -h, --help           show this text\n"
         "  -V, --version        show the version\n"
         "\n"
         "Exit status: 0 when an article matched, 1 when none did, 2 when a message was\n"
         "shown (even if articles matched) or the results could not be written, 130 or 143\n"
         "when Ctrl-C or SIGTERM stopped the search, 141 when the reader of the results\n"
         "went away (no page is written then).\n";
}

QueryKind QueryKindOf(const CommandLine& command, QueryKind setting) {
  return command.query_kind.value_or(setting);
}

void OverrideResultsSettings(const CommandLine& command, ResultsSettings& settings) {
  if (command.results_style) settings.style = *command.results_style;
  if (command.order) settings.order = *command.order;
}

void OverrideLayout(const CommandLine& command, Settings& settings) {
  if (command.articles) settings.articles = *command.articles;
  if (command.exclude) settings.exclude = *command.exclude;
  if (command.page) settings.page = *command.page;
}

void OverrideMatchSettings(const CommandLine& command, MatchSettings& settings) {
  if (command.folding) {
    settings.case_folding = *command.folding == CommandLine::Folding::kAscii
                                ? CaseFolding::kAscii
                                : CaseFolding::kUnicode;
    settings.ignore_accents = *command.folding == CommandLine::Folding::kAccents;
  }
  if (command.match_mode) settings.mode = *command.match_mode;
  if (command.marker) settings.article.marker = *command.marker;
  if (command.ignore) settings.article.ignore = *command.ignore;
}

CommandLine ParseCommandLine(int argc, char** argv) {
  CommandLine command;
  OutputSwitches output;
  opterr = 0;  // the refusals below are worded here
  optind = 0;  // start afresh, even after an earlier parse
  int option;
  while ((option = getopt_long(argc, argv, kShortOptions, kLongOptions, nullptr)) != -1) {
    if (option == 'h' || option == 'V') {
      command.action = option == 'h' ? CommandLine::Action::kHelp : CommandLine::Action::kVersion;
      return command;
    }
    if (TakeSwitch(option, command, output)) continue;
    const std::string_view argument = argv[optind - 1];
    if (option == ':') return Refuse(Concat({argument, " needs a value"}));
    std::optional<std::string> refusal = TakeValue(option, optarg ? optarg : "", command);
    if (!refusal) {
      // A long option is named as it was given; a short one may sit in a cluster ("-xV").
      refusal = argument.starts_with("--")
                    ? Concat({"unknown option ", argument})
                    : Concat({"unknown option -", std::string(1, static_cast<char>(optopt))});
    }
    if (!refusal->empty()) return Refuse(std::move(*refusal));
  }
  if (std::optional<std::string> refusal = Settle(output, command)) {
    return Refuse(std::move(*refusal));
  }
  if (std::optional<std::string> refusal =
          TakePhrase(std::span<char* const>(argv + optind, argv + argc), command)) {
    return Refuse(std::move(*refusal));
  }
  return command;
}

}  // namespace kb::cli
