#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLineEdit>
#include <QListView>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <string>
#include <vector>

#include "app/window/main_window.h"
#include "gui/qt_window_system.h"
#include "gui/window_test_driver.h"

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
    const int exit_code = window.Run(NewSearchState());
    EXPECT_TRUE(user_.finished());
    EXPECT_EQ(MainFrame(), nullptr);
    return exit_code;
  }

  // Searches record the phrase they were given, to be read once the window has closed.
  void RecordSearches() {
    steps_.run_search = [this](SearchState& state, SearchScreen&, std::stop_token) {
      searched_.emplace_back(state.search_text.view());
      searches_.Ended();
      return SearchOutcome::kCompleted;
    };
  }

  User user_;
  SearchSteps steps_{.load_templates = [](SearchState&, SearchScreen&) {},
                     .run_search = [](SearchState&, SearchScreen&,
                                      std::stop_token) { return SearchOutcome::kCompleted; }};
  std::vector<std::string> searched_;
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

TEST_F(MainWindowQtTest, WindowManagerCloseEndsTheProgram) {
  user_.When(WindowReady, [] { MainFrame()->close(); });
  EXPECT_EQ(Run(), kExitOk);
}

TEST_F(MainWindowQtTest, OverlongPasteIsRefusedAndTheFieldRestored) {
  RecordSearches();
  const std::string hundred(100, 'x');
  user_
      .When(WindowReady,
            [] {
              auto* entry = ControlOf<QLineEdit>("SearchEntry");
              QTest::keyClicks(entry, "abc");
              QApplication::clipboard()->setText(QString(101, QLatin1Char('y')));
              QTest::keySequence(entry, QKeySequence::Paste);
            })
      .When([] { return ControlOf<QLineEdit>("SearchEntry")->text() == "abc"; },
            [] {
              EXPECT_TRUE(ControlOf<QLineEdit>("SearchEntry")->hasFocus());
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
            })
      .When([this] { return searches_.Ready(1); },
            [&hundred] {
              // Exactly 100 characters pass.
              auto* entry = ControlOf<QLineEdit>("SearchEntry");
              entry->selectAll();
              QApplication::clipboard()->setText(QString::fromStdString(hundred));
              QTest::keySequence(entry, QKeySequence::Paste);
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
            })
      .When([this] { return searches_.Ready(2); }, ClickClose);
  Run();
  EXPECT_EQ(searched_, (std::vector<std::string>{"abc", hundred}));
}

}  // namespace
}  // namespace kb
