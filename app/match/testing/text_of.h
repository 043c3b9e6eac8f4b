#pragma once

// The text a reader sees of a whole page, read in one piece: the reference that the tests of
// what reads pages in pieces compare with.

#include <string>
#include <string_view>

#include "app/match/html_text.h"

namespace kb::testing {

inline std::string TextOf(std::string_view html) {
  HtmlText reader;
  std::string text(reader.Extract(html));
  return text.append(reader.Finish());
}

}  // namespace kb::testing
