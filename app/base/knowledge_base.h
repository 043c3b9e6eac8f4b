#pragma once

// What makes a folder a knowledge base: the folder ZEB that holds its articles (or the
// articles its settings name), the two page templates beside it and the results page written
// there; the names every part of the search shares, and the value that carries them to the
// search, the index and the page. Both front ends ask before they search: kbsearch-cli reports
// a knowledge base without a folder ZEB, and the window asks for a folder when started in one
// that is no knowledge base at all.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "files/tree_listing.h"
#include "platform/file_system.h"
#include "support/text/utf8.h"

namespace kb {

// The longest phrase a user can search for, in characters (support/text/utf8.h,
// CountCharacters), and the most bytes it can take.
inline constexpr std::size_t kMaxSearchTextLength = 100;
inline constexpr std::size_t kMaxSearchTextBytes = kMaxSearchTextLength * kLongestUtf8Sequence;

// The folder of the articles and the start of every article's path.
inline constexpr std::string_view kArticleFolder = "./ZEB";
inline constexpr std::string_view kArticlePathPrefix = "./ZEB/";
inline constexpr std::string_view kArticlePattern = "ZEB/ZEB*.htm";
// The longest file name the file system has, and so the longest path of an article.
inline constexpr std::size_t kLongestFileName = 255;
inline constexpr std::size_t kLongestArticlePath = kArticlePathPrefix.size() + kLongestFileName;

// The two page templates that wrap every results page, and the page itself.
inline constexpr std::string_view kHeaderTemplateName = "lheader.htm";
inline constexpr std::string_view kFooterTemplateName = "lfooter.htm";
inline constexpr std::string_view kResultsPageName = "./ZebResult.htm";

// The longest path of an article of a tree (KnowledgeBase::articles other than
// kArticlePattern): the longest path the system opens.
inline constexpr std::size_t kLongestTreeArticlePath = 4095;

// One knowledge base as a search works on it. The search reads it in the process's current
// folder, which the front ends make its root before they search; paths of articles, templates
// and the page are relative to it ("./ZEB/ZEB1.htm").
struct KnowledgeBase {
  // The root folder, absolute: what is shown of it. Empty when not known.
  std::string root = {};
  // The articles: a pattern of relative paths (files/tree_listing.h), and paths left out.
  // With kArticlePattern and nothing excluded, the folder ZEB is listed as it always was
  // (files/directory_listing.h); any other pattern lists a tree.
  std::string articles = std::string(kArticlePattern);
  std::vector<std::string> exclude = {};
  // The page templates and the results page.
  std::string header_template = std::string(kHeaderTemplateName);
  std::string footer_template = std::string(kFooterTemplateName);
  std::string page = std::string(kResultsPageName);
  // What the page's links to the articles start with: empty for paths relative to a page in
  // the root; the root's file:// URL, ending in "/", for a page elsewhere (PlaceResultsPage,
  // app/setup/page_place.h).
  std::string link_base = {};
  // The limits of a tree's listing (files/tree_listing.h): the most folders below the root an
  // article may lie in, and the most articles listed.
  std::size_t most_depth = kMostTreeDepth;
  std::size_t most_articles = kMostTreeArticles;

  // Whether the articles are those of the folder ZEB, listed as ListPaths lists it.
  bool ListsArticleFolder() const { return articles == kArticlePattern && exclude.empty(); }
  // What every listed article's path starts with: kArticlePathPrefix, or "./" for a tree,
  // whose articles' names are then their paths from the root.
  std::string_view ArticlePathPrefix() const {
    return ListsArticleFolder() ? kArticlePathPrefix : std::string_view("./");
  }
  // The folder the listing reads first: kArticleFolder, or the root for a tree.
  std::string_view ArticleFolder() const {
    return ListsArticleFolder() ? kArticleFolder : std::string_view(".");
  }
  // The longest path an article may have.
  std::size_t LongestArticlePath() const {
    return ListsArticleFolder() ? kLongestArticlePath : kLongestTreeArticlePath;
  }
};

// Whether the working directory has nothing named ZEB (or only a link to nothing). Something
// of that name that is not a readable folder is the listing's to report.
bool ArticleFolderIsMissing(platform::Env& env);

// Whether the working directory looks like a knowledge base: it has a folder ZEB (a link to
// one counts), or both templates lheader.htm and lfooter.htm as files.
bool IsKnowledgeBase(platform::Env& env);
// The same of `folder`.
bool IsKnowledgeBaseFolder(platform::Env& env, std::string_view folder);

}  // namespace kb
