#pragma once

// The user's settings as every front end that searches from a command line loads them: the
// file that --settings names, or else the first settings file found (app/setup/settings_file.h).

#include <string_view>
#include <vector>

#include "app/setup/settings_file.h"
#include "platform/file_system.h"

namespace kb {

// Reads the settings file `named` (taken from the current directory when relative), or the
// first one found when `named` is empty, into `settings`; its problems go to `problems`.
void ReadSearchSettings(platform::Env& env, std::string_view named, Settings& settings,
                        std::vector<SettingsProblem>& problems);

}  // namespace kb
