#pragma once

// What makes a folder a knowledge base: the folder ZEB that holds its articles, the two page
// templates beside it and the results page written there; the names every part of the search
// shares. Both front ends ask before they search: kbsearch-cli reports a knowledge base
// without a folder ZEB, and the window asks for a folder when started in one that is no
// knowledge base at all.

#include <cstddef>
#include <string_view>

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

// Whether the working directory has nothing named ZEB (or only a link to nothing). Something
// of that name that is not a readable folder is the listing's to report.
bool ArticleFolderIsMissing(platform::Env& env);

// Whether the working directory looks like a knowledge base: it has a folder ZEB (a link to
// one counts), or both templates lheader.htm and lfooter.htm as files.
bool IsKnowledgeBase(platform::Env& env);
// The same of `folder`.
bool IsKnowledgeBaseFolder(platform::Env& env, std::string_view folder);

}  // namespace kb
