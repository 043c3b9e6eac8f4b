#include "app/base/replaceable_texts.h"

#include <algorithm>

#include "support/error_state/error_messages.h"
#include "support/message_box/message_box_content.h"
#include "support/text/ascii.h"

namespace kb {
namespace {

constexpr const ReplaceableText* kNamedTexts[] = {
    &text::kOkButton,
    &text::kYesButton,
    &text::kNoButton,
    &text::kAbortButton,
    &text::kRetryButton,
    &text::kIgnoreButton,
    &text::kCancelButton,
    &text::kHelpButton,
    &text::kSearchPrompt,
    &text::kWordsSearchPrompt,
    &text::kSearchButton,
    &text::kCloseButton,
    &text::kOpenButton,
    &text::kSearchingStatus,
    &text::kCreatingPageStatus,
    &text::kExecutingBrowserStatus,
    &text::kFoundStatus,
    &text::kFoundOneStatus,
    &text::kNotFoundStatus,
    &text::kStoppedStatus,
    &text::kQueryChoice,
    &text::kWordsChoice,
    &text::kPhraseChoice,
    &text::kOrderChoice,
    &text::kNameOrderChoice,
    &text::kHitsOrderChoice,
    &text::kRelevanceOrderChoice,
    &text::kHitsCount,
    &text::kOneHitCount,
    &text::kHeaderUnopened,
    &text::kHeaderUnread,
    &text::kFooterUnopened,
    &text::kFooterUnread,
    &text::kQueryUnclosedQuote,
    &text::kQueryNothingRequired,
    &text::kArticleUnopened,
    &text::kArticleUnread,
    &text::kFolderUnread,
    &text::kErrorJoiner,
    &text::kFolderTooDeep,
    &text::kTooManyArticles,
    &text::kLimitJoiner,
    &text::kPageUnopened,
    &text::kPageUnopenedCaption,
    &text::kPageUnwritten,
    &text::kPageUnwrittenCaption,
    &text::kErrorCaption,
    &text::kNoMemory,
    &text::kFolderUnentered,
    &text::kFolderUnenteredCaption,
    &text::kFolderDialogCaption,
    &text::kSettingsProblem,
    &text::kKnowledgeBaseSettingsProblem,
    &text::kIndexBuildRunning,
};

constexpr NumberedText kLaunchErrors[] = {
    {0, {"LaunchError0", "Out of memory or file is corrupt running program"}},
    {2, {"LaunchError2", "File not found"}},
    {3, {"LaunchError3", "Path noth found"}},
    {5, {"LaunchError5", "Sharing violation"}},
    {6, {"LaunchError6", "Data segment error"}},
    {8, {"LaunchError8", "Not enough memory to run program"}},
    {10, {"LaunchError10", "Incorrect windows version"}},
    {11, {"LaunchError11", "Invalid program file.  Non windows or corrupt .exe file"}},
    {12, {"LaunchError12", "Not a windows program"}},
    {13, {"LaunchError13", "MS-DOS 4.0 program"}},
    {14, {"LaunchError14", "Unknown program type"}},
    {15, {"LaunchError15", "Can not run a real mode program"}},
    {16,
     {"LaunchError16", "This program is already running and can only have one instance running"}},
    {19, {"LaunchError19", "This is a compressed program file"}},
    {20, {"LaunchError20", "One or more run time libraries are missing or corrupt"}},
    {21, {"LaunchError21", "This program requires 32bit extension for Windows"}},
    {31, {"LaunchError31", "No program associated with this file"}},
};

}  // namespace

std::span<const NumberedText> LaunchErrorTexts() {
  return kLaunchErrors;
}

std::vector<const ReplaceableText*> ReplaceableTexts() {
  std::vector<const ReplaceableText*> texts(std::begin(kNamedTexts), std::end(kNamedTexts));
  for (const NumberedText& message : ErrorMessageTexts()) texts.push_back(&message.text);
  for (const NumberedText& message : LaunchErrorTexts()) texts.push_back(&message.text);
  return texts;
}

const ReplaceableText* FindReplaceableText(std::string_view key) {
  const auto same_key = [key](const ReplaceableText* text) {
    return std::equal(text->key.begin(), text->key.end(), key.begin(), key.end(),
                      [](char a, char b) { return ToLowerAscii(a) == ToLowerAscii(b); });
  };
  const std::vector<const ReplaceableText*> texts = ReplaceableTexts();
  const auto found = std::find_if(texts.begin(), texts.end(), same_key);
  return found == texts.end() ? nullptr : *found;
}

std::vector<std::string> ProgramTextKeys() {
  std::vector<std::string> keys;
  for (const ReplaceableText* text : ReplaceableTexts()) keys.emplace_back(text->key);
  return keys;
}

}  // namespace kb
