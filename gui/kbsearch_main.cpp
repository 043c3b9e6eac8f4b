// kbsearch, the desktop program: one small window in which the user types a phrase and
// presses Search; the matching articles come up as a page in the web browser.

#include <QApplication>

#include <stop_token>
#include <utility>
#include <vector>

#include "app/main_window.h"
#include "app/search.h"
#include "app/settings_file.h"
#include "gui/dialog_style.h"
#include "gui/qt_window_system.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  kb::platform::PrepareProcess();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kbsearch"));
  QApplication::setDesktopFileName(QStringLiteral("kbsearch"));
  QApplication::setWindowIcon(kb::ProgramIcon("TEXTFIND_ICO"));

  // The settings come first: their texts are the program's from here on, before any search
  // thread runs. Their problems are shown with the templates' messages, before the window.
  kb::Settings settings;
  std::vector<kb::SettingsProblem> settings_problems;
  kb::LoadSettings(kb::platform::Env::Default(), settings, settings_problems);
  kb::UseProgramTexts(std::move(settings.texts));

  // The state is allocated before the window exists, so that a shortage ends the program
  // before anything is shown but its message.
  std::unique_ptr<kb::SearchState> state = kb::NewSearchState();
  if (state) state->match_settings = settings.match;
  const std::unique_ptr<kb::platform::WindowSystem> windows = kb::platform::NewQtWindowSystem();
  const kb::SearchSteps steps{
      .load_templates =
          [&settings_problems](kb::SearchState& search, kb::SearchScreen& screen) {
            kb::ShowSettingsProblems(settings_problems, screen);
            kb::LoadTemplates(search, screen);
          },
      .run_search =
          [](kb::SearchState& search, kb::SearchScreen& screen, std::stop_token stop) {
            return kb::RunSearch(search, screen, {.stop = std::move(stop)});
          }};
  kb::MainWindow window(*windows, steps);
  return window.Run(std::move(state));
}
