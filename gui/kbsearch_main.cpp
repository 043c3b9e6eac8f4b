// kbsearch, the desktop program: one small window in which the user types a phrase and
// presses Search; the matching articles come up as a page in the web browser.
//
//   kbsearch [DIR]

#include <QApplication>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "gui/dialog_style.h"
#include "gui/folder_dialog.h"
#include "gui/kbsearch_program.h"
#include "platform/process.h"

namespace {

constexpr std::string_view kUsage =
    "Usage: kbsearch [DIR]\n"
    "Opens the window that searches the knowledge base in DIR (ZEB/ZEB*.htm) for a phrase and\n"
    "shows the articles found on a results page in the web browser. Without DIR it searches\n"
    "the current directory, or when that holds no knowledge base the one opened last, or\n"
    "asks for a folder. Open... (Ctrl+O) in the window opens another.\n"
    "\n"
    "  -h, --help     show this text\n"
    "  -V, --version  show the version\n"
    "\n"
    "See kbsearch(1), and kbsearch-cli(1) for the same search from the command line.\n";

// What a lone -h/--help or -V/--version asks for, answered on standard output before any
// window (or display) is needed; nothing for every other command line, a folder among them.
bool AnsweredOnTheTerminal(int argc, char** argv, int& status) {
  if (argc != 2) return false;
  const std::string_view argument = argv[1];
  if (argument == "-h" || argument == "--help") {
    std::fwrite(kUsage.data(), 1, kUsage.size(), stdout);
  } else if (argument == "-V" || argument == "--version") {
    std::puts("kbsearch " KBSEARCH_VERSION);
  } else {
    return false;
  }
  status = 0;
  return true;
}

// The exit status of a start without a display, as of any start that could not go on.
constexpr int kExitNoDisplay = 2;

// While the application object is made: the toolkit's messages are held back, since one
// that says the display could not be opened is followed by the end of the process. That one
// becomes a line of ours, which says what to do instead; the others are passed on once the
// application stands.
struct HeldMessage {
  QtMsgType type;
  const char* category;  // the toolkit's own, static
  QString text;
};
std::vector<HeldMessage>* held_messages = nullptr;

void HoldOrGiveUp(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtFatalMsg) {
    constexpr std::string_view kNoDisplay =
        "kbsearch: no display to open the window on; kbsearch-cli searches without one\n";
    std::fwrite(kNoDisplay.data(), 1, kNoDisplay.size(), stderr);
    std::_Exit(kExitNoDisplay);
  }
  held_messages->push_back({type, context.category, text});
}

}  // namespace

int main(int argc, char** argv) {
  if (int status; AnsweredOnTheTerminal(argc, argv, status)) return status;
  kb::platform::PrepareProcess();
  std::vector<HeldMessage> held;
  held_messages = &held;
  const QtMessageHandler toolkit_handler = qInstallMessageHandler(HoldOrGiveUp);
  // Takes the toolkit's own options out of argv.
  QApplication application(argc, argv);
  qInstallMessageHandler(toolkit_handler);
  for (const HeldMessage& message : held) {
    qt_message_output(message.type, QMessageLogContext(nullptr, 0, nullptr, message.category),
                      message.text);
  }
  held_messages = nullptr;
  QApplication::setApplicationName(QStringLiteral("kbsearch"));
  QApplication::setDesktopFileName(QStringLiteral("kbsearch"));
  QApplication::setWindowIcon(kb::ProgramIcon("TEXTFIND_ICO"));

  const std::vector<std::string_view> arguments(argv + 1, argv + argc);
  return kb::RunKbsearch(arguments, kb::ChooseKnowledgeBaseFolder);
}
