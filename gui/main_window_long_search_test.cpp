// The window while a long search runs: its event loop goes on being served, input meant for a
// second search is dropped, and Close, the window manager's close and Escape stop the search,
// leaving the page of the search before as it was. The knowledge base holds 40,000 small
// articles.

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/search/search.h"
#include "app/window/main_window.h"
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

constexpr int kArticles = 40000;
constexpr std::string_view kOldPage = "the page of the search before\r\n";

// Passes every call on to the window; each step of the progress bar takes a while, so that
// the search lasts a few seconds and the user can act in the middle of it.
class SlowScreen final : public SearchScreen {
 public:
  explicit SlowScreen(SearchScreen& window) : window_(window) {}

  void ScanStarted(int32_t articles) override { window_.ScanStarted(articles); }
  void ArticleDone(int32_t done, int32_t total) override {
    const int percent = PercentOf(done, total);
    if (percent != last_percent_) std::this_thread::sleep_for(std::chrono::milliseconds(30));
    last_percent_ = percent;
    window_.ArticleDone(done, total);
  }
  void ScanEnded(std::string_view phrase) override { window_.ScanEnded(phrase); }
  void PageBeingWritten() override { window_.PageBeingWritten(); }
  void BrowserStarting() override { window_.BrowserStarting(); }
  void SearchEnded() override { window_.SearchEnded(); }
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view icon,
                      std::string_view buttons, int32_t default_button, int32_t style) override {
    return window_.ShowMessage(text, caption, icon, buttons, default_button, style);
  }

 private:
  SearchScreen& window_;
  int last_percent_ = -1;
};

QProgressBar* Bar() {
  return ControlOf<QProgressBar>("ProgressBar");
}

// The search is well under way: its bar shows a few percent.
bool SearchUnderWay() {
  return Bar() != nullptr && Bar()->isVisible() && Bar()->value() >= 5;
}

void TypeIntoWindow(Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QTest::keyClick(MainFrame()->windowHandle(), key, modifiers);
}

class LongSearchTest : public ::testing::Test {
 protected:
  // 40,000 articles as hard links to two files, one in a thousand holding the phrase.
  static void SetUpTestSuite() {
    knowledge_base_ = std::make_unique<testing::ScratchDirectory>();
    const fs::path base = knowledge_base_->path();
    fs::create_directory(base / "ZEB");
    knowledge_base_->Write("lheader.htm", "<html><body>\r\n");
    knowledge_base_->Write("lfooter.htm", "</body></html>\r\n");
    const std::string miss = knowledge_base_->Write(
        "miss.htm", "<html><body>\r\n<!-- Article starts -->Nothing to see.\r\n</body></html>\r\n");
    const std::string hit = knowledge_base_->Write(
        "hit.htm", "<html><body>\r\n<!-- Article starts -->Through the Zephyr gateway.\r\n");
    for (int number = 0; number < kArticles; ++number) {
      const std::string name = std::to_string(100000 + number).substr(1);
      fs::create_hard_link(number % 1000 == 500 ? hit : miss,
                           base / "ZEB" / ("ZEB" + name + ".htm"));
    }
  }
  static void TearDownTestSuite() { knowledge_base_.reset(); }

  void SetUp() override {
    old_directory_ = fs::current_path();
    fs::current_path(knowledge_base_->path());
    knowledge_base_->Write("ZebResult.htm", kOldPage);
  }
  void TearDown() override { fs::current_path(old_directory_); }

  // Runs the window until it closes. The first `slow_searches` searches are slowed down;
  // every search's outcome is kept.
  int Run(int slow_searches = 0) {
    const std::unique_ptr<platform::WindowSystem> windows = platform::NewQtWindowSystem();
    const SearchSteps steps{
        .load_templates =
            [](SearchScreen& screen) { return LoadTemplates(platform::Env::Default(), screen); },
        .run_search =
            [this, slow_searches](const SearchRequest& request, SearchScreen& screen) {
              const bool slow = static_cast<int>(outcomes_.size()) < slow_searches;
              SlowScreen slow_screen(screen);
              SearchReport report =
                  RunSearch(platform::Env::Default(), request, slow ? slow_screen : screen);
              outcomes_.push_back(report.outcome);
              searches_.Ended();
              return report;
            }};
    MainWindow window(*windows, steps);
    const int exit_code = window.Run();
    EXPECT_TRUE(user_.finished());
    return exit_code;
  }

  std::string Page() const { return testing::ReadAll(*knowledge_base_ / "ZebResult.htm"); }

  static inline std::unique_ptr<testing::ScratchDirectory> knowledge_base_;
  testing::ScratchDirectory scratch_;
  FakeOpener opener_{scratch_.path()};
  fs::path old_directory_;
  User user_;
  SearchCount searches_;
  std::vector<SearchOutcome> outcomes_;  // written by the searches, read once Run returns
};

// One window through three searches: the first is stopped by Escape well under way, keys
// typed meanwhile start no second search, and the event loop is served throughout; the next
// search runs to its end; Close stops the third and ends the program. The window manager's
// close stops a search as well. How promptly the window answers is measured against the
// search's own duration, never in milliseconds: a machine busy with other work slows the
// search and the window alike.
TEST_F(LongSearchTest, EscapeAndCloseStopTheSearchWhileTheWindowGoesOnAnswering) {
  // A timer that should fire every 10 ms, and the longest it had to wait while the search ran.
  QTimer ticker;
  QElapsedTimer since_tick;
  QElapsedTimer searching;
  qint64 longest_wait = 0;
  qint64 search_time = 0;
  bool measuring = false;
  std::string page_of_second;
  QObject::connect(&ticker, &QTimer::timeout, [&] {
    if (measuring) longest_wait = std::max(longest_wait, since_tick.elapsed());
    since_tick.restart();
  });
  ticker.start(10);

  user_
      .When(WindowReady,
            [&] {
              QTest::keyClicks(ControlOf<QLineEdit>("SearchEntry"), "zephyr");
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
              since_tick.restart();
              searching.start();
              measuring = true;
            })
      .When([] { return Bar() != nullptr && Bar()->isVisible(); },
            [] {
              // Typed into whatever has the focus, a second phrase, Enter, the access key
              // of Search, and a click on it.
              for (const Qt::Key key : {Qt::Key_A, Qt::Key_B, Qt::Key_Return}) TypeIntoWindow(key);
              TypeIntoWindow(Qt::Key_S, Qt::AltModifier);
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
            })
      .When([] { return Bar() != nullptr && Bar()->isVisible() && Bar()->value() >= 80; },
            [&] {
              measuring = false;
              search_time = searching.elapsed();
              TypeIntoWindow(Qt::Key_Escape);
            })
      .When([this] { return searches_.Ready(1); },
            [this] {
              EXPECT_EQ(Page(), kOldPage);
              EXPECT_FALSE(Bar()->isVisible());
              EXPECT_EQ(ControlOf<QLabel>("StatusLine")->text(), QStringLiteral("Search stopped"));
              EXPECT_EQ(ControlOf<QLineEdit>("SearchEntry")->text(), QStringLiteral("ZEPHYR"));
              QTest::qWait(100);  // time for a second search to start, if one would
              // The focus is back on Search, which was pressed; the entry takes a new
              // phrase, and Enter there runs the next search to its end.
              EXPECT_EQ(QApplication::focusWidget(), ControlOf<QPushButton>("SearchButton"));
              auto* entry = ControlOf<QLineEdit>("SearchEntry");
              entry->setFocus();
              QTest::keyClicks(entry, " gateway");
              QTest::keyClick(entry, Qt::Key_Return);
            })
      .When([this] { return searches_.Ready(2); },
            [&] {
              page_of_second = Page();
              EXPECT_NE(page_of_second.find("ZEB39500.htm"), std::string::npos);
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
            })
      .When(SearchUnderWay,
            [] { QTest::mouseClick(ControlOf<QPushButton>("CloseButton"), Qt::LeftButton); });
  EXPECT_EQ(Run(/*slow_searches=*/3), kExitOk);

  EXPECT_EQ(outcomes_,
            (std::vector<SearchOutcome>{SearchOutcome::kCancelled, SearchOutcome::kCompleted,
                                        SearchOutcome::kCancelled}));
  EXPECT_LT(longest_wait * 5, search_time)
      << "the event loop waited " << longest_wait << " ms in a search of " << search_time << " ms";
  EXPECT_EQ(Page(), page_of_second);
  // Only the search that ended opened its page.
  EXPECT_EQ(opener_.Opened(1).size(), 1u);

  outcomes_.clear();
  user_
      .When(WindowReady,
            [] {
              QTest::keyClicks(ControlOf<QLineEdit>("SearchEntry"), "zephyr");
              QTest::mouseClick(ControlOf<QPushButton>("SearchButton"), Qt::LeftButton);
            })
      .When(SearchUnderWay, [] { MainFrame()->close(); });
  EXPECT_EQ(Run(/*slow_searches=*/1), kExitOk);
  EXPECT_EQ(outcomes_, std::vector<SearchOutcome>{SearchOutcome::kCancelled});
  EXPECT_EQ(Page(), page_of_second);
  QTest::qWait(50);
  EXPECT_EQ(opener_.Opened(1).size(), 1u);
}

}  // namespace
}  // namespace kb
