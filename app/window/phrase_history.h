#pragma once

// The phrases the user searched for in the window, newest first, so that Up and Down in the
// entry bring them back, in this run and the next: kept in a file of kbsearch's state folder
// (StateFile("history"), app/setup/remembered_folder.h), one phrase a line, the user's alone
// (permissions 0600).
//
// Keeping them is a convenience: a file that cannot be read is taken as empty, and one that
// cannot be written leaves the program as it is, neither of them reported.

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/file_system.h"

namespace kb {

inline constexpr std::string_view kHistoryFileName = "history";
// The most phrases kept; the oldest goes when a new one comes.
inline constexpr std::size_t kLongestHistory = 100;

class PhraseHistory {
 public:
  // Newest first, no two alike.
  const std::vector<std::string>& phrases() const { return phrases_; }

  // Puts `phrase` first, taking out an equal earlier one and the oldest past
  // kLongestHistory, and ends any recall. An empty phrase, and one that holds a line break
  // or a NUL (no line of the file could hold it), is not kept.
  void Add(std::string_view phrase);

  // Recall, as a shell recalls its commands: Older() gives the phrase before the one recalled
  // last (the newest one first, `shown` being what the entry shows, kept for the way back),
  // Newer() the one after it, and past the newest what the entry showed before the recall
  // began. Nothing when there is no further phrase that way.
  std::optional<std::string> Older(std::string_view shown);
  std::optional<std::string> Newer();

  // The phrases in `file`, read through `env`: its lines, the first kLongestHistory kept.
  // Nothing when the file is not there or cannot be read.
  static PhraseHistory Read(platform::Env& env, std::string_view file);
  // Writes the phrases into `file`, replacing it whole, and makes the folders on the way with
  // permissions 0700 as they are needed. False when it could not.
  bool Write(platform::Env& env, std::string_view file) const;

 private:
  std::vector<std::string> phrases_;
  // The phrase recalled last, by index; none before a recall begins.
  std::optional<std::size_t> recalled_;
  std::string before_recall_;  // what the entry showed when the recall began
};

}  // namespace kb
