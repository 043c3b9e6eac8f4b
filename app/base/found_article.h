#pragma once

// A found article as the search hands it to its printers: a plain value.

#include <any>
#include <string>

namespace kb {

struct FoundArticle {
  std::string path = {};  // as the article was opened, whole ("./ZEB/ZEB1.htm")
  std::string excerpt =
      {};  // the bytes after the marker, at most kExcerptLength, trailing blanks off
  // What ScanRequest::inspect_match collected for the article; empty without one.
  std::any collected = {};
};

}  // namespace kb
