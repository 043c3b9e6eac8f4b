// kbsearch, the desktop program: one small window in which the user types a phrase and
// presses Search; the matching articles come up as a page in the web browser.
//
//   kbsearch [DIR]

#include <QApplication>
#include <string_view>
#include <vector>

#include "gui/dialog_style.h"
#include "gui/folder_dialog.h"
#include "gui/kbsearch_program.h"
#include "platform/process.h"

int main(int argc, char** argv) {
  kb::platform::PrepareProcess();
  // Takes the toolkit's own options out of argv.
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("kbsearch"));
  QApplication::setDesktopFileName(QStringLiteral("kbsearch"));
  QApplication::setWindowIcon(kb::ProgramIcon("TEXTFIND_ICO"));

  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  return kb::RunKbsearch(arguments, kb::ChooseKnowledgeBaseFolder);
}
