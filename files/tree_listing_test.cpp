#include "files/tree_listing.h"

#include <fnmatch.h>
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <random>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/testing/faulty_env.h"
#include "support/testing/scratch_directory.h"

namespace kb {
namespace {

namespace fs = std::filesystem;
using kb::testing::ScratchDirectory;

// Runs the test in `folder`, and back where it was.
class InFolder {
 public:
  explicit InFolder(const fs::path& folder) : previous_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~InFolder() { fs::current_path(previous_); }

 private:
  fs::path previous_;
};

std::vector<std::string> Split(const std::string& path) {
  std::vector<std::string> parts;
  std::size_t start = 0;
  for (std::size_t slash; (slash = path.find('/', start)) != std::string::npos; start = slash + 1) {
    parts.push_back(path.substr(start, slash - start));
  }
  parts.push_back(path.substr(start));
  return parts;
}

// The reference's glob: fnmatch for one name (ASCII letters folded), "**" for any number of
// names, tried every way by recursion.
bool NameMatches(const std::string& pattern, const std::string& name) {
  return fnmatch(pattern.c_str(), name.c_str(), FNM_CASEFOLD) == 0;
}
bool Matches(const std::vector<std::string>& pattern, std::size_t p,
             const std::vector<std::string>& path, std::size_t n, bool prefix) {
  if (n == path.size()) {
    if (prefix || p == pattern.size()) return (p < pattern.size()) == prefix;
    return pattern[p] == "**" && Matches(pattern, p + 1, path, n, prefix);
  }
  if (p == pattern.size()) return false;
  if (pattern[p] == "**") {
    return Matches(pattern, p + 1, path, n, prefix) ||
           (n < path.size() && Matches(pattern, p, path, n + 1, prefix));
  }
  return NameMatches(pattern[p], path[n]) && Matches(pattern, p + 1, path, n + 1, prefix);
}

bool ReferenceBefore(const std::string& a, const std::string& b) {
  for (std::size_t i = 0; i < std::min(a.size(), b.size()); ++i) {
    const int x = std::toupper(static_cast<unsigned char>(a[i]));
    const int y = std::toupper(static_cast<unsigned char>(b[i]));
    if (x != y) return x < y;
  }
  return a.size() != b.size() ? a.size() < b.size() : a < b;
}

struct Reference {
  std::vector<std::string> articles = {};
  std::vector<std::vector<std::string>> exclude = {};
  std::size_t most_depth = 0;
  fs::path root = {};
  std::set<std::pair<dev_t, ino_t>> walked = {};
  std::vector<std::string> listed = {};

  bool Excluded(const std::vector<std::string>& path, bool folder) const {
    return std::any_of(exclude.begin(), exclude.end(), [&](const auto& pattern) {
      return (!folder || pattern.back() == "**") && Matches(pattern, 0, path, 0, false);
    });
  }
  bool Inside(const fs::path& link) const {
    std::error_code error;
    const fs::path target = fs::canonical(link, error);
    if (error) return false;
    const auto [end, _] = std::mismatch(root.begin(), root.end(), target.begin(), target.end());
    return end == root.end() && target != root;
  }
  void Walk(const std::string& relative, std::size_t depth) {
    std::vector<std::string> files;
    std::vector<std::string> folders;
    for (const fs::directory_entry& entry : fs::directory_iterator(root / relative)) {
      const std::string name = entry.path().filename().string();
      if (name.front() == '.') continue;
      if (entry.is_symlink() && !Inside(entry.path())) continue;
      std::vector<std::string> path = Split(relative + name);
      if (entry.is_regular_file()) {
        if (Matches(articles, 0, path, 0, false) && !Excluded(path, false)) files.push_back(name);
      } else if (entry.is_directory()) {
        if (Matches(articles, 0, path, 0, true) && !Excluded(path, true)) folders.push_back(name);
      }
    }
    std::sort(files.begin(), files.end(), ReferenceBefore);
    for (const std::string& file : files) listed.push_back("./" + relative + file);
    std::sort(folders.begin(), folders.end(), ReferenceBefore);
    for (const std::string& folder : folders) {
      struct stat status;
      ASSERT_EQ(stat((root / relative / folder).c_str(), &status), 0);
      if (!walked.insert({status.st_dev, status.st_ino}).second) continue;
      if (depth + 1 > most_depth) continue;
      Walk(relative + folder + "/", depth + 1);
    }
  }
};

// A random tree: folders nested a few deep, names with spaces, bytes that are not UTF-8 and
// dots in front, links to files and folders inside and outside, links that loop or lead
// nowhere.
void MakeTree(const fs::path& root, const fs::path& outside, std::mt19937& random) {
  static const char* const kNames[] = {"a.html",     "B.HTML", "c d.html",   "\xff\xfe.html",
                                       ".hid.html",  "x.htm",  "index.html", "genindex.html",
                                       "e\xe9.html", "Z.html", "a.HTML",     "notes.txt"};
  static const char* const kFolders[] = {"sub",       "Sub2",     ".git", "d 1",
                                         "\xe9t\xe9", "_modules", "x"};
  std::vector<fs::path> folders{root};
  std::vector<fs::path> files;
  const auto pick = [&random](std::size_t count) { return random() % count; };
  for (std::size_t at = 0; at < folders.size() && folders.size() < 14; ++at) {
    const auto depth = std::distance(folders[at].begin(), folders[at].end()) -
                       std::distance(root.begin(), root.end());
    for (std::size_t count = pick(5); count > 0; --count) {
      const fs::path file = folders[at] / kNames[pick(std::size(kNames))];
      files.push_back(file);
      std::ofstream(file) << "x";
    }
    if (depth > 5) continue;
    for (std::size_t count = pick(4); count > 0; --count) {
      const fs::path folder = folders[at] / kFolders[pick(std::size(kFolders))];
      if (fs::create_directory(folder)) folders.push_back(folder);
    }
  }
  fs::create_directories(outside / "far");
  std::ofstream(outside / "o.html") << "x";
  std::ofstream(outside / "far" / "f.html") << "x";
  for (std::size_t count = pick(6); count > 0; --count) {
    const fs::path place = folders[pick(folders.size())] /
                           std::string("l").append(std::to_string(count)).append(".html");
    std::error_code ignored;
    switch (pick(6)) {
      case 0:
        fs::create_symlink(folders[pick(folders.size())], place, ignored);
        break;
      case 1:
        if (!files.empty()) fs::create_symlink(files[pick(files.size())], place, ignored);
        break;
      case 2:
        fs::create_symlink(outside / "far", place, ignored);
        break;
      case 3:
        fs::create_symlink(outside / "o.html", place, ignored);
        break;
      case 4:
        fs::create_symlink("..", place, ignored);
        break;
      case 5:
        fs::create_symlink("nowhere", place, ignored);
        break;
    }
  }
}

TEST(TreeListingTest, ListsWhatASimpleWalkFindsInRandomTrees) {
  static const char* const kPatterns[] = {"**/*.html",   "**/*.HTM*", "*.html", "sub/**/*.html",
                                          "**/sub/*",    "*/*.htm",   "**",     "d*/**/?.html",
                                          "**/l*.html/*"};
  static const char* const kExcluded[] = {"genindex.html", "**/index.html", "_modules/**",
                                          "**/*.htm", "sub/**"};
  std::mt19937 random(29);
  for (int round = 0; round < 100; ++round) {
    ScratchDirectory scratch;
    const fs::path root = scratch.path() / "kb";
    fs::create_directory(root);
    MakeTree(root, scratch.path() / "outside", random);
    TreeListingRequest request{.articles = kPatterns[random() % std::size(kPatterns)],
                               .most_depth = 1 + random() % 6};
    Reference reference{.articles = Split(std::string(request.articles)),
                        .most_depth = request.most_depth,
                        .root = fs::canonical(root)};
    for (const char* excluded : kExcluded) {
      if (random() % 3 == 0) {
        request.exclude.emplace_back(excluded);
        reference.exclude.push_back(Split(excluded));
      }
    }
    InFolder in_root(root);
    struct stat status;
    ASSERT_EQ(stat(".", &status), 0);
    reference.walked.insert({status.st_dev, status.st_ino});
    reference.Walk("", 0);

    ListedPaths paths;
    std::vector<TreeProblem> problems;
    ASSERT_TRUE(ListTree(paths, request, problems));
    std::vector<std::string> listed;
    for (std::size_t at = 0; at < paths.size(); ++at) {
      listed.emplace_back(paths[at]);
      EXPECT_EQ(paths.name(at), paths[at].substr(2));
    }
    EXPECT_EQ(listed, reference.listed) << "round " << round << ", " << request.articles;
    for (const TreeProblem& problem : problems) {
      EXPECT_EQ(problem.kind, TreeProblem::Kind::kTooDeep) << problem.path;
    }
  }
}

TEST(TreeListingTest, RefusesPatternsThatLeaveTheFolder) {
  EXPECT_EQ(TreePatternProblem("**/*.html"), "");
  EXPECT_EQ(TreePatternProblem("ZEB/ZEB*.htm"), "");
  EXPECT_EQ(TreePatternProblem("/etc/*"), "it starts with /");
  EXPECT_EQ(TreePatternProblem("docs/../../*"), "it holds the folder ..");
  EXPECT_EQ(TreePatternProblem("a//b"), "it holds //");
  EXPECT_EQ(TreePatternProblem(""), "it is empty");
  EXPECT_EQ(TreePatternProblem("docs/"), "it ends with /");
}

TEST(TreeListingTest, StopsAtTheMostArticlesAndGoesOnPastAnUnreadableFolder) {
  ScratchDirectory scratch;
  for (const char* folder : {"a", "b", "c"}) {
    fs::create_directory(scratch.path() / folder);
    for (const char* name : {"1.html", "2.html"}) std::ofstream(scratch.path() / folder / name);
  }
  InFolder in_root(scratch.path());
  ListedPaths paths;
  std::vector<TreeProblem> problems;
  ASSERT_TRUE(ListTree(paths, {.articles = "**/*.html", .most_articles = 3}, problems));
  ASSERT_EQ(paths.size(), 3u);
  EXPECT_EQ(paths[2], "./b/1.html");
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].kind, TreeProblem::Kind::kTooMany);
  EXPECT_EQ(problems[0].path, "./b/2.html");

  platform::testing::FaultyEnv env;
  env.FailNth(platform::Operation::kOpenDirectory, 1, EACCES, "./b");
  problems.clear();
  ASSERT_TRUE(ListTree(paths, {.articles = "**/*.html"}, problems, env));
  EXPECT_EQ(paths.size(), 4u);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].path, "./b");
  EXPECT_EQ(problems[0].error_code, 5);

  env.FailNth(platform::Operation::kOpenDirectory, 1, EACCES, ".");
  problems.clear();
  EXPECT_FALSE(ListTree(paths, {.articles = "**/*.html"}, problems, env));
  EXPECT_EQ(paths.size(), 0u);
  ASSERT_EQ(problems.size(), 1u);
  EXPECT_EQ(problems[0].path, ".");
}

}  // namespace
}  // namespace kb
