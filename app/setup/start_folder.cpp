#include "app/setup/start_folder.h"

#include "app/base/knowledge_base.h"
#include "app/base/replaceable_texts.h"
#include "app/setup/remembered_folder.h"
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

// Where the folder dialog opens: the folder chosen last time while it is still a folder,
// else the working folder.
std::string DialogStart(platform::Env& env, const std::string& remembered) {
  platform::FileStatus status;
  if (!remembered.empty() &&
      env.PathStatus(remembered, /*follow_links=*/true, status) == platform::system_error::kNone &&
      status.type == platform::FileType::kDirectory) {
    return remembered;
  }
  std::string working;
  if (platform::CurrentDirectory(working) == platform::system_error::kNone) return working;
  return ".";
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
  if (arguments.size() == 1) return Enter(arguments[0], steps);
  if (IsKnowledgeBase(env)) return true;

  const std::string memory = RememberedFolderFile(variable);
  const std::string remembered = memory.empty() ? "" : ReadRememberedFolder(env, memory);
  const std::optional<std::string> chosen = steps.choose_folder(DialogStart(env, remembered));
  if (chosen && Enter(*chosen, steps) && !memory.empty()) RememberFolder(env, memory, *chosen);
  return true;
}

}  // namespace kb
