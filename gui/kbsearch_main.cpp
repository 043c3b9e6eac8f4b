// kbsearch, the desktop program: one small window in which the user types a phrase and
// presses Search; the matching articles come up as a page in the web browser.

#include <QApplication>

#include "app/main_window.h"
#include "app/search.h"
#include "gui/dialog_style.h"
#include "gui/qt_window_system.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  kb::platform::PrepareProcess();
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kbsearch"));
  QApplication::setDesktopFileName(QStringLiteral("kbsearch"));
  QApplication::setWindowIcon(kb::ProgramIcon("TEXTFIND_ICO"));

  // The state is allocated before the window exists, so that a shortage ends the program
  // before anything is shown but its message.
  std::unique_ptr<kb::SearchState> state = kb::NewSearchState();
  const std::unique_ptr<kb::platform::WindowSystem> windows = kb::platform::NewQtWindowSystem();
  const kb::SearchSteps steps{
      .load_templates = kb::LoadTemplates,
      .run_search = [](kb::SearchState& search, kb::SearchScreen& screen, std::stop_token stop) {
        return kb::RunSearch(search, screen, {.stop = std::move(stop)});
      }};
  kb::MainWindow window(*windows, steps);
  return window.Run(std::move(state));
}
