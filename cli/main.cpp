// kbsearch-cli: the search of the kbsearch window, run once from the command line.

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <stop_token>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/base/knowledge_base.h"
#include "app/index/article_index.h"
#include "app/scan/scan.h"
#include "app/search/search.h"
#include "app/setup/settings_file.h"
#include "cli/command_line.h"
#include "cli/console_screen.h"
#include "cli/printers.h"
#include "cli/search_env.h"
#include "platform/process.h"
#include "platform/shell.h"
#include "platform/stop_signals.h"
#include "platform/terminal.h"
#include "support/error_state/error_state.h"
#include "support/text/text.h"

namespace {

constexpr int kMatched = 0;
constexpr int kNoMatch = 1;
constexpr int kTrouble = 2;

int Complain(std::string_view complaint) {
  std::fprintf(stderr, "kbsearch-cli: %.*s\n", static_cast<int>(complaint.size()),
               complaint.data());
  return kTrouble;
}

kb::PageHandling PageHandlingOf(const kb::cli::CommandLine& command) {
  if (command.list_only) return kb::PageHandling::kNone;
  return command.open_page ? kb::PageHandling::kOpenInBrowser : kb::PageHandling::kWriteOnly;
}

// Reads the settings file that --settings names, or the first one found, into `settings`;
// a relative path is taken from the directory kbsearch-cli was started in.
void ReadSettings(const kb::cli::CommandLine& command, kb::Settings& settings,
                  std::vector<kb::SettingsProblem>& problems) {
  kb::platform::Env& env = kb::cli::SearchEnv();
  if (command.settings_file.empty()) {
    kb::LoadSettings(env, settings, problems);
  } else {
    kb::ReadSettingsFile(env, {.paths = {command.settings_file}, .named = true}, settings,
                         problems);
  }
  kb::cli::OverrideMatchSettings(command, settings.match);
}

// kbsearch-cli --index: builds or refreshes the index of the knowledge base and searches
// nothing.
int BuildIndex(const kb::cli::CommandLine& command, const kb::Settings& settings) {
  kb::index::ArticleIndex index(
      {.enabled = settings.use_index, .cache_limit = settings.index_limit});
  std::string problem;
  const std::size_t threads = command.threads == 0 ? kb::DefaultScanThreads() : command.threads;
  if (!index.Refresh(threads, problem)) return Complain(kb::Concat({"cannot index: ", problem}));
  return 0;
}

int Search(const kb::cli::CommandLine& command) {
  const auto started = std::chrono::steady_clock::now();
  kb::Settings settings;
  std::vector<kb::SettingsProblem> settings_problems;
  ReadSettings(command, settings, settings_problems);
  // Before the search starts any thread, and for the whole run.
  kb::UseProgramTexts(std::move(settings.texts));

  std::string reason;
  if (!command.directory.empty() && !kb::platform::ChangeDirectory(command.directory, reason)) {
    return Complain(kb::Concat({"cannot change to directory ", command.directory, ": ", reason}));
  }

  if (command.build_index) {
    for (const kb::SettingsProblem& problem : settings_problems) Complain(problem.Describe());
    const int built = BuildIndex(command, settings);
    return settings_problems.empty() ? built : kTrouble;
  }

  // Ctrl-C and SIGTERM stop the search cleanly from here on: no page is written then.
  std::stop_source stop;
  const kb::platform::StopSignals stop_signals(stop);

  // The index spares the search the articles it proves need no reading; it is written only
  // by --index.
  kb::index::ArticleIndex index(
      {.enabled = settings.use_index && !command.no_index, .cache_limit = settings.index_limit});
  const bool draw_progress = kb::platform::StandardErrorIsTerminal();
  std::unique_ptr<kb::Printer> output;
  switch (command.format) {
    case kb::cli::ResultFormat::kPathLines:
      output = std::make_unique<kb::cli::PathPrinter>(stdout, '\n', draw_progress);
      break;
    case kb::cli::ResultFormat::kNullTerminatedPaths:
      output = std::make_unique<kb::cli::PathPrinter>(stdout, '\0', draw_progress);
      break;
    case kb::cli::ResultFormat::kJsonLines:
      output = std::make_unique<kb::cli::JsonLinesPrinter>(
          stdout, draw_progress, started, [&index](kb::cli::SearchSummary& summary) {
            const kb::index::IndexUse use = index.last_use();
            // The articles the index spared count as opened.
            summary.articles_read = std::max(
                0, summary.articles_opened - (summary.articles_listed - use.articles_read));
            summary.index_state = use.state;
            summary.index_reason = use.reason;
          });
      break;
  }
  kb::cli::ConsoleScreen screen(stderr, draw_progress, *output);
  kb::platform::Env& env = kb::cli::SearchEnv();
  kb::ShowSettingsProblems(settings_problems, screen);
  kb::SearchRequest request{.phrase = command.phrase,
                            .match_settings = settings.match,
                            .page_handling = PageHandlingOf(command),
                            .threads = command.threads,
                            .stop = stop.get_token(),
                            .filter = &index};
  // Without a page there is nothing for the templates to wrap.
  if (!command.list_only) request.templates = kb::LoadTemplates(env, screen);
  if (kb::ArticleFolderIsMissing(env)) {
    const std::string text =
        kb::Concat({"no ZEB folder in ",
                    command.directory.empty() ? "the current directory" : command.directory});
    screen.ReportFailure(
        {.text = text, .error_code = kb::error::kPathNotFound, .path = kb::kArticleFolder});
  }
  const kb::SearchReport report = kb::RunSearch(env, request, screen, {&screen});

  if (stop_signals.received() != 0) return stop_signals.ExitStatus();
  if (screen.messages_shown() > 0) return kTrouble;
  return report.found.empty() ? kNoMatch : kMatched;
}

}  // namespace

int main(int argc, char** argv) {
  kb::platform::PrepareProcess();
  const kb::cli::CommandLine command = kb::cli::ParseCommandLine(argc, argv);
  switch (command.action) {
    case kb::cli::CommandLine::Action::kHelp:
      std::fputs(kb::cli::UsageText().data(), stdout);
      return 0;
    case kb::cli::CommandLine::Action::kVersion:
      std::puts("kbsearch-cli " KBSEARCH_VERSION);
      return 0;
    case kb::cli::CommandLine::Action::kRefuse:
      Complain(command.refusal);
      std::fputs("Try 'kbsearch-cli --help' for more information.\n", stderr);
      return kTrouble;
    case kb::cli::CommandLine::Action::kSearch:
      break;
  }
  return Search(command);
}
