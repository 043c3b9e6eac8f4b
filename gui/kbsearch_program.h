#pragma once

// kbsearch once the application object exists: the folder it works in is settled first
// (app/setup/start_folder.h), then the window lives its whole life over a new search state.

#include <span>
#include <string_view>

#include "app/setup/start_folder.h"

namespace kb {

// Runs kbsearch with `arguments` (those after the program's name, the toolkit's own taken
// out), asking for a folder through `choose_folder` when it must (ChooseKnowledgeBaseFolder,
// gui/folder_dialog.h). Returns the program's exit status: kExitNoFolder when the folder
// given could not be entered, else the window's (app/window/main_window.h).
int RunKbsearch(std::span<const std::string_view> arguments,
                const decltype(StartFolderSteps::choose_folder)& choose_folder);

}  // namespace kb
