#include "gui/kbsearch_program.h"

#include <memory>
#include <stop_token>
#include <utility>

#include "app/main_window.h"
#include "app/search.h"
#include "gui/qt_window_system.h"
#include "platform/file_system.h"
#include "platform/process.h"

namespace kb {

int RunKbsearch(std::span<const std::string_view> arguments,
                const decltype(StartFolderSteps::choose_folder)& choose_folder) {
  const std::unique_ptr<platform::WindowSystem> windows = platform::NewQtWindowSystem();
  const StartFolderSteps start_steps{
      .choose_folder = choose_folder,
      .show_message = [&](const Message& message) { windows->ShowMessage(message); }};
  if (!SettleStartFolder(arguments, platform::Env::Default(), platform::EnvironmentVariable,
                         start_steps)) {
    return kExitNoFolder;
  }

  // The state is allocated before the window exists, so that a shortage ends the program
  // before anything is shown but its message.
  std::unique_ptr<SearchState> state = NewSearchState();
  const SearchSteps steps{
      .load_templates = LoadTemplates,
      .run_search = [](SearchState& search, SearchScreen& screen, std::stop_token stop) {
        return RunSearch(search, screen, {.stop = std::move(stop)});
      }};
  MainWindow window(*windows, steps);
  return window.Run(std::move(state));
}

}  // namespace kb
