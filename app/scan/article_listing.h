#pragma once

// A scan's source of the listing of the articles, for a program that searches again and again
// and can prove the folders unchanged since it last listed them (the search server keeps the
// listing while a watch on them reports nothing): the scan asks it instead of listing the
// knowledge base itself.

#include <string>
#include <vector>

#include "app/base/failure.h"
#include "app/base/knowledge_base.h"
#include "files/directory_listing.h"
#include "platform/file_system.h"

namespace kb {

class ArticleListing {
 public:
  virtual ~ArticleListing() = default;

  // Fills `paths` exactly as ListArticles(env, base, paths, reporter) (app/scan/scan.h) would
  // now, or lists so itself, reporting what it reports; false when it would be. May be called
  // from several searches at once.
  virtual bool List(platform::Env& env, const KnowledgeBase& base, ListedPaths& paths,
                    FailureReporter& reporter) = 0;
};

}  // namespace kb
