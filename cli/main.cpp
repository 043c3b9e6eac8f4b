// kbsearch-cli: the search of the kbsearch window, run once from the command line.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/base/knowledge_base.h"
#include "app/index/article_index.h"
#include "app/scan/scan.h"
#include "app/search/search.h"
#include "app/search/search_settings.h"
#include "app/setup/knowledge_base_init.h"
#include "app/setup/page_place.h"
#include "app/setup/settings_file.h"
#include "cli/command_line.h"
#include "cli/console_screen.h"
#include "cli/printers.h"
#include "cli/search_env.h"
#include "platform/file_identity.h"
#include "platform/process.h"
#include "platform/result_output.h"
#include "platform/shell.h"
#include "platform/stop_signals.h"
#include "platform/terminal.h"
#include "support/error_state/error_state.h"
#include "support/text/text.h"

namespace {

constexpr int kMatched = 0;
constexpr int kNoMatch = 1;
constexpr int kTrouble = 2;
// The reader of standard output went away (a closed pipe, as after `| head -1`): the status
// of a program that SIGPIPE ended, which is what a shell reports for most programs then.
constexpr int kReaderGone = 128 + 13;

int Complain(std::string_view complaint) {
  std::fprintf(stderr, "kbsearch-cli: %.*s\n", static_cast<int>(complaint.size()),
               complaint.data());
  return kTrouble;
}

// The exit status when standard output could not take everything, after saying why; 0 when
// it did.
int OutputTrouble(const kb::platform::ResultOutput& output) {
  switch (output.state()) {
    case kb::platform::ResultOutput::State::kFailed:
      return Complain(kb::Concat({"could not write the results: ", output.reason()}));
    case kb::platform::ResultOutput::State::kClosedByReader:
      return kReaderGone;
    case kb::platform::ResultOutput::State::kOpen:
    case kb::platform::ResultOutput::State::kStopped:
      break;
  }
  return 0;
}

// Writes a text of the program (its usage, its version) to standard output.
int PrintText(std::string_view text) {
  kb::platform::ResultOutput output(kb::platform::ResultOutput::kStandardOutput, {});
  output.Write(text);
  output.Flush();
  return OutputTrouble(output);
}

kb::PageHandling PageHandlingOf(const kb::cli::CommandLine& command) {
  if (command.list_only) return kb::PageHandling::kNone;
  return command.open_page ? kb::PageHandling::kOpenInBrowser : kb::PageHandling::kWriteOnly;
}

// Reads the settings file that --settings names, or the first one found, into `settings`;
// a relative path is taken from the directory kbsearch-cli was started in.
void ReadSettings(const kb::cli::CommandLine& command, kb::Settings& settings,
                  std::vector<kb::SettingsProblem>& problems) {
  kb::ReadSearchSettings(kb::cli::SearchEnv(), command.settings_file, settings, problems);
}

// Reads the knowledge base's own settings file over the user's, unless --no-kb-settings, and
// lets the options override both.
void OverrideSettings(const kb::cli::CommandLine& command, kb::Settings& settings,
                      std::vector<kb::SettingsProblem>& knowledge_base_problems) {
  if (command.knowledge_base_settings) {
    kb::ReadKnowledgeBaseSettings(kb::cli::SearchEnv(), settings, knowledge_base_problems);
  }
  kb::cli::OverrideLayout(command, settings);
  kb::cli::OverrideMatchSettings(command, settings.match);
  kb::cli::OverrideResultsSettings(command, settings.results);
}

// The knowledge base of the working directory as `settings` lay it out, its page placed.
kb::KnowledgeBase CurrentKnowledgeBase(const kb::Settings& settings) {
  std::string root;
  if (kb::platform::CurrentDirectory(root) != kb::platform::system_error::kNone) root.clear();
  kb::KnowledgeBase base = kb::KnowledgeBaseOf(settings, std::move(root));
  kb::PlaceResultsPage(base, settings.page);
  return base;
}

// The printer of the results in the format the command line asks for, writing to `results`.
std::unique_ptr<kb::Printer> MakePrinter(kb::cli::ResultFormat format, const kb::Query& query,
                                         kb::platform::ResultOutput& results,
                                         std::chrono::steady_clock::time_point started,
                                         const kb::index::ArticleIndex& index) {
  switch (format) {
    case kb::cli::ResultFormat::kPathLines:
      return std::make_unique<kb::cli::PathPrinter>(results, '\n');
    case kb::cli::ResultFormat::kNullTerminatedPaths:
      return std::make_unique<kb::cli::PathPrinter>(results, '\0');
    case kb::cli::ResultFormat::kJsonLines:
      break;
  }
  return std::make_unique<kb::cli::JsonLinesPrinter>(
      results, started,
      [&index](kb::cli::SearchSummary& summary) {
        const kb::index::IndexUse use = index.last_use();
        // The articles the index spared count as opened.
        summary.articles_read =
            std::max(0, summary.articles_opened - (summary.articles_listed - use.articles_read));
        summary.index_state = use.state;
        summary.index_reason = use.reason;
      },
      query);
}

// kbsearch-cli --index: builds or refreshes the index of the knowledge base and searches
// nothing; with --json, says what came of it in a summary line of its own, "built", or "not
// used" and why when it failed (which is also said on standard error). The problems met in
// the settings file are said first, as a search says them.
int BuildIndex(const kb::cli::CommandLine& command, const kb::Settings& settings,
               const kb::KnowledgeBase& base,
               const std::vector<kb::SettingsProblem>& settings_problems,
               const std::vector<kb::SettingsProblem>& knowledge_base_problems,
               std::chrono::steady_clock::time_point started) {
  kb::index::ArticleIndex index({.knowledge_base = base,
                                 .enabled = settings.use_index,
                                 .cache_limit = settings.index_limit,
                                 .article = settings.match.article});
  const bool json = command.format == kb::cli::ResultFormat::kJsonLines;
  kb::platform::ResultOutput output(kb::platform::ResultOutput::kStandardOutput, {});
  const std::unique_ptr<kb::Printer> printer =
      MakePrinter(command.format, kb::Query{}, output, started, index);
  // The progress and the closing line are for a person watching a terminal.
  kb::cli::ConsoleScreen screen(stderr, kb::platform::StandardErrorIsTerminal() && !json, *printer,
                                output.terminal());
  kb::ShowSettingsProblems(settings_problems, screen);
  kb::ShowSettingsProblems(knowledge_base_problems, screen, kb::SettingsSource::kKnowledgeBase);
  std::string problem;
  const std::size_t threads = command.threads == 0 ? kb::DefaultScanThreads() : command.threads;
  screen.IndexingStarted();
  const bool built = index.Refresh(threads, problem, {}, [&screen](int32_t done, int32_t total) {
    screen.ArticleDone(done, total);
  });
  const kb::index::IndexUse use = index.last_use();
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
  if (built) {
    screen.ShowLastLine(kb::cli::IndexSummary(use.articles_listed, use.articles_read,
                                              elapsed.count(), use.index_bytes));
  } else {
    // The message that follows goes on a line of its own.
    screen.ScanEnded({});
    screen.SearchEnded();
  }
  const int status = built ? 0 : Complain(kb::Concat({"cannot index: ", problem}));
  if (json) {
    output.Write(kb::cli::JsonSummaryLine({.phrase = {},
                                           .elapsed = std::chrono::steady_clock::now() - started,
                                           .articles_listed = use.articles_listed,
                                           .articles_opened = use.articles_read,
                                           .articles_matched = 0,
                                           .articles_read = use.articles_read,
                                           .index_state = use.state,
                                           .index_reason = use.reason}));
  }
  output.Flush();
  const int trouble = OutputTrouble(output);
  return trouble != 0 ? trouble : status;
}

// Says so when the knowledge base has no folder of articles.
void ReportMissingArticleFolder(const kb::cli::CommandLine& command, kb::platform::Env& env,
                                kb::FailureReporter& screen) {
  if (!kb::ArticleFolderIsMissing(env)) return;
  const std::string text =
      kb::Concat({"no ZEB folder in ",
                  command.directory.empty() ? "the current directory" : command.directory});
  screen.ReportFailure(
      {.text = text, .error_code = kb::error::kPathNotFound, .path = kb::kArticleFolder});
}

// Searches the knowledge base in the working directory with `settings`, after showing the
// problems met in the settings files; gives the exit status.
int SearchKnowledgeBase(const kb::cli::CommandLine& command, const kb::Query& query,
                        const kb::Settings& settings,
                        const std::vector<kb::SettingsProblem>& settings_problems,
                        const std::vector<kb::SettingsProblem>& knowledge_base_problems,
                        std::chrono::steady_clock::time_point started) {
  // Ctrl-C and SIGTERM stop the search cleanly from here on: no page is written then.
  std::stop_source stop;
  const kb::platform::StopSignals stop_signals(stop);

  // The index spares the search the articles it proves need no reading; it is written only
  // by --index.
  const kb::KnowledgeBase base = CurrentKnowledgeBase(settings);
  kb::index::ArticleIndex index({.knowledge_base = base,
                                 .enabled = settings.use_index && !command.no_index,
                                 .cache_limit = settings.index_limit,
                                 .article = settings.match.article});
  // A write that fails, or finds no reader, stops the search as a signal does; a signal stops
  // a write that waits for a reader.
  kb::platform::ResultOutput results(kb::platform::ResultOutput::kStandardOutput, stop);
  const std::unique_ptr<kb::Printer> output =
      MakePrinter(command.format, query, results, started, index);
  kb::cli::ConsoleScreen screen(stderr, kb::platform::StandardErrorIsTerminal(), *output,
                                results.terminal());
  kb::platform::Env& env = kb::cli::SearchEnv();
  kb::ShowSettingsProblems(settings_problems, screen);
  // A file that someone else wrote into the knowledge base does not change the exit status.
  kb::ShowSettingsProblems(knowledge_base_problems, screen, kb::SettingsSource::kKnowledgeBase);
  const auto uncounted_messages = static_cast<int>(knowledge_base_problems.size());
  kb::SearchRequest request{.knowledge_base = base,
                            .query = query,
                            .match_settings = settings.match,
                            .page_handling = PageHandlingOf(command),
                            .threads = command.threads,
                            .stop = stop.get_token(),
                            .filter = &index,
                            .io_depth = command.io_depth,
                            .results = settings.results,
                            .printed_order = command.order};
  // Without a page there is nothing for the templates to wrap.
  if (!command.list_only) request.templates = kb::LoadTemplates(env, screen, base);
  if (base.ListsArticleFolder()) ReportMissingArticleFolder(command, env, screen);
  // The report lives as long as the process, which ends right after it: freeing thousands of
  // findings one by one would only delay the exit, where the system takes the memory back at
  // once. Left reachable, so that a leak check does not count it.
  static const kb::SearchReport& report =
      *new kb::SearchReport(kb::RunSearch(env, request, screen, {&screen}));
  results.Flush();

  if (stop_signals.received() != 0) return stop_signals.ExitStatus();
  if (const int trouble = OutputTrouble(results)) return trouble;
  if (command.format != kb::cli::ResultFormat::kJsonLines &&
      report.outcome == kb::SearchOutcome::kCompleted && screen.page_written()) {
    // The page where the browser, or whoever looks for it, finds it.
    if (!base.page.starts_with("./")) {
      screen.ShowLastLine(base.page);
    } else if (!base.root.empty()) {
      screen.ShowLastLine(kb::Concat({base.root, "/", std::string_view(base.page).substr(2)}));
    }
  }
  if (screen.messages_shown() > uncounted_messages) return kTrouble;
  return report.found.empty() ? kNoMatch : kMatched;
}

// kbsearch-cli --init: sets up the working directory as a knowledge base for `preset`, and
// says what it wrote, one path a line; a problem is said on standard error.
int InitKnowledgeBase(kb::InitPreset preset) {
  const std::optional<std::string> folder = kb::platform::CanonicalPath(".");
  if (!folder) return Complain("cannot tell the path of the knowledge base's folder");
  const kb::InitOutcome outcome = kb::InitKnowledgeBase(kb::cli::SearchEnv(), preset, *folder,
                                                        kb::platform::EnvironmentVariable);
  kb::platform::ResultOutput output(kb::platform::ResultOutput::kStandardOutput, {});
  for (const std::string& path : outcome.written) output.Write(kb::Concat({"wrote ", path, "\n"}));
  output.Flush();
  if (const int trouble = OutputTrouble(output)) return trouble;
  return outcome.done ? 0 : Complain(outcome.problem);
}

int Search(kb::cli::CommandLine command) {
  const auto started = std::chrono::steady_clock::now();
  kb::Settings settings;
  std::vector<kb::SettingsProblem> settings_problems;
  ReadSettings(command, settings, settings_problems);
  // Before the search starts any thread, and for the whole run.
  kb::UseProgramTexts(std::move(settings.texts));

  // --page names a file from where kbsearch-cli was started.
  if (command.page && !command.page->starts_with('/')) {
    std::string started_in;
    if (kb::platform::CurrentDirectory(started_in) == kb::platform::system_error::kNone) {
      command.page = kb::Concat({started_in, "/", *command.page});
    }
  }
  std::string reason;
  if (!command.directory.empty() && !kb::platform::ChangeDirectory(command.directory, reason)) {
    return Complain(kb::Concat({"cannot change to directory ", command.directory, ": ", reason}));
  }

  if (command.init) return InitKnowledgeBase(*command.init);

  std::vector<kb::SettingsProblem> knowledge_base_problems;
  OverrideSettings(command, settings, knowledge_base_problems);
  // The index holds the bytes and the text alike: an Ignore list is its whatever the mode.
  if (const std::string conflict = kb::SettingsConflict(settings);
      !conflict.empty() && !command.build_index) {
    return Complain(conflict);
  }
  if (command.build_index) {
    const int built = BuildIndex(command, settings, CurrentKnowledgeBase(settings),
                                 settings_problems, knowledge_base_problems, started);
    return settings_problems.empty() ? built : kTrouble;
  }

  // The text is read as the settings or --query say, before anything is searched.
  kb::Query query;
  if (const kb::QueryProblem problem =
          kb::ParseQuery(command.phrase, kb::cli::QueryKindOf(command, settings.query_kind), query);
      problem != kb::QueryProblem::kNone) {
    return Complain(kb::QueryProblemText(problem));
  }
  return SearchKnowledgeBase(command, query, settings, settings_problems, knowledge_base_problems,
                             started);
}

}  // namespace

int main(int argc, char** argv) {
  kb::platform::PrepareProcess();
  const kb::cli::CommandLine command = kb::cli::ParseCommandLine(argc, argv);
  switch (command.action) {
    case kb::cli::CommandLine::Action::kHelp:
      return PrintText(kb::cli::UsageText());
    case kb::cli::CommandLine::Action::kVersion:
      return PrintText("kbsearch-cli " KBSEARCH_VERSION "\n");
    case kb::cli::CommandLine::Action::kRefuse:
      Complain(command.refusal);
      std::fputs("Try 'kbsearch-cli --help' for more information.\n", stderr);
      return kTrouble;
    case kb::cli::CommandLine::Action::kSearch:
      break;
  }
  return Search(command);
}
