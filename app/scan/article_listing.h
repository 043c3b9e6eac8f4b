#pragma once

// A scan's source of the listing of the articles, for a program that searches again and again
// and can prove the folder unchanged since it last listed it (the search server keeps the
// listing while a watch on ZEB reports nothing): the scan asks it instead of listing the
// folder itself.

#include "files/directory_listing.h"
#include "platform/file_system.h"

namespace kb {

class ArticleListing {
 public:
  virtual ~ArticleListing() = default;

  // Fills `paths` exactly as ListPaths(paths, kArticlePattern, kArticlePathPrefix, 0, env)
  // would now, or lists so itself; false, with the error posted as ListPaths posts it, when
  // the folder cannot be listed. May be called from several searches at once.
  virtual bool List(platform::Env& env, ListedPaths& paths) = 0;
};

}  // namespace kb
