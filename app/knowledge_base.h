#pragma once

// What makes a folder a knowledge base: the folder ZEB that holds its articles, and the two
// page templates beside it. Both front ends ask before they search: kbsearch-cli reports a
// knowledge base without a folder ZEB, and the window asks for a folder when started in one
// that is no knowledge base at all.

#include "platform/file_system.h"

namespace kb {

// Whether the working directory has nothing named ZEB (or only a link to nothing). Something
// of that name that is not a readable folder is the listing's to report.
bool ArticleFolderIsMissing(platform::Env& env);

// Whether the working directory looks like a knowledge base: it has a folder ZEB (a link to
// one counts), or both templates lheader.htm and lfooter.htm as files.
bool IsKnowledgeBase(platform::Env& env);

}  // namespace kb
