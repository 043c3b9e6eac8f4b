// Random knowledge bases, put through random changes, searched for random words (required,
// quoted and excluded ones; bytes and text; every folding; 1, 2 and 8 threads; with and without
// the article index): every set of articles found is the one a plain reference finds, and the
// index changes nothing, to the byte. The reference reads each article whole, character by
// character, as the manual has it: an article is found when it holds the marker, every
// required term where a word starts and no excluded term where a word starts.

#include <gtest/gtest.h>
#include <utf8proc.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/base/query.h"
#include "app/match/case_folder.h"
#include "app/match/html_text.h"
#include "app/setup/settings_file.h"
#include "support/testing/scratch_directory.h"
#include "support/text/ascii.h"
#include "support/text/utf8.h"

namespace kb {
namespace {

namespace fs = std::filesystem;
using kb::testing::Quote;
using kb::testing::ReadAll;
using kb::testing::WriteFile;

struct Outcome {
  int status = 0;
  std::string out;
  std::string err;
  std::string page;
};

// Whether a character is within a word, as utf8proc's categories say: letters, marks, digits.
bool InWord(std::string_view character) {
  const Utf8Sequence sequence = DecodeUtf8(character);
  if (sequence.length <= 0) return true;  // a byte that is no UTF-8
  const utf8proc_category_t category =
      utf8proc_category(static_cast<utf8proc_int32_t>(sequence.code_point));
  return (category >= UTF8PROC_CATEGORY_LU && category <= UTF8PROC_CATEGORY_ME) ||
         (category >= UTF8PROC_CATEGORY_ND && category <= UTF8PROC_CATEGORY_NO);
}

char SmallLetter(char byte) {
  return IsAsciiLetter(byte) ? static_cast<char>(byte | 0x20) : byte;
}

// The characters of a text: valid UTF-8 sequences, and single bytes otherwise.
std::vector<std::string_view> Characters(std::string_view text) {
  std::vector<std::string_view> characters;
  for (std::size_t at = 0; at < text.size();) {
    const int length = DecodeUtf8(text.substr(at)).length;
    const std::size_t size = length > 0 ? static_cast<std::size_t>(length) : 1;
    characters.push_back(text.substr(at, size));
    at += size;
  }
  return characters;
}

// The reference: the view folded character by character, each term compared at every place
// where the folding of a character begins, with the letters a-z matching their capitals.
class Reference {
 public:
  Reference(const Query& query, const MatchSettings& settings) : settings_(settings) {
    for (const QueryTerm& term : query.terms) {
      const std::string typed =
          settings.mode == MatchMode::kText ? CollapseWhiteSpace(term.text) : term.text;
      std::string sought;
      for (const std::string_view character : Characters(typed)) sought += Fold(character);
      terms_.push_back({sought, term.excluded, !typed.empty() && InWord(Characters(typed)[0])});
    }
  }

  bool Finds(std::string_view article) const {
    if (article.find("<!-- Article starts -->") == std::string_view::npos) return false;
    std::string view(article);
    if (settings_.mode == MatchMode::kText) {
      HtmlText reader;
      view = std::string(reader.Extract(article));
      view += reader.Finish();
    }
    std::string folded;
    std::vector<bool> starts;  // for each byte of `folded`: a word starts there
    bool after_word = false;
    for (const std::string_view character : Characters(view)) {
      const std::string out = Fold(character);
      for (std::size_t i = 0; i < out.size(); ++i) starts.push_back(i == 0 && !after_word);
      folded += out;
      after_word = InWord(character);
    }
    for (const Term& term : terms_) {
      if (Holds(folded, starts, term) == term.excluded) return false;
    }
    return true;
  }

 private:
  struct Term {
    std::string sought;
    bool excluded;
    bool at_word_start;
  };

  std::string Fold(std::string_view character) const {
    if (!settings_.folds_unicode() && !settings_.has_case_pairs()) return std::string(character);
    return CaseFolder(settings_).FoldWhole(character);
  }

  static bool Holds(const std::string& folded, const std::vector<bool>& starts, const Term& term) {
    if (term.sought.empty()) return false;
    for (std::size_t at = 0; at + term.sought.size() <= folded.size(); ++at) {
      if (term.at_word_start && !starts[at]) continue;
      bool same = true;
      for (std::size_t i = 0; i < term.sought.size() && same; ++i) {
        same = SmallLetter(folded[at + i]) == SmallLetter(term.sought[i]);
      }
      if (same) return true;
    }
    return false;
  }

  MatchSettings settings_;
  std::vector<Term> terms_;
};

constexpr const char* kArticleWords[] = {"join",
                                         "joining",
                                         "as_join",
                                         "rejoin",
                                         "numeric",
                                         "eric",
                                         "Eric",
                                         "ERIC",
                                         "\xC3\x89ric",
                                         "\xC3\xA9ric",
                                         "e\xCC\x81ric",
                                         "\xE9ric",
                                         "x\xE9ric",
                                         ".NET",
                                         "dot.NET",
                                         "__init__",
                                         "x__init__",
                                         "<b>jo</b>in",
                                         "&eacute;ric",
                                         "&amp;",
                                         "fish & chips",
                                         "fish  chips",
                                         "\xC3\x9F",
                                         "2join",
                                         "join2",
                                         "-join",
                                         "\xE2\x80\x94join",
                                         "\xD9\xA3join",
                                         "<p>",
                                         "\xCC\x81join",
                                         "x&#769;join",
                                         "\xC9RIC",
                                         "<i>",
                                         "\n",
                                         "<!-- Article starts -->"};

constexpr const char* kTerms[] = {"join",
                                  "eric",
                                  "\xC3\x89ric",
                                  "\xE9ric",
                                  ".NET",
                                  "__init__",
                                  "ric",
                                  "jo",
                                  "in",
                                  "init",
                                  "JOIN",
                                  "chips",
                                  "\"fish & chips\"",
                                  "\"fish  chips\"",
                                  "\"as_join\"",
                                  "\"x y\"",
                                  "numeric",
                                  "\xC3\x9F",
                                  "&amp;",
                                  "2join"};

// Now and then two runs of words far apart, so that the index holds them in different stretches
// of the article.
std::string RandomArticle(std::mt19937& random) {
  std::string bytes = random() % 8 == 0 ? "" : "<!-- Article starts -->";
  for (int run = random() % 6 == 0 ? 2 : 1; run > 0; --run) {
    const int words = static_cast<int>(random() % 30);
    for (int word = 0; word < words; ++word) {
      bytes += kArticleWords[random() % std::size(kArticleWords)];
      bytes += random() % 3 == 0 ? "" : " ";
    }
    // Past the first stretch's overlap: the second run lies in another stretch, often several
    // stretches on, so that the two runs' stretches are a small part of the article.
    if (run == 2) bytes += std::string(9300 + random() % 30000, '.');
  }
  return bytes;
}

std::string RandomQuery(std::mt19937& random) {
  std::string text;
  const int terms = 1 + static_cast<int>(random() % 3);
  for (int term = 0; term < terms; ++term) {
    if (!text.empty()) text += random() % 4 == 0 ? "  " : " ";
    if (random() % 4 == 0) text += "-";
    text += kTerms[random() % std::size(kTerms)];
  }
  if (random() % 20 == 0) text += " \"unclosed";
  return text;
}

class WordsDifferentialTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("XDG_CACHE_HOME", (scratch_.path() / "cache").c_str(), 1);
    setenv("XDG_CONFIG_HOME", (scratch_.path() / "config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (scratch_.path() / "system-config").c_str(), 1);
    unsetenv("KBSEARCH_ENV");
    WriteFile(scratch_.path() / "words.env", "Query = words\n");
    WriteFile(scratch_.path() / "pairs.env", "Query = words\nCasePairs = E9C9\n");
  }

  Outcome Run(const fs::path& kb, const std::string& arguments) {
    const fs::path out = scratch_.path() / "out";
    const fs::path err = scratch_.path() / "err";
    fs::remove(kb / "ZebResult.htm");
    const std::string command = std::string(KBSEARCH_CLI) + " -C " + Quote(kb.string()) + " " +
                                arguments + " >" + out.string() + " 2>" + err.string();
    const int status = std::system(command.c_str());
    return {.status = WEXITSTATUS(status),
            .out = ReadAll(out.string()),
            .err = ReadAll(err.string()),
            .page = ReadAll((kb / "ZebResult.htm").string())};
  }

  kb::testing::ScratchDirectory scratch_;
};

TEST_F(WordsDifferentialTest, WordsFindWhatTheReferenceFindsWithAndWithoutTheIndex) {
  std::mt19937 random(static_cast<unsigned>(std::random_device{}()));
  // KBSEARCH_TEST_SEED repeats a run.
  const char* const given = std::getenv("KBSEARCH_TEST_SEED");
  const unsigned seed = given != nullptr ? static_cast<unsigned>(std::stoul(given)) : random();
  random.seed(seed);
  SCOPED_TRACE("seed " + std::to_string(seed));
  constexpr int kKnowledgeBases = 4;
  std::vector<fs::path> bases;
  for (int base = 0; base < kKnowledgeBases; ++base) {
    const fs::path kb = scratch_.path() / ("kb" + std::to_string(base));
    fs::create_directories(kb / "ZEB");
    WriteFile(kb / "lheader.htm", "<html>\r\n");
    WriteFile(kb / "lfooter.htm", "</html>\r\n");
    const int articles = 3 + static_cast<int>(random() % 30);
    for (int article = 0; article < articles; ++article) {
      WriteFile(kb / "ZEB" / ("ZEB" + std::to_string(article) + ".htm"), RandomArticle(random));
    }
    bases.push_back(kb);
  }
  // Articles younger than the index's unsure span are read whatever it says.
  std::this_thread::sleep_for(std::chrono::milliseconds(2100));
  for (const fs::path& kb : bases) ASSERT_EQ(Run(kb, "--index").status, 0);

  constexpr const char* kFoldings[] = {"", "--fold ascii ", "--fold unicode ", "--fold accents "};
  constexpr const char* kThreads[] = {"-j 1 ", "-j 2 ", "-j 8 "};
  int found = 0;
  int refused = 0;
  for (int step = 0; step < 30; ++step) {
    for (const fs::path& kb : bases) {
      const fs::path zeb = kb / "ZEB";
      std::vector<fs::path> articles;
      for (const auto& entry : fs::directory_iterator(zeb)) articles.push_back(entry.path());
      std::sort(articles.begin(), articles.end());
      switch (random() % 6) {
        case 0:  // a new article, or one rewritten
          WriteFile(zeb / ("ZEB" + std::to_string(random() % 40) + ".htm"), RandomArticle(random));
          break;
        case 1:  // words added at the end
          if (!articles.empty()) {
            std::ofstream(articles[random() % articles.size()], std::ios::app)
                << kArticleWords[random() % std::size(kArticleWords)];
          }
          break;
        case 2:
          if (!articles.empty()) fs::remove(articles[random() % articles.size()]);
          break;
        default:
          ASSERT_EQ(Run(kb, "--index").status, 0);
          break;
      }

      const std::string text = RandomQuery(random);
      const bool pairs = random() % 4 == 0;
      const std::string folding = pairs ? "" : kFoldings[random() % std::size(kFoldings)];
      const bool as_text = random() % 2 == 0;
      const std::string options =
          "--settings " + (scratch_.path() / (pairs ? "pairs.env" : "words.env")).string() + " " +
          (as_text ? "--match text " : "") + folding + kThreads[random() % std::size(kThreads)];
      const std::string what = kb.string() + " " + options + text;

      const Outcome indexed = Run(kb, "-l " + options + "-- " + Quote(text));
      const Outcome scanned = Run(kb, "-l --no-index " + options + "-- " + Quote(text));
      ASSERT_EQ(indexed.status, scanned.status) << what;
      ASSERT_EQ(indexed.out, scanned.out) << what;
      ASSERT_EQ(indexed.err, scanned.err) << what;

      Query query;
      if (ParseQuery(text, QueryKind::kWords, query) != QueryProblem::kNone) {
        ASSERT_EQ(indexed.status, 2) << what;
        ASSERT_TRUE(indexed.out.empty()) << what;
        ASSERT_TRUE(indexed.err.starts_with("kbsearch-cli: The search text has")) << what;
        ++refused;
        continue;
      }
      Settings settings;
      std::vector<SettingsProblem> problems;
      ParseSettings(ReadAll((scratch_.path() / (pairs ? "pairs.env" : "words.env")).string()),
                    "kbsearch.env", settings, problems);
      MatchSettings& match = settings.match;
      if (as_text) match.mode = MatchMode::kText;
      if (folding == "--fold ascii ") match.case_folding = CaseFolding::kAscii;
      if (folding == "--fold unicode ") match.case_folding = CaseFolding::kUnicode;
      if (folding == "--fold accents ") {
        match.case_folding = CaseFolding::kUnicode;
        match.ignore_accents = true;
      }
      const Reference reference(query, match);
      std::string expected;
      std::set<std::string> names;
      for (const auto& entry : fs::directory_iterator(zeb)) {
        if (reference.Finds(ReadAll(entry.path().string()))) {
          names.insert(entry.path().filename().string());
        }
      }
      for (const std::string& name : names) expected += "./ZEB/" + name + "\n";
      if (indexed.out != expected && std::getenv("KBSEARCH_TEST_KEEP")) {
        fs::copy(kb, "/tmp/words-failure", fs::copy_options::recursive);
      }
      ASSERT_EQ(indexed.out, expected) << what;
      ASSERT_EQ(indexed.status, names.empty() ? 1 : 0) << what << "\n" << indexed.err;
      found += static_cast<int>(names.size());

      // The page too, now and then, and the JSON of the snippets.
      if (random() % 4 == 0) {
        const Outcome page = Run(kb, options + "-- " + Quote(text));
        const Outcome page_scanned = Run(kb, "--no-index " + options + "-- " + Quote(text));
        ASSERT_EQ(page.page, page_scanned.page) << what;
        ASSERT_EQ(page.out, expected) << what;
        const std::string json = "-l --json --results snippets " + options + "-- " + Quote(text);
        ASSERT_EQ(Run(kb, json).status, indexed.status) << what;
      }
    }
  }
  // The queries found articles, and some were refused.
  EXPECT_GT(found, 30);
  EXPECT_GT(refused, 0);
}

}  // namespace
}  // namespace kb
