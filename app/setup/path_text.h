#pragma once

// Paths as text, as the settings file's places and the remembered folder's file are named
// from the environment's variables: nothing is looked up in the file system.

#include <string>
#include <string_view>

#include "support/text/text.h"

namespace kb {

// Whether `path` starts at the root; an empty path does not.
inline bool IsAbsolute(std::string_view path) {
  return path.starts_with('/');
}

// `name` in `folder`, one slash between them whatever slashes `folder` ends with.
inline std::string JoinPath(std::string_view folder, std::string_view name) {
  while (folder.size() > 1 && folder.back() == '/') folder.remove_suffix(1);
  return Concat({folder, folder == "/" ? "" : "/", name});
}

}  // namespace kb
