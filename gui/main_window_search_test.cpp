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
#include <fstream>
#include <string>
#include <vector>

#include "app/search/search.h"
#include "app/window/main_window.h"
#include "files/access_mode.h"
#include "files/block_file.h"
#include "gui/message_box_dialog.h"
#include "gui/qt_window_system.h"
#include "gui/window_test_driver.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using testing::ControlOf;
using testing::FakeOpener;
using testing::MainFrame;
using testing::SearchCount;
using testing::User;
using testing::WindowReady;

namespace fs = std::filesystem;

constexpr std::string_view kMarker = "<!-- Article starts -->";

// Passes every call on to the window and checks, once the window's thread has taken each,
// what the real widgets show. Called from the search's thread.
class CheckedScreen final : public SearchScreen {
 public:
  CheckedScreen(SearchScreen& window, platform::WindowSystem& windows)
      : window_(window), windows_(windows) {}

  void ScanStarted(int32_t articles) override {
    OnWindowThread([] { EXPECT_FALSE(Bar()->isVisible()); });
    window_.ScanStarted(articles);
    OnWindowThread([] {
      EXPECT_TRUE(Bar()->isVisible());
      EXPECT_EQ(Bar()->value(), 0);
    });
    Status();
  }
  void ArticleDone(int32_t done, int32_t total) override {
    window_.ArticleDone(done, total);
    const int percent = PercentOf(done, total);
    OnWindowThread([&] {
      EXPECT_TRUE(Bar()->isVisible());
      EXPECT_EQ(Bar()->value(), percent);
    });
    percents.push_back(percent);
  }
  void ScanEnded(std::string_view phrase) override {
    window_.ScanEnded(phrase);
    OnWindowThread([] { EXPECT_FALSE(Bar()->isVisible()); });
  }
  void PageBeingWritten() override {
    window_.PageBeingWritten();
    Status();
  }
  void BrowserStarting() override {
    window_.BrowserStarting();
    Status();
  }
  void SearchEnded() override {
    window_.SearchEnded();
    Status();
  }
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, int32_t default_button, int32_t style) override {
    messages.emplace_back(text);
    return window_.ShowMessage(text, caption, icon, buttons, default_button, style);
  }

  std::vector<std::string> statuses;
  std::vector<int> percents;
  std::vector<std::string> messages;

 private:
  static QProgressBar* Bar() { return ControlOf<QProgressBar>("ProgressBar"); }
  // Notes the status line's text, once the window's thread has taken every call before.
  void Status() {
    OnWindowThread(
        [&] { statuses.push_back(ControlOf<QLabel>("StatusLine")->text().toStdString()); });
  }
  // Runs `check` on the window's thread after every call handed over before it.
  void OnWindowThread(const std::function<void()>& check) { windows_.Call(check); }

  SearchScreen& window_;
  platform::WindowSystem& windows_;
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

    old_directory_ = fs::current_path();
    fs::current_path(knowledge_base_);
  }

  void TearDown() override { fs::current_path(old_directory_); }

  void WriteKb(const std::string& name, std::string_view bytes) {
    scratch_.Write("kb/" + name, bytes);
  }

  int Run() {
    const std::unique_ptr<platform::WindowSystem> windows = platform::NewQtWindowSystem();
    platform::WindowSystem& window_system = *windows;
    const SearchSteps steps{
        .load_templates =
            [this, &window_system](SearchScreen& screen) {
              CheckedScreen checked(screen, window_system);
              PageTemplates templates = LoadTemplates(platform::Env::Default(), checked);
              template_messages_ = checked.messages;
              return templates;
            },
        .run_search =
            [this, &window_system](const SearchRequest& request, SearchScreen& screen) {
              CheckedScreen checked(screen, window_system);
              SearchReport report = RunSearch(platform::Env::Default(), request, checked);
              statuses_.push_back(checked.statuses);
              percents_ = checked.percents;
              messages_ = checked.messages;
              window_system.Call(
                  [] { EXPECT_TRUE(ControlOf<QLabel>("StatusLine")->text().isEmpty()); });
              searches_.Ended();
              return report;
            }};
    MainWindow window(*windows, steps);
    const int exit_code = window.Run();
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
        "XDG_CONFIG_DIRS=/nonexistent XDG_CACHE_HOME=/nonexistent " +
        std::string(KBSEARCH_CLI) + " -C '" + copy.string() + "' '" + phrase + "' >/dev/null";
    EXPECT_NE(std::system(command.c_str()), -1);
    return testing::ReadAll((copy / "ZebResult.htm").string());
  }

  std::string Page() { return testing::ReadAll((knowledge_base_ / "ZebResult.htm").string()); }

  testing::ScratchDirectory scratch_;
  FakeOpener opener_{scratch_.path()};
  fs::path knowledge_base_;
  fs::path old_directory_;
  User user_;
  SearchCount searches_;
  // Written by the searches, read once the window has closed.
  std::vector<std::vector<std::string>> statuses_;
  std::vector<int> percents_;
  std::vector<std::string> messages_;
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
      .When([this] { return searches_.Ready(1); },
            [this, &expected] {
              EXPECT_EQ(Page(), expected);
              // The entry shows the phrase as the scan stored it.
              EXPECT_EQ(ControlOf<QLineEdit>("SearchEntry")->text(), QStringLiteral("LINUX"));
              fs::remove(knowledge_base_ / "ZebResult.htm");
              QTest::keyClick(MainFrame(), Qt::Key_S, Qt::AltModifier);
            })
      .When([this] { return searches_.Ready(2); },
            [this, &expected] {
              EXPECT_EQ(Page(), expected);
              fs::remove(knowledge_base_ / "ZebResult.htm");
              QTest::keyClick(ControlOf<QLineEdit>("SearchEntry"), Qt::Key_Return);
            })
      .When([this] { return searches_.Ready(3); },
            [this, &expected] {
              EXPECT_EQ(Page(), expected);
              QTest::mouseClick(ControlOf<QPushButton>("CloseButton"), Qt::LeftButton);
            });
  EXPECT_EQ(Run(), kExitOk);

  EXPECT_TRUE(template_messages_.empty());
  const std::vector<std::string> stages{"Searching through files...", "Creating index page...",
                                        "Executing browser...", ""};
  ASSERT_EQ(statuses_.size(), 3u);
  for (const std::vector<std::string>& statuses : statuses_) EXPECT_EQ(statuses, stages);
  EXPECT_EQ(percents_, (std::vector<int>{33, 66, 100}));

  const std::vector<std::string> opened = opener_.Opened(3);
  ASSERT_EQ(opened.size(), 3u);
  for (const std::string& line : opened) EXPECT_NE(line.find("ZebResult.htm"), std::string::npos);
}

TEST_F(WindowSearchTest, MessagesComeOneAtATimeInListingOrderWhileTheSearchWaitsForOk) {
  // Held by "another program" that lets no one else open them.
  BlockFile first({.options = "", .may_create = false});
  BlockFile second({.options = "", .may_create = false});
  first.name().Assign("ZEB/ZEB1.htm");
  first.Open(access_mode::kReadWrite | access_mode::kDenyAll);
  second.name().Assign("ZEB/ZEB3.htm");
  second.Open(access_mode::kReadWrite | access_mode::kDenyAll);

  std::vector<std::string> boxes;
  const auto answer_box = [&] {
    auto* box = dynamic_cast<MessageBoxDialog*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    boxes.push_back(box->content().lines);
    // The search waits for the answer: no other box, no page yet.
    QTest::qWait(50);
    EXPECT_EQ(QApplication::activeModalWidget(), box);
    EXPECT_FALSE(fs::exists(knowledge_base_ / "ZebResult.htm"));
    QTest::keyClick(box, Qt::Key_Return);
  };
  const auto box_open = [] { return QApplication::activeModalWidget() != nullptr; };
  user_
      .When(WindowReady,
            [] {
              QTest::keyClicks(ControlOf<QLineEdit>("SearchEntry"), "linux");
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
            })
      .When(box_open, answer_box)
      .When(box_open, answer_box)
      .When([this] { return searches_.Ready(1); },
            [] { QTest::mouseClick(ControlOf<QPushButton>("CloseButton"), Qt::LeftButton); });
  EXPECT_EQ(Run(), kExitOk);

  ASSERT_EQ(messages_.size(), 2u);
  ASSERT_EQ(boxes.size(), 2u);
  // Each box says what the search asked it to, in the search's order (the listing's).
  for (std::size_t i = 0; i < boxes.size(); ++i) {
    EXPECT_EQ(boxes[i].substr(0, boxes[i].find('\n')),
              messages_[i].substr(0, messages_[i].find('|')));
  }
  EXPECT_NE(messages_[0], messages_[1]);
  EXPECT_NE(Page().find("ZEB2.htm"), std::string::npos);
}

// An opener that finds no browser fails at once: the window says so in a box, with the launch
// message its exit status stands for.
TEST_F(WindowSearchTest, AnOpenerThatFailsIsReportedInABox) {
  const fs::path opener = scratch_.path() / "bin" / "xdg-open";
  std::ofstream(opener, std::ios::trunc) << "#!/bin/sh\nexit 3\n";
  fs::permissions(opener, fs::perms::owner_all);
  std::vector<std::string> boxes;
  user_
      .When(WindowReady,
            [] {
              QTest::keyClicks(ControlOf<QLineEdit>("SearchEntry"), "linux");
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
            })
      .When([] { return QApplication::activeModalWidget() != nullptr; },
            [&] {
              auto* box = dynamic_cast<MessageBoxDialog*>(QApplication::activeModalWidget());
              ASSERT_NE(box, nullptr);
              boxes.push_back(box->content().lines);
              QTest::keyClick(box, Qt::Key_Return);
            })
      .When([this] { return searches_.Ready(1); },
            [] { QTest::mouseClick(ControlOf<QPushButton>("CloseButton"), Qt::LeftButton); });
  EXPECT_EQ(Run(), kExitOk);
  ASSERT_EQ(boxes.size(), 1u);
  EXPECT_EQ(boxes[0].substr(0, boxes[0].find('\n')), "No program associated with this file");
}

}  // namespace
}  // namespace kb
