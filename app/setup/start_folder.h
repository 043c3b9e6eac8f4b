#pragma once

// Where the window searches, settled first thing when the program starts, so that all that
// follows (the templates, every search, the results page) happens in that folder unchanged.
//
//  - Given a folder (`kbsearch DIR`, and so the desktop's "Open With" on a folder), the
//    program changes to it. One that cannot be entered is reported, and the program ends:
//    it was asked to search there and nowhere else. So does a command line of more than one
//    argument.
//  - Given none, in a folder that is a knowledge base (app/base/knowledge_base.h), it stays.
//  - Given none anywhere else (the home folder, where the menu starts it), it asks for the
//    knowledge base's folder with the folder dialog, opened at the folder chosen last time
//    (app/setup/remembered_folder.h) or else at the working folder. The folder chosen is entered
//    and remembered for the next start; Cancel keeps the working folder, and so does a chosen
//    folder that cannot be entered, after saying so.

#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "app/setup/settings_file.h"
#include "platform/file_system.h"
#include "support/message_box/message.h"

namespace kb {

// The exit status of a program that could not enter the folder it was given.
inline constexpr int kExitNoFolder = 2;

inline constexpr std::string_view kStartFolderUsage = "Usage: kbsearch [DIR]";

// What settling the folder needs from the desktop.
struct StartFolderSteps {
  // The folder dialog, opened at the folder `start`: the folder chosen (an absolute path), or
  // nothing when the user cancels.
  std::function<std::optional<std::string>(const std::string& start)> choose_folder;
  // A message box, shown before the window.
  std::function<void(const Message& message)> show_message;
};

// Settles the working folder as above, given the program's arguments (those after its name:
// none, or the folder); files are looked at through `env` and the remembered folder found
// through `variable`. False when the program is to end, after a message box: the folder given
// could not be entered, or there was more than one argument.
bool SettleStartFolder(std::span<const std::string_view> arguments, platform::Env& env,
                       const VariableLookup& variable, const StartFolderSteps& steps);

}  // namespace kb
