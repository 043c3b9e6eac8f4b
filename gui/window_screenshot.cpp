// kbsearch_window_screenshot [--during | --stopped] DIR PHRASE PNG: runs kbsearch on the
// knowledge base in DIR as a user would (its settings file included), types PHRASE, presses
// Search and, once the search is over and the status line tells how it ended, saves a picture
// of the window in PNG. With --during, the picture is taken while the search goes on, its
// progress showing, and the search is then stopped; with --stopped, Escape stops the search
// once its progress shows, and the picture is taken after. For tools/render_pages, which
// makes the README's pictures; it runs offscreen when there is no display. The results page
// is handed to whatever xdg-open is first on PATH. An empty DIR starts kbsearch without a
// folder, as the menu does, in the working folder; an empty PHRASE takes the picture as soon
// as the window is up, before any search. With a display, the picture holds the window's
// frame and title as the window manager draws them.

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "gui/dialog_style.h"
#include "gui/folder_dialog.h"
#include "gui/kbsearch_program.h"

namespace {

QWidget* Window() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (widget->isVisible() && widget->findChild<QLineEdit*>("SearchEntry") != nullptr) {
      return widget;
    }
  }
  return nullptr;
}

// When the picture is taken.
enum class Moment { kAfter, kDuring, kStopped };

// The window, with its frame when there is a display (and so a window manager) to draw one.
bool Save(QWidget* window, const QString& picture) {
  if (QGuiApplication::platformName() == QStringLiteral("offscreen")) {
    return window->grab().save(picture, "PNG");
  }
  // The frame's size is the window manager's to tell, and not every one does: the window's
  // corner of the screen, with room for a frame around it.
  constexpr int kFrameRoom = 40;
  const QRect shown = window->geometry().adjusted(-kFrameRoom, -kFrameRoom, kFrameRoom, kFrameRoom);
  return window->screen()
      ->grabWindow(0, std::max(0, shown.x()), std::max(0, shown.y()), shown.width(), shown.height())
      .save(picture, "PNG");
}

}  // namespace

int main(int argc, char** argv) {
  Moment moment = Moment::kAfter;
  if (argc == 5 && std::string_view(argv[1]) == "--during") moment = Moment::kDuring;
  if (argc == 5 && std::string_view(argv[1]) == "--stopped") moment = Moment::kStopped;
  if (argc == 5 && moment != Moment::kAfter) {
    --argc;
    ++argv;
  }
  if (argc != 4) {
    std::fputs("Usage: kbsearch_window_screenshot [--during | --stopped] DIR PHRASE PNG\n", stderr);
    return 2;
  }
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
  }
  int qt_argc = 1;
  QApplication application(qt_argc, argv);
  QApplication::setWindowIcon(kb::ProgramIcon("TEXTFIND_ICO"));
  const QString phrase = QString::fromUtf8(argv[2]);
  const QString picture = QString::fromUtf8(argv[3]);

  bool saved = false;
  int step = 0;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* window = Window();
    if (window == nullptr) return;
    auto* entry = window->findChild<QLineEdit*>("SearchEntry");
    auto* search = window->findChild<QPushButton*>("SearchButton");
    auto* status = window->findChild<QLabel*>("StatusLine");
    auto* progress = window->findChild<QProgressBar*>("ProgressBar");
    if (phrase.isEmpty()) {
      if (!window->isActiveWindow()) return;
      saved = Save(window, picture);
      window->close();
      poll.stop();
    } else if (step == 0) {
      // Typed as the keyboard's input method hands it over: letters beyond ASCII included.
      entry->insert(phrase);
      QTest::mouseClick(search, Qt::LeftButton);
      step = 1;
    } else if (step == 1 && moment != Moment::kAfter && progress->isVisible() &&
               progress->value() >= 20) {
      if (moment == Moment::kDuring) saved = Save(window, picture);
      QTest::keyClick(entry, Qt::Key_Escape);
      step = 2;
    } else if (search->isEnabled() && !status->text().isEmpty()) {
      if (moment != Moment::kDuring) saved = Save(window, picture);
      window->close();
      poll.stop();
    }
  });
  poll.start(50);
  QTimer::singleShot(30000, [] {
    if (QWidget* window = Window()) window->close();
  });

  std::vector<std::string_view> arguments;
  if (*argv[1] != '\0') arguments.emplace_back(argv[1]);
  kb::RunKbsearch(arguments, kb::ChooseKnowledgeBaseFolder);
  if (!saved) std::fputs("kbsearch_window_screenshot: no picture was taken\n", stderr);
  return saved ? 0 : 1;
}
