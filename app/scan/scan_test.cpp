// The scan with a filter that spares articles: only the articles to read are opened, and the
// sink sees, message for message and in listing order, what a scan of every article shows,
// on every thread count; a stop among the spared articles ends the scan there.

#include "app/scan/scan.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <mutex>
#include <random>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/testing/faulty_env.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

using platform::Operation;

constexpr std::string_view kPhrase = "unsafe pointer";

// Everything a scan hands its sink, in order. It then changes the outcome it was handed, as
// a sink may: no other article's may show it.
class Recorder : public ScanSink {
 public:
  explicit Recorder(std::stop_source* stop_after = nullptr, std::size_t articles = 0)
      : stop_(stop_after), stop_at_(articles) {}

  void ReportFailure(const Failure& failure) override {
    shown.push_back("failure " + std::string(failure.text));
  }
  void ScanStarted(int32_t articles) override {
    shown.push_back("started " + std::to_string(articles));
  }
  void ArticleDone(std::string_view path, ArticleOutcome& outcome) override {
    shown.push_back(std::string(path) + (outcome.matched ? " found " + outcome.excerpt : ""));
    outcome.matched = true;
    outcome.excerpt = "changed by the sink";
    if (stop_ != nullptr && ++done_ == stop_at_) stop_->request_stop();
  }

  std::vector<std::string> shown;

 private:
  std::stop_source* stop_;
  std::size_t stop_at_;
  std::size_t done_ = 0;
};

// Spares the articles it is given, and remembers what it was asked.
class SparingFilter : public ArticleFilter {
 public:
  explicit SparingFilter(std::set<std::string> spared) : spared_(std::move(spared)) {}

  void Prepare(const Query& query, const MatchSettings&) override {
    asked.push_back("prepare " + query.text);
  }
  void ChooseArticles(std::span<const std::string_view> names, const Query& query,
                      const MatchSettings&, std::size_t, std::vector<char>& must_read,
                      PlacesToLook&) override {
    asked.push_back("choose " + query.text + " " + std::to_string(names.size()));
    for (std::size_t at = 0; at < names.size(); ++at) {
      if (spared_.contains(std::string(names[at]))) must_read[at] = 0;
    }
  }

  std::vector<std::string> asked;

 private:
  std::set<std::string> spared_;
};

class SparedScanTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::filesystem::create_directory(scratch_ / "ZEB");
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(scratch_.path());
    const unsigned seed = std::random_device{}();
    random_.seed(seed);
    trace_ = std::to_string(seed);
    for (int article = 0; article < 90; ++article) {
      const std::string name = "ZEB" + std::to_string(1000 + article) + ".htm";
      const bool holds = random_() % 6 == 0;
      scratch_.Write("ZEB/" + name, "<!-- Article starts -->" + std::string(random_() % 300, 'x') +
                                        (holds ? "an UNSAFE pointer here" : " safe"));
      // Failing articles are never spared: the filter knows nothing of them.
      switch (random_() % 10) {
        case 0:
          failing_.push_back({Operation::kOpen, name});
          break;
        case 1:
          failing_.push_back({Operation::kRead, name});
          break;
        default:
          if (!holds) sparable_.push_back(name);
      }
    }
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  // An Env whose listed articles fail as chosen in SetUp. An article that fails to open fails
  // its first two opens: one may be an open ahead, which the scan retries.
  std::unique_ptr<platform::testing::FaultyEnv> FailingEnv() const {
    auto env = std::make_unique<platform::testing::FaultyEnv>();
    for (const auto& [operation, name] : failing_) {
      if (operation == Operation::kOpen) {
        env->FailNth(Operation::kOpen, 1, EACCES, name);
        env->FailNth(Operation::kOpen, 1, EACCES, name);  // fails the open after
      }
      if (operation == Operation::kRead) env->FailReadsOf(0, EIO, name);
    }
    return env;
  }

  // Each sparable article with chance `share`.
  std::set<std::string> SomeSparable(double share) {
    std::set<std::string> spared;
    for (const std::string& name : sparable_) {
      if (std::uniform_real_distribution<double>(0, 1)(random_) < share) spared.insert(name);
    }
    return spared;
  }

  kb::testing::ScratchDirectory scratch_;
  std::filesystem::path previous_;
  std::mt19937 random_;
  std::string trace_;
  std::vector<std::pair<Operation, std::string>> failing_;
  std::vector<std::string> sparable_;
};

TEST_F(SparedScanTest, ShowsWhatAScanOfEveryArticleShowsOpeningOnlyTheOthers) {
  SCOPED_TRACE("seed " + trace_);
  Recorder every;
  const ScanSummary full =
      ScanKnowledgeBase(*FailingEnv(), {.query = Query::Phrase(kPhrase)}, every);
  ASSERT_EQ(full.articles_listed, 90);
  for (const double share : {0.0, 0.3, 0.9, 1.0}) {
    for (const std::size_t threads : {1, 2, 3, 8}) {
      SCOPED_TRACE("share " + std::to_string(share) + ", threads " + std::to_string(threads));
      const std::set<std::string> spared = SomeSparable(share);
      SparingFilter filter(spared);
      const auto env = FailingEnv();
      std::mutex opened_mutex;
      std::set<std::string> opened;
      env->SetHook([&](Operation operation, std::string_view path) {
        if (operation != Operation::kOpen) return;
        const std::lock_guard lock(opened_mutex);
        opened.insert(std::string(path.substr(path.rfind('/') + 1)));
      });
      Recorder sink;
      const ScanSummary summary = ScanKnowledgeBase(
          *env,
          {.query = Query::Phrase(kPhrase), .threads = threads, .filter = &filter, .io_depth = 2},
          sink);
      EXPECT_EQ(sink.shown, every.shown);
      EXPECT_EQ(summary.articles_listed, full.articles_listed);
      EXPECT_EQ(summary.articles_opened, full.articles_opened);
      EXPECT_TRUE(summary.completed);
      EXPECT_EQ(opened.size(), 90 - spared.size());
      for (const std::string& name : spared) EXPECT_FALSE(opened.contains(name)) << name;
      EXPECT_EQ(filter.asked,
                (std::vector<std::string>{"prepare unsafe pointer", "choose unsafe pointer 90"}));
    }
  }
}

TEST_F(SparedScanTest, AStopAmongSparedArticlesEndsTheScanThere) {
  SCOPED_TRACE("seed " + trace_);
  for (const std::size_t threads : {1, 2}) {
    for (const std::size_t stop_at : {1, 40, 89}) {
      SparingFilter filter(SomeSparable(1.0));
      std::stop_source stop;
      Recorder sink(&stop, stop_at);
      const ScanSummary summary = ScanKnowledgeBase(*FailingEnv(),
                                                    {.query = Query::Phrase(kPhrase),
                                                     .threads = threads,
                                                     .stop = stop.get_token(),
                                                     .filter = &filter},
                                                    sink);
      EXPECT_FALSE(summary.completed);
      std::size_t done = 0;
      for (const std::string& shown : sink.shown) done += shown.starts_with("./ZEB/");
      EXPECT_EQ(done, stop_at) << "threads " << threads;
    }
  }
}

}  // namespace
}  // namespace kb
