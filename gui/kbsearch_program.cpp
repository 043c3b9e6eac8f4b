#include "gui/kbsearch_program.h"

#include <memory>
#include <stop_token>
#include <utility>
#include <vector>

#include "app/index/article_index.h"
#include "app/search/search.h"
#include "app/setup/remembered_folder.h"
#include "app/setup/settings_file.h"
#include "app/window/main_window.h"
#include "gui/qt_window_system.h"
#include "platform/file_system.h"
#include "platform/process.h"
#include "support/program_texts/program_texts.h"

namespace kb {

int RunKbsearch(std::span<const std::string_view> arguments,
                const decltype(StartFolderSteps::choose_folder)& choose_folder) {
  // The settings come first: their texts are the program's from here on, before any search
  // thread runs, and a settings file named by a relative path is found from where the program
  // was started. Their problems are shown with the templates' messages, before the window.
  Settings settings;
  std::vector<SettingsProblem> settings_problems;
  LoadSettings(platform::Env::Default(), settings, settings_problems);
  UseProgramTexts(std::move(settings.texts));

  const std::unique_ptr<platform::WindowSystem> windows = platform::NewQtWindowSystem();
  const StartFolderSteps start_steps{
      .choose_folder = choose_folder,
      .show_message = [&](const Message& message) { windows->ShowMessage(message); }};
  if (!SettleStartFolder(arguments, platform::Env::Default(), platform::EnvironmentVariable,
                         start_steps)) {
    return kExitNoFolder;
  }

  // The knowledge base's own settings file, now that the program is in its folder, over the
  // user's.
  std::vector<SettingsProblem> knowledge_base_problems;
  ReadKnowledgeBaseSettings(platform::Env::Default(), settings, knowledge_base_problems);

  // The article index spares searches the articles it proves need no reading; the window
  // builds it after its first search when there is none, and keeps it up to date, on a
  // thread of its own.
  index::ArticleIndex article_index(
      {.enabled = settings.use_index, .cache_limit = settings.index_limit, .watch = true});
  index::BackgroundRefresh index_refresh(article_index, 1);
  const SearchSteps steps{
      .load_templates =
          [&](SearchScreen& screen) {
            ShowSettingsProblems(settings_problems, screen);
            ShowSettingsProblems(knowledge_base_problems, screen, SettingsSource::kKnowledgeBase);
            return LoadTemplates(platform::Env::Default(), screen);
          },
      .run_search =
          [&](const SearchRequest& request, SearchScreen& screen) {
            SearchRequest through_index = request;
            through_index.filter = &article_index;
            through_index.results = settings.results;
            SearchReport report = RunSearch(platform::Env::Default(), through_index, screen);
            index_refresh.AfterSearch();
            return report;
          }};
  MainWindow window(*windows, steps, settings.match, settings.query_kind);
  if (settings.keep_history) {
    if (std::string file = StateFile(platform::EnvironmentVariable, kHistoryFileName);
        !file.empty()) {
      window.KeepHistoryIn(platform::Env::Default(), std::move(file));
    }
  }
  return window.Run();
}

}  // namespace kb
