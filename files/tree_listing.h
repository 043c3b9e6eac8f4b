#pragma once

// The listing of a tree of articles: every file beneath the current folder whose relative path
// matches a pattern of path components ("**/*.html", "docs/*/*.htm") and none of the excluded
// ones, found by walking the folders through an Env.
//
// What it promises, so that a knowledge base another user made can never make a reader's
// search read the reader's own files or run away:
// - every listed path resolves inside the current folder: a symbolic link is followed only
//   when what it leads to lies beneath the folder (a link to anything else is left out);
// - hidden files and folders (a name starting with ".") are left out;
// - a folder is walked once, however many links lead to it (loops end);
// - the depth of the folders walked and the number of paths listed have limits, and meeting
//   one is told as a problem, never a crash.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "files/directory_listing.h"
#include "platform/file_system.h"

namespace kb {

// The most folders below the current one a path may go through.
inline constexpr std::size_t kMostTreeDepth = 64;
// The most paths a tree listing gives.
inline constexpr std::size_t kMostTreeArticles = 1'000'000;

// What is wrong with `pattern` as a pattern of relative paths, in a few words ("it starts
// with /"); empty when it is sound. A pattern is components joined by "/": "**" matches any
// number of folders (none included), and any other component matches one name, "*" and "?"
// as MatchesWildcard has them. It may not be empty, start with "/", end with "/", hold an
// empty component or a component "." or "..".
std::string TreePatternProblem(std::string_view pattern);

// Something the walk could not take in; the listing goes on past it.
struct TreeProblem {
  enum class Kind {
    kFolderUnread,  // a folder could not be read: `error_code`, as ListPaths would post it
    kTooDeep,       // a folder lies deeper than kMostTreeDepth: it and what it holds are left out
    kTooMany,       // kMostTreeArticles were listed: `path` and what follows it are left out
  };
  Kind kind = Kind::kFolderUnread;
  std::string path;  // as listed paths are written: "./" and the path from the current folder
  int32_t error_code = 0;
};

struct TreeListingRequest {
  std::string_view articles;                // a sound pattern (TreePatternProblem)
  std::vector<std::string> exclude = {};    // sound patterns: paths matching one are left out
  std::size_t most_depth = kMostTreeDepth;  // the limits, smaller in tests
  std::size_t most_articles = kMostTreeArticles;
  // When given, filled with every folder walked: "" for the current one, else its path from
  // it ending in "/", each after the folder above it.
  std::vector<std::string>* walked = nullptr;
};

// The path from the current folder of a folder as `walked` names it: "." or "./a/b".
std::string WalkedFolderPath(std::string_view walked);

// Fills `paths` (emptied first) with "./" and the relative path of every file beneath the
// current folder that matches request.articles and no pattern of request.exclude; names()
// give the relative paths. Within a folder its files come first, sorted as ListedBefore
// has it, then its sub-folders, each in that order with everything beneath it. A folder
// whose path matches an excluded pattern that ends in "**" is not walked at all.
//
// Regular files are listed, and what cannot be checked (as ListPaths, so that opening it
// tells); folders, devices, sockets and FIFOs are not. Symbolic links are followed as said
// above: a dangling one is left out. What the walk could not take in is added to `problems`.
// False, with nothing listed, only when the current folder itself cannot be read (a problem
// added for it) or memory runs out (error 8 posted).
bool ListTree(ListedPaths& paths, const TreeListingRequest& request,
              std::vector<TreeProblem>& problems, platform::Env& env = platform::Env::Default());

}  // namespace kb
