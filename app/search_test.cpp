#include "app/search.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "files/access_mode.h"
#include "files/block_file.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

namespace fs = std::filesystem;

// Writes down every call the search makes on the screen, in order.
class RecordingScreen : public SearchScreen {
 public:
  void ShowStatus(std::string_view text) override {
    calls.push_back("status " + std::string(text));
  }
  void ShowProgressBar() override { calls.push_back("show bar"); }
  void RedrawProgressBar(uint8_t percent) override {
    calls.push_back("bar " + std::to_string(percent));
  }
  void HideProgressBar() override { calls.push_back("hide bar"); }
  void RedrawWindow() override { calls.push_back("redraw window"); }
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view,
                      std::string_view, int32_t, int32_t) override {
    calls.push_back("message " + std::string(caption) + ": " + std::string(text));
    return 1;
  }
  NativeWindowHandle OwnerWindow() override { return 0; }

  std::vector<std::string> calls;
};

// Runs each test in a scratch knowledge base as the working directory.
class SearchTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = fs::current_path();
    fs::current_path(scratch_.path());
    fs::create_directory("ZEB");
  }
  void TearDown() override { fs::current_path(previous_); }

  void Article(const std::string& name, std::string_view text) {
    scratch_.Write("ZEB/" + name, text);
  }

  testing::ScratchDirectory scratch_;
  fs::path previous_;
  std::unique_ptr<SearchState> state_ = std::make_unique<SearchState>();
  RecordingScreen screen_;
};

TEST_F(SearchTest, ProgressCountsOnlyTheArticlesThatCouldBeOpened) {
  Article("ZEB1.htm", "<!-- Article starts -->one");
  Article("ZEB2.htm", "<!-- Article starts -->two");
  Article("ZEB3.htm", "<!-- Article starts -->three");
  BlockFile holder({.options = "", .may_create = false});
  holder.name().Assign("ZEB/ZEB2.htm");
  holder.Open(access_mode::kReadWrite | access_mode::kDenyAll);
  state_->search_text.Assign("three");

  RunSearch(*state_, screen_, {.page_handling = PageHandling::kWriteOnly});

  EXPECT_EQ(state_->search_text.view(), "THREE");
  EXPECT_EQ(state_->files_total, 3);
  EXPECT_EQ(state_->files_done, 2);
  EXPECT_EQ(state_->result_queue.Count(), 1);
  // The listing order is the directory's; the bar steps once per opened article.
  std::vector<std::string> bars;
  std::erase_if(screen_.calls, [&](const std::string& call) {
    if (!call.starts_with("bar ")) return false;
    bars.push_back(call);
    return true;
  });
  EXPECT_EQ(bars.size(), 2u);
  EXPECT_EQ(bars.back(), "bar 66");
  EXPECT_EQ(screen_.calls, (std::vector<std::string>{
                               "status Searching through files...",
                               "show bar",
                               "message : Could not open file: ./ZEB/ZEB2.htm|Error: 5, Access "
                               "Denied" +
                                   std::string(67, ' '),
                               "hide bar",
                               "redraw window",
                               "status Creating index page...",
                               "status ",
                           }));
}

TEST_F(SearchTest, ThreeArticlesStepThroughAThirdEach) {
  Article("ZEB1.htm", "a");
  Article("ZEB2.htm", "<!-- Article starts -->needle");
  Article("ZEB3.htm", "c");
  state_->search_text.Assign("needle");

  RunSearch(*state_, screen_, {.page_handling = PageHandling::kWriteOnly});

  EXPECT_EQ(state_->progress_percent, 0);
  EXPECT_EQ(screen_.calls,
            (std::vector<std::string>{"status Searching through files...", "show bar", "bar 33",
                                      "bar 66", "bar 100", "hide bar", "redraw window",
                                      "status Creating index page...", "status "}));
  ASSERT_EQ(state_->result_queue.Count(), 1);
  state_->result_queue.Get(1);
  EXPECT_EQ(state_->result_queue.record().file.clipped(), "./ZEB/ZEB2.htm");
  EXPECT_EQ(state_->result_queue.record().excerpt.clipped(), "needle");
  EXPECT_EQ(state_->result_file_name.view(), "./ZebResult.htm");
}

TEST_F(SearchTest, WithoutArticlesOnlyThePhraseChanges) {
  state_->result_queue.record().file.Assign("./ZEB/old.htm");
  state_->result_queue.Append();
  state_->search_text.Assign("mixed Case");

  RunSearch(*state_, screen_);

  EXPECT_EQ(state_->search_text.view(), "MIXED CASE");
  EXPECT_EQ(state_->result_queue.Count(), 1);
  EXPECT_EQ(screen_.calls, (std::vector<std::string>{"redraw window", "status "}));
  EXPECT_FALSE(fs::exists("ZebResult.htm"));
}

TEST_F(SearchTest, TemplatesAreReadOnceWithTheirLinesWhole) {
  scratch_.Write("lheader.htm", "<html>\r\n" + std::string(300, 'h') + "\r\n\r\n");
  scratch_.Write("lfooter.htm", "");

  LoadTemplates(*state_, screen_);

  EXPECT_EQ(screen_.calls, std::vector<std::string>{});
  ASSERT_EQ(state_->header_queue.Count(), 3);
  state_->header_queue.Get(2);
  EXPECT_EQ(state_->header_queue.record().line.clipped(), std::string(300, 'h'));
  EXPECT_EQ(state_->footer_queue.Count(), 0);
}

}  // namespace
}  // namespace kb
