#include <gtest/gtest.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <string>
#include <vector>

#include "app/base/replaceable_texts.h"
#include "app/window/main_window.h"
#include "gui/qt_window_system.h"
#include "gui/window_test_driver.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

using testing::ControlOf;
using testing::MainFrame;
using testing::SearchCount;
using testing::User;
using testing::WindowReady;

void ClickClose() {
  QTest::mouseClick(ControlOf<QPushButton>("CloseButton"), Qt::LeftButton);
}

class MainWindowQtTest : public ::testing::Test {
 protected:
  int Run() {
    const std::unique_ptr<platform::WindowSystem> windows = platform::NewQtWindowSystem();
    MainWindow window(*windows, steps_);
    const int exit_code = window.Run();
    EXPECT_TRUE(user_.finished());
    EXPECT_EQ(MainFrame(), nullptr);
    return exit_code;
  }

  User user_;
  SearchSteps steps_{
      .load_templates = [](SearchScreen&) { return PageTemplates(); },
      .run_search = [](const SearchRequest&, SearchScreen&) { return SearchReport(); }};
  SearchCount searches_;
};

TEST_F(MainWindowQtTest, OpensReadyToTypeAndCloseEndsTheProgram) {
  user_.When(WindowReady, [] {
    EXPECT_TRUE(ControlOf<QLineEdit>("SearchEntry")->hasFocus());
    EXPECT_TRUE(ControlOf<QLabel>("StatusLine")->text().isEmpty());
    EXPECT_FALSE(ControlOf<QProgressBar>("ProgressBar")->isVisible());
    EXPECT_FALSE(ControlOf<QListView>("ResultList")->isVisible());
    EXPECT_FALSE(MainFrame()->windowIcon().isNull());
    ClickClose();
  });
  EXPECT_EQ(Run(), kExitOk);
}

// Whether `widget` shows all of its text: as large as it asks to be, or, for a label that
// wraps, as high as its text needs at its width.
bool ShowsItsWholeText(QWidget* widget) {
  const auto* label = qobject_cast<QLabel*>(widget);
  if (label != nullptr && label->wordWrap()) {
    return widget->height() >= label->heightForWidth(widget->width());
  }
  return widget->width() >= widget->sizeHint().width() &&
         widget->height() >= widget->sizeHint().height();
}

// Every text of the window replaced by a long one, in two languages' worth of words and
// beyond the screen's width: each control shows its whole text, side by side with the
// others, never over them, and the window stays within the screen. Made wider, the window
// gives the width to the entry alone.
TEST_F(MainWindowQtTest, LongTextsInEveryKeyAreShownWhole) {
  const QString wide_word = QStringLiteral("Recherche ");
  ProgramTexts texts;
  const std::string beyond_the_screen = (wide_word.repeated(120)).toStdString();
  for (const auto& [key, text] : std::initializer_list<std::pair<const char*, std::string>>{
           {"SearchPrompt", "Rechercher dans la base de connaissances :"},
           {"SearchButton", "&Rechercher dans les articles"},
           {"CloseButton", "Fermer la fen\xC3\xAAtre de recherche"},
           {"SearchingStatus", beyond_the_screen},
           {"FoundOneStatus", "Un article trouv\xC3\xA9 dans la base de connaissances, en entier"},
           {"NotFoundStatus", beyond_the_screen + " %P"}}) {
    ASSERT_EQ(texts.Replace(*FindReplaceableText(key), text), ProgramTexts::Replacement::kDone)
        << key;
  }
  UseProgramTexts(std::move(texts));
  // The first search finds one article, the second none.
  int searches = 0;
  steps_.run_search = [this, &searches](const SearchRequest& request, SearchScreen& screen) {
    screen.ScanStarted(1);
    screen.ScanEnded(Upper(request.query.text));
    SearchReport report{.articles_listed = 1};
    if (++searches == 1) report.found.resize(1);
    searches_.Ended();
    return report;
  };

  std::vector<std::string> shown;
  // The window fits the screen until the user makes it wider.
  bool widened = false;
  const auto check_every_control = [&shown, &widened] {
    QWidget* frame = MainFrame();
    const QRect screen = frame->screen()->availableGeometry();
    if (!widened) {
      EXPECT_LE(frame->width(), screen.width());
    }
    std::vector<QWidget*> visible;
    for (const char* name : {"SearchPrompt", "SearchEntry", "SearchButton", "CloseButton",
                             "ProgressBar", "StatusLine"}) {
      QWidget* widget = ControlOf<QWidget>(name);
      EXPECT_TRUE(ShowsItsWholeText(widget)) << name;
      EXPECT_TRUE(frame->rect().contains(widget->geometry())) << name;
      for (QWidget* other : visible) {
        EXPECT_FALSE(widget->geometry().intersects(other->geometry()))
            << name << " overlaps " << other->objectName().toStdString();
      }
      visible.push_back(widget);
    }
    shown.push_back(ControlOf<QLabel>("StatusLine")->text().toStdString());
  };
  QSize entry_before, close_before;
  user_
      .When(WindowReady,
            [&] {
              check_every_control();
              QTest::keyClicks(ControlOf<QLineEdit>("SearchEntry"), "fish");
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
            })
      .When([this] { return searches_.Ready(1); },
            [&] {
              check_every_control();
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
            })
      .When([this] { return searches_.Ready(2); },
            [&] {
              check_every_control();
              entry_before = ControlOf<QLineEdit>("SearchEntry")->size();
              close_before = ControlOf<QPushButton>("CloseButton")->size();
              widened = true;
              MainFrame()->resize(MainFrame()->width() + 100, MainFrame()->height() + 100);
            })
      .When([&] { return ControlOf<QLineEdit>("SearchEntry")->size() != entry_before; },
            [&] {
              EXPECT_EQ(ControlOf<QLineEdit>("SearchEntry")->width(), entry_before.width() + 100);
              EXPECT_EQ(ControlOf<QLineEdit>("SearchEntry")->height(), entry_before.height());
              EXPECT_EQ(ControlOf<QPushButton>("CloseButton")->size(), close_before);
              check_every_control();
              ClickClose();
            });
  Run();
  UseProgramTexts(ProgramTexts());
  ASSERT_EQ(shown.size(), 4u);
  EXPECT_EQ(shown[0], "");
  EXPECT_EQ(shown[1], "Un article trouv\xC3\xA9 dans la base de connaissances, en entier");
  EXPECT_EQ(shown[2], beyond_the_screen + " FISH");
}

}  // namespace
}  // namespace kb
