// Runs the built kbsearch-cli on knowledge bases made in temporary directories and checks the
// whole results page, the output and the exit status.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <map>
#include <nlohmann/json.hpp>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "app/page/excerpt_text.h"
#include "cli/json_lines.h"
#include "files/access_mode.h"
#include "files/block_file.h"
#include "files/text_line_file.h"
#include "support/error_state/error_state.h"
#include "support/testing/rounds.h"
#include "support/testing/scratch_directory.h"
#include "support/text/utf8.h"

namespace kb {
namespace {

namespace fs = std::filesystem;
using kb::testing::Quote;
using kb::testing::ReadAll;
using kb::testing::WriteFile;
using namespace std::string_literals;

constexpr std::string_view kMarker = "<!-- Article starts -->";

// Lines joined with CR LF after each.
std::string CrLfLines(std::initializer_list<std::string_view> lines) {
  std::string text;
  for (std::string_view line : lines) text.append(line).append("\r\n");
  return text;
}

struct Row {
  std::string link_line;
  std::string excerpt_line;
};

// The results page as it must come out: the fixed lines written here independently.
std::string ExpectedPage(std::string_view header, const std::string& summary_line,
                         const std::vector<Row>& rows, std::string_view footer) {
  std::string page(header);
  page += CrLfLines({R"(<table bgcolor="#CDC5B6" border="0" cellpadding="4" width="100%">)",
                     R"(<tr><td><font face="Verdana,Arial" size="3">)", summary_line,
                     "</font></td></tr></table>",
                     R"(<table bgcolor="#FEFF91" border="1" cellpadding="4" width="100%">)"});
  for (const Row& row : rows) {
    page += CrLfLines({row.link_line, R"(<td><left><font face="Verdana,Arial" size="2"><pre>)",
                       row.excerpt_line, "</pre></font></td></tr>"});
  }
  page += CrLfLines({"</table>"});
  return page + std::string(footer);
}

std::string Summary(int count, std::string_view phrase) {
  return "<b><u>Search found " + std::to_string(count) + " pages matching \"" +
         std::string(phrase) + "\"</u></b><br>";
}

std::string Link(std::string_view href, std::string_view text) {
  return R"(<tr><td><a href=")" + std::string(href) + R"(">)" + std::string(text) + "</a></td>";
}

struct CliRun {
  int status;
  std::string out;
  std::string err;
};

class CliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
    root_ = fs::temp_directory_path() / ("kbsearch-cli-" + std::string(test->name()) + "-" +
                                         std::to_string(std::random_device{}()));
    fs::remove_all(root_);
    kb_ = root_ / "kb";
    fs::create_directories(kb_ / "ZEB");
    fs::create_directories(root_ / "bin");
    WriteFile(kb_ / "lheader.htm", kHeader);
    WriteFile(kb_ / "lfooter.htm", kFooter);
    // The programs run see no settings file of the user's or the system's, only the test's.
    unsetenv("KBSEARCH_ENV");
    setenv("XDG_CONFIG_HOME", (root_ / "config").c_str(), 1);
    setenv("XDG_CONFIG_DIRS", (root_ / "system-config").c_str(), 1);
    // Nor any article index but the test's, nor any runtime folder.
    setenv("XDG_CACHE_HOME", (root_ / "cache").c_str(), 1);
    fs::create_directories(root_ / "runtime");
    fs::permissions(root_ / "runtime", fs::perms::owner_all);
    setenv("XDG_RUNTIME_DIR", (root_ / "runtime").c_str(), 1);
  }
  void TearDown() override {
    fs::permissions(root_, fs::perms::owner_all, fs::perm_options::add);
    fs::remove_all(root_);
  }

  void Article(std::string_view name, std::string_view bytes) {
    WriteFile(kb_ / "ZEB" / std::string(name), bytes);
  }

  // Runs kbsearch-cli with `arguments` (already quoted for the shell) on the knowledge base,
  // with only the test's bin directory on PATH. `prelude` runs first in the same shell.
  CliRun Cli(std::string_view arguments, std::string_view prelude = "",
             std::string_view program = KBSEARCH_CLI) {
    const std::string command = std::string(prelude) + "\n" + CliCommand(program, arguments, "");
    EXPECT_EQ(std::system(command.c_str()), 0);
    return Outcome("");
  }

  // Runs kbsearch-cli-faulty, whose file system fails the calls `faults` names (as its
  // KBSEARCH_FAULTS).
  CliRun FaultyCli(std::string_view faults, std::string_view arguments) {
    return Cli(arguments, "export KBSEARCH_FAULTS=" + Quote(faults), KBSEARCH_CLI_FAULTY);
  }

  // A shell command that runs `program`, its output and exit status going to files named
  // with `tag` (read back by Outcome).
  std::string CliCommand(std::string_view program, std::string_view arguments,
                         std::string_view tag) {
    const std::string base = (root_ / "run").string() + std::string(tag);
    return "PATH=" + Quote((root_ / "bin").string()) + " " + Quote(program) + " -C " +
           Quote(kb_.string()) + " " + std::string(arguments) + " >" + Quote(base + ".out") +
           " 2>" + Quote(base + ".err") + "; echo $? >" + Quote(base + ".status");
  }

  CliRun Outcome(std::string_view tag) {
    const std::string base = (root_ / "run").string() + std::string(tag);
    return {std::stoi(ReadAll(base + ".status")), ReadAll(base + ".out"), ReadAll(base + ".err")};
  }

  // The names in the knowledge base's folder that a page replacement leaves behind.
  std::vector<std::string> HiddenFiles() {
    std::vector<std::string> hidden;
    for (const fs::directory_entry& entry : fs::directory_iterator(kb_)) {
      const std::string name = entry.path().filename().string();
      if (name.starts_with(".")) hidden.push_back(name);
    }
    return hidden;
  }

  std::string Page() { return ReadAll(kb_ / "ZebResult.htm"); }

  // An opener that records its arguments and working directory.
  void InstallRecordingOpener() {
    const fs::path opener = root_ / "bin" / "xdg-open";
    WriteFile(opener,
              "#!/bin/sh\n"
              "printf '%s|' \"$@\" \"$(/bin/pwd)\" > " +
                  Quote((root_ / "opened.tmp").string()) + "\n/bin/mv " +
                  Quote((root_ / "opened.tmp").string()) + " " +
                  Quote((root_ / "opened").string()) + "\n");
    fs::permissions(opener, fs::perms::owner_all);
  }

  std::string WhatWasOpened() {
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!fs::exists(root_ / "opened") && std::chrono::steady_clock::now() < limit) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return ReadAll(root_ / "opened");
  }

  static constexpr std::string_view kHeader =
      "<!DOCTYPE html>\r\n<html><body>  \r\n\r\n<h1>Results</h1>\r\n";
  static constexpr std::string_view kPageHeader =
      "<!DOCTYPE html>\r\n<html><body>\r\n\r\n<h1>Results</h1>\r\n";
  static constexpr std::string_view kFooter = "</body></html>\r\n";

  fs::path root_;
  fs::path kb_;
};

// The page as a whole: the excerpt shown as text, the name as a link (each step is tested on
// its own in app/page). Articles and templates that may only be read are read.
TEST_F(CliTest, TypicalSearchFindsOneOfThreeArticles) {
  Article("ZEB1.htm", "<title>Mail</title>\r\n<!-- Article starts -->\r\nSending mail.\r\n");
  Article("ZEB2 a#b%c.htm",
          "<title>Printer setup</title>\r\n<!-- Article starts -->\r\nTo set up the <b>PRINTER\""
          "</b>, open Settings &amp; <i>more</i>.\r\n");
  Article("ZEB3.htm", "<title>Printers</title>\r\nno marker here: printer setup\r\n");
  for (const char* read_only : {"ZEB/ZEB2 a#b%c.htm", "lheader.htm", "lfooter.htm"}) {
    fs::permissions(kb_ / read_only, fs::perms::owner_read | fs::perms::group_read);
  }

  const CliRun run = Cli("'printer setup'");

  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "./ZEB/ZEB2 a#b%c.htm\n");
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Page(),
            ExpectedPage(kPageHeader, Summary(1, "PRINTER SETUP"),
                         {{Link("./ZEB/ZEB2%20a%23b%25c.htm", "./ZEB/ZEB2 a#b%c.htm"),
                           "\r\nTo set up the PRINTER&quot;, open Settings &amp; more.\r\n"}},
                         kFooter));
}

// A documentation tree searched where it lies: its sub-folders in order, what it excludes,
// hidden files and a link that leads out left out; the page's links are the paths, and
// without templates of its own the page has plain ones. A page placed elsewhere links to the
// articles by their URLs.
TEST_F(CliTest, ATreeOfArticlesIsSearchedWhereItLies) {
  fs::remove(kb_ / "lheader.htm");
  fs::remove(kb_ / "lfooter.htm");
  const std::string_view found = "<!-- Article starts -->printer";
  for (const char* path : {"index.html", "b/z.html", "b/a.html", "a b/\xe9.html", "genindex.html",
                           "_modules/m.html", ".hidden/h.html", "b/.h.html"}) {
    fs::create_directories((kb_ / path).parent_path());
    WriteFile(kb_ / path, found);
  }
  WriteFile(root_ / "outside.html", found);
  fs::create_symlink(root_ / "outside.html", kb_ / "b" / "out.html");
  fs::create_symlink(kb_ / "b" / "a.html", kb_ / "link.html");
  WriteFile(kb_ / "kbsearch.env", "Articles = **/*.html\nExclude = _modules/**, genindex.html\n");

  const CliRun run = Cli("printer");

  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "./index.html\n./link.html\n./a b/\xe9.html\n./b/a.html\n./b/z.html\n");
  EXPECT_EQ(run.err, "");
  EXPECT_NE(Page().find(Link("./a%20b/%E9.html", "./a b/\xe9.html")), std::string::npos);
  EXPECT_TRUE(Page().starts_with("<!DOCTYPE html>\r\n")) << Page();

  const std::string placed = (root_ / "placed.htm").string();
  EXPECT_EQ(Cli("--page " + Quote(placed) + " printer").status, 0);
  const std::string url = "file://" + kb_.string() + "/a%20b/%E9.html";
  EXPECT_NE(ReadAll(placed).find(Link(url, "./a b/\xe9.html")), std::string::npos)
      << ReadAll(placed);

  // The index holds the tree's articles, and a search uses it, with the same results.
  EXPECT_EQ(Cli("--index").status, 0);
  const CliRun indexed = Cli("-l --json printer");
  EXPECT_NE(indexed.out.find(R"("index":{"state":"used","reason":null})"), std::string::npos)
      << indexed.out;
  EXPECT_EQ(Cli("-l printer").out, run.out);

  // The options override the settings.
  EXPECT_EQ(Cli("-l --articles 'b/*.html' --exclude 'b/z*' printer").out, "./b/a.html\n");

  // A pattern that leads out of the folder is refused before anything is searched.
  const CliRun refused = Cli("--articles '../*.html' printer");
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_NE(refused.err.find("it holds the folder .."), std::string::npos) << refused.err;
}

TEST_F(CliTest, WithoutArticleFilesNoPageIsTouched) {
  WriteFile(kb_ / "ZebResult.htm", "old page");
  Article("other.htm", "printer <!-- Article starts -->");
  fs::create_directory(kb_ / "ZEB" / "ZEB-dir.htm");

  CliRun run = Cli("printer --open");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_EQ(Page(), "old page");

  // Without a folder ZEB (or with a link to nothing in its place) the knowledge base has no
  // articles, which is worth saying.
  for (const bool dangling_link : {false, true}) {
    fs::remove_all(kb_ / "ZEB");
    if (dangling_link) fs::create_directory_symlink(root_ / "nowhere", kb_ / "ZEB");
    run = Cli("printer --json");
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "kbsearch-cli: no ZEB folder in " + kb_.string() + "\n");
    EXPECT_TRUE(
        run.out.starts_with(R"({"type":"error","data":{"message":{"text":"no ZEB folder in )" +
                            kb_.string() + R"("},"code":3,"path":{"text":"./ZEB"}}})" + "\n"))
        << run.out;
    EXPECT_EQ(Page(), "old page");
  }
  const std::string in_place = "cd " + Quote(kb_.string()) + " && " + Quote(KBSEARCH_CLI) +
                               " printer 2>" + Quote((root_ / "err").string());
  EXPECT_EQ(WEXITSTATUS(std::system(in_place.c_str())), 2);
  EXPECT_EQ(ReadAll(root_ / "err"), "kbsearch-cli: no ZEB folder in the current directory\n");
}

TEST_F(CliTest, NoMatchOrAnEmptyPhraseLeavesAZeroBytePage) {
  WriteFile(kb_ / "ZebResult.htm", "old page");
  Article("ZEB1.htm", "<!-- Article starts -->Nothing to see.");

  CliRun run = Cli("scanner");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out + run.err, "");
  EXPECT_TRUE(fs::exists(kb_ / "ZebResult.htm"));
  EXPECT_EQ(Page(), "");

  WriteFile(kb_ / "ZebResult.htm", "old page");
  run = Cli("''");
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(Page(), "");
}

// Words, from --query or the knowledge base's own settings file: every word where a word
// starts, none that is excluded; a text that is no query is trouble and writes no page.
TEST_F(CliTest, WordsFindArticlesHoldingThemAllAndATextThatIsNoQueryIsTrouble) {
  WriteFile(kb_ / "ZebResult.htm", "old page");
  Article("ZEB1.htm", "<!-- Article starts -->Join the thread once spawned.");
  Article("ZEB2.htm", "<!-- Article starts -->rejoin the thread, spawn it");
  Article("ZEB3.htm", "<!-- Article starts -->joining a spawned thread, then sleep");

  CliRun run = Cli("-l --query words 'spawn join'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "./ZEB/ZEB1.htm\n./ZEB/ZEB3.htm\n");
  EXPECT_EQ(Cli("-l --query words -- 'spawn join -sleep'").out, "./ZEB/ZEB1.htm\n");
  EXPECT_EQ(Cli("-l 'spawn join'").status, 1);  // a phrase by default

  WriteFile(kb_ / "kbsearch.env", "Query = words\n");
  run = Cli("'\"the thread\" join'");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.out, "./ZEB/ZEB1.htm\n");
  EXPECT_EQ(Cli("-l --query phrase 'the thread'").out, "./ZEB/ZEB1.htm\n./ZEB/ZEB2.htm\n");

  fs::remove(kb_ / "ZebResult.htm");
  for (const auto& [text, message] :
       {std::pair{"-- -spawn", "no word to look for"}, {"'join \"the'", "double quote"}}) {
    run = Cli(text);
    EXPECT_EQ(run.status, 2) << text;
    EXPECT_EQ(run.out, "") << text;
    EXPECT_NE(run.err.find(message), std::string::npos) << run.err;
  }
  EXPECT_FALSE(fs::exists(kb_ / "ZebResult.htm"));
  run = Cli("--query all join");
  EXPECT_EQ(run.status, 2);
  EXPECT_TRUE(run.err.starts_with("kbsearch-cli: --query takes phrase or words, not 'all'\n"));
}

TEST_F(CliTest, LongLinesAndPathsAreNeverCut) {
  // The longest name a file may have; its path cut at 255 bytes would name the decoy.
  const std::string name = "ZEB" + std::string(248, 'n') + ".htm";
  Article(name, "<!-- Article starts -->" + std::string(300, 'e'));
  Article(("./ZEB/" + name).substr(6, 249), "<!-- Article starts -->EEE decoy");
  // A 3 MB header whose lines end in LF alone, with an inline script at its very end, and a
  // 200 KB footer whose lines end in CR alone: each is one line of the template, and reaches
  // the page byte for byte.
  std::string header;
  for (int line = 0; header.size() < 3'000'000; ++line) {
    header += "<p>line " + std::to_string(line) + std::string(60, 'h') + "</p>\n";
  }
  header += "<script>let shown = 1;</script>";
  std::string footer;
  while (footer.size() < 200'000) footer += "<p>" + std::string(90, 'f') + "</p>\r";
  WriteFile(kb_ / "lheader.htm", header);
  WriteFile(kb_ / "lfooter.htm", footer);

  const CliRun run = Cli("EEE");

  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  const std::string path = "./ZEB/" + name;
  EXPECT_EQ(run.out, path + "\n");
  EXPECT_TRUE(Page() == ExpectedPage(header + "\r\n", Summary(1, "EEE"),
                                     {{Link(path, path), std::string(201, 'e')}}, footer + "\r\n"));
}

// The settings come from, each over the one before: the user's file (or the one KBSEARCH_ENV
// or --settings names), the knowledge base's own file, the options. A problem in the user's
// file is trouble; what the knowledge base's may not set is only reported. A file that
// --settings names must be there.
TEST_F(CliTest, SettingsComeFromTheFilesAndTheOptionsInTurn) {
  Article("ZEB1.htm", "<p>caf\xE9 <b>au</b>\r\nlait</p><!-- Article starts -->in the text");
  Article("ZEB2.htm", "<!-- Article starts -->CAF\xC9 au lait in the bytes");
  const fs::path user_settings = root_ / "config" / "kbsearch" / "kbsearch.env";
  fs::create_directories(user_settings.parent_path());
  WriteFile(user_settings, "Match = text\nCasePairs = E9C9\nColour = blue\n");
  const std::string bytes_settings = (root_ / "bytes.env").string();
  WriteFile(bytes_settings, "Match = bytes\nCasePairs = E9C9\n");
  const std::string phrase = Quote("caf\xE9 au lait");
  const std::string both = "./ZEB/ZEB1.htm\n./ZEB/ZEB2.htm\n";
  const std::string in_bytes = "./ZEB/ZEB2.htm\n";

  CliRun run = Cli(phrase);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, both);
  EXPECT_EQ(run.err, "kbsearch-cli: Problem in the settings file: " + user_settings.string() +
                         ", line 3: unknown key \"Colour\"\n");
  EXPECT_NE(Page().find(Summary(2, "CAF\xC9 AU LAIT")), std::string::npos);
  EXPECT_EQ(Cli("--match=bytes --fold unicode " + phrase).out, "");
  const std::string named = "export KBSEARCH_ENV=" + Quote(bytes_settings);
  EXPECT_EQ(Cli(phrase, named).out, in_bytes);
  EXPECT_EQ(Cli("--settings " + Quote(user_settings.string()) + " " + phrase, named).out, both);

  WriteFile(kb_ / "kbsearch.env", "Match = text\nResults = snippets\nSearchButton = Go\n");
  const std::string refused =
      "kbsearch-cli: Problem in the knowledge base's settings file: kbsearch.env, line 3: "
      "\"SearchButton\" is the user's to set, not the knowledge base's\n";
  run = Cli(phrase, named);
  EXPECT_EQ(run.status, 0) << "a problem in the knowledge base's file is no trouble";
  EXPECT_EQ(run.out, both);
  EXPECT_EQ(run.err, refused);
  EXPECT_NE(Page().find("kb-snippet"), std::string::npos);
  EXPECT_NE(Cli("--json " + phrase, named).out.find(R"("snippets":[{")"), std::string::npos);
  run = Cli("--no-kb-settings " + phrase, named);
  EXPECT_EQ(run.out, in_bytes);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(Page().find("kb-snippet"), std::string::npos);
  run = Cli("--match bytes --results classic " + phrase, named);
  EXPECT_EQ(run.out, in_bytes);
  EXPECT_EQ(run.err, refused);
  EXPECT_EQ(Page().find("kb-snippet"), std::string::npos);

  const std::string missing = (root_ / "missing.env").string();
  run = Cli("--json --no-kb-settings --settings=" + Quote(missing) + " " + phrase);
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "kbsearch-cli: Problem in the settings file: " + missing +
                         ": could not be read (error 2, File Not Found)\n");
  EXPECT_TRUE(run.out.starts_with(
      R"({"type":"error","data":{"message":{"text":"Problem in the settings file: )" + missing +
      R"x(: could not be read (error 2, File Not Found)"},"code":0,"path":{"text":")x" + missing +
      "\"}}}\n"))
      << run.out;
  // Building the index, the same problem is said the same way.
  const CliRun indexing = Cli("--index --json --no-kb-settings --settings=" + Quote(missing));
  EXPECT_EQ(indexing.status, 2);
  EXPECT_EQ(indexing.err, run.err);
  EXPECT_EQ(indexing.out.substr(0, indexing.out.find('\n')), run.out.substr(0, run.out.find('\n')));
  EXPECT_NE(indexing.out.find(R"("type":"summary")"), std::string::npos);
}

// The part of each page that is the article, from the knowledge base's settings or the
// options: only it is searched, with and without the index, and it gives the excerpt.
TEST_F(CliTest, MarkerAndIgnoreChooseThePartOfThePageSearched) {
  Article("ZEB1.htm",
          "<body><nav>Show Source</nav><main>Open &amp; shut <div class=side>Show Source"
          "</div>case</main>");
  Article("ZEB2.htm", "<body><main>Show <i>Source</i> here</main>");
  Article("ZEB3.htm", "<body>Show Source without the marker");
  WriteFile(kb_ / "kbsearch.env", "Marker = <main>\nIgnore = nav, .side\nMatch = text\n");
  for (const char* index : {"--no-index", ""}) {
    const CliRun run = Cli(std::string(index) + " --json 'Show Source'");
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out.find("ZEB1"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find(R"("excerpt":{"text":"Show Source here"})"), std::string::npos)
        << run.out;
    EXPECT_EQ(run.out.find("ZEB3"), std::string::npos) << run.out;
    EXPECT_EQ(Cli("-l --no-index 'Open & shut case'").out, "./ZEB/ZEB1.htm\n");
    EXPECT_EQ(Cli("--index").status, 0);
  }
  EXPECT_NE(Cli("--json shut").out.find(R"("excerpt":{"text":"Open &amp; shut case"})"),
            std::string::npos);
  // The options override the file; Ignore is refused where the bytes are searched.
  EXPECT_EQ(Cli("-l --marker body --ignore= 'Show Source'").out,
            "./ZEB/ZEB1.htm\n./ZEB/ZEB2.htm\n./ZEB/ZEB3.htm\n");
  const CliRun bytes = Cli("-l --match bytes 'Show Source'");
  EXPECT_EQ(bytes.status, 2);
  EXPECT_NE(bytes.err.find("Ignore leaves elements out of the articles' text"), std::string::npos);
  EXPECT_EQ(Cli("-l --match bytes --ignore '' '<i>Source'").out, "./ZEB/ZEB2.htm\n");
}

// --init says what it wrote; a second one writes nothing, and says why.
TEST_F(CliTest, InitWritesTheSettingsOnceAndSaysWhere) {
  const std::string folder = fs::canonical(kb_).string();
  CliRun run = Cli("--init sphinx");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.out, "wrote " + folder + "/kbsearch.env\n");
  EXPECT_NE(ReadAll(kb_ / "kbsearch.env").find("\nMarker = <div class=\"body\" role=\"main\">\n"),
            std::string::npos);
  run = Cli("--init");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "");
  EXPECT_EQ(run.err,
            "kbsearch-cli: " + folder + "/lheader.htm is there already: nothing was written\n");
}

TEST_F(CliTest, MissingTemplatesAreReportedAndLeftOut) {
  Article("ZEB1.htm", "<!-- Article starts -->text");
  const std::string page_without_templates = ExpectedPage(
      "", Summary(1, "TEXT"), {{Link("./ZEB/ZEB1.htm", "./ZEB/ZEB1.htm"), "text"}}, "");

  fs::remove(kb_ / "lfooter.htm");
  CliRun run = Cli("text");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "./ZEB/ZEB1.htm\n");
  EXPECT_EQ(run.err, "kbsearch-cli: Can not open the Footer file: 2, File Not Found\n");
  EXPECT_EQ(Page(), std::string(kPageHeader) + page_without_templates);
  run = Cli("--json text");
  EXPECT_TRUE(run.out.starts_with(
      R"({"type":"error","data":{"message":{"text":"Can not open the Footer file: 2, File Not )"
      R"(Found"},"code":2,"path":{"text":"lfooter.htm"}}})"
      "\n"))
      << run.out;

  // Without a header the footer is not read even when it is there.
  WriteFile(kb_ / "lfooter.htm", kFooter);
  fs::remove(kb_ / "lheader.htm");
  run = Cli("text");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "kbsearch-cli: Can not open the header file: 2, File Not Found\n");
  EXPECT_EQ(Page(), page_without_templates);
}

// The page the search for "old" writes, which every failed search below must leave as it is,
// and a knowledge base whose page for "W" is large enough to take several writes.
class PageReplacementTest : public CliTest {
 protected:
  void SetUp() override {
    CliTest::SetUp();
    std::string header;
    for (int i = 0; i < 4000; ++i) header += "<p>" + std::string(80, 'h') + "</p>\r\n";
    WriteFile(kb_ / "lheader.htm", header);
    for (int i = 0; i < 40; ++i) {
      Article("ZEB" + std::to_string(i) + ".htm",
              "<!-- Article starts -->" + std::string(200, 'w'));
    }
    Article("ZEBold.htm", "<!-- Article starts -->old w");
    EXPECT_EQ(Cli("old").status, 0);
    old_page_ = Page();
  }

  // Expects `run` to have failed with `message` and left the old page whole and nothing else.
  void ExpectOldPageKept(const CliRun& run, std::string_view message) {
    EXPECT_EQ(run.status, 2);
    EXPECT_EQ(run.err, "kbsearch-cli: " + std::string(message) + "\n");
    EXPECT_TRUE(Page() == old_page_) << "the old page changed";
    EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
  }

  std::string old_page_;
};

constexpr std::string_view kUnwritten = "Can not write the results file.  Error returned: ";
constexpr std::string_view kUnopened = "Can not create/open the results file.  Error returned: ";

// A failure at any write, at each later step, or at the file size limit: the old page stays
// whole, and the message says what went wrong, in JSON too. (Which error number each
// failure is given is platform's SystemErrorOf test.)
TEST_F(PageReplacementTest, AFailureAtAnyStepLeavesTheOldPageWhole) {
  const std::string enospc = std::to_string(ENOSPC);
  int writes = 0;
  for (CliRun run;
       (run = FaultyCli("write:" + std::to_string(writes + 1) + ":" + enospc, "W")).status != 0;
       ++writes) {
    ExpectOldPageKept(run, std::string(kUnwritten) + "339, Handle Disk Full");
    ASSERT_LT(writes, 100);
  }
  EXPECT_GT(writes, 5) << "the page should take several writes";
  EXPECT_GT(Page().size(), 300'000u);
  EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
  EXPECT_EQ(Cli("old").status, 0);

  struct Case {
    std::string faults;
    std::string message;
  };
  const std::string hidden = ":.ZebResult.htm.";
  for (const Case& c : {
           Case{"write:1:" + std::to_string(EIO), "329, Write Fault"},
           Case{"close:1:" + std::to_string(ENOSPC) + hidden, "339, Handle Disk Full"},
           Case{"rename:1:" + std::to_string(EIO), "329, Write Fault"},
           Case{"rename:1:" + std::to_string(EACCES), "5, Access Denied"},
       }) {
    SCOPED_TRACE(c.faults);
    ExpectOldPageKept(FaultyCli(c.faults, "W"), std::string(kUnwritten) + c.message);
  }
  ExpectOldPageKept(FaultyCli("open:1:" + std::to_string(EACCES) + hidden, "W"),
                    std::string(kUnopened) + "5, Access Denied");
  ExpectOldPageKept(Cli("W", "ulimit -f 64"), std::string(kUnwritten) + "339, Handle Disk Full");

  const CliRun json = FaultyCli("rename:1:" + std::to_string(EIO), "--json W");
  EXPECT_NE(
      json.out.find(R"({"type":"error","data":{"message":{"text":")" + std::string(kUnwritten) +
                    R"(329, Write Fault"},"code":329,"path":{"text":"./ZebResult.htm"}}})"
                    "\n"),
      std::string::npos)
      << json.out;
}

// What may stand in the page's place is the file replacement's test; here, the message.
TEST_F(PageReplacementTest, APageHeldByAnotherProgramIsNeitherReplacedNorWritten) {
  TextLineFile holder({});
  holder.name().Assign((kb_ / "ZebResult.htm").string());
  holder.Open(access_mode::kRead | access_mode::kDenyWrite);
  ASSERT_EQ(ErrorCode(), 0);
  ExpectOldPageKept(Cli("W"), std::string(kUnopened) + "5, Access Denied");
}

TEST_F(PageReplacementTest, TwoSearchesRacingOnOneFolderTakeTurnsAndLeaveOneOfTheirPagesWhole) {
  Article("ZEBa.htm", "<!-- Article starts -->alpha w");
  Article("ZEBb.htm", "<!-- Article starts -->beta w");
  std::string pages[2];
  ASSERT_EQ(Cli("alpha").status, 0);
  pages[0] = Page();
  ASSERT_EQ(Cli("beta").status, 0);
  pages[1] = Page();

  const std::string both = "export KBSEARCH_DELAY_MICROSECONDS=300\n(" +
                           CliCommand(KBSEARCH_CLI_FAULTY, "alpha", "a") + ") & (" +
                           CliCommand(KBSEARCH_CLI_FAULTY, "beta", "b") + ") & wait";
  for (int race = 0, races = testing::Rounds(20, 4); race < races; ++race) {
    WriteFile(kb_ / "ZebResult.htm", "previous");
    ASSERT_EQ(std::system(both.c_str()), 0);
    // They take turns, and both write the page.
    for (const char* tag : {"a", "b"}) EXPECT_EQ(Outcome(tag).status, 0) << Outcome(tag).err;
    const std::string page = Page();
    EXPECT_TRUE(page == pages[0] || page == pages[1]) << "race " << race;
    EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
  }
}

// A knowledge base's own settings file cannot switch off the index, shrink the cache (which
// would remove the user's other indexes) or reach any file through a link: the index is still
// built and used, and another knowledge base's index is kept.
TEST_F(CliTest, TheKnowledgeBaseCannotTurnOffOrEmptyTheUsersIndexes) {
  Article("ZEB1.htm", "<!-- Article starts -->printer");
  const fs::path cache = root_ / "cache" / "kbsearch";
  fs::create_directories(cache);
  fs::permissions(cache, fs::perms::owner_all);
  WriteFile(cache / "0123456789abcdef-8.1-42.db", std::string(4096, 'x'));
  fs::permissions(cache / "0123456789abcdef-8.1-42.db",
                  fs::perms::owner_read | fs::perms::owner_write);
  WriteFile(kb_ / "kbsearch.env", "Index = off\nIndexLimit = 17179869184G\n");
  CliRun run = Cli("--index --json");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(R"("index":{"state":"built")"), std::string::npos) << run.out;
  run = Cli("--json printer");
  EXPECT_NE(run.err.find("\"Index\" is the user's to set"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find(R"("index":{"state":"used")"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::exists(cache / "0123456789abcdef-8.1-42.db"));

  WriteFile(root_ / "elsewhere.env", "Index = off\n");
  fs::remove(kb_ / "kbsearch.env");
  fs::create_symlink(root_ / "elsewhere.env", kb_ / "kbsearch.env");
  run = Cli("--json printer");
  EXPECT_NE(run.out.find(R"("index":{"state":"used")"), std::string::npos) << run.out;
  EXPECT_EQ(run.err,
            "kbsearch-cli: Problem in the knowledge base's settings file: kbsearch.env: is a "
            "symbolic link, which is not read\n");
}

// Cases of two users: the test's own, whose searches may be attacked, and another one, an
// unused uid whose commands run through setpriv. They need root (as the tests run in CI) and
// fail without it.
class OtherUserTest : public CliTest {
 protected:
  static constexpr int kOther = 54321;

  void SetUp() override {
    CliTest::SetUp();
    ASSERT_EQ(geteuid(), 0u) << "running commands as another user needs root";
    // The other user may read the knowledge base, and write in a folder of its own.
    for (const fs::path& folder : {root_, kb_, kb_ / "ZEB"}) {
      fs::permissions(folder, fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
    }
    other_ = root_ / "other";
    timed_cli_ = root_ / "timed-kbsearch-cli";
    fs::create_directories(other_);
    ASSERT_EQ(chown(other_.c_str(), kOther, kOther), 0);
    // kbsearch-cli, killed should it ever hang.
    WriteFile(timed_cli_,
              "#!/bin/sh\nexec /usr/bin/timeout -s KILL 20 " + Quote(KBSEARCH_CLI) + " \"$@\"\n");
    fs::permissions(timed_cli_, fs::perms::owner_all);
    // A build in a folder only its owner may enter (a clone in `mktemp -d`, say) keeps the
    // other user from the programs it runs: nothing to test then, which is said.
    const std::string reach = "setpriv --reuid=" + std::to_string(kOther) +
                              " --regid=" + std::to_string(kOther) + " --clear-groups test -x " +
                              Quote(KBSEARCH_CLI) + " -a -x " + Quote(EXCHANGE_ENTRIES);
    if (std::system(reach.c_str()) != 0) {
      GTEST_SKIP() << "the other user (uid " << kOther << ") cannot run " << KBSEARCH_CLI
                   << ": a folder above the build may be entered by its owner alone";
    }
  }

  // Runs the shell command `command` as the other user, in its folder; in the background, its
  // output goes nowhere.
  void AsOther(const std::string& command, bool in_background = false) {
    const std::string line =
        "cd " + Quote(other_.string()) + " && setpriv --reuid=" + std::to_string(kOther) +
        " --regid=" + std::to_string(kOther) + " --clear-groups sh -c " + Quote(command) +
        (in_background ? " </dev/null >/dev/null 2>&1 &"
                       : " >" + Quote((root_ / "other.out").string()) + " 2>&1");
    ASSERT_EQ(std::system(line.c_str()), 0) << command << "\n" << ReadAll(root_ / "other.out");
  }

  // kbsearch-cli run by the test's user with the cache folder in `cache_home`, killed should
  // it ever hang.
  CliRun CliWithCache(const fs::path& cache_home, std::string_view arguments) {
    return Cli(arguments, "export XDG_CACHE_HOME=" + Quote(cache_home.string()),
               timed_cli_.string());
  }

  // The file names in `folder` with their contents.
  static std::map<std::string, std::string> Contents(const fs::path& folder) {
    std::map<std::string, std::string> contents;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder)) {
      contents[entry.path().filename().string()] =
          entry.is_regular_file() ? ReadAll(entry.path()) : "(not a file)";
    }
    return contents;
  }

  fs::path other_;      // the other user's folder
  fs::path timed_cli_;  // kbsearch-cli, killed should it ever hang
};

// Another user's cache folder, open to all (as on a shared /tmp), holding a log of that
// user's own index of the same knowledge base and a FIFO for a journal: the index is not
// used there, nothing of the search is written there, nothing waits, and the results are
// those of a search without the index.
TEST_F(OtherUserTest, AnotherUsersCacheFolderIsNeitherReadNorWrittenNorWaitedFor) {
  Article("ZEB1.htm", "<!-- Article starts -->printer one");
  Article("ZEB2.htm", "<!-- Article starts -->scanner");
  ASSERT_EQ(Cli("--index").status, 0);
  std::string name;
  for (const fs::directory_entry& entry : fs::directory_iterator(root_ / "cache" / "kbsearch")) {
    if (entry.path().extension() == ".db") name = entry.path().filename().string();
  }
  ASSERT_FALSE(name.empty());

  AsOther("XDG_CACHE_HOME=$PWD/own " + Quote(KBSEARCH_CLI) + " -C " + Quote(kb_.string()) +
          " --index && mkdir -m 0777 shared shared/kbsearch && cp own/kbsearch/" + name +
          " shared/kbsearch/" + name + "-wal && : > shared/kbsearch/" + name +
          "-shm && chmod 0666 shared/kbsearch/* && mkfifo -m 0666 shared/kbsearch/" + name +
          "-journal");
  Article("ZEB2.htm", "<!-- Article starts -->printer two, since");
  const fs::path shared = other_ / "shared";
  const std::map<std::string, std::string> planted = Contents(shared / "kbsearch");

  CliRun run = CliWithCache(shared, "--index --json");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find(R"("reason":"cache not private")"), std::string::npos) << run.out;
  run = CliWithCache(shared, "--json printer");
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(R"("index":{"state":"not used","reason":"cache not private"})"),
            std::string::npos)
      << run.out;
  const CliRun full = Cli("--no-index printer");
  EXPECT_EQ(CliWithCache(shared, "printer").out, full.out);
  EXPECT_EQ(full.out, "./ZEB/ZEB1.htm\n./ZEB/ZEB2.htm\n");
  EXPECT_EQ(Contents(shared / "kbsearch"), planted);
}

// The cache folder, in a folder another user may write, swapped again and again for a link
// to another folder of the user's while the index is built: nothing is ever made in that
// folder, and a link in the cache folder's place is refused.
TEST_F(OtherUserTest, ACacheFolderSwappedForALinkSendsNothingElsewhere) {
  for (int article = 0; article < 300; ++article) {
    Article("ZEB" + std::to_string(article) + ".htm",
            "<!-- Article starts -->printer " + std::string(2000, 'a' + article % 26));
  }
  const fs::path elsewhere = root_ / "elsewhere";
  fs::create_directories(elsewhere);
  fs::permissions(elsewhere, fs::perms::owner_all);
  // The cache folder and a link to the other folder change places, in one step each time, until
  // the test says stop.
  ASSERT_EQ(CliWithCache(other_, "--index").status, 0);
  AsOther("ln -s ../elsewhere bait && " + Quote(EXCHANGE_ENTRIES) + " kbsearch bait " +
              Quote((root_ / "stop").string()) + "; : > swapped",
          /*in_background=*/true);
  for (int build = 0; build < 20; ++build) {
    const CliRun run = CliWithCache(other_, "--index");
    EXPECT_TRUE(run.status == 0 || run.status == 2) << run.err;
  }
  WriteFile(root_ / "stop", "");
  for (int wait = 0; wait < 2000 && !fs::exists(other_ / "swapped"); ++wait) {
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  EXPECT_TRUE(fs::is_empty(elsewhere));

  AsOther("[ -L kbsearch ] || " + Quote(EXCHANGE_ENTRIES) + " kbsearch bait /");
  const CliRun run = CliWithCache(other_, "--index --json");
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.out.find(R"("reason":"cache not private")"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::is_empty(elsewhere));
}

// --open hands the page to the opener in the knowledge base's folder; without an opener,
// that is reported.
TEST_F(CliTest, OpenHandsThePageToTheOpener) {
  Article("ZEB1.htm", "<!-- Article starts -->text");
  CliRun run = Cli("text --open");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.out, "./ZEB/ZEB1.htm\n");
  EXPECT_EQ(run.err, "kbsearch-cli: No program associated with this file\n");
  run = Cli("text --open --json");
  EXPECT_NE(run.out.find(R"({"type":"error","data":{"message":{"text":"No program associated )"
                         R"(with this file"},"code":31,"path":{"text":"./ZebResult.htm"}}})"
                         "\n"),
            std::string::npos)
      << run.out;

  InstallRecordingOpener();
  run = Cli("--open text");
  EXPECT_EQ(run.status, 0);
  EXPECT_EQ(run.err, "");
  EXPECT_EQ(WhatWasOpened(), "./ZebResult.htm|" + kb_.string() + "|");

  // An opener that finds no browser fails, and says so by its exit status.
  WriteFile(root_ / "bin" / "xdg-open", "#!/bin/sh\nexit 3\n");
  fs::permissions(root_ / "bin" / "xdg-open", fs::perms::owner_all);
  run = Cli("--open text");
  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err, "kbsearch-cli: No program associated with this file\n");
}

TEST_F(CliTest, ListWritesNoPageAndReadsNoTemplate) {
  Article("ZEB1.htm", "<!-- Article starts -->listed");
  Article("ZEB2.htm", "<!-- Article starts -->other");
  fs::remove(kb_ / "lheader.htm");
  fs::remove(kb_ / "lfooter.htm");
  // A folder nobody may write to (its owner, root included, writes there all the same:
  // what shows that nothing is written is that nothing is there after).
  fs::permissions(kb_, fs::perms::owner_read | fs::perms::owner_exec);

  for (const char* list : {"-l", "--list"}) {
    const CliRun run = Cli(std::string(list) + " LISTED");
    EXPECT_EQ(run.status, 0) << list;
    EXPECT_EQ(run.out, "./ZEB/ZEB1.htm\n") << list;
    EXPECT_EQ(run.err, "") << list;
  }
  EXPECT_EQ(Cli("-l nothing").status, 1);
  EXPECT_FALSE(fs::exists(kb_ / "ZebResult.htm"));
  EXPECT_EQ(HiddenFiles(), std::vector<std::string>{});
}

// Articles whose names and excerpts hold every kind of byte (control characters, quotes,
// backslashes, UTF-8 and bytes that are not UTF-8), one of them held by another program:
// --json prints exactly the paths, excerpts and failure that the search met, in the order of
// -0's paths, each as its line (cli/json_lines, tested on its own), and the summary last.
TEST_F(CliTest, JsonLinesCarryEveryByteOfPathsAndExcerpts) {
  const std::string phrase = "json-probe";
  const std::string odd_bytes[] = {"\"",   "\\",   "\n",           "\t",
                                   "\x01", "\x7f", "\xc3\xa9",     "\xf0\x9f\x98\x80",
                                   "\xff", "\xc3", "\xed\xa0\x80", "<b>&amp;"};
  std::mt19937 random(11);
  std::map<std::string, std::string> excerpts;  // of the articles that match, by path
  std::string held_path;
  for (int i = 0; i < 30; ++i) {
    std::string name = "ZEB" + std::to_string(i);
    for (int count = random() % 4; count > 0; --count) name += odd_bytes[random() % 12];
    name += ".htm";
    std::string after_marker(random() % 300, '\0');
    for (char& byte : after_marker) byte = static_cast<char>(random());
    if (random() % 2) after_marker = name + odd_bytes[random() % 6] + odd_bytes[random() % 6];
    const bool matches = random() % 4 != 0;
    Article(name, (matches ? "JSON-Probe " : "") + std::string(kMarker) + after_marker);
    const std::string path = "./ZEB/" + name;
    if (matches) excerpts[path] = std::string(Clip(std::string_view(after_marker).substr(0, 201)));
    if (matches && held_path.empty() && !IsUtf8(name)) held_path = path;
  }
  ASSERT_FALSE(held_path.empty());

  // -0 gives the order; the JSON must follow it, the held article's failure in its place.
  const CliRun listed = Cli("-l -0 " + phrase);
  ASSERT_EQ(listed.status, 0);
  std::vector<std::string> order;
  for (std::size_t at = 0, end; (end = listed.out.find('\0', at)) != std::string::npos;
       at = end + 1) {
    order.push_back(listed.out.substr(at, end - at));
  }
  EXPECT_EQ(order.size(), excerpts.size());

  BlockFile holder({.options = "", .may_create = false});
  holder.name().Assign((kb_ / held_path.substr(2)).string());
  holder.Open(access_mode::kReadWrite | access_mode::kDenyAll);
  ASSERT_EQ(ErrorCode(), 0);
  const CliRun run = Cli("--json " + phrase);
  holder.Close();

  EXPECT_EQ(run.status, 2);
  EXPECT_EQ(run.err,
            "kbsearch-cli: Could not open file: " + held_path + "\nError: 5, Access Denied\n");
  std::string expected;
  for (const std::string& path : order) {
    expected +=
        path == held_path
            ? cli::JsonErrorLine("Could not open file: " + held_path + "\nError: 5, Access Denied",
                                 5, held_path)
            : cli::JsonMatchLine(path, excerpts[path], ExcerptText(excerpts[path]));
  }
  ASSERT_TRUE(run.out.starts_with(expected)) << run.out;
  const nlohmann::json summary = nlohmann::json::parse(run.out.substr(expected.size()));
  EXPECT_EQ(summary.at("type"), "summary");
  EXPECT_EQ(summary.at("data").at("phrase"), nlohmann::json({{"text", "JSON-PROBE"}}));
  EXPECT_EQ(summary.at("data").at("stats"),
            nlohmann::json({{"articles_listed", 30},
                            {"articles_opened", 29},
                            {"articles_matched", excerpts.size() - 1},
                            {"articles_read", 29}}));
  EXPECT_EQ(summary.at("data").at("index"),
            nlohmann::json({{"state", "not used"}, {"reason", "none yet"}}));
}

// Help and version print and succeed; a refusal (each is the parser's test) says why on
// standard error, points to --help, and touches nothing; a folder that cannot be entered is
// named.
TEST_F(CliTest, HelpVersionAndRefusals) {
  for (const char* help : {"--help", "x -h"}) {
    const CliRun run = Cli(help);
    EXPECT_EQ(run.status, 0) << help;
    EXPECT_TRUE(run.out.starts_with("Usage: kbsearch-cli [-l] [-0 | --json] [--open] [-C DIR]"))
        << help;
  }
  const CliRun version = Cli("-V");
  EXPECT_EQ(version.status, 0);
  EXPECT_TRUE(version.out.starts_with("kbsearch-cli ")) << version.out;

  std::string hundred;
  for (int i = 0; i < 100; ++i) hundred += "\u00e9";  // two bytes each
  WriteFile(kb_ / "ZebResult.htm", "old page");
  Article("ZEB1.htm", "<!-- Article starts -->" + hundred + "e");
  const CliRun refused = Cli(hundred + "e");
  EXPECT_EQ(refused.status, 2);
  EXPECT_EQ(refused.out, "");
  EXPECT_EQ(refused.err,
            "kbsearch-cli: the phrase is longer than 100 characters\n"
            "Try 'kbsearch-cli --help' for more information.\n");
  EXPECT_EQ(Page(), "old page");

  const CliRun elsewhere = Cli("x --directory=/no/such/dir");
  EXPECT_EQ(elsewhere.status, 2);
  EXPECT_EQ(elsewhere.err,
            "kbsearch-cli: cannot change to directory /no/such/dir: No such file or directory\n");
}

// kbsearch-cli on the knowledge base, its standard output `out` and its standard error the
// file `err`, started as from a shell: the stop signals at their defaults, none blocked.
pid_t Start(const fs::path& kb, std::vector<std::string> arguments, int out, const fs::path& err) {
  arguments.insert(arguments.begin(), {KBSEARCH_CLI, "-C", kb.string()});
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_adddup2(&files, out, 1);
  posix_spawn_file_actions_addopen(&files, 2, err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t signals;
  sigemptyset(&signals);
  posix_spawnattr_setsigmask(&attributes, &signals);
  for (const int number : {SIGINT, SIGTERM, SIGPIPE}) sigaddset(&signals, number);
  posix_spawnattr_setsigdefault(&attributes, &signals);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t child = -1;
  EXPECT_EQ(posix_spawn(&child, KBSEARCH_CLI, &files, &attributes, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&files);
  posix_spawnattr_destroy(&attributes);
  return child;
}

// The exit status of `child`; -1 when a signal ended it.
int ExitStatusOf(pid_t child) {
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Ctrl-C or SIGTERM while a long article is read: the search stops at once, what was found
// before is printed, no page is written and the exit status says which signal it was.
TEST_F(CliTest, ASignalStopsTheSearchAndLeavesThePageAlone) {
  Article("ZEB0.htm", "<!-- Article starts -->found first");
  // Far too long to be read before the signal comes: only a stop ends it soon.
  const fs::path endless = kb_ / "ZEB" / "ZEB9.htm";
  WriteFile(endless, "");
  fs::resize_file(endless, uint64_t{1} << 36);

  for (const char* threads : {"-j1", "-j4"}) {
    for (const int signal_number : {SIGINT, SIGTERM}) {
      WriteFile(kb_ / "ZebResult.htm", "old page");
      const std::string out = (root_ / "out").string(), err = (root_ / "err").string();
      const int out_file = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
      ASSERT_GE(out_file, 0);
      const pid_t child = Start(kb_, {threads, "FOUND"}, out_file, err);
      close(out_file);

      // Waits until the long article is being read.
      const fs::path descriptors = "/proc/" + std::to_string(child) + "/fd";
      bool reading = false;
      for (int attempt = 0; attempt < 10'000 && !reading; ++attempt) {
        std::error_code ignored;
        for (const auto& entry : fs::directory_iterator(descriptors, ignored)) {
          reading = reading || fs::read_symlink(entry.path(), ignored) == endless;
        }
        if (!reading) std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      ASSERT_TRUE(reading);
      ASSERT_EQ(kill(child, signal_number), 0);
      SCOPED_TRACE(std::string(threads) + " signal " + std::to_string(signal_number));
      EXPECT_EQ(ExitStatusOf(child), 128 + signal_number) << "-1: ended by the signal";
      // One thread has shown the first article before it opens the second; with several, the
      // stop may come before the first was shown.
      const std::string printed = ReadAll(out);
      if (threads == std::string_view("-j1") || !printed.empty()) {
        EXPECT_EQ(printed, "./ZEB/ZEB0.htm\n");
      }
      EXPECT_EQ(ReadAll(err), "");
      EXPECT_EQ(Page(), "old page");
    }
  }
}

// kbsearch-cli on the knowledge base with standard error on a terminal (a pseudo-terminal
// whose other side the test reads) and standard output in the file `out`: what the terminal
// showed, its line ends as the terminal writes them (CR LF), and the exit status.
CliRun RunOnTerminal(const fs::path& kb, std::vector<std::string> arguments, const fs::path& out) {
  const int terminal = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
  EXPECT_GE(terminal, 0);
  EXPECT_EQ(grantpt(terminal), 0);
  EXPECT_EQ(unlockpt(terminal), 0);
  const int other_side = open(ptsname(terminal), O_RDWR | O_NOCTTY | O_CLOEXEC);
  EXPECT_GE(other_side, 0);
  arguments.insert(arguments.begin(), {KBSEARCH_CLI, "-C", kb.string()});
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t files;
  posix_spawn_file_actions_init(&files);
  posix_spawn_file_actions_addopen(&files, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&files, other_side, 2);
  pid_t child = -1;
  EXPECT_EQ(posix_spawn(&child, KBSEARCH_CLI, &files, nullptr, argv.data(), environ), 0);
  posix_spawn_file_actions_destroy(&files);
  close(other_side);
  // Read until the program has gone: the terminal then fails the read.
  std::string shown;
  char buffer[4096];
  for (ssize_t got; (got = read(terminal, buffer, sizeof buffer)) > 0;) shown.append(buffer, got);
  close(terminal);
  int status = 0;
  EXPECT_EQ(waitpid(child, &status, 0), child);
  return {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadAll(out), shown};
}

// Watched on a terminal, --index ends with what it built, and a search that wrote a page
// with the page's path, unless it prints JSON or only lists; the exit status is the same.
TEST_F(CliTest, ARunWatchedOnATerminalEndsWithWhatItMade) {
  Article("ZEB1.htm", "<!-- Article starts -->Printer one");
  Article("ZEB2.htm", "<!-- Article starts -->nothing");
  const fs::path out = root_ / "out";

  const CliRun index = RunOnTerminal(kb_, {"--index"}, out);
  EXPECT_EQ(index.status, 0);
  EXPECT_EQ(index.out, "");
  EXPECT_NE(index.err.find("] 100%"), std::string::npos) << index.err;
  EXPECT_TRUE(index.err.find("\x1b[K2 articles indexed in ") != std::string::npos &&
              index.err.find(" s; the index takes ") != std::string::npos &&
              index.err.ends_with(" KB\r\n"))
      << index.err;

  const std::string page_line = "\x1b[K" + fs::canonical(kb_).string() + "/ZebResult.htm\r\n";
  const CliRun found = RunOnTerminal(kb_, {"printer"}, out);
  EXPECT_EQ(found.status, 0);
  EXPECT_EQ(found.out, "./ZEB/ZEB1.htm\n");
  EXPECT_TRUE(found.err.ends_with(page_line)) << found.err;
  const CliRun none = RunOnTerminal(kb_, {"absent"}, out);
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(none.err.ends_with(page_line)) << none.err;

  for (const char* option : {"--json", "-l"}) {
    const CliRun run = RunOnTerminal(kb_, {option, "printer"}, out);
    EXPECT_EQ(run.status, 0) << option;
    EXPECT_EQ(run.err.find("ZebResult.htm"), std::string::npos) << option << run.err;
  }
  // A page that cannot be written: the failure, and no path.
  fs::remove(kb_ / "ZebResult.htm");
  fs::create_directory(kb_ / "ZebResult.htm");
  const CliRun unwritten = RunOnTerminal(kb_, {"printer"}, out);
  EXPECT_EQ(unwritten.status, 2);
  EXPECT_EQ(unwritten.err.find("/ZebResult.htm\r\n"), std::string::npos) << unwritten.err;
}

// Standard output that cannot take the results: the search ends without a page, says so
// unless the reader has simply gone, and a stop ends it even while the output waits for a
// reader who never reads.
TEST_F(CliTest, OutputThatCannotBeWrittenEndsTheSearchWithoutAPage) {
  for (int number = 0; number < 300; ++number) {
    Article("ZEB" + std::to_string(1000 + number) + ".htm", "<!-- Article starts -->Printer");
  }
  const std::string err = (root_ / "err").string();
  const auto expect_old_page_alone = [&] {
    EXPECT_EQ(Page(), "old page");
    EXPECT_TRUE(HiddenFiles().empty());
  };

  struct Case {
    std::string shell_prelude;
    std::string arguments;
    std::string message;
  };
  for (const Case& c :
       {Case{"", "printer >/dev/full", "No space left on device"},
        Case{"", "--json printer >/dev/full", "No space left on device"},
        Case{"ulimit -f 1;", "printer >" + Quote((root_ / "out").string()), "File too large"},
        Case{"", "--version >/dev/full", "No space left on device"},
        // Started with standard output closed: nothing the program opens takes its place.
        Case{"", "printer >&-", "Bad file descriptor"}}) {
    SCOPED_TRACE(c.arguments);
    WriteFile(kb_ / "ZebResult.htm", "old page");
    const std::string command = "(" + c.shell_prelude + " " + Quote(KBSEARCH_CLI) + " -C " +
                                Quote(kb_.string()) + " " + c.arguments + " 2>" + Quote(err) +
                                "; echo $? >" + Quote((root_ / "status").string()) + ")";
    ASSERT_EQ(std::system(command.c_str()), 0);
    EXPECT_EQ(ReadAll(root_ / "status"), "2\n");
    EXPECT_EQ(ReadAll(err), "kbsearch-cli: could not write the results: " + c.message + "\n");
    expect_old_page_alone();
  }

  // A pipe whose reader has gone, as after `| head -1`: no word, no page.
  {
    WriteFile(kb_ / "ZebResult.htm", "old page");
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    close(ends[0]);
    const pid_t child = Start(kb_, {"printer"}, ends[1], err);
    close(ends[1]);
    EXPECT_EQ(ExitStatusOf(child), 141);
    EXPECT_EQ(ReadAll(err), "");
    expect_old_page_alone();
  }

  // A pipe nobody reads: the results wait for room before the page is written, and a stop
  // ends the program there.
  for (const int signal_number : {SIGINT, SIGTERM}) {
    WriteFile(kb_ / "ZebResult.htm", "old page");
    int ends[2];
    ASSERT_EQ(pipe2(ends, O_CLOEXEC), 0);
    const int capacity = fcntl(ends[1], F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    const pid_t child = Start(kb_, {"printer"}, ends[1], err);
    close(ends[1]);
    for (int held = 0; held < capacity;) {
      ASSERT_EQ(ioctl(ends[0], FIONREAD, &held), 0);
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_EQ(kill(child, signal_number), 0);
    EXPECT_EQ(ExitStatusOf(child), 128 + signal_number);
    close(ends[0]);
    EXPECT_EQ(ReadAll(err), "");
    expect_old_page_alone();
  }
}

}  // namespace
}  // namespace kb
