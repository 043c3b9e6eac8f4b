#include "app/setup/start_folder.h"

#include "app/base/knowledge_base.h"
#include "app/base/replaceable_texts.h"
#include "app/setup/remembered_folder.h"
#include "app/setup/settings_file.h"
#include "platform/shell.h"
#include "support/program_texts/program_texts.h"
#include "support/text/text.h"

namespace kb {
namespace {

// A message box with the stop icon.
void Report(const StartFolderSteps& steps, std::string text, std::string_view caption) {
  Message message;
  message.text = std::move(text);
  message.caption = caption;
  message.icon = kStopIcon;
  steps.show_message(message);
}

// Makes `folder` the working folder; false, after a message box, when it cannot be entered.
bool Enter(std::string_view folder, const StartFolderSteps& steps) {
  std::string reason;
  if (platform::ChangeDirectory(folder, reason)) return true;
  Report(steps, Concat({ProgramText(text::kFolderUnentered), folder, "|", reason}),
         ProgramText(text::kFolderUnenteredCaption));
  return false;
}

// Whether `folder` is a knowledge base: by its folder ZEB or templates, or by its settings.
bool HoldsKnowledgeBase(platform::Env& env, std::string_view folder) {
  return IsKnowledgeBaseFolder(env, folder) || SettingsSetArticles(env, folder);
}

// Enters `folder` as Enter does, and remembers it in `memory` (when there is such a file)
// when it is a knowledge base.
bool EnterAndRemember(std::string_view folder, platform::Env& env, const std::string& memory,
                      const StartFolderSteps& steps) {
  if (!Enter(folder, steps)) return false;
  std::string entered;
  if (!memory.empty() && HoldsKnowledgeBase(env, ".") &&
      platform::CurrentDirectory(entered) == platform::system_error::kNone) {
    RememberFolder(env, memory, entered);
  }
  return true;
}

// The working folder, or "." when it cannot be told.
std::string WorkingFolder() {
  std::string working;
  if (platform::CurrentDirectory(working) == platform::system_error::kNone) return working;
  return ".";
}

// Where the folder dialog opens: the folder chosen last time while it is still a folder,
// else the working folder.
std::string DialogStart(platform::Env& env, const std::string& remembered) {
  platform::FileStatus status;
  if (!remembered.empty() &&
      env.PathStatus(remembered, /*follow_links=*/true, status) == platform::system_error::kNone &&
      status.type == platform::FileType::kDirectory) {
    return remembered;
  }
  return WorkingFolder();
}

}  // namespace

bool SettleStartFolder(std::span<const std::string_view> arguments, platform::Env& env,
                       const VariableLookup& variable, const StartFolderSteps& steps) {
  if (arguments.size() > 1) {
    Report(steps,
           Concat({kStartFolderUsage, "|Give one folder, not ",
                   NumberToText(static_cast<int32_t>(arguments.size())), " arguments."}),
           "kbsearch");
    return false;
  }
  const std::string memory = RememberedFolderFile(variable);
  if (arguments.size() == 1) return EnterAndRemember(arguments[0], env, memory, steps);
  if (HoldsKnowledgeBase(env, ".")) return true;

  const std::string remembered = memory.empty() ? "" : ReadRememberedFolder(env, memory);
  // A knowledge base that cannot be entered any more is as good as gone: the dialog asks.
  std::string ignored;
  if (!remembered.empty() && HoldsKnowledgeBase(env, remembered) &&
      platform::ChangeDirectory(remembered, ignored)) {
    return true;
  }
  const std::optional<std::string> chosen = steps.choose_folder(DialogStart(env, remembered));
  if (chosen) EnterAndRemember(*chosen, env, memory, steps);
  return true;
}

bool OpenOtherFolder(platform::Env& env, const VariableLookup& variable,
                     const StartFolderSteps& steps, const std::function<void()>& leaving) {
  const std::optional<std::string> chosen = steps.choose_folder(WorkingFolder());
  if (!chosen) return false;
  leaving();
  return EnterAndRemember(*chosen, env, RememberedFolderFile(variable), steps);
}

}  // namespace kb
