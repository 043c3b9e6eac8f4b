#include "app/search/search_settings.h"

#include <string>

namespace kb {

void ReadSearchSettings(platform::Env& env, std::string_view named, Settings& settings,
                        std::vector<SettingsProblem>& problems) {
  if (named.empty()) {
    LoadSettings(env, settings, problems);
  } else {
    ReadSettingsFile(env, {.paths = {std::string(named)}, .named = true}, settings, problems);
  }
}

}  // namespace kb
