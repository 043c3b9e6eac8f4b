#include "app/setup/remembered_folder.h"

#include <memory>
#include <optional>

#include "app/setup/path_text.h"
#include "files/file_replacement.h"
#include "support/text/text.h"

namespace kb {
namespace {

// The longest path the file may hold, and so the most bytes read from it.
constexpr std::size_t kLongestFolder = 4096;
// The folders of the state folder that the program makes: the user's alone.
constexpr uint32_t kStateFolderPermissions = 0700;

// The folder `file` lies in.
std::string_view FolderOf(std::string_view file) {
  const std::size_t slash = file.rfind('/');
  return slash == std::string_view::npos ? std::string_view(".") : file.substr(0, slash);
}

}  // namespace

std::string StateFile(const VariableLookup& variable, std::string_view name) {
  std::string state_home;
  if (const std::optional<std::string> xdg = variable("XDG_STATE_HOME"); xdg && IsAbsolute(*xdg)) {
    state_home = *xdg;
  } else if (const std::optional<std::string> home = variable("HOME"); home && IsAbsolute(*home)) {
    state_home = JoinPath(*home, ".local/state");
  } else {
    return "";
  }
  return JoinPath(state_home, Concat({"kbsearch/", name}));
}

std::string RememberedFolderFile(const VariableLookup& variable) {
  return StateFile(variable, kRememberedFolderName);
}

std::string ReadRememberedFolder(platform::Env& env, std::string_view file) {
  std::string contents(kLongestFolder + 2, '\0');
  std::unique_ptr<platform::File> opened;
  std::size_t count = 0;
  uint64_t size = 0;
  if (platform::OpenFileForReading(env, file, platform::Lock::kNone, contents, opened, count,
                                   size) != platform::system_error::kNone ||
      size > kLongestFolder + 1) {
    return "";
  }
  contents.resize(count);
  if (contents.ends_with('\n')) contents.pop_back();
  return IsAbsolute(contents) ? contents : "";
}

bool RememberFolder(platform::Env& env, std::string_view file, std::string_view folder) {
  if (!IsAbsolute(folder) || folder.size() > kLongestFolder) return false;
  if (platform::MakeDirectories(env, FolderOf(file), kStateFolderPermissions) !=
      platform::system_error::kNone) {
    return false;
  }
  FileReplacement replacement(env);
  std::unique_ptr<platform::File> written;
  if (replacement.Begin(file, written) != platform::system_error::kNone) return false;
  const std::string line = Concat({folder, "\n"});
  std::size_t count = 0;
  if (written->WriteAt(0, line, count) != platform::system_error::kNone) {
    return false;  // the replacement, given up, leaves the old file
  }
  return replacement.Commit(*written) == platform::system_error::kNone;
}

}  // namespace kb
