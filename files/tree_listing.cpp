#include "files/tree_listing.h"

#include <algorithm>
#include <memory>
#include <new>
#include <set>
#include <utility>

#include "files/file_declaration.h"
#include "support/error_state/error_state.h"
#include "support/text/text.h"

namespace kb {
// Named rather than anonymous: the walk below is a friend of ListedPaths, so it has external
// linkage, and so must the types of its fields.
namespace tree_listing_detail {

std::vector<std::string_view> Components(std::string_view pattern) {
  std::vector<std::string_view> components;
  for (std::size_t start = 0;;) {
    const std::size_t slash = pattern.find('/', start);
    components.push_back(pattern.substr(start, slash - start));
    if (slash == std::string_view::npos) return components;
    start = slash + 1;
  }
}

// A pattern of path components matched one name at a time: the places in it that the names
// so far may have reached, each a flag (the pattern's end included).
class PathGlob {
 public:
  using Places = std::vector<char>;

  explicit PathGlob(std::string_view pattern) : components_(Components(pattern)) {}

  // The places before any name.
  Places Start() const {
    Places places(components_.size() + 1, 0);
    places[0] = 1;
    return Closed(std::move(places));
  }
  // The places after one more name, `name`.
  Places Step(const Places& places, std::string_view name) const {
    Places next(places.size(), 0);
    for (std::size_t at = 0; at < components_.size(); ++at) {
      if (!places[at]) continue;
      if (components_[at] == "**") {
        next[at] = 1;
      } else if (MatchesWildcard(components_[at], name)) {
        next[at + 1] = 1;
      }
    }
    return Closed(std::move(next));
  }
  // Whether the names so far make a whole path that matches.
  bool Matched(const Places& places) const { return places.back() != 0; }
  // Whether some longer path could still match.
  bool Open(const Places& places) const {
    return std::any_of(places.begin(), places.end() - 1, [](char place) { return place != 0; });
  }
  // Whether every longer path matches: the names so far reached a final "**".
  bool Covers(const Places& places) const {
    return components_.back() == "**" && places[components_.size() - 1] != 0;
  }

 private:
  // "**" may match no name at all: where it stands, the place after it is reached too.
  Places Closed(Places places) const {
    for (std::size_t at = 0; at < components_.size(); ++at) {
      if (places[at] && components_[at] == "**") places[at + 1] = 1;
    }
    return places;
  }

  std::vector<std::string_view> components_;
};

}  // namespace tree_listing_detail

using tree_listing_detail::Components;
using tree_listing_detail::PathGlob;

std::string TreePatternProblem(std::string_view pattern) {
  if (pattern.empty()) return "it is empty";
  if (pattern.front() == '/') return "it starts with /";
  if (pattern.back() == '/') return "it ends with /";
  for (const std::string_view component : Components(pattern)) {
    if (component.empty()) return "it holds //";
    if (component == "." || component == "..") {
      return Concat({"it holds the folder ", component});
    }
  }
  return {};
}

// One walk of the tree: what it has listed and what it has seen so far.
class TreeWalk {
 public:
  TreeWalk(ListedPaths& paths, const TreeListingRequest& request,
           std::vector<TreeProblem>& problems, platform::Env& env)
      : paths_(paths),
        request_(request),
        problems_(problems),
        env_(env),
        articles_(request.articles) {
    for (const std::string& pattern : request.exclude) exclude_.emplace_back(pattern);
  }

  bool Run() {
    paths_ = {};
    paths_.entries_->prefix_length = 2;
    platform::FileStatus root;
    if (const platform::SystemError error = env_.PathStatus(".", true, root)) {
      problems_.push_back({.path = ".", .error_code = OpenErrorNumber(error)});
      return false;
    }
    walked_.insert({root.device, root.inode});
    // Without the root's own path no link can be shown to stay inside: none is followed.
    if (env_.ResolvePath(".", root_) != platform::system_error::kNone) root_.clear();
    Places places{articles_.Start(), {}};
    for (const PathGlob& glob : exclude_) places.exclude.push_back(glob.Start());
    try {
      if (!Walk("", places, 0) && root_unread_) {
        paths_ = {};
        return false;
      }
    } catch (const std::bad_alloc&) {
      paths_ = {};
      PostError(error::kInsufficientMemory);
      return false;
    }
    return true;
  }

 private:
  struct Places {
    PathGlob::Places articles;
    std::vector<PathGlob::Places> exclude;  // one for each excluded pattern
  };
  struct Entry {
    std::string name;
    Places places;
    platform::FileStatus status = {};
  };

  Places Step(const Places& places, std::string_view name) const {
    Places next{articles_.Step(places.articles, name), {}};
    for (std::size_t at = 0; at < exclude_.size(); ++at) {
      next.exclude.push_back(exclude_[at].Step(places.exclude[at], name));
    }
    return next;
  }
  bool Excluded(const Places& places) const {
    for (std::size_t at = 0; at < exclude_.size(); ++at) {
      if (exclude_[at].Matched(places.exclude[at])) return true;
    }
    return false;
  }
  bool AllExcluded(const Places& places) const {
    for (std::size_t at = 0; at < exclude_.size(); ++at) {
      if (exclude_[at].Covers(places.exclude[at])) return true;
    }
    return false;
  }

  // Whether the link `path` leads to something beneath the root.
  bool StaysInside(const std::string& path) {
    if (root_.empty()) return false;
    std::string resolved;
    if (env_.ResolvePath(path, resolved) != platform::system_error::kNone) return false;
    return resolved.size() > root_.size() && resolved.starts_with(root_) &&
           (root_ == "/" || resolved[root_.size()] == '/');
  }

  // The status of the folder's current entry `path`, its links followed when they stay inside;
  // false when it is to be left out.
  bool Check(platform::Directory& reader, const std::string& path, platform::FileStatus& status) {
    // A folder's status is asked all the same: its device and inode tell whether it was walked.
    const bool recorded = reader.RecordedType(status.type);
    if (recorded && status.type != platform::FileType::kDirectory) return true;
    platform::FileStatus own;
    if (!recorded &&
        env_.PathStatus(path, /*follow_links=*/false, own) == platform::system_error::kNone &&
        own.type == platform::FileType::kSymbolicLink && !StaysInside(path)) {
      return false;
    }
    const platform::SystemError error = reader.Status(status);
    if (error == platform::system_error::kFileNotFound ||
        error == platform::system_error::kPathNotFound ||
        error == platform::system_error::kBadPathName) {
      return false;
    }
    // What cannot be checked is listed as a plain file, for its opening to tell what it is.
    if (error != platform::system_error::kNone) status = {.type = platform::FileType::kRegular};
    return true;
  }

  // Lists the folder `relative` ("" for the root, else ending in "/") and what lies beneath
  // it; false once the listing is to end.
  bool Walk(const std::string& relative, const Places& places, std::size_t depth) {
    const std::string folder =
        relative.empty() ? "." : "./" + relative.substr(0, relative.size() - 1);
    std::unique_ptr<platform::Directory> reader;
    if (const platform::SystemError error = env_.OpenDirectory(folder, reader)) {
      // A folder gone since its parent was read has nothing to list.
      if (error == platform::system_error::kPathNotFound && depth > 0) return true;
      problems_.push_back({.path = folder, .error_code = OpenErrorNumber(error)});
      root_unread_ = depth == 0;
      return !root_unread_;
    }
    if (request_.walked != nullptr) request_.walked->push_back(relative);
    std::vector<Entry> files;
    std::vector<Entry> folders;
    bool found = false;
    platform::SystemError failure;
    while ((failure = reader->Next(found)) == platform::system_error::kNone && found) {
      const std::string_view name = reader->name();
      if (name.front() == '.') continue;  // hidden, and "." and ".."
      Entry entry{.name = std::string(name), .places = Step(places, name)};
      const bool file_may_match = articles_.Matched(entry.places.articles);
      const bool folder_may_hold = articles_.Open(entry.places.articles);
      if (!file_may_match && !folder_may_hold) continue;
      const std::string path = "./" + relative + entry.name;
      if (!Check(*reader, path, entry.status)) continue;
      if (entry.status.type == platform::FileType::kRegular) {
        if (file_may_match && !Excluded(entry.places)) files.push_back(std::move(entry));
      } else if (entry.status.type == platform::FileType::kDirectory) {
        if (folder_may_hold && !AllExcluded(entry.places)) folders.push_back(std::move(entry));
      }
    }
    if (failure != platform::system_error::kNone) {
      problems_.push_back({.path = folder, .error_code = TransferErrorNumber(failure)});
    }
    reader.reset();  // before the sub-folders are walked: one folder open at a time

    const auto by_name = [](const Entry& a, const Entry& b) {
      return ListedBefore(a.name, b.name);
    };
    std::sort(files.begin(), files.end(), by_name);
    for (const Entry& file : files) {
      if (paths_.size() == request_.most_articles) {
        problems_.push_back(
            {.kind = TreeProblem::Kind::kTooMany, .path = "./" + relative + file.name});
        return false;
      }
      ListedPaths::Entries& entries = *paths_.entries_;
      entries.bytes.append("./").append(relative).append(file.name);
      entries.ends.push_back(entries.bytes.size());
    }
    std::sort(folders.begin(), folders.end(), by_name);
    for (const Entry& sub : folders) {
      if (!walked_.insert({sub.status.device, sub.status.inode}).second) continue;
      if (depth + 1 > request_.most_depth) {
        problems_.push_back(
            {.kind = TreeProblem::Kind::kTooDeep, .path = "./" + relative + sub.name});
        continue;
      }
      if (!Walk(relative + sub.name + "/", sub.places, depth + 1)) return false;
    }
    return true;
  }

  ListedPaths& paths_;
  const TreeListingRequest& request_;
  std::vector<TreeProblem>& problems_;
  platform::Env& env_;
  PathGlob articles_;
  std::vector<PathGlob> exclude_;
  std::string root_;  // the root's resolved path; empty when unknown
  bool root_unread_ = false;
  std::set<std::pair<uint64_t, uint64_t>> walked_;  // the folders walked: device and inode
};

bool ListTree(ListedPaths& paths, const TreeListingRequest& request,
              std::vector<TreeProblem>& problems, platform::Env& env) {
  return TreeWalk(paths, request, problems, env).Run();
}

std::string WalkedFolderPath(std::string_view walked) {
  return walked.empty() ? std::string(".") : Concat({"./", walked.substr(0, walked.size() - 1)});
}

}  // namespace kb
