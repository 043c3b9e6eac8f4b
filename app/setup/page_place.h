#pragma once

// Where the results page of a knowledge base goes. A ZEB knowledge base writes it in its own
// folder, as it always did. A tree of articles (a documentation folder searched where it
// lies) often may not be written: its page goes where the user says (Page, --page), or, when
// the folder cannot be written, to a folder of the user's own, and then links to the
// articles by their absolute file:// URLs.

#include <optional>
#include <string>
#include <string_view>

#include "app/base/knowledge_base.h"
#include "platform/file_system.h"

namespace kb {

// The folder of the pages placed away from their knowledge bases: kbsearch/pages in
// $XDG_RUNTIME_DIR, else in the cache folder ($XDG_CACHE_HOME/kbsearch, ~/.cache/kbsearch).
// Empty when there is neither.
std::string PlacedPagesFolder();

// The name of the page of the knowledge base at `root` in PlacedPagesFolder: the root's path
// with every byte but A-Z a-z 0-9 - . and _ percent-encoded, and ".htm"; a path too long for
// one name keeps its end, after a hash of the whole.
std::string PlacedPageName(std::string_view root);

// Sets base.page and base.link_base. A knowledge base that lists the folder ZEB keeps its page
// whatever is asked. Another one takes `page` (an absolute path) when given; else, when the
// current folder (its root) may not be written, the page is PlacedPageName in
// PlacedPagesFolder, made private (mode 0700) if missing; when that folder cannot be made or
// is not the user's own, the page stays in the root, whose write then fails as any page's
// does. A page away from the root links to the articles by the root's file:// URL.
void PlaceResultsPage(KnowledgeBase& base, const std::optional<std::string>& page);

}  // namespace kb
