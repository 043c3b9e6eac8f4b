#pragma once

// Where the window searches, settled first thing when the program starts, so that all that
// follows (the templates, every search, the results page) happens in that folder unchanged.
//
//  - Given a folder (`kbsearch DIR`, and so the desktop's "Open With" on a folder), the
//    program changes to it. One that cannot be entered is reported, and the program ends:
//    it was asked to search there and nowhere else. So does a command line of more than one
//    argument.
//  - Given none, in a folder that is a knowledge base (app/base/knowledge_base.h), it stays.
//  - Given none anywhere else (the home folder, where the menu starts it), it enters the
//    knowledge base opened last (app/setup/remembered_folder.h) while that is still one.
//    When there is none, it asks for the knowledge base's folder with the folder dialog,
//    opened at the folder remembered while it is a folder, or else at the working folder. The
//    folder chosen is entered; Cancel keeps the working folder, and so does a chosen folder
//    that cannot be entered, after saying so.
//
// A knowledge base entered by the argument or the dialog, or later chosen with
// OpenOtherFolder, is remembered for the next start; a folder that is none is not.

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

// Another knowledge base, asked for while the window runs: the folder dialog, opened at the
// working folder. When a folder is chosen, `leaving` runs (to let go of everything that
// works in the working folder), then the folder is entered and, when it is a knowledge base,
// remembered. True when the working folder changed; false when the dialog was cancelled
// (`leaving` has not run) or the folder could not be entered (after a message box; the
// working folder is the same).
bool OpenOtherFolder(platform::Env& env, const VariableLookup& variable,
                     const StartFolderSteps& steps, const std::function<void()>& leaving);

}  // namespace kb
