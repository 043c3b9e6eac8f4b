#pragma once

// Sets up a folder as a knowledge base (kbsearch-cli --init): writes its settings file,
// kbsearch.env, fitting the HTML that a generator of documentation makes (a preset), and for a
// new ZEB knowledge base also the ZEB folder and the two templates of the results page.
//
//  - The files go into the working directory. When it cannot be written there (a read-only
//    tree such as /usr/share/doc), the settings go into the user's file for that knowledge
//    base instead (KnowledgeBaseSettingsPath, app/setup/settings_file.h), whose folders are
//    made as needed, readable by the user alone; nothing else is written then.
//  - No file is ever overwritten: when one that would be written is there already (a link
//    included), nothing at all is written and the outcome names it. Files are created anew,
//    so that one made meanwhile is not overwritten either.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "app/setup/settings_file.h"
#include "platform/file_system.h"

namespace kb {

enum class InitPreset { kZeb, kSphinx, kMkDocs, kRustdoc, kMdBook };

// The preset `name` names (zeb, sphinx, mkdocs, rustdoc, mdbook); none for any other.
std::optional<InitPreset> InitPresetOf(std::string_view name);

// The settings file that `preset` writes.
std::string InitSettingsText(InitPreset preset);

struct InitOutcome {
  bool done = false;
  std::vector<std::string> written = {};  // the paths written, folders with a "/" at their end
  std::string problem;                    // why nothing was written, when not done
};

// Sets up the knowledge base in the working directory, whose canonical path is `folder`, for
// `preset`; the user's file for it is found through `variable`.
InitOutcome InitKnowledgeBase(platform::Env& env, InitPreset preset, std::string_view folder,
                              const VariableLookup& variable);

}  // namespace kb
