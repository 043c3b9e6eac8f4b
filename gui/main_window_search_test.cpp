// The window running real searches: knowledge bases made in scratch directories, the page the
// window writes compared with the one kbsearch-cli writes for the same articles, and a fake
// xdg-open first on PATH that records what it was asked to open.

#include <gtest/gtest.h>

#include <unistd.h>

#include <QApplication>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/search.h"
#include "gui/qt_window_system.h"
#include "gui/window_test_driver.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using testing::ControlOf;
using testing::MainFrame;
using testing::User;
using testing::WindowReady;

namespace fs = std::filesystem;

constexpr std::string_view kMarker = "<!-- Article starts -->";

// Passes every call on to the window and checks, as each returns, what the real widgets show.
class CheckedScreen final : public SearchScreen {
 public:
  explicit CheckedScreen(SearchScreen& window) : window_(window) {}

  void ShowStatus(std::string_view text) override {
    window_.ShowStatus(text);
    EXPECT_EQ(ControlOf<QLabel>("StatusLine")->text().toStdString(), text);
    statuses.emplace_back(text);
  }
  void ShowProgressBar() override {
    EXPECT_FALSE(Bar()->isVisible());
    window_.ShowProgressBar();
    EXPECT_TRUE(Bar()->isVisible());
    EXPECT_EQ(Bar()->value(), 0);
  }
  void RedrawProgressBar(uint8_t percent) override {
    window_.RedrawProgressBar(percent);
    EXPECT_TRUE(Bar()->isVisible());
    EXPECT_EQ(Bar()->value(), percent);
    percents.push_back(percent);
  }
  void HideProgressBar() override {
    window_.HideProgressBar();
    EXPECT_FALSE(Bar()->isVisible());
  }
  void RedrawWindow() override { window_.RedrawWindow(); }
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, int32_t default_button, int32_t style) override {
    messages.emplace_back(text);
    return window_.ShowMessage(text, caption, icon, buttons, default_button, style);
  }
  NativeWindowHandle OwnerWindow() override { return window_.OwnerWindow(); }

  std::vector<std::string> statuses;
  std::vector<int> percents;
  std::vector<std::string> messages;

 private:
  static QProgressBar* Bar() { return ControlOf<QProgressBar>("ProgressBar"); }
  SearchScreen& window_;
};

std::string Article(std::string_view head, std::string_view body) {
  return "<html><head><title>" + std::string(head) + "</title></head><body>\r\n" +
         std::string(kMarker) + std::string(body) + "\r\n</body></html>\r\n";
}

class WindowSearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    knowledge_base_ = fs::path(scratch_.path()) / "kb";
    fs::create_directories(knowledge_base_ / "ZEB");
    WriteKb("lheader.htm", "<html><body>\r\n<h1>Results</h1>\r\n");
    WriteKb("lfooter.htm", "</body></html>\r\n");
    WriteKb("ZEB/ZEB1.htm", Article("Printers", "How to add a printer."));
    WriteKb("ZEB/ZEB2.htm", Article("Linux tips", "Use the Terminal for LINUX tasks."));
    WriteKb("ZEB/ZEB3.htm", Article("Mail", "Reading mail offline."));

    // The fake opener records its arguments, one call per line.
    fs::create_directories(scratch_.path() / "bin");
    opened_log_ = (scratch_.path() / "opened.log").string();
    scratch_.Write("bin/xdg-open", "#!/bin/sh\necho \"$@\" >> '" + opened_log_ + "'\n");
    fs::permissions(scratch_.path() / "bin/xdg-open", fs::perms::owner_all);
    old_path_ = std::getenv("PATH") == nullptr ? "" : std::getenv("PATH");
    setenv("PATH", ((scratch_.path() / "bin").string() + ":" + old_path_).c_str(), 1);

    old_directory_ = fs::current_path();
    fs::current_path(knowledge_base_);
  }

  void TearDown() override {
    fs::current_path(old_directory_);
    setenv("PATH", old_path_.c_str(), 1);
  }

  void WriteKb(const std::string& name, std::string_view bytes) {
    scratch_.Write("kb/" + name, bytes);
  }

  int Run() {
    const std::unique_ptr<platform::WindowSystem> windows = platform::NewQtWindowSystem();
    const SearchSteps steps{.load_templates =
                                [this](SearchState& state, SearchScreen& screen) {
                                  CheckedScreen checked(screen);
                                  LoadTemplates(state, checked);
                                  template_messages_ = checked.messages;
                                },
                            .run_search =
                                [this](SearchState& state, SearchScreen& screen) {
                                  CheckedScreen checked(screen);
                                  RunSearch(state, checked);
                                  searches_.push_back(checked.statuses);
                                  percents_ = checked.percents;
                                  EXPECT_TRUE(ControlOf<QLabel>("StatusLine")->text().isEmpty());
                                }};
    MainWindow window(*windows, steps);
    const int exit_code = window.Run(NewSearchState());
    EXPECT_TRUE(user_.finished());
    return exit_code;
  }

  // The page kbsearch-cli writes for `phrase` on a copy of the knowledge base.
  std::string PageOfCli(const std::string& phrase) {
    const fs::path copy = scratch_.path() / "cli";
    fs::remove_all(copy);
    fs::copy(knowledge_base_, copy, fs::copy_options::recursive);
    fs::remove(copy / "ZebResult.htm");
    // No settings file of the user's or the system's: the window's search has none either.
    const std::string command =
        "env -u KBSEARCH_ENV XDG_CONFIG_HOME=/nonexistent "
        "XDG_CONFIG_DIRS=/nonexistent " +
        std::string(KBSEARCH_CLI) + " -C '" + copy.string() + "' '" + phrase + "' >/dev/null";
    EXPECT_NE(std::system(command.c_str()), -1);
    return testing::ReadAll((copy / "ZebResult.htm").string());
  }

  // The lines the fake opener recorded, once `count` have come (it runs detached).
  std::vector<std::string> Opened(std::size_t count) {
    std::vector<std::string> lines;
    for (int wait = 0; wait < 400; ++wait) {
      lines.clear();
      std::string all = testing::ReadAll(opened_log_);
      for (std::size_t end; (end = all.find('\n')) != std::string::npos; all.erase(0, end + 1)) {
        lines.push_back(all.substr(0, end));
      }
      if (lines.size() >= count) break;
      QTest::qWait(10);
    }
    return lines;
  }

  std::string Page() { return testing::ReadAll((knowledge_base_ / "ZebResult.htm").string()); }

  testing::ScratchDirectory scratch_;
  fs::path knowledge_base_;
  std::string opened_log_;
  std::string old_path_;
  fs::path old_directory_;
  User user_;
  std::vector<std::vector<std::string>> searches_;
  std::vector<int> percents_;
  std::vector<std::string> template_messages_;
};

TEST_F(WindowSearchTest, SearchByClickAccessKeyAndEnterWritesThePageAndOpensIt) {
  const std::string expected = PageOfCli("linux");
  ASSERT_NE(expected.find("ZEB2.htm"), std::string::npos);

  user_
      .When(WindowReady,
            [] {
              QTest::keyClicks(ControlOf<QLineEdit>("SearchEntry"), "linux");
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
            })
      .When([this] { return searches_.size() == 1; },
            [this, &expected] {
              EXPECT_EQ(Page(), expected);
              // The entry shows the phrase as the scan stored it.
              EXPECT_EQ(ControlOf<QLineEdit>("SearchEntry")->text(), QStringLiteral("LINUX"));
              fs::remove(knowledge_base_ / "ZebResult.htm");
              QTest::keyClick(MainFrame(), Qt::Key_S, Qt::AltModifier);
            })
      .When([this] { return searches_.size() == 2; },
            [this, &expected] {
              EXPECT_EQ(Page(), expected);
              fs::remove(knowledge_base_ / "ZebResult.htm");
              QTest::keyClick(ControlOf<QLineEdit>("SearchEntry"), Qt::Key_Return);
            })
      .When([this] { return searches_.size() == 3; },
            [this, &expected] {
              EXPECT_EQ(Page(), expected);
              QTest::mouseClick(ControlOf<QPushButton>("CloseButton"), Qt::LeftButton);
            });
  EXPECT_EQ(Run(), kExitOk);

  EXPECT_TRUE(template_messages_.empty());
  const std::vector<std::string> stages{"Searching through files...", "Creating index page...",
                                        "Executing browser...", ""};
  for (const std::vector<std::string>& statuses : searches_) EXPECT_EQ(statuses, stages);
  EXPECT_EQ(percents_, (std::vector<int>{33, 66, 100}));

  const std::vector<std::string> opened = Opened(3);
  ASSERT_EQ(opened.size(), 3u);
  for (const std::string& line : opened) EXPECT_NE(line.find("ZebResult.htm"), std::string::npos);
}

TEST_F(WindowSearchTest, NoArticlesMeansNoPageNoBrowserAndAnEmptyStatusLine) {
  fs::remove_all(knowledge_base_ / "ZEB");
  user_
      .When(WindowReady,
            [] {
              QTest::keyClicks(ControlOf<QLineEdit>("SearchEntry"), "anything");
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
            })
      .When([this] { return searches_.size() == 1; },
            [] { QTest::mouseClick(ControlOf<QPushButton>("CloseButton"), Qt::LeftButton); });
  EXPECT_EQ(Run(), kExitOk);
  EXPECT_EQ(searches_[0], std::vector<std::string>{""});
  EXPECT_FALSE(fs::exists(knowledge_base_ / "ZebResult.htm"));
  EXPECT_TRUE(percents_.empty());
  QTest::qWait(50);
  EXPECT_FALSE(fs::exists(opened_log_));
}

TEST_F(WindowSearchTest, MissingHeaderIsReportedBeforeTheWindowAppears) {
  fs::remove(knowledge_base_ / "lheader.htm");
  bool box_came_first = false;
  user_
      .When([] { return QApplication::activeModalWidget() != nullptr; },
            [&box_came_first] {
              box_came_first = MainFrame() == nullptr;
              QTest::keyClick(QApplication::activeModalWidget(), Qt::Key_Return);
            })
      .When(WindowReady, [] { MainFrame()->close(); });
  EXPECT_EQ(Run(), kExitOk);
  EXPECT_TRUE(box_came_first);
  ASSERT_EQ(template_messages_.size(), 1u);
  EXPECT_TRUE(template_messages_[0].starts_with("Can not open the header file: 2, "));
}

}  // namespace
}  // namespace kb
