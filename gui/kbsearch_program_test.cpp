// kbsearch as a whole on real widgets: the folder it is given or asks for becomes the folder
// its window searches, before the templates are read.

#include "gui/kbsearch_program.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QFileDialog>
#include <QLineEdit>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "gui/folder_dialog.h"
#include "gui/message_box_dialog.h"
#include "gui/window_test_driver.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using testing::ControlOf;
using testing::FakeOpener;
using testing::MainFrame;
using testing::User;
using testing::WindowReady;

namespace fs = std::filesystem;

// A knowledge base `kb` and a folder `elsewhere` that is none, the program started in
// `elsewhere` with a state folder of its own; a folder dialog that writes down where it opened
// and answers `answer_`.
class KbsearchProgramTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fs::create_directories(kb_ / "ZEB");
    fs::create_directories(elsewhere_);
    scratch_.Write("kb/lheader.htm", "<html><body>\r\n");
    scratch_.Write("kb/lfooter.htm", "</body></html>\r\n");
    scratch_.Write("kb/ZEB/ZEB1.htm", "<!-- Article starts -->A printer.");
    old_directory_ = fs::current_path();
    fs::current_path(elsewhere_);
    // Its own state folder, and no settings file but the defaults.
    for (const char* variable :
         {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS", "XDG_CACHE_HOME"}) {
      setenv(variable, (scratch_ / "state").c_str(), 1);
    }
    setenv("KBSEARCH_ENV", "", 1);
  }
  void TearDown() override {
    fs::current_path(old_directory_);
    for (const char* variable : {"XDG_STATE_HOME", "XDG_CONFIG_HOME", "XDG_CONFIG_DIRS",
                                 "XDG_CACHE_HOME", "KBSEARCH_ENV"}) {
      unsetenv(variable);
    }
  }

  int Run(std::vector<std::string_view> arguments) {
    const int status = RunKbsearch(arguments, [this](const std::string& start) {
      dialog_opened_at_.push_back(start);
      return answer_;
    });
    EXPECT_TRUE(user_.finished());
    return status;
  }

  // The user's steps: once the window is up in `folder`, close it.
  void CloseOnceUpIn(const fs::path& folder) {
    user_.When(WindowReady, [folder] {
      EXPECT_EQ(fs::current_path(), folder);
      MainFrame()->close();
    });
  }

  testing::ScratchDirectory scratch_;
  const fs::path kb_ = scratch_.path() / "kb";
  const fs::path elsewhere_ = scratch_.path() / "elsewhere";
  fs::path old_directory_;
  FakeOpener opener_{scratch_.path()};
  User user_;
  std::optional<std::string> answer_;
  std::vector<std::string> dialog_opened_at_;
};

TEST_F(KbsearchProgramTest, AFolderGivenIsWhereTheWindowSearches) {
  // No message about templates: they are read in the folder given, and so is the search.
  user_
      .When(WindowReady,
            [] {
              EXPECT_EQ(QApplication::activeModalWidget(), nullptr);
              QTest::keyClicks(ControlOf<QLineEdit>("SearchEntry"), "printer");
              QTest::keyClick(ControlOf<QLineEdit>("SearchEntry"), Qt::Key_Return);
            })
      .When([this] { return opener_.called(); }, [] { MainFrame()->close(); });
  EXPECT_EQ(Run({kb_.c_str()}), 0);
  EXPECT_NE(testing::ReadAll(kb_ / "ZebResult.htm").find("ZEB1.htm"), std::string::npos);
  EXPECT_EQ(dialog_opened_at_, std::vector<std::string>{});

  // A folder that cannot be entered is reported before any window, and the program ends.
  std::string reported;
  user_.When([] { return QApplication::activeModalWidget() != nullptr; },
             [&reported] {
               EXPECT_EQ(MainFrame(), nullptr);
               auto* box = dynamic_cast<MessageBoxDialog*>(QApplication::activeModalWidget());
               ASSERT_NE(box, nullptr);
               reported = box->content().lines;
               QTest::keyClick(box, Qt::Key_Return);
             });
  EXPECT_EQ(Run({"../none"}), kExitNoFolder);
  EXPECT_EQ(reported, "Could not open the folder: ../none\nNo such file or directory");
}

// Outside a knowledge base and without a folder given, the dialog asks (when it does is the
// start folder's test), and the window searches in the folder chosen.
TEST_F(KbsearchProgramTest, WithoutAFolderTheWindowSearchesInTheOneChosen) {
  answer_ = kb_.string();
  CloseOnceUpIn(kb_);
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(dialog_opened_at_, std::vector<std::string>{elsewhere_.string()});
}

// Started from the menu, outside a knowledge base, the window opens the one opened last and
// names it in its title; Ctrl+O opens another, where the next search writes its page.
TEST_F(KbsearchProgramTest, TheKnowledgeBaseOpenedLastComesBackAndCtrlOOpensAnother) {
  CloseOnceUpIn(kb_);
  EXPECT_EQ(Run({kb_.c_str()}), 0);

  const fs::path other = scratch_.path() / "other";
  fs::create_directories(other / "ZEB");
  scratch_.Write("other/ZEB/ZEB1.htm", "<!-- Article starts -->Another printer.");
  scratch_.Write("other/lheader.htm", "<html><body>\r\n");
  scratch_.Write("other/lfooter.htm", "</body></html>\r\n");
  answer_ = other.string();
  const auto title = [] { return MainFrame()->windowTitle().toStdString(); };
  user_
      .When(WindowReady,
            [&] {
              EXPECT_EQ(fs::current_path(), kb_);
              EXPECT_EQ(title(), "Search Quillon Knowledgebase - " + kb_.string());
              QTest::keyClick(MainFrame(), Qt::Key_O, Qt::ControlModifier);
            })
      .When([&] { return WindowReady() && fs::current_path() == other; },
            [&] {
              EXPECT_EQ(title(), "Search Quillon Knowledgebase - " + other.string());
              QTest::keyClicks(ControlOf<QLineEdit>("SearchEntry"), "printer");
              QTest::keyClick(ControlOf<QLineEdit>("SearchEntry"), Qt::Key_Return);
            })
      .When([this] { return opener_.called(); }, [] { MainFrame()->close(); });
  fs::current_path(elsewhere_);
  EXPECT_EQ(Run({}), 0);
  EXPECT_EQ(dialog_opened_at_, std::vector<std::string>{kb_.string()});
  EXPECT_NE(testing::ReadAll(other / "ZebResult.htm").find("Another printer"), std::string::npos);
  EXPECT_FALSE(fs::exists(kb_ / "ZebResult.htm"));
}

TEST_F(KbsearchProgramTest, TheFolderDialogOpensAtItsStartAndCancelChoosesNothing) {
  const auto dialog = [] { return qobject_cast<QFileDialog*>(QApplication::activeModalWidget()); };
  user_.When(dialog, [&] {
    EXPECT_EQ(dialog()->directory().absolutePath().toStdString(), kb_.string());
    static_cast<QDialog*>(dialog())->accept();  // public as QDialog's
  });
  EXPECT_EQ(ChooseKnowledgeBaseFolder(kb_.string()), kb_.string());
  user_.When(dialog, [&] { dialog()->reject(); });
  EXPECT_EQ(ChooseKnowledgeBaseFolder(kb_.string()), std::nullopt);
  EXPECT_TRUE(user_.finished());
}

}  // namespace
}  // namespace kb
