#pragma once

// The knowledge base the user last chose in the window's folder dialog, remembered for the
// next start: the file last-folder in kbsearch's folder of $XDG_STATE_HOME (by default
// ~/.local/state/kbsearch/last-folder). The file holds the folder's absolute path and a
// newline.
//
// Remembering is a convenience: a file that cannot be read is taken as none, and one that
// cannot be written leaves the program as it is, neither of them reported.

#include <string>
#include <string_view>

#include "app/setup/settings_file.h"
#include "platform/file_system.h"

namespace kb {

inline constexpr std::string_view kRememberedFolderName = "last-folder";

// The path of the file `name` in kbsearch's state folder, from the environment as `variable`
// gives it: kbsearch/NAME under $XDG_STATE_HOME when that is an absolute folder, else under
// $HOME/.local/state; "" when neither is there.
std::string StateFile(const VariableLookup& variable, std::string_view name);

// StateFile(variable, kRememberedFolderName).
std::string RememberedFolderFile(const VariableLookup& variable);

// The folder remembered in `file`, read through `env`; "" when there is none, it cannot be
// read, or it holds no absolute path.
std::string ReadRememberedFolder(platform::Env& env, std::string_view file);

// Remembers the absolute path `folder` in `file`, replacing the file whole, and makes the
// folders on the way with permissions 0700 as they are needed. False when it could not.
bool RememberFolder(platform::Env& env, std::string_view file, std::string_view folder);

}  // namespace kb
