#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/base/replaceable_texts.h"
#include "app/search/browser_launch.h"
#include "app/search/search.h"
#include "platform/testing/faulty_env.h"
#include "support/error_state/error_messages.h"
#include "support/error_state/error_state.h"
#include "support/message_box/message_box_content.h"
#include "support/program_texts/program_texts.h"
#include "support/testing/scratch_directory.h"
#include "support/text/text.h"

namespace kb {
namespace {

// Writes down every text the search shows: status texts, message texts and captions.
class TextRecorder : public SearchScreen {
 public:
  void ScanStarted(int32_t) override { shown.emplace_back(ProgramText(text::kSearchingStatus)); }
  void ArticleDone(int32_t, int32_t) override {}
  void ScanEnded(std::string_view) override {}
  void PageBeingWritten() override { shown.emplace_back(ProgramText(text::kCreatingPageStatus)); }
  void BrowserStarting() override {
    shown.emplace_back(ProgramText(text::kExecutingBrowserStatus));
  }
  void SearchEnded() override {}
  int32_t ShowMessage(std::string_view text, std::string_view caption, std::string_view,
                      std::string_view, int32_t, int32_t) override {
    shown.emplace_back(text);
    shown.emplace_back(caption);
    return 1;
  }

  std::vector<std::string> shown;
};

// Puts the default texts back in use when a test ends, whatever it did.
struct DefaultTextsAfterwards {
  ~DefaultTextsAfterwards() { UseProgramTexts(ProgramTexts()); }
};

// What the search shows in every situation that has a text of its own: templates that
// cannot be opened or read, articles that cannot be opened or read, a folder that cannot be
// read, a page that cannot be opened or written, a launch that fails, a settings problem; and
// the captions of all the message box's buttons.
std::vector<std::string> EverythingTheSearchShows(const testing::ScratchDirectory& scratch) {
  TextRecorder screen;
  const auto search = [&](platform::testing::FaultyEnv& env, PageHandling handling) {
    RunSearch(env, {.query = Query::Phrase("found"), .page_handling = handling, .threads = 2},
              screen);
  };
  const auto load_templates = [&](platform::testing::FaultyEnv& env) {
    LoadTemplates(env, screen);
  };

  platform::testing::FaultyEnv env;
  load_templates(env);  // no header
  scratch.Write("lheader.htm", "<html>");
  load_templates(env);  // no footer
  scratch.Write("lfooter.htm", "</html>");
  for (const char* template_name : {"lheader", "lfooter"}) {
    env.FailNth(platform::Operation::kRead, 1, EIO, template_name);
    load_templates(env);
  }

  std::filesystem::create_directory(scratch.path() / "ZEB");
  for (const char* name : {"ZEB1.htm", "ZEB3.htm"}) {
    scratch.Write(std::string("ZEB/") + name, "<!-- Article starts -->found");
  }
  // Read in more than one go, the phrase in the last.
  scratch.Write("ZEB/ZEB2.htm", "<!-- Article starts -->" + std::string(100'000, '.') + "found");
  env.FailNth(platform::Operation::kOpen, 1, EACCES, "ZEB1");
  env.FailNth(platform::Operation::kRead, 2, EIO, "ZEB2");
  env.FailNth(platform::Operation::kOpen, 1, EACCES, ".ZebResult.htm.");
  search(env, PageHandling::kWriteOnly);
  env.FailNth(platform::Operation::kWrite, 1, EIO, "ZebResult");
  search(env, PageHandling::kWriteOnly);

  // No opener on PATH: the launch fails with "No program associated with this file".
  const std::string path = std::getenv("PATH");
  setenv("PATH", (scratch / "no-such-folder").c_str(), 1);
  search(env, PageHandling::kOpenInBrowser);
  setenv("PATH", path.c_str(), 1);

  // A tree deeper, then larger, than its limits.
  std::filesystem::create_directories(scratch.path() / "tree/deeper");
  scratch.Write("tree/deeper/a.htm", "");
  scratch.Write("tree/b.htm", "");
  for (const KnowledgeBase& tree :
       {KnowledgeBase{.articles = "tree/**/*.htm", .most_depth = 1},
        KnowledgeBase{.articles = "tree/**/*.htm", .most_articles = 0}}) {
    RunSearch(env, {.knowledge_base = tree, .query = Query::Phrase("found")}, screen);
  }

  std::filesystem::remove_all(scratch.path() / "ZEB");
  scratch.Write("ZEB", "a file where the folder should be");
  search(env, PageHandling::kWriteOnly);

  ShowSettingsProblems({{"kbsearch.env", 3, "unknown key"}}, screen);
  ShowSettingsProblems({{"kbsearch.env", 4, "unknown key"}}, screen,
                       SettingsSource::kKnowledgeBase);
  Message every_button;
  every_button.buttons = "255";
  for (const BoxButton& button : ContentOf(every_button).buttons) {
    screen.shown.push_back(button.caption);
  }
  return screen.shown;
}

// Every key of the texts, given a value of its own in a settings file, replaces its text
// wherever the program shows it: nothing shown is left in its default wording, and every
// text of the search and the message box is met. (The window's own are the window's test,
// the index build's the index's, a words query's the front ends', the search server page's
// the server's.)
TEST(SearchTextsTest, EveryTextKeyReplacesItsTextWhereverItIsShown) {
  const DefaultTextsAfterwards restore;
  const std::vector<std::string> keys = ProgramTextKeys();
  // Made with Concat: GCC 12 warns falsely (-Wrestrict) of a literal + std::string.
  const auto marker = [](std::size_t index) { return Concat({"#", std::to_string(index), "#"}); };
  // Keys in any case; values in quotes keep their blanks.
  const auto value = [&](std::size_t index) {
    return index % 2 ? marker(index) : Concat({" ", marker(index), " "});
  };
  std::string contents;
  for (std::size_t index = 0; index < keys.size(); ++index) {
    std::string key = keys[index];
    if (index % 3 == 0) std::transform(key.begin(), key.end(), key.begin(), ::tolower);
    contents += key + " = " + (index % 2 ? value(index) : "\"" + value(index) + "\"") + "\n";
  }
  Settings settings;
  std::vector<SettingsProblem> problems;
  ParseSettings(contents, "kbsearch.env", settings, problems);
  ASSERT_EQ(problems, std::vector<SettingsProblem>{});

  UseProgramTexts(std::move(settings.texts));
  testing::ScratchDirectory scratch;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::current_path(scratch.path());
  const std::vector<std::string> shown = EverythingTheSearchShows(scratch);
  std::filesystem::current_path(previous);

  const auto shows = [&](std::string_view text) {
    return std::any_of(shown.begin(), shown.end(), [&](const std::string& line) {
      return line.find(text) != std::string::npos;
    });
  };
  const std::vector<const ReplaceableText*> texts = ReplaceableTexts();
  const auto in = [](std::span<const NumberedText> table, const ReplaceableText* text) {
    return std::any_of(table.begin(), table.end(),
                       [&](const NumberedText& entry) { return &entry.text == text; });
  };
  const ReplaceableText* const the_windows[] = {&text::kSearchPrompt,
                                                &text::kSearchButton,
                                                &text::kCloseButton,
                                                &text::kOpenButton,
                                                &text::kNoMemory,
                                                &text::kFolderUnentered,
                                                &text::kFolderUnenteredCaption,
                                                &text::kFoundStatus,
                                                &text::kFolderDialogCaption,
                                                &text::kFoundOneStatus,
                                                &text::kNotFoundStatus,
                                                &text::kStoppedStatus,
                                                &text::kIndexBuildRunning,
                                                &text::kWordsSearchPrompt,
                                                &text::kQueryUnclosedQuote,
                                                &text::kQueryNothingRequired,
                                                &text::kQueryChoice,
                                                &text::kWordsChoice,
                                                &text::kPhraseChoice,
                                                &text::kOrderChoice,
                                                &text::kNameOrderChoice,
                                                &text::kHitsOrderChoice,
                                                &text::kRelevanceOrderChoice,
                                                &text::kHitsCount,
                                                &text::kOneHitCount};
  for (std::size_t index = 0; index < keys.size(); ++index) {
    SCOPED_TRACE(keys[index]);
    const ReplaceableText* const text = texts[index];
    if (in(ErrorMessageTexts(), text)) {
      const int32_t number = std::stoi(keys[index].substr(5));
      EXPECT_FALSE(shows(Clip(text->default_text)));
      PostError(number);
      EXPECT_EQ(Clip(ErrorText()), marker(index));
    } else if (in(LaunchErrorTexts(), text)) {
      const int32_t code = std::stoi(keys[index].substr(std::string("LaunchError").size()));
      EXPECT_EQ(LaunchErrorText(code), value(index));
    } else {
      EXPECT_FALSE(shows(Clip(text->default_text))) << "shown in its default wording";
      if (std::find(std::begin(the_windows), std::end(the_windows), text) ==
          std::end(the_windows)) {
        EXPECT_TRUE(shows(marker(index)));
      }
    }
  }
  // A number without a message of its own has that of 81.
  const std::size_t unknown = std::find(keys.begin(), keys.end(), "Error81") - keys.begin();
  EXPECT_NE(ErrorMessage(87).find(marker(unknown)), std::string::npos);
  EXPECT_TRUE(ErrorMessage(87).ends_with(" : 87"));
}

}  // namespace
}  // namespace kb
