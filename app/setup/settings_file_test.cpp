#include "app/setup/settings_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "app/base/replaceable_texts.h"
#include "platform/file_identity.h"
#include "platform/testing/faulty_env.h"
#include "support/error_state/error_messages.h"
#include "support/error_state/error_state.h"
#include "support/message_box/message_box_content.h"
#include "support/program_texts/program_texts.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

// The settings and the problems that reading a file gives, starting from the defaults.
struct Outcome {
  Settings settings;
  std::vector<SettingsProblem> problems;
  std::string read;  // the file ReadSettingsFile read
};

Outcome Parsed(std::string_view contents, std::string_view file = "f",
               SettingsSource source = SettingsSource::kUser) {
  Outcome outcome;
  ParseSettings(contents, file, outcome.settings, outcome.problems, source);
  return outcome;
}

Outcome Read(const SettingsPlaces& places, platform::Env& env = platform::Env::Default()) {
  Outcome outcome;
  outcome.read = ReadSettingsFile(env, places, outcome.settings, outcome.problems);
  return outcome;
}

TEST(SettingsFileTest, EveryKeyAppliesAndEachBadLineIsReportedWithItsNumber) {
  const std::string contents =
      "\xEF\xBB\xBF# kbsearch settings\r\n"
      "\r\n"
      "  casefolding\t=  Unicode \r\n"
      "IgnoreAccents = maybe\n"
      "Match = TEXT\n"
      "no equals sign here\n"
      "Colour = blue\n"
      "CasePairs = e9c9 E0C0\n"
      "CasePairs = E8C8 E8\n"
      " = yes\n"
      "Caf\xE9 = 1\n"
      "IgnoreAccents=yes\n"
      "Error6 = no such error\n"
      "Error5 = " +
      std::string(80, 'x') + "\nhistory = Off\nStoppedStatus = first\nstoppedSTATUS = last";
  const auto [settings, problems, _] = Parsed(contents, "kb.env");

  EXPECT_EQ(settings.match.case_folding, CaseFolding::kUnicode);
  EXPECT_TRUE(settings.match.ignore_accents);
  EXPECT_EQ(settings.match.mode, MatchMode::kText);
  EXPECT_FALSE(settings.keep_history);
  CaseTable pairs = UpperCaseTable();
  pairs[0xE9] = 0xC9;
  pairs[0xE0] = 0xC0;
  EXPECT_EQ(settings.match.case_table, pairs) << "a bad value leaves the earlier one";
  EXPECT_EQ(settings.texts.Of(text::kStoppedStatus), "last") << "a text given twice";
  EXPECT_EQ(settings.texts.Of(*ErrorMessageText(5)), "Access Denied") << "too long to replace";
  EXPECT_EQ(problems,
            (std::vector<SettingsProblem>{
                {"kb.env", 4, "IgnoreAccents is no or yes, not \"maybe\""},
                {"kb.env", 6, "a setting is written Key = Value"},
                {"kb.env", 7, "unknown key \"Colour\""},
                {"kb.env", 9, "CasePairs takes pairs of bytes in hex such as E9C9, not \"E8\""},
                {"kb.env", 10, "unknown key \"\""},
                {"kb.env", 11, "the line is not UTF-8 text"},
                {"kb.env", 13, "unknown key \"Error6\""},
                {"kb.env", 14, "Error5 is at most 79 bytes long"},
            }));
  EXPECT_EQ(problems[0].Describe(), "kb.env, line 4: IgnoreAccents is no or yes, not \"maybe\"");
}

TEST(SettingsFileTest, CasePairsAreBytesAbove7FEachInOnePair) {
  for (const std::string_view bad : {"E9C9 4161", "E9E9", "E9C9 C9D0", "E9C", "E9XY"}) {
    const Outcome refused = Parsed(Concat({"CasePairs = ", bad}));
    EXPECT_EQ(refused.problems.size(), 1u) << bad;
    EXPECT_FALSE(refused.settings.match.has_case_pairs()) << bad;
  }
  const Outcome emptied = Parsed("CasePairs = 8A9A\nCasePairs =");
  EXPECT_TRUE(emptied.problems.empty());
  EXPECT_FALSE(emptied.settings.match.has_case_pairs()) << "an empty value takes the pairs away";
}

TEST(SettingsFileTest, TheIndexIsSwitchedAndItsCacheLimitedInBytes) {
  const Outcome set = Parsed("Index = OFF\nIndexLimit = 500M");
  EXPECT_TRUE(set.problems.empty());
  EXPECT_FALSE(set.settings.use_index);
  EXPECT_EQ(set.settings.index_limit, 500u << 20);
  EXPECT_EQ(Parsed("IndexLimit = 1P").settings.index_limit, uint64_t{1} << 50);
  // Checked before it is multiplied: a size that would wrap to a small one is refused.
  for (const std::string_view bad :
       {"12X", "G", "-5", "1.5G", "1025T", "17179869184G", "18446744073709551617"}) {
    const Outcome refused = Parsed(Concat({"IndexLimit = ", bad}));
    EXPECT_EQ(refused.problems.size(), 1u) << bad;
    EXPECT_EQ(refused.settings.index_limit, uint64_t{1} << 30) << bad;
  }
}

// Marker and Ignore: a bad value changes nothing; an Ignore list conflicts with the bytes.
TEST(SettingsFileTest, MarkerAndIgnoreChooseThePartOfThePage) {
  const Outcome set = Parsed("Marker = \" <div id=main>\"\nIgnore = NAV, .side\nMatch = text\n");
  EXPECT_TRUE(set.problems.empty());
  EXPECT_EQ(set.settings.match.article.marker, " <div id=main>");
  EXPECT_EQ(set.settings.match.article.ignore, (std::vector<std::string>{"nav", ".side"}));
  EXPECT_EQ(SettingsConflict(set.settings), "");
  EXPECT_EQ(Parsed("Marker = Body").settings.match.article.marker, "body");
  const Outcome refused = Parsed("Marker = <main>\nMarker =\nIgnore = nav\nIgnore = nav, #x\n");
  EXPECT_EQ(refused.settings.match.article.marker, "<main>");
  EXPECT_EQ(refused.settings.match.article.ignore, std::vector<std::string>{"nav"});
  EXPECT_EQ(refused.problems,
            (std::vector<SettingsProblem>{
                {"f", 2, "Marker takes the text after which the article begins, or body"},
                {"f", 4,
                 "Ignore takes element names and classes with a dot, such as nav, .sidebar, not "
                 "\"#x\""}}));
  EXPECT_NE(SettingsConflict(refused.settings), "");
  EXPECT_EQ(SettingsConflict(Parsed("Ignore = nav\nIgnore =").settings), "");
}

TEST(SettingsFileTest, TheLayoutIsAPatternInsideTheKnowledgeBase) {
  const Outcome set =
      Parsed("Articles = **/*.html\nExclude = genindex.html , _modules/**,,search.html",
             "kbsearch.env", SettingsSource::kKnowledgeBase);
  EXPECT_TRUE(set.problems.empty());
  const KnowledgeBase base = KnowledgeBaseOf(set.settings, "/kb");
  EXPECT_EQ(base.articles, "**/*.html");
  EXPECT_EQ(base.exclude,
            (std::vector<std::string>{"genindex.html", "_modules/**", "search.html"}));
  EXPECT_FALSE(base.ListsArticleFolder());
  EXPECT_TRUE(KnowledgeBaseOf(Parsed("").settings, "/kb").ListsArticleFolder());
  // A pattern that could lead out of the folder changes nothing.
  const Outcome refused = Parsed("Articles = ../*.html\nArticles = /etc/*\nExclude = a, ../b");
  EXPECT_EQ(refused.problems.size(), 3u);
  EXPECT_FALSE(refused.settings.articles);
  EXPECT_TRUE(refused.settings.exclude.empty());
  EXPECT_EQ(refused.problems[0].what,
            "Articles takes a pattern of paths inside the knowledge base such as **/*.html, not "
            "\"../*.html\": it holds the folder ..");
}

TEST(SettingsFileTest, PlacesFollowTheEnvironment) {
  const auto places = [](std::map<std::string, std::string> variables) {
    return FindSettingsPlaces([variables](std::string_view name) -> std::optional<std::string> {
      const auto found = variables.find(std::string(name));
      if (found == variables.end()) return std::nullopt;
      return found->second;
    });
  };
  SettingsPlaces named = places({{"KBSEARCH_ENV", "my.env"}, {"HOME", "/home/u"}});
  EXPECT_EQ(named.paths, std::vector<std::string>{"my.env"});
  EXPECT_TRUE(named.named);

  SettingsPlaces defaults = places({{"HOME", "/home/u"}, {"KBSEARCH_ENV", ""}});
  EXPECT_EQ(defaults.paths, (std::vector<std::string>{"/home/u/.config/kbsearch/kbsearch.env",
                                                      "/etc/xdg/kbsearch/kbsearch.env"}));
  EXPECT_FALSE(defaults.named);

  // Relative folders do not count; trailing slashes do not matter.
  EXPECT_EQ(places({{"HOME", "/home/u/"},
                    {"XDG_CONFIG_HOME", "relative"},
                    {"XDG_CONFIG_DIRS", "/a/:rel::/"}})
                .paths,
            (std::vector<std::string>{"/home/u/.config/kbsearch/kbsearch.env",
                                      "/a/kbsearch/kbsearch.env", "/kbsearch/kbsearch.env"}));
  EXPECT_EQ(
      places({{"XDG_CONFIG_HOME", "/cfg"}}).paths,
      (std::vector<std::string>{"/cfg/kbsearch/kbsearch.env", "/etc/xdg/kbsearch/kbsearch.env"}));
}

// A knowledge base's own file chooses how its articles are searched and shown, and nothing
// else; it is read from the working directory and must be a small regular file.
TEST(SettingsFileTest, TheKnowledgeBasesFileSetsOnlyHowItIsSearchedAndShown) {
  auto [settings, problems, _] = Parsed(
      "Results = Snippets\nOrder = hits\nSearchButton = &Go\nColour = blue\n"
      "Match = text\nResults = pages\nQuery = Words\nQuery = all\nOrder = Relevance\n"
      "Order = score\n",
      "kbsearch.env", SettingsSource::kKnowledgeBase);
  EXPECT_EQ(settings.results.style, ResultsStyle::kSnippets);
  EXPECT_EQ(settings.query_kind, QueryKind::kWords);
  EXPECT_EQ(settings.results.order, ResultsOrder::kRelevance);
  EXPECT_EQ(settings.match.mode, MatchMode::kText);
  EXPECT_EQ(settings.texts.Of(text::kSearchButton), ProgramTexts().Of(text::kSearchButton));
  EXPECT_EQ(
      problems,
      (std::vector<SettingsProblem>{
          {"kbsearch.env", 3, "\"SearchButton\" is the user's to set, not the knowledge base's"},
          {"kbsearch.env", 4, "unknown key \"Colour\""},
          {"kbsearch.env", 6, "Results is classic or snippets, not \"pages\""},
          {"kbsearch.env", 8, "Query is phrase or words, not \"all\""},
          {"kbsearch.env", 10, "Order is name, hits or relevance, not \"score\""},
      }));

  testing::ScratchDirectory scratch;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path());
  // Named, not captured by [&]: a structured binding is not captured by Clang before 16.
  const auto read = [&problems = problems] {
    Settings read_settings;
    problems.clear();
    ReadKnowledgeBaseSettings(platform::Env::Default(), read_settings, problems);
    return read_settings;
  };
  EXPECT_EQ(read().results.style, ResultsStyle::kClassic);
  EXPECT_TRUE(problems.empty()) << "a knowledge base need not have one";
  scratch.Write("kbsearch.env", "Order = hits\n" + std::string(70'000, '#'));
  EXPECT_EQ(read().results.order, ResultsOrder::kName);
  ASSERT_EQ(problems.size(), 1u);
  std::filesystem::remove(scratch / "kbsearch.env");
  std::filesystem::create_directory(scratch / "kbsearch.env");
  read();
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Describe(), "kbsearch.env: could not be read (error 5, Access Denied)");

  // What the user keeps stays the user's: the index, its cache and the history are as the
  // user left them, and a refused line is quoted no further than its key.
  std::filesystem::remove(scratch / "kbsearch.env");
  scratch.Write("kbsearch.env",
                "Index = off\nIndexLimit = 17179869184G\nhistory = off # secret\nOrder = hits\n");
  Settings kept = read();
  EXPECT_TRUE(kept.use_index);
  EXPECT_EQ(kept.index_limit, Settings().index_limit);
  EXPECT_TRUE(kept.keep_history);
  EXPECT_EQ(kept.results.order, ResultsOrder::kHits);
  ASSERT_EQ(problems.size(), 3u);
  EXPECT_EQ(problems[2].Describe(),
            "kbsearch.env, line 3: \"history\" is the user's to set, not the knowledge base's");

  // A link is not read, wherever it points.
  scratch.Write("elsewhere.env", "Order = hits\n");
  std::filesystem::remove(scratch / "kbsearch.env");
  std::filesystem::create_symlink(scratch / "elsewhere.env", scratch / "kbsearch.env");
  EXPECT_EQ(read().results.order, ResultsOrder::kName);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].Describe(), "kbsearch.env: is a symbolic link, which is not read");
  std::filesystem::current_path(previous);
}

TEST(SettingsFileTest, TheFirstFileFoundIsReadAndTroubleIsReported) {
  testing::ScratchDirectory scratch;
  const std::string missing = scratch / "missing.env";
  const std::string second = scratch.Write("second.env", "Match = text\nCaseFolding = odd\n");
  const std::string third = scratch.Write("third.env", "CaseFolding = unicode\n");

  const Outcome first = Read({{missing, second, third}});
  EXPECT_EQ(first.read, second);
  EXPECT_EQ(first.settings.match.mode, MatchMode::kText);
  EXPECT_EQ(first.settings.match.case_folding, CaseFolding::kAscii);
  EXPECT_EQ(
      first.problems,
      (std::vector<SettingsProblem>{{second, 2, "CaseFolding is ascii or unicode, not \"odd\""}}));

  // A file named by the environment must be there; one that cannot be read, or is far too
  // large for a settings file, leaves every default.
  std::filesystem::create_directory(scratch / "folder.env");
  const std::string large = scratch.Write("large.env", std::string(70'000, '#'));
  Outcome untouched;
  for (const SettingsPlaces& places :
       {SettingsPlaces{{missing}, true}, SettingsPlaces{{scratch / "folder.env", third}},
        SettingsPlaces{{large}}}) {
    untouched = Read(places);
    EXPECT_EQ(untouched.read, "");
    EXPECT_EQ(untouched.settings.match.case_folding, CaseFolding::kAscii);
    ASSERT_EQ(untouched.problems.size(), 1u);
    EXPECT_EQ(untouched.problems[0].line, 0);
    EXPECT_EQ(untouched.problems[0].file, places.paths[0]);
  }
  EXPECT_EQ(untouched.problems[0].Describe(),
            large + ": is larger than 64 KB, too large for a settings file");

  const Outcome none = Read({{missing}});
  EXPECT_EQ(none.read, "");
  EXPECT_TRUE(none.problems.empty()) << "no file anywhere means the defaults";
}

TEST(SettingsFileTest, AQuoteOpenedAndNotClosedIsAProblem) {
  const auto [settings, problems, _] = Parsed(
      "Error5 = \"Cannot open : \nError6 = \"\nError2 = \" kept \"\nError3 = a \"b\"\n", "kb.env");
  EXPECT_EQ(problems,
            (std::vector<SettingsProblem>{{"kb.env", 1, "the closing double quote is missing"},
                                          {"kb.env", 2, "the closing double quote is missing"}}));
  EXPECT_EQ(settings.texts.Of(*ErrorMessageText(2)), " kept ");
  EXPECT_EQ(settings.texts.Of(*ErrorMessageText(3)), "a \"b\"");
}

// Nothing the user did not name is reported when it cannot even be looked for: a default
// place behind a folder the user may not search (another user's home, under a HOME that
// sudo -u left) passes over as a missing file does. A named file is always reported, and
// the null device means the defaults.
TEST(SettingsFileTest, ADefaultPlaceTheUserMayNotSearchIsPassedOver) {
  testing::ScratchDirectory scratch;
  const std::string unreachable = scratch / "home/.config/kbsearch/kbsearch.env";
  const std::string system = scratch.Write("system.env", "Match = text\n");
  // A folder on the way refuses the search: the open and the look at the path alike.
  const auto refuse_search = [&](platform::testing::FaultyEnv& env) {
    env.FailNth(platform::Operation::kOpen, 1, EACCES, "home");
    env.FailNth(platform::Operation::kPathStatus, 1, EACCES, "home");
  };
  platform::testing::FaultyEnv unsearchable, unsearchable_named, unreadable;
  refuse_search(unsearchable);
  const Outcome passed_over = Read({{unreachable, system}}, unsearchable);
  EXPECT_EQ(passed_over.read, system);
  EXPECT_TRUE(passed_over.problems.empty());
  EXPECT_EQ(passed_over.settings.match.mode, MatchMode::kText);
  refuse_search(unsearchable_named);
  EXPECT_EQ(Read({{unreachable}, true}, unsearchable_named).problems.size(), 1u)
      << "a named file that cannot be reached is reported";
  // The file is there, and the folder searchable, but the file refuses to be read.
  unreadable.FailNth(platform::Operation::kOpen, 1, EACCES, "system");
  const Outcome refused = Read({{system}}, unreadable);
  EXPECT_EQ(refused.read, "");
  ASSERT_EQ(refused.problems.size(), 1u);
  EXPECT_EQ(refused.problems[0].Describe(),
            system + ": could not be read (error 5, Access Denied)");
  for (const bool named : {true, false}) {
    const Outcome null_device = Read({{"/dev/null", system}, named});
    EXPECT_EQ(null_device.read, "/dev/null");
    EXPECT_TRUE(null_device.problems.empty());
    EXPECT_EQ(null_device.settings.match.mode, MatchMode::kBytes);
    // Another device is no settings file.
    const Outcome zero = Read({{"/dev/zero"}, named});
    EXPECT_EQ(zero.read, "");
    EXPECT_EQ(zero.problems.size(), 1u);
  }
}

TEST(SettingsFileTest, TheManualPageListsEveryKey) {
  const std::string page = testing::ReadAll(KBSEARCH_SETTINGS_PAGE);
  // The key as a word of its own: Error5 is not found in Error50.
  const auto names = [&page](std::string_view key) {
    const auto in_word = [](char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; };
    for (std::size_t at = page.find(key); at != std::string::npos; at = page.find(key, at + 1)) {
      const std::size_t end = at + key.size();
      if ((at == 0 || !in_word(page[at - 1])) && (end == page.size() || !in_word(page[end]))) {
        return true;
      }
    }
    return false;
  };
  std::vector<std::string> keys = ProgramTextKeys();
  keys.insert(keys.end(),
              {"CaseFolding", "IgnoreAccents", "CasePairs", "Match", "Query", "Results", "Order",
               "Index", "IndexLimit", "History", "Articles", "Exclude", "Page"});
  for (const std::string& key : keys) EXPECT_TRUE(names(key)) << key;
}

// The user's own file for a knowledge base, named after its path, is read after the knowledge
// base's file, within the same keys, and never through a link.
TEST(SettingsFileTest, TheUsersFileForAKnowledgeBaseIsReadAfterItsOwn) {
  EXPECT_EQ(KnowledgeBaseSettingsName("/usr/share/doc/python3.11/html"),
            "%2Fusr%2Fshare%2Fdoc%2Fpython3.11%2Fhtml.env");
  EXPECT_EQ(KnowledgeBaseSettingsName("/a b/%\xE9"), "%2Fa%20b%2F%25%E9.env");
  EXPECT_EQ(KnowledgeBaseSettingsName(std::string("/").append(251, 'a')), "");
  EXPECT_EQ(KnowledgeBaseSettingsPath(
                [](std::string_view name) {
                  return name == "HOME" ? std::optional<std::string>("/home/u") : std::nullopt;
                },
                "/kb"),
            "/home/u/.config/kbsearch/kb/%2Fkb.env");

  testing::ScratchDirectory scratch;
  std::filesystem::create_directories(scratch.path() / "kb");
  std::filesystem::create_directories(scratch.path() / "config" / "kbsearch" / "kb");
  const std::optional<std::string> folder = platform::CanonicalPath(scratch / "kb");
  ASSERT_TRUE(folder);
  const std::string users = scratch / ("config/kbsearch/kb/" + KnowledgeBaseSettingsName(*folder));
  scratch.Write("kb/kbsearch.env", "Marker = <main>\nOrder = hits\n");
  scratch.Write(users.substr(scratch.path().string().size() + 1),
                "Marker = body\nIgnore = nav\nIndex = off\n");
  const char* const config_home = std::getenv("XDG_CONFIG_HOME");
  const std::optional<std::string> kept_home =
      config_home ? std::optional<std::string>(config_home) : std::nullopt;
  setenv("XDG_CONFIG_HOME", (scratch / "config").c_str(), 1);
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path() / "kb");
  const auto read = [&](std::vector<SettingsProblem>& problems) {
    Settings settings;
    ReadKnowledgeBaseSettings(platform::Env::Default(), settings, problems);
    return settings;
  };
  std::vector<SettingsProblem> problems;
  Settings settings = read(problems);
  EXPECT_EQ(settings.match.article.marker, "body");
  EXPECT_EQ(settings.match.article.ignore, std::vector<std::string>{"nav"});
  EXPECT_EQ(settings.results.order, ResultsOrder::kHits);
  EXPECT_TRUE(settings.use_index);
  EXPECT_EQ(problems, (std::vector<SettingsProblem>{
                          {users, 3, "\"Index\" is the user's to set, not the knowledge base's"}}));
  std::filesystem::rename(users, scratch / "elsewhere.env");
  std::filesystem::create_symlink(scratch / "elsewhere.env", users);
  problems.clear();
  EXPECT_EQ(read(problems).match.article.marker, "<main>");
  EXPECT_EQ(problems,
            (std::vector<SettingsProblem>{{users, 0, "is a symbolic link, which is not read"}}));
  std::filesystem::current_path(previous);
  if (kept_home) {
    setenv("XDG_CONFIG_HOME", kept_home->c_str(), 1);
  } else {
    unsetenv("XDG_CONFIG_HOME");
  }
}

}  // namespace
}  // namespace kb
