#pragma once

// The desktop's folder dialog, in which the user picks the knowledge base's folder.

#include <optional>
#include <string>

namespace kb {

// Shows the folder dialog, opened at the folder `start`, and waits for the user: the absolute
// path of the folder chosen (bytes as the file system names it), or nothing on Cancel.
std::optional<std::string> ChooseKnowledgeBaseFolder(const std::string& start);

}  // namespace kb
