#include "app/window/phrase_history.h"

#include <algorithm>
#include <memory>

#include "files/file_replacement.h"
#include "support/text/text.h"

namespace kb {
namespace {

// A hundred phrases of at most 400 bytes each and their line ends fit; a larger file is read
// as far as this.
constexpr std::size_t kLongestHistoryFile = 64 * 1024;
constexpr uint32_t kHistoryPermissions = 0600;
constexpr uint32_t kStateFolderPermissions = 0700;

bool Keepable(std::string_view phrase) {
  return !phrase.empty() && phrase.find_first_of(std::string_view("\n\r\0", 3)) == phrase.npos;
}

}  // namespace

void PhraseHistory::Add(std::string_view phrase) {
  recalled_.reset();
  if (!Keepable(phrase)) return;
  std::erase(phrases_, phrase);
  phrases_.emplace(phrases_.begin(), phrase);
  if (phrases_.size() > kLongestHistory) phrases_.resize(kLongestHistory);
}

std::optional<std::string> PhraseHistory::Older(std::string_view shown) {
  const std::size_t next = recalled_ ? *recalled_ + 1 : 0;
  if (next >= phrases_.size()) return std::nullopt;
  if (!recalled_) before_recall_ = shown;
  recalled_ = next;
  return phrases_[next];
}

std::optional<std::string> PhraseHistory::Newer() {
  if (!recalled_) return std::nullopt;
  if (*recalled_ == 0) {
    recalled_.reset();
    return std::move(before_recall_);
  }
  return phrases_[--*recalled_];
}

PhraseHistory PhraseHistory::Read(platform::Env& env, std::string_view file) {
  PhraseHistory history;
  std::string contents(kLongestHistoryFile, '\0');
  std::unique_ptr<platform::File> opened;
  std::size_t count = 0;
  uint64_t size = 0;
  if (platform::OpenFileForReading(env, file, platform::Lock::kNone, contents, opened, count,
                                   size) != platform::system_error::kNone) {
    return history;
  }
  std::string_view rest = std::string_view(contents).substr(0, count);
  // Oldest last in the file: adding from the end keeps the order and drops repeats.
  std::vector<std::string_view> lines;
  while (!rest.empty() && lines.size() < kLongestHistory) {
    const std::size_t end = rest.find('\n');
    if (end == rest.npos && size > count) break;  // a line the read cut short
    lines.push_back(rest.substr(0, end));
    rest.remove_prefix(end == rest.npos ? rest.size() : end + 1);
  }
  for (auto line = lines.rbegin(); line != lines.rend(); ++line) history.Add(*line);
  return history;
}

bool PhraseHistory::Write(platform::Env& env, std::string_view file) const {
  const std::size_t slash = file.rfind('/');
  if (slash != std::string_view::npos && slash > 0 &&
      platform::MakeDirectories(env, file.substr(0, slash), kStateFolderPermissions) !=
          platform::system_error::kNone) {
    return false;
  }
  std::string lines;
  for (const std::string& phrase : phrases_) lines += Concat({phrase, "\n"});
  FileReplacement replacement(env);
  std::unique_ptr<platform::File> written;
  // The phrases tell what the user looked for: theirs alone to read, whatever the old file's
  // permissions were.
  if (replacement.Begin(file, written, kHistoryPermissions) != platform::system_error::kNone) {
    return false;
  }
  std::size_t count = 0;
  if (written->WriteAt(0, lines, count) != platform::system_error::kNone) {
    return false;  // the replacement, given up, leaves the old file
  }
  return replacement.Commit(*written) == platform::system_error::kNone;
}

}  // namespace kb
