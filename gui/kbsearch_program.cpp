#include "gui/kbsearch_program.h"

#include <memory>
#include <optional>
#include <stop_token>
#include <string>
#include <utility>
#include <vector>

#include "app/index/article_index.h"
#include "app/search/search.h"
#include "app/setup/page_place.h"
#include "app/setup/remembered_folder.h"
#include "app/setup/settings_file.h"
#include "app/window/main_window.h"
#include "app/window/window_texts.h"
#include "gui/qt_window_system.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "support/program_texts/program_texts.h"

namespace kb {
namespace {

// The knowledge base in the working folder, as the window searches it: the user's settings
// with its own over them, their problems not shown yet, and its article index, which the
// window builds after its first search when there is none, and keeps up to date, on a thread
// of its own. Destroying it stops that thread, so that nothing works in the folder any more.
struct OpenKnowledgeBase {
  OpenKnowledgeBase(const Settings& user_settings, std::vector<SettingsProblem> user_problems)
      : settings(user_settings),
        settings_problems(std::move(user_problems)),
        base(ReadSettings(settings, knowledge_base_problems)),
        index({.knowledge_base = base,
               .enabled = settings.use_index,
               .cache_limit = settings.index_limit,
               .watch = true,
               .article = settings.match.article}),
        index_refresh(index, 1) {}

  // Reads the knowledge base's settings file over `settings`; the knowledge base they lay out.
  static KnowledgeBase ReadSettings(Settings& settings, std::vector<SettingsProblem>& problems) {
    ReadKnowledgeBaseSettings(platform::Env::Default(), settings, problems);
    std::string root;
    if (platform::CurrentDirectory(root) != platform::system_error::kNone) root.clear();
    KnowledgeBase base = KnowledgeBaseOf(settings, std::move(root));
    PlaceResultsPage(base, settings.page);
    return base;
  }

  Settings settings;
  std::vector<SettingsProblem> settings_problems;
  std::vector<SettingsProblem> knowledge_base_problems;
  KnowledgeBase base;
  index::ArticleIndex index;
  index::BackgroundRefresh index_refresh;
};

// The window's title for the working folder.
std::string TitleOfWorkingFolder() {
  std::string current;
  // Not assigned "." over a string the call may have filled: GCC 12's -O2 then warns of an
  // overlapping copy that cannot happen (its -Wrestrict false positive).
  const std::string folder =
      platform::CurrentDirectory(current) == platform::system_error::kNone ? current : ".";
  return WindowTitle(MainWindowLayout().title, folder,
                     platform::EnvironmentVariable("HOME").value_or(""));
}

}  // namespace

int RunKbsearch(std::span<const std::string_view> arguments,
                const decltype(StartFolderSteps::choose_folder)& choose_folder) {
  // The settings come first: their texts are the program's from here on, before any search
  // thread runs, and a settings file named by a relative path is found from where the program
  // was started. Their problems are shown with the templates' messages, before the window.
  Settings user_settings;
  std::vector<SettingsProblem> user_problems;
  LoadSettings(platform::Env::Default(), user_settings, user_problems);
  UseProgramTexts(std::move(user_settings.texts));

  const std::unique_ptr<platform::WindowSystem> windows = platform::NewQtWindowSystem();
  const StartFolderSteps start_steps{
      .choose_folder = choose_folder,
      .show_message = [&](const Message& message) { windows->ShowMessage(message); }};
  if (!SettleStartFolder(arguments, platform::Env::Default(), platform::EnvironmentVariable,
                         start_steps)) {
    return kExitNoFolder;
  }

  // Now that the program is in the knowledge base's folder; made again for each other
  // knowledge base opened.
  auto open = std::make_unique<OpenKnowledgeBase>(user_settings, std::move(user_problems));
  const SearchSteps steps{
      .load_templates =
          [&](SearchScreen& screen) {
            // Each problem once: the user's at start, the knowledge base's whenever it is
            // opened.
            ShowSettingsProblems(std::exchange(open->settings_problems, {}), screen);
            ShowSettingsProblems(std::exchange(open->knowledge_base_problems, {}), screen,
                                 SettingsSource::kKnowledgeBase);
            return LoadTemplates(platform::Env::Default(), screen, open->base);
          },
      .run_search =
          [&](const SearchRequest& request, SearchScreen& screen) {
            SearchRequest through_index = request;
            through_index.knowledge_base = open->base;
            through_index.filter = &open->index;
            through_index.results = open->settings.results;
            SearchReport report = RunSearch(platform::Env::Default(), through_index, screen);
            open->index_refresh.AfterSearch();
            return report;
          },
      .open_other = [&]() -> std::optional<SearchChoices> {
        // The index and its refresh let go of the folder before the program leaves it;
        // when it stays, they are made again there.
        const bool changed =
            OpenOtherFolder(platform::Env::Default(), platform::EnvironmentVariable, start_steps,
                            [&] { open.reset(); });
        if (!open)
          open = std::make_unique<OpenKnowledgeBase>(user_settings, std::vector<SettingsProblem>{});
        if (!changed) return std::nullopt;
        return SearchChoices{.match_settings = open->settings.match,
                             .query_kind = open->settings.query_kind};
      },
      .title = TitleOfWorkingFolder};
  MainWindow window(*windows, steps, open->settings.match, open->settings.query_kind);
  // The user's choice: a knowledge base's own settings may not make it.
  if (open->settings.keep_history) {
    if (std::string file = StateFile(platform::EnvironmentVariable, kHistoryFileName);
        !file.empty()) {
      window.KeepHistoryIn(platform::Env::Default(), std::move(file));
    }
  }
  return window.Run();
}

}  // namespace kb
