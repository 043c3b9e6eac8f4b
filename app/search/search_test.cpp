#include "app/search/search.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <filesystem>
#include <memory>
#include <random>
#include <stop_token>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/match/article_snippets.h"
#include "files/access_mode.h"
#include "files/block_file.h"
#include "platform/testing/faulty_env.h"
#include "support/error_state/error_state.h"
#include "support/testing/rounds.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

namespace fs = std::filesystem;
using namespace std::string_view_literals;

// Writes down the search as a person would see it, in order: the stage texts, the progress
// bar, the messages and the results.
class RecordingScreen : public SearchScreen, public Printer {
 public:
  void ScanStarted(int32_t) override {
    calls.push_back("status Searching through files...");
    calls.push_back("show bar");
    bar_shown_ = true;
  }
  void ArticleDone(int32_t done, int32_t total) override {
    calls.push_back("bar " + std::to_string(PercentOf(done, total)));
  }
  void ScanEnded(std::string_view) override {
    if (std::exchange(bar_shown_, false)) calls.push_back("hide bar");
    calls.push_back("redraw window");
  }
  void PageBeingWritten() override { calls.push_back("status Creating index page..."); }
  void BrowserStarting() override { calls.push_back("status Executing browser..."); }
  void SearchEnded() override { calls.push_back("status "); }
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view,
                      std::string_view, int32_t, int32_t) override {
    calls.push_back("message " + std::string(caption) + ": " + std::string(text));
    return 1;
  }
  void ArticleFound(const FoundArticle& article) override {
    calls.push_back("result " + article.path + ": " + article.excerpt);
  }

  std::vector<std::string> calls;

 private:
  bool bar_shown_ = false;
};

// The paths of what a search found.
std::vector<std::string> PathsOf(const SearchReport& report) {
  std::vector<std::string> paths;
  for (const FoundArticle& article : report.found) paths.push_back(article.path);
  return paths;
}

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
  SearchReport Search(SearchRequest request, RecordingScreen& screen,
                      platform::Env& env = platform::Env::Default()) {
    return RunSearch(env, request, screen, {&screen});
  }

  RecordingScreen screen_;
};

// The bar steps once for each article opened, in shares of all listed; a failure to open is
// told in its place; the results are in listing order.
TEST_F(SearchTest, ProgressCountsOnlyTheArticlesThatCouldBeOpened) {
  Article("ZEB1.htm", "needle");
  Article("ZEB2.htm", "<!-- Article starts -->two needle");
  Article("ZEB3.htm", "<!-- Article starts -->needle three");
  Article("ZEB4.htm", "c");
  BlockFile holder({.options = "", .may_create = false});
  holder.name().Assign("ZEB/ZEB2.htm");
  holder.Open(access_mode::kReadWrite | access_mode::kDenyAll);
  const SearchReport report = Search(
      {.query = Query::Phrase("needle"), .page_handling = PageHandling::kWriteOnly}, screen_);

  EXPECT_EQ(report.phrase, "NEEDLE");
  EXPECT_EQ(report.articles_listed, 4);
  EXPECT_EQ(report.articles_opened, 3);
  ASSERT_EQ(report.found.size(), 1u);
  EXPECT_EQ(report.found[0].path, "./ZEB/ZEB3.htm");
  EXPECT_EQ(report.found[0].excerpt, "needle three");
  EXPECT_FALSE(report.launch);
  std::vector<std::string> bars;
  std::erase_if(screen_.calls, [&](const std::string& call) {
    if (!call.starts_with("bar ")) return false;
    bars.push_back(call);
    return true;
  });
  EXPECT_EQ(bars, (std::vector<std::string>{"bar 25", "bar 50", "bar 75"}));
  EXPECT_EQ(screen_.calls, (std::vector<std::string>{
                               "status Searching through files...",
                               "show bar",
                               "message : Could not open file: ./ZEB/ZEB2.htm|Error: 5, Access "
                               "Denied" +
                                   std::string(67, ' '),
                               "result ./ZEB/ZEB3.htm: needle three",
                               "hide bar",
                               "redraw window",
                               "status Creating index page...",
                               "status ",
                           }));
}

// Asks the search to stop as soon as it starts on the page.
class StopAtPageScreen : public RecordingScreen {
 public:
  void PageBeingWritten() override {
    RecordingScreen::PageBeingWritten();
    stop.request_stop();
  }
  std::stop_source stop;
};

TEST_F(SearchTest, AStopWhileThePageIsWrittenLeavesTheOldPage) {
  Article("ZEB1.htm", "<!-- Article starts -->needle");
  scratch_.Write("ZebResult.htm", "old page");
  StopAtPageScreen screen;

  const SearchReport report = Search({.query = Query::Phrase("needle"),
                                      .page_handling = PageHandling::kWriteOnly,
                                      .stop = screen.stop.get_token()},
                                     screen);

  EXPECT_EQ(report.outcome, SearchOutcome::kCancelled);
  EXPECT_EQ(testing::ReadAll("ZebResult.htm"), "old page");
  EXPECT_EQ(screen.calls.back(), "status ");
  for (const fs::directory_entry& entry : fs::directory_iterator(".")) {
    EXPECT_FALSE(entry.path().filename().string().starts_with(".")) << entry.path();
  }
}

TEST_F(SearchTest, WithoutArticlesNothingIsWritten) {
  const SearchReport report = Search({.query = Query::Phrase("mixed Case")}, screen_);

  EXPECT_EQ(report.phrase, "MIXED CASE");
  EXPECT_EQ(report.articles_listed, 0);
  EXPECT_EQ(screen_.calls, (std::vector<std::string>{"redraw window", "status "}));
  EXPECT_FALSE(fs::exists("ZebResult.htm"));
}

TEST_F(SearchTest, TheMatchSettingsDecideWhatMatchesAndUpperCasesThePhrase) {
  Article("ZEB1.htm", "<p>CAF\xC9</p>\r\n<p>au <b>lait</b></p><!-- Article starts -->one");
  Article("ZEB2.htm", "<!-- Article starts -->two: caf\xE9 au lai&#116");
  Article("ZEB3.htm", "<!-- Article starts -->caf\xE9 au lai");
  SearchRequest request{.query = Query::Phrase("caf\xE9  au lait"),
                        .page_handling = PageHandling::kWriteOnly,
                        .threads = 3};
  request.match_settings.case_table[0xE9] = 0xC9;
  request.match_settings.mode = MatchMode::kText;

  // Every thread of the scan matches with the settings.
  const SearchReport report = Search(request, screen_);

  EXPECT_EQ(report.phrase, "CAF\xC9  AU LAIT");
  EXPECT_EQ(PathsOf(report), (std::vector<std::string>{"./ZEB/ZEB1.htm", "./ZEB/ZEB2.htm"}));
}

TEST_F(SearchTest, TemplatesAreReadOnceWithTheirLinesWhole) {
  scratch_.Write("lheader.htm", "<html>\r\n" + std::string(300, 'h') + "\r\n\r\n");
  scratch_.Write("lfooter.htm", "");

  const PageTemplates templates = LoadTemplates(platform::Env::Default(), screen_);

  EXPECT_EQ(screen_.calls, std::vector<std::string>{});
  ASSERT_EQ(templates.header.size(), 3u);
  EXPECT_EQ(templates.header[1], std::string(300, 'h'));
  EXPECT_TRUE(templates.footer.empty());
}

TEST_F(SearchTest, AFolderThatCannotBeReadIsReportedOnce) {
  fs::remove("ZEB");
  scratch_.Write("ZEB", "a file where the folder should be");
  scratch_.Write("ZebResult.htm", "old page");
  Search({.query = Query::Phrase("x")}, screen_);

  EXPECT_EQ(screen_.calls,
            (std::vector<std::string>{
                "message : Could not read the folder: ./ZEB|Error: 5, Access Denied" +
                    std::string(67, ' '),
                "redraw window", "status "}));
  EXPECT_EQ(testing::ReadAll("ZebResult.htm"), "old page");
}

TEST_F(SearchTest, FailedReadsAreReportedAndWhatWasReadIsStillSearched) {
  // The marker lies near the end of the first read, so the excerpt needs the second, which
  // fails: the article is reported, counted as opened, and found with what it had. So too
  // with the snippets page, whose scan reads the rest of the article otherwise.
  std::string long_article(100'000, '.');
  long_article.replace(0, 6, "needle");
  long_article.replace(65'536 - 123, 23, "<!-- Article starts -->");
  long_article.replace(65'536 - 100, 5, "cut 5");
  Article("ZEB1.htm", "<!-- Article starts -->needle one");
  Article("ZEB2.htm", long_article);
  Article("ZEB3.htm", "<!-- Article starts -->needle three");
  for (const auto& [threads, style] :
       {std::pair{1u, ResultsStyle::kClassic}, std::pair{3u, ResultsStyle::kClassic},
        std::pair{1u, ResultsStyle::kSnippets}, std::pair{3u, ResultsStyle::kSnippets}}) {
    platform::testing::FaultyEnv env;
    env.FailNth(platform::Operation::kRead, 2, EIO, "ZEB2.htm");
    RecordingScreen screen;
    Search({.query = Query::Phrase("needle"),
            .page_handling = PageHandling::kWriteOnly,
            .threads = threads,
            .results = {.style = style}},
           screen, env);
    EXPECT_EQ(screen.calls,
              (std::vector<std::string>{
                  "status Searching through files...", "show bar",
                  "result ./ZEB/ZEB1.htm: needle one", "bar 33",
                  "message : Could not read file: ./ZEB/ZEB2.htm|Error: 330, Read Fault" +
                      std::string(70, ' '),
                  "result ./ZEB/ZEB2.htm: cut 5" + std::string(95, '.'), "bar 66",
                  "result ./ZEB/ZEB3.htm: needle three", "bar 100", "hide bar", "redraw window",
                  "status Creating index page...", "status "}));
  }

  // A folder that fails while it is read: what was read of it is searched, and the failure
  // is told once.
  platform::testing::FaultyEnv env;
  env.FailNth(platform::Operation::kReadDirectory, 3, EIO);
  RecordingScreen screen;
  const SearchReport report = Search({.page_handling = PageHandling::kWriteOnly}, screen, env);
  ASSERT_FALSE(screen.calls.empty());
  EXPECT_EQ(screen.calls[0], "message : Could not read the folder: ./ZEB|Error: 330, Read Fault" +
                                 std::string(70, ' '));
  EXPECT_LT(report.articles_listed, 3);
}

// A knowledge base made at random: articles of 0 to 300 KB with the phrase and the marker
// planted across block and buffer boundaries, names in mixed case up to the longest a file
// may have, some articles held by another opener, some shrinking while they are searched.
// What a search does with it must not depend on the number of threads.
class RandomKnowledgeBase {
 public:
  RandomKnowledgeBase(uint32_t seed, const testing::ScratchDirectory& scratch)
      : random_(seed), scratch_(scratch) {
    const bool many_small = seed % 3 == 2;  // more articles than are read ahead at once
    const std::size_t count = seed == 1 ? 0 : many_small ? 300 + random_() % 400 : random_() % 40;
    phrase_ = kPhrases[random_() % std::size(kPhrases)];
    for (std::size_t i = 0; i < count; ++i) {
      const std::string name = NewName();
      if (std::find(names_.begin(), names_.end(), name) != names_.end()) continue;
      const std::size_t size = many_small ? random_() % 3000 : ArticleSize();
      Article article{.name = name, .text = Text(size)};
      if (random_() % 10 == 0) article.locked = true;
      if (article.text.size() > 70'000 && random_() % 3 == 0)
        article.shrink_to = SafeLength(article.text);
      scratch_.Write("ZEB/" + name, article.text);
      names_.push_back(name);
      articles_.push_back(std::move(article));
    }
  }

  std::string_view phrase() const { return phrase_; }

  // What every search must show for the articles, in listing order: the results, and the
  // messages for those that cannot be opened.
  std::vector<std::string> ExpectedReports() const {
    std::vector<const Article*> listed;
    for (const Article& article : articles_) listed.push_back(&article);
    std::sort(listed.begin(), listed.end(), [](const Article* a, const Article* b) {
      return std::pair(Folded(a->name), a->name) < std::pair(Folded(b->name), b->name);
    });
    std::vector<std::string> reports;
    const std::string phrase = Folded(phrase_);
    for (const Article* article : listed) {
      const std::string path = "./ZEB/" + article->name;
      if (article->locked) {
        reports.push_back("message : Could not open file: " + path + "|Error: 5, Access Denied" +
                          std::string(67, ' '));
        continue;
      }
      const std::size_t marker = article->text.find(kMarker);
      if (phrase.empty() || Folded(article->text).find(phrase) == std::string::npos ||
          marker == std::string::npos) {
        continue;
      }
      std::string excerpt = article->text.substr(marker + kMarker.size(), 201);
      excerpt.erase(excerpt.find_last_not_of(' ') + 1);
      reports.push_back("result " + path + ": " + excerpt);
    }
    return reports;
  }

  // Holds the articles that are to be locked open, for reading and writing, denying all.
  std::vector<std::unique_ptr<BlockFile>> Lock() const {
    std::vector<std::unique_ptr<BlockFile>> holders;
    for (const Article& article : articles_) {
      if (!article.locked) continue;
      auto holder = std::make_unique<BlockFile>(FileDeclaration{
          .options = "", .may_create = false, .name_length = 300, .path_limit = 300});
      holder->name().Assign("ZEB/" + article.name);
      holder->Open(access_mode::kReadWrite | access_mode::kDenyAll);
      EXPECT_EQ(ErrorCode(), 0) << article.name;
      holders.push_back(std::move(holder));
    }
    return holders;
  }

  // Gives the shrinking articles their whole text back.
  void Restore() const {
    for (const Article& article : articles_) {
      if (article.shrink_to != 0) scratch_.Write("ZEB/" + article.name, article.text);
    }
  }
  // Cuts the shrinking articles to the length that still says all they say.
  void Shrink() const {
    for (const Article& article : articles_) {
      if (article.shrink_to != 0)
        fs::resize_file(scratch_ / ("ZEB/" + article.name), article.shrink_to);
    }
  }

 private:
  struct Article {
    std::string name;
    std::string text;
    bool locked = false;
    std::size_t shrink_to = 0;  // 0: never shrinks
  };

  static constexpr std::string_view kMarker = "<!-- Article starts -->";
  static constexpr const char* kPhrases[] = {"needle pin", "Needle", "pin ", "n", ""};
  // Bytes that never make up a phrase or the marker.
  static constexpr std::string_view kFiller = "abc xyz<>!-\r\n\t\0\xe9"sv;

  static std::string Folded(std::string_view text) {
    std::string folded(text);
    for (char& byte : folded) {
      if (byte >= 'a' && byte <= 'z') byte = static_cast<char>(byte - 'a' + 'A');
    }
    return folded;
  }

  std::string NewName() {
    static constexpr std::string_view kNameBytes = "aAbBzZ09_-";
    std::string middle;
    const std::size_t length = random_() % 50 == 0 ? 248 : random_() % 6;
    for (std::size_t i = 0; i < length; ++i) middle += kNameBytes[random_() % kNameBytes.size()];
    return (random_() % 2 ? "ZEB" : "zeb") + middle + (random_() % 2 ? ".htm" : ".HTM");
  }

  std::size_t ArticleSize() {
    switch (random_() % 10) {
      case 0:
      case 1:
      case 2:
        return random_() % 2000;
      case 3:
      case 4:
      case 5:
        return random_() % 20'000;
      case 6:
      case 7:  // about a block or buffer boundary
        return (random_() % 2 ? 4096 : 65536) * (1 + random_() % 3) - 40 + random_() % 80;
      default:
        return random_() % 300'000;
    }
  }

  // A place to plant `length` bytes: often astride a block or buffer boundary.
  std::size_t PlaceFor(std::size_t size, std::size_t length) {
    if (size <= length) return 0;
    std::size_t at = random_() % (size - length);
    if (random_() % 2 == 0) {
      const std::size_t boundary = random_() % 3 == 0 ? 65536 : 4096;
      const std::size_t near = at / boundary * boundary + boundary - random_() % (length + 1);
      if (near + length <= size) at = near;
    }
    return at;
  }

  std::string Text(std::size_t size) {
    std::string text(size, ' ');
    for (char& byte : text) byte = kFiller[random_() % kFiller.size()];
    const auto plant = [&](std::string_view what) {
      if (what.empty() || what.size() > size) return;
      text.replace(PlaceFor(size, what.size()), what.size(), what);
    };
    std::string phrase(phrase_);
    for (char& byte : phrase) {
      if (random_() % 2) byte = Folded(std::string(1, byte))[0];
    }
    for (int copies = random_() % 3; copies > 0; --copies) plant(phrase);
    for (int copies = random_() % 3; copies > 0; --copies) plant(kMarker);
    if (random_() % 4 == 0) plant("<!-- article starts -->");
    // Blanks that an excerpt must lose at its end.
    if (random_() % 4 == 0) plant(std::string(250, ' '));
    return text;
  }

  // A length at which `text` still holds all that matters for the search: its first phrase,
  // its first marker and the excerpt after it. 0 when no shorter one is.
  std::size_t SafeLength(const std::string& text) const {
    std::size_t needed = 0;
    const std::size_t phrase = Folded(text).find(Folded(phrase_));
    if (phrase != std::string::npos) needed = phrase + phrase_.size();
    const std::size_t marker = text.find(kMarker);
    if (marker != std::string::npos) needed = std::max(needed, marker + kMarker.size() + 201);
    return needed + 1 < text.size() ? needed + 1 : 0;
  }

  std::mt19937 random_;
  const testing::ScratchDirectory& scratch_;
  std::string phrase_;
  std::vector<std::string> names_;
  std::vector<Article> articles_;
};

// Writes down a search as a person would see it, and asks it to stop at the `stop_at`-th
// step of the progress bar (never when 0).
class StoppingScreen : public RecordingScreen {
 public:
  StoppingScreen(std::stop_source& stop, int stop_at) : stop_(stop), stop_at_(stop_at) {}
  void ArticleDone(int32_t done, int32_t total) override {
    RecordingScreen::ArticleDone(done, total);
    if (++steps_ == stop_at_) stop_.request_stop();
  }

 private:
  std::stop_source& stop_;
  int stop_at_;
  int steps_ = 0;
};

struct Observed {
  SearchOutcome outcome;
  std::vector<std::string> calls;
  std::string page;
  int32_t files_done;
};

TEST_F(SearchTest, EveryThreadCountAndStandbyThreadsShowTheSameSearch) {
  const auto seeds = static_cast<uint32_t>(testing::Rounds(8, 2));
  for (uint32_t seed = 1; seed <= seeds; ++seed) {
    fs::remove_all("ZEB");
    fs::create_directory("ZEB");
    const RandomKnowledgeBase knowledge_base(seed, scratch_);
    const auto holders = knowledge_base.Lock();
    std::mt19937 random(seed);
    const int stop_at = static_cast<int>(random() % 30);

    // With standby threads, the articles are found now missing from memory and now there,
    // so that the standby threads start and wait again during the search, and the articles
    // are opened ahead now and then; some looks and hints fail, which must never show.
    platform::testing::FaultyEnv cold;
    for (int nth = 1; nth <= 20; ++nth) {
      cold.FailNth(platform::Operation::kReadCached, nth * 3, EIO);
      cold.FailNth(platform::Operation::kWillRead, nth * 2, EIO);
    }
    // One thread alone, then every thread count with standby threads.
    std::vector<std::pair<std::size_t, std::size_t>> runs = {{1, 0}};
    for (std::size_t threads = 1; threads <= 8; ++threads) runs.emplace_back(threads, 3 * threads);

    std::vector<Observed> searches;
    for (const auto& [threads, io_depth] : runs) {
      for (const bool stopping : {false, true}) {
        scratch_.Write("ZebResult.htm", "old page");
        knowledge_base.Restore();
        std::stop_source stop;
        StoppingScreen screen(stop, stopping ? stop_at : 0);
        std::jthread shrinker([&, pause = random() % 2000] {
          std::this_thread::sleep_for(std::chrono::microseconds(pause));
          knowledge_base.Shrink();
        });
        std::jthread cache_changer([&](const std::stop_token& done) {
          for (bool nothing_cached = true; !done.stop_requested();
               nothing_cached = !nothing_cached) {
            cold.SetNothingCached(nothing_cached);
            std::this_thread::sleep_for(std::chrono::microseconds(300));
          }
        });
        const SearchReport report = Search({.query = Query::Phrase(knowledge_base.phrase()),
                                            .page_handling = PageHandling::kWriteOnly,
                                            .threads = threads,
                                            .stop = stop.get_token(),
                                            .io_depth = io_depth},
                                           screen, io_depth == 0 ? platform::Env::Default() : cold);
        shrinker.join();
        searches.push_back({report.outcome, screen.calls, testing::ReadAll("ZebResult.htm"),
                            report.articles_opened});
      }
    }

    SCOPED_TRACE("seed " + std::to_string(seed));
    std::vector<std::string> reports;
    for (const std::string& call : searches[0].calls) {
      if (call.starts_with("result ") || call.starts_with("message ")) reports.push_back(call);
    }
    EXPECT_EQ(reports, knowledge_base.ExpectedReports());
    EXPECT_EQ(searches[0].outcome, SearchOutcome::kCompleted);
    for (std::size_t run = 2; run < searches.size(); ++run) {
      const auto [threads, io_depth] = runs[run / 2];
      SCOPED_TRACE("threads " + std::to_string(threads) + ", io depth " + std::to_string(io_depth) +
                   (run % 2 ? ", stopped" : ""));
      const Observed& one_thread = searches[run % 2];
      EXPECT_EQ(searches[run].outcome, one_thread.outcome);
      EXPECT_EQ(searches[run].calls, one_thread.calls);
      EXPECT_EQ(searches[run].page, one_thread.page);
      EXPECT_EQ(searches[run].files_done, one_thread.files_done);
    }
    const Observed& stopped = searches[1];
    if (stopped.outcome == SearchOutcome::kCancelled) {
      EXPECT_EQ(stopped.page, "old page");
      EXPECT_EQ(stopped.files_done, stop_at);
      EXPECT_EQ(stopped.calls.back(), "status ");
    }
  }
}

// With the snippets page, what the search collects of each found article, in the scan's own
// reading, is what the article read whole shows: in one read or in several, on any number of
// threads, in either mode.
TEST_F(SearchTest, SnippetsAreThoseOfTheArticleReadWhole) {
  std::mt19937 random(3);
  const std::string phrase = "Needle";
  std::vector<std::string> articles;
  // Sizes about one read of an article and several.
  for (const std::size_t size : {0, 300, 5'000, 511'000, 530'000, 1'600'000}) {
    std::string article = "<title>T " + std::to_string(size) + "</title><!-- Article starts -->";
    while (article.size() < size) {
      article += random() % 50 == 0 ? "needle &amp; <b>needle</b> &amp " : "<p>words, words</p> ";
    }
    article += "needle &amp";
    articles.push_back(article);
    Article("ZEB" + std::to_string(articles.size()) + ".htm", article);
  }
  for (const MatchMode mode : {MatchMode::kBytes, MatchMode::kText}) {
    const MatchSettings settings{.mode = mode};
    const SnippetMaker maker(phrase, settings);
    for (const std::size_t threads : {1, 2, 4}) {
      SCOPED_TRACE(::testing::Message()
                   << "threads " << threads << " text " << (mode == MatchMode::kText));
      const SearchReport report = Search({.query = Query::Phrase(phrase),
                                          .match_settings = settings,
                                          .page_handling = PageHandling::kNone,
                                          .threads = threads,
                                          .results = {.style = ResultsStyle::kSnippets}},
                                         screen_);
      ASSERT_EQ(report.found.size(), articles.size());
      for (std::size_t index = 0; index < articles.size(); ++index) {
        const std::optional<ArticleSnippets>& shown = report.found[index].details.shown;
        ASSERT_TRUE(shown.has_value());
        EXPECT_EQ(*shown, maker.Make(articles[index])) << report.found[index].path;
      }
    }
  }
}

// By relevance, the order is the same on any number of threads, in either mode: the printers
// get the articles once the scan has ended, in the order of the snippets page's rows, those
// whose title holds the phrase where a word starts first; the classic page keeps the listing
// order.
TEST_F(SearchTest, RelevanceOrderIsTheSameOnAnyNumberOfThreads) {
  std::mt19937 random(5);
  std::vector<bool> title_holds;
  for (int article = 0; article < 40; ++article) {
    const int title = static_cast<int>(random() % 4);
    title_holds.push_back(title == 0);
    std::string text = std::string("<title>") +
                       (title == 0   ? "About Needles"
                        : title == 1 ? "Haystackneedle"
                                     : "Other") +
                       "</title><!-- Article starts -->";
    // Some long enough to be read in several reads.
    const std::size_t size = random() % 5 == 0 ? 100'000 + random() % 200'000 : random() % 3'000;
    while (text.size() < size) {
      text += random() % 10 == 0 ? "a <b>needle</b> " : "<p>hay and straw</p> ";
    }
    text += "needle";
    char name[16];
    std::snprintf(name, sizeof name, "ZEB%02d.htm", article);
    Article(name, text);
  }
  for (const MatchMode mode : {MatchMode::kBytes, MatchMode::kText}) {
    std::vector<std::string> first_printed;
    for (const std::size_t threads : {1, 2, 8}) {
      for (const ResultsStyle style : {ResultsStyle::kSnippets, ResultsStyle::kClassic}) {
        SCOPED_TRACE(::testing::Message()
                     << "threads " << threads << " text " << (mode == MatchMode::kText)
                     << " snippets " << (style == ResultsStyle::kSnippets));
        RecordingScreen screen;
        const SearchReport report =
            Search({.query = Query::Phrase("needle"),
                    .match_settings = {.mode = mode},
                    .page_handling = PageHandling::kNone,
                    .threads = threads,
                    .results = {.style = style, .order = ResultsOrder::kRelevance},
                    .printed_order = ResultsOrder::kRelevance},
                   screen);
        ASSERT_EQ(report.found.size(), title_holds.size());
        std::vector<std::string> printed;
        for (const std::string& call : screen.calls) {
          if (call.starts_with("result ")) printed.push_back(call.substr(0, call.find(':')));
        }
        ASSERT_EQ(printed.size(), report.found.size());
        if (first_printed.empty()) first_printed = printed;
        EXPECT_EQ(printed, first_printed);
        // The results come after the scan, and only then.
        const auto hidden = std::find(screen.calls.begin(), screen.calls.end(), "hide bar");
        EXPECT_TRUE(std::all_of(screen.calls.begin(), hidden, [](const std::string& call) {
          return !call.starts_with("result ");
        }));
        bool titles_over = false;
        for (std::size_t rank = 0; rank < report.rows.size(); ++rank) {
          const std::size_t row = report.rows[rank];
          if (style == ResultsStyle::kClassic) {
            EXPECT_EQ(row, rank);
            continue;
          }
          EXPECT_EQ("result " + report.found[row].path, printed[rank]);
          const bool holds = title_holds[row];
          EXPECT_FALSE(holds && titles_over) << report.found[row].path;
          titles_over = titles_over || !holds;
        }
      }
    }
  }
}

}  // namespace
}  // namespace kb
